// The exact search (integer matrices) against the element-by-element search and the reference
// model, bit for bit, and the rule that picks it.
//
// Every comparison solves one matrix three ways: solveAssignment as callers get it, the solver
// with the exact search held off (solverTesting::solveWithoutExactSearch), and the reference
// model. All three must give the same assignment and cost to the bit, or the same error.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
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

bool exactSearchApplies(const double* w, std::size_t n, std::int32_t r, std::int32_t c) {
    return searchFor(w, n, r, c, solverTesting::SearchChoice::chosen) == Search::offsetExact;
}

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// The matrix the search is handed, as the caller's matrix becomes it: infinite elements replaced
// by forbiddenValue, (10 * largest finite) * elementCount, or 10 when that is not positive.
std::vector<double> workingMatrix(const Matrix& m) {
    double largest = -1.0;
    for (double v : m.data)
        if (std::isfinite(v) && largest < v) largest = v;
    const double forbidden =
        largest > 0 ? (10.0 * largest) * static_cast<double>(m.data.size()) : 10.0;
    std::vector<double> work = m.data;
    for (double& v : work)
        if (std::isinf(v)) v = forbidden;
    return work;
}

bool runsExact(const Matrix& m) {
    const std::vector<double> work = workingMatrix(m);
    return exactSearchApplies(work.data(), work.size(), m.rows, m.cols);
}

std::string describe(const Matrix& m) {
    std::string text = std::to_string(m.rows) + " x " + std::to_string(m.cols) + ", column-major:";
    char number[32];
    for (double v : m.data) {
        std::snprintf(number, sizeof number, " %.17g", v);
        text += number;
    }
    return text;
}

struct Tally {
    int compared = 0;
    int exact = 0;  // of them, matrices the exact search runs on
    int failed = 0;
    int mismatches = 0;
};

void compareThreeWays(const Matrix& m, Tally& tally, const std::string& label) {
    const Outcome exact = solveWith(solveAssignment, m);
    const Outcome element = solveWith(solverTesting::solveWithoutExactSearch, m);
    const Outcome model = solveWith(reference::solveAssignment, m);
    ++tally.compared;
    tally.exact += runsExact(m) ? 1 : 0;
    tally.failed += exact.error.empty() ? 0 : 1;
    if (same(exact, element) && same(exact, model)) return;
    if (++tally.mismatches <= 3)
        ADD_FAILURE() << label << ": " << describe(m) << "\nsolveAssignment cost " << exact.cost
                      << " [" << exact.error << "], element-by-element cost " << element.cost
                      << " [" << element.error << "], reference model cost " << model.cost << " ["
                      << model.error << "]";
}

}  // namespace

// Thousands of small integer matrices, where ties are dense and most roads of the machine are
// taken: every integer kind, forbidden pairs at several densities, signed zeros, empty and thin
// shapes, wide and tall.
TEST(ExactSearch, SmallIntegerMatricesMatchTheOtherSearchAndTheModel) {
    const Kind kinds[] = {Kind::ties0to3, Kind::ties0to10, Kind::ties0to100, Kind::ties0to1e6,
                          Kind::forbidden, Kind::signedZeros};
    Tally tally;
    for (std::uint64_t seed = 1; seed <= 1500; ++seed) {
        Source source(seed);
        for (Kind kind : kinds) {
            const std::int32_t maxSide = source.chance(0.8) ? 10 : 40;
            const random_matrices::Shape shape = random_matrices::randomShape(source, maxSide);
            Matrix m = random_matrices::generate(source, kind, shape.rows, shape.cols);
            if (source.chance(0.25)) random_matrices::sprinkleForbidden(source, m, 0.15);
            compareThreeWays(m, tally,
                             "seed " + std::to_string(seed) + ", " + random_matrices::kindName(kind));
        }
    }
    EXPECT_EQ(0, tally.mismatches);
    // Forbidden pairs in the larger matrices of 0..1e6 push forbiddenValue past the bound; the
    // rest must all have gone through the exact search, or this test proves little about it.
    EXPECT_GT(tally.exact, tally.compared * 9 / 10) << tally.exact << " of " << tally.compared;
}

