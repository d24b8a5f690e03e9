// The element-by-element search's deferred shifts where they meet an error, and the allocations
// of a call (one bookkeeping block, nothing inside the phases). Its results on every other kind
// of matrix are compared in search_comparison_test.cpp.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "assignment_solver.h"
#include "random_matrices.h"
#include "reference_model.h"
#include "solve_outcome.h"
#include "standin_host.h"

using namespace pairsolve;

using random_matrices::Kind;
using random_matrices::Matrix;
using random_matrices::Source;
using solve_outcome::fromColumns;
using solve_outcome::Outcome;
using solve_outcome::same;
using solve_outcome::solveWith;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// (r + 1) (c + 1) times factor: a rank-one matrix, on which nearly every search needs about as
// many shifts as there are rows still to match.
Matrix product(std::int32_t rows, std::int32_t cols, double factor) {
    std::vector<double> data(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
    for (std::int32_t c = 0; c < cols; ++c)
        for (std::int32_t r = 0; r < rows; ++r)
            data[static_cast<std::size_t>(r) + static_cast<std::size_t>(rows) * c] =
                static_cast<double>(r + 1) * static_cast<double>(c + 1) * factor;
    return fromColumns(rows, cols, std::move(data));
}

}  // namespace

// A shift adds a large h to a covered row and overflows an element to +inf while the column is
// not up to date; later the search stalls on NaN. The stall is reported as an overflow only if
// every deferred shift has been made before the matrix is searched for infinite elements.
TEST(FastPhases, OverflowInsideADeferredShiftIsReported) {
    const double a = 1e308, b = 1.5e308, d = 1.7e308;
    const Matrix matrices[] = {
        fromColumns(3, 4, {NaN, d, 0, 0, NaN, a, 2, d, 1, 2, 0, 1}),
        fromColumns(3, 4, {2, d, NaN, a, NaN, 1, 1, d, d, NaN, 1, b}),
        fromColumns(3, 5, {NaN, 2, 0, NaN, 1, d, d, b, NaN, 0, 0, d, 1, 2, d}),
        fromColumns(3, 5, {NaN, 1, 1, NaN, d, 1, b, a, 0, 1, NaN, a, 1, NaN, 2}),
    };
    for (const Matrix& m : matrices) {
        const Outcome solver = solveWith(solverTesting::solveElementByElement, m);
        EXPECT_EQ(solver.identifier, "pairsolve:costOverflow");
        EXPECT_TRUE(same(solver, solveWith(reference::solveAssignment, m)));
    }
    EXPECT_EQ(standin::liveAllocations(), 0u);
}

// The plain search takes one block (its working copy, taken in the check's pass, its covers and
// its bookkeeping); the element-by-element search forced two (the covers apart); the offset search
// three (the line minima, the covers, and its bookkeeping once chosen). The phases take nothing,
// however long the search, but a larger history when a certified offset search's fills, and an
// offset search that gives up takes only the working copy. A call that finds no finite element
// stops after the first buffer.
TEST(FastPhases, OneBookkeepingBlockAndNoAllocationInThePhases) {
    Source source(9);
    const Matrix matrices[] = {
        product(2, 2, 1.0),
        product(90, 90, 0.37),  // thousands of shifts
        random_matrices::generate(source, Kind::uniform, 3, 200),
        random_matrices::generate(source, Kind::uniform, 200, 3),
    };
    using solverTesting::SearchChoice;
    for (const SearchChoice choice : {SearchChoice::chosen, SearchChoice::offset,
                                      SearchChoice::elementByElement, SearchChoice::plain}) {
        for (const Matrix& m : matrices) {
            const std::uint64_t before = standin::allocationsMade();
            solverTesting::SearchReport report;
            const Outcome solver = solveWith(
                [choice, &report](double* a, double* c, const double* x, std::int32_t r,
                                  std::int32_t n) { solverTesting::solve(choice, a, c, x, r, n, &report); },
                m);
            EXPECT_EQ(solver.error, "");
            EXPECT_EQ(standin::allocationsMade() - before,
                      (report.offsetRan ? 3u : report.plainRan ? 1u : 2u) +
                          (report.restarted ? 1u : 0u) + report.historyGrowths)
                << m.rows << " x " << m.cols;
        }
    }
    const double inf = std::numeric_limits<double>::infinity();
    for (const Matrix& m : {fromColumns(2, 2, {inf, NaN, -inf, inf}),
                            fromColumns(70, 70, std::vector<double>(4900, inf))}) {
        const std::uint64_t before = standin::allocationsMade();
        solveWith(solveAssignment, m);
        EXPECT_EQ(standin::allocationsMade() - before, 1u) << m.rows << " x " << m.cols;
    }
    EXPECT_EQ(standin::liveAllocations(), 0u);
}
