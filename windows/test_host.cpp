// A small host for the module: loads it (pairsolve.dll, pairsolve.mexw64, pairsolve.mexw32) with
// LoadLibrary, finds its gateway with GetProcAddress under the name a host looks up, and calls it
// the way a host does, through arrays of the stand-in host (libmx.dll, libmex.dll), one call scope
// per call.
//
//   pairsolve_test_host <module> [--export <name>]            checks the known answers and the
//                                                            errors; exit status 0 when every
//                                                            check passed
//   pairsolve_test_host <module> [--export <name>] --results  prints the results for a fixed
//                                                            series of pseudo-random matrices
//
// The export is _mexFunction unless named: pairsolve.dll's; a MEX file's is mexFunction.
//
// The same source built natively calls the gateway linked into it (the argument then only names
// what is being tested), so the --results output of the DLL can be compared with the native
// build's, line for line: the module must compute the same bits on every platform.
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <string>
#include <vector>

#include "standin_host.h"

#if defined(_WIN32)
#include <windows.h>
#endif

// Built natively for the comparison, the host's names are the stand-in library's, and the
// gateway is the library's own function rather than an export.
#if !defined(PAIRSOLVE_STANDIN_DLLS)
#include "host_services.h"
using namespace pairsolve::standin;
#endif
namespace standin = pairsolve::standin;

namespace {

using Gateway = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
const char* const negativeMessage = "All matrix elements have to be non-negative.";

Gateway loadGateway(const char* modulePath, const char* exportName) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(modulePath);
    if (module == nullptr) {
        std::printf("cannot load %s (error %lu)\n", modulePath, GetLastError());
        return nullptr;
    }
    Gateway gateway = reinterpret_cast<Gateway>(
        reinterpret_cast<void*>(GetProcAddress(module, exportName)));
    if (gateway == nullptr) std::printf("%s has no export %s\n", modulePath, exportName);
    return gateway;
#else
    (void)modulePath;
    (void)exportName;
    return &pairsolve::mexFunction;
#endif
}

// A double matrix from its elements written row by row, stored column-major as a host does.
mxArray* matrix(mwSize rows, mwSize cols, const std::vector<double>& rowMajor) {
    mxArray* array = mxCreateDoubleMatrix(rows, cols, mxREAL);
    double* data = mxGetPr(array);
    for (mwSize r = 0; r < rows; ++r)
        for (mwSize c = 0; c < cols; ++c) data[r + rows * c] = rowMajor[r * cols + c];
    return array;
}

// What one call of the gateway left behind.
struct Outcome {
    mxArray* outputs[2] = {nullptr, nullptr};
    bool failed = false;
    std::string identifier;
    std::string message;
    std::size_t heldOnReturn = 0;  // buffers the call still held when the gateway returned
    std::size_t liveAfterScope = 0;

    Outcome() = default;
    Outcome(const Outcome&) = delete;
    Outcome& operator=(const Outcome&) = delete;
    ~Outcome() {
        for (mxArray* output : outputs)
            if (output != nullptr) mxDestroyArray(output);
    }
};

// One host call. Errors arrive as pairsolve::Error thrown in libmex.dll; they unwind through
// pairsolve.dll to here, and the call scope then releases what the call still held.
void call(Gateway gateway, Outcome& outcome, int nlhs, int nrhs, const mxArray* inputs[]) {
    {
        standin::CallScope scope;
        try {
            gateway(nlhs, outcome.outputs, nrhs, inputs);
            outcome.heldOnReturn = scope.held();
        } catch (const pairsolve::Error& error) {
            outcome.failed = true;
            outcome.identifier = error.identifier();
            outcome.message = error.what();
        } catch (const std::exception& error) {
            outcome.failed = true;
            outcome.identifier = "(not a pairsolve::Error)";
            outcome.message = error.what();
        }
    }
    outcome.liveAfterScope = standin::liveAllocations();
}

class Checks {
public:
    void expect(bool condition, const std::string& what, const std::string& detail) {
        ++count_;
        if (condition) return;
        ++failures_;
        std::printf("FAIL %s: %s\n", what.c_str(), detail.c_str());
    }
    int count() const { return count_; }
    int failures() const { return failures_; }

private:
    int count_ = 0;
    int failures_ = 0;
};

std::string describe(const std::vector<double>& values) {
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "%s%g", i ? "; " : "", values[i]);
        text += number;
    }
    return text + "]";
}

