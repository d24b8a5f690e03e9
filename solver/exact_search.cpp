// The exact search: the phase machine of munkres_phases.cpp for working matrices of small
// integers, with offsets in place of shifts.
//
// When every element of the working matrix is an integer and nothing is ever rounded, a shift need
// not be written into the matrix. The reduced matrix R (workMatrix after the driver's reduction)
// stays as it is, and element (r, c) of the matrix the machine works on is
//     V(r, c) = R(r, c) + a_r - b_c,
// a_r being the total that shifts added to row r while it was covered and b_c the total they
// subtracted from column c while it was uncovered. The element-by-element machine computes the
// very same V: its x + h - h on a covered row of an uncovered column is x again, and every other
// sum it forms is exact too. So this search sees the same zeros and makes the same decisions in
// the same order (which zero is primed, which row is covered, which path is flipped, which h is
// taken), and leaves the same stars.
//
// Why nothing is rounded. Let W be the largest element of the working matrix (forbidden pairs
// replaced, before the reduction) and T = min(M, N). The driver checks that every element is an
// integer and W * 2(M + N + 1) < 2^53 (exactSearchApplies); then:
// - R is exact and 0 <= R(r, c) <= W: each line minimum is one of the line's integers.
// - V >= 0 at all times: a shift lowers only uncovered elements, by their smallest value.
// - The shifts of the whole call add up to at most T * W. Take an assignment of T pairs that is
//   optimal for R; its cost C is at most T * W, and the sum S of V over its pairs starts at C and
//   never goes below 0. A shift by h adds h to the pairs whose row and column are both covered and
//   takes h from those whose row and column are both uncovered. The covered lines are as many as
//   the stars, fewer than T, and each line holds at most one pair of the assignment, so at least
//   one more pair than there are doubly covered ones is left entirely uncovered: S drops by at
//   least h. Augmentations leave V alone. So every a_r and b_c lies in [0, T * W].
// - Hence every V lies in [0, (T + 1) W], every R + a_r in [0, (T + 1) W], every column minimum
//   and every h is such a V, and the search's own terms (a row offset less the running total of
//   the shifts, a column's b_c + h) lie within (2T + 1) W in size. The element-by-element
//   machine's largest intermediate, (x + h) on a covered row, is below (2T + 1) W as well.
// All of these are integers below 2(M + N + 1) W < 2^53, so every sum and difference of them is
// exact, whatever its grouping. The same check keeps NaN and infinite elements out (an overflowed
// forbiddenValue included), so every h is finite: the uncovered part is never empty before the
// end (fewer lines are covered than min(M, N)), and the endless search that the other machine
// reports as an error cannot occur here.
//
// How it stays fast in both regimes
// - Shifts cost O(colCount): they add to a running total. A covered row holds its offset less that
//   total (coveredOffset), an uncovered column likewise (colOffset); the offsets are settled when
//   the search ends. An uncovered row's rowOffset is its a_r, a covered row's is +inf, so that one
//   contiguous pass over a column, R + rowOffset, sees exactly the uncovered rows.
// - A zero of an uncovered column c at an uncovered row is R + rowOffset == colOffset[c] +
//   shiftTotal; a column is searched in blocks of 16 rows whose minimum tells whether the block
//   holds a zero, and the search stops at the first (many ties: the first zero is near). A search
//   from the column's top that finds none has gathered the column's minimum on the way.
// - Each column keeps the smallest R + a_r over its candidate rows (colMinimum). Covering a row
//   only removes candidates and an uncovered row's a_r is fixed within a search, so the value
//   stays a lower bound, and stays exact while the row holding it is uncovered. A column whose
//   bound shows no zero is neither swept nor recomputed; a shift recomputes only the columns whose
//   bound is below the smallest exact minimum (few distinct values: few of them).
// - Across searches each column keeps a floor: a lower bound on R + a_r over all rows but its
//   star's, rows covered at the time included. a_r never decreases, so the floor holds until the
//   column's star changes (the flipped path), and it is exact while the row that gave it keeps its
//   offset. The next search starts from the floors: re-admitting the rows covered in the last
//   search costs nothing unless a column's minimum was among them.
// - The results rest on the bounds alone; knowing a minimum exactly only saves work. A column
//   whose bound is above its target holds no zero, and every column whose smallest V equals h
//   has its key equal to the new total, so it is swept. Were a bound taken for an exact minimum,
//   the shift would fall short of h, the sweep after it would prime nothing, and the next shift
//   would add the rest: in exact arithmetic the same elements as one shift by h.
#include "assignment_solver.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "host_services.h"
#include "search_bookkeeping.h"

