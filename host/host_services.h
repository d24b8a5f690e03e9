// The host operations the solver and the gateway rely on, behind one name.
//
// A MEX build gets the host's own mex.h: MATLAB's mex command defines MATLAB_MEX_FILE, and our
// Octave builds (cmake/octave.cmake, build_pairsolve.m) pass it, since mkoctfile --mex does not.
// Every other build gets the stand-in, which keeps the same effects: buffers from the
// allocator are released when a call ends with an error, and the error calls never return.
#ifndef PAIRSOLVE_HOST_SERVICES_H
#define PAIRSOLVE_HOST_SERVICES_H

#if defined(MATLAB_MEX_FILE)
#include "mex.h"
#else
#include "standin_host.h"
#endif

#endif
