// The solver against the reference model, bit for bit, on thousands of seeded random matrices.
//
// For every matrix both must give the same assignment and cost (compared as bytes, so -0.0 and
// 0.0 differ), or end with the same error identifier and message; both must leave the caller's
// matrix untouched, give back every buffer they took by themselves, and leave nothing live.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "assignment_solver.h"
#include "pairsolve.h"
#include "random_matrices.h"
#include "reference_model.h"
#include "standin_host.h"

using namespace pairsolve;

using random_matrices::Kind;
using random_matrices::Matrix;
using random_matrices::Source;

namespace {

using Entry = std::function<void(double*, double*, const double*, std::int32_t, std::int32_t)>;

// Written into the outputs before a call, so that an output one side leaves alone shows.
constexpr double untouched = 7.25;

struct Outcome {
    std::vector<double> assignment;
    double cost = untouched;
    bool failed = false;
    std::string identifier;
    std::string message;
    std::size_t heldAtReturn = 0;  // buffers the call still held when it returned normally
};

// Byte comparison: tells -0.0 from 0.0, and a NaN equals itself.
bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Runs one entry on a copy of m inside a call scope of its own, as the host would.
Outcome runInCall(const Entry& entry, const Matrix& m, std::size_t assignmentRows) {
    Outcome out;
    out.assignment.assign(assignmentRows, untouched);
    std::vector<double> input = m.data;
    {
        standin::CallScope call;
        try {
            entry(out.assignment.data(), &out.cost, input.data(), m.rows, m.cols);
            out.heldAtReturn = call.held();
        } catch (const pairsolve::Error& error) {
            out.failed = true;
            out.identifier = error.identifier();
            out.message = error.what();
        }
    }
    EXPECT_TRUE(sameBits(input, m.data)) << "the caller's matrix was written";
    EXPECT_EQ(0u, standin::liveAllocations()) << "buffers left live after the call";
    return out;
}

bool sameOutcome(const Outcome& a, const Outcome& b) {
    return sameBits(a.assignment, b.assignment) && sameBits(a.cost, b.cost) && a.failed == b.failed &&
           a.identifier == b.identifier && a.message == b.message;
}

std::string describe(const Matrix& m) {
    std::string text = std::to_string(m.rows) + " x " + std::to_string(m.cols) + ", row by row:\n";
    char number[40];
    for (std::int32_t r = 0; r < m.rows; ++r) {
        for (std::int32_t c = 0; c < m.cols; ++c) {
            std::snprintf(number, sizeof number, "%s%.17g", c ? " " : "",
                          m.data[static_cast<std::size_t>(r) + static_cast<std::size_t>(m.rows) * c]);
            text += number;
        }
        text += ";\n";
    }
    return text;
}

std::string describe(const Outcome& o) {
    if (o.failed) return "error [" + o.identifier + "] " + o.message;
    std::string text = "assignment [";
    char number[40];
    for (std::size_t i = 0; i < o.assignment.size(); ++i) {
        std::snprintf(number, sizeof number, "%s%.17g", i ? " " : "", o.assignment[i]);
        text += number;
    }
    std::snprintf(number, sizeof number, "], cost %.17g", o.cost);
    return text + number;
}

// Tallies what the comparisons went through, so a test can tell whether its matrices reached
// every road they are meant to: plain results, forbidden pairs dropped, and each error.
struct Tally {
    std::map<std::string, int> outcomes;
    int mismatches = 0;
};

// Solves m with the public entry pairsolve::solve, with the solver in a call scope of our own
// (which lets us see whether it released its buffers itself) and with the reference model;
// all three must agree bit for bit.
void compare(const Matrix& m, Tally& tally, const std::string& label) {
    const std::size_t rows = m.rows < 0 ? 0 : static_cast<std::size_t>(m.rows);
    const Outcome publicEntry = runInCall(
        [](double* a, double* c, const double* x, std::int32_t r, std::int32_t n) {
            pairsolve::solve(a, c, x, r, n);
        },
        m, rows);
    const Outcome solver = runInCall(::solveAssignment, m, rows);
    const Outcome model = runInCall(reference::solveAssignment, m, rows);

    std::string road = solver.failed ? solver.identifier.empty() ? "negativeElement" : solver.identifier
                                     : "solved";
    if (!solver.failed) {
        std::size_t assigned = 0;
        for (double a : solver.assignment) assigned += a != 0 ? 1 : 0;
        if (assigned < static_cast<std::size_t>(std::min(m.rows, m.cols))) road = "solved with a row dropped";
    }
    ++tally.outcomes[road];

    const bool agree = sameOutcome(solver, model) && sameOutcome(solver, publicEntry) &&
                       (solver.failed || solver.heldAtReturn == 0) &&
                       (model.failed || model.heldAtReturn == 0);
    if (!agree) {
        ++tally.mismatches;
        // A few in full are enough to reproduce; the count tells the rest.
        if (tally.mismatches <= 3)
            ADD_FAILURE() << label << "\nmatrix " << describe(m) << "solver:          "
                          << describe(solver) << " (held " << solver.heldAtReturn << ")"
                          << "\npairsolve::solve: " << describe(publicEntry)
                          << "\nreference model: " << describe(model) << " (held "
                          << model.heldAtReturn << ")";
    }
}

std::string label(std::uint64_t seed, Kind kind) {
    return std::string("seed ") + std::to_string(seed) + ", kind " + random_matrices::kindName(kind);
}

}  // namespace

