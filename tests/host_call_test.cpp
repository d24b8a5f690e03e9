// One solve as a host call: the errors it can end with, the buffers it leaves behind (none), the
// caller's matrix (untouched) and calls on separate threads (independent).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>

#include "assignment_solver.h"
#include "pairsolve.h"
#include "random_matrices.h"
#include "solve_outcome.h"
#include "standin_host.h"
#include "test_support.h"

using namespace pairsolve;

using testing_support::inf;
using testing_support::Matrix;
using testing_support::NaN;
using random_matrices::Kind;

namespace {

// The error a solve ends with, as "identifier|message"; empty when it succeeds.
std::string errorOf(const Matrix& m) {
    try {
        pairsolve::solve(m.data, m.rows, m.cols);
    } catch (const pairsolve::Error& e) {
        return e.identifier() + "|" + e.what();
    }
    return "";
}

const std::string negative = "|All matrix elements have to be non-negative.";
const std::string nanBlocks = "pairsolve:nanBlocksAssignment|NaN elements prevent a complete assignment.";
const std::string overflow =
    "pairsolve:costOverflow|Matrix elements are too large to solve; scale the matrix down.";

Matrix randomMatrix(std::mt19937_64& random, std::int32_t rows, std::int32_t cols) {
    Matrix m(rows, cols);
    for (double& v : m.data) v = static_cast<double>(random() % 20);
    return m;
}

}  // namespace

TEST(HostCall, RefusesNegativeElementsAndNothingElse) {
    const double tiniest = std::numeric_limits<double>::denorm_min();
    // A finite negative element anywhere ends the call, also where the rest of the matrix would
    // have stalled the search: the check runs on the copy, before anything is computed.
    EXPECT_EQ(errorOf(Matrix(2, 2, {1, 2, 3, -1})), negative);
    EXPECT_EQ(errorOf(Matrix(2, 2, {-1, 2, 3, 4})), negative);
    EXPECT_EQ(errorOf(Matrix(1, 3, {0, -tiniest, 0})), negative);
    EXPECT_EQ(errorOf(Matrix(2, 2, {1, NaN, NaN, -5})), negative);
    EXPECT_EQ(errorOf(Matrix(3, 1, {inf, -1e300, NaN})), negative);
    // -0.0 is a zero, -inf a forbidden pair, NaN passes the sign check.
    EXPECT_EQ(errorOf(Matrix(2, 2, {-0.0, -0.0, -0.0, -0.0})), "");
    EXPECT_EQ(errorOf(Matrix(2, 2, {-inf, 1, 1, -inf})), "");
    EXPECT_EQ(errorOf(Matrix(1, 2, {1, NaN})), "");
    // Large matrices are copied block by block: one odd element is seen wherever it stands,
    // whichever block holds it and whether the matrix is wide or tall.
    std::mt19937_64 random(7);
    for (const std::size_t at : {0, 255, 256, 1000, 1599}) {
        for (const std::int32_t rows : {40, 80}) {
            Matrix m(rows, 1600 / rows);
            for (double& v : m.data) v = 0.5 + static_cast<double>(random() >> 11) * 0x1p-53;
            for (const double odd : {-1.0, -tiniest, -0.0, NaN, inf, -inf}) {
                Matrix one = m;
                one.data[at] = odd;
                const bool refused = errorOf(one) == negative;
                EXPECT_EQ(refused, odd < 0 && odd != -inf) << odd << " at " << at;
            }
        }
    }
}

TEST(HostCall, EndlessSearchesEndWithTheirCause) {
    // NaN first in its row makes the whole row NaN: the row cannot be matched.
    EXPECT_EQ(errorOf(Matrix(2, 2, {1, 2, NaN, 3})), nanBlocks);
    // Two rows that can only use the same finite column.
    EXPECT_EQ(errorOf(Matrix(2, 2, {1, NaN, 2, NaN})), nanBlocks);
    // M > N reduces columns: a NaN heading a column blocks it.
    EXPECT_EQ(errorOf(Matrix(3, 2, {NaN, 1, 2, 3, 4, 5})), nanBlocks);
    // forbiddenValue = (10 * 1e308) * 4 overflows, so the forbidden pairs are +inf and the second
    // row has nothing finite left to take.
    EXPECT_EQ(errorOf(Matrix(2, 2, {1e308, inf, 1e308, inf})), overflow);
    // Here the overflowed forbidden pairs fill a whole row, and inf - inf leaves NaN behind: still
    // an overflow, not a NaN in the caller's matrix.
    EXPECT_EQ(errorOf(Matrix(2, 2, {1e308, 1e308, inf, inf})), overflow);
    // A NaN present beside forbidden pairs that did not overflow is still a NaN problem.
    EXPECT_EQ(errorOf(Matrix(2, 2, {1, inf, NaN, NaN})), nanBlocks);
    // The same matrices without the blocking elements solve.
    EXPECT_EQ(errorOf(Matrix(2, 2, {1e300, inf, 1e300, inf})), "");
    EXPECT_EQ(errorOf(Matrix(2, 2, {1, 2, 3, NaN})), "");
}

