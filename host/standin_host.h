// The stand-in host: the MEX operations pairsolve uses, for builds without MATLAB or Octave.
//
// It keeps the effects the solver and the gateway rely on:
// - mexErrMsgTxt and mexErrMsgIdAndTxt never return; they throw pairsolve::Error.
// - mxMalloc and mxCalloc never return null: an allocation that cannot be made ends the call
//   with the error "pairsolve:outOfMemory".
// - Like a real host, a call scope (standin::CallScope) releases every buffer the call still holds
//   when it ends, so a call that ends with an error leaks nothing.
// - All of this per thread: separate threads run separate calls and share nothing.
//
// The mxArray here is deliberately minimal: enough for the gateway and its tests.
//
// Where the host's names live. Linked into the C++ library, they are members of
// pairsolve::standin, so that a program can link the library beside a real host's libraries (or
// include a real mex.h) without two definitions of mxMalloc; host_services.h makes them visible to
// the solver's code in namespace pairsolve, whose calls read mxMalloc(...) either way. Built as
// the two DLLs a Windows host ships (PAIRSOLVE_STANDIN_DLLS), they are the host's C names, which
// the module imports.
#ifndef PAIRSOLVE_STANDIN_HOST_H
#define PAIRSOLVE_STANDIN_HOST_H

#include <cstddef>
#include <cstdint>

#include "pairsolve.h"

// On Windows the stand-in can also be built as the two DLLs a host ships: libmx.dll (memory,
// numbers, arrays and the standin:: bookkeeping) and libmex.dll (the error calls). A build that
// defines PAIRSOLVE_STANDIN_DLLS uses them through dllimport; the DLLs themselves are built with
// PAIRSOLVE_BUILDING_LIBMX or PAIRSOLVE_BUILDING_LIBMEX to export their half. Everywhere else the
// stand-in is linked statically and both macros are empty.
#if defined(_WIN32) && defined(PAIRSOLVE_STANDIN_DLLS)
#if defined(PAIRSOLVE_BUILDING_LIBMX)
#define PAIRSOLVE_MX_API __declspec(dllexport)
#else
#define PAIRSOLVE_MX_API __declspec(dllimport)
#endif
#if defined(PAIRSOLVE_BUILDING_LIBMEX)
#define PAIRSOLVE_MEX_API __declspec(dllexport)
#else
#define PAIRSOLVE_MEX_API __declspec(dllimport)
#endif
#else
#define PAIRSOLVE_MX_API
#define PAIRSOLVE_MEX_API
#endif

#if defined(PAIRSOLVE_STANDIN_DLLS)
#define PAIRSOLVE_HOST_NAMES_BEGIN extern "C" {
#define PAIRSOLVE_HOST_NAMES_END }
#else
#define PAIRSOLVE_HOST_NAMES_BEGIN \
    namespace pairsolve {          \
    namespace standin {
#define PAIRSOLVE_HOST_NAMES_END \
    }                            \
    }
#endif

PAIRSOLVE_HOST_NAMES_BEGIN

typedef std::size_t mwSize;
typedef std::size_t mwIndex;
typedef std::ptrdiff_t mwSignedIndex;

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

typedef struct mxArray_tag mxArray;

// Memory. Buffers belong to the innermost open call scope of the thread that took them.
PAIRSOLVE_MX_API void* mxMalloc(mwSize byteCount);
PAIRSOLVE_MX_API void* mxCalloc(mwSize count, mwSize elementSize);
PAIRSOLVE_MX_API void mxFree(void* buffer);

// Numbers.
PAIRSOLVE_MX_API bool mxIsFinite(double value);
PAIRSOLVE_MX_API bool mxIsInf(double value);
PAIRSOLVE_MX_API bool mxIsNaN(double value);
PAIRSOLVE_MX_API double mxGetInf(void);

// Errors: both end the call by throwing pairsolve::Error; they never return.
[[noreturn]] PAIRSOLVE_MEX_API void mexErrMsgTxt(const char* message);
[[noreturn]] PAIRSOLVE_MEX_API void mexErrMsgIdAndTxt(const char* identifier, const char* format,
                                                     ...);

// Arrays. The caller owns what it creates and gives it back with mxDestroyArray.
PAIRSOLVE_MX_API mxArray* mxCreateDoubleMatrix(mwSize rows, mwSize cols, mxComplexity complexity);
PAIRSOLVE_MX_API mxArray* mxCreateDoubleScalar(double value);
PAIRSOLVE_MX_API mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classId,
                                               mxComplexity complexity);
PAIRSOLVE_MX_API mxArray* mxCreateSparse(mwSize rows, mwSize cols, mwSize nzmax,
                                         mxComplexity complexity);
PAIRSOLVE_MX_API void mxDestroyArray(mxArray* array);
PAIRSOLVE_MX_API mwSize mxGetM(const mxArray* array);
PAIRSOLVE_MX_API mwSize mxGetN(const mxArray* array);
PAIRSOLVE_MX_API mwSize mxGetNumberOfDimensions(const mxArray* array);
PAIRSOLVE_MX_API const mwSize* mxGetDimensions(const mxArray* array);
PAIRSOLVE_MX_API mwSize mxGetNumberOfElements(const mxArray* array);
PAIRSOLVE_MX_API double* mxGetPr(const mxArray* array);
PAIRSOLVE_MX_API void* mxGetData(const mxArray* array);
PAIRSOLVE_MX_API mxClassID mxGetClassID(const mxArray* array);
PAIRSOLVE_MX_API const char* mxGetClassName(const mxArray* array);
PAIRSOLVE_MX_API bool mxIsDouble(const mxArray* array);
PAIRSOLVE_MX_API bool mxIsComplex(const mxArray* array);
PAIRSOLVE_MX_API bool mxIsSparse(const mxArray* array);

PAIRSOLVE_HOST_NAMES_END

namespace pairsolve {
namespace standin {

// One host call on this thread. Every buffer taken while it is the innermost open scope belongs
// to it; whatever the call still holds when the scope closes (normally after an error) is
// released then, as a host releases a MEX call's memory.
class PAIRSOLVE_MX_API CallScope {
public:
    CallScope();
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    // Buffers this call holds right now.
    std::size_t held() const;

private:
    std::uint64_t serial_;
    std::uint64_t outerSerial_;
};

// Buffers from mxMalloc/mxCalloc not yet released, over all scopes of this thread.
PAIRSOLVE_MX_API std::size_t liveAllocations();

// Allocations this thread has made since it started (successful or failed).
PAIRSOLVE_MX_API std::uint64_t allocationsMade();

// Makes the k-th allocation from now on this thread fail as if memory were exhausted (k counts
// from 1; 0 turns the failure off). The failure fires once.
PAIRSOLVE_MX_API void failAllocation(std::uint64_t k);

}  // namespace standin
}  // namespace pairsolve

#endif
