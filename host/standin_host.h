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
#ifndef PAIRSOLVE_STANDIN_HOST_H
#define PAIRSOLVE_STANDIN_HOST_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

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

extern "C" {

// Memory. Buffers belong to the innermost open call scope of the thread that took them.
void* mxMalloc(mwSize byteCount);
void* mxCalloc(mwSize count, mwSize elementSize);
void mxFree(void* buffer);

// Numbers.
bool mxIsFinite(double value);
bool mxIsInf(double value);
bool mxIsNaN(double value);
double mxGetInf(void);

// Errors: both end the call by throwing pairsolve::Error; they never return.
[[noreturn]] void mexErrMsgTxt(const char* message);
[[noreturn]] void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...);

// Arrays. The caller owns what it creates and gives it back with mxDestroyArray.
mxArray* mxCreateDoubleMatrix(mwSize rows, mwSize cols, mxComplexity complexity);
mxArray* mxCreateDoubleScalar(double value);
mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classId,
                              mxComplexity complexity);
mxArray* mxCreateSparse(mwSize rows, mwSize cols, mwSize nzmax, mxComplexity complexity);
void mxDestroyArray(mxArray* array);
mwSize mxGetM(const mxArray* array);
mwSize mxGetN(const mxArray* array);
mwSize mxGetNumberOfDimensions(const mxArray* array);
const mwSize* mxGetDimensions(const mxArray* array);
mwSize mxGetNumberOfElements(const mxArray* array);
double* mxGetPr(const mxArray* array);
void* mxGetData(const mxArray* array);
mxClassID mxGetClassID(const mxArray* array);
const char* mxGetClassName(const mxArray* array);
bool mxIsDouble(const mxArray* array);
bool mxIsComplex(const mxArray* array);
bool mxIsSparse(const mxArray* array);

// The gateway a module exports; the host calls it once per invocation.
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
}

namespace pairsolve {

// What a host error call carries: the identifier (empty for mexErrMsgTxt) and the message.
class Error : public std::runtime_error {
public:
    Error(std::string identifier, const std::string& message)
        : std::runtime_error(message), identifier_(std::move(identifier)) {}
    const std::string& identifier() const noexcept { return identifier_; }

private:
    std::string identifier_;
};

}  // namespace pairsolve

namespace standin {

// One host call on this thread. Every buffer taken while it is the innermost open scope belongs
// to it; whatever the call still holds when the scope closes (normally after an error) is
// released then, as a host releases a MEX call's memory.
class CallScope {
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
std::size_t liveAllocations();

// Allocations this thread has made since it started (successful or failed).
std::uint64_t allocationsMade();

// Makes the k-th allocation from now on this thread fail as if memory were exhausted (k counts
// from 1; 0 turns the failure off). The failure fires once.
void failAllocation(std::uint64_t k);

}  // namespace standin

#endif
