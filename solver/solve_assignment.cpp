// The driver: a call as the pipeline of its stages. Check the caller's matrix and gather what the
// search will need, choose the search, reduce, seed, search, add up the cost.
#include "assignment_solver.h"

#include <cfloat>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "check.h"
#include "choose.h"
#include "cost.h"
#include "element_search.h"
#include "host_services.h"
#include "offset_search.h"
#include "plain_search.h"
#include "reduce.h"
#include "seed.h"
#include "solver_state.h"

namespace pairsolve {

namespace {

using namespace kernels;
using solverTesting::SearchChoice;

// What the check gathers and the reduction keeps, carved from one buffer: for the searches that
// shift elements in place, the working copy (taken in the pass that checks the matrix) with the
// row minima and zero lists, or the first zeros; for the offset search, which reads the caller's
// matrix, the line minima and what starts its column lists.
struct Gathered {
    double* work = nullptr;
    double* rowMinimum = nullptr;
    double* colLeast = nullptr;  // rows reduced, no copy: at most each finite element of R
    RowZeros zeros{};
    FiniteLists finite{};
    ColumnLeast columns{};       // columns reduced, no copy
    Index* firstZero = nullptr;  // columns reduced
};

void layOut(Carving& carving, Gathered& g, Index rows, Index cols, bool copy) {
    if (copy) carving.take(g.work, static_cast<std::uint64_t>(rows) * cols);
    if (rows <= cols) {
        carving.take(g.rowMinimum, rows);
        carving.take(g.zeros.count, rows);
        carving.take(g.zeros.columns, zeroListSize * rows);
        carving.take(g.zeros.last, rows);
        if (copy) return;
        carving.take(g.colLeast, cols);
        carving.take(g.finite.count, cols);
        carving.take(g.finite.rows, finiteListSize * cols);
        carving.take(g.finite.values, finiteListSize * cols);
    } else if (copy) {
        carving.take(g.firstZero, cols);
    } else {
        carving.take(g.columns.least, cols);
        carving.take(g.columns.firstZero, cols);
        carving.take(g.columns.next, cols);
        carving.take(g.columns.nextRow, cols);
        carving.take(g.columns.rest, cols);
        g.firstZero = g.columns.firstZero;
    }
}

// The bookkeeping of a call: the matching, and the state of the search it runs.
struct Scratch {
    PlainSearch plain;
    ElementSearch element;
    OffsetSearch offset;
};

void layOut(Carving& carving, SolverState& state, Scratch& s, Search search) {
    const Index rows = state.rowCount, cols = state.colCount;
    layOut(carving, state.matching, rows, cols);
    if (search == Search::plain) plainSearch::layOut(carving, s.plain, rows, cols);
    if (search == Search::elementByElement) elementSearch::layOut(carving, s.element, rows, cols);
    if (search == Search::offsetExact || search == Search::offsetCertified) {
        s.offset.exact = search == Search::offsetExact;
        offsetSearch::layOut(carving, s.offset, rows, cols);
    }
}

template <class Part>
std::uint64_t bytesOf(Part& part, Index rows, Index cols, bool copy) {
    Carving count;
    layOut(count, part, rows, cols, copy);
    return count.used;
}

// Refuses a shape whose buffers could not be indexed: on a 64-bit target only the very largest
// dimensions can, on a 32-bit one far smaller ones.
void checkSize(std::int32_t rowCount, std::int32_t colCount) {
    if (rowCount < 0 || colCount < 0)
        mexErrMsgIdAndTxt(text::inputSizeId, "Matrix dimensions must not be negative.");
    // Every buffer of a shape up to 4096 x 4096 takes well under 2^32 bytes: small calls, which
    // are most calls, need not lay out every search to tell.
    if (rowCount <= 4096 && colCount <= 4096) return;
    const std::size_t rows = static_cast<std::size_t>(rowCount);
    const std::size_t cols = static_cast<std::size_t>(colCount);
    const std::uint64_t sizeLimit = std::numeric_limits<std::size_t>::max();
    bool fits = rows <= std::numeric_limits<std::size_t>::max() / sizeof(double) / (cols + 1);
    if (fits) {
        SolverState state{};
        state.rowCount = rowCount;
        state.colCount = colCount;
        for (const Search search : {Search::plain, Search::elementByElement, Search::offsetExact,
                                    Search::offsetCertified}) {
            Scratch scratch{};
            Carving count;
            layOut(count, state, scratch, search);
            if (count.used > sizeLimit) fits = false;
        }
        Gathered gathered;
        if (bytesOf(gathered, rowCount, colCount, true) +
                bytesOf(gathered, rowCount, colCount, false) > sizeLimit)
            fits = false;
    }
    if (!fits)
        mexErrMsgIdAndTxt(text::inputSizeId, "A %d x %d matrix is too large to solve on this platform.",
                          static_cast<int>(rowCount), static_cast<int>(colCount));
}

// What the check gathers for the search it plans: the copy and row minima for the searches that
// shift elements in place (and the lowest bits unless the plain search is sure to run); for the
// offset search, the row minima with the zeros of the row reduction and the finite lists, or
// the column least values.
CheckResult check(const double* costMatrix, Index rows, Index cols, Gathered& g, bool plain) {
    Gathering gathering{};
    gathering.copy = g.work;
    gathering.lowestBits = !plain;
    gathering.limit = exactLimit(static_cast<std::uint64_t>(rows + cols));
    gathering.rowMinimum = g.rowMinimum;
    if (g.work == nullptr && rows <= cols) {
        gathering.noteZeros = true;
        gathering.zeros = g.zeros;
        gathering.colBound = g.colLeast;
        gathering.finite = g.finite;
    }
    if (g.work == nullptr && rows > cols) gathering.columns = g.columns;
    return checkAndGather(costMatrix, rows, cols, gathering);
}

// Larger than the sum of any min(M, N) finite elements, so the search uses as few forbidden pairs
// as it can (+inf when there is none). The product is formed in this order, in doubles.
double forbiddenValueOf(const CheckResult& scan, std::size_t elementCount) {
    if (!scan.anyInfinity) return infinity;
    return scan.maxFinite > 0 ? (10.0 * scan.maxFinite) * static_cast<double>(elementCount) : 10.0;
}

// Reduces one direction (rows when they are the fewer or as many, columns otherwise), in place
// when there is a working copy, else from what the check gathered; says where the first stars
// and the offset search's column lists come from.
void reduce(SolverState& state, Gathered& g, const CheckResult& scan, SeedHints& hints,
            ColumnStarts& starts) {
    Reduction& d = state.reduction;
    const Index rows = state.rowCount, cols = state.colCount;
    hints = SeedHints{g.zeros, g.firstZero, nullptr};
    if (d.workMatrix != nullptr && d.rowsReduced)
        reduceRowsInPlace(d.workMatrix, rows, cols, g.rowMinimum, g.zeros, !scan.anyInfinity);
    else if (d.workMatrix != nullptr)
        reduceColumnsInPlace(d.workMatrix, rows, cols, g.firstZero);
    else if (d.rowsReduced && !scan.anyNegativeInfinity && scan.zerosNoted)
        starts = settleGatheredRows(d, g.rowMinimum, rows, cols, g.zeros, g.colLeast, g.finite);
    else if (d.rowsReduced)
        starts = reduceRowsByReading(d, g.rowMinimum, rows, cols, g.zeros, g.colLeast,
                                     !scan.anyNegativeInfinity);
    else
        starts = settleGatheredColumns(d, cols, g.columns);
    if (d.workMatrix == nullptr && !d.rowsReduced) hints.colNext = g.columns.next;
}

// After the offset search gave up: the state as it was after seeding, with R now written out for
// the element-by-element search (the offset search took no copy), whose bookkeeping shares that
// buffer.
void* restartElementByElement(SolverState& state, ElementSearch& element, const SeedHints& hints) {
    const Index rows = state.rowCount, cols = state.colCount;
    for (Index r = 0; r < rows; ++r) state.rowCover[r] = 0;
    for (Index c = 0; c < cols; ++c) state.colCover[c] = 0;
    reset(state.matching, rows, cols);
    Carving carving;
    double* work = nullptr;
    carving.take(work, static_cast<std::uint64_t>(rows) * cols);
    elementSearch::layOut(carving, element, rows, cols);
    carving.base = static_cast<char*>(mxMalloc(static_cast<std::size_t>(carving.used)));
    carving.used = 0;
    carving.take(work, static_cast<std::uint64_t>(rows) * cols);
    elementSearch::layOut(carving, element, rows, cols);
    elementSearch::reset(element, rows, cols);
    writeReduced(state.reduction, rows, cols, work);
    state.reduction.workMatrix = work;
    seed(state, hints);
    return carving.base;
}

void runSolve(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount,
              std::int32_t colCount, SearchChoice choice, solverTesting::SearchReport* report,
              solverTesting::DecisionTrace* trace) {
    checkSize(rowCount, colCount);
    const Index rows = rowCount, cols = colCount;
    const std::size_t elementCount = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    *cost = 0;
    for (Index r = 0; r < rows; ++r) assignment[r] = 0;

    // Check and gather. The searches that shift in place take their copy in the same pass; the
    // offset search takes none (so a call whose search depends on what the check finds takes no
    // copy until it is known to need one).
    const bool plain = plainFor(rowCount, colCount, choice);
    const bool copyFirst = plain || choice == SearchChoice::elementByElement;
    Gathered gathered;
    Carving carving;
    layOut(carving, gathered, rows, cols, copyFirst);
    carving.base = static_cast<char*>(mxMalloc(static_cast<std::size_t>(carving.used)));
    carving.used = 0;
    layOut(carving, gathered, rows, cols, copyFirst);
    void* gatheredBlock = carving.base;
    CheckResult scan = check(costMatrix, rows, cols, gathered, plain);
    if (scan.anyNonFinite && scan.maxFinite == -1.0) {
        // No finite element at all: nothing can be paired.
        mxFree(gatheredBlock);
        return;
    }
    const double forbiddenValue = forbiddenValueOf(scan, elementCount);
    if (scan.anyInfinity) summarize(scan.summary, forbiddenValue);  // what the search sees

    // Choose the search, and give it its working copy if it needs one the check did not take
    // (it found what only the element-by-element search meets: NaN, overflow).
    const Search search = chooseSearch(scan.summary, rowCount, colCount, choice);
    const bool offset = search == Search::offsetExact || search == Search::offsetCertified;
    double* work = gathered.work;
    void* copyBlock = nullptr;
    if (work == nullptr && !offset) {
        work = static_cast<double*>(mxMalloc(elementCount * sizeof(double)));
        if (elementCount > 0) std::memcpy(work, costMatrix, elementCount * sizeof(double));
        copyBlock = work;
    }
    if (work != nullptr && scan.anyInfinity) replaceForbidden(work, elementCount, forbiddenValue);

    SolverState state{};
    state.reduction = Reduction{costMatrix, work, forbiddenValue, scan.anyNegativeInfinity,
                                scan.anyInfinity && !mxIsFinite(forbiddenValue), rows <= cols,
                                gathered.rowMinimum, gathered.columns.least};
    state.rowCount = rowCount;
    state.colCount = colCount;
    state.targetStars = rows <= cols ? rows : cols;
    state.assignment = assignment;
    state.trace = trace;
    // The covers start cleared, in one block; the bookkeeping in another.
    unsigned char* flags = static_cast<unsigned char*>(mxCalloc(static_cast<std::size_t>(rows + cols), 1));
    state.colCover = flags;
    state.rowCover = flags + cols;
    Scratch scratch{};
    scratch.offset.budgeted = choice == SearchChoice::chosen;
    Carving block;
    layOut(block, state, scratch, search);
    block.base = static_cast<char*>(mxMalloc(static_cast<std::size_t>(block.used)));
    block.used = 0;
    layOut(block, state, scratch, search);
    reset(state.matching, rows, cols);

    SeedHints hints{};
    ColumnStarts starts{};
    reduce(state, gathered, scan, hints, starts);
    seed(state, hints);

    // The starred columns are covered already, so each search starts at checkDone.
    bool restarted = false;
    void* restartBlock = nullptr;
    std::uint64_t shifts = 0;
    if (search == Search::plain) {
        plainSearch::reset(scratch.plain, rows);
        plainSearch::run(state, scratch.plain);
        shifts = static_cast<std::uint64_t>(scratch.plain.shiftsMade);
    }
    if (offset) {
        offsetSearch::reset(scratch.offset, rows, cols);
        restarted = offsetSearch::run(state, scratch.offset, starts) == Phase::restart;
        shifts = static_cast<std::uint64_t>(scratch.offset.shiftsMade);
        if (restarted) {
            if (trace != nullptr) trace->restartedAt = trace->count;
            restartBlock = restartElementByElement(state, scratch.element, hints);
        }
    }
    if (search == Search::elementByElement) elementSearch::reset(scratch.element, rows, cols);
    if (search == Search::elementByElement || restarted) {
        elementSearch::run(state, scratch.element);
        shifts = static_cast<std::uint64_t>(scratch.element.shiftsMade);
    }
    if (report != nullptr) {
        report->offsetRan = offset;
        report->exactOffsets = search == Search::offsetExact;
        report->restarted = restarted;
        report->plainRan = search == Search::plain;
        report->shifts = shifts;
        if (search == Search::offsetCertified) {
            report->replays = scratch.offset.history.replays;
            report->replaySteps = scratch.offset.history.replaySteps;
        }
    }

    addUpCost(assignment, cost, costMatrix, rowCount);
    mxFree(gatheredBlock);
    if (copyBlock != nullptr) mxFree(copyBlock);
    if (restartBlock != nullptr) mxFree(restartBlock);
    mxFree(flags);
    mxFree(block.base);
}

}  // namespace

void solveAssignment(double* assignment, double* cost, const double* costMatrix,
                     std::int32_t rowCount, std::int32_t colCount) {
    runSolve(assignment, cost, costMatrix, rowCount, colCount, SearchChoice::chosen, nullptr,
             nullptr);
}

bool solverTesting::kernelsInLanes() { return kernels::lanes; }

void solverTesting::solve(SearchChoice choice, double* assignment, double* cost,
                          const double* costMatrix, std::int32_t rowCount, std::int32_t colCount,
                          SearchReport* report, DecisionTrace* trace) {
    if (report != nullptr) *report = SearchReport{};
    if (trace != nullptr) trace->count = trace->restartedAt = 0;
    runSolve(assignment, cost, costMatrix, rowCount, colCount, choice, report, trace);
}

void solverTesting::solveElementByElement(double* assignment, double* cost,
                                            const double* costMatrix, std::int32_t rowCount,
                                            std::int32_t colCount) {
    runSolve(assignment, cost, costMatrix, rowCount, colCount, SearchChoice::elementByElement,
             nullptr, nullptr);
}

}  // namespace pairsolve
