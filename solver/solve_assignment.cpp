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
void layOut(Carving& carving, Gathering& g, Index rows, Index cols, bool copy) {
    if (copy) carving.take(g.copy, static_cast<std::uint64_t>(rows) * cols);
    if (rows <= cols) {
        carving.take(g.rowMinimum, rows);
        carving.take(g.zeros.count, rows);
        carving.take(g.zeros.columns, zeroListSize * rows);
        carving.take(g.zeros.last, rows);
        g.noteZeros = !copy;
        if (copy) return;
        carving.take(g.colBound, cols);
        carving.take(g.finite.count, cols);
        carving.take(g.finite.rows, finiteListSize * cols);
        carving.take(g.finite.values, finiteListSize * cols);
        return;
    }
    carving.take(g.columns.firstZero, cols);
    if (copy) return;
    carving.take(g.columns.least, cols);
    carving.take(g.columns.next, cols);
    carving.take(g.columns.nextRow, cols);
    carving.take(g.columns.rest, cols);
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
        Gathering gathered;
        if (bytesOf(gathered, rowCount, colCount, true) +
                bytesOf(gathered, rowCount, colCount, false) > sizeLimit)
            fits = false;
    }
    if (!fits)
        mexErrMsgIdAndTxt(text::inputSizeId,
                          "A %d x %d matrix is too large to solve on this platform.",
                          static_cast<int>(rowCount), static_cast<int>(colCount));
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
void reduce(SolverState& state, Gathering& g, const CheckResult& scan, SeedHints& hints,
            ColumnStarts& starts) {
    Reduction& d = state.reduction;
    const Index rows = state.rowCount, cols = state.colCount;
    hints = SeedHints{g.zeros, g.columns.firstZero, nullptr};
    if (d.workMatrix != nullptr && d.rowsReduced)
        reduceRowsInPlace(d.workMatrix, rows, cols, g.rowMinimum, g.zeros, !scan.anyInfinity);
    else if (d.workMatrix != nullptr)
        reduceColumnsInPlace(d.workMatrix, rows, cols, g.columns.firstZero);
    else if (d.rowsReduced && !scan.anyNegativeInfinity && scan.zerosNoted)
        starts = settleGatheredRows(d, g.rowMinimum, rows, cols, g.zeros, g.colBound, g.finite);
    else if (d.rowsReduced)
        starts = reduceRowsByReading(d, g.rowMinimum, rows, cols, g.zeros, g.colBound,
                                     !scan.anyNegativeInfinity);
    else
        starts = settleGatheredColumns(d, cols, g.columns);
    if (d.workMatrix == nullptr && !d.rowsReduced) hints.colNext = g.columns.next;
}

// Takes one buffer from the host for the parts layOut carves, and points them into it; cleared,
// for a block that holds the covers.
template <class LayOut>
void* takeBlock(LayOut layOut, bool cleared = false) {
    Carving count;
    layOut(count);
    Carving carving;
    const std::size_t bytes = static_cast<std::size_t>(count.used);
    carving.base = static_cast<char*>(cleared ? mxCalloc(bytes, 1) : mxMalloc(bytes));
    layOut(carving);
    return carving.base;
}

// Every buffer of a call, released together before it returns: what the check gathers, the covers
// and the bookkeeping of the search. A small call's search (the plain one) is known before the
// check, and all of it is one block, taken cleared; otherwise the covers are a block of their own,
// taken cleared, as clearing a large block costs a pass over it where the allocator does not hand
// it out cleared already.
struct Buffers {
    void* gathered = nullptr;
    void* flags = nullptr;
    void* scratch = nullptr;
    void* copy = nullptr;     // a working copy taken after the check
    void* restart = nullptr;  // R written out and the element-by-element search's state

    void release() {
        for (void* buffer : {gathered, flags, scratch, copy, restart})
            if (buffer != nullptr) mxFree(buffer);
    }
};

void layOutFlags(Carving& carving, SolverState& state) {
    carving.take(state.colCover, static_cast<std::uint64_t>(state.colCount + state.rowCount));
    if (carving.base != nullptr) state.rowCover = state.colCover + state.colCount;
}

// The reduction's inputs, with the working copy the search needs (taken now if the check found
// what only the element-by-element search meets: NaN, overflow) and its forbidden pairs replaced.
Reduction reductionFor(const double* costMatrix, Index rows, Index cols, const Gathering& gathered,
                       const CheckResult& scan, Search search, Buffers& buffers) {
    const std::size_t elementCount =
        static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    const double forbiddenValue = forbiddenValueOf(scan, elementCount);
    double* work = gathered.copy;
    if (work == nullptr && search != Search::offsetExact && search != Search::offsetCertified) {
        work = static_cast<double*>(mxMalloc(elementCount * sizeof(double)));
        if (elementCount > 0) std::memcpy(work, costMatrix, elementCount * sizeof(double));
        buffers.copy = work;
    }
    if (work != nullptr && scan.anyInfinity) replaceForbidden(work, elementCount, forbiddenValue);
    return Reduction{costMatrix, work, forbiddenValue, scan.anyNegativeInfinity,
                     scan.anyInfinity && !mxIsFinite(forbiddenValue), rows <= cols,
                     gathered.rowMinimum, gathered.columns.least};
}

