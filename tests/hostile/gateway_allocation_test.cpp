// Allocation failure through the gateway: the outputs exist before the solver takes its buffers,
// so a failure at any allocation must end the call with the out-of-memory error, leave no buffer
// behind and leave the input as it was, whichever way the call would otherwise have ended.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../test_support.h"
#include "host_services.h"

using namespace pairsolve;

using testing_support::inf;
using testing_support::Matrix;
using testing_support::NaN;

namespace {

struct GatewayCall {
    std::string error;  // "identifier|message", empty on success
    std::vector<double> assignment;
    double cost = -1;
    std::uint64_t allocations = 0;
};

GatewayCall callGateway(const Matrix& m, int nlhs) {
    mxArray* input =
        mxCreateDoubleMatrix(static_cast<mwSize>(m.rows), static_cast<mwSize>(m.cols), mxREAL);
    if (!m.data.empty()) std::memcpy(mxGetPr(input), m.data.data(), m.data.size() * sizeof(double));
    const mxArray* prhs[1] = {input};
    mxArray* plhs[2] = {nullptr, nullptr};
    GatewayCall call;
    const std::uint64_t before = standin::allocationsMade();
    try {
        standin::CallScope scope;
        mexFunction(nlhs, plhs, 1, prhs);
        call.assignment.assign(mxGetPr(plhs[0]), mxGetPr(plhs[0]) + m.rows);
        if (nlhs == 2) call.cost = *mxGetPr(plhs[1]);
    } catch (const pairsolve::Error& e) {
        call.error = e.identifier() + "|" + e.what();
    }
    call.allocations = standin::allocationsMade() - before;
    EXPECT_EQ(standin::liveAllocations(), 0u);
    EXPECT_TRUE(m.data.empty() ||
                std::memcmp(mxGetPr(input), m.data.data(), m.data.size() * sizeof(double)) == 0);
    // Outputs made before an error belong to the caller, as they would to a host.
    for (mxArray* output : plhs)
        if (output != nullptr) mxDestroyArray(output);
    mxDestroyArray(input);
    return call;
}

}  // namespace

TEST(GatewayAllocationFailure, EveryAllocationEndsTheCallCleanly) {
    Matrix wide(3, 7), tall(7, 3), offset(65, 64);
    for (std::int32_t r = 0; r < 3; ++r)
        for (std::int32_t c = 0; c < 7; ++c) {
            wide.at(r, c) = (r * 5 + c * 3) % 4;
            tall.at(c, r) = (r * 5 + c * 3) % 4;
        }
    for (std::int32_t r = 0; r < 65; ++r)
        for (std::int32_t c = 0; c < 64; ++c) offset.at(r, c) = (r * 7 + c * 11) % 13;
    const Matrix cases[] = {
        wide,                                    // a search with ties, M < N
        tall,                                    // the same, M > N
        offset,                                  // the offset search: a block more
        Matrix(2, 2, {1, inf, inf, inf}),        // a forbidden pair dropped
        Matrix(2, 2, {1, NaN, 2, NaN}),          // ends with the NaN error after the search
        Matrix(2, 2, {1e308, inf, 1e308, inf}),  // ends with the overflow error
        Matrix(2, 2, {inf, NaN, -inf, inf}),     // ends after the working copy
        Matrix(0, 4),
        Matrix(4, 0),
    };
    const std::string outOfMemory =
        "pairsolve:outOfMemory|Not enough memory for a matrix of this size.";
    int walked = 0;
    for (const Matrix& m : cases) {
        for (int nlhs = 1; nlhs <= 2; ++nlhs) {
            SCOPED_TRACE(std::to_string(m.rows) + " x " + std::to_string(m.cols) + ", nlhs " +
                         std::to_string(nlhs));
            const GatewayCall whole = callGateway(m, nlhs);
            ASSERT_GT(whole.allocations, 0u);
            for (std::uint64_t k = 1; k <= whole.allocations; ++k) {
                standin::failAllocation(k);
                EXPECT_EQ(callGateway(m, nlhs).error, outOfMemory) << "allocation " << k;
                ++walked;
            }
            // One past the last allocation: the failure never fires and nothing changes.
            standin::failAllocation(whole.allocations + 1);
            const GatewayCall again = callGateway(m, nlhs);
            standin::failAllocation(0);
            EXPECT_EQ(again.error, whole.error);
            EXPECT_EQ(again.assignment, whole.assignment);
            EXPECT_EQ(again.cost, whole.cost);
        }
    }
    EXPECT_GT(walked, 16);
}
