// Every decision is the one a literal rendering of the method makes (which zero is primed, which
// path is flipped, which value is subtracted), and every element goes through the same floating-
// point operations in the same order. What changes is when an element is looked at. Within one
// search rows only get covered, columns only get uncovered, and elements change only in shifts.
// So:
// - A sweep visits only the pending columns, each from its scanFrom (Matching).
// - A shift is not applied to the matrix at once. What element (r, c) undergoes in shift k
//   depends only on whether row r was covered and column c uncovered before it, and both are
//   fixed by the shift counts at which they happened (coveredAfter, uncoveredAfter); with the
//   values h_k in shiftLog, the shifts a column has not seen can be replayed on it later, exactly
//   as they would have been made. A column is brought up to date when it must be read (its
//   minimum is needed afresh, or a shift left a zero in it) and at the end of each search.
// - The elements of uncovered rows in a covered column do not change, so a column that gets
//   uncovered can be swept at once: the rows the sweep reads are up to date.
// - The minimum of each column over its candidate rows is kept in colMinimum. Rounding is
//   monotone, so when a shift subtracts h from all those elements their minimum becomes exactly
//   colMinimum - h, held by the same row; covering rows only removes candidates, so the minimum
//   stands until the row holding it is covered, and at the end of a search it is completed with
//   the rows that were covered. And x - h is 0 only when x == h (subnormals keep differences
//   exact), so a shift makes a zero at an uncovered row only in the columns whose minimum becomes
//   0, and a column whose minimum stands and is not 0 need not be swept.
#include "element_search.h"

#include "host_services.h"
#include "plain_search.h"

namespace pairsolve {

namespace elementSearch {

namespace {

using namespace kernels;

// Subtracts h_first, ..., h_last (shiftLog[k - 1] is h_k) from every element of a column, one
// after the other. Eight pairs at a time, so that eight chains of subtractions run side by side.
void subtractShifts(double* column, Index rows, const double* shiftLog, Index first, Index last) {
    Index r = 0;
    for (; r + 16 <= rows; r += 16) {
        Pair x[8];
        for (int i = 0; i < 8; ++i) x[i] = load(column + r + 2 * i);
        for (Index k = first; k <= last; ++k) {
            const Pair h = both(shiftLog[k - 1]);
            for (int i = 0; i < 8; ++i) x[i] = x[i] - h;
        }
        for (int i = 0; i < 8; ++i) store(column + r + 2 * i, x[i]);
    }
    for (; r < rows; ++r) {
        double x = column[r];
        for (Index k = first; k <= last; ++k) x = x - shiftLog[k - 1];
        column[r] = x;
    }
}

// An element at an uncovered row (coveredAfter is +inf), +inf at a covered one.
struct Uncovered {
    const double* column;
    const double* coveredAfter;

    Pair pair(Index r) const {
        return pick(load(coveredAfter + r) < both(infinity), both(infinity), load(column + r));
    }
    double at(Index r) const { return coveredAfter[r] == infinity ? column[r] : infinity; }
};

// The smallest element over the uncovered rows, taken as `least > x` takes it: a NaN is never the
// minimum, and +inf comes back when nothing else is there. row gets the first row holding it, or
// none. Values that tie compare equal, so the least of each block of 16 rows is found in lanes,
// and the first block that holds the least holds its first row.
double uncoveredMinimum(const double* column, const double* coveredAfter, Index rows, Index& row) {
    const Uncovered values{column, coveredAfter};
    double least = infinity;
    Index from = 0;
    Index r = 0;
    for (; r + 16 <= rows; r += 16) {
        const double block = leastOf<4>(r, r + 16, values);
        if (least > block) {
            least = block;
            from = r;
        }
    }
    for (; r < rows; ++r) {
        if (least > values.at(r)) {
            least = values.at(r);
            from = r;
        }
    }
    row = none;
    if (!(least < infinity)) return least;
    for (row = from; !(values.at(row) == least); ++row) {
    }
    return column[row];
}

// A zero at an uncovered row (coveredAfter is +inf just there while a search runs).
struct UncoveredZero {
    const double* column;
    const double* coveredAfter;