// After the offset search gave up: the state as it was after seeding, with R now written out for
// the element-by-element search (the offset search took no copy), whose bookkeeping shares that
// buffer.
void* restartElementByElement(SolverState& state, ElementSearch& element, const SeedHints& hints) {
    const Index rows = state.rowCount, cols = state.colCount;
    for (Index r = 0; r < rows; ++r) state.rowCover[r] = 0;
    for (Index c = 0; c < cols; ++c) state.colCover[c] = 0;
    reset(state.matching, rows, cols);
    double* work = nullptr;
    void* block = takeBlock([&](Carving& carving) {
        carving.take(work, static_cast<std::uint64_t>(rows) * cols);
        elementSearch::layOut(carving, element, rows, cols);
    });
    elementSearch::reset(element, rows, cols);
    writeReduced(state.reduction, rows, cols, work);
    state.reduction.workMatrix = work;
    seed(state, hints);
    return block;
}

// Runs the search, from the seed's stars (their columns are covered already, so each search
// starts at checkDone), and again element by element if the offset search gives up; says what
// it did.
void runSearch(SolverState& state, Scratch& scratch, Search search, const SeedHints& hints,
               const ColumnStarts& starts, Buffers& buffers, solverTesting::SearchReport* report) {
    const Index rows = state.rowCount, cols = state.colCount;
    const bool offset = search == Search::offsetExact || search == Search::offsetCertified;
    bool restarted = false;
    std::uint64_t shifts = 0;
    if (search == Search::plain) {
        plainSearch::reset(scratch.plain, rows);
        plainSearch::run(state, scratch.plain);
        shifts = static_cast<std::uint64_t>(scratch.plain.shiftsMade);
    }
    if (offset) {
        offsetSearch::reset(scratch.offset, rows, cols);
        restarted = offsetSearch::run(state, scratch.offset, starts) == Phase::restart;
        if (search == Search::offsetCertified) offsetSearch::releaseHistory(scratch.offset.history);
        shifts = static_cast<std::uint64_t>(scratch.offset.shiftsMade);
        if (restarted) {
            if (state.trace != nullptr) state.trace->restartedAt = state.trace->count;
            buffers.restart = restartElementByElement(state, scratch.element, hints);
        }
    }
    if (search == Search::elementByElement) elementSearch::reset(scratch.element, rows, cols);
    if (search == Search::elementByElement || restarted) {
        elementSearch::run(state, scratch.element);
        shifts = static_cast<std::uint64_t>(scratch.element.shiftsMade);
    }
    if (report == nullptr) return;
    report->offsetRan = offset;
    report->exactOffsets = search == Search::offsetExact;
    report->restarted = restarted;
    report->plainRan = search == Search::plain;
    report->shifts = shifts;
    if (search == Search::offsetCertified) {
        report->replays = scratch.offset.history.replays;
        report->replaySteps = scratch.offset.history.replaySteps;
        report->historyGrowths = scratch.offset.history.growths;
    }
}

void runSolve(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount,
              std::int32_t colCount, SearchChoice choice, solverTesting::SearchReport* report,
              solverTesting::DecisionTrace* trace) {
    checkSize(rowCount, colCount);
    const Index rows = rowCount, cols = colCount;
    *cost = 0;
    for (Index r = 0; r < rows; ++r) assignment[r] = 0;

    // The searches that shift elements in place take their copy in the check's pass, and their
    // bookkeeping with it (the search is known already: these two run whatever the check finds);
    // the offset search takes no copy (so a call whose search depends on what the check finds
    // takes none until it is known to need one), and its bookkeeping once it is chosen (Buffers).
    const bool plain = plainFor(rowCount, colCount, choice);
    const bool copyFirst = plain || choice == SearchChoice::elementByElement;
    SolverState state{};
    state.rowCount = rowCount;
    state.colCount = colCount;
    state.targetStars = rows <= cols ? rows : cols;
    state.assignment = assignment;
    state.trace = trace;
    Scratch scratch{};
    scratch.offset.budgeted = choice == SearchChoice::chosen;
    Buffers buffers;
    Gathering gathered;
    buffers.gathered = takeBlock([&](Carving& c) {
        layOut(c, gathered, rows, cols, copyFirst);
        if (plain) layOutFlags(c, state);
        if (copyFirst) layOut(c, state, scratch, plain ? Search::plain : Search::elementByElement);
    }, plain);
    gathered.lowestBits = !plain;  // the plain search runs whatever they are
    gathered.limit = exactLimit(static_cast<std::uint64_t>(rows + cols));
    CheckResult scan = checkAndGather(costMatrix, rows, cols, gathered);
    if (scan.anyNonFinite && scan.maxFinite == -1.0) {
        buffers.release();  // no finite element at all: nothing can be paired
        return;
    }
    if (scan.anyInfinity)  // the search sees forbiddenValue where the caller wrote an infinity
        summarize(scan.summary, forbiddenValueOf(scan, static_cast<std::size_t>(rows * cols)));
    const Search search = chooseSearch(scan.summary, rowCount, colCount, choice);
    if (!plain) buffers.flags = takeBlock([&](Carving& c) { layOutFlags(c, state); }, true);

    state.reduction = reductionFor(costMatrix, rows, cols, gathered, scan, search, buffers);
    if (!copyFirst)
        buffers.scratch = takeBlock([&](Carving& c) { layOut(c, state, scratch, search); });
    reset(state.matching, rows, cols);
    SeedHints hints{};
    ColumnStarts starts{};
    reduce(state, gathered, scan, hints, starts);
    seed(state, hints);
    runSearch(state, scratch, search, hints, starts, buffers, report);
    addUpCost(assignment, cost, costMatrix, rowCount);
    buffers.release();
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