struct KnownAnswer {
    const char* what;
    mwSize rows;
    mwSize cols;
    std::vector<double> rowMajor;
    std::vector<double> assignment;
    double cost;
};

void checkAnswer(Gateway gateway, Checks& checks, const KnownAnswer& known, int nlhs) {
    const std::string what = std::string(known.what) + " (nlhs " + std::to_string(nlhs) + ")";
    mxArray* input = matrix(known.rows, known.cols, known.rowMajor);
    const std::vector<double> before(mxGetPr(input), mxGetPr(input) + known.rows * known.cols);
    const mxArray* inputs[] = {input};
    Outcome outcome;
    call(gateway, outcome, nlhs, 1, inputs);

    checks.expect(!outcome.failed, what, "ended with " + outcome.identifier + " " + outcome.message);
    if (!outcome.failed) {
        const mxArray* assignment = outcome.outputs[0];
        const bool shaped = assignment != nullptr && mxIsDouble(assignment) &&
                            mxGetM(assignment) == known.rows && mxGetN(assignment) == 1;
        checks.expect(shaped, what, "assignment is not a rows x 1 double vector");
        if (shaped) {
            const double* data = mxGetPr(assignment);
            const std::vector<double> got(data, data + known.rows);
            checks.expect(got == known.assignment, what,
                          "assignment " + describe(got) + ", expected " + describe(known.assignment));
        }
        if (nlhs >= 2) {
            const mxArray* cost = outcome.outputs[1];
            const bool scalar = cost != nullptr && mxGetM(cost) == 1 && mxGetN(cost) == 1;
            checks.expect(scalar && mxGetPr(cost)[0] == known.cost, what,
                          scalar ? "cost " + describe({mxGetPr(cost)[0]}) + ", expected " +
                                       describe({known.cost})
                                 : std::string("cost is not a scalar"));
        } else {
            // A host gives room only for the outputs it asked for.
            checks.expect(outcome.outputs[1] == nullptr, what, "wrote an output slot not asked for");
        }
        checks.expect(outcome.heldOnReturn == 0, what,
                      std::to_string(outcome.heldOnReturn) + " buffers still held on return");
    }
    const double* after = mxGetPr(input);
    checks.expect(before.empty() || std::memcmp(before.data(), after, before.size() * 8) == 0, what,
                  "the input matrix was written");
    checks.expect(outcome.liveAfterScope == 0, what, "buffers left after the call");
    mxDestroyArray(input);
}

void checkError(Checks& checks, const std::string& what, const Outcome& outcome,
                const std::string& identifier, const std::string& message) {
    checks.expect(outcome.failed, what, "returned instead of failing with " + identifier);
    if (!outcome.failed) return;
    checks.expect(outcome.identifier == identifier, what,
                  "identifier '" + outcome.identifier + "', expected '" + identifier + "'");
    if (!message.empty())
        checks.expect(outcome.message == message, what,
                      "message '" + outcome.message + "', expected '" + message + "'");
    checks.expect(outcome.liveAfterScope == 0, what, "buffers left after the failed call");
}

void checkMatrixError(Gateway gateway, Checks& checks, const char* what, mwSize rows, mwSize cols,
                      const std::vector<double>& rowMajor, const std::string& identifier,
                      const std::string& message) {
    mxArray* input = matrix(rows, cols, rowMajor);
    const mxArray* inputs[] = {input};
    Outcome outcome;
    call(gateway, outcome, 2, 1, inputs);
    checkError(checks, what, outcome, identifier, message);
    mxDestroyArray(input);
}

