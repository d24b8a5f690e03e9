// The offset search: the method's phases with offsets in place of shifts.
//
// A shift need not be written into the matrix. The reduced matrix R (formed from the caller's
// matrix where it is read: no working copy is taken) stays as it is, and element (r, c) of the
// matrix the machine works on is taken to be
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
#include "offset_search.h"

#include <algorithm>

#include "host_services.h"

namespace pairsolve {

namespace offsetSearch {

void layOutHistory(Carving& carving, History& h, Index rows, Index cols);
void resetHistory(History& h, Index rows, Index cols);

namespace {

using namespace kernels;

// Keys not above a limit: the group's keys against its reach.
struct NotAbove {
    const double* values;
    double limit;
    PairMask pair(Index j) const { return notAbove(load(values + j), both(limit)); }
    bool at(Index j) const { return !(values[j] > limit); }
};

// The first index from `from` on whose value is not above limit, or count. Most values are above
// it, so eight are tested a step.
Index firstWithin(const double* values, Index from, Index count, double limit) {
    return firstWhere<8>(from, count, NotAbove{values, limit});
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

// Exact offsets only: writes flags[r] = 1 where element (r, c) of the uncovered column c is 0 and
// 0 elsewhere, for every row, the covered ones at their offsets now.
void writeZeroFlags(SolverState& state, OffsetSearch& o, Index c, double target) {
    const Index rows = state.rowCount;
    const ReducedColumn column = reducedColumn(state.reduction, rows, c);
    unsigned char* flags = o.zeroFlags + rows * c;
    const double* offset = o.rowOffset;
    Index r = 0;
    for (; r + 2 <= rows; r += 2) {
        const int zero = laneBits(column.pair(r) + load(offset + r) == both(target));
        flags[r] = static_cast<unsigned char>(zero & 1);
        flags[r + 1] = static_cast<unsigned char>(zero >> 1);
    }
    for (; r < rows; ++r) flags[r] = column.at(r) + offset[r] == target ? 1 : 0;
}

void addToPass(OffsetSearch& o, Index c, double least, Index leastRow) {
    if (!o.passWhole[c]) return;
    if (least < o.passLeast[c]) {
        o.passLeast[c] = least;
        o.passLeastRow[c] = leastRow;
    }
}

// The pass reached the end: what it gathered is a lower bound on the column's candidate rows
// (rows read and covered since only lower it), exact while the row holding it is uncovered.
void finishPass(SolverState& state, OffsetSearch& o, Index c) {
    if (o.passWhole[c]) settleMinimum(state, o, c, o.passLeast[c], o.passLeastRow[c]);
}

// The first uncovered zero of the uncovered column c from row `from` on, or rowCount (also when
// the search gave up). From the column's list, while it holds every row whose key can be a
// zero's: read afresh when the threshold has reached its bound, unless the column has more such
// rows than the list can hold (many ties), which it then keeps to for the rest of the call. Such
// a column, and every column of a matrix of fewer than listedRows rows, is unlisted and searched
// by reading it, in blocks of 16 rows whose minimum tells whether the block holds a candidate,
// stopping at the first zero (many ties: the first zero is near). Its pass from the top to the
// bottom, over the segments between the zeros it primes, gathers the column's smallest key on
// the way; and it keeps a floor across searches where a listed column keeps its list.
Index firstUncoveredZero(SolverState& state, OffsetSearch& o, Index c, Index from) {
    const Index rows = state.rowCount;
    const ReducedColumn column = reducedColumn(state.reduction, rows, c);
    const double threshold = zeroThreshold(o, c, margin(o));
    if (!o.unlisted[c] && !(threshold < o.lists.bound[c])) {
        captureTop(state, o, c);
        if (!(threshold < o.lists.bound[c])) o.unlisted[c] = 1;
    }
    if (!o.unlisted[c]) {
        o.passWhole[c] = 0;
        Index listed[columnTopSize];
        const Index* found = listed;
        int n;
        Index barredZero = rows;
        if (o.lists.barredCount > 0 && o.groupPlace[c] >= 0) {
            // A column that never held a star has been uncovered in every shift, so a barred
            // row's element there is 0 throughout: 0 to start with (R is 0 across a barred row),
            // and a shift meets it only while its row is covered (at an uncovered row it would
            // be an uncovered zero, and a shift comes only when there is none), where it takes
            // (0 + h) - h = 0. So the first uncovered barred row from `from` on is a zero; only
            // the listed rows above it are to be tested.
            barredZero = firstUncoveredBarred(state, o, from);
            n = listedWithin(state, o, c, from, threshold, listed);
            while (n > 0 && listed[n - 1] > barredZero) --n;
        } else {
            n = candidatesWithin(state, o, c, from, threshold, listed, found);
        }
        for (int i = 0; i < n; ++i) {
            if (o.exact) return found[i];
            const double value = exactValue(state, o, found[i], c);
            if (o.gaveUp) return rows;
            if (value == 0) return found[i];
        }
        return barredZero;
    }
    double least;
    Index leastRow;
    if (o.exact) {
        // From the flags when they were written since the last shift; else they are written when
        // the column is searched from its top for the second time since the last shift.
        if (o.zeroFlagsAt[c] != o.shiftsMade && from == 0 && o.searchedAt[c] == o.shiftsMade) {
            writeZeroFlags(state, o, c, threshold);
            o.zeroFlagsAt[c] = o.shiftsMade;
        }
        if (o.zeroFlagsAt[c] == o.shiftsMade) {
            o.passWhole[c] = 0;
            return firstFlaggedZero(o.zeroFlags + rows * c, state.rowCover, from, rows);
        }
        if (from == 0) o.searchedAt[c] = o.shiftsMade;
        const Index r = scanColumn(column, o.scanOffset, threshold, from, rows, least, leastRow);
        addToPass(o, c, least, leastRow);
        if (r == rows) finishPass(state, o, c);
        return r;
    }
    for (Index r = from;; ++r) {
        r = scanColumn(column, o.scanOffset, threshold, r, rows, least, leastRow);
        addToPass(o, c, least, leastRow);
        if (r == rows) break;
        // A candidate: within the margin of 0, so only its exact value tells.
        const double value = exactValue(state, o, r, c);
        if (o.gaveUp) return rows;
        if (value == 0) return r;
        addToPass(o, c, column.at(r) + o.scanOffset[r], r);
    }
    finishPass(state, o, c);
    return rows;
}

// An uncovered column can hold a zero at an uncovered row only if its bound is within the zero
// threshold (keyBound brought up to date first).
bool mayHoldZero(const OffsetSearch& o, Index c, double m) {
    return !(o.keyBound[c] > zeroThreshold(o, c, m));
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

// The least exact value among the elements of column c within reach(c, bound), lowering bound to
// it on the way: from the list when its bound is beyond reach, else from the column. false when
// the search gave up.
template <class Reach>
bool leastWithinReach(SolverState& state, OffsetSearch& o, Index c, Reach reach, double& best,
                      double& bound) {
    const auto take = [&](Index r) {
        const double value = exactValue(state, o, r, c);
        if (o.gaveUp) return false;
        if (value < best) best = value;
        if (best < bound) bound = best;
        return true;
    };
    if (o.listed && reach(c, bound) < o.lists.bound[c]) {
        Index listed[columnTopSize];
        const Index* found;
        const int n = candidatesWithin(state, o, c, 0, reach(c, bound), listed, found);
        for (int j = 0; j < n; ++j)
            if (!take(found[j])) return false;
        return true;
    }
    const ReducedColumn column = reducedColumn(state.reduction, state.rowCount, c);
    double least;
    Index leastRow;
    for (Index r = 0;; ++r) {
        if (o.keyBound[c] > reach(c, bound)) break;
        r = scanColumn(column, o.scanOffset, reach(c, bound), r, state.rowCount, least, leastRow);
        if (r == state.rowCount) break;
        if (!take(r)) return false;
    }
    return true;
}

// h for the certified case: the least exact value of the uncovered elements within reach of the
// bound, and the columns that may hold the new zeros in tied[0, tiedCount). Returns +inf when the
// search gave up. A shift reads afresh only the columns whose bound is within reach of the least
// upper bound, lowest bound first.
double leastUncoveredValue(SolverState& state, OffsetSearch& o, Index& tiedCount) {
    const double m = margin(o);
    const auto upper = [&](Index c) { return o.keyBound[c] * m - target(o, c); };
    const auto reach = [&](Index c, double bound) { return (bound + target(o, c)) * m; };

    // One pass over the uncovered columns gives the least upper bound over the columns whose
    // bound is exact, and keeps in tied every column within reach of the bound as it then
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
        bool exact = ensureBound(state, o, c);
        if (!exact && o.keyState[c] == KeyBound::stale) {
            refreshFromList(state, o, c);
            exact = minimumExact(state, o, c);
        }
        if (exact) {
            const double u = upper(c);
            if (u < bound) bound = u;
        }
        o.tied[kept++] = c;
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
    Index waiting = 0;
    for (Index i = 0; i < kept; ++i) {
        const Index c = o.tied[i];
        if (!minimumExact(state, o, c) && !(o.keyBound[c] > reach(c, bound)))
            o.waiting[waiting++] = c;
    }
    settleLowestFirst(
        o, o.waiting, waiting, [&](Index c) { return o.keyBound[c] > reach(c, bound); },
        [&](Index c) {
            settleBound(state, o, c);
            const double u = upper(c);
            if (u < bound) bound = u;
        });
    tiedCount = 0;
    for (Index i = 0; i < kept; ++i) {
        const Index c = o.tied[i];
        if (!(o.keyBound[c] > reach(c, bound))) o.tied[tiedCount++] = c;
    }
    // The smallest key of each candidate column first: its value is most often h itself, and
    // brings the bound down to it before the columns are read.
    double best = infinity;
    for (Index i = 0; i < tiedCount; ++i) {
        const Index c = o.tied[i];
        if (o.keyBound[c] > reach(c, bound)) continue;
        const double value = exactValue(state, o, o.keyBoundRow[c], c);
        if (o.gaveUp) return infinity;
        if (value < best) best = value;
        if (best < bound) bound = best;
    }
    // Then every element within reach: any of them may be below, or equal to, what was found.
    for (Index i = 0; i < tiedCount; ++i)
        if (!leastWithinReach(state, o, o.tied[i], reach, best, bound)) return infinity;
    return best;
}

// h for the exact case: the smallest key less target over the uncovered columns; the keys that
// are exact give a first candidate, and only a column whose bound is below it is recomputed.
// The columns whose smallest value equals h are the ones that may now hold an uncovered zero.
//
// The results rest on the bounds alone; knowing a minimum exactly only saves work. In the exact
// case a column whose bound is above its target holds no zero, and every column whose smallest
// X equals h has its key equal to the new target, so it is swept. Were a bound taken for an exact
// minimum there, the shift would fall short of h, the sweep after it would prime nothing, and the
// next shift would add the rest: in exact arithmetic the same elements as one shift by h. (With
// rounding two shifts are not one, so the certified case takes h only from exact values.)
double leastExactValue(SolverState& state, OffsetSearch& o, Index& tiedCount) {
    // The uncovered columns, listed first (listColumns), then narrowed in place to the tied ones.
    Index* uncovered = o.tied;
    const Index count = listColumns(state, uncovered, nullptr);
    double least = infinity;
    for (Index i = 0; i < count; ++i) {
        const Index c = uncovered[i];
        if (!ensureBound(state, o, c)) continue;
        const double value = o.keyBound[c] - target(o, c);
        if (value < least) least = value;
    }
    Index waiting = 0;
    for (Index i = 0; i < count; ++i) {
        const Index c = uncovered[i];
        if (!minimumExact(state, o, c) && o.keyBound[c] - target(o, c) < least)
            o.waiting[waiting++] = c;
    }
    settleLowestFirst(
        o, o.waiting, waiting, [&](Index c) { return !(o.keyBound[c] - target(o, c) < least); },
        [&](Index c) {
            settleBound(state, o, c);
            const double value = o.keyBound[c] - target(o, c);
            if (value < least) least = value;
        });
    // A column whose bound equals least may hold the value or not; the sweep tells.
    tiedCount = 0;
    for (Index i = 0; i < count; ++i) {
        const Index c = uncovered[i];
        if (o.keyBound[c] - target(o, c) == least) o.tied[tiedCount++] = c;
    }
    return least;
}

// Column c's bookkeeping as a search starts it: every row is a candidate again, so its smallest
// key starts as the least key its list was read with, or as its floor, exact if the row that gave
// it kept its offset; its scan and its pass start from the top.
void startColumn(SolverState& state, OffsetSearch& o, Index c) {
    if (!o.unlisted[c]) {
        setKeyBound(o, c, o.lists.least[c], KeyBound::stale, none);
    } else if (!o.floorKnown[c]) {
        setKeyBound(o, c, -infinity, KeyBound::bound, none);
    } else {
        const Index floorRow = o.floorRow[c];
        const bool exact = floorRow == none || o.rowOffset[floorRow] == o.floorOffset[c];
        setKeyBound(o, c, o.floor[c], exact ? KeyBound::exact : KeyBound::bound, floorRow);
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
// ensureBound takes the floor for a bound only, as it would have from here. So a search costs its
// covers, not a pass over every column.
void startSearch(SolverState& state, OffsetSearch& o) {
    const double m = margin(o);
    state.matching.coveredCount = 0;
    clearAllPending(state);
    if (!o.exact) o.history.searchStart[o.history.searchCount++] = o.shiftsMade;
    if (o.listed) {
        for (Index i = 0; i < o.lists.barredCount; ++i) o.lists.open[i] = o.lists.barred[i];
        o.lists.openCount = o.lists.barredCount;
    }
    for (Index i = 0; i < o.groupCount; ++i) {
        const Index c = o.groupColumns[i];
        startColumn(state, o, c);
        ensureBound(state, o, c);
        if (mayHoldZero(o, c, m)) markPending(state, c);
    }
}

}  // namespace

void layOut(Carving& carving, OffsetSearch& o, Index rows, Index cols) {
    if (!o.exact) layOutHistory(carving, o.history, rows, cols);
    o.listed = rows >= listedRows;
    carving.take(o.rowOffset, rows);
    carving.take(o.scanOffset, rows);
    carving.take(o.colOffset, cols);
    carving.take(o.groupColumns, cols);
    carving.take(o.groupKeys, cols);
    carving.take(o.groupPlace, cols);
    if (o.listed) {
        ColumnLists& lists = o.lists;
        carving.take(lists.rows, columnTopSize * cols);
        carving.take(lists.values, columnTopSize * cols);
        carving.take(lists.count, cols);
        carving.take(lists.bound, cols);
        carving.take(lists.least, cols);
        carving.take(lists.blockLeast, rows / 16);
        carving.take(lists.barred, rows);
        carving.take(lists.listOffset, rows);
        carving.take(lists.found, columnTopSize + rows);
        carving.take(lists.open, rows);
        carving.take(lists.isBarred, rows);
    }
    carving.take(o.floor, cols);
    carving.take(o.floorRow, cols);
    carving.take(o.floorOffset, cols);
    carving.take(o.keyBound, cols);
    carving.take(o.keyBoundRow, cols);
    carving.take(o.passLeast, cols);
    carving.take(o.passLeastRow, cols);
    carving.take(o.tied, cols);
    carving.take(o.waiting, cols);
    if (o.exact) {
        carving.take(o.zeroFlagsAt, cols);
        carving.take(o.searchedAt, cols);
    }
    carving.take(o.unlisted, cols);
    carving.take(o.floorKnown, cols);
    carving.take(o.keyState, cols);
    carving.take(o.passWhole, cols);
    if (o.exact) carving.take(o.zeroFlags, static_cast<std::uint64_t>(rows) * cols);
}

void reset(OffsetSearch& o, Index rows, Index cols) {
    for (Index r = 0; r < rows; ++r) o.rowOffset[r] = o.scanOffset[r] = 0;
    for (Index c = 0; c < cols; ++c) {
        o.colOffset[c] = 0;
        o.groupPlace[c] = none;
        o.unlisted[c] = o.listed ? 0 : 1;
        o.floorKnown[c] = 0;
        if (o.exact) o.zeroFlagsAt[c] = o.searchedAt[c] = none;
    }
    if (!o.exact) resetHistory(o.history, rows, cols);
    o.shiftsMade = 0;
    o.groupOffset = 0;
    o.groupCount = 0;
    o.gaveUp = false;
}

namespace {

// The sweeps of the method over the pending columns, each searched from its scanFrom. A search
// from the top that finds no zero leaves the column's exact smallest key behind.
Phase primeZeros(SolverState& state, OffsetSearch& o, Index& pathRow, Index& pathCol) {
    const double m = margin(o);
    return sweepPending(
        state, pathRow, pathCol,
        [&](Index c) {
            const Index r = firstUncoveredZero(state, o, c, state.matching.scanFrom[c]);
            return o.gaveUp ? none : r;
        },
        [&](Index r, Index s) {
            o.scanOffset[r] = infinity;
            if (!o.exact && !recordCover(o, r, s)) return false;
            startColumn(state, o, s);
            ensureBound(state, o, s);
            if (mayHoldZero(o, s, m)) markPending(state, s);
            return true;
        });
}

// Flips the path (flipPath), clears the primes, uncovers the rows, and drops the floor of every
// column whose star changed (the prime columns of the path).
Phase augmentPath(SolverState& state, OffsetSearch& o, Index pathRow, Index pathCol) {
    Matching& matching = state.matching;
    record(state, solverTesting::Decision::augment, pathRow, pathCol, 0);
    // The path ends in a column without a star, which leaves the group (kept in ascending
    // order): it takes the group's target as its own, and holds a star from the next search on.
    Index end = pathCol;
    while (matching.starInCol[end] != none) end = matching.primeInRow[matching.starInCol[end]];
    o.colOffset[end] = o.groupOffset;
    if (!o.exact) o.history.colStarSearch[end] = o.history.searchCount;
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
        if (matching.starInRow[row] == prime) o.floorKnown[prime] = 0;
        matching.primeInRow[row] = none;
        // Its star's column is covered again (coverStarColumns).
        state.colCover[matching.starInRow[row]] = 1;
        if (covered) {
            o.scanOffset[row] = o.rowOffset[row];
            state.rowCover[row] = 0;
        }
    }
    return Phase::coverStarColumns;
}

// Covers every column holding a star; no other column is covered after an augmentation. The
// search uncovered only the star columns of the rows it covered, and the path gave a star only
// to those and to its end, which is the star column of the path's last row now: augmentPath
// covered the star column of each of those rows, so every star column is covered already.
Phase coverStarColumns(SolverState& state, OffsetSearch& o) {
    startSearch(state, o);
    return Phase::checkDone;
}

// Adds the smallest uncovered value h to every covered row's offset and to every uncovered
// column's. A shift costs O(M + N), and one reading of each column whose smallest key may be
// within reach: the columns that never held a star (most of them in a wide matrix) have been
// uncovered in every shift, so they share one b_c, kept once (groupOffset), and their bounds are
// read side by side from a list of their own. The columns that may now hold an uncovered zero
// become pending from their top; every other uncovered column's elements stay above 0.
Phase shiftByMinimum(SolverState& state, OffsetSearch& o) {
    Matching& matching = state.matching;
    Index tiedCount = 0;
    const double h = o.exact ? leastExactValue(state, o, tiedCount)
                             : leastUncoveredValue(state, o, tiedCount);
    if (o.gaveUp) return Phase::restart;
    if (!o.exact) {
        if (o.shiftsMade == o.history.shiftCapacity && !growShiftLog(o.history)) {
            o.gaveUp = true;
            return Phase::restart;
        }
        o.history.shiftLog[o.shiftsMade] = h;
    }
    record(state, solverTesting::Decision::shift, -1, -1, h);
    // The uncovered columns: the group, and the star columns of the covered rows.
    o.groupOffset = o.groupOffset + h;
    for (Index i = 0; i < matching.coveredCount; ++i) {
        const Index r = matching.coveredRows[i], s = matching.starInRow[r];
        o.rowOffset[r] = o.rowOffset[r] + h;
        o.colOffset[s] = o.colOffset[s] + h;
        if (o.listed && o.lists.barredCount > 0)
            o.lists.listOffset[r] = o.lists.isBarred[r] ? infinity : o.rowOffset[r];
    }
    ++o.shiftsMade;
    for (Index i = 0; i < tiedCount; ++i) {
        const Index c = o.tied[i];
        matching.scanFrom[c] = 0;
        startPass(o, c);
        markPending(state, c);
    }
    return Phase::primeZeros;
}

}  // namespace

// Starts the first search, on the seed's stars: the group is every column without a star, in
// ascending order, and every starred column has held its star since search 0. From then on a
// column gets its first star only as the end of an augmenting path, and augmentPath keeps both.
Phase run(SolverState& state, OffsetSearch& o, const ColumnStarts& starts) {
    if (o.listed) startLists(state, o, starts);
    o.groupCount = 0;
    for (Index c = 0; c < state.colCount; ++c) {
        if (state.matching.starInCol[c] == none) {
            o.groupColumns[o.groupCount] = c;
            o.groupPlace[c] = o.groupCount++;
        } else {
            o.groupPlace[c] = none;
            if (!o.exact) o.history.colStarSearch[c] = 0;
        }
    }
    startSearch(state, o);
    return runPhaseLoop<OffsetSearch, primeZeros, augmentPath, coverStarColumns, shiftByMinimum>(
        state, o);
}

}  // namespace offsetSearch

}  // namespace pairsolve
