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
#include "assignment_solver.h"

#include "host_services.h"

namespace {

using Index = std::ptrdiff_t;

// The smallest column holding a star (or prime) in row r, or -1.
Index firstInRow(const unsigned char* mask, Index rows, Index cols, Index r) {
    for (Index c = 0; c < cols; ++c)
        if (mask[r + rows * c]) return c;
    return -1;
}

// The smallest row holding a star in column c, or rows when there is none.
Index firstInColumn(const unsigned char* mask, Index rows, Index c) {
    const unsigned char* column = mask + rows * c;
    for (Index r = 0; r < rows; ++r)
        if (column[r]) return r;
    return rows;
}

bool holdsInfinite(const double* work, std::size_t elementCount) {
    for (std::size_t i = 0; i < elementCount; ++i)
        if (mxIsInf(work[i])) return true;
    return false;
}

}  // namespace

void runPhases(SolverState& state) {
    Phase phase = Phase::checkDone;
    Index pathRow = 0, pathCol = 0;
    while (phase != Phase::done) {
        switch (phase) {
        case Phase::checkDone: phase = checkDone(state); break;
        case Phase::primeZeros: phase = primeZeros(state, pathRow, pathCol); break;
        case Phase::augmentPath: phase = augmentPath(state, pathRow, pathCol); break;
        case Phase::coverStarColumns: phase = coverStarColumns(state); break;
        case Phase::shiftByMinimum: phase = shiftByMinimum(state); break;
        case Phase::done: break;
        }
    }
}

// Done when targetStars columns are covered: each covered column holds one of the stars.
Phase checkDone(SolverState& state) {
    Index covered = 0;
    for (Index c = 0; c < state.colCount; ++c) covered += state.colCover[c] ? 1 : 0;
    if (covered == state.targetStars) {
        buildAssignment(state.assignment, state.starMask, state.rowCount, state.colCount);
        return Phase::done;
    }
    return Phase::primeZeros;
}

// Writes each row's star as a 1-based column; rows without a star keep their 0.
void buildAssignment(double* assignment, const unsigned char* starMask, std::int32_t rowCount,
                     std::int32_t colCount) {
    const Index rows = rowCount;
    for (Index c = colCount - 1; c >= 0; --c)
        for (Index r = 0; r < rows; ++r)
            if (starMask[r + rows * c]) assignment[r] = static_cast<double>(c + 1);
}

// Sweeps the uncovered columns in ascending order, priming the first uncovered zero of each.
// A prime in a row without a star starts an augmenting path. Otherwise its row is covered and its
// star's column uncovered, and the sweep moves on to the next column: covers are read as the
// sweep reaches them, so a column uncovered ahead of the sweep is searched in the same sweep, one
// behind it in the next. Sweeps repeat until one primes nothing.
Phase primeZeros(SolverState& state, Index& pathRow, Index& pathCol) {
    const Index rows = state.rowCount, cols = state.colCount;
    bool found = true;
    while (found) {
        found = false;
        for (Index c = 0; c < cols; ++c) {
            if (state.colCover[c]) continue;
            const double* column = state.workMatrix + rows * c;
            for (Index r = 0; r < rows; ++r) {
                if (state.rowCover[r] || column[r] != 0) continue;
                state.primeMask[r + rows * c] = 1;
                const Index s = firstInRow(state.starMask, rows, cols, r);
                if (s < 0) {
                    pathRow = r;
                    pathCol = c;
                    return Phase::augmentPath;
                }
                state.rowCover[r] = 1;
                state.colCover[s] = 0;
                found = true;
                break;
            }
        }
    }
    return Phase::shiftByMinimum;
}

// Flips the alternating path that starts at the prime (pathRow, pathCol): prime, star in its
// column, prime in that star's row, and so on until a column without a star. The path is read from
// the old stars while the new set is built in nextStarMask, so a star placed on the way is never
// mistaken for one to follow. Every row reached holds a prime (it was covered right after one was
// primed), and each step moves to a column not visited before, so the walk ends.
Phase augmentPath(SolverState& state, Index pathRow, Index pathCol) {
    const Index rows = state.rowCount, cols = state.colCount;
    const std::size_t elementCount = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    for (std::size_t i = 0; i < elementCount; ++i) state.nextStarMask[i] = state.starMask[i];
    state.nextStarMask[pathRow + rows * pathCol] = 1;
    Index c = pathCol;
    Index r = firstInColumn(state.starMask, rows, c);
    while (r < rows) {
        state.nextStarMask[r + rows * c] = 0;
        const Index p = firstInRow(state.primeMask, rows, cols, r);
        state.nextStarMask[r + rows * p] = 1;
        c = p;
        r = firstInColumn(state.starMask, rows, c);
    }
    for (std::size_t i = 0; i < elementCount; ++i) {
        state.primeMask[i] = 0;
        state.starMask[i] = state.nextStarMask[i];
    }
    for (Index i = 0; i < rows; ++i) state.rowCover[i] = 0;
    return Phase::coverStarColumns;
}

// Covers every column holding a star; no other column is covered after an augmentation.
Phase coverStarColumns(SolverState& state) {
    const Index rows = state.rowCount, cols = state.colCount;
    for (Index c = 0; c < cols; ++c)
        if (firstInColumn(state.starMask, rows, c) < rows) state.colCover[c] = 1;
    return Phase::checkDone;
}

// Adds the smallest uncovered value h to every covered row and subtracts it from every uncovered
// column. An element of a covered row and an uncovered column gets h added and then subtracted,
// two rounded operations, because which elements end up exactly 0 steers the rest of the search.
Phase shiftByMinimum(SolverState& state) {
    const Index rows = state.rowCount, cols = state.colCount;
    double h = mxGetInf();
    for (Index c = 0; c < cols; ++c) {
        if (state.colCover[c]) continue;
        const double* column = state.workMatrix + rows * c;
        for (Index r = 0; r < rows; ++r)
            if (!state.rowCover[r] && h > column[r]) h = column[r];
    }
    if (!mxIsFinite(h)) {
        // Every uncovered element is NaN or +inf: no shift can make a zero, and the same state
        // would come back forever. An infinite element means a value overflowed; otherwise the
        // NaNs leave too few usable pairs.
        const std::size_t elementCount =
            static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
        if (state.forbiddenOverflowed || holdsInfinite(state.workMatrix, elementCount))
            mexErrMsgIdAndTxt(pairsolveText::overflowId, "%s", pairsolveText::overflow);
        mexErrMsgIdAndTxt(pairsolveText::nanBlocksId, "%s", pairsolveText::nanBlocks);
    }
    for (Index c = 0; c < cols; ++c) {
        double* column = state.workMatrix + rows * c;
        const bool uncoveredColumn = !state.colCover[c];
        for (Index r = 0; r < rows; ++r) {
            double x = column[r];
            if (state.rowCover[r]) x = x + h;
            if (uncoveredColumn) x = x - h;
            column[r] = x;
        }
    }
    return Phase::primeZeros;
}