int checkKnownAnswers(Gateway gateway, const char* modulePath) {
    Checks checks;
    const KnownAnswer answers[] = {
        // The driver: forbidden pairs, NaN, orientation, empty matrices.
        {"first example", 3, 3, {4, 1, 3, 2, 0, 5, 3, 2, 2}, {2, 1, 3}, 5},
        {"-inf is a forbidden pair", 2, 2, {-inf, 1, 2, 3}, {2, 1}, 3},
        {"forbidden pairs avoided", 2, 2, {1, inf, inf, 2}, {1, 2}, 3},
        {"row reachable only through inf", 2, 2, {1, inf, inf, inf}, {1, 0}, 1},
        {"column of inf", 2, 2, {inf, 1, inf, 2}, {2, 0}, 1},
        {"no finite element", 2, 2, {inf, -inf, inf, inf}, {0, 0}, 0},
        {"NaN only", 2, 3, {nan, nan, nan, nan, nan, nan}, {0, 0}, 0},
        {"more rows than columns", 3, 2, {5, 1, 1, 2, 0, 0}, {0, 1, 2}, 1},
        {"NaN not first in its row", 1, 2, {1, nan}, {1}, 1},
        {"NaN beside zeros", 2, 2, {0, nan, 1, 0}, {1, 2}, 0},
        {"-0.0 is a zero", 2, 2, {-0.0, 1, 1, -0.0}, {1, 2}, 0},
        {"empty 0 x 3", 0, 3, {}, {}, 0},
        {"empty 3 x 0", 3, 0, {}, {0, 0, 0}, 0},
        {"empty 0 x 0", 0, 0, {}, {}, 0},
        // The phases: which optimum the search reaches.
        {"sweep goes on past an uncovered column", 2, 3, {2, 1, 0, 3, 1, 0}, {2, 3}, 1},
        {"one shift", 3, 3, {2, 2, 1, 1, 1, 0, 0, 2, 2}, {2, 3, 1}, 2},
        {"which optimum", 3, 3, {0, 1, 1, 1, 1, 2, 1, 0, 1}, {3, 1, 2}, 2},
        {"path through two stars", 3, 3, {1, 0, 1, 2, 3, 0, 2, 1, 2}, {1, 3, 2}, 2},
        {"all zeros", 2, 2, {0, 0, 0, 0}, {1, 2}, 0},
        {"all ones", 3, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1}, {1, 2, 3}, 3},
        {"one row: first of tied minima", 1, 4, {3, 1, 1, 2}, {2}, 1},
        {"one column", 4, 1, {3, 1, 1, 2}, {0, 1, 0, 0}, 1},
        {"wide", 2, 3, {5, 1, 9, 1, 2, 3}, {2, 1}, 2},
    };
    // The outputs do not depend on how many the caller asked for.
    for (int nlhs : {2, 1, 0})
        for (const KnownAnswer& known : answers) checkAnswer(gateway, checks, known, nlhs);

    // The solver's refusals, from anywhere in the matrix; each unwinds from libmex.dll.
    checkMatrixError(gateway, checks, "negative first element", 2, 2, {-1, 2, 3, 4}, "",
                     negativeMessage);
    checkMatrixError(gateway, checks, "negative last element after inf and NaN", 2, 3,
                     {inf, nan, 1, 2, 3, -0.5}, "", negativeMessage);
    checkMatrixError(gateway, checks, "negative in a tall matrix", 3, 1, {0, -1e-300, 2}, "",
                     negativeMessage);
    checkMatrixError(gateway, checks, "NaN blocks the assignment", 2, 2, {nan, 1, nan, 2},
                     "pairsolve:nanBlocksAssignment", "NaN elements prevent a complete assignment.");
    checkMatrixError(gateway, checks, "forbidden value overflows", 2, 2, {1e308, inf, 1e308, inf},
                     "pairsolve:costOverflow",
                     "Matrix elements are too large to solve; scale the matrix down.");

    // An allocation that fails inside the solver: the error starts in libmx.dll, goes through
    // libmex.dll's error call, and the buffers already taken are released by the call scope.
    // A 65 x 64 matrix takes two blocks (its search is chosen after the check), and the second
    // fails.
    {
        std::vector<double> values(65 * 64);
        for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i * 7 % 13);
        mxArray* input = matrix(65, 64, values);
        const mxArray* inputs[] = {input};
        standin::failAllocation(2);
        Outcome outcome;
        call(gateway, outcome, 2, 1, inputs);
        standin::failAllocation(0);
        checkError(checks, "allocation failure", outcome, "pairsolve:outOfMemory",
                   "Not enough memory for a matrix of this size.");
        mxDestroyArray(input);
    }

    // The gateway's own input checks.
    {
        mxArray* input = matrix(1, 2, {1, 2});
        const mxArray* two[] = {input, input};
        Outcome none, extraInput;
        call(gateway, none, 1, 0, nullptr);
        checkError(checks, "no input", none, "pairsolve:nargin", "");
        call(gateway, extraInput, 1, 2, two);
        checkError(checks, "two inputs", extraInput, "pairsolve:nargin", "");
        mxArray* room[3] = {nullptr, nullptr, nullptr};
        {
            standin::CallScope scope;
            try {
                gateway(3, room, 1, two);
                checks.expect(false, "three outputs", "returned instead of failing");
            } catch (const pairsolve::Error& error) {
                checks.expect(error.identifier() == "pairsolve:nargout", "three outputs",
                              "identifier '" + error.identifier() + "'");
            }
        }
        for (mxArray* output : room)
            if (output != nullptr) mxDestroyArray(output);
        mxDestroyArray(input);
    }
    {
        const mwSize dims2[] = {2, 2}, dims3[] = {2, 2, 2};
        mxArray* single = mxCreateNumericArray(2, dims2, mxSINGLE_CLASS, mxREAL);
        mxArray* complex = mxCreateDoubleMatrix(2, 2, mxCOMPLEX);
        mxArray* sparse = mxCreateSparse(2, 2, 1, mxREAL);
        mxArray* cube = mxCreateNumericArray(3, dims3, mxDOUBLE_CLASS, mxREAL);
        struct Refused {
            const char* what;
            mxArray* input;
            const char* identifier;
        } refused[] = {{"single input", single, "pairsolve:inputType"},
                       {"complex input", complex, "pairsolve:inputType"},
                       {"sparse input", sparse, "pairsolve:inputType"},
                       {"three dimensions", cube, "pairsolve:inputSize"}};
        for (const Refused& r : refused) {
            const mxArray* inputs[] = {r.input};
            Outcome outcome;
            call(gateway, outcome, 2, 1, inputs);
            checkError(checks, r.what, outcome, r.identifier, "");
            mxDestroyArray(r.input);
        }
    }

    std::printf("%s: %d checks, %d failed\n", modulePath, checks.count(), checks.failures());
    return checks.failures() == 0 && checks.count() > 0 ? 0 : 1;
}