TEST(HostCall, RefusesSizesItCannotIndex) {
    double assignment[1] = {7}, cost = 7, element = 0;
    const std::int32_t largest = std::numeric_limits<std::int32_t>::max();
    for (const auto& dims : {std::pair<std::int32_t, std::int32_t>{-1, 2}, {2, -1}, {largest, largest}}) {
        try {
            pairsolve::solve(assignment, &cost, &element, dims.first, dims.second);
            ADD_FAILURE() << dims.first << " x " << dims.second << " was accepted";
        } catch (const pairsolve::Error& e) {
            EXPECT_EQ(e.identifier(), "pairsolve:inputSize");
        }
        // Refused before the outputs are touched: they are not the size the caller claimed.
        EXPECT_EQ(assignment[0], 7);
        EXPECT_EQ(cost, 7);
    }
    EXPECT_EQ(standin::liveAllocations(), 0u);
}

TEST(HostCall, ReleasesEveryBufferAndNeverWritesTheInput) {
    std::mt19937_64 random(11);
    const Matrix cases[] = {
        randomMatrix(random, 7, 7), randomMatrix(random, 3, 9), randomMatrix(random, 9, 3),
        Matrix(0, 4), Matrix(4, 0), Matrix(2, 2, {inf, inf, NaN, inf}),  // no finite element
        Matrix(2, 2, {1, 2, 3, -4}), Matrix(2, 2, {1, 2, NaN, 3}),         // errors
    };
    for (const Matrix& m : cases) {
        const Matrix before = m;
        std::vector<double> assignment(static_cast<std::size_t>(m.rows));
        double cost = 0;
        standin::CallScope call;
        try {
            solveAssignment(assignment.data(), &cost, m.data.data(), m.rows, m.cols);
            // A call that returns has given back everything itself.
            EXPECT_EQ(call.held(), 0u);
        } catch (const pairsolve::Error&) {
            // A call that ends with an error leaves its buffers to the host, as with MATLAB.
        }
        // memcmp needs valid pointers even for no bytes, and an empty vector may hold none.
        if (!m.data.empty())
            EXPECT_EQ(std::memcmp(before.data.data(), m.data.data(), m.data.size() * sizeof(double)), 0);
    }
    EXPECT_EQ(standin::liveAllocations(), 0u);
}

TEST(HostCall, EveryAllocationFailureEndsTheCallCleanly) {
    std::mt19937_64 random(5);
    const Matrix cases[] = {randomMatrix(random, 6, 6), randomMatrix(random, 3, 8),
                            Matrix(2, 2, {1, inf, inf, inf}), Matrix(2, 2, {inf, inf, inf, inf})};
    for (const Matrix& m : cases) {
        const std::uint64_t before = standin::allocationsMade();
        const pairsolve::Result expected = pairsolve::solve(m.data, m.rows, m.cols);
        const std::uint64_t allocations = standin::allocationsMade() - before;
        ASSERT_GT(allocations, 0u);
        for (std::uint64_t k = 1; k <= allocations; ++k) {
            standin::failAllocation(k);
            try {
                pairsolve::solve(m.data, m.rows, m.cols);
                ADD_FAILURE() << "allocation " << k << " of " << allocations << " did not fail";
            } catch (const pairsolve::Error& e) {
                EXPECT_EQ(e.identifier(), "pairsolve:outOfMemory");
                EXPECT_STREQ(e.what(), "Not enough memory for a matrix of this size.");
            }
            EXPECT_EQ(standin::liveAllocations(), 0u);
        }
        standin::failAllocation(0);
        // The failure fired once; the next call is whole again.
        EXPECT_EQ(pairsolve::solve(m.data, m.rows, m.cols).assignment, expected.assignment);
    }
}

namespace {

// Matrices for the threads test, one kind per search the solver chooses (the test checks that
// each reaches it): doubles whose near ties (a_r + b_c, a few nudged by an ulp or by 1e-9) make the
// certified offset search give up and the call restart element by element.
random_matrices::Matrix nearTies(random_matrices::Source& source, std::int32_t rows, std::int32_t cols) {
    std::vector<double> a(static_cast<std::size_t>(rows)), b(static_cast<std::size_t>(cols));
    for (double& x : a) x = source.unit();
    for (double& x : b) x = source.unit();
    random_matrices::Matrix m{rows, cols, {}};
    for (const double column : b) {
        for (const double row : a) {
            double v = row + column;
            if (source.chance(0.02)) v = v * (1 + 0x1p-50);
            if (source.chance(0.01)) v = v + 1e-9;
            m.data.push_back(v);
        }
    }
    return m;
}

// Doubles with a few NaN elements, none in the first column, where a NaN would block its row.
random_matrices::Matrix withSparseNaN(random_matrices::Source& source, std::int32_t rows, std::int32_t cols) {
    random_matrices::Matrix m = random_matrices::generate(source, Kind::uniform, rows, cols);
    for (std::size_t i = static_cast<std::size_t>(rows); i < m.data.size(); ++i)
        if (source.chance(0.02)) m.data[i] = NaN;
    return m;
}

// A public call's outcome, without a call scope of the test's: what a caller's thread sees.
solve_outcome::Outcome publicSolve(const random_matrices::Matrix& m) {
    solve_outcome::Outcome out;
    out.assignment.assign(static_cast<std::size_t>(m.rows), 0.0);
    try {
        pairsolve::solve(out.assignment.data(), &out.cost, m.data.data(), m.rows, m.cols);
    } catch (const pairsolve::Error& e) {
        out.identifier = e.identifier();
        out.error = e.identifier() + ": " + e.what();
    }
    return out;
}

}  // namespace

