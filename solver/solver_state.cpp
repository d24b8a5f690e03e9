#include "solver_state.h"

#include "cost.h"

namespace pairsolve {

using kernels::none;

void layOut(Carving& carving, Matching& matching, Index rows, Index cols) {
    carving.take(matching.pendingColumns, (cols + 63) / 64);
    carving.take(matching.starInRow, rows);
    carving.take(matching.starInCol, cols);
    carving.take(matching.primeInRow, rows);
    carving.take(matching.coveredRows, rows);
    carving.take(matching.scanFrom, cols);
}

void reset(Matching& matching, Index rows, Index cols) {
    for (Index r = 0; r < rows; ++r) {
        matching.starInRow[r] = none;
        matching.primeInRow[r] = none;
    }
    for (Index c = 0; c < cols; ++c) matching.starInCol[c] = none;
    matching.starCount = 0;
    matching.coveredCount = 0;
}

Phase checkDone(SolverState& state) {
    if (state.matching.starCount == state.targetStars) {
        buildAssignment(state.assignment, state.matching.starInRow, state.rowCount);
        return Phase::done;
    }
    return Phase::primeZeros;
}

void flipPath(SolverState& state, Index pathRow, Index pathCol) {
    Matching& matching = state.matching;
    ++matching.starCount;  // a path has one more prime than stars
    Index r = pathRow, c = pathCol;
    for (;;) {
        const Index oldStar = matching.starInCol[c];
        matching.starInRow[r] = c;
        matching.starInCol[c] = r;
        if (oldStar == none) break;
        r = oldStar;
        c = matching.primeInRow[oldStar];
    }
}

void augmentAlongPath(SolverState& state, Index pathRow, Index pathCol) {
    Matching& matching = state.matching;
    record(state, solverTesting::Decision::augment, pathRow, pathCol, 0);
    flipPath(state, pathRow, pathCol);
    matching.primeInRow[pathRow] = none;
    for (Index i = 0; i < matching.coveredCount; ++i) {
        matching.primeInRow[matching.coveredRows[i]] = none;
        state.rowCover[matching.coveredRows[i]] = 0;
    }
}

void coverStars(SolverState& state) {
    for (Index c = 0; c < state.colCount; ++c)
        if (state.matching.starInCol[c] != none) state.colCover[c] = 1;
}


}  // namespace pairsolve
