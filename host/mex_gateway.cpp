// The module's entry point: [assignment, cost] = pairsolve(costMatrix).
//
// It checks what it was handed, creates the outputs and lets the solver fill them in place. The
// checks come first because the solver reads the input as a plain M x N block of doubles: anything
// else (no input, sparse, complex, another class, more dimensions) would make it read outside the
// data the host gave us. The messages do not start with the function's name: Octave puts
// "pairsolve: " in front of them, and MATLAB names the function on a line of its own.
#include <cstdint>
#include <limits>

#include "assignment_solver.h"
#include "host_services.h"

namespace pairsolve {

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 1)
        mexErrMsgIdAndTxt("pairsolve:nargin",
                          "Exactly one input is expected, the cost matrix (got %d).", nrhs);
    if (nlhs > 2)
        mexErrMsgIdAndTxt("pairsolve:nargout",
                          "At most two outputs are returned, the assignment and the cost "
                          "(%d requested).",
                          nlhs);

    const mxArray* input = prhs[0];
    if (!mxIsDouble(input) || mxIsComplex(input) || mxIsSparse(input))
        mexErrMsgIdAndTxt("pairsolve:inputType",
                          "The cost matrix must be a real, full matrix of class double "
                          "(got class %s%s%s).",
                          mxGetClassName(input), mxIsSparse(input) ? ", sparse" : "",
                          mxIsComplex(input) ? ", complex" : "");
    if (mxGetNumberOfDimensions(input) > 2)
        mexErrMsgIdAndTxt("pairsolve:inputSize",
                          "The cost matrix must be two-dimensional (got %d dimensions).",
                          static_cast<int>(mxGetNumberOfDimensions(input)));
    // The solver counts rows and columns in 32-bit signed integers; refuse rather than truncate.
    const std::size_t rows = mxGetM(input), cols = mxGetN(input);
    const std::size_t limit = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
    if (rows > limit || cols > limit)
        mexErrMsgIdAndTxt("pairsolve:inputSize",
                          "The cost matrix has %.0f rows and %.0f columns; at most %.0f of each "
                          "are supported.",
                          static_cast<double>(rows), static_cast<double>(cols),
                          static_cast<double>(limit));

    plhs[0] = mxCreateDoubleMatrix(rows, 1, mxREAL);
    // A host promises room only for the outputs it asked for; without a second one the cost is
    // still computed, into a local.
    double unusedCost = 0;
    double* cost = &unusedCost;
    if (nlhs >= 2) {
        plhs[1] = mxCreateDoubleScalar(0);
        cost = mxGetPr(plhs[1]);
    }
    solveAssignment(mxGetPr(plhs[0]), cost, mxGetPr(input), static_cast<std::int32_t>(rows),
                    static_cast<std::int32_t>(cols));
}

}  // namespace pairsolve

#if defined(MATLAB_MEX_FILE) || defined(PAIRSOLVE_STANDIN_DLLS)
// The entry the host looks up in the module, under the host's C name.
extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    pairsolve::mexFunction(nlhs, plhs, nrhs, prhs);
}
#endif
