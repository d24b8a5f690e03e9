// The solver's shortcuts against the reference model, on matrices picked to strain them: searches
// that run nearly rowCount shifts between augmentations (every shift deferred and replayed later),
// values whose rounding in a replayed shift decides the result, an overflow that happens inside a
// deferred shift, and the allocations (one bookkeeping block, nothing inside the phases).
#include <gtest/gtest.h>

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

// r + c plus noise below 1e-3: long searches with rounded shifts.
Matrix sumWithNoise(Source& source, std::int32_t rows, std::int32_t cols) {
    std::vector<double> data(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
    for (std::int32_t c = 0; c < cols; ++c)
        for (std::int32_t r = 0; r < rows; ++r)
            data[static_cast<std::size_t>(r) + static_cast<std::size_t>(rows) * c] =
                static_cast<double>(r + c) + source.unit() * 1e-3;
    return fromColumns(rows, cols, std::move(data));
}

void expectSameAsReference(const Matrix& m, const std::string& what) {
    const Outcome solver = solveWith(solveAssignment, m);
    const Outcome model = solveWith(reference::solveAssignment, m);
    EXPECT_TRUE(same(solver, model)) << what << ", " << m.rows << " x " << m.cols
                                     << ": solver cost " << solver.cost << " [" << solver.error
                                     << "], reference cost " << model.cost << " [" << model.error
                                     << "]";
}

struct Shape {
    std::int32_t rows, cols;
};

}  // namespace

// Square and rectangular shapes, row counts on both sides of the 16-row blocks of the column
// kernels, with exact (integer) and rounded values.
TEST(FastPhases, LongSearchesMatchTheReferenceModel) {
    const Shape shapes[] = {{16, 16}, {37, 37}, {64, 80}, {80, 64}, {90, 90}, {23, 120}, {120, 23}};
    Source source(77);
    for (const Shape& s : shapes) {
        expectSameAsReference(product(s.rows, s.cols, 1.0), "integer product");
        expectSameAsReference(product(s.rows, s.cols, 0.37), "rounded product");
        // Subnormal and near-subnormal values: differences must stay exact down there.
        expectSameAsReference(product(s.rows, s.cols, 1e-310), "subnormal product");
        expectSameAsReference(sumWithNoise(source, s.rows, s.cols), "sum with noise");
    }
}

// The kinds where the order of rounded operations, signed zeros, forbidden pairs and NaN meet the
// replayed shifts and the kept column minima, at sizes between the tests of small matrices and
// the benchmarks.
TEST(FastPhases, RoundingAndSpecialValuesMatchTheReferenceModel) {
    const Kind kinds[] = {Kind::uniform,     Kind::mixedMagnitudes, Kind::subnormals,
                          Kind::signedZeros, Kind::forbidden,       Kind::withNaN,
                          Kind::ties0to3,    Kind::ties0to1e6};
    for (std::uint64_t seed = 300; seed < 306; ++seed) {
        Source source(seed);
        for (Kind kind : kinds) {
            const auto rows = static_cast<std::int32_t>(source.between(17, 90));
            const auto cols = static_cast<std::int32_t>(source.between(17, 90));
            Matrix m = random_matrices::generate(source, kind, rows, cols);
            if (source.chance(0.3)) random_matrices::sprinkleForbidden(source, m, 0.05);
            expectSameAsReference(m, std::string("seed ") + std::to_string(seed) + ", " +
                                         random_matrices::kindName(kind));
        }
    }
}

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
        const Outcome solver = solveWith(solveAssignment, m);
        EXPECT_EQ(solver.identifier, "pairsolve:costOverflow");
        EXPECT_TRUE(same(solver, solveWith(reference::solveAssignment, m)));
    }
    EXPECT_EQ(standin::liveAllocations(), 0u);
}

// The driver takes its six buffers and one block of bookkeeping; the phases take nothing, however
// long the search. A call that finds no finite element stops after the working copy.
TEST(FastPhases, OneBookkeepingBlockAndNoAllocationInThePhases) {
    Source source(9);
    const Matrix matrices[] = {
        product(2, 2, 1.0),
        product(90, 90, 0.37),  // thousands of shifts
        random_matrices::generate(source, Kind::uniform, 3, 200),
        random_matrices::generate(source, Kind::uniform, 200, 3),
    };
    for (const Matrix& m : matrices) {
        const std::uint64_t before = standin::allocationsMade();
        const Outcome solver = solveWith(solveAssignment, m);
        EXPECT_EQ(solver.error, "");
        EXPECT_EQ(standin::allocationsMade() - before, 7u) << m.rows << " x " << m.cols;
    }
    const std::uint64_t before = standin::allocationsMade();
    const double inf = std::numeric_limits<double>::infinity();
    solveWith(solveAssignment, fromColumns(2, 2, {inf, NaN, -inf, inf}));
    EXPECT_EQ(standin::allocationsMade() - before, 1u);
    EXPECT_EQ(standin::liveAllocations(), 0u);
}