// A fixed series of matrices whose results depend on every rounding: fractions of mixed
// magnitude, ties, forbidden pairs and NaN. splitmix64 keeps the series the same on every
// platform and library.
class Series {
public:
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }  // [0, 1)
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }

private:
    std::uint64_t state_ = 20240601;
};

double element(Series& series, int kind) {
    switch (kind) {
    case 0: return series.below(10);  // small integers: many ties
    case 1: return series.unit() * 100;
    case 2: return series.unit() * std::ldexp(1.0, series.below(60) - 30);  // mixed magnitudes
    default: {
        const int pick = series.below(100);
        if (pick < 10) return inf;
        if (pick < 13) return -inf;
        if (pick < 15) return nan;
        return series.unit() * 10;
    }
    }
}

std::string bits(double value) {
    std::uint64_t pattern;
    std::memcpy(&pattern, &value, sizeof pattern);
    char text[24];
    std::snprintf(text, sizeof text, "%016" PRIx64, pattern);
    return text;
}

int printResults(Gateway gateway) {
    Series series;
    for (int k = 0; k < 600; ++k) {
        const bool large = k % 50 == 49;
        const mwSize rows = large ? 20 + series.below(20) : 1 + series.below(9);
        const mwSize cols = large ? 20 + series.below(20) : 1 + series.below(9);
        const int kind = k % 4;
        std::vector<double> rowMajor(rows * cols);
        for (double& value : rowMajor) value = element(series, kind);
        mxArray* input = matrix(rows, cols, rowMajor);
        const mxArray* inputs[] = {input};
        Outcome outcome;
        call(gateway, outcome, 2, 1, inputs);
        std::printf("%d %dx%d:", k, static_cast<int>(rows), static_cast<int>(cols));
        if (outcome.failed) {
            std::printf(" error %s\n", outcome.identifier.c_str());
        } else {
            const double* assignment = mxGetPr(outcome.outputs[0]);
            for (mwSize r = 0; r < rows; ++r) std::printf(" %g", assignment[r]);
            std::printf(" cost %s\n", bits(mxGetPr(outcome.outputs[1])[0]).c_str());
        }
        mxDestroyArray(input);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* exportName = "_mexFunction";
    bool results = false;
    bool usable = argc >= 2;
    for (int i = 2; usable && i < argc; ++i) {
        if (std::strcmp(argv[i], "--results") == 0 && !results)
            results = true;
        else if (std::strcmp(argv[i], "--export") == 0 && i + 1 < argc)
            exportName = argv[++i];
        else
            usable = false;
    }
    if (!usable) {
        std::printf("usage: %s <module> [--export <name>] [--results]\n", argv[0]);
        return 2;
    }
    const Gateway gateway = loadGateway(argv[1], exportName);
    if (gateway == nullptr) return 2;
    if (results) return printResults(gateway);
    const std::string what = std::string(argv[1]) + " through " + exportName;
    return checkKnownAnswers(gateway, what.c_str());
}
