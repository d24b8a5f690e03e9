// The lane layer: the two-double vectors the solver's column loops work in, and the loops that
// more than one stage runs (the first row passing a test, the least over a range of rows, the k
// smallest of what is offered), written once.
//
// Every primitive has its scalar twin beside it. The lane build (GCC and Clang: vector types, and
// SSE2's own instructions where the target has them) and the scalar build (every other compiler,
// MSVC among them, and any build with PAIRSOLVE_SCALAR_KERNELS) run the same loops and make on
// each lane the very same IEEE operation, so both give the same bits. The compiler does not
// vectorise these loops by itself: under IEEE rules it may neither reorder a minimum nor
// interleave chains.
#ifndef PAIRSOLVE_KERNELS_H
#define PAIRSOLVE_KERNELS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__GNUC__) && !defined(PAIRSOLVE_SCALAR_KERNELS)
#define PAIRSOLVE_LANES 1
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#endif

#if defined(__GNUC__)
// For the lambdas and parts of long loops: inlined wherever they are called, which the compiler
// does not always do by itself in the longest functions (a call a pair costs the chains their
// registers).
#define PAIRSOLVE_INLINED __attribute__((always_inline))
#define PAIRSOLVE_NOINLINE __attribute__((noinline))
#else
#define PAIRSOLVE_INLINED
#define PAIRSOLVE_NOINLINE
#endif

namespace pairsolve {

using Index = std::ptrdiff_t;

namespace kernels {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr Index none = -1;                                  // no row, no column
constexpr Index never = std::numeric_limits<Index>::max();  // a count that is never reached

#if defined(PAIRSOLVE_LANES)
constexpr bool lanes = true;
#else
constexpr bool lanes = false;
#endif

inline int lowestSetBit(std::uint64_t word) {
#if defined(__GNUC__)
    return __builtin_ctzll(word);
#else
    int bit = 0;
    while (!(word & 1)) {
        word >>= 1;
        ++bit;
    }
    return bit;
#endif
}

// Passes that stream through the caller's matrix ask for the cache line 4 KiB ahead of the
// element they read: the matrix is rarely in cache when a call starts, and the hardware's own
// prefetching alone left these loops waiting on memory for about half their time. A hint only:
// it reads nothing, cannot fault (past the end of the matrix included: the address is formed as
// an integer, not as a pointer into the matrix), and changes no value.
inline void prefetchAhead(const double* p) {
#if defined(__GNUC__)
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(p) + 4096));
#else
    (void)p;
#endif
}

// --- Two lanes: a Pair of doubles, and a PairMask of two lanes all ones (set) or all zeros.

#if defined(PAIRSOLVE_LANES)
typedef double Pair __attribute__((vector_size(16)));
typedef std::int64_t PairMask __attribute__((vector_size(16)));

inline Pair pairOf(double a, double b) { return Pair{a, b}; }
inline PairMask bitsOf(Pair v) { return (PairMask)v; }
inline Pair pairFromBits(PairMask m) { return (Pair)m; }
#else
// The scalar twin: the same lanes, one after the other.
struct Pair {
    double lane[2];
    double operator[](int i) const { return lane[i]; }
};
struct PairMask {
    std::int64_t lane[2];
};

inline Pair pairOf(double a, double b) { return Pair{{a, b}}; }
inline PairMask maskOf(bool a, bool b) { return PairMask{{a ? -1 : 0, b ? -1 : 0}}; }
inline PairMask bitsOf(Pair v) {
    PairMask m;
    std::memcpy(&m, &v, sizeof m);
    return m;
}
inline Pair pairFromBits(PairMask m) {
    Pair v;
    std::memcpy(&v, &m, sizeof v);
    return v;
}
inline Pair operator+(Pair a, Pair b) { return pairOf(a[0] + b[0], a[1] + b[1]); }
inline Pair operator-(Pair a, Pair b) { return pairOf(a[0] - b[0], a[1] - b[1]); }
inline Pair operator*(Pair a, Pair b) { return pairOf(a[0] * b[0], a[1] * b[1]); }
inline PairMask operator==(Pair a, Pair b) { return maskOf(a[0] == b[0], a[1] == b[1]); }
inline PairMask operator!=(Pair a, Pair b) { return maskOf(a[0] != b[0], a[1] != b[1]); }
inline PairMask operator<(Pair a, Pair b) { return maskOf(a[0] < b[0], a[1] < b[1]); }
inline PairMask operator>(Pair a, Pair b) { return maskOf(a[0] > b[0], a[1] > b[1]); }
inline PairMask operator<=(Pair a, Pair b) { return maskOf(a[0] <= b[0], a[1] <= b[1]); }
inline PairMask operator>=(Pair a, Pair b) { return maskOf(a[0] >= b[0], a[1] >= b[1]); }
inline PairMask operator~(PairMask m) { return PairMask{{~m.lane[0], ~m.lane[1]}}; }
inline PairMask operator&(PairMask a, PairMask b) {
    return PairMask{{a.lane[0] & b.lane[0], a.lane[1] & b.lane[1]}};
}
inline PairMask operator|(PairMask a, PairMask b) {
    return PairMask{{a.lane[0] | b.lane[0], a.lane[1] | b.lane[1]}};
}
#endif

