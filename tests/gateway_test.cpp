// The gateway on the stand-in host: mexFunction called as a host calls it, with stand-in arrays.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host_services.h"
#include "test_support.h"

using namespace pairsolve;

using testing_support::inf;
using testing_support::Matrix;
using testing_support::NaN;

namespace {

// What one call left behind. Slots the gateway did not fill stay null.
struct Outcome {
    bool failed = false;
    std::string identifier;
    std::string message;
    bool hasAssignment = false;
    std::size_t assignmentRows = 0, assignmentCols = 0;
    std::vector<double> assignment;
    bool hasCost = false;
    std::size_t costElements = 0;
    double cost = -1;
    bool untouchedSlotsNull = true;  // the slots past the two outputs
    std::size_t heldAfterReturn = 0;  // buffers the call still held when mexFunction returned
};

mxArray* doubleArray(const Matrix& m) {
    mxArray* array = mxCreateDoubleMatrix(static_cast<mwSize>(m.rows), static_cast<mwSize>(m.cols), mxREAL);
    if (!m.data.empty()) std::memcpy(mxGetPr(array), m.data.data(), m.data.size() * sizeof(double));
    return array;
}

mxArray* array(std::vector<mwSize> dims, mxClassID classId, mxComplexity complexity = mxREAL) {
    return mxCreateNumericArray(dims.size(), dims.data(), classId, complexity);
}

// One host call: its own call scope (which releases what an error leaves), then the outputs are
// read and destroyed, as the host that owns them would.
Outcome call(int nlhs, std::vector<const mxArray*> inputs) {
    mxArray* slots[4] = {nullptr, nullptr, nullptr, nullptr};
    Outcome outcome;
    {
        standin::CallScope scope;
        try {
            mexFunction(nlhs, slots, static_cast<int>(inputs.size()), inputs.data());
            outcome.heldAfterReturn = scope.held();
        } catch (const pairsolve::Error& e) {
            outcome.failed = true;
            outcome.identifier = e.identifier();
            outcome.message = e.what();
        }
    }
    if (slots[0] != nullptr) {
        outcome.hasAssignment = true;
        outcome.assignmentRows = mxGetM(slots[0]);
        outcome.assignmentCols = mxGetN(slots[0]);
        EXPECT_TRUE(mxIsDouble(slots[0]) && !mxIsComplex(slots[0]) && !mxIsSparse(slots[0]));
        const double* data = mxGetPr(slots[0]);
        outcome.assignment.assign(data, data + mxGetNumberOfElements(slots[0]));
    }
    if (slots[1] != nullptr) {
        outcome.hasCost = true;
        outcome.costElements = mxGetNumberOfElements(slots[1]);
        outcome.cost = *mxGetPr(slots[1]);
    }
    outcome.untouchedSlotsNull = slots[2] == nullptr && slots[3] == nullptr;
    for (mxArray* slot : slots) mxDestroyArray(slot);
    return outcome;
}

Outcome call(int nlhs, const mxArray* input) { return call(nlhs, std::vector<const mxArray*>{input}); }

}  // namespace

TEST(Gateway, FillsTheOutputsTheCallerAskedFor) {
    const Matrix m(3, 3, {4, 1, 3, 2, 0, 5, 3, 2, 2});
    mxArray* input = doubleArray(m);
    const std::size_t liveBefore = standin::liveAllocations();
    for (int nlhs : {0, 1, 2}) {
        SCOPED_TRACE(nlhs);
        const Outcome out = call(nlhs, input);
        ASSERT_FALSE(out.failed) << out.message;
        EXPECT_EQ(out.heldAfterReturn, 0u);
        ASSERT_TRUE(out.hasAssignment);  // a host always has room for the first output
        EXPECT_EQ(out.assignmentRows, 3u);
        EXPECT_EQ(out.assignmentCols, 1u);
        EXPECT_EQ(out.assignment, (std::vector<double>{2, 1, 3}));
        EXPECT_EQ(out.hasCost, nlhs >= 2);
        if (out.hasCost) {
            EXPECT_EQ(out.costElements, 1u);
            EXPECT_EQ(out.cost, 5);
        }
        EXPECT_TRUE(out.untouchedSlotsNull);
    }
    EXPECT_EQ(standin::liveAllocations(), liveBefore);
    EXPECT_EQ(std::memcmp(mxGetPr(input), m.data.data(), m.data.size() * sizeof(double)), 0);
    mxDestroyArray(input);
}

