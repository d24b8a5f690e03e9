// Known answers: the documented edge cases of the driver, the phases and the forbidden pairs.
#include <gtest/gtest.h>

#include <string>

#include "pairsolve.h"
#include "test_support.h"

using testing_support::inf;
using testing_support::Matrix;
using testing_support::NaN;

namespace {

struct KnownAnswer {
    const char* what;
    Matrix matrix;
    std::vector<double> assignment;
    double cost;
};

void expectAnswer(const KnownAnswer& known) {
    SCOPED_TRACE(known.what);
    const pairsolve::Result result = pairsolve::solve(known.matrix.data, known.matrix.rows, known.matrix.cols);
    EXPECT_EQ(result.assignment, known.assignment);
    EXPECT_EQ(result.cost, known.cost);
}

}  // namespace

TEST(KnownAnswers, DriverCases) {
    const KnownAnswer cases[] = {
        {"first example", Matrix(3, 3, {4, 1, 3, 2, 0, 5, 3, 2, 2}), {2, 1, 3}, 5},
        {"-inf is a forbidden pair", Matrix(2, 2, {-inf, 1, 2, 3}), {2, 1}, 3},
        {"forbidden pairs avoided", Matrix(2, 2, {1, inf, inf, 2}), {1, 2}, 3},
        {"row reachable only through inf dropped", Matrix(2, 2, {1, inf, inf, inf}), {1, 0}, 1},
        {"column of inf", Matrix(2, 2, {inf, 1, inf, 2}), {2, 0}, 1},
        {"no finite element", Matrix(2, 2, {inf, -inf, inf, inf}), {0, 0}, 0},
        {"NaN only", Matrix(2, 3, {NaN, NaN, NaN, NaN, NaN, NaN}), {0, 0}, 0},
        {"more rows than columns", Matrix(3, 2, {5, 1, 1, 2, 0, 0}), {0, 1, 2}, 1},
        {"NaN not first in its row", Matrix(1, 2, {1, NaN}), {1}, 1},
        {"NaN beside zeros", Matrix(2, 2, {0, NaN, 1, 0}), {1, 2}, 0},
        {"0 x 3", Matrix(0, 3), {}, 0},
        {"3 x 0", Matrix(3, 0), {0, 0, 0}, 0},
        {"0 x 0", Matrix(0, 0), {}, 0},
        {"negative zero is a zero", Matrix(2, 2, {-0.0, 1, 1, -0.0}), {1, 2}, 0},
    };
    for (const KnownAnswer& known : cases) expectAnswer(known);
}

TEST(KnownAnswers, PhaseCases) {
    const KnownAnswer cases[] = {
        {"sweep goes on past an uncovered column", Matrix(2, 3, {2, 1, 0, 3, 1, 0}), {2, 3}, 1},
        {"one shift", Matrix(3, 3, {2, 2, 1, 1, 1, 0, 0, 2, 2}), {2, 3, 1}, 2},
        {"which optimum", Matrix(3, 3, {0, 1, 1, 1, 1, 2, 1, 0, 1}), {3, 1, 2}, 2},
        {"path through two stars", Matrix(3, 3, {1, 0, 1, 2, 3, 0, 2, 1, 2}), {1, 3, 2}, 2},
        {"all zeros", Matrix(2, 2, {0, 0, 0, 0}), {1, 2}, 0},
        {"all ones", Matrix(3, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1}), {1, 2, 3}, 3},
        {"one row, first of tied minima", Matrix(1, 4, {3, 1, 1, 2}), {2}, 1},
        {"one column", Matrix(4, 1, {3, 1, 1, 2}), {0, 1, 0, 0}, 1},
        {"wide", Matrix(2, 3, {5, 1, 9, 1, 2, 3}), {2, 1}, 2},
        {"tall", Matrix(3, 2, {5, 1, 1, 2, 0, 0}), {0, 1, 2}, 1},
    };
    for (const KnownAnswer& known : cases) expectAnswer(known);
}