    PairMask pair(Index r) const {
        return bothOf(load(column + r) == both(0.0), load(coveredAfter + r) == both(infinity));
    }
    bool at(Index r) const { return column[r] == 0 && coveredAfter[r] == infinity; }
};

Index firstUncoveredZero(const double* column, const double* coveredAfter, Index from, Index rows) {
    return firstWhere<8>(from, rows, UncoveredZero{column, coveredAfter});
}

// Replays on column c the shifts of this search it has not seen, syncedTo[c] + 1 .. shiftCount:
// shift k adds h_k to each row covered before it and then, if the column was uncovered before
// it, subtracts h_k. Rows not covered before the last of these shifts only see the subtractions,
// which run down the whole column at once. The covered rows come first in coveredRows (it is in
// the order of covering), shift k adds to the first coveredBefore[k - 1] of them, and they are
// replayed side by side in replayValues, from their values as they stood, and written back after
// the column's subtractions.
void catchUp(SolverState& state, ElementSearch& search, Index c) {
    const Index from = search.syncedTo[c], to = search.shiftCount;
    if (from == to) return;
    search.syncedTo[c] = to;
    const Index rows = state.rowCount;
    double* column = state.reduction.workMatrix + rows * c;
    const double* log = search.shiftLog;
    const Index uncoveredAfter = search.uncoveredAfter[c];
    // The first of these shifts in which the column was uncovered (to + 1 if none).
    const Index firstSubtracted = uncoveredAfter >= to ? to + 1
                                  : uncoveredAfter > from ? uncoveredAfter + 1
                                                          : from + 1;
    const Index* covered = state.matching.coveredRows;
    const Index added = search.coveredBefore[to - 1];
    double* values = search.replayValues;
    for (Index i = 0; i < added; ++i) values[i] = column[covered[i]];
    for (Index k = from + 1; k <= to; ++k) {
        const double h = log[k - 1];
        const Index coveredNow = search.coveredBefore[k - 1];
        for (Index i = 0; i < coveredNow; ++i) values[i] = values[i] + h;
        if (k >= firstSubtracted)
            for (Index i = 0; i < added; ++i) values[i] = values[i] - h;
    }
    if (firstSubtracted <= to) subtractShifts(column, rows, log, firstSubtracted, to);
    for (Index i = 0; i < added; ++i) column[covered[i]] = values[i];
}

void refreshMinimum(SolverState& state, ElementSearch& search, Index c) {
    catchUp(state, search, c);
    const Index rows = state.rowCount;
    search.colMinimum[c] = uncoveredMinimum(state.reduction.workMatrix + rows * c,
                                            search.coveredAfter, rows, search.colMinimumRow[c]);
    search.minimumKnown[c] = 1;
}

// Whether colMinimum[c] still is the minimum over the column's candidate rows: it is known, and
// the row that held it has not been covered since. (Covering rows only removes candidates, and
// the elements of uncovered rows change only by shifts, which move the minimum along.)
bool minimumHolds(const SolverState& state, const ElementSearch& search, Index c) {
    const Index row = search.colMinimumRow[c];
    return search.minimumKnown[c] && (row == none || !state.rowCover[row]);
}

// An uncovered column can hold a zero at an uncovered row only if its minimum is 0 or unknown.
bool mayHoldZero(const SolverState& state, const ElementSearch& search, Index c) {
    return !minimumHolds(state, search, c) || search.colMinimum[c] == 0;
}

// Brings every column up to date with the shifts of the search that ended, and sets the
// bookkeeping for a search that starts from the current stars and covers (star columns covered,
// no row covered, nothing primed). Every column takes the shifts of the search that ended before
// the next search reads anything: the cover history those shifts depend on is about to be
// forgotten. In the next search every
// row is uncovered; a column minimum that still holds is completed with the rows that were
// covered, one that does not is gathered afresh when it is needed. An uncovered column is
// searched from its first row if it may hold a zero.
void startSearch(SolverState& state, ElementSearch& search) {
    const Index rows = state.rowCount, cols = state.colCount;
    Matching& matching = state.matching;
    for (Index c = 0; c < cols; ++c) {
        catchUp(state, search, c);
        if (!search.minimumKnown[c]) continue;
        Index row = search.colMinimumRow[c];
        // A column covered throughout the search was never on the path, so its star is the one
        // it had. Any other column's new star stood in a covered row, or in the path's first
        // row, which was a candidate and may have held the minimum.
        const Index star = matching.starInCol[c];
        if (row != none && (search.coveredAfter[row] != infinity || row == star)) {
            search.minimumKnown[c] = 0;
            continue;
        }
        const double* column = state.reduction.workMatrix + rows * c;
        double least = search.colMinimum[c];
        for (Index i = 0; i < matching.coveredCount; ++i) {
            const Index r = matching.coveredRows[i];
            if (r != star && least > column[r]) {
                least = column[r];
                row = r;
            }
        }
        search.colMinimum[c] = least;
        search.colMinimumRow[c] = row;
    }
    for (Index i = 0; i < matching.coveredCount; ++i)
        search.coveredAfter[matching.coveredRows[i]] = infinity;
    matching.coveredCount = 0;
    search.shiftCount = 0;
    clearAllPending(state);
    for (Index c = 0; c < cols; ++c) {
        search.syncedTo[c] = 0;
        matching.scanFrom[c] = 0;
        if (state.colCover[c]) {
            search.uncoveredAfter[c] = never;
        } else {
            search.uncoveredAfter[c] = 0;
            if (mayHoldZero(state, search, c)) markPending(state, c);
        }
    }
}

// The sweeps of the method over the pending columns. The rows a sweep reads are up to date: the
// pending columns were brought up to date when they became pending, or (star columns) were
// covered during every shift they have not seen, which leaves their uncovered rows alone. An
// uncovered star column becomes pending from row 0 unless its minimum shows it holds no zero.
Phase primeZeros(SolverState& state, ElementSearch& search, Index& pathRow, Index& pathCol) {
    const Index rows = state.rowCount;
    return sweepPending(
        state, pathRow, pathCol,
        [&](Index c) {
            return firstUncoveredZero(state.reduction.workMatrix + rows * c, search.coveredAfter,
                                      state.matching.scanFrom[c], rows);
        },
        [&](Index r, Index s) {
            search.coveredAfter[r] = static_cast<double>(search.shiftCount);
            search.uncoveredAfter[s] = search.shiftCount;
            if (mayHoldZero(state, search, s)) {
                state.matching.scanFrom[s] = 0;
                markPending(state, s);
            }
            return true;
        });
}

Phase augmentPath(SolverState& state, ElementSearch&, Index pathRow, Index pathCol) {
    augmentAlongPath(state, pathRow, pathCol);
    return Phase::coverStarColumns;
}

Phase coverStarColumns(SolverState& state, ElementSearch& search) {
    coverStars(state);
    startSearch(state, search);
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
Phase shiftByMinimum(SolverState& state, ElementSearch& search) {
    const Index rows = state.rowCount, cols = state.colCount;
    double h = mxGetInf();
    for (Index c = 0; c < cols; ++c) {
        if (state.colCover[c]) continue;
        if (!minimumHolds(state, search, c)) refreshMinimum(state, search, c);
        if (h > search.colMinimum[c]) h = search.colMinimum[c];
    }
    if (!mxIsFinite(h)) {
        for (Index c = 0; c < cols; ++c) catchUp(state, search, c);
        stall(state);
    }
    record(state, solverTesting::Decision::shift, -1, -1, h);
    ++search.shiftsMade;
    search.shiftLog[search.shiftCount] = h;
    search.coveredBefore[search.shiftCount] = state.matching.coveredCount;
    ++search.shiftCount;
    for (Index c = 0; c < cols; ++c) {
        if (state.colCover[c]) continue;
        const double least = search.colMinimum[c] - h;
        search.colMinimum[c] = least;
        if (least == 0) {
            catchUp(state, search, c);
            state.matching.scanFrom[c] = firstUncoveredZero(state.reduction.workMatrix + rows * c,
                                                            search.coveredAfter, 0, rows);
            markPending(state, c);
        }
    }
    return Phase::primeZeros;
}

}  // namespace

void layOut(Carving& carving, ElementSearch& search, Index rows, Index cols) {
    carving.take(search.shiftLog, rows + 1);
    carving.take(search.coveredBefore, rows + 1);
    carving.take(search.coveredAfter, rows);
    carving.take(search.uncoveredAfter, cols);
    carving.take(search.syncedTo, cols);
    carving.take(search.replayValues, rows);
    carving.take(search.colMinimum, cols);
    carving.take(search.colMinimumRow, cols);
    carving.take(search.minimumKnown, cols);
}

void reset(ElementSearch& search, Index rows, Index cols) {
    for (Index r = 0; r < rows; ++r) search.coveredAfter[r] = infinity;
    for (Index c = 0; c < cols; ++c) {
        search.syncedTo[c] = 0;
        search.minimumKnown[c] = 0;
    }
    search.shiftCount = 0;
    search.shiftsMade = 0;
}

Phase run(SolverState& state, ElementSearch& search) {
    startSearch(state, search);
    return runPhaseLoop<ElementSearch, primeZeros, augmentPath, coverStarColumns, shiftByMinimum>(
        state, search);
}

}  // namespace elementSearch

}  // namespace pairsolve