// Larger matrices, up to 200 on a side and both ways rectangular, where searches are long: many
// shifts in 0..1e6, many zeros and few shifts in 0..3.
TEST(ExactSearch, LargerIntegerMatricesMatchTheOtherSearchAndTheModel) {
    struct Case {
        Kind kind;
        std::int32_t rows, cols;
        double forbidden;  // density of forbidden pairs
    };
    const Case cases[] = {
        {Kind::ties0to3, 200, 200, 0},     {Kind::ties0to100, 200, 200, 0},
        {Kind::ties0to1e6, 200, 200, 0},   {Kind::ties0to1e6, 120, 200, 0},
        {Kind::ties0to1e6, 200, 120, 0},   {Kind::ties0to100, 90, 170, 0},
        {Kind::ties0to100, 170, 90, 0},    {Kind::ties0to3, 60, 150, 0},
        {Kind::ties0to3, 150, 60, 0},      {Kind::ties0to10, 130, 130, 0.05},
        {Kind::ties0to100, 100, 100, 0.3}, {Kind::ties0to1e6, 80, 80, 0.02},
        {Kind::forbidden, 150, 150, 0},    {Kind::signedZeros, 140, 110, 0},
    };
    Tally tally;
    Source source(4242);
    for (const Case& c : cases) {
        Matrix m = random_matrices::generate(source, c.kind, c.rows, c.cols);
        if (c.forbidden > 0) random_matrices::sprinkleForbidden(source, m, c.forbidden);
        compareThreeWays(m, tally,
                         std::string(random_matrices::kindName(c.kind)) + " " +
                             std::to_string(c.rows) + " x " + std::to_string(c.cols));
    }
    EXPECT_EQ(0, tally.mismatches);
    EXPECT_EQ(tally.compared, tally.exact);
}

// Integer matrices on which nearly every search needs about as many shifts as rows are left to
// match, so that column floors, stale minima and zero flags are used and dropped again and again:
// products (r + 1)(c + 1), the same with small noise, and |r - c| with a band of zeros around the
// diagonal.
TEST(ExactSearch, LongSearchesMatchTheOtherSearchAndTheModel) {
    struct Shape {
        std::int32_t rows, cols;
    };
    const Shape shapes[] = {{17, 17}, {40, 40}, {33, 70}, {70, 33}, {101, 101}};
    Tally tally;
    Source source(99);
    for (const Shape& s : shapes) {
        Matrix product, noisy, band;
        for (Matrix* m : {&product, &noisy, &band}) {
            m->rows = s.rows;
            m->cols = s.cols;
        }
        for (std::int32_t c = 0; c < s.cols; ++c) {
            for (std::int32_t r = 0; r < s.rows; ++r) {
                const double p = static_cast<double>((r + 1) * (c + 1));
                product.data.push_back(p);
                noisy.data.push_back(p * 8 + static_cast<double>(source.below(8)));
                const std::int32_t distance = r > c ? r - c : c - r;
                band.data.push_back(distance > 6 ? static_cast<double>(distance) : 0.0);
            }
        }
        compareThreeWays(product, tally, "product");
        compareThreeWays(noisy, tally, "noisy product");
        compareThreeWays(band, tally, "band");
    }
    EXPECT_EQ(0, tally.mismatches);
    EXPECT_EQ(tally.compared, tally.exact);
}

