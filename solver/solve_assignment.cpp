// The driver: copies and checks the caller's matrix, replaces forbidden pairs, reduces one
// direction, seeds stars greedily, runs the phase machine and adds up the cost.
#include "assignment_solver.h"

#include <cstdint>
#include <limits>

#include "host_services.h"

namespace {

using Index = std::ptrdiff_t;

// The largest finite element and whether any element is not finite (NaN included).
struct Scan {
    double maxFinite;
    bool anyInfinite;
};

// Copies costMatrix into workMatrix, refusing the first finite negative element in index order,
// and scans the copy in the same pass. -0.0 is a zero, not a negative; -inf and NaN pass.
Scan copyAndCheck(double* workMatrix, const double* costMatrix, std::size_t elementCount) {
    Scan scan{-1.0, false};
    for (std::size_t i = 0; i < elementCount; ++i) {
        const double v = costMatrix[i];
        const bool finite = mxIsFinite(v);
        if (finite && v < 0) mexErrMsgTxt(pairsolveText::negativeElement);
        workMatrix[i] = v;
        if (!finite)
            scan.anyInfinite = true;
        else if (scan.maxFinite < v)
            scan.maxFinite = v;
    }
    return scan;
}

// Rows in ascending order: subtract each row's minimum, found with `m > x` so that a NaN is never
// taken as the minimum (but a NaN first element is kept, and turns its row into NaN).
void reduceRows(double* work, Index rows, Index cols) {
    for (Index r = 0; r < rows; ++r) {
        double m = work[r];
        for (Index c = 1; c < cols; ++c)
            if (m > work[r + rows * c]) m = work[r + rows * c];
        for (Index c = 0; c < cols; ++c) work[r + rows * c] = work[r + rows * c] - m;
    }
}

void reduceColumns(double* work, Index rows, Index cols) {
    for (Index c = 0; c < cols; ++c) {
        double* column = work + rows * c;
        double m = column[0];
        for (Index r = 1; r < rows; ++r)
            if (m > column[r]) m = column[r];
        for (Index r = 0; r < rows; ++r) column[r] = column[r] - m;
    }
}

// Rows in ascending order, each starring its first zero in a column not yet taken.
void seedByRows(SolverState& s) {
    const Index rows = s.rowCount, cols = s.colCount;
    for (Index r = 0; r < rows; ++r) {
        for (Index c = 0; c < cols; ++c) {
            if (s.workMatrix[r + rows * c] == 0 && !s.colCover[c]) {
                s.starMask[r + rows * c] = 1;
                s.colCover[c] = 1;
                break;
            }
        }
    }
}

// Columns in ascending order, each starring its first zero in a row not yet taken. The rows are
// marked only to keep stars independent; they are cleared again, as the search starts with no
// row covered.
void seedByColumns(SolverState& s) {
    const Index rows = s.rowCount, cols = s.colCount;
    for (Index c = 0; c < cols; ++c) {
        for (Index r = 0; r < rows; ++r) {
            if (s.workMatrix[r + rows * c] == 0 && !s.rowCover[r]) {
                s.starMask[r + rows * c] = 1;
                s.colCover[c] = 1;
                s.rowCover[r] = 1;
                break;
            }
        }
    }
    for (Index r = 0; r < rows; ++r) s.rowCover[r] = 0;
}

}  // namespace

void solveAssignment(double* assignment, double* cost, const double* costMatrix,
                     std::int32_t rowCount, std::int32_t colCount) {
    if (rowCount < 0 || colCount < 0)
        mexErrMsgIdAndTxt(pairsolveText::inputSizeId, "Matrix dimensions must not be negative.");
    // The working copy's byte size must fit size_t; on a 64-bit target only the very largest
    // dimensions can break this, on a 32-bit one far smaller ones can.
    const std::size_t rows = static_cast<std::size_t>(rowCount);
    const std::size_t cols = static_cast<std::size_t>(colCount);
    if (cols != 0 && rows > std::numeric_limits<std::size_t>::max() / sizeof(double) / cols)
        mexErrMsgIdAndTxt(pairsolveText::inputSizeId,
                          "A %d x %d matrix is too large to solve on this platform.",
                          static_cast<int>(rowCount), static_cast<int>(colCount));
    const std::size_t elementCount = rows * cols;

    *cost = 0;
    for (std::size_t r = 0; r < rows; ++r) assignment[r] = 0;

    double* workMatrix = static_cast<double*>(mxMalloc(elementCount * sizeof(double)));
    const Scan scan = copyAndCheck(workMatrix, costMatrix, elementCount);

    bool forbiddenOverflowed = false;
    if (scan.anyInfinite) {
        if (scan.maxFinite == -1.0) {
            // No finite element at all: nothing can be paired.
            mxFree(workMatrix);
            return;
        }
        // Larger than the sum of any min(M, N) finite elements, so the search uses as few
        // forbidden pairs as it can. The product is formed in this order, in doubles.
        const double forbiddenValue = scan.maxFinite > 0
                                          ? (10.0 * scan.maxFinite) * static_cast<double>(elementCount)
                                          : 10.0;
        for (std::size_t i = 0; i < elementCount; ++i) {
            if (mxIsInf(workMatrix[i])) {
                workMatrix[i] = forbiddenValue;
                if (!mxIsFinite(forbiddenValue)) forbiddenOverflowed = true;
            }
        }
    }

    SolverState state;
    state.workMatrix = workMatrix;
    state.colCover = static_cast<unsigned char*>(mxCalloc(cols, 1));
    state.rowCover = static_cast<unsigned char*>(mxCalloc(rows, 1));
    state.starMask = static_cast<unsigned char*>(mxCalloc(elementCount, 1));
    state.primeMask = static_cast<unsigned char*>(mxCalloc(elementCount, 1));
    state.nextStarMask = static_cast<unsigned char*>(mxCalloc(elementCount, 1));
    state.rowCount = rowCount;
    state.colCount = colCount;
    state.assignment = assignment;
    state.forbiddenOverflowed = forbiddenOverflowed;

    // Only one direction is reduced: rows when they are the fewer (or as many), columns otherwise,
    // so that every line that must be matched holds a zero.
    if (rowCount <= colCount) {
        state.targetStars = rowCount;
        reduceRows(workMatrix, rowCount, colCount);
        seedByRows(state);
    } else {
        state.targetStars = colCount;
        reduceColumns(workMatrix, rowCount, colCount);
        seedByColumns(state);
    }

    // The starred columns are covered already, so the machine starts at checkDone.
    runPhases(state);

    addUpCost(assignment, cost, costMatrix, rowCount);

    mxFree(state.workMatrix);
    mxFree(state.colCover);
    mxFree(state.rowCover);
    mxFree(state.starMask);
    mxFree(state.primeMask);
    mxFree(state.nextStarMask);
}

void addUpCost(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount) {
    const Index rows = rowCount;
    for (Index r = 0; r < rows; ++r) {
        const Index c = static_cast<Index>(assignment[r] - 1);
        if (c < 0) continue;
        // The caller's matrix, not the reduced copy: the cost is what the caller's numbers add up
        // to, and a pair on a forbidden (infinite) element is dropped rather than paid for.
        const double v = costMatrix[r + rows * c];
        if (mxIsFinite(v))
            *cost = *cost + v;
        else
            assignment[r] = 0;
    }
}
