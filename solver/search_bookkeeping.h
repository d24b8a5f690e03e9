// What the two searches (munkres_phases.cpp and offset_search.cpp) share: the phase loop, the
// pending-column bit set, the flip of an augmenting path over the star indexes, and the two-lane
// vector type of the column kernels.
#ifndef PAIRSOLVE_SEARCH_BOOKKEEPING_H
#define PAIRSOLVE_SEARCH_BOOKKEEPING_H

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "assignment_solver.h"

namespace pairsolve {
namespace searchBookkeeping {

constexpr Index none = -1;
constexpr Index unknownRow = -2;  // a column minimum that must be gathered afresh

// The phase machine of a search whose phases are given: each returns the next phase, and this
// loop makes the transitions, from checkDone until done (or restart).
template <Phase (*primeZeros)(SolverState&, Index&, Index&),
          Phase (*augmentPath)(SolverState&, Index, Index), Phase (*coverStarColumns)(SolverState&),
          Phase (*shiftByMinimum)(SolverState&)>
Phase runPhaseLoop(SolverState& state) {
    Phase phase = Phase::checkDone;
    Index pathRow = 0, pathCol = 0;
    for (;;) {
        switch (phase) {
        case Phase::checkDone: phase = checkDone(state); break;
        case Phase::primeZeros: phase = primeZeros(state, pathRow, pathCol); break;
        case Phase::augmentPath: phase = augmentPath(state, pathRow, pathCol); break;
        case Phase::coverStarColumns: phase = coverStarColumns(state); break;
        case Phase::shiftByMinimum: phase = shiftByMinimum(state); break;
        case Phase::done:
        case Phase::restart: return phase;
        }
    }
}

// --- Pending columns: one bit per column.

inline void markPending(SolverState& state, Index c) {
    state.matching.pendingColumns[c / 64] |= std::uint64_t{1} << (c % 64);
}

inline void clearPending(SolverState& state, Index c) {
    state.matching.pendingColumns[c / 64] &= ~(std::uint64_t{1} << (c % 64));
}

inline void clearAllPending(SolverState& state) {
    const Index words = (state.colCount + 63) / 64;
    for (Index w = 0; w < words; ++w) state.matching.pendingColumns[w] = 0;
}

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

// The smallest pending column at or after from, or colCount. The bits are read as they are now,
// so a column marked ahead of a running sweep is found by it.
inline Index nextPending(const SolverState& state, Index from) {
    const Index cols = state.colCount;
    if (from >= cols) return cols;
    const Index words = (cols + 63) / 64;
    Index w = from / 64;
    std::uint64_t bits = state.matching.pendingColumns[w] & (~std::uint64_t{0} << (from % 64));
    while (bits == 0) {
        if (++w == words) return cols;
        bits = state.matching.pendingColumns[w];
    }
    return w * 64 + lowestSetBit(bits);
}

// Primes the zero (r, c) and returns the column of its row's star, or none: then the prime
// starts an augmenting path.
inline Index primeZero(SolverState& state, Index r, Index c) {
    state.matching.primeInRow[r] = c;
    solverTesting::record(state, solverTesting::Decision::prime, r, c, 0);
    return state.matching.starInRow[r];
}

// Covers row r, whose star is in column s, and uncovers that column.
inline void coverRow(SolverState& state, Index r, Index s) {
    state.rowCover[r] = 1;
    state.matching.rowExclusion[r] = std::numeric_limits<double>::infinity();
    state.matching.coveredRows[state.matching.coveredCount++] = r;
    state.colCover[s] = 0;
}

// The sweeps of a search over its pending columns, in column order and from the first column
// again after the last, until none is pending (munkres_phases.cpp says why that makes the
// method's sweeps). findZero(c) gives the first uncovered zero of column c from its scanFrom on,
// rowCount if there is none, or a negative row when the search gave up. A zero is primed; with no
// star in its row it starts the augmenting path, else its row is covered, its star's column
// uncovered, and covered(r, s) does the search's own bookkeeping for that (false: it gave up).
template <typename FindZero, typename Covered>
Phase sweepPending(SolverState& state, Index& pathRow, Index& pathCol, FindZero findZero,
                   Covered covered) {
    const Index rows = state.rowCount, cols = state.colCount;
    Index c = nextPending(state, 0);
    while (c < cols) {
        const Index r = findZero(c);
        if (r < 0) return Phase::restart;
        if (r == rows) {
            clearPending(state, c);
        } else {
            const Index s = primeZero(state, r, c);
            if (s == none) {
                pathRow = r;
                pathCol = c;
                return Phase::augmentPath;
            }
            coverRow(state, r, s);
            if (!covered(r, s)) return Phase::restart;
            // Rows above r in column c held no uncovered zero, and r is covered now.
            state.matching.scanFrom[c] = r + 1;
            if (r + 1 == rows) clearPending(state, c);
        }
        c = nextPending(state, c + 1);
        if (c == cols) c = nextPending(state, 0);  // the next sweep
    }
    return Phase::shiftByMinimum;
}

// Lists the uncovered columns, and with covered the covered ones, each in ascending order, with
// no branch a column: a pass over such a list tests no cover, a test the branch predictor misses
// about as often as not, which costs more than a small column's work. Returns how many columns
// are uncovered; the covered ones are the others.
inline Index listColumns(const SolverState& state, Index* uncovered, Index* covered) {
    Index count = 0;
    for (Index c = 0; c < state.colCount; ++c) {
        const Index k = state.colCover[c] != 0 ? 1 : 0;
        uncovered[count] = c;
        if (covered != nullptr) covered[c - count] = c;
        count += 1 - k;
    }
    return count;
}

// Covers every column holding a star: after an augmentation no other column is covered.
inline void coverStars(SolverState& state) {
    for (Index c = 0; c < state.colCount; ++c)
        if (state.matching.starInCol[c] != none) state.colCover[c] = 1;
}

// Flips the alternating path that starts at the prime (pathRow, pathCol): prime, star in its
// column, prime in that star's row, and so on until a column without a star. Every row reached
// holds a prime (it was covered right after one was primed), and each step moves to a column not
// visited before, so the walk ends. The path follows the old stars: each column's star is read
// before the prime in that column takes its place, and no column is reached twice.
//
// Afterwards a row r on the path is told by starInRow[r] == primeInRow[r]: its prime became its
// star. The primes themselves are left for the caller to clear.
inline void flipPath(SolverState& state, Index pathRow, Index pathCol) {
    ++state.matching.starCount;  // a path has one more prime than stars
    Index r = pathRow, c = pathCol;
    for (;;) {
        const Index oldStar = state.matching.starInCol[c];
        state.matching.starInRow[r] = c;
        state.matching.starInCol[c] = r;
        if (oldStar == none) break;
        r = oldStar;
        c = state.matching.primeInRow[oldStar];
    }
}

// --- Column kernels work on two rows at a time with GCC-style vector types; on each lane the
// vector code makes exactly the scalar code's operations. (The compiler does not vectorise these
// loops by itself: under IEEE rules it may neither reorder a minimum nor interleave chains.)
#if defined(__GNUC__)
#define PAIRSOLVE_PAIRS 1
// For the lambdas of such loops: inlined wherever they are called, which the compiler does not
// always do by itself in the longest functions (and a call a pair costs the chains their
// registers).
#define PAIRSOLVE_INLINED __attribute__((always_inline))
typedef double Pair __attribute__((vector_size(16)));
typedef std::int64_t PairMask __attribute__((vector_size(16)));

inline Pair load(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store(double* p, Pair v) { std::memcpy(p, &v, sizeof v); }
inline Pair both(double x) { return Pair{x, x}; }

// a where mask is all ones, b where it is zero: a bitwise choice, no arithmetic on either.
inline Pair pick(PairMask mask, Pair a, Pair b) {
#if defined(__SSE2__)
    // Spelt out, as the compiler may otherwise make it a conditional move per lane.
    const __m128d m = (__m128d)mask;
    return (Pair)_mm_or_pd(_mm_and_pd(m, (__m128d)a), _mm_andnot_pd(m, (__m128d)b));
#else
    return (Pair)((mask & (PairMask)a) | (~mask & (PairMask)b));
#endif
}

// On each lane `least > x ? x : least`: x where it is below least, else least (on a tie, and
// where either is NaN). SSE2's minpd makes exactly this choice; maxpd makes greater's,
// `most < x ? x : most`.
inline Pair lesser(Pair x, Pair least) {
#if defined(__SSE2__)
    return (Pair)_mm_min_pd((__m128d)x, (__m128d)least);
#else
    return pick(least > x, x, least);
#endif
}
// Lane masks: v >= bound, v <= bound, and two masks combined. Spelt out under SSE2 (cmppd,
// andpd, orpd), as the compiler may otherwise combine such masks lane by lane.
inline PairMask atLeast(Pair v, Pair bound) {
#if defined(__SSE2__)
    return (PairMask)_mm_cmpge_pd((__m128d)v, (__m128d)bound);
#else
    return v >= bound;
#endif
}
inline PairMask atMost(Pair v, Pair bound) {
#if defined(__SSE2__)
    return (PairMask)_mm_cmple_pd((__m128d)v, (__m128d)bound);
#else
    return v <= bound;
#endif
}
// !(v > bound): also set where either is NaN, as the scalar test is.
inline PairMask notAbove(Pair v, Pair bound) {
#if defined(__SSE2__)
    return (PairMask)_mm_cmpngt_pd((__m128d)v, (__m128d)bound);
#else
    return ~(v > bound);
#endif
}
inline PairMask bothOf(PairMask a, PairMask b) {
#if defined(__SSE2__)
    return (PairMask)_mm_and_pd((__m128d)a, (__m128d)b);
#else
    return a & b;
#endif
}
inline PairMask eitherOf(PairMask a, PairMask b) {
#if defined(__SSE2__)
    return (PairMask)_mm_or_pd((__m128d)a, (__m128d)b);
#else
    return a | b;
#endif
}

// Set on each lane where a or b is NaN (SSE2's cmpunordpd).
inline PairMask eitherNaN(Pair a, Pair b) {
#if defined(__SSE2__)
    return (PairMask)_mm_cmpunord_pd((__m128d)a, (__m128d)b);
#else
    return (a != a) | (b != b);
#endif
}

// Bit i set where lane i of the mask is set (SSE2's movmskpd).
inline int laneBits(PairMask mask) {
#if defined(__SSE2__)
    return _mm_movemask_pd((__m128d)mask);
#else
    return (mask[0] != 0 ? 1 : 0) | (mask[1] != 0 ? 2 : 0);
#endif
}
inline Pair greater(Pair x, Pair most) {
#if defined(__SSE2__)
    return (Pair)_mm_max_pd((__m128d)x, (__m128d)most);
#else
    return pick(most < x, x, most);
#endif
}
#endif

// Column c of the caller's matrix with its forbidden pairs replaced (Reduction). Where it is read
// no element is NaN or a finite negative, and each finite element is below forbiddenValue (+inf
// when there is no forbidden pair), so that the lesser of an element and forbiddenValue replaces
// +inf alone; -inf, where the matrix holds one, is picked out.
struct CostColumn {
    const double* cost;  // the caller's column
    double forbiddenValue;
    bool negativeInfinity;  // the matrix holds a -inf

    double at(Index r) const {
        const double v = cost[r];
        return v >= -DBL_MAX && v <= DBL_MAX ? v : forbiddenValue;
    }
#if defined(PAIRSOLVE_PAIRS)
    Pair pairAt(Index r) const {
        const Pair v = load(cost + r), forbidden = both(forbiddenValue);
        const Pair replaced = lesser(v, forbidden);
        return negativeInfinity ? pick(v < both(-DBL_MAX), forbidden, replaced) : replaced;
    }
#endif
};

// Column c of the reduced matrix R, formed from the caller's matrix by the reduction's own
// operations on each element, so to the same bits. Only one direction is reduced, and the other
// one's minima are +0, which leaves every value's bits as they are (y - 0 is y, -0 included): so
// only the reduced direction's minimum is subtracted.
struct ReducedColumn {
    CostColumn cost;
    const double* rowMinimum;  // rowCount
    double colMinimum;
    bool rowsReduced;

    double at(Index r) const {
        return rowsReduced ? cost.at(r) - rowMinimum[r] : cost.at(r) - colMinimum;
    }
#if defined(PAIRSOLVE_PAIRS)
    Pair pairAt(Index r) const {
        return rowsReduced ? cost.pairAt(r) - load(rowMinimum + r) : cost.pairAt(r) - both(colMinimum);
    }
#endif
};

inline CostColumn costColumn(const SolverState& state, Index c) {
    const Reduction& d = state.reduction;
    return CostColumn{d.costMatrix + static_cast<Index>(state.rowCount) * c, d.forbiddenValue,
                      d.negativeInfinity};
}

inline ReducedColumn reducedColumn(const SolverState& state, Index c) {
    return ReducedColumn{costColumn(state, c), state.reduction.rowMinimum,
                         state.reduction.colMinimum[c], state.rowCount <= state.colCount};
}

}  // namespace searchBookkeeping
}  // namespace pairsolve

#endif
