// The offset search: the phase machine of munkres_phases.cpp with offsets in place of shifts, for
// every working matrix without NaN or infinite elements.
//
// A shift need not be written into the matrix. The reduced matrix R (the driver's reduction,
// formed from the caller's matrix where it is read: no working copy is taken) stays as it is, and
// element (r, c) of the matrix the machine works on is taken to be
//     key(r, c) - target(c),   key = R(r, c) + a_r,   target = b_c,
// a_r (rowOffset) being what shifts added to row r while it was covered and b_c (colOffset) what
// they subtracted from column c while it was uncovered. A shift then costs O(M + N): it adds h to
// the covered rows' a_r and the uncovered columns' b_c.
//
// The element-by-element search holds, for every element, a value X(r, c) that went through the
// shifts' roundings one by one: x + h on a covered row and column, (x + h) - h on a covered row of
// an uncovered column, x - h on an uncovered row and column. Its result depends on nothing but its
// decisions: which uncovered elements are exactly 0 when a sweep reads them, and which value h
// each shift takes (the least uncovered X). This search makes the very same decisions, in the
// same order (which zero is primed, which row is covered, which path is flipped, which h is
// taken), so it leaves the same stars; it gets there in one of two ways.
//
// 1. Exact offsets (OffsetSearch::exact). Let every element of the working matrix (forbidden pairs
//    replaced, before the reduction) be a multiple of g = 2^e, W the largest, T = min(M, N), and
//    (W / g) * 2(M + N + 1) < 2^53 (chooseSearch). Counted in units of g every value below is an
//    integer, so the argument is the one for integers:
//    - R is exact and 0 <= R <= W: each line minimum is one of the line's elements.
//    - X >= 0 at all times: a shift lowers only uncovered elements, by their smallest value.
//    - The shifts of the whole call add up to at most T * W. Take an assignment of T pairs that
//      is optimal for R; its cost C is at most T * W, and the sum S of X over its pairs starts at
//      C and never goes below 0. A shift by h adds h to the pairs whose row and column are both
//      covered and takes h from those whose row and column are both uncovered. The covered lines
//      are as many as the stars, fewer than T, and each line holds at most one pair of the
//      assignment, so at least one more pair than there are doubly covered ones is left
//      uncovered: S drops by at least h. So every a_r and b_c lies in [0, T * W].
//    - Hence keys lie in [0, (T + 1) W], and so do every X, every h and every column minimum;
//      the other search's largest intermediate, x + h on a covered row, is below (2T + 1) W.
//    All of these are multiples of g below 2(M + N + 1) W < 2^53 g, so every sum and difference
//    the two searches form is exact, X(r, c) = key - target exactly, and a zero is key == target.
//
// 2. Certified decisions (every other matrix without NaN or infinities, and with (2T + 2) W below
//    the double range, so that no offset or sum overflows: the sums are as bounded as above, up
//    to rounding). Here key - target differs from X, but by little, and the margin says how much.
//    Let u = 2^-53, k the shifts made so far, A_r and B_c the exact sums of the h's that a_r and
//    b_c add up in rounded steps, V = R + A_r - B_c, e = X - V. Every rounded sum is
//    fl(x + y) = (x + y)(1 + d) with |d| <= u (and exact when the result is subnormal).
//    - X stays >= 0 (as above), so B_c <= R + A_r + |e|.
//    - One shift adds to e at most u times each result it rounds: x + h and (x + h) - h, x + h,
//      or x - h. Each is at most R + A_r(now) + |e| (x <= R + A_r - B_c + |e|, and h joins A_r
//      when the row is covered), so after k shifts |e| <= 2ku(1 + u)^2 (R + A_r + max |e|),
//      that is |e| <= 2.001 k u (R + A_r) for every k this search can reach (k < 2^32).
//    - a_r and b_c are sums of at most k positive terms: |a_r - A_r| <= 1.001 k u A_r, and
//      |b_c - B_c| <= 1.001 k u B_c <= 1.002 k u (R + A_r). key = fl(R + a_r) is off
//      R + a_r by u (R + a_r) at most.
//    - X - (key - target) = (R + A_r - key) + (b_c - B_c) + e, so
//          |X - (key - target)| <= (4k + 2)(1 + 2^-18) u (R + A_r) <= kappa_k * key,
//      with kappa_k = (5k + 8) u: R + A_r <= key (1 + 1.01 (k + 1) u), and the 4k + 2 that
//      remain leave k + 6 units of u * key for the few roundings below.
//    Every test the search makes is a key against a column's threshold, and the factor
//    m = 1 + 2 kappa_k (margin(), an exact double) turns each into one multiplication:
//    - X == 0 implies key - b <= kappa_k key, i.e. key <= b / (1 - kappa_k) <= fl(b * m): the
//      rounding of the product (at most u of it) is within the slack. Where b * m is below the
//      normal range, every value of this element and column is a multiple of 2^-1074 below
//      2^-1021, all of it exact, and X == 0 means key == b <= fl(b * m). So a key above
//      zeroThreshold = fl(b * m) is certainly not a zero.
//    - X <= fl(fl(key * m) - b) (upper): the roundings of these two steps stay in the slack.
//    - X <= U implies key <= fl(fl(U + b) * m) (reach).
//    The margin can show that an element is not 0 or not the least; it never shows that it is.
//    So an element whose key falls within a threshold is decided on its exact value X, replayed
//    (exactValue). A shift takes U, the least upper bound over the columns' smallest keys, as a
//    bound on h; every uncovered element whose key is within reach of U is replayed, and h is
//    the least of their exact values; the elements equal to h are the new zeros, found by the
//    sweeps that follow (their key is within the zero threshold). So the offsets add up exactly
//    the h's the other search subtracts, rounded only by the sums, and every decision of the
//    other search is made on the value that search holds.
//
// Exact replay. What X(r, c) undergoes in shift i depends only on h_i and on whether row r was
// covered and column c uncovered at the time. The search keeps a history that tells both for any
// shift of the call: every h (shiftLog), the shift count at which each search began (searchStart),
// and, per row and per column, its covers and uncoverings (CoverEvent lists: a cover of a row
// uncovers its star's column at once, so one record serves both; rows are covered at most once a
// search, columns uncovered at most once, and a column without a star is uncovered throughout;
// colStarSearch is the first search a column began with a star, which it keeps from then on).
// A replayed element is kept (KnownElement) with the shift count its value holds at and how far
// its row's and column's events were read, and is advanced from there next time: no element is
// replayed from the reduction twice, and one whose row stays uncovered while its column stays
// covered costs nothing for those searches. The history and the known elements have fixed
// capacities in the bookkeeping block (the history's grow with the size); when one is full, or
// when the replays cost more than their budget (a quarter of the work the element-by-element
// search would have done by then, budgeted), the machine stops at Phase::restart and the driver
// solves the call again with the element-by-element search, on R written out afresh from the
// caller's matrix.
// Matrices with masses of near ties (decimal costs, all costs equal) take that road; the others
// replay about one element a shift.
//
// How it stays fast
// - A shift costs O(M + N), and one reading of each column whose smallest key may be within reach.
//   The columns that never held a star (most of them in a wide matrix) have been uncovered in
//   every shift, so they share one b_c, kept once (groupOffset), and their bounds are read side
//   by side from a list of their own: a shift adds h to the covered rows' offsets, to the
//   uncovered star columns' and to the group's, and passes over the group's bounds.
// - Keys only grow (a row's offset never decreases, nor does its rounded sum), so a lower bound
//   on a key found once stays one. Each column keeps the rows of its columnTopSize smallest keys,
//   read over every row, and topBound, the next smallest: every row left out has a key of at
//   least topBound, then and after. The listed rows' keys are formed afresh when needed, so the
//   list tells the column's smallest key over its candidate rows exactly as long as that is not
//   above topBound; and while the zero threshold is below topBound, the zeros of the column are
//   among the listed rows: a sweep reads the list, not the column. A column is read whole only
//   when its threshold has caught up with its bound, or its listed rows are all covered. When
//   rows are reduced, a column's list starts empty with its least element of R as topBound
//   (the reduction's pass gathers it), so a column is first read whole only when a search
//   reaches that far: in a wide matrix, many columns never are. A column of a gated matrix is
//   not even read then: its first list comes from the few finite elements the check kept of it.
//   When columns are reduced, a list starts with the column's first zero and a row of its next
//   smallest element, and topBound below the others (the check gathers them): in a tall matrix
//   most rows are never covered, so the second row stands for the least key of its column once
//   the first one's row is covered.
// - A column with more rows within the threshold than the list holds (many ties), and every
//   column of a matrix of fewer than listedRows rows, is unlisted and searched by reading it, in
//   blocks of 16 rows whose minimum tells whether the block holds a candidate, stopping at the
//   first zero (many ties: the first zero is near). Its pass from the top to the bottom, over the
//   segments between the zeros it primes, gathers the column's smallest key on the way; and it
//   keeps a floor across searches (OffsetSearch says how) where a listed column keeps its list.
// - Each column's smallest key over its candidate rows, once known, is kept (keyBound) until the
//   row holding it is covered; a column whose bound shows no zero is neither swept nor read. A
//   shift reads afresh only the columns whose bound is within reach of the least upper bound,
//   lowest bound first.
// - A search starts the bookkeeping of its uncovered columns only, the group; a covered column's
//   is started when the search uncovers it (startSearch), so a search costs its covers, not a
//   pass over every column.
// - The results rest on the bounds alone; knowing a minimum exactly only saves work. In the exact
//   case a column whose bound is above its target holds no zero, and every column whose smallest
//   X equals h has its key equal to the new target, so it is swept. Were a bound taken for an
//   exact minimum there, the shift would fall short of h, the sweep after it would prime nothing,
//   and the next shift would add the rest: in exact arithmetic the same elements as one shift by
//   h. (With rounding two shifts are not one, so the certified case takes h only from exact
//   values.)
#include "assignment_solver.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "host_services.h"
#include "search_bookkeeping.h"

