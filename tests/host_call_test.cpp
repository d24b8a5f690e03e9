// One solve as a host call: the errors it can end with, the buffers it leaves behind (none), the
// caller's matrix (untouched) and calls on separate threads (independent).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>

#include "assignment_solver.h"
#include "pairsolve.h"
#include "standin_host.h"
#include "test_support.h"

using namespace pairsolve;

using testing_support::inf;
using testing_support::Matrix;
using testing_support::NaN;

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

TEST(HostCall, ThreadsSolveIndependently) {
    constexpr int threadCount = 4, callsPerThread = 200;
    std::vector<Matrix> matrices;
    std::mt19937_64 random(3);
    for (int i = 0; i < callsPerThread; ++i)
        matrices.push_back(randomMatrix(random, 1 + i % 12, 1 + (i * 7) % 12));
    // Every other matrix gets a negative element, so errors unwind on some threads while others
    // are in the middle of a solve.
    for (std::size_t i = 1; i < matrices.size(); i += 2) matrices[i].data.back() = -1;

    std::vector<pairsolve::Result> expected;
    for (const Matrix& m : matrices) {
        if (m.data.back() < 0) {
            expected.push_back({});
            continue;
        }
        expected.push_back(pairsolve::solve(m.data, m.rows, m.cols));
    }

    std::vector<int> mismatches(threadCount, 0);
    std::vector<std::size_t> leftOver(threadCount, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < callsPerThread; ++i) {
                const std::size_t k = static_cast<std::size_t>((i + t * 37) % callsPerThread);
                const Matrix& m = matrices[k];
                try {
                    const pairsolve::Result r = pairsolve::solve(m.data, m.rows, m.cols);
                    if (m.data.back() < 0 || r.assignment != expected[k].assignment ||
                        r.cost != expected[k].cost)
                        ++mismatches[t];
                } catch (const pairsolve::Error& e) {
                    if (!(m.data.back() < 0) || e.identifier() != "") ++mismatches[t];
                }
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
