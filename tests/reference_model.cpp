// The reference model, step by step. Speed does not matter here; being obviously right does. Each
// function does what its name says in the most direct way, in the order the solver must follow,
// so that it can be read line by line against the fast solver.
#include "reference_model.h"

#include <cstddef>
#include <cstdint>
#include <limits>

#include "host_services.h"

// The stand-in host's names, as the solver sees them.
using namespace pairsolve::standin;

namespace reference {

namespace {

// Element (r, c) of a rowCount x colCount column-major matrix or mask.
std::size_t at(std::size_t r, std::size_t c, std::size_t rowCount) { return r + rowCount * c; }

}  // namespace

void solveAssignment(double* assignment, double* cost, const double* costMatrix,
                     std::int32_t rowCount, std::int32_t colCount) {
    // Sizes the working copy cannot be made for are refused before anything is written.
    if (rowCount < 0 || colCount < 0) mexErrMsgIdAndTxt(text::inputSizeId, "%s", text::negativeSize);
    const std::size_t rows = static_cast<std::size_t>(rowCount);
    const std::size_t cols = static_cast<std::size_t>(colCount);
    if (cols != 0 && rows > std::numeric_limits<std::size_t>::max() / sizeof(double) / cols)
        mexErrMsgIdAndTxt(text::inputSizeId, "A %d x %d matrix is too large to solve on this platform.",
                          static_cast<int>(rowCount), static_cast<int>(colCount));

    // 1. Clear the outputs.
    *cost = 0;
    for (std::size_t r = 0; r < rows; ++r) assignment[r] = 0;

    // 2. The working copy.
    const std::size_t elementCount = rows * cols;
    double* workMatrix = static_cast<double*>(mxMalloc(elementCount * sizeof(double)));

    // 3. Copy and check, in index order; the first finite negative element ends the call.
    for (std::size_t i = 0; i < elementCount; ++i) {
        const double v = costMatrix[i];
        if (mxIsFinite(v) && v < 0) mexErrMsgTxt(text::negativeElement);
        workMatrix[i] = v;
    }

    // 4. The largest finite element, and whether anything is not finite (NaN included).
    double maxFinite = -1.0;
    bool anyInfinite = false;
    for (std::size_t i = 0; i < elementCount; ++i) {
        const double v = workMatrix[i];
        if (!mxIsFinite(v))
            anyInfinite = true;
        else if (maxFinite < v)
            maxFinite = v;
    }

    // 5. Forbidden pairs.
    bool forbiddenOverflowed = false;
    if (anyInfinite) {
        if (maxFinite == -1.0) {
            mxFree(workMatrix);
            return;
        }
        double forbiddenValue = 10.0;
        if (maxFinite > 0) forbiddenValue = (10.0 * maxFinite) * static_cast<double>(elementCount);
        for (std::size_t i = 0; i < elementCount; ++i) {
            if (mxIsInf(workMatrix[i])) {
                workMatrix[i] = forbiddenValue;
                if (!mxIsFinite(forbiddenValue)) forbiddenOverflowed = true;
            }
        }
    }

    // 6. The five flag arrays, zero-filled, in this order.
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

    // 7. Orientation, reduction of one direction only, and greedy seeding.
    if (rowCount <= colCount) {
        state.targetStars = rows;
        for (std::size_t r = 0; r < rows; ++r) {
            double m = workMatrix[at(r, 0, rows)];
            for (std::size_t c = 1; c < cols; ++c)
                if (m > workMatrix[at(r, c, rows)]) m = workMatrix[at(r, c, rows)];
            for (std::size_t c = 0; c < cols; ++c)
                workMatrix[at(r, c, rows)] = workMatrix[at(r, c, rows)] - m;
        }
        for (std::size_t r = 0; r < rows; ++r) {
            for (std::size_t c = 0; c < cols; ++c) {
                if (workMatrix[at(r, c, rows)] == 0 && state.colCover[c] == 0) {
                    state.starMask[at(r, c, rows)] = 1;
                    state.colCover[c] = 1;
                    break;
                }
            }
        }
    } else {
        state.targetStars = cols;
        for (std::size_t c = 0; c < cols; ++c) {
            double m = workMatrix[at(0, c, rows)];
            for (std::size_t r = 1; r < rows; ++r)
                if (m > workMatrix[at(r, c, rows)]) m = workMatrix[at(r, c, rows)];
            for (std::size_t r = 0; r < rows; ++r)
                workMatrix[at(r, c, rows)] = workMatrix[at(r, c, rows)] - m;
        }
        for (std::size_t c = 0; c < cols; ++c) {
            for (std::size_t r = 0; r < rows; ++r) {
                if (workMatrix[at(r, c, rows)] == 0 && state.rowCover[r] == 0) {
                    state.starMask[at(r, c, rows)] = 1;
                    state.colCover[c] = 1;
                    state.rowCover[r] = 1;
                    break;
                }
            }
        }
        for (std::size_t r = 0; r < rows; ++r) state.rowCover[r] = 0;
    }

    // 8. The phase machine, entered at checkDone: the starred columns are already covered.
    runPhases(state);

    // 9. The cost, over the caller's matrix.
    addUpCost(assignment, cost, costMatrix, rowCount);

    // 10. Release, in the order taken (workMatrix first).
    mxFree(state.workMatrix);
    mxFree(state.colCover);
    mxFree(state.rowCover);
    mxFree(state.starMask);
    mxFree(state.primeMask);
    mxFree(state.nextStarMask);
}

void addUpCost(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount) {
    const std::size_t rows = static_cast<std::size_t>(rowCount);
    for (std::size_t r = 0; r < rows; ++r) {
        const std::ptrdiff_t c = static_cast<std::ptrdiff_t>(assignment[r] - 1);
        if (c >= 0) {
            const double v = costMatrix[at(r, static_cast<std::size_t>(c), rows)];
            if (mxIsFinite(v))
                *cost = *cost + v;
            else
                assignment[r] = 0;
        }
    }
}

void runPhases(SolverState& state) {
    Phase phase = Phase::checkDone;
    std::size_t pathRow = 0, pathCol = 0;
    while (phase != Phase::done) {
        if (phase == Phase::checkDone)
            phase = checkDone(state);
        else if (phase == Phase::primeZeros)
            phase = primeZeros(state, pathRow, pathCol);
        else if (phase == Phase::augmentPath)
            phase = augmentPath(state, pathRow, pathCol);
        else if (phase == Phase::coverStarColumns)
            phase = coverStarColumns(state);
        else if (phase == Phase::shiftByMinimum)
            phase = shiftByMinimum(state);
    }
}

Phase checkDone(SolverState& state) {
    const std::size_t cols = static_cast<std::size_t>(state.colCount);
    std::size_t count = 0;
    for (std::size_t c = 0; c < cols; ++c)
        if (state.colCover[c] == 1) count = count + 1;
    if (count == state.targetStars) {
        buildAssignment(state.assignment, state.starMask, state.rowCount, state.colCount);
        return Phase::done;
    }
    return Phase::primeZeros;
}

void buildAssignment(double* assignment, const unsigned char* starMask, std::int32_t rowCount,
                     std::int32_t colCount) {
    const std::size_t rows = static_cast<std::size_t>(rowCount);
    const std::size_t cols = static_cast<std::size_t>(colCount);
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < cols; ++c) {
            if (starMask[at(r, c, rows)] == 1) {
                assignment[r] = static_cast<double>(c + 1);
                break;
            }
        }
    }
}