namespace pairsolve {

namespace {

using namespace searchBookkeeping;

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr Index never = std::numeric_limits<Index>::max();

// m = 1 + 2 kappa_k, kappa_k = (5k + 8) 2^-53 after k shifts: 1 + (5k + 8) 2^-52 is a double
// as long as 5k + 8 < 2^52 (the shift log is far smaller). 1 when every value is exact.
double margin(const OffsetSearch& o) {
    return o.exact ? 1.0 : 1.0 + static_cast<double>(5 * o.shiftsMade + 8) * 0x1p-52;
}

// b_c. A column that has never held a star has been uncovered in every shift of the call, so its
// offset is the one every such column holds, groupOffset, summed in the same steps.
double target(const OffsetSearch& o, Index c) {
    // Picked by an index rather than a branch: columns of both kinds come mixed in every pass.
    const double offsets[2] = {o.colOffset[c], o.groupOffset};
    return offsets[o.groupPlace[c] >= 0 ? 1 : 0];
}

// Sets a column's keyBound, and its copy in the group list if it is in the group.
void setKeyBound(OffsetSearch& o, Index c, double bound) {
    o.keyBound[c] = bound;
    if (o.groupPlace[c] >= 0) o.groupKeys[o.groupPlace[c]] = bound;
}

// Every zero of the uncovered column c at an uncovered row has a key at most this (in the exact
// case, a key equal to it).
double zeroThreshold(const OffsetSearch& o, Index c, double m) { return target(o, c) * m; }

// The least of R + offset over the 16 rows from r.
inline double blockLeast(const ReducedColumn& column, const double* offset, Index r) {
    prefetchAhead(column.cost.cost + r);
    prefetchAhead(column.cost.cost + r + 8);
#if defined(PAIRSOLVE_PAIRS)
    Pair m[4];
    for (int i = 0; i < 4; ++i) m[i] = column.pairAt(r + 2 * i) + load(offset + r + 2 * i);
    for (int i = 0; i < 4; ++i) {
        const Pair x = column.pairAt(r + 8 + 2 * i) + load(offset + r + 8 + 2 * i);
        m[i] = lesser(x, m[i]);
    }
    m[0] = lesser(m[1], m[0]);
    m[2] = lesser(m[3], m[2]);
    m[0] = lesser(m[2], m[0]);
    return m[0][1] < m[0][0] ? m[0][1] : m[0][0];
#else
    double least = column.at(r) + offset[r];
    for (Index i = r + 1; i < r + 16; ++i) {
        const double v = column.at(i) + offset[i];
        if (v < least) least = v;
    }
    return least;
#endif
}

// The first row from `from` on with R(r, c) + offset[r] <= threshold, or rows. least and
// leastRow get the smallest such sum over the rows read before it, and a row holding it (+inf
// and none when there is none below +inf); they cover all rows from `from` when the result is
// rows. Covered rows have an infinite offset, so they are never returned and never the least.
Index scanColumn(const ReducedColumn& column, const double* offset, double threshold, Index from,
                 Index rows, double& least, Index& leastRow) {
    least = infinity;
    leastRow = none;
    Index r = from;
#if defined(PAIRSOLVE_PAIRS)
    Index leastBlock = none;
    for (; r + 16 <= rows; r += 16) {
        const double block = blockLeast(column, offset, r);
        if (block <= threshold) break;  // read row by row below, up to the candidate
        if (block < least) {
            least = block;
            leastBlock = r;
        }
    }
    if (leastBlock != none) {
        leastRow = leastBlock;
        while (column.at(leastRow) + offset[leastRow] != least) ++leastRow;
    }
#endif
    for (; r < rows; ++r) {
        const double v = column.at(r) + offset[r];
        if (v <= threshold) return r;
        if (v < least) {
            least = v;
            leastRow = r;
        }
    }
    return rows;
}

// --- Exact offsets only: zero flags between shifts.

// Writes flags[r] = 1 where element (r, c) of the uncovered column c is 0 and 0 elsewhere, for
// every row: the covered ones at their offsets now.
void writeZeroFlags(SolverState& state, Index c, double target) {
    const Index rows = state.rowCount;
    const ReducedColumn column = reducedColumn(state, c);
    unsigned char* flags = state.offset.zeroFlags + rows * c;
    const double* offset = state.offset.rowOffset;
    Index r = 0;
#if defined(PAIRSOLVE_PAIRS)
    for (; r + 2 <= rows; r += 2) {
        const int zero = laneBits(column.pairAt(r) + load(offset + r) == both(target));
        flags[r] = static_cast<unsigned char>(zero & 1);
        flags[r + 1] = static_cast<unsigned char>(zero >> 1);
    }
#endif
    for (; r < rows; ++r) flags[r] = column.at(r) + offset[r] == target ? 1 : 0;
}

// The first row from `from` on whose flag is set and whose row is uncovered, or rows. Both are
// byte flags of 0 and 1, so flag & ~cover is 1 just there; eight rows are tested at once.
Index firstFlaggedZero(const unsigned char* flags, const unsigned char* rowCover, Index from,
                       Index rows) {
    Index r = from;
    for (; r + 8 <= rows; r += 8) {
        std::uint64_t zero, cover;
        std::memcpy(&zero, flags + r, 8);
        std::memcpy(&cover, rowCover + r, 8);
        if (zero & ~cover) break;
    }
    for (; r < rows; ++r)
        if (flags[r] && !rowCover[r]) return r;
    return rows;
}

// --- Each column's smallest keys.

constexpr Index staleRow = -3;  // keyBoundRow: a bound, which the column's list may better


// Reads column c whole, every row at its key now (covered rows included), and lists the rows of
// its columnTopSize smallest keys (the first time, a gated column's finite elements only). Every other row's key is at least topBound, now and after: a
// row's offset never decreases. The smallest keys lie in the blocks of 16 rows with the smallest
// least keys: were one in a block whose least key is above the (columnTopSize + 1)-th smallest
// of them, that many keys from other blocks would be smaller still. So the column is read once,
// block by block, and only those blocks are read row by row.
void captureTop(SolverState& state, Index c) {
    OffsetSearch& o = state.offset;
    const Index rows = state.rowCount;
    const ReducedColumn column = reducedColumn(state, c);
    const double* offset = o.rowOffset;
    double keys[columnTopSize + 1];
    Index which[columnTopSize + 1];
    int count = 0;
    double limit = infinity;  // the largest listed key once the list is full
    const auto offer = [&](Index r, double v) {
        if (count == columnTopSize + 1 && !(v < limit)) return;
        int i = count < columnTopSize + 1 ? count++ : columnTopSize;
        while (i > 0 && keys[i - 1] > v) {
            keys[i] = keys[i - 1];
            which[i] = which[i - 1];
            --i;
        }
        keys[i] = v;
        which[i] = r;
        if (count == columnTopSize + 1) limit = keys[columnTopSize];
    };
    Index* top = o.topRows + columnTopSize * c;
    double* value = o.topValues + columnTopSize * c;
    Reduction& d = state.reduction;
    if (d.finiteCount != nullptr && d.finiteCount[c] <= finiteListSize) {
        // Only the column's finite elements, which the check kept, are read: every other row's
        // key is at least forbiddenLeast, its element of R being so (offsets are not negative).
        // They are offered in row order, as the reading below would offer them, by their place
        // in the kept list. This is done once a column: a search that comes back to it may need
        // its forbidden pairs' keys, which a reading of the whole column lists.
        const Index n = d.finiteCount[c];
        const Index* at = d.finiteRows + finiteListSize * c;
        const double* x = d.finiteValues + finiteListSize * c;
        const double* rowMinimum = d.rowMinimum;
        for (Index i = 0; i < n; ++i) offer(i, (x[i] - rowMinimum[at[i]]) + offset[at[i]]);
        d.finiteCount[c] = finiteListSize + 1;
        const int listed = count < columnTopSize ? count : columnTopSize;
        for (int i = 0; i < listed; ++i) {
            top[i] = at[which[i]];
            value[i] = x[which[i]] - rowMinimum[top[i]];
        }
        o.topCount[c] = listed;
        const double rest = count == columnTopSize + 1 ? keys[columnTopSize] : infinity;
        o.topBound[c] = rest < d.forbiddenLeast ? rest : d.forbiddenLeast;
        o.topLeast[c] = count > 0 && keys[0] < d.forbiddenLeast ? keys[0] : d.forbiddenLeast;
        return;
    }
    const Index blocks = rows / 16;
    double* least = o.blockLeast;
    for (Index b = 0; b < blocks; ++b) least[b] = blockLeast(column, offset, 16 * b);
    double cut = infinity;  // blocks whose least key is above it hold none of the smallest
    if (blocks > columnTopSize + 1) {
        // The (columnTopSize + 1)-th smallest block least, from the smallest ones kept in order.
        double smallest[columnTopSize + 1];
        int kept = 0;
        for (Index b = 0; b < blocks; ++b) {
            const double v = least[b];
            if (kept == columnTopSize + 1 && !(v < smallest[columnTopSize])) continue;
            int i = kept < columnTopSize + 1 ? kept++ : columnTopSize;
            for (; i > 0 && smallest[i - 1] > v; --i) smallest[i] = smallest[i - 1];
            smallest[i] = v;
        }
        cut = smallest[columnTopSize];
    }
    // For the same reason no key above cut is among them: only the others are offered, in row
    // order, as a reading of every row would offer them.
    for (Index b = 0; b < blocks; ++b) {
        if (least[b] > cut || (count == columnTopSize + 1 && !(least[b] < limit))) continue;
#if defined(PAIRSOLVE_PAIRS)
        // The block's keys in lanes, and the rows at or below cut taken from a bit mask in
        // ascending order: the same offers as the loop below makes.
        double v[16];
        int within = 0;
        for (int i = 0; i < 8; ++i) {
            const Pair x = column.pairAt(16 * b + 2 * i) + load(offset + 16 * b + 2 * i);
            store(v + 2 * i, x);
            within |= laneBits(atMost(x, both(cut))) << (2 * i);
        }
        for (; within != 0; within &= within - 1) {
            const int i = __builtin_ctz(static_cast<unsigned>(within));
            offer(16 * b + i, v[i]);
        }
#else
        for (Index r = 16 * b; r < 16 * b + 16; ++r) {
            const double v = column.at(r) + offset[r];
            if (v <= cut) offer(r, v);
        }
#endif
    }
    for (Index r = 16 * blocks; r < rows; ++r) {
        const double v = column.at(r) + offset[r];
        if (v <= cut) offer(r, v);
    }
    const int listed = count < columnTopSize ? count : columnTopSize;
    for (int i = 0; i < listed; ++i) {
        top[i] = which[i];
        value[i] = column.at(which[i]);
    }
    o.topCount[c] = listed;
    o.topBound[c] = count == columnTopSize + 1 ? keys[columnTopSize] : infinity;
    o.topLeast[c] = count > 0 ? keys[0] : infinity;
}

// The column's smallest key over its candidate rows (the uncovered rows, but the star's while
// the column is covered), from its list: exact when it is not above the bound on the rows left
// out, else only that bound.
void refreshFromList(SolverState& state, Index c) {
    OffsetSearch& o = state.offset;
    const Index star = state.colCover[c] ? state.matching.starInCol[c] : none;
    const Index* top = o.topRows + columnTopSize * c;
    const double* value = o.topValues + columnTopSize * c;
    double best = infinity;
    Index bestRow = none;
    for (Index i = 0; i < o.topCount[c]; ++i) {
        const Index r = top[i];
        if (state.rowCover[r] || r == star) continue;
        const double v = value[i] + o.rowOffset[r];
        if (v < best) {
            best = v;
            bestRow = r;
        }
    }
    if (best <= o.topBound[c]) {
        setKeyBound(o, c, best);
        o.keyBoundRow[c] = bestRow;
    } else {
        setKeyBound(o, c, o.topBound[c]);
        o.keyBoundRow[c] = unknownRow;
    }
}

// Whether the column's smallest key is known exactly: the row holding it is still a candidate,
// or the column has no candidate at all.
bool minimumExact(const SolverState& state, Index c) {
    const Index row = state.offset.keyBoundRow[c];
    return row == none || (row >= 0 && !state.rowCover[row]);
}

// Marks keyBound as a bound only once the row holding it is covered (covering only removes
// candidates, so it still is one); a listed column's list tells more when asked (settleBound).
// Returns whether keyBound is exact.
bool ensureBound(SolverState& state, Index c) {
    OffsetSearch& o = state.offset;
    const Index row = o.keyBoundRow[c];
    if (row >= 0 && state.rowCover[row]) o.keyBoundRow[c] = o.unlisted[c] ? unknownRow : staleRow;
    return minimumExact(state, c);
}

// An uncovered column can hold a zero at an uncovered row only if its bound is within the zero
// threshold (keyBound brought up to date first).
bool mayHoldZero(const SolverState& state, Index c, double m) {
    return !(state.offset.keyBound[c] > zeroThreshold(state.offset, c, m));
}

// Records least (at leastRow) as the exact smallest key of the uncovered column c over the
// uncovered rows. An unlisted column also gets its floor: the smaller of that and the covered
// rows other than the star's, at their keys now (the column was just read, so they are at hand).
void settleMinimum(SolverState& state, Index c, double least, Index leastRow) {
    OffsetSearch& o = state.offset;
    setKeyBound(o, c, least);
    o.keyBoundRow[c] = leastRow;
    if (!o.unlisted[c]) return;
    const ReducedColumn column = reducedColumn(state, c);
    double floor = least, floorOffset = leastRow >= 0 ? o.rowOffset[leastRow] : 0;
    Index floorRow = leastRow;
    const Index star = state.matching.starInCol[c];
    for (Index i = 0; i < state.matching.coveredCount; ++i) {
        const Index r = state.matching.coveredRows[i];
        if (r == star) continue;
        const double v = column.at(r) + o.rowOffset[r];
        if (v < floor) {
            floor = v;
            floorRow = r;
            floorOffset = o.rowOffset[r];
        }
    }
    o.floor[c] = floor;
    o.floorRow[c] = floorRow;
    o.floorOffset[c] = floorOffset;
}

// Gathers the smallest key of the uncovered column c afresh (with its list, if it has one).
void recomputeMinimum(SolverState& state, Index c) {
    if (!state.offset.unlisted[c]) {
        captureTop(state, c);
        refreshFromList(state, c);
        if (minimumExact(state, c)) return;
    }
    // Unlisted, or every listed row is covered: the uncovered rows, read.
    double least;
    Index leastRow;
    scanColumn(reducedColumn(state, c), state.offset.scanOffset, -infinity, 0,
               state.rowCount, least, leastRow);
    settleMinimum(state, c, least, leastRow);
}

// Makes the bound of an uncovered column exact: from its list if that tells, else by reading it.
void settleBound(SolverState& state, Index c) {
    if (state.offset.keyBoundRow[c] == staleRow) {
        refreshFromList(state, c);
        if (minimumExact(state, c)) return;
    }
    recomputeMinimum(state, c);
}

// The listed rows of column c from `from` on that are uncovered and whose key is at most
// threshold, in ascending order, into rows[]; their number.
int listedWithin(const SolverState& state, Index c, Index from, double threshold,
                 Index* found) {
    const OffsetSearch& o = state.offset;
    const Index* top = o.topRows + columnTopSize * c;
    const double* value = o.topValues + columnTopSize * c;
    // Taken without a branch a row (which one passes is as good as random), then put in order.
    int n = 0;
    for (Index i = 0; i < o.topCount[c]; ++i) {
        const Index r = top[i];
        found[n] = r;
        n += (r >= from) & !state.rowCover[r] & !(value[i] + o.scanOffset[r] > threshold);
    }
    for (int i = 1; i < n; ++i) {
        const Index r = found[i];
        int j = i;
        for (; j > 0 && found[j - 1] > r; --j) found[j] = found[j - 1];
        found[j] = r;
    }
    return n;
}

// --- The history and exact replay (certified decisions only).

void giveUp(OffsetSearch& o) { o.gaveUp = true; }

// Records the cover of row r, whose star is in column s, in both lines' lists; false when the
// history is full.
bool recordCover(OffsetSearch& o, Index r, Index s) {
    if (o.eventCount == o.eventCapacity) {
        giveUp(o);
        return false;
    }
    const Index e = o.eventCount++;
    o.events[e] = CoverEvent{o.searchCount - 1, o.shiftsMade, none, none};
    if (o.rowLastEvent[r] == none)
        o.rowEvents[r] = e;
    else
        o.events[o.rowLastEvent[r]].nextOfRow = e;
    o.rowLastEvent[r] = e;
    if (o.colLastEvent[s] == none)
        o.colEvents[s] = e;
    else
        o.events[o.colLastEvent[s]].nextOfColumn = e;
    o.colLastEvent[s] = e;
    return true;
}

// The search in which shift s + 1 is (or will be) made: the last one that began at or before s.
Index searchContaining(const OffsetSearch& o, Index s) {
    Index low = 0, high = o.searchCount - 1;
    while (low < high) {
        const Index mid = low + (high - low + 1) / 2;
        if (o.searchStart[mid] <= s)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

// Brings a known element of row r up to the shifts made so far, making on it exactly the
// operations the element-by-element search makes, shift by shift.
void advance(OffsetSearch& o, KnownElement& e, Index r) {
    const Index now = o.shiftsMade;
    if (e.stamp == now) return;
    const Index c = e.col, current = o.searchCount - 1, starFrom = o.colStarSearch[c];
    double x = e.value;
    Index rowRead = e.rowRead, colRead = e.colRead;
    Index rowNext = rowRead == none ? o.rowEvents[r] : o.events[rowRead].nextOfRow;
    Index colNext = colRead == none ? o.colEvents[c] : o.events[colRead].nextOfColumn;
    std::uint64_t steps = 0;
    Index j = searchContaining(o, e.stamp);
    while (j <= current) {
        ++steps;
        while (rowNext != none && o.events[rowNext].search < j) {
            rowRead = rowNext;
            rowNext = o.events[rowNext].nextOfRow;
        }
        while (colNext != none && o.events[colNext].search < j) {
            colRead = colNext;
            colNext = o.events[colNext].nextOfColumn;
        }
        const bool starred = j >= starFrom;
        if (starred) {
            // While the row stays uncovered and the column covered, the element is left alone:
            // on to the next search in which one of them changes.
            Index next = rowNext == none ? never : o.events[rowNext].search;
            if (colNext != none && o.events[colNext].search < next) next = o.events[colNext].search;
            if (next > j) {
                j = next;
                continue;
            }
        } else {
            // A column without a star yet is uncovered throughout: while the row stays uncovered,
            // the element takes x - h in every shift, search after search, up to the row's next
            // cover or the column's first star. (Counted as those searches one by one would be.)
            Index next = rowNext == none ? never : o.events[rowNext].search;
            if (starFrom < next) next = starFrom;
            if (next > j + 1) {
                const Index end = next > current ? current + 1 : next;
                const Index first = e.stamp > o.searchStart[j] ? e.stamp : o.searchStart[j];
                const Index last = end > current ? now : o.searchStart[end];
                for (Index i = first + 1; i <= last; ++i) x = x - o.shiftLog[i - 1];
                steps += static_cast<std::uint64_t>(end - j - 1);  // the searches merged here
                if (last > first) steps += static_cast<std::uint64_t>(last - first);
                j = end;
                continue;
            }
        }
        const Index first = e.stamp > o.searchStart[j] ? e.stamp : o.searchStart[j];
        const Index last = j == current ? now : o.searchStart[j + 1];
        // Shift i sees the row covered when i > coveredFrom, the column uncovered when
        // i > uncoveredFrom.
        const Index coveredFrom =
            rowNext != none && o.events[rowNext].search == j ? o.events[rowNext].shift : never;
        const Index uncoveredFrom = !starred ? -1
                                    : colNext != none && o.events[colNext].search == j
                                        ? o.events[colNext].shift
                                        : never;
        // So through shift `quiet` nothing happens to the element, after shift `both` it takes
        // (x + h) - h, and in between x + h (row covered first) or x - h (column uncovered first).
        const Index quiet = coveredFrom < uncoveredFrom ? coveredFrom : uncoveredFrom;
        const Index both = coveredFrom < uncoveredFrom ? uncoveredFrom : coveredFrom;
        Index i = quiet < first ? first + 1 : quiet < last ? quiet + 1 : last + 1;
        const Index single = both < last ? both : last;
        const double* log = o.shiftLog;
        if (coveredFrom < uncoveredFrom) {
            for (; i <= single; ++i) x = x + log[i - 1];
        } else {
            for (; i <= single; ++i) x = x - log[i - 1];
        }
        for (; i <= last; ++i) {
            const double h = log[i - 1];
            x = x + h;
            x = x - h;  // two rounded operations, as the other search
        }
        if (last > first) steps += static_cast<std::uint64_t>(last - first);
        ++j;
    }
    e.value = x;
    e.stamp = now;
    e.rowRead = rowRead;
    e.colRead = colRead;
    o.replaySteps += steps;
    o.work += steps;
}

// The value the element-by-element search holds for (r, c) now, replayed. Sets gaveUp (and
// returns a meaningless value) when the known elements are full or the budget is spent.
double exactValue(SolverState& state, Index r, Index c) {
    OffsetSearch& o = state.offset;
    // Before the first shift every element is as the reduction left it.
    if (o.shiftsMade == 0) return reducedColumn(state, c).at(r);
    Index k = o.rowKnown[r];
    std::uint64_t looked = 0;
    while (k != none && o.known[k].col != c) {
        k = o.known[k].next;
        ++looked;
    }
    o.work += looked;
    if (k == none) {
        if (o.knownCount == o.knownCapacity) {
            giveUp(o);
            return 0;
        }
        k = o.knownCount++;
        o.known[k] = KnownElement{reducedColumn(state, c).at(r), c,
                                  0, none, none, o.rowKnown[r]};
        o.rowKnown[r] = k;
        ++o.replays;
    }
    advance(o, o.known[k], r);
    // The budget: a replayed step against about 32 elements the other search would have shifted
    // (its work so far is the shifts made times the matrix), so that giving up costs at most a
    // quarter of what that search takes for the call; and a few hundred steps a line whatever
    // the shifts, which a small matrix spends in no time.
    if (o.budgeted &&
        static_cast<double>(static_cast<std::int64_t>(o.work)) * 32.0 >
            static_cast<double>(o.shiftsMade + 1) * state.rowCount * state.colCount +
                8192.0 * (static_cast<double>(state.rowCount) + state.colCount))
        giveUp(o);
    return o.known[k].value;
}

// A column's pass: its reading from the top down to its end, over the segments between the
// zeros primed on the way. The smallest key of the rows read so far is gathered, so that the
// pass that reaches the end leaves the column's smallest key behind, as one reading would.
void startPass(OffsetSearch& o, Index c) {
    o.passLeast[c] = infinity;
    o.passLeastRow[c] = none;
}

void addToPass(OffsetSearch& o, Index c, double least, Index leastRow) {
    if (o.passLeastRow[c] == unknownRow) return;  // a pass that did not read every row
    if (least < o.passLeast[c]) {
        o.passLeast[c] = least;
        o.passLeastRow[c] = leastRow;
    }
}

// The pass reached the end: what it gathered is a lower bound on the column's candidate rows
// (rows read and covered since only lower it), exact while the row holding it is uncovered.
void finishPass(SolverState& state, Index c) {
    OffsetSearch& o = state.offset;
    if (o.passLeastRow[c] != unknownRow) settleMinimum(state, c, o.passLeast[c], o.passLeastRow[c]);
}

// The first uncovered zero of the uncovered column c from row `from` on, or rowCount (also when
// the search gave up).
Index firstUncoveredZero(SolverState& state, Index c, Index from) {
    OffsetSearch& o = state.offset;
    const Index rows = state.rowCount;
    const ReducedColumn column = reducedColumn(state, c);
    const double threshold = zeroThreshold(o, c, margin(o));
    // From the column's list, while it holds every row whose key can be a zero's: read afresh
    // when the threshold has reached its bound, unless the column has more such rows than the
    // list can hold (many ties), which it then keeps to for the rest of the call.
    if (!o.unlisted[c] && !(threshold < o.topBound[c])) {
        captureTop(state, c);
        if (!(threshold < o.topBound[c])) o.unlisted[c] = 1;
    }
    if (!o.unlisted[c]) {
        o.passLeastRow[c] = unknownRow;
        Index found[columnTopSize];
        const int n = listedWithin(state, c, from, threshold, found);
        for (int i = 0; i < n; ++i) {
            if (o.exact) return found[i];
            const double value = exactValue(state, found[i], c);
            if (o.gaveUp) return rows;
            if (value == 0) return found[i];
        }
        return rows;
    }
    double least;
    Index leastRow;
    if (o.exact) {
        // From the flags when they were written since the last shift; else they are written when
        // the column is searched from its top for the second time since the last shift.
        if (o.zeroFlagsAt[c] != o.shiftsMade && from == 0 && o.searchedAt[c] == o.shiftsMade) {
            writeZeroFlags(state, c, threshold);
            o.zeroFlagsAt[c] = o.shiftsMade;
        }
        if (o.zeroFlagsAt[c] == o.shiftsMade) {
            o.passLeastRow[c] = unknownRow;
            return firstFlaggedZero(o.zeroFlags + rows * c, state.rowCover, from, rows);
        }
        if (from == 0) o.searchedAt[c] = o.shiftsMade;
        const Index r = scanColumn(column, o.scanOffset, threshold, from, rows, least, leastRow);
        addToPass(o, c, least, leastRow);
        if (r == rows) finishPass(state, c);
        return r;
    }
    for (Index r = from;; ++r) {
        r = scanColumn(column, o.scanOffset, threshold, r, rows, least, leastRow);
        addToPass(o, c, least, leastRow);
        if (r == rows) break;
        // A candidate: within the margin of 0, so only its exact value tells.
        const double value = exactValue(state, r, c);
        if (o.gaveUp) return rows;
        if (value == 0) return r;
        addToPass(o, c, column.at(r) + o.scanOffset[r], r);
    }
    finishPass(state, c);
    return rows;
}

// Settles the columns[0, waiting) by bound less target, lowest first, each unless out(c) leaves
// it out by then: what one finds brings the limit down, and most of the others then stay out. So
// the lowest is found by one pass and settled, and only the columns still in after it are sorted.
// (The order only saves work: each column settled gets its exact bound, whichever goes first.)
template <class Out, class Settle>
void settleLowestFirst(OffsetSearch& o, Index* columns, Index waiting, Out out, Settle settle) {
    const auto lower = [&o](Index a, Index b) {
        return o.keyBound[a] - target(o, a) < o.keyBound[b] - target(o, b);
    };
    if (waiting == 0) return;
    Index lowest = 0;
    for (Index i = 1; i < waiting; ++i)
        if (lower(columns[i], columns[lowest])) lowest = i;
    std::swap(columns[0], columns[lowest]);
    if (!out(columns[0])) settle(columns[0]);
    Index kept = 0;
    for (Index i = 1; i < waiting; ++i)
        if (!out(columns[i])) columns[kept++] = columns[i];
    std::sort(columns, columns + kept, lower);
    for (Index i = 0; i < kept; ++i)
        if (!out(columns[i])) settle(columns[i]);
}

// The first index from `from` on whose value is not above limit, or count. Most values are above
// it, so eight are tested a step.
Index firstWithin(const double* values, Index from, Index count, double limit) {
    Index j = from;
#if defined(PAIRSOLVE_PAIRS)
    const Pair most = both(limit);
    for (; j + 8 <= count; j += 8) {
        const PairMask within =
            eitherOf(eitherOf(notAbove(load(values + j), most), notAbove(load(values + j + 2), most)),
                     eitherOf(notAbove(load(values + j + 4), most), notAbove(load(values + j + 6), most)));
        if (laneBits(within) != 0) break;  // found value by value below
    }
#endif
    while (j < count && values[j] > limit) ++j;
    return j;
}

// h for the certified case: the least exact value of the uncovered elements within reach of the
// bound, and the columns that may hold the new zeros in tiedColumns[0, tied). Returns +inf when
// the search gave up.
double leastUncoveredValue(SolverState& state, Index& tied) {
    OffsetSearch& o = state.offset;
    const Index rows = state.rowCount;
    const double m = margin(o);
    const auto upper = [&](Index c) { return o.keyBound[c] * m - target(o, c); };
    const auto reach = [&](Index c, double bound) { return (bound + target(o, c)) * m; };

    // One pass over the uncovered columns gives the least upper bound over the columns whose
    // bound is exact, and keeps in tiedColumns every column within reach of the bound as it then
    // stood. The bound only comes down, and with it every column's reach, so the columns that
    // are within reach of it later on are among those kept. A column whose bound is only its
    // list's (each search starts so) and within reach asks its list at once: a few rows read,
    // and most often the list tells. The uncovered columns are the star columns of the covered
    // rows and the group (the columns that never held a star): all of the group share one
    // target, so one reach, and its keys are read from the group's own list.
    double bound = infinity;
    Index kept = 0;
    // (ensureBound only tells what the bound is, never changes it, so a column out of reach is
    // left as it is: rows are only covered within a search, so asking later tells the same.)
    const auto visit = [&](Index c) {
        bool exact = ensureBound(state, c);
        if (!exact && o.keyBoundRow[c] == staleRow) {
            refreshFromList(state, c);
            exact = minimumExact(state, c);
        }
        if (exact) {
            const double u = upper(c);
            if (u < bound) bound = u;
        }
        o.tiedColumns[kept++] = c;
    };
    for (Index i = 0; i < state.matching.coveredCount; ++i) {
        const Index c = state.matching.starInRow[state.matching.coveredRows[i]];
        if (!(o.keyBound[c] > reach(c, bound))) visit(c);
    }
    for (Index j = firstWithin(o.groupKeys, 0, o.groupCount, (bound + o.groupOffset) * m);
         j < o.groupCount;
         j = firstWithin(o.groupKeys, j + 1, o.groupCount, (bound + o.groupOffset) * m))
        visit(o.groupColumns[j]);
    // The kept columns whose bound is only a bound and within reach are read afresh, the lowest
    // bound first: what it finds brings the bound down, and most of the others then stay out of
    // reach.
    Index* waitingColumns = o.waitingColumns;
    Index waiting = 0;
    for (Index i = 0; i < kept; ++i) {
        const Index c = o.tiedColumns[i];
        if (!minimumExact(state, c) && !(o.keyBound[c] > reach(c, bound)))
            waitingColumns[waiting++] = c;
    }
    settleLowestFirst(
        o, waitingColumns, waiting, [&](Index c) { return o.keyBound[c] > reach(c, bound); },
        [&](Index c) {
            settleBound(state, c);
            const double u = upper(c);
            if (u < bound) bound = u;
        });
    tied = 0;
    for (Index i = 0; i < kept; ++i) {
        const Index c = o.tiedColumns[i];
        if (!(o.keyBound[c] > reach(c, bound))) o.tiedColumns[tied++] = c;
    }
    // The smallest key of each candidate column first: its value is most often h itself, and
    // brings the bound down to it before the columns are read.
    double best = infinity;
    for (Index i = 0; i < tied; ++i) {
        const Index c = o.tiedColumns[i];
        if (o.keyBound[c] > reach(c, bound)) continue;
        const double value = exactValue(state, o.keyBoundRow[c], c);
        if (o.gaveUp) return infinity;
        if (value < best) best = value;
        if (best < bound) bound = best;
    }
    // Then every element within reach: any of them may be below, or equal to, what was found.
    // From the list when its bound is beyond reach, else from the column.
    for (Index i = 0; i < tied; ++i) {
        const Index c = o.tiedColumns[i];
        if (reach(c, bound) < o.topBound[c]) {
            Index found[columnTopSize];
            const int n = listedWithin(state, c, 0, reach(c, bound), found);
            for (int j = 0; j < n; ++j) {
                const double value = exactValue(state, found[j], c);
                if (o.gaveUp) return infinity;
                if (value < best) best = value;
                if (best < bound) bound = best;
            }
            continue;
        }
        const ReducedColumn column = reducedColumn(state, c);
        double least;
        Index leastRow;
        for (Index r = 0;; ++r) {
            if (o.keyBound[c] > reach(c, bound)) break;
            r = scanColumn(column, o.scanOffset, reach(c, bound), r, rows, least, leastRow);
            if (r == rows) break;
            const double value = exactValue(state, r, c);
            if (o.gaveUp) return infinity;
            if (value < best) best = value;
            if (best < bound) bound = best;
        }
    }
    return best;
}

// h for the exact case: the smallest key less target over the uncovered columns; the keys that
// are exact give a first candidate, and only a column whose bound is below it is recomputed.
// The columns whose smallest value equals h are the ones that may now hold an uncovered zero.
double leastExactValue(SolverState& state, Index& tied) {
    OffsetSearch& o = state.offset;
    // The uncovered columns, listed first (listColumns).
    Index* uncovered = o.waitingColumns;
    const Index count = listColumns(state, uncovered, nullptr);
    double least = infinity;
    for (Index i = 0; i < count; ++i) {
        const Index c = uncovered[i];
        if (!ensureBound(state, c)) continue;
        const double value = o.keyBound[c] - target(o, c);
        if (value < least) least = value;
    }
    Index waiting = 0;
    for (Index i = 0; i < count; ++i) {
        const Index c = uncovered[i];
        if (!minimumExact(state, c) && o.keyBound[c] - target(o, c) < least)
            o.tiedColumns[waiting++] = c;
    }
    settleLowestFirst(
        o, o.tiedColumns, waiting, [&](Index c) { return !(o.keyBound[c] - target(o, c) < least); },
        [&](Index c) {
            settleBound(state, c);
            const double value = o.keyBound[c] - target(o, c);
            if (value < least) least = value;
        });
    // A column whose bound equals least may hold the value or not; the sweep tells.
    tied = 0;
    for (Index i = 0; i < count; ++i) {
        const Index c = uncovered[i];
        if (o.keyBound[c] - target(o, c) == least) o.tiedColumns[tied++] = c;
    }
    return least;
}

}  // namespace

namespace offsetSearch {

Phase runPhases(SolverState& state) {
    return runPhaseLoop<primeZeros, augmentPath, coverStarColumns, shiftByMinimum>(state);
}

// Starts the first search, on the seed's stars: the group is every column without a star, in
// ascending order, and every starred column has held its star since search 0. From then on a
// column gets its first star only as the end of an augmenting path, and augmentPath keeps both.
void startCall(SolverState& state) {
    OffsetSearch& o = state.offset;
    o.groupCount = 0;
    for (Index c = 0; c < state.colCount; ++c) {
        if (state.matching.starInCol[c] == none) {
            o.groupColumns[o.groupCount] = c;
            o.groupPlace[c] = o.groupCount++;
        } else {
            o.groupPlace[c] = none;
            if (!o.exact) o.colStarSearch[c] = 0;
        }
    }
    startSearch(state);
}

// Column c's bookkeeping as a search starts it: every row is a candidate again, so its smallest
// key starts as the least key its list was read with, or as its floor, exact if the row that gave
// it kept its offset; its scan and its pass start from the top.
void startColumn(SolverState& state, Index c) {
    OffsetSearch& o = state.offset;
    if (!o.unlisted[c]) {
        setKeyBound(o, c, o.topLeast[c]);
        o.keyBoundRow[c] = staleRow;
    } else if (o.floorRow[c] == unknownRow) {
        setKeyBound(o, c, -infinity);
        o.keyBoundRow[c] = unknownRow;
    } else {
        const Index floorRow = o.floorRow[c];
        setKeyBound(o, c, o.floor[c]);
        o.keyBoundRow[c] = floorRow == none || o.rowOffset[floorRow] == o.floorOffset[c]
                               ? floorRow
                               : unknownRow;
    }
    state.matching.scanFrom[c] = 0;
    startPass(o, c);
}

// Sets the bookkeeping for a search from the current stars and covers (star columns covered, no
// row covered, nothing primed). The uncovered columns are the group's; each is started, and is
// pending from its top if it may hold a zero. A covered column is started only when the search
// uncovers it (primeZeros), as nothing reads its bookkeeping before that: it is then started
// from what it would have been started from here. Its list and its floor change only while it is
// uncovered; the offset of its floor's row changes only once that row is covered, and then
// ensureBound takes the floor for a bound only, as it would have from here.
void startSearch(SolverState& state) {
    OffsetSearch& o = state.offset;
    const double m = margin(o);
    state.matching.coveredCount = 0;
    clearAllPending(state);
    if (!o.exact) o.searchStart[o.searchCount++] = o.shiftsMade;
    for (Index i = 0; i < o.groupCount; ++i) {
        const Index c = o.groupColumns[i];
        startColumn(state, c);
        ensureBound(state, c);
        if (mayHoldZero(state, c, m)) markPending(state, c);
    }
}

// The sweeps of munkres_phases.cpp over the pending columns, each searched from its scanFrom. A
// search from the top that finds no zero leaves the column's exact smallest key behind.
Phase primeZeros(SolverState& state, Index& pathRow, Index& pathCol) {
    OffsetSearch& o = state.offset;
    const double m = margin(o);
    return sweepPending(
        state, pathRow, pathCol,
        [&](Index c) {
            const Index r = firstUncoveredZero(state, c, state.matching.scanFrom[c]);
            return o.gaveUp ? none : r;
        },
        [&](Index r, Index s) {
            o.scanOffset[r] = infinity;
            if (!o.exact && !recordCover(o, r, s)) return false;
            startColumn(state, s);
            ensureBound(state, s);
            if (mayHoldZero(state, s, m)) markPending(state, s);
            return true;
        });
}

// Flips the path (flipPath), clears the primes, uncovers the rows, and drops the floor of every
// column whose star changed (the prime columns of the path).
Phase augmentPath(SolverState& state, Index pathRow, Index pathCol) {
    OffsetSearch& o = state.offset;
    Matching& matching = state.matching;
    solverTesting::record(state, solverTesting::Decision::augment, pathRow, pathCol, 0);
    // The path ends in a column without a star, which leaves the group (kept in ascending
    // order): it takes the group's target as its own, and holds a star from the next search on.
    Index end = pathCol;
    while (matching.starInCol[end] != none) end = matching.primeInRow[matching.starInCol[end]];
    o.colOffset[end] = o.groupOffset;
    if (!o.exact) o.colStarSearch[end] = o.searchCount;
    for (Index j = o.groupPlace[end] + 1; j < o.groupCount; ++j) {
        const Index c = o.groupColumns[j];
        o.groupColumns[j - 1] = c;
        o.groupKeys[j - 1] = o.groupKeys[j];
        o.groupPlace[c] = j - 1;
    }
    --o.groupCount;
    o.groupPlace[end] = none;
    flipPath(state, pathRow, pathCol);
    for (Index i = 0; i <= matching.coveredCount; ++i) {
        const bool covered = i < matching.coveredCount;
        const Index row = covered ? matching.coveredRows[i] : pathRow;
        const Index prime = matching.primeInRow[row];
        // An unlisted column's floor left out its star's row, which changed.
        if (matching.starInRow[row] == prime) o.floorRow[prime] = unknownRow;
        matching.primeInRow[row] = none;
        // Its star's column is covered again (coverStarColumns).
        state.colCover[matching.starInRow[row]] = 1;
        if (covered) {
            o.scanOffset[row] = o.rowOffset[row];
            state.rowCover[row] = 0;
            matching.rowExclusion[row] = 0;
        }
    }
    return Phase::coverStarColumns;
}

// Covers every column holding a star; no other column is covered after an augmentation. The
// search uncovered only the star columns of the rows it covered, and the path gave a star only
// to those and to its end, which is the star column of the path's last row now: augmentPath
// covered the star column of each of those rows, so every star column is covered already.
Phase coverStarColumns(SolverState& state) {
    offsetSearch::startSearch(state);
    return Phase::checkDone;
}

// Adds the smallest uncovered value h to every covered row's offset and to every uncovered
// column's. The columns that may now hold an uncovered zero become pending from their top; every
// other uncovered column's elements stay above 0.
Phase shiftByMinimum(SolverState& state) {
    OffsetSearch& o = state.offset;
    Matching& matching = state.matching;
    Index tied = 0;
    const double h = o.exact ? leastExactValue(state, tied) : leastUncoveredValue(state, tied);
    if (o.gaveUp) return Phase::restart;
    if (!o.exact) {
        if (o.shiftsMade == o.shiftCapacity) {
            giveUp(o);
            return Phase::restart;
        }
        o.shiftLog[o.shiftsMade] = h;
    }
    solverTesting::record(state, solverTesting::Decision::shift, -1, -1, h);
    // The uncovered columns: the group, and the star columns of the covered rows.
    o.groupOffset = o.groupOffset + h;
    for (Index i = 0; i < matching.coveredCount; ++i) {
        const Index r = matching.coveredRows[i], s = matching.starInRow[r];
        o.rowOffset[r] = o.rowOffset[r] + h;
        o.colOffset[s] = o.colOffset[s] + h;
    }
    ++o.shiftsMade;
    for (Index i = 0; i < tied; ++i) {
        const Index c = o.tiedColumns[i];
        matching.scanFrom[c] = 0;
        startPass(o, c);
        markPending(state, c);
    }
    return Phase::primeZeros;
}

}  // namespace offsetSearch

}  // namespace pairsolve
