// The phase machine: grows the driver's seed stars into targetStars independent starred zeros.
//
// Invariants on entry to checkDone: colCover marks exactly the columns holding a star, no row is
// covered and nothing is primed. At all times a column is covered only if it holds a star, and a
// row is covered only if it holds both a star and a prime.
//
// Termination: each augmentPath adds a star, so there are at most targetStars of them. Between two,
// every shift with a finite minimum leaves an uncovered zero, so the next primeZeros augments or
// covers one more row; rows are uncovered only by augmentPath, so at most rowCount shifts separate
// two augmentations. A shift whose minimum is not finite would repeat forever, and ends the call.
//
// How the phases stay fast without changing a result
//
// Every decision is the one a literal rendering of the method makes (which zero is primed, which
// path is flipped, which value is subtracted), and every element goes through the same floating-
// point operations in the same order. What changes is when an element is looked at. Within one
// search (the stretch between two augmentations) rows only get covered, columns only get
// uncovered, and elements change only in shifts. So:
// - Stars and primes are also kept as indexes per row and per column: finding a row's star,
//   following the path and covering the star columns take O(1) per step.
// - A sweep visits only the pending columns, each from its scanFrom: the columns that may still
//   hold a zero at an uncovered row (SolverState says which).
// - A shift is not applied to the matrix at once. What element (r, c) undergoes in shift k
//   depends only on whether row r was covered and column c uncovered before it, and both are
//   fixed by the shift counts at which they happened (coveredAfter, uncoveredAfter); with the
//   values h_k in shiftLog, the shifts a column has not seen can be replayed on it later, exactly
//   as they would have been made. A column is brought up to date when it must be read (its
//   minimum is needed afresh, or a shift left a zero in it) and at the end of each search.
// - The elements of uncovered rows in a covered column do not change, so a column that gets
//   uncovered can be swept at once: the rows the sweep reads are up to date.
// - The minimum of each column over its candidate rows (see SolverState) is kept in colMinimum.
//   Rounding is monotone, so when a shift subtracts h from all those elements their minimum
//   becomes exactly colMinimum - h, held by the same row; covering rows only removes candidates,
//   so the minimum stands until the row holding it is covered, and at the end of a search it is
//   completed with the rows that were covered. And x - h is 0 only when x == h (subnormals keep
//   differences exact), so a shift makes a zero at an uncovered row only in the columns whose
//   minimum becomes 0, and a column whose minimum stands and is not 0 need not be swept.
#include "assignment_solver.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "host_services.h"
#include "search_bookkeeping.h"