// Covers are read at the moment the sweep reaches them: a column uncovered ahead of the sweep is
// searched in the same sweep, and after a row is covered the sweep goes on with the next column.
Phase primeZeros(SolverState& state, std::size_t& pathRow, std::size_t& pathCol) {
    const std::size_t rows = static_cast<std::size_t>(state.rowCount);
    const std::size_t cols = static_cast<std::size_t>(state.colCount);
    bool found = true;
    while (found) {
        found = false;
        for (std::size_t c = 0; c < cols; ++c) {
            if (state.colCover[c] == 1) continue;
            for (std::size_t r = 0; r < rows; ++r) {
                if (state.rowCover[r] == 1) continue;
                if (state.workMatrix[at(r, c, rows)] == 0) {
                    state.primeMask[at(r, c, rows)] = 1;
                    bool rowHasStar = false;
                    std::size_t s = 0;
                    for (std::size_t k = 0; k < cols; ++k) {
                        if (state.starMask[at(r, k, rows)] == 1) {
                            rowHasStar = true;
                            s = k;
                            break;
                        }
                    }
                    if (!rowHasStar) {
                        pathRow = r;
                        pathCol = c;
                        return Phase::augmentPath;
                    }
                    state.rowCover[r] = 1;
                    state.colCover[s] = 0;
                    found = true;
                    break;  // on with column c + 1
                }
            }
        }
    }
    return Phase::shiftByMinimum;
}