// Every kind of matrix, shapes up to 40 on a side (empty and thin ones included). The seeds are
// fixed: a failure names the seed and prints the matrix.
TEST(ReferenceComparison, RandomMatricesOfEveryKind) {
    Tally tally;
    for (std::uint64_t seed = 1; seed <= 1500; ++seed) {
        Source source(seed);
        for (Kind kind : random_matrices::allKinds) {
            // Small sides most of the time, where ties and thin shapes are dense.
            const std::int32_t maxSide = source.chance(0.7) ? 8 : 40;
            const random_matrices::Shape shape = random_matrices::randomShape(source, maxSide);
            compare(random_matrices::generate(source, kind, shape.rows, shape.cols), tally,
                    label(seed, kind));
        }
    }
    EXPECT_EQ(0, tally.mismatches) << "matrices on which the solver and the model differ";
    // The generators must actually reach each road, or this comparison proves less than it seems.
    for (const char* road : {"solved", "solved with a row dropped", "negativeElement",
                             "pairsolve:nanBlocksAssignment", "pairsolve:costOverflow"})
        EXPECT_GT(tally.outcomes[road], 10) << "too few matrices took the road: " << road;
    for (const auto& entry : tally.outcomes)
        std::printf("[ outcome  ] %-32s %d\n", entry.first.c_str(), entry.second);
}

// Forbidden pairs sprinkled over integer matrices with heavy ties, at densities from a few pairs
// to most of the matrix: the forbiddenValue and the dropping of pairs on infinite elements.
TEST(ReferenceComparison, ForbiddenPairsAtEveryDensity) {
    Tally tally;
    const double densities[] = {0.02, 0.1, 0.3, 0.6, 0.9};
    for (std::uint64_t seed = 1000; seed < 1150; ++seed) {
        Source source(seed);
        for (double density : densities) {
            const random_matrices::Shape shape = random_matrices::randomShape(source, 12);
            const Kind kind = source.chance(0.5) ? Kind::ties0to3 : Kind::ties0to100;
            Matrix m = random_matrices::generate(source, kind, shape.rows, shape.cols);
            random_matrices::sprinkleForbidden(source, m, density);
            compare(m, tally, label(seed, kind) + ", forbidden density " + std::to_string(density));
        }
    }
    EXPECT_EQ(0, tally.mismatches);
    EXPECT_GT(tally.outcomes["solved with a row dropped"], 50);
}