// Threads share nothing but what the caller shares: on four threads at once, every search the
// solver chooses (a restart included) and every error gives the serial answer bit for bit, first
// with each thread on matrices of its own, then with all of them on one read-only matrix at once;
// and no thread is left holding a buffer.
TEST(HostCall, ThreadsSolveIndependently) {
    using solverTesting::SearchChoice;
    using solverTesting::SearchReport;
    enum Reaches { plain, offsetExact, offsetCertified, elementByElement, restart };
    struct Case {
        random_matrices::Matrix m;
        Reaches search;
        solve_outcome::Outcome serial;
    };
    constexpr int threadCount = 4;
    random_matrices::Source source(3);
    std::vector<Case> cases;
    // Small matrices, up to 12 x 12, for the plain search; every other one ends with an error, so
    // that errors unwind on some threads while others are in the middle of a solve.
    for (int i = 0; i < 120; ++i) {
        random_matrices::Matrix m =
            random_matrices::generate(source, Kind::ties0to10, 1 + i % 12, 1 + (i * 7) % 12);
        if (i % 2 == 1) m.data.back() = -1;
        cases.push_back({m, plain, {}});
    }
    const std::size_t firstLarge = cases.size();
    cases.push_back({random_matrices::generate(source, Kind::ties0to10, 90, 70), offsetExact, {}});
    cases.push_back({random_matrices::gatedTracking(source, 80, 100), offsetCertified, {}});
    cases.push_back({random_matrices::generate(source, Kind::uniform, 70, 90), offsetCertified, {}});
    cases.push_back({withSparseNaN(source, 80, 80), elementByElement, {}});
    cases.push_back({nearTies(source, 300, 300), restart, {}});
    // A large matrix refused: its error unwinds while other threads search the large ones.
    random_matrices::Matrix refused = random_matrices::generate(source, Kind::uniform, 80, 80);
    refused.data.back() = -1;
    cases.push_back({refused, offsetCertified, {}});

    // The serial answers, and which search each matrix reaches.
    for (Case& c : cases) {
        c.serial = publicSolve(c.m);
        SearchReport report;
        const solve_outcome::Outcome chosen = solve_outcome::solveWith(
            [&](double* a, double* cost, const double* x, std::int32_t r, std::int32_t n) {
                solverTesting::solve(SearchChoice::chosen, a, cost, x, r, n, &report);
            },
            c.m);
        ASSERT_TRUE(solve_outcome::same(chosen, c.serial));
        ASSERT_EQ(c.serial.error.empty(), !(c.m.data.back() < 0)) << c.serial.error;
        if (!c.serial.error.empty()) continue;  // refused before any search
        Reaches reached = elementByElement;
        if (report.plainRan) reached = plain;
        else if (report.restarted) reached = restart;
        else if (report.offsetRan) reached = report.exactOffsets ? offsetExact : offsetCertified;
        ASSERT_EQ(reached, c.search) << c.m.rows << " x " << c.m.cols;
    }

    std::vector<int> mismatches(threadCount, 0);
    std::vector<std::size_t> leftOver(threadCount, 0);
    std::atomic<int> arrived{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            const auto check = [&](const Case& c) {
                if (!solve_outcome::same(publicSolve(c.m), c.serial)) ++mismatches[t];
            };
            // Matrices of its own: each thread starts elsewhere in the list.
            for (std::size_t i = 0; i < cases.size(); ++i)
                check(cases[(i + static_cast<std::size_t>(t) * 37) % cases.size()]);
            // One matrix for all: each thread arrives, waits for the others, then all solve it.
            for (std::size_t k = firstLarge; k < cases.size(); ++k) {
                const int everyone = threadCount * static_cast<int>(k - firstLarge + 1);
                arrived.fetch_add(1);
                while (arrived.load() < everyone) std::this_thread::yield();
                check(cases[k]);
            }
            leftOver[t] = standin::liveAllocations();
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < threadCount; ++t) {
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
        EXPECT_EQ(leftOver[t], 0u) << "thread " << t;
    }
}