// The path is followed through the stars as they were before this phase (starMask), while the
// new stars are written to nextStarMask.
Phase augmentPath(SolverState& state, std::size_t pathRow, std::size_t pathCol) {
    const std::size_t rows = static_cast<std::size_t>(state.rowCount);
    const std::size_t cols = static_cast<std::size_t>(state.colCount);
    const std::size_t elementCount = rows * cols;

    for (std::size_t i = 0; i < elementCount; ++i) state.nextStarMask[i] = state.starMask[i];
    state.nextStarMask[at(pathRow, pathCol, rows)] = 1;

    std::size_t c = pathCol;
    std::size_t r = rows;
    for (std::size_t k = 0; k < rows; ++k) {
        if (state.starMask[at(k, c, rows)] == 1) {
            r = k;
            break;
        }
    }
    while (r < rows) {
        state.nextStarMask[at(r, c, rows)] = 0;
        std::size_t p = cols;
        for (std::size_t k = 0; k < cols; ++k) {
            if (state.primeMask[at(r, k, rows)] == 1) {
                p = k;
                break;
            }
        }
        // A row reached here was covered right after one of its zeros was primed.
        if (p == cols) mexErrMsgIdAndTxt("pairsolve:internal", "Alternating path without a prime.");
        state.nextStarMask[at(r, p, rows)] = 1;
        c = p;
        r = rows;
        for (std::size_t k = 0; k < rows; ++k) {
            if (state.starMask[at(k, c, rows)] == 1) {
                r = k;
                break;
            }
        }
    }

    for (std::size_t i = 0; i < elementCount; ++i) {
        state.primeMask[i] = 0;
        state.starMask[i] = state.nextStarMask[i];
    }
    for (std::size_t k = 0; k < rows; ++k) state.rowCover[k] = 0;
    return Phase::coverStarColumns;
}

Phase coverStarColumns(SolverState& state) {
    const std::size_t rows = static_cast<std::size_t>(state.rowCount);
    const std::size_t cols = static_cast<std::size_t>(state.colCount);
    for (std::size_t c = 0; c < cols; ++c) {
        for (std::size_t r = 0; r < rows; ++r) {
            if (state.starMask[at(r, c, rows)] == 1) {
                state.colCover[c] = 1;
                break;
            }
        }
    }
    return Phase::checkDone;
}

// The minimum row by row, then the two passes, one after the other: an element of a covered row
// and an uncovered column gets h added in the first pass and subtracted in the second.
Phase shiftByMinimum(SolverState& state) {
    const std::size_t rows = static_cast<std::size_t>(state.rowCount);
    const std::size_t cols = static_cast<std::size_t>(state.colCount);
    const std::size_t elementCount = rows * cols;

    double h = mxGetInf();
    for (std::size_t r = 0; r < rows; ++r) {
        if (state.rowCover[r] == 1) continue;
        for (std::size_t c = 0; c < cols; ++c) {
            if (state.colCover[c] == 1) continue;
            if (h > state.workMatrix[at(r, c, rows)]) h = state.workMatrix[at(r, c, rows)];
        }
    }

    // With no finite uncovered element the shift makes no zero and the same state would return
    // forever: end the call, blaming an overflow when one left an infinite value behind.
    if (!mxIsFinite(h)) {
        bool holdsInfinite = false;
        for (std::size_t i = 0; i < elementCount; ++i)
            if (mxIsInf(state.workMatrix[i])) holdsInfinite = true;
        if (holdsInfinite || state.forbiddenOverflowed)
            mexErrMsgIdAndTxt(text::overflowId, "%s", text::overflow);
        else
            mexErrMsgIdAndTxt(text::nanBlocksId, "%s", text::nanBlocks);
    }

    for (std::size_t r = 0; r < rows; ++r) {
        if (state.rowCover[r] == 0) continue;
        for (std::size_t c = 0; c < cols; ++c)
            state.workMatrix[at(r, c, rows)] = state.workMatrix[at(r, c, rows)] + h;
    }
    for (std::size_t c = 0; c < cols; ++c) {
        if (state.colCover[c] == 1) continue;
        for (std::size_t r = 0; r < rows; ++r)
            state.workMatrix[at(r, c, rows)] = state.workMatrix[at(r, c, rows)] - h;
    }
    return Phase::primeZeros;
}

}  // namespace reference