// A few larger matrices, up to 100 on a side, where searches run long.
TEST(ReferenceComparison, LargerMatrices) {
    Tally tally;
    const Kind kinds[] = {Kind::ties0to3, Kind::ties0to100, Kind::ties0to1e6, Kind::uniform,
                          Kind::forbidden, Kind::mixedMagnitudes};
    for (std::uint64_t seed = 5000; seed < 5010; ++seed) {
        Source source(seed);
        for (Kind kind : kinds) {
            const auto rows = static_cast<std::int32_t>(source.between(60, 100));
            const auto cols = static_cast<std::int32_t>(source.between(60, 100));
            compare(random_matrices::generate(source, kind, rows, cols), tally, label(seed, kind));
        }
    }
    EXPECT_EQ(0, tally.mismatches);
}

// Hand-made matrices at the edges: both must agree here as well, errors included.
TEST(ReferenceComparison, EdgesAndErrors) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double big = std::numeric_limits<double>::max() / 4;
    const std::vector<Matrix> matrices = {
        // column-major data
        {3, 3, {4, 2, 3, 1, 0, 2, 3, 5, 2}},
        {1, 2, {1, nan}},
        {1, 2, {nan, 1}},                  // a NaN first in its row: the row is NaN
        {2, 2, {nan, 0, 0, nan}},          // NaN on the diagonal, zeros off it
        {2, 2, {nan, nan, 0, 1}},          // column 1 is NaN: no complete assignment
        {3, 2, {nan, 1, 2, 3, nan, 4}},    // M > N: NaN heads column 1
        {2, 2, {-0.0, 1, 1, -0.0}},
        {2, 2, {0, -1e-300, 1, 2}},        // a tiny negative is still negative
        {2, 2, {-inf, nan, 1, -2}},        // the negative check runs after -inf and NaN pass
        {2, 2, {big, inf, inf, big}},      // forbiddenValue overflows, but no inf is needed
        {2, 2, {inf, big, big, inf}},      // ... here the diagonal would need it
        {2, 2, {inf, inf, big, inf}},      // only one finite pair: a row must use +inf
        {2, 3, {std::numeric_limits<double>::max(), 1, 0, std::numeric_limits<double>::max(), 3, 3}},
        {2, 2, {1e308, 1e308, 1e308, 0}},  // a shift by 1e308 overflows a covered row
        {2, 2, {nan, nan, nan, nan}},
        {2, 2, {inf, -inf, inf, inf}},
        {0, 0, {}},
        {0, 4, {}},
        {4, 0, {}},
    };
    Tally tally;
    for (const Matrix& m : matrices) compare(m, tally, "edge case");
    EXPECT_EQ(0, tally.mismatches);
    EXPECT_GT(tally.outcomes["pairsolve:costOverflow"], 0);
    EXPECT_GT(tally.outcomes["pairsolve:nanBlocksAssignment"], 0);
    EXPECT_GT(tally.outcomes["negativeElement"], 0);
}

// Sizes no working copy can be made for are refused alike, before any output is written.
TEST(ReferenceComparison, SizesRefused) {
    const std::int32_t largest = std::numeric_limits<std::int32_t>::max();
    struct Size {
        std::int32_t rows, cols;
    };
    const Size sizes[] = {{-1, 3}, {3, -1}, {-5, -5}, {largest, largest}};
    for (const Size size : sizes) {
        Matrix m;
        m.rows = size.rows;
        m.cols = size.cols;
        // Neither side may write the outputs, so one entry of room is enough to see that.
        const Outcome solver = runInCall(::solveAssignment, m, 1);
        const Outcome model = runInCall(reference::solveAssignment, m, 1);
        EXPECT_TRUE(solver.failed);
        EXPECT_EQ("pairsolve:inputSize", solver.identifier);
        EXPECT_TRUE(sameOutcome(solver, model))
            << size.rows << " x " << size.cols << "\nsolver: " << describe(solver)
            << "\nmodel:  " << describe(model);
        EXPECT_TRUE(sameBits(solver.assignment, std::vector<double>{untouched}));
        EXPECT_TRUE(sameBits(solver.cost, untouched));
    }
}