// Which search runs for which input. The rule is on the working matrix: finite, non-negative
// integers whose largest W keeps W * 2(M + N + 1) below 2^53. In a 2 x 3 matrix that factor is 12.
TEST(ExactSearch, TheRuleThatChoosesIt) {
    const double limit = static_cast<double>(((std::uint64_t{1} << 53) - 1) / 12);  // 750599937895082
    ASSERT_LT(limit * 12, 0x1p53);
    ASSERT_GE((limit + 1) * 12, 0x1p53);
    const auto applies = [](std::vector<double> work) {
        return exactSearchApplies(work.data(), work.size(), 2, 3);
    };
    EXPECT_TRUE(applies({0, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(applies({-0.0, 1, 0, 0, 7, 9}));  // -0.0 is the integer 0
    EXPECT_TRUE(applies({limit, 0, 1, limit, limit - 1, 3}));
    EXPECT_FALSE(applies({limit + 1, 0, 1, 2, 3, 4}));
    EXPECT_FALSE(applies({0.5, 0, 1, 2, 3, 4}));
    EXPECT_FALSE(applies({1, 2, 3, 4, 5, 1e-300}));
    EXPECT_FALSE(applies({1, 2, 3, 4, 5, 0x1p53 + 2}));  // an integer, but far too large
    // NaN and +inf would let a search run forever; the exact search never sees them, so it never
    // meets the endless search the other one reports as an error.
    EXPECT_FALSE(applies({1, 2, 3, NaN, 5, 6}));
    EXPECT_FALSE(applies({1, 2, 3, inf, 5, 6}));
    EXPECT_FALSE(applies({1, 2, 3, -1, 5, 6}));
    EXPECT_TRUE(exactSearchApplies(nullptr, 0, 0, 4));  // nothing to search

    // The bound shrinks as the sides grow: W = 2^41 passes in 2 x 2 (factor 10) and fails in
    // 2000 x 2000 (factor 8002 > 2^12).
    const double w = 0x1p41;
    EXPECT_TRUE(exactSearchApplies(&w, 1, 2, 2));
    EXPECT_FALSE(exactSearchApplies(&w, 1, 2000, 2000));

    // Forbidden pairs count with forbiddenValue, not with the infinity the caller wrote: here the
    // finite elements are small and forbiddenValue is (10 * 3e13) * 4 = 1.2e15, over the 2 x 2
    // limit of (2^53 - 1) / 10; with 2e13 it is 8e14, under it.
    EXPECT_TRUE(runsExact(fromColumns(2, 2, {1, inf, -inf, 2})));
    EXPECT_TRUE(runsExact(fromColumns(2, 2, {2e13, inf, inf, 1})));
    EXPECT_FALSE(runsExact(fromColumns(2, 2, {3e13, inf, inf, 1})));
    EXPECT_FALSE(runsExact(fromColumns(2, 2, {1e308, inf, inf, 1})));  // forbiddenValue is +inf
    EXPECT_FALSE(runsExact(fromColumns(2, 2, {1, NaN, 0, 2})));

    // Random matrices of every kind: the integer kinds run exact, the others do not.
    for (Kind kind : random_matrices::allKinds) {
        Source source(7);
        int exact = 0;
        for (int i = 0; i < 20; ++i)
            exact += runsExact(random_matrices::generate(source, kind, 6, 7)) ? 1 : 0;
        const bool integers = kind == Kind::ties0to3 || kind == Kind::ties0to10 ||
                              kind == Kind::ties0to100 || kind == Kind::ties0to1e6 ||
                              kind == Kind::signedZeros || kind == Kind::forbidden;
        if (integers)
            EXPECT_EQ(20, exact) << random_matrices::kindName(kind);
        else if (kind != Kind::negative)  // refused before any search, unless it holds no negative
            EXPECT_EQ(0, exact) << random_matrices::kindName(kind);
    }
}

// Just inside the bound the exact search runs on values near 2^49, just outside the other one
// does; both must give what the reference model gives, here and with forbidden pairs whose
// forbiddenValue lands on either side.
TEST(ExactSearch, MatricesAtTheBoundSolveAlike) {
    const double limit = static_cast<double>(((std::uint64_t{1} << 53) - 1) / 12);
    const double ten = static_cast<double>(((std::uint64_t{1} << 53) - 1) / 10);  // 2 x 2
    // forbiddenValue = (10 * f) * 4 for the largest finite f: on or just over the 2 x 2 limit.
    const double fInside = std::floor(ten / 40), fOutside = fInside + 1;
    const struct {
        Matrix m;
        bool exact;
    } cases[] = {
        {fromColumns(2, 3, {limit, limit - 1, limit - 3, 0, 1, limit}), true},
        {fromColumns(2, 3, {limit + 1, limit - 1, limit - 3, 0, 1, limit}), false},
        {fromColumns(3, 2, {limit, 5, limit - 7, limit - 2, 0, limit}), true},
        {fromColumns(3, 2, {limit, 5, limit - 7, limit - 2, 0, limit + 1}), false},
        {fromColumns(2, 2, {fInside, inf, fInside - 1, 3}), true},
        {fromColumns(2, 2, {fOutside, inf, fOutside - 1, 3}), false},
        {fromColumns(2, 2, {fInside, inf, inf, 3}), true},
        {fromColumns(2, 2, {fOutside, inf, inf, 3}), false},
    };
    Tally tally;
    for (const auto& c : cases) {
        EXPECT_EQ(c.exact, runsExact(c.m)) << describe(c.m);
        compareThreeWays(c.m, tally, "at the bound");
    }
    EXPECT_EQ(0, tally.mismatches);
    EXPECT_EQ(0, tally.failed);
}
