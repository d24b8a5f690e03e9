// The driver: copies and checks the caller's matrix, replaces forbidden pairs, reduces one
// direction, seeds stars greedily, runs the phase machine and adds up the cost.
#include "assignment_solver.h"

#include <cstdint>
#include <limits>

#include "host_services.h"

namespace pairsolve {

namespace {

using Index = std::ptrdiff_t;

// Whether v may stand in a working matrix that the exact search takes: an integer in [0, limit].
// For 0 <= v <= limit < 2^52, v + 2^52 lies where doubles are exactly the integers, so
// (v + 2^52) - 2^52 == v holds exactly when v is one. NaN fails the first test, +inf the second.
inline bool smallInteger(double v, double limit) {
    return v >= 0 && v <= limit && (v + 0x1p52) - 0x1p52 == v;
}

// The largest integer w with w * 2(lineCount + 1) < 2^53, counted in 64 bits (exact_search.cpp
// says why that bound keeps the exact search exact).
double exactLimit(std::uint64_t lineCount) {
    return static_cast<double>(((std::uint64_t{1} << 53) - 1) / (2 * (lineCount + 1)));
}

// The largest finite element, whether any element is not finite (NaN included), and, for the
// choice of the search, whether any is NaN and whether every finite one is a small integer.
struct Scan {
    double maxFinite;
    bool anyInfinite;
    bool anyNaN;
    bool finiteSmallIntegers;
};

// Copies costMatrix into workMatrix, refusing the first finite negative element in index order,
// and scans the copy in the same pass. -0.0 is a zero, not a negative; -inf and NaN pass.
Scan copyAndCheck(double* workMatrix, const double* costMatrix, std::size_t elementCount,
                  double exactLimit) {
    Scan scan{-1.0, false, false, true};
    for (std::size_t i = 0; i < elementCount; ++i) {
        const double v = costMatrix[i];
        const bool finite = mxIsFinite(v);
        if (finite && v < 0) mexErrMsgTxt(text::negativeElement);
        workMatrix[i] = v;
        if (!finite) {
            scan.anyInfinite = true;
            if (v != v) scan.anyNaN = true;
        } else {
            if (scan.maxFinite < v) scan.maxFinite = v;
            scan.finiteSmallIntegers = scan.finiteSmallIntegers & smallInteger(v, exactLimit);
        }
    }
    return scan;
}

// Subtracts each row's minimum, found with `m > x` so that a NaN is never taken as the minimum
// (but a NaN first element is kept, and turns its row into NaN). The minima of all rows are
// gathered side by side, column by column, so the matrix is walked in memory order; each row
// still sees its elements in ascending column order. firstZero[r] gets the first column where
// row r became 0, or cols.
void reduceRows(double* work, Index rows, Index cols, double* rowMinimum, Index* firstZero) {
    for (Index r = 0; r < rows; ++r) {
        rowMinimum[r] = work[r];
        firstZero[r] = cols;
    }
    for (Index c = 1; c < cols; ++c) {
        const double* column = work + rows * c;
        for (Index r = 0; r < rows; ++r)
            rowMinimum[r] = rowMinimum[r] > column[r] ? column[r] : rowMinimum[r];
    }
    for (Index c = 0; c < cols; ++c) {
        double* column = work + rows * c;
        for (Index r = 0; r < rows; ++r) column[r] = column[r] - rowMinimum[r];
        for (Index r = 0; r < rows; ++r)
            if (column[r] == 0 && firstZero[r] == cols) firstZero[r] = c;
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

void placeStar(SolverState& s, Index r, Index c) {
    s.starMask[r + s.rowCount * c] = 1;
    s.starInRow[r] = c;
    s.starInCol[c] = r;
    s.colCover[c] = 1;
}

// Rows in ascending order, each starring its first zero in a column not yet taken. No row holds a
// zero before its firstZero column, so the scan starts there.
void seedByRows(SolverState& s, const Index* firstZero) {
    const Index rows = s.rowCount, cols = s.colCount;
    for (Index r = 0; r < rows; ++r) {
        for (Index c = firstZero[r]; c < cols; ++c) {
            if (s.workMatrix[r + rows * c] == 0 && !s.colCover[c]) {
                placeStar(s, r, c);
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
                placeStar(s, r, c);
                s.rowCover[r] = 1;
                break;
            }
        }
    }
    for (Index r = 0; r < rows; ++r) s.rowCover[r] = 0;
}

// The search's bookkeeping (see SolverState) lives in one block: the 8-byte entries first, then
// the indexes, so every part is aligned. Counted in 64 bits, which always suffice.
std::uint64_t scratchBytes(std::size_t rows, std::size_t cols) {
    const std::uint64_t m = rows, n = cols;
    const std::uint64_t eightByteEntries =
        n + (m + 1) + m + m + (n + 63) / 64 + 2 * m + 3 * n;  // the last for the exact search
    return eightByteEntries * 8 + (4 * m + 1 + 9 * n) * sizeof(Index);
}

// Points the bookkeeping into block and sets it for no stars, no primes, no covered row and no
// shift made.
void layOutScratch(SolverState& s, void* block, Index rows, Index cols) {
    char* next = static_cast<char*>(block);
    const auto take = [&next](std::size_t bytes) {
        char* part = next;
        next += bytes;
        return part;
    };
    s.colMinimum = reinterpret_cast<double*>(take(cols * sizeof(double)));
    s.shiftLog = reinterpret_cast<double*>(take((rows + 1) * sizeof(double)));
    s.coveredAfter = reinterpret_cast<double*>(take(rows * sizeof(double)));
    s.replayValues = reinterpret_cast<double*>(take(rows * sizeof(double)));
    s.pendingColumns = reinterpret_cast<std::uint64_t*>(take((cols + 63) / 64 * sizeof(std::uint64_t)));
    s.starInRow = reinterpret_cast<Index*>(take(rows * sizeof(Index)));
    s.primeInRow = reinterpret_cast<Index*>(take(rows * sizeof(Index)));
    s.coveredRows = reinterpret_cast<Index*>(take(rows * sizeof(Index)));
    s.coveredBefore = reinterpret_cast<Index*>(take((rows + 1) * sizeof(Index)));
    s.starInCol = reinterpret_cast<Index*>(take(cols * sizeof(Index)));
    s.scanFrom = reinterpret_cast<Index*>(take(cols * sizeof(Index)));
    s.uncoveredAfter = reinterpret_cast<Index*>(take(cols * sizeof(Index)));
    s.syncedTo = reinterpret_cast<Index*>(take(cols * sizeof(Index)));
    s.colMinimumRow = reinterpret_cast<Index*>(take(cols * sizeof(Index)));
    s.rowOffset = reinterpret_cast<double*>(take(rows * sizeof(double)));
    s.coveredOffset = reinterpret_cast<double*>(take(rows * sizeof(double)));
    s.colOffset = reinterpret_cast<double*>(take(cols * sizeof(double)));
    s.colFloor = reinterpret_cast<double*>(take(cols * sizeof(double)));
    s.colFloorOffset = reinterpret_cast<double*>(take(cols * sizeof(double)));
    s.colFloorRow = reinterpret_cast<Index*>(take(cols * sizeof(Index)));
    s.tiedColumns = reinterpret_cast<Index*>(take(cols * sizeof(Index)));
    s.zeroFlagsAt = reinterpret_cast<Index*>(take(cols * sizeof(Index)));
    s.searchedAt = reinterpret_cast<Index*>(take(cols * sizeof(Index)));
    for (Index r = 0; r < rows; ++r) {
        s.coveredAfter[r] = std::numeric_limits<double>::infinity();
        s.starInRow[r] = -1;
        s.primeInRow[r] = -1;
        s.rowOffset[r] = 0;
    }
    for (Index c = 0; c < cols; ++c) {
        s.starInCol[c] = -1;
        s.syncedTo[c] = 0;
        s.colMinimumRow[c] = -2;  // not known
        s.colOffset[c] = 0;
        s.colFloorRow[c] = -2;
        s.zeroFlagsAt[c] = -1;
        s.searchedAt[c] = -1;
    }
    s.shiftsMade = 0;
    s.coveredCount = 0;
    s.shiftCount = 0;
    s.shiftTotal = 0;
}

void runSolve(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount,
           std::int32_t colCount, bool exactAllowed);

}  // namespace

// The driver makes the same test on the fly: on the finite elements as it copies them, and on
// forbiddenValue for the infinite ones.
bool exactSearchApplies(const double* workMatrix, std::size_t elementCount, std::int32_t rowCount,
                        std::int32_t colCount) {
    const double limit = exactLimit(static_cast<std::uint64_t>(rowCount) +
                                    static_cast<std::uint64_t>(colCount));
    for (std::size_t i = 0; i < elementCount; ++i)
        if (!smallInteger(workMatrix[i], limit)) return false;
    return true;
}

void solveAssignment(double* assignment, double* cost, const double* costMatrix,
                     std::int32_t rowCount, std::int32_t colCount) {
    runSolve(assignment, cost, costMatrix, rowCount, colCount, true);
}

void solverTesting::solveWithoutExactSearch(double* assignment, double* cost,
                                            const double* costMatrix, std::int32_t rowCount,
                                            std::int32_t colCount) {
    runSolve(assignment, cost, costMatrix, rowCount, colCount, false);
}

void solverTesting::solve(SearchChoice choice, double* assignment, double* cost,
                          const double* costMatrix, std::int32_t rowCount, std::int32_t colCount,
                          SearchReport* report) {
    if (report != nullptr) *report = SearchReport{};
    runSolve(assignment, cost, costMatrix, rowCount, colCount,
                       choice != SearchChoice::elementByElement);
}

namespace {

void runSolve(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount,
           std::int32_t colCount, bool exactAllowed) {
    if (rowCount < 0 || colCount < 0)
        mexErrMsgIdAndTxt(text::inputSizeId, "Matrix dimensions must not be negative.");
    // The byte sizes of the working copy and of the search's bookkeeping must fit size_t; on a
    // 64-bit target only the very largest dimensions can break this, on a 32-bit one far smaller
    // ones can.
    const std::size_t rows = static_cast<std::size_t>(rowCount);
    const std::size_t cols = static_cast<std::size_t>(colCount);
    if ((cols != 0 && rows > std::numeric_limits<std::size_t>::max() / sizeof(double) / cols) ||
        scratchBytes(rows, cols) > std::numeric_limits<std::size_t>::max())
        mexErrMsgIdAndTxt(text::inputSizeId,
                          "A %d x %d matrix is too large to solve on this platform.",
                          static_cast<int>(rowCount), static_cast<int>(colCount));
    const std::size_t elementCount = rows * cols;

    *cost = 0;
    for (std::size_t r = 0; r < rows; ++r) assignment[r] = 0;

    double* workMatrix = static_cast<double*>(mxMalloc(elementCount * sizeof(double)));
    const double limit = exactLimit(rows + cols);
    const Scan scan = copyAndCheck(workMatrix, costMatrix, elementCount, limit);

    // The exact search is chosen on the matrix the search will see (exactSearchApplies): forbidden
    // pairs replaced, not yet reduced (the reduction only lowers elements).
    bool exact = exactAllowed && !scan.anyNaN && scan.finiteSmallIntegers;
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
        exact = exact && smallInteger(forbiddenValue, limit);
    }

    SolverState state;
    state.workMatrix = workMatrix;
    state.colCover = static_cast<unsigned char*>(mxCalloc(cols, 1));
    state.rowCover = static_cast<unsigned char*>(mxCalloc(rows, 1));
    state.starMask = static_cast<unsigned char*>(mxCalloc(elementCount, 1));
    state.primeMask = static_cast<unsigned char*>(mxCalloc(elementCount, 1));
    state.nextStarMask = static_cast<unsigned char*>(mxCalloc(elementCount, 1));
    void* scratch = mxMalloc(static_cast<std::size_t>(scratchBytes(rows, cols)));
    layOutScratch(state, scratch, rowCount, colCount);
    state.rowCount = rowCount;
    state.colCount = colCount;
    state.assignment = assignment;
    state.forbiddenOverflowed = forbiddenOverflowed;

    // Only one direction is reduced: rows when they are the fewer (or as many), columns otherwise,
    // so that every line that must be matched holds a zero.
    if (rowCount <= colCount) {
        state.targetStars = rowCount;
        // The search has not started: its column minima and scan starts (colCount >= rowCount
        // entries each) hold the row minima and first zeros until startSearch sets them.
        reduceRows(workMatrix, rowCount, colCount, state.colMinimum, state.scanFrom);
        seedByRows(state, state.scanFrom);
    } else {
        state.targetStars = colCount;
        reduceColumns(workMatrix, rowCount, colCount);
        seedByColumns(state);
    }

    // The starred columns are covered already, so the machine starts at checkDone.
    if (exact) {
        exactSearch::startSearch(state);
        exactSearch::runPhases(state);
    } else {
        startSearch(state);
        runPhases(state);
    }

    addUpCost(assignment, cost, costMatrix, rowCount);

    mxFree(state.workMatrix);
    mxFree(state.colCover);
    mxFree(state.rowCover);
    mxFree(state.starMask);
    mxFree(state.primeMask);
    mxFree(state.nextStarMask);
    mxFree(scratch);
}

}  // namespace

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

}  // namespace pairsolve