namespace pairsolve {

namespace {

using namespace searchBookkeeping;

constexpr double infinity = std::numeric_limits<double>::infinity();

// The first row from `from` on where column[r] + rowOffset[r] == target, or rows. least and
// leastRow get the smallest column[r] + rowOffset[r] over the rows read, and a row holding it
// (+inf and none when there is none below +inf); they cover all rows from `from` when the
// result is rows. Every such sum is at least target (V >= 0), so a block holds a zero exactly
// when its minimum is target.
Index scanColumn(const double* column, const double* rowOffset, double target, Index from,
                 Index rows, double& least, Index& leastRow) {
    least = infinity;
    leastRow = none;
    Index r = from;
    Index leastBlock = none;
#if defined(PAIRSOLVE_PAIRS)
    for (; r + 16 <= rows; r += 16) {
        Pair m[4];
        for (int i = 0; i < 4; ++i) m[i] = load(column + r + 2 * i) + load(rowOffset + r + 2 * i);
        for (int i = 0; i < 4; ++i) {
            const Pair x = load(column + r + 8 + 2 * i) + load(rowOffset + r + 8 + 2 * i);
            m[i] = pick(x < m[i], x, m[i]);
        }
        m[0] = pick(m[1] < m[0], m[1], m[0]);
        m[2] = pick(m[3] < m[2], m[3], m[2]);
        m[0] = pick(m[2] < m[0], m[2], m[0]);
        const double blockLeast = m[0][1] < m[0][0] ? m[0][1] : m[0][0];
        if (blockLeast <= target) {
            for (Index i = r; i < r + 16; ++i)
                if (column[i] + rowOffset[i] == target) return i;
        }
        if (blockLeast < least) {
            least = blockLeast;
            leastBlock = r;
        }
    }
    if (leastBlock != none) {
        leastRow = leastBlock;
        while (column[leastRow] + rowOffset[leastRow] != least) ++leastRow;
    }
#endif
    for (; r < rows; ++r) {
        const double v = column[r] + rowOffset[r];
        if (v == target) return r;
        if (v < least) {
            least = v;
            leastRow = r;
        }
    }
    return rows;
}

// Writes flags[r] = 1 where element (r, c) of the uncovered column c is 0 and 0 elsewhere, for
// every row: the covered ones at their offsets now.
void writeZeroFlags(SolverState& state, Index c, double target) {
    const Index rows = state.rowCount;
    const double* column = state.workMatrix + rows * c;
    unsigned char* flags = state.nextStarMask + rows * c;
    for (Index r = 0; r < rows; ++r) flags[r] = column[r] + state.rowOffset[r] == target ? 1 : 0;
    for (Index i = 0; i < state.coveredCount; ++i) {
        const Index r = state.coveredRows[i];
        flags[r] = column[r] + (state.coveredOffset[r] + state.shiftTotal) == target ? 1 : 0;
    }
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

// Whether the column's minimum is known exactly: the row holding it is still a candidate, or the
// column has no candidate at all.
bool minimumExact(const SolverState& state, Index c) {
    const Index row = state.colMinimumRow[c];
    return row == none || (row >= 0 && !state.rowCover[row]);
}

// colMinimum less colOffset: for an uncovered column, its smallest V plus shiftTotal (a lower
// bound on it when the minimum is not exact).
double columnKey(const SolverState& state, Index c) {
    return state.colMinimum[c] - state.colOffset[c];
}

// An uncovered column can hold a zero at an uncovered row only if its key reaches shiftTotal.
bool mayHoldZero(const SolverState& state, Index c) {
    return !(columnKey(state, c) > state.shiftTotal);
}

// Records least (at leastRow) as the exact minimum of the uncovered column c over the uncovered
// rows, and its floor as the smaller of that and the covered rows other than the star's, at their
// offsets now. The column was just read, so the covered rows are at hand.
void settleMinimum(SolverState& state, Index c, double least, Index leastRow) {
    state.colMinimum[c] = least;
    state.colMinimumRow[c] = leastRow;
    const double* column = state.workMatrix + state.rowCount * c;
    double floor = least, floorOffset = leastRow >= 0 ? state.rowOffset[leastRow] : 0;
    Index floorRow = leastRow;
    const Index star = state.starInCol[c];
    for (Index i = 0; i < state.coveredCount; ++i) {
        const Index r = state.coveredRows[i];
        if (r == star) continue;
        const double offset = state.coveredOffset[r] + state.shiftTotal;
        const double v = column[r] + offset;
        if (v < floor) {
            floor = v;
            floorRow = r;
            floorOffset = offset;
        }
    }
    state.colFloor[c] = floor;
    state.colFloorRow[c] = floorRow;
    state.colFloorOffset[c] = floorOffset;
}

// Gathers the minimum of the uncovered column c afresh. Called between sweeps, when the column
// holds no uncovered zero, so no sum matches the target.
void recomputeMinimum(SolverState& state, Index c) {
    double least;
    Index leastRow;
    scanColumn(state.workMatrix + state.rowCount * c, state.rowOffset, -infinity, 0,
               state.rowCount, least, leastRow);
    settleMinimum(state, c, least, leastRow);
}

// The first uncovered zero of the uncovered column c from row `from` on, or rowCount. From the
// flags when they were written since the last shift; else they are written when the column is
// searched from its top for the second time since the last shift; else the column is read, and a
// search from the top that finds no zero records the column's minimum.
Index firstUncoveredZero(SolverState& state, Index c, Index from) {
    const Index rows = state.rowCount;
    const double target = state.colOffset[c] + state.shiftTotal;
    if (state.zeroFlagsAt[c] != state.shiftsMade && from == 0 &&
        state.searchedAt[c] == state.shiftsMade) {
        writeZeroFlags(state, c, target);
        state.zeroFlagsAt[c] = state.shiftsMade;
    }
    if (state.zeroFlagsAt[c] == state.shiftsMade)
        return firstFlaggedZero(state.nextStarMask + rows * c, state.rowCover, from, rows);
    if (from == 0) state.searchedAt[c] = state.shiftsMade;
    double least;
    Index leastRow;
    const Index r = scanColumn(state.workMatrix + rows * c, state.rowOffset, target, from, rows,
                               least, leastRow);
    if (r == rows && from == 0) settleMinimum(state, c, least, leastRow);
    return r;
}

}  // namespace

namespace exactSearch {

// The names are qualified: the argument's type would also find the other machine's phases.
void runPhases(SolverState& state) {
    Phase phase = Phase::checkDone;
    Index pathRow = 0, pathCol = 0;
    while (phase != Phase::done) {
        switch (phase) {
        case Phase::checkDone: phase = checkDone(state); break;
        case Phase::primeZeros: phase = exactSearch::primeZeros(state, pathRow, pathCol); break;
        case Phase::augmentPath: phase = exactSearch::augmentPath(state, pathRow, pathCol); break;
        case Phase::coverStarColumns: phase = exactSearch::coverStarColumns(state); break;
        case Phase::shiftByMinimum: phase = exactSearch::shiftByMinimum(state); break;
        case Phase::done: break;
        }
    }
}

// Sets the bookkeeping for a search from the current stars and covers (offsets settled, star
// columns covered, no row covered, nothing primed). Every row is a candidate again, so each
// column's minimum starts as its floor, exact if the row that gave it kept its offset; an
// uncovered column is pending from its top if it may hold a zero.
void startSearch(SolverState& state) {
    const Index cols = state.colCount;
    state.coveredCount = 0;
    state.shiftTotal = 0;
    clearAllPending(state);
    for (Index c = 0; c < cols; ++c) {
        const Index floorRow = state.colFloorRow[c];
        if (floorRow == unknownRow) {
            state.colMinimum[c] = -infinity;
            state.colMinimumRow[c] = unknownRow;
        } else {
            state.colMinimum[c] = state.colFloor[c];
            state.colMinimumRow[c] =
                floorRow == none || state.rowOffset[floorRow] == state.colFloorOffset[c]
                    ? floorRow
                    : unknownRow;
        }
        state.scanFrom[c] = 0;
        if (!state.colCover[c] && mayHoldZero(state, c)) markPending(state, c);
    }
}

// The sweeps of munkres_phases.cpp over the pending columns, each searched from its scanFrom. A
// search from the top that finds no zero leaves the column's exact minimum behind.
Phase primeZeros(SolverState& state, Index& pathRow, Index& pathCol) {
    const Index rows = state.rowCount, cols = state.colCount;
    Index c = nextPending(state, 0);
    while (c < cols) {
        const Index r = firstUncoveredZero(state, c, state.scanFrom[c]);
        if (r == rows) {
            clearPending(state, c);
        } else {
            state.primeMask[r + rows * c] = 1;
            state.primeInRow[r] = c;
            const Index s = state.starInRow[r];
            if (s == none) {
                pathRow = r;
                pathCol = c;
                return Phase::augmentPath;
            }
            state.rowCover[r] = 1;
            state.coveredOffset[r] = state.rowOffset[r] - state.shiftTotal;
            state.rowOffset[r] = infinity;
            state.coveredRows[state.coveredCount++] = r;
            state.colCover[s] = 0;
            state.colOffset[s] = state.colOffset[s] - state.shiftTotal;
            if (mayHoldZero(state, s)) {
                state.scanFrom[s] = 0;
                markPending(state, s);
            }
            // Rows above r in column c held no uncovered zero, and r is covered now.
            state.scanFrom[c] = r + 1;
            if (r + 1 == rows) clearPending(state, c);
        }
        c = nextPending(state, c + 1);
        if (c == cols) c = nextPending(state, 0);  // the next sweep
    }
    return Phase::shiftByMinimum;
}

// Flips the path (flipPath), clears the primes, uncovers the rows with their offsets settled,
// and drops the floor of every column whose star changed (the prime columns of the path).
Phase augmentPath(SolverState& state, Index pathRow, Index pathCol) {
    const Index rows = state.rowCount;
    flipPath(state, pathRow, pathCol);
    for (Index i = 0; i <= state.coveredCount; ++i) {
        const bool covered = i < state.coveredCount;
        const Index row = covered ? state.coveredRows[i] : pathRow;
        const Index prime = state.primeInRow[row];
        state.primeMask[row + rows * prime] = 0;
        if (state.starInRow[row] == prime) state.colFloorRow[prime] = unknownRow;
        state.primeInRow[row] = none;
        if (covered) {
            state.rowOffset[row] = state.coveredOffset[row] + state.shiftTotal;
            state.rowCover[row] = 0;
        }
    }
    return Phase::coverStarColumns;
}

// Settles the offsets of the columns uncovered at the end of the search, then covers every column
// holding a star.
Phase coverStarColumns(SolverState& state) {
    for (Index c = 0; c < state.colCount; ++c) {
        if (state.colCover[c]) continue;
        state.colOffset[c] = state.colOffset[c] + state.shiftTotal;
        if (state.starInCol[c] != none) state.colCover[c] = 1;
    }
    exactSearch::startSearch(state);
    return Phase::checkDone;
}

// h is the smallest V over the uncovered rows and columns, and the running total after the shift
// is the smallest column key over the uncovered columns (key = h + shiftTotal). The keys that are
// exact give a first candidate; only a column whose key is a bound below it is recomputed. The
// columns whose key equals the new total are the ones that may now hold an uncovered zero: they
// become pending from their top, and every other uncovered column's V stays above 0.
Phase shiftByMinimum(SolverState& state) {
    const Index cols = state.colCount;
    double least = infinity;
    for (Index c = 0; c < cols; ++c) {
        if (state.colCover[c] || !minimumExact(state, c)) continue;
        const double key = columnKey(state, c);
        if (key < least) least = key;
    }
    Index tied = 0;
    for (Index c = 0; c < cols; ++c) {
        if (state.colCover[c]) continue;
        double key = columnKey(state, c);
        if (key > least) continue;
        if (key < least && !minimumExact(state, c)) {
            recomputeMinimum(state, c);
            key = columnKey(state, c);
            if (key > least) continue;
        }
        if (key < least) {
            least = key;
            tied = 0;
        }
        state.tiedColumns[tied++] = c;
    }
    state.shiftTotal = least;
    ++state.shiftsMade;
    for (Index i = 0; i < tied; ++i) {
        const Index c = state.tiedColumns[i];
        state.scanFrom[c] = 0;
        markPending(state, c);
    }
    return Phase::primeZeros;
}

}  // namespace exactSearch

}  // namespace pairsolve
