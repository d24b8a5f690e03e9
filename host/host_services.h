// The host operations the solver and the gateway rely on, behind one name.
//
// A MEX build gets the host's own mex.h: MATLAB's mex command defines MATLAB_MEX_FILE, and our
// Octave builds (cmake/octave.cmake, build_pairsolve.m) pass it, since mkoctfile --mex does not.
// Every other build gets the stand-in, which keeps the same effects: buffers from the
// allocator are released when a call ends with an error, and the error calls never return.
//
// The solver and the gateway are written in namespace pairsolve and call the host unqualified
// (mxMalloc(...)): that finds the host's global names in a MEX build and in the Windows module,
// and the stand-in's members of pairsolve::standin in the C++ library.
#ifndef PAIRSOLVE_HOST_SERVICES_H
#define PAIRSOLVE_HOST_SERVICES_H

#if defined(MATLAB_MEX_FILE)
#include "mex.h"
#else
#include "standin_host.h"
#if !defined(PAIRSOLVE_STANDIN_DLLS)
namespace pairsolve {
using namespace standin;
}
#endif
#endif

namespace pairsolve {

// The gateway (mex_gateway.cpp). In a module it is also the global mexFunction the host looks up;
// linked into a program with the stand-in host it is only this.
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

}  // namespace pairsolve

#endif
