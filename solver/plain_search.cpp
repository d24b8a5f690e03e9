#include "plain_search.h"

#include <cstddef>

#include "host_services.h"

namespace pairsolve {

namespace plainSearch {

namespace {

using namespace kernels;

// Zero at an uncovered row: column[r] + exclusion[r] == 0.
struct UncoveredZero {
    const double* column;
    const double* exclusion;

    PairMask pair(Index r) const { return load(column + r) + load(exclusion + r) == both(0.0); }
    bool at(Index r) const { return column[r] + exclusion[r] == 0; }
};

// The least element over the uncovered rows (+inf if none is below it), as `least > x` takes it
// row by row: a NaN is never taken. Elements that compare equal are equal but for the sign of a
// zero, so lanes give the very value of the row-by-row loop. Reads the column as it is, or, with
// shift and the additions of a shift by h (h on a covered row, 0 on an uncovered one), shifts it
// first: an uncovered column takes (x + h) - h on a covered row and x - h on an uncovered one,
// which is (x + 0) - h, as x + 0 differs from x only for -0, and -0 - h is +0 - h.
template <bool shift>
double uncoveredLeast(double* column, const double* exclusion, Index rows,
                      const double* addition, double h) {
    const Pair by = both(h);
    const auto next = [&](Index r) PAIRSOLVE_INLINED {
        Pair x = load(column + r);
        if (shift) {
            x = (x + load(addition + r)) - by;
            store(column + r, x);
        }
        return x + load(exclusion + r);
    };
    LanesLeast<2> lanes;
    Index r = 0;
    for (; r + 4 <= rows; r += 4) {
        lanes.take(0, next(r));
        lanes.take(1, next(r + 2));
    }
    if (r + 2 <= rows) {
        lanes.take(0, next(r));
        r += 2;
    }
    double least = lanes.value();
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
bool leastHolds(const SolverState& state, const PlainSearch& search, Index c) {
    const Index from = search.minimumCovered[c];
    if (from == plainSearch::notGathered) return false;
    const double* column = state.reduction.workMatrix + static_cast<Index>(state.rowCount) * c;
    for (Index i = from; i < state.matching.coveredCount; ++i)
        if (column[state.matching.coveredRows[i]] == search.colMinimum[c]) return false;
    return true;
}

// Within a search rows only get covered, so between two shifts a column read down to some row
// holds no uncovered zero above it: scanFrom is where its reading goes on. The sweeps visit the
// pending columns (Matching), the uncovered columns that may hold such a zero: the others would
// be read to no effect.
void startSearch(SolverState& state, PlainSearch& search) {
    state.matching.coveredCount = 0;
    clearAllPending(state);
    for (Index c = 0; c < state.colCount; ++c) {
        state.matching.scanFrom[c] = 0;
        search.minimumCovered[c] = notGathered;
        if (!state.colCover[c]) markPending(state, c);
    }
}

Phase primeZeros(SolverState& state, PlainSearch& search, Index& pathRow, Index& pathCol) {
    const Index rows = state.rowCount;
    return sweepPending(
        state, pathRow, pathCol,
        [&](Index c) {
            return firstWhere<4>(state.matching.scanFrom[c], rows,
                                 UncoveredZero{state.reduction.workMatrix + rows * c,
                                               search.exclusion});
        },
        [&](Index r, Index s) {
            search.exclusion[r] = infinity;
            state.matching.scanFrom[s] = 0;
            search.minimumCovered[s] = notGathered;
            markPending(state, s);
            return true;
        });
}

Phase augmentPath(SolverState& state, PlainSearch& search, Index pathRow, Index pathCol) {
    augmentAlongPath(state, pathRow, pathCol);
    for (Index i = 0; i < state.matching.coveredCount; ++i)
        search.exclusion[state.matching.coveredRows[i]] = 0;
    return Phase::coverStarColumns;
}

Phase coverStarColumns(SolverState& state, PlainSearch& search) {
    coverStars(state);
    startSearch(state, search);
    return Phase::checkDone;
}

// h from each uncovered column's least uncovered element, kept from the last shift while it
// holds (leastHolds) and gathered afresh otherwise. The shift of each uncovered column gathers
// its least element for the next shift on the way; when that is a zero, the column is pending
// from its first uncovered zero, and otherwise it holds none. (A covered column is read from its
// top when it is uncovered.) h is added to every covered row and subtracted from every uncovered
// column: an element of a covered row and an uncovered column gets h added and then subtracted,
// two rounded operations, because which elements end up exactly 0 steers the rest of the search.
Phase shiftByMinimum(SolverState& state, PlainSearch& search) {
    const Index rows = state.rowCount, cols = state.colCount;
    Matching& matching = state.matching;
    double* work = state.reduction.workMatrix;
    const double* exclusion = search.exclusion;
    Index* uncovered = search.uncoveredColumns;
    Index* covered = search.coveredColumns;
    const Index uncoveredCount = listColumns(state, uncovered, covered);
    const Index coveredCount = cols - uncoveredCount;
    double h = mxGetInf();
    for (Index i = 0; i < uncoveredCount; ++i) {
        const Index c = uncovered[i];
        if (!leastHolds(state, search, c)) {
            search.colMinimum[c] =
                uncoveredLeast<false>(work + rows * c, exclusion, rows, nullptr, 0);
            search.minimumCovered[c] = matching.coveredCount;
        }
        if (h > search.colMinimum[c]) h = search.colMinimum[c];
    }
    if (!mxIsFinite(h)) stall(state);
    record(state, solverTesting::Decision::shift, -1, -1, h);
    ++search.shiftsMade;
    double* addition = search.addition;
    Index row = 0;
    for (; row + 2 <= rows; row += 2)
        store(addition + row, pick(load(exclusion + row) > both(0.0), both(h), both(0.0)));
    for (; row < rows; ++row) addition[row] = exclusion[row] > 0 ? h : 0.0;
    // Column by column (each on its own, so the uncovered ones first); within an element, the
    // covered row's addition comes first.
    for (Index i = 0; i < uncoveredCount; ++i) {
        const Index c = uncovered[i];
        double* column = work + rows * c;
        const double least = uncoveredLeast<true>(column, exclusion, rows, addition, h);
        search.colMinimum[c] = least;
        search.minimumCovered[c] = matching.coveredCount;
        if (least == 0) {
            Index r = 0;
            while (column[r] + exclusion[r] != 0) ++r;
            matching.scanFrom[c] = r;
            markPending(state, c);
        }
    }
    for (Index i = 0; i < coveredCount; ++i) {
        double* column = work + rows * covered[i];
        for (Index j = 0; j < matching.coveredCount; ++j) {
            const Index r = matching.coveredRows[j];
            column[r] = column[r] + h;
        }
    }
    return Phase::primeZeros;
}

}  // namespace

void layOut(Carving& carving, PlainSearch& search, Index rows, Index cols) {
    carving.take(search.exclusion, rows);
    carving.take(search.addition, rows);
    carving.take(search.colMinimum, cols);
    carving.take(search.minimumCovered, cols);
    carving.take(search.uncoveredColumns, cols);
    carving.take(search.coveredColumns, cols);
}

void reset(PlainSearch& search, Index rows) {
    for (Index r = 0; r < rows; ++r) search.exclusion[r] = 0;
    search.shiftsMade = 0;
}

Phase run(SolverState& state, PlainSearch& search) {
    startSearch(state, search);
    return runPhaseLoop<PlainSearch, primeZeros, augmentPath, coverStarColumns, shiftByMinimum>(
        state, search);
}

}  // namespace plainSearch

void stall(const SolverState& state) {
    const std::size_t elementCount =
        static_cast<std::size_t>(state.rowCount) * static_cast<std::size_t>(state.colCount);
    bool infinite = state.reduction.forbiddenOverflowed;
    for (std::size_t i = 0; i < elementCount && !infinite; ++i)
        infinite = mxIsInf(state.reduction.workMatrix[i]);
    if (infinite) mexErrMsgIdAndTxt(text::overflowId, "%s", text::overflow);
    mexErrMsgIdAndTxt(text::nanBlocksId, "%s", text::nanBlocks);
}

}  // namespace pairsolve