TEST(Gateway, EmptyAndThinShapes) {
    struct Case {
        const char* what;
        Matrix matrix;
        std::vector<double> assignment;
        double cost;
    };
    const Case cases[] = {
        {"0 x 0", Matrix(0, 0), {}, 0},
        {"0 x 3", Matrix(0, 3), {}, 0},
        {"3 x 0", Matrix(3, 0), {0, 0, 0}, 0},
        {"one row", Matrix(1, 4, {3, 1, 1, 2}), {2}, 1},
        {"one column", Matrix(4, 1, {3, 1, 1, 2}), {0, 1, 0, 0}, 1},
        {"more rows than columns", Matrix(3, 2, {5, 1, 1, 2, 0, 0}), {0, 1, 2}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mxArray* input = doubleArray(c.matrix);
        const Outcome out = call(2, input);
        mxDestroyArray(input);
        ASSERT_FALSE(out.failed) << out.message;
        EXPECT_EQ(out.assignmentRows, static_cast<std::size_t>(c.matrix.rows));
        EXPECT_EQ(out.assignmentCols, 1u);
        EXPECT_EQ(out.assignment, c.assignment);
        EXPECT_EQ(out.cost, c.cost);
    }

    // A trailing singleton dimension is no dimension: 2 x 2 x 1 is a matrix.
    mxArray* input = array({2, 2, 1}, mxDOUBLE_CLASS);
    const double data[] = {0, 1, 1, 0};  // column-major [0 1; 1 0]
    std::memcpy(mxGetPr(input), data, sizeof data);
    const Outcome out = call(2, input);
    mxDestroyArray(input);
    EXPECT_FALSE(out.failed) << out.message;
    EXPECT_EQ(out.assignment, (std::vector<double>{1, 2}));
}

TEST(Gateway, RefusesWhatItCannotSolveWithItsIdentifier) {
    mxArray* good = doubleArray(Matrix(2, 2, {1, 2, 4, 3}));
    struct Case {
        const char* what;
        int nlhs;
        std::vector<const mxArray*> inputs;
        const char* identifier;
        const char* messagePart;  // what the message must name
    };
    std::vector<mxArray*> made;
    auto keep = [&made](mxArray* a) { made.push_back(a); return a; };
    const mwSize tooMany = static_cast<mwSize>(INT32_MAX) + 1;
    std::vector<Case> cases = {
        {"no input", 1, {}, "pairsolve:nargin", "got 0"},
        {"two inputs", 1, {good, good}, "pairsolve:nargin", "got 2"},
        {"three outputs", 3, {good}, "pairsolve:nargout", "3 requested"},
        {"sparse", 1, {keep(mxCreateSparse(2, 2, 1, mxREAL))}, "pairsolve:inputType", "double, sparse"},
        {"complex", 1, {keep(mxCreateDoubleMatrix(2, 2, mxCOMPLEX))}, "pairsolve:inputType", "double, complex"},
        {"3-D", 1, {keep(array({2, 2, 2}, mxDOUBLE_CLASS))}, "pairsolve:inputSize", "3 dimensions"},
        {"3-D and empty", 1, {keep(array({2, 0, 3}, mxDOUBLE_CLASS))}, "pairsolve:inputSize", "3 dimensions"},
        {"too many rows", 1, {keep(array({tooMany, 0}, mxDOUBLE_CLASS))}, "pairsolve:inputSize", "2147483648 rows"},
        {"too many columns", 1, {keep(array({0, tooMany}, mxDOUBLE_CLASS))}, "pairsolve:inputSize", "2147483648 columns"},
    };
    const std::pair<mxClassID, const char*> otherClasses[] = {
        {mxSINGLE_CLASS, "single"}, {mxINT8_CLASS, "int8"},     {mxUINT8_CLASS, "uint8"},
        {mxINT16_CLASS, "int16"},   {mxUINT16_CLASS, "uint16"}, {mxINT32_CLASS, "int32"},
        {mxUINT32_CLASS, "uint32"}, {mxINT64_CLASS, "int64"},   {mxUINT64_CLASS, "uint64"},
        {mxLOGICAL_CLASS, "logical"}, {mxCHAR_CLASS, "char"},   {mxCELL_CLASS, "cell"},
        {mxSTRUCT_CLASS, "struct"},
    };
    for (const auto& [classId, name] : otherClasses)
        cases.push_back({name, 1, {keep(array({2, 2}, classId))}, "pairsolve:inputType", name});

    const std::size_t liveBefore = standin::liveAllocations();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome out = call(c.nlhs, c.inputs);
        EXPECT_TRUE(out.failed);
        EXPECT_EQ(out.identifier, c.identifier);
        EXPECT_NE(out.message.find(c.messagePart), std::string::npos) << out.message;
        // Refused before anything was created or allocated.
        EXPECT_FALSE(out.hasAssignment);
        EXPECT_FALSE(out.hasCost);
        EXPECT_EQ(standin::liveAllocations(), liveBefore);
    }
    for (mxArray* a : made) mxDestroyArray(a);

    // Refusals leave nothing behind that spoils the next call.
    const Outcome after = call(2, good);
    EXPECT_FALSE(after.failed);
    EXPECT_EQ(after.assignment, (std::vector<double>{1, 2}));
    EXPECT_EQ(after.cost, 4);
    mxDestroyArray(good);
}

TEST(Gateway, PassesTheSolversErrorsOn) {
    struct Case {
        const char* what;
        Matrix matrix;
        const char* identifier;
        const char* message;
    };
    const Case cases[] = {
        {"negative element", Matrix(1, 2, {1, -1}), "", "All matrix elements have to be non-negative."},
        {"NaN blocks the search", Matrix(2, 2, {NaN, NaN, 1, NaN}), "pairsolve:nanBlocksAssignment",
         "NaN elements prevent a complete assignment."},
        {"forbidden value overflows", Matrix(2, 2, {1e308, inf, 1e308, inf}), "pairsolve:costOverflow",
         "Matrix elements are too large to solve; scale the matrix down."},
    };
    const std::size_t liveBefore = standin::liveAllocations();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mxArray* input = doubleArray(c.matrix);
        const Outcome out = call(2, input);
        mxDestroyArray(input);
        EXPECT_TRUE(out.failed);
        EXPECT_EQ(out.identifier, c.identifier);
        EXPECT_EQ(out.message, c.message);
        // The outputs exist before the solver runs; the host is left holding them.
        EXPECT_TRUE(out.hasAssignment && out.hasCost);
        EXPECT_EQ(standin::liveAllocations(), liveBefore);
    }
}