inline Pair load(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store(double* p, Pair v) { std::memcpy(p, &v, sizeof v); }
inline Pair both(double x) { return pairOf(x, x); }

// a where mask is all ones, b where it is zero: a bitwise choice, no arithmetic on either.
inline Pair pick(PairMask mask, Pair a, Pair b) {
#if defined(PAIRSOLVE_LANES) && defined(__SSE2__)
    // Spelt out, as the compiler may otherwise make it a conditional move per lane.
    const __m128d m = (__m128d)mask;
    return (Pair)_mm_or_pd(_mm_and_pd(m, (__m128d)a), _mm_andnot_pd(m, (__m128d)b));
#else
    return pairFromBits((mask & bitsOf(a)) | (~mask & bitsOf(b)));
#endif
}

// On each lane `least > x ? x : least`: x where it is below least, else least (on a tie, and
// where either is NaN). SSE2's minpd makes exactly this choice; maxpd makes greater's,
// `most < x ? x : most`.
inline Pair lesser(Pair x, Pair least) {
#if defined(PAIRSOLVE_LANES) && defined(__SSE2__)
    return (Pair)_mm_min_pd((__m128d)x, (__m128d)least);
#else
    return pick(least > x, x, least);
#endif
}
inline Pair greater(Pair x, Pair most) {
#if defined(PAIRSOLVE_LANES) && defined(__SSE2__)
    return (Pair)_mm_max_pd((__m128d)x, (__m128d)most);
#else
    return pick(most < x, x, most);
#endif
}

// Lane masks: v >= bound, v <= bound, !(v > bound) (also set where either is NaN, as the scalar
// test is), and two masks combined. Spelt out under SSE2 (cmppd, andpd, orpd), as the compiler
// may otherwise combine such masks lane by lane.
#if defined(PAIRSOLVE_LANES) && defined(__SSE2__)
inline __m128d sse(Pair v) { return (__m128d)v; }
inline __m128d sse(PairMask m) { return (__m128d)m; }
inline PairMask atLeast(Pair v, Pair bound) { return (PairMask)_mm_cmpge_pd(sse(v), sse(bound)); }
inline PairMask atMost(Pair v, Pair bound) { return (PairMask)_mm_cmple_pd(sse(v), sse(bound)); }
inline PairMask notAbove(Pair v, Pair bound) { return (PairMask)_mm_cmpngt_pd(sse(v), sse(bound)); }
inline PairMask bothOf(PairMask a, PairMask b) { return (PairMask)_mm_and_pd(sse(a), sse(b)); }
inline PairMask eitherOf(PairMask a, PairMask b) { return (PairMask)_mm_or_pd(sse(a), sse(b)); }
// Set on each lane where a or b is NaN (cmpunordpd).
inline PairMask eitherNaN(Pair a, Pair b) { return (PairMask)_mm_cmpunord_pd(sse(a), sse(b)); }
// Bit i set where lane i of the mask is set (movmskpd).
inline int laneBits(PairMask mask) { return _mm_movemask_pd(sse(mask)); }
#else
inline PairMask atLeast(Pair v, Pair bound) { return v >= bound; }
inline PairMask atMost(Pair v, Pair bound) { return v <= bound; }
inline PairMask notAbove(Pair v, Pair bound) { return ~(v > bound); }
inline PairMask bothOf(PairMask a, PairMask b) { return a & b; }
inline PairMask eitherOf(PairMask a, PairMask b) { return a | b; }
inline PairMask eitherNaN(Pair a, Pair b) { return (a != a) | (b != b); }
#if defined(PAIRSOLVE_LANES)
inline int laneBits(PairMask mask) { return (mask[0] != 0 ? 1 : 0) | (mask[1] != 0 ? 2 : 0); }
#else
inline int laneBits(PairMask mask) {
    return (mask.lane[0] != 0 ? 1 : 0) | (mask.lane[1] != 0 ? 2 : 0);
}
#endif
#endif

// --- Kernels.

// The first index from `from` on, below end, at which the test holds, or end. `width` indexes a
// step in lanes, where most fail (a step in which one holds ends the lanes, and the index is
// found one at a time), then one at a time. test.pair(i) tests i and i + 1, test.at(i) tests i:
// the same test.
template <int width, class Test>
PAIRSOLVE_INLINED inline Index firstWhere(Index from, Index end, const Test& test) {
    Index i = from;
    for (; i + width <= end; i += width) {
        PairMask any = test.pair(i);
        for (int k = 2; k < width; k += 2) any = eitherOf(any, test.pair(i + k));
        if (laneBits(any) != 0) break;
    }
    while (i < end && !test.at(i)) ++i;
    return i;
}

// `least > x ? x : least` over the lanes of `chains` pairs side by side, independent chains of
// minpd, then over all lanes (with most, `most < x ? x : most`, maxpd). A NaN is never taken, and
// ties differ at most in the sign of a zero: the value is the same in any order.
template <int chains, bool most = false>
struct LanesExtreme {
    Pair lane[chains];

    LanesExtreme() : LanesExtreme(most ? -infinity : infinity) {}
    explicit LanesExtreme(double start) {
        for (int k = 0; k < chains; ++k) lane[k] = both(start);
    }
    PAIRSOLVE_INLINED void take(int k, Pair x) {
        lane[k] = most ? greater(x, lane[k]) : lesser(x, lane[k]);
    }
    PAIRSOLVE_INLINED double value() {
        for (int step = 1; step < chains; step *= 2)
            for (int k = 0; k + step < chains; k += 2 * step) take(k, lane[k + step]);
        const double a = lane[0][0], b = lane[0][1];
        return most ? (a < b ? b : a) : (b < a ? b : a);
    }
};
template <int chains>
using LanesLeast = LanesExtreme<chains, false>;
template <int chains>
using LanesMost = LanesExtreme<chains, true>;

// The least of values.pair / values.at over [from, end), from start, as LanesLeast takes it:
// `chains` pairs a step, then one at a time.
template <int chains, class Values>
PAIRSOLVE_INLINED inline double leastOf(Index from, Index end, const Values& values,
                                        double start = infinity) {
    LanesLeast<chains> lanes(start);
    Index i = from;
    for (; i + 2 * chains <= end; i += 2 * chains)
        for (int k = 0; k < chains; ++k) lanes.take(k, values.pair(i + 2 * k));
    double least = lanes.value();
    for (; i < end; ++i)
        if (least > values.at(i)) least = values.at(i);
    return least;
}

// The least of a block of `count` rows from r (a multiple of 8, known when compiled: the loops
// unroll), values that are never NaN, in four chains.
template <int count, class Values>
PAIRSOLVE_INLINED inline double leastOfBlock(Index r, const Values& values) {
    static_assert(count % 8 == 0 && count > 0, "whole steps of four pairs");
    LanesLeast<4> lanes;
    for (int k = 0; k < 4; ++k) lanes.lane[k] = values.pair(r + 2 * k);
    for (int i = 8; i < count; i += 8)
        for (int k = 0; k < 4; ++k) lanes.take(k, values.pair(r + i + 2 * k));
    return lanes.value();
}

// The k smallest values offered, in ascending order, each with its tag; among equal values the
// one offered first comes first, and a value not below the last of a full list does not enter.
template <int k, class Tag>
struct Smallest {
    double value[k];
    Tag tag[k];
    int count = 0;

    // Starts full of v: then only what is below v enters, and tags a place none entered.
    void fill(double v, Tag t) {
        for (int i = 0; i < k; ++i) {
            value[i] = v;
            tag[i] = t;
        }
        count = k;
    }
    bool full() const { return count == k; }
    // The i-th smallest, +inf where fewer were offered.
    double at(int i) const { return i < count ? value[i] : infinity; }
    PAIRSOLVE_INLINED void offer(double v, Tag t) {
        if (count == k && !(v < value[k - 1])) return;
        int i = count < k ? count++ : k - 1;
        for (; i > 0 && value[i - 1] > v; --i) {
            value[i] = value[i - 1];
            tag[i] = tag[i - 1];
        }
        value[i] = v;
        tag[i] = t;
    }
};

}  // namespace kernels
}  // namespace pairsolve

#endif