namespace pairsolve {

namespace {

using namespace searchBookkeeping;

constexpr Index never = std::numeric_limits<Index>::max();
constexpr double infinity = std::numeric_limits<double>::infinity();

// Subtracts h_first, ..., h_last (shiftLog[k - 1] is h_k) from every element of a column, one
// after the other. Eight pairs at a time, so that eight chains of subtractions run side by side.
void subtractShifts(double* column, Index rows, const double* shiftLog, Index first, Index last) {
    Index r = 0;
#if defined(PAIRSOLVE_PAIRS)
    for (; r + 16 <= rows; r += 16) {
        Pair x[8];
        for (int i = 0; i < 8; ++i) x[i] = load(column + r + 2 * i);
        for (Index k = first; k <= last; ++k) {
            const Pair h = both(shiftLog[k - 1]);
            for (int i = 0; i < 8; ++i) x[i] = x[i] - h;
        }
        for (int i = 0; i < 8; ++i) store(column + r + 2 * i, x[i]);
    }
#endif
    for (; r < rows; ++r) {
        double x = column[r];
        for (Index k = first; k <= last; ++k) x = x - shiftLog[k - 1];
        column[r] = x;
    }
}

// The smallest element over the uncovered rows (coveredAfter is +inf), taken as `least > x`
// takes it: a NaN is never the minimum, and +inf comes back when nothing else is there. row gets
// the first row holding it, or none. Values that tie compare equal, so gathering the minimum in
// lanes gives the same value as one pass in row order.
double uncoveredMinimum(const double* column, const double* coveredAfter, Index rows, Index& row) {
    double least = infinity;
    Index at = none;
    Index r = 0;
#if defined(PAIRSOLVE_PAIRS)
    if (rows >= 8) {
        const Pair excluded = both(infinity);
        Pair m[4], where[4], index[4];
        for (int i = 0; i < 4; ++i) {
            m[i] = excluded;
            where[i] = both(-1.0);
            index[i] = Pair{2.0 * i, 2.0 * i + 1};
        }
        const Pair step = both(8.0);
        for (; r + 8 <= rows; r += 8) {
            for (int i = 0; i < 4; ++i) {
                const Pair x = load(column + r + 2 * i);
                const Pair v = pick(load(coveredAfter + r + 2 * i) < excluded, excluded, x);
                const PairMask lower = v < m[i];
                m[i] = pick(lower, v, m[i]);
                where[i] = pick(lower, index[i], where[i]);
                index[i] = index[i] + step;
            }
        }
        for (int i = 0; i < 4; ++i) {
            for (int lane = 0; lane < 2; ++lane) {
                const double v = m[i][lane];
                const Index w = static_cast<Index>(where[i][lane]);
                if (least > v || (v == least && w >= 0 && (at == none || w < at))) {
                    least = v;
                    at = w;
                }
            }
        }
    }
#endif
    for (; r < rows; ++r) {
        if (coveredAfter[r] == infinity && least > column[r]) {
            least = column[r];
            at = r;
        }
    }
    row = least < infinity ? at : none;
    return least;
}

// The first uncovered row at or after from whose element is 0, or rows.
Index firstUncoveredZero(const double* column, const unsigned char* rowCover, Index from, Index rows) {
    Index r = from;
    while (r < rows && (column[r] != 0 || rowCover[r])) ++r;
    return r;
}

// Replays on column c the shifts of this search it has not seen, syncedTo[c] + 1 .. shiftCount:
// shift k adds h_k to each row covered before it and then, if the column was uncovered before
// it, subtracts h_k. Rows not covered before the last of these shifts only see the subtractions,
// which run down the whole column at once. The covered rows come first in coveredRows (it is in
// the order of covering), shift k adds to the first coveredBefore[k - 1] of them, and they are
// replayed side by side in replayValues, from their values as they stood, and written back after
// the column's subtractions.
void catchUp(SolverState& state, Index c) {
    const Index from = state.element.syncedTo[c], to = state.element.shiftCount;
    if (from == to) return;
    state.element.syncedTo[c] = to;
    const Index rows = state.rowCount;
    double* column = state.workMatrix + rows * c;
    const double* log = state.element.shiftLog;
    const Index uncoveredAfter = state.element.uncoveredAfter[c];
    // The first of these shifts in which the column was uncovered (to + 1 if none).
    const Index firstSubtracted = uncoveredAfter >= to ? to + 1
                                  : uncoveredAfter > from ? uncoveredAfter + 1
                                                          : from + 1;
    const Index* covered = state.matching.coveredRows;
    const Index added = state.element.coveredBefore[to - 1];
    double* values = state.element.replayValues;
    for (Index i = 0; i < added; ++i) values[i] = column[covered[i]];
    for (Index k = from + 1; k <= to; ++k) {
        const double h = log[k - 1];
        const Index coveredNow = state.element.coveredBefore[k - 1];
        for (Index i = 0; i < coveredNow; ++i) values[i] = values[i] + h;
        if (k >= firstSubtracted)
            for (Index i = 0; i < added; ++i) values[i] = values[i] - h;
    }
    if (firstSubtracted <= to) subtractShifts(column, rows, log, firstSubtracted, to);
    for (Index i = 0; i < added; ++i) column[covered[i]] = values[i];
}

void refreshMinimum(SolverState& state, Index c) {
    catchUp(state, c);
    const Index rows = state.rowCount;
    Index row = none;
    state.element.colMinimum[c] = uncoveredMinimum(state.workMatrix + rows * c, state.element.coveredAfter, rows, row);
    state.element.colMinimumRow[c] = row;
}

// Whether colMinimum[c] still is the minimum over the column's candidate rows: it is known, and
// the row that held it has not been covered since. (Covering rows only removes candidates, and
// the elements of uncovered rows change only by shifts, which move the minimum along.)
bool minimumHolds(const SolverState& state, Index c) {
    const Index row = state.element.colMinimumRow[c];
    return row != unknownRow && (row == none || !state.rowCover[row]);
}

// An uncovered column can hold a zero at an uncovered row only if its minimum is 0 or unknown.
bool mayHoldZero(const SolverState& state, Index c) {
    return !minimumHolds(state, c) || state.element.colMinimum[c] == 0;
}

bool holdsInfinite(const double* work, std::size_t elementCount) {
    for (std::size_t i = 0; i < elementCount; ++i)
        if (mxIsInf(work[i])) return true;
    return false;
}

// Every uncovered element is NaN or +inf: no shift can make a zero, and the same state would
// come back forever. An infinite element means a value overflowed; otherwise the NaNs leave too
// few usable pairs. The matrix must hold every shift made. The host's error call does not
// return.
void stall(const SolverState& state) {
    const std::size_t elementCount =
        static_cast<std::size_t>(state.rowCount) * static_cast<std::size_t>(state.colCount);
    if (state.forbiddenOverflowed || holdsInfinite(state.workMatrix, elementCount))
        mexErrMsgIdAndTxt(text::overflowId, "%s", text::overflow);
    mexErrMsgIdAndTxt(text::nanBlocksId, "%s", text::nanBlocks);
}

}  // namespace

namespace elementSearch {

Phase runPhases(SolverState& state) {
    return runPhaseLoop<primeZeros, augmentPath, coverStarColumns, shiftByMinimum>(state);
}

// Every column takes the shifts of the search that ended before the next search reads anything:
// the cover history those shifts depend on is about to be forgotten. In the next search every
// row is uncovered; a column minimum that still holds is completed with the rows that were
// covered, one that does not is gathered afresh when it is needed. An uncovered column is
// searched from its first row if it may hold a zero.
void startSearch(SolverState& state) {
    const Index rows = state.rowCount, cols = state.colCount;
    for (Index c = 0; c < cols; ++c) {
        catchUp(state, c);
        Index row = state.element.colMinimumRow[c];
        if (row == unknownRow) continue;
        // A column covered throughout the search was never on the path, so its star is the one
        // it had. Any other column's new star stood in a covered row, or in the path's first
        // row, which was a candidate and may have held the minimum.
        const Index star = state.matching.starInCol[c];
        if (row != none && (state.element.coveredAfter[row] != infinity || row == star)) {
            state.element.colMinimumRow[c] = unknownRow;
            continue;
        }
        const double* column = state.workMatrix + rows * c;
        double least = state.element.colMinimum[c];
        for (Index i = 0; i < state.matching.coveredCount; ++i) {
            const Index r = state.matching.coveredRows[i];
            if (r != star && least > column[r]) {
                least = column[r];
                row = r;
            }
        }
        state.element.colMinimum[c] = least;
        state.element.colMinimumRow[c] = row;
    }
    for (Index i = 0; i < state.matching.coveredCount; ++i) state.element.coveredAfter[state.matching.coveredRows[i]] = infinity;
    state.matching.coveredCount = 0;
    state.element.shiftCount = 0;
    clearAllPending(state);
    for (Index c = 0; c < cols; ++c) {
        state.element.syncedTo[c] = 0;
        state.matching.scanFrom[c] = 0;
        if (state.colCover[c]) {
            state.element.uncoveredAfter[c] = never;
        } else {
            state.element.uncoveredAfter[c] = 0;
            if (mayHoldZero(state, c)) markPending(state, c);
        }
    }
}

// Sweeps the uncovered columns in ascending order, priming the first uncovered zero of each.
// A prime in a row without a star starts an augmenting path. Otherwise its row is covered and its
// star's column uncovered, and the sweep moves on to the next column: covers are read as the
// sweep reaches them, so a column uncovered ahead of the sweep is searched in the same sweep, one
// behind it in the next. Sweeps repeat until one primes nothing.
//
// Only pending columns can hold an uncovered zero, so the sweeps visit only those, each from its
// scanFrom: a column whose scan finds nothing stops being pending, one that was stopped by a prime
// stays pending below that prime, and an uncovered star column becomes pending from row 0 unless
// its minimum shows it holds no zero. When a sweep ends with nothing pending, a literal sweep
// would prime nothing either. The rows a sweep reads are up to date: the pending columns were
// brought up to date when they became pending, or (star columns) were covered during every shift
// they have not seen, which leaves their uncovered rows alone.
Phase primeZeros(SolverState& state, Index& pathRow, Index& pathCol) {
    const Index rows = state.rowCount;
    return sweepPending(
        state, pathRow, pathCol,
        [&](Index c) {
            return firstUncoveredZero(state.workMatrix + rows * c, state.rowCover,
                                      state.matching.scanFrom[c], rows);
        },
        [&](Index r, Index s) {
            state.element.coveredAfter[r] = static_cast<double>(state.element.shiftCount);
            state.element.uncoveredAfter[s] = state.element.shiftCount;
            if (mayHoldZero(state, s)) {
                state.matching.scanFrom[s] = 0;
                markPending(state, s);
            }
            return true;
        });
}

// Flips the alternating path that starts at the prime (pathRow, pathCol) (flipPath), then clears
// every prime and uncovers every row.
Phase augmentPath(SolverState& state, Index pathRow, Index pathCol) {
    solverTesting::record(state, solverTesting::Decision::augment, pathRow, pathCol, 0);
    flipPath(state, pathRow, pathCol);
    // The primed rows are the covered ones and pathRow. coveredRows itself is kept for
    // startSearch, which still needs to know when each row was covered.
    for (Index i = 0; i <= state.matching.coveredCount; ++i) {
        const Index row = i < state.matching.coveredCount ? state.matching.coveredRows[i] : pathRow;
        state.matching.primeInRow[row] = none;
        state.rowCover[row] = 0;
        state.matching.rowExclusion[row] = 0;
    }
    return Phase::coverStarColumns;
}

// Covers every column holding a star; no other column is covered after an augmentation.
Phase coverStarColumns(SolverState& state) {
    coverStars(state);
    startSearch(state);
    return Phase::checkDone;
}

// Adds the smallest uncovered value h to every covered row and subtracts it from every uncovered
// column. An element of a covered row and an uncovered column gets h added and then subtracted,
// two rounded operations, because which elements end up exactly 0 steers the rest of the search.
//
// h is the smallest column minimum over the uncovered columns; the minima that are not known, or
// whose row has been covered since, are gathered afresh. The sweep before a shift primed
// nothing, so no uncovered element is zero and any order of taking the minimum gives the same h.
// The shift itself is only logged; each uncovered column's minimum moves down by h, and a column
// whose minimum reaches 0 is brought up to date and becomes pending from its first uncovered
// zero. Covered rows may also turn 0 ((x + h) - h); they are searched only after the next
// augmentation, which starts every column afresh.
Phase shiftByMinimum(SolverState& state) {
    const Index rows = state.rowCount, cols = state.colCount;
    double h = mxGetInf();
    for (Index c = 0; c < cols; ++c) {
        if (state.colCover[c]) continue;
        if (!minimumHolds(state, c)) refreshMinimum(state, c);
        if (h > state.element.colMinimum[c]) h = state.element.colMinimum[c];
    }
    if (!mxIsFinite(h)) {
        for (Index c = 0; c < cols; ++c) catchUp(state, c);
        stall(state);
    }
    solverTesting::record(state, solverTesting::Decision::shift, -1, -1, h);
    ++state.element.shiftsMade;
    state.element.shiftLog[state.element.shiftCount] = h;
    state.element.coveredBefore[state.element.shiftCount] = state.matching.coveredCount;
    ++state.element.shiftCount;
    for (Index c = 0; c < cols; ++c) {
        if (state.colCover[c]) continue;
        const double least = state.element.colMinimum[c] - h;
        state.element.colMinimum[c] = least;
        if (least == 0) {
            catchUp(state, c);
            state.matching.scanFrom[c] = firstUncoveredZero(state.workMatrix + rows * c, state.rowCover, 0, rows);
            markPending(state, c);
        }
    }
    return Phase::primeZeros;
}

}  // namespace elementSearch

// The element-by-element search as the method states it, for small matrices, where deferring
// shifts costs more than it saves: a shift is applied to every element at once, and the sweeps
// read the matrix itself. Besides the matching's indexes it keeps each uncovered column's least
// element, which the pass that shifts a column gathers for the next shift, and the pending
// columns (the augmentation is the other search's).
namespace plainSearch {

namespace {

// Its kernels read a column's uncovered rows as column[r] + rowExclusion[r] (Matching), with
// no test a row.

// The first row from `from` on that is uncovered and holds a zero, or rows.
Index firstUncoveredZero(const double* column, const double* exclusion, Index from, Index rows) {
    Index r = from;
#if defined(PAIRSOLVE_PAIRS)
    const Pair zero = both(0.0);
    for (; r + 4 <= rows; r += 4) {
        const PairMask hit = (load(column + r) + load(exclusion + r) == zero) |
                             (load(column + r + 2) + load(exclusion + r + 2) == zero);
        if (hit[0] | hit[1]) break;  // found row by row below
    }
#endif
    for (; r < rows; ++r)
        if (column[r] + exclusion[r] == 0) return r;
    return rows;
}

// The least element over the uncovered rows (+inf if none is below it), as `least > x` takes it
// row by row: a NaN is never taken. Elements that compare equal are equal but for the sign of a
// zero, so lanes give the very value of the row-by-row loop. Reads the column as it is, or, with
// shift and the additions of a shift by h (h on a covered row, 0 on an uncovered one), shifts it
// first: an uncovered column takes (x + h) - h on a covered row and x - h on an uncovered one,
// which is (x + 0) - h, as x + 0 differs from x only for -0, and -0 - h is +0 - h.
template <bool shift>
double uncoveredLeast(double* column, const double* exclusion, Index rows,
                      const double* addition, double h) {
    const double infinity = std::numeric_limits<double>::infinity();
    double least = infinity;
    Index r = 0;
#if defined(PAIRSOLVE_PAIRS)
    const Pair by = both(h);
    Pair a = both(infinity), b = both(infinity);
    for (; r + 4 <= rows; r += 4) {
        Pair x = load(column + r), y = load(column + r + 2);
        if (shift) {
            x = (x + load(addition + r)) - by;
            y = (y + load(addition + r + 2)) - by;
            store(column + r, x);
            store(column + r + 2, y);
        }
        a = lesser(x + load(exclusion + r), a);
        b = lesser(y + load(exclusion + r + 2), b);
    }
    if (r + 2 <= rows) {
        Pair x = load(column + r);
        if (shift) {
            x = (x + load(addition + r)) - by;
            store(column + r, x);
        }
        a = lesser(x + load(exclusion + r), a);
        r += 2;
    }
    a = lesser(b, a);
    least = a[0];
    if (least > a[1]) least = a[1];
#endif
    for (; r < rows; ++r) {
        if (shift) column[r] = (column[r] + addition[r]) - h;
        const double v = column[r] + exclusion[r];
        if (least > v) least = v;
    }
    return least;
}

// Whether colMinimum[c] still is the least element of the uncovered column c over the uncovered
// rows: it was gathered, and no row covered since holds it. (A row covered since keeps the value
// it had then, as no shift came between; covering rows only removes candidates.)
bool leastHolds(const SolverState& state, Index c) {
    const Index from = state.element.minimumCovered[c];
    if (from < 0) return false;
    const double* column = state.workMatrix + static_cast<Index>(state.rowCount) * c;
    for (Index i = from; i < state.matching.coveredCount; ++i)
        if (column[state.matching.coveredRows[i]] == state.element.colMinimum[c]) return false;
    return true;
}

}  // namespace

Phase runPhases(SolverState& state) {
    return runPhaseLoop<primeZeros, elementSearch::augmentPath, coverStarColumns, shiftByMinimum>(
        state);
}

// Within a search rows only get covered, so between two shifts a column read down to some row
// holds no uncovered zero above it: scanFrom is where its reading goes on. The sweeps visit the
// pending columns (Matching), the uncovered columns that may hold such a zero: the others would
// be read to no effect.
void startSearch(SolverState& state) {
    state.matching.coveredCount = 0;
    clearAllPending(state);
    for (Index c = 0; c < state.colCount; ++c) {
        state.matching.scanFrom[c] = 0;
        state.element.minimumCovered[c] = -1;
        if (!state.colCover[c]) markPending(state, c);
    }
}

Phase primeZeros(SolverState& state, Index& pathRow, Index& pathCol) {
    const Index rows = state.rowCount;
    return sweepPending(
        state, pathRow, pathCol,
        [&](Index c) {
            return firstUncoveredZero(state.workMatrix + rows * c, state.matching.rowExclusion,
                                      state.matching.scanFrom[c], rows);
        },
        [&](Index, Index s) {
            state.matching.scanFrom[s] = 0;
            state.element.minimumCovered[s] = -1;
            markPending(state, s);
            return true;
        });
}

Phase coverStarColumns(SolverState& state) {
    coverStars(state);
    startSearch(state);
    return Phase::checkDone;
}

// h from each uncovered column's least uncovered element, kept from the last shift while it
// holds (leastHolds) and gathered afresh otherwise. The shift of each uncovered column gathers
// its least element for the next shift on the way; when that is a zero, the column is pending
// from its first uncovered zero, and otherwise it holds none. (A covered column is read from its
// top when it is uncovered.)
Phase shiftByMinimum(SolverState& state) {
    const Index rows = state.rowCount, cols = state.colCount;
    Matching& matching = state.matching;
    ElementSearch& element = state.element;
    const double* exclusion = matching.rowExclusion;
    Index* uncovered = element.uncoveredColumns;
    Index* covered = element.coveredColumns;
    const Index uncoveredCount = listColumns(state, uncovered, covered);
    const Index coveredCount = cols - uncoveredCount;
    double h = mxGetInf();
    for (Index i = 0; i < uncoveredCount; ++i) {
        const Index c = uncovered[i];
        if (!leastHolds(state, c)) {
            element.colMinimum[c] =
                uncoveredLeast<false>(state.workMatrix + rows * c, exclusion, rows, nullptr, 0);
            element.minimumCovered[c] = matching.coveredCount;
        }
        if (h > element.colMinimum[c]) h = element.colMinimum[c];
    }
    if (!mxIsFinite(h)) stall(state);
    solverTesting::record(state, solverTesting::Decision::shift, -1, -1, h);
    ++element.shiftsMade;
    double* addition = element.replayValues;
    Index row = 0;
#if defined(PAIRSOLVE_PAIRS)
    for (; row + 2 <= rows; row += 2)
        store(addition + row, pick(load(exclusion + row) > both(0.0), both(h), both(0.0)));
#endif
    for (; row < rows; ++row) addition[row] = exclusion[row] > 0 ? h : 0.0;
    // Column by column (each on its own, so the uncovered ones first); within an element, the
    // covered row's addition comes first.
    for (Index i = 0; i < uncoveredCount; ++i) {
        const Index c = uncovered[i];
        double* column = state.workMatrix + rows * c;
        const double least = uncoveredLeast<true>(column, exclusion, rows, addition, h);
        element.colMinimum[c] = least;
        element.minimumCovered[c] = matching.coveredCount;
        if (least == 0) {
            Index r = 0;
            while (column[r] + exclusion[r] != 0) ++r;
            matching.scanFrom[c] = r;
            markPending(state, c);
        }
    }
    for (Index i = 0; i < coveredCount; ++i) {
        double* column = state.workMatrix + rows * covered[i];
        for (Index j = 0; j < matching.coveredCount; ++j) {
            const Index r = matching.coveredRows[j];
            column[r] = column[r] + h;
        }
    }
    return Phase::primeZeros;
}

}  // namespace plainSearch

// Done when targetStars columns are covered: each covered column holds one of the stars, and
// every star's column is covered, so the stars are counted instead.
Phase checkDone(SolverState& state) {
    if (state.matching.starCount == state.targetStars) {
        buildAssignment(state.assignment, state.matching.starInRow, state.rowCount);
        return Phase::done;
    }
    return Phase::primeZeros;
}

// Writes each row's star as a 1-based column; rows without a star keep their 0.
void buildAssignment(double* assignment, const Index* starInRow, std::int32_t rowCount) {
    for (Index r = 0; r < rowCount; ++r)
        if (starInRow[r] >= 0) assignment[r] = static_cast<double>(starInRow[r] + 1);
}

}  // namespace pairsolve
