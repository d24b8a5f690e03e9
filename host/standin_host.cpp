// The stand-in host's libmx part: allocation tracked per thread and per call, and a minimal
// mxArray. The error calls (the libmex part) are in standin_mex.cpp. See standin_host.h for the
// effects both keep.
#include "standin_host.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

// Linked into the library, everything here is a member of pairsolve::standin. Built as libmx.dll,
// the host's names are the C names a module imports, and only the bookkeeping is namespaced.
#if defined(PAIRSOLVE_STANDIN_DLLS)
#define PAIRSOLVE_C_NAMES_BEGIN extern "C" {
#define PAIRSOLVE_C_NAMES_END }
#define PAIRSOLVE_BOOKKEEPING_BEGIN \
    namespace pairsolve {           \
    namespace standin {
#define PAIRSOLVE_BOOKKEEPING_END \
    }                             \
    }
#else
#define PAIRSOLVE_C_NAMES_BEGIN
#define PAIRSOLVE_C_NAMES_END
#define PAIRSOLVE_BOOKKEEPING_BEGIN
#define PAIRSOLVE_BOOKKEEPING_END
namespace pairsolve {
namespace standin {
#endif

namespace {

// Every buffer is preceded by a header that links it into its thread's list of live buffers,
// so a call scope can find and release what its call still holds.
struct Block {
    Block* prev;
    Block* next;
    std::uint64_t serial;  // the call scope it belongs to; 0 outside any scope
    std::uint64_t magic;
};

constexpr std::uint64_t blockMagic = 0x70616972736f6c76ull;  // "pairsolv"
// The header is padded so the buffer behind it keeps the alignment malloc gives.
constexpr std::size_t headerSize =
    (sizeof(Block) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
    alignof(std::max_align_t);

struct ThreadState {
    Block list{&list, &list, 0, 0};  // sentinel of a circular list
    std::size_t live = 0;
    std::uint64_t made = 0;
    std::uint64_t failAt = 0;  // allocation number that fails; 0 = none
    std::uint64_t currentSerial = 0;
    std::uint64_t lastSerial = 0;
};

thread_local ThreadState threadState;

[[noreturn]] void outOfMemory() {
    mexErrMsgIdAndTxt("pairsolve:outOfMemory", "Not enough memory for a matrix of this size.");
}

void* allocate(std::size_t byteCount, bool zeroed) {
    ThreadState& state = threadState;
    ++state.made;
    if (state.failAt != 0 && state.made == state.failAt) {
        state.failAt = 0;
        outOfMemory();
    }
    if (byteCount > std::numeric_limits<std::size_t>::max() - headerSize) outOfMemory();
    void* raw = zeroed ? std::calloc(1, headerSize + byteCount) : std::malloc(headerSize + byteCount);
    if (raw == nullptr) outOfMemory();
    Block* block = static_cast<Block*>(raw);
    block->serial = state.currentSerial;
    block->magic = blockMagic;
    block->prev = &state.list;
    block->next = state.list.next;
    state.list.next->prev = block;
    state.list.next = block;
    ++state.live;
    return static_cast<unsigned char*>(raw) + headerSize;
}

void release(Block* block) {
    block->prev->next = block->next;
    block->next->prev = block->prev;
    block->magic = 0;
    --threadState.live;
    std::free(block);
}

}  // namespace

PAIRSOLVE_C_NAMES_BEGIN

void* mxMalloc(mwSize byteCount) { return allocate(byteCount, false); }

void* mxCalloc(mwSize count, mwSize elementSize) {
    if (elementSize != 0 && count > std::numeric_limits<std::size_t>::max() / elementSize) {
        ++threadState.made;
        outOfMemory();
    }
    return allocate(count * elementSize, true);
}

void mxFree(void* buffer) {
    if (buffer == nullptr) return;
    Block* block = reinterpret_cast<Block*>(static_cast<unsigned char*>(buffer) - headerSize);
    if (block->magic != blockMagic) {
        // Freeing what the allocator never gave out would corrupt the heap; stop loudly.
        std::fputs("stand-in host: mxFree of a buffer that is not live\n", stderr);
        std::abort();
    }
    release(block);
}

bool mxIsFinite(double value) { return std::isfinite(value); }
bool mxIsInf(double value) { return std::isinf(value); }
bool mxIsNaN(double value) { return std::isnan(value); }
double mxGetInf(void) { return std::numeric_limits<double>::infinity(); }

PAIRSOLVE_C_NAMES_END

PAIRSOLVE_BOOKKEEPING_BEGIN

CallScope::CallScope() : serial_(++threadState.lastSerial), outerSerial_(threadState.currentSerial) {
    threadState.currentSerial = serial_;
}

CallScope::~CallScope() {
    ThreadState& state = threadState;
    for (Block* block = state.list.next; block != &state.list;) {
        Block* next = block->next;
        if (block->serial == serial_) release(block);
        block = next;
    }
    state.currentSerial = outerSerial_;
}

std::size_t CallScope::held() const {
    std::size_t count = 0;
    for (const Block* block = threadState.list.next; block != &threadState.list; block = block->next)
        if (block->serial == serial_) ++count;
    return count;
}

std::size_t liveAllocations() { return threadState.live; }
std::uint64_t allocationsMade() { return threadState.made; }
void failAllocation(std::uint64_t k) { threadState.failAt = k == 0 ? 0 : threadState.made + k; }

PAIRSOLVE_BOOKKEEPING_END

// ---- Minimal mxArray -------------------------------------------------------------------------

struct mxArray_tag {
    mxClassID classId;
    bool complex;
    bool sparse;
    std::vector<mwSize> dims;
    std::vector<double> real;  // the real part's storage, whatever the class
};

namespace {

std::size_t elementSize(mxClassID classId) {
    switch (classId) {
    case mxDOUBLE_CLASS:
    case mxINT64_CLASS:
    case mxUINT64_CLASS: return 8;
    case mxSINGLE_CLASS:
    case mxINT32_CLASS:
    case mxUINT32_CLASS: return 4;
    case mxINT16_CLASS:
    case mxUINT16_CLASS:
    case mxCHAR_CLASS: return 2;
    case mxINT8_CLASS:
    case mxUINT8_CLASS:
    case mxLOGICAL_CLASS: return 1;
    default: return 0;
    }
}

mwSize product(const std::vector<mwSize>& dims) {
    mwSize count = 1;
    for (mwSize d : dims) count *= d;
    return count;
}

mxArray* create(std::vector<mwSize> dims, mxClassID classId, bool complex, bool sparse) {
    // Trailing singleton dimensions beyond the second are dropped, as a host does.
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    while (dims.size() < 2) dims.push_back(dims.empty() ? 0 : 1);
    mxArray* array = new mxArray_tag{classId, complex, sparse, dims, {}};
    const std::size_t bytes = product(dims) * elementSize(classId);
    array->real.assign((bytes + 7) / 8, 0.0);
    return array;
}

}  // namespace

PAIRSOLVE_C_NAMES_BEGIN

mxArray* mxCreateDoubleMatrix(mwSize rows, mwSize cols, mxComplexity complexity) {
    return create({rows, cols}, mxDOUBLE_CLASS, complexity == mxCOMPLEX, false);
}

mxArray* mxCreateDoubleScalar(double value) {
    mxArray* array = create({1, 1}, mxDOUBLE_CLASS, false, false);
    array->real[0] = value;
    return array;
}

mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classId,
                              mxComplexity complexity) {
    return create(std::vector<mwSize>(dims, dims + ndim), classId, complexity == mxCOMPLEX, false);
}

mxArray* mxCreateSparse(mwSize rows, mwSize cols, mwSize /*nzmax*/, mxComplexity complexity) {
    // Only the flags matter to the gateway, which refuses sparse input before reading data.
    mxArray* array = create({0, 0}, mxDOUBLE_CLASS, complexity == mxCOMPLEX, true);
    array->dims = {rows, cols};
    return array;
}

void mxDestroyArray(mxArray* array) { delete array; }
mwSize mxGetM(const mxArray* array) { return array->dims[0]; }
mwSize mxGetN(const mxArray* array) {
    // As a host does, the columns of an N-d array are all dimensions after the first.
    mwSize count = 1;
    for (std::size_t i = 1; i < array->dims.size(); ++i) count *= array->dims[i];
    return count;
}
mwSize mxGetNumberOfDimensions(const mxArray* array) { return array->dims.size(); }
const mwSize* mxGetDimensions(const mxArray* array) { return array->dims.data(); }
mwSize mxGetNumberOfElements(const mxArray* array) { return product(array->dims); }
double* mxGetPr(const mxArray* array) {
    return array->real.empty() ? nullptr : const_cast<double*>(array->real.data());
}
void* mxGetData(const mxArray* array) { return mxGetPr(array); }
mxClassID mxGetClassID(const mxArray* array) { return array->classId; }

const char* mxGetClassName(const mxArray* array) {
    switch (array->classId) {
    case mxCELL_CLASS: return "cell";
    case mxSTRUCT_CLASS: return "struct";
    case mxLOGICAL_CLASS: return "logical";
    case mxCHAR_CLASS: return "char";
    case mxDOUBLE_CLASS: return "double";
    case mxSINGLE_CLASS: return "single";
    case mxINT8_CLASS: return "int8";
    case mxUINT8_CLASS: return "uint8";
    case mxINT16_CLASS: return "int16";
    case mxUINT16_CLASS: return "uint16";
    case mxINT32_CLASS: return "int32";
    case mxUINT32_CLASS: return "uint32";
    case mxINT64_CLASS: return "int64";
    case mxUINT64_CLASS: return "uint64";
    case mxFUNCTION_CLASS: return "function_handle";
    default: return "unknown";
    }
}

bool mxIsDouble(const mxArray* array) { return array->classId == mxDOUBLE_CLASS; }
bool mxIsComplex(const mxArray* array) { return array->complex; }
bool mxIsSparse(const mxArray* array) { return array->sparse; }

PAIRSOLVE_C_NAMES_END

#if !defined(PAIRSOLVE_STANDIN_DLLS)
}  // namespace standin
}  // namespace pairsolve
#endif
