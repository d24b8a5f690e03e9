// pairsolve: the rectangular linear assignment problem, solved exactly by the Hungarian method in
// Munkres' formulation. The solver's entry, and the hooks its tests and benchmarks use; C++
// programs use pairsolve.h, and the stages' own headers are this folder's.
//
// Given a real M x N matrix of non-negative costs (column-major, element (r, c) at r + M * c),
// solveAssignment pairs min(M, N) rows with as many distinct columns so that the sum of the paired
// costs is smallest. Infinite elements (either sign) are forbidden pairs: the search sees them as a
// large finite value, and a pair that lands on one is reported as unassigned (0). A finite negative
// element is refused with "All matrix elements have to be non-negative."
//
// A call is a pipeline of stages, a file each: check and gather (check.cpp), choose the search
// (choose.cpp), reduce (reduce.cpp), seed (seed.cpp), search, cost (cost.cpp); the driver
// (solve_assignment.cpp) reads as that sequence. Three searches make the decisions of the method
// (which zero is primed, which path is flipped, which value a shift takes), each the very same
// decisions on every matrix, so callers cannot tell which one ran:
//   the plain search (plain_search.cpp) applies every shift to every element, as the method
//       prescribes: small matrices;
//   the element-by-element search (element_search.cpp) does so too, deferred column by column;
//   the offset search (offset_search.cpp) keeps the reduced matrix as it is and holds what shifts
//       did as offsets per row and per column; where rounding could make its values differ from
//       the other searches', it settles the decision on the exact value, replayed.
//
// The solver runs inside a host call: every buffer comes from the host allocator and is released
// before it returns, and failures leave through the host's error call, which does not return (the
// solver's functions are not noexcept for that reason: the stand-in host's error unwinds).
#ifndef PAIRSOLVE_ASSIGNMENT_SOLVER_H
#define PAIRSOLVE_ASSIGNMENT_SOLVER_H

#include <cstddef>
#include <cstdint>

namespace pairsolve {

using Index = std::ptrdiff_t;

// Fills assignment (rowCount doubles: the 1-based column of each row, or 0) and cost (the sum of
// costMatrix over the assigned pairs). costMatrix is never written.
void solveAssignment(double* assignment, double* cost, const double* costMatrix,
                     std::int32_t rowCount, std::int32_t colCount);

// Which search a call runs, and how.
enum class Search {
    elementByElement,
    plain,            // the method as written, every shift applied at once
    offsetExact,      // the offset search, every value exact
    offsetCertified,  // the offset search, decisions certified by margins and exact replays
};

namespace solverTesting {
enum class SearchChoice {
    chosen,            // as solveAssignment chooses
    offset,            // the offset search wherever it can run, whatever its size, and no budget
    elementByElement,  // the element-by-element search whatever the matrix
    plain,             // the plain search whatever the size
};
}  // namespace solverTesting

// The search chooseSearch (choose.h) picks for a working matrix, for tests: forbidden pairs
// already replaced.
Search searchFor(const double* workMatrix, std::size_t elementCount, std::int32_t rowCount,
                 std::int32_t colCount, solverTesting::SearchChoice choice);

// For tests and benchmarks only, not for callers: solveAssignment with a search of one's choice,
// and what the call did, so that the searches can be compared on the same input.
namespace solverTesting {

struct SearchReport {
    bool offsetRan = false;       // the offset search ran (to the end, or until it gave up)
    bool exactOffsets = false;    // ... with every value exact, so that it replays nothing
    bool restarted = false;       // it gave up and the element-by-element search solved the call
    bool plainRan = false;        // the plain search ran
    std::uint64_t shifts = 0;     // shifts made by the search that gave the result
    std::uint64_t replays = 0;    // elements whose exact value the offset search replayed
    std::uint64_t replaySteps = 0;  // shifts replayed over all of them
    std::uint64_t historyGrowths = 0;  // times its history, full, was taken again larger
};

// One decision of a search: a zero primed at (row, col), a shift by value, or the start
// (row, col) of an augmenting path.
struct Decision {
    enum Kind { prime, shift, augment } kind;
    Index row;
    Index col;
    double value;
};

// Decisions in the order a search made them, into a buffer of the test's; count goes on past
// capacity, so that a full buffer shows. After a restart the element-by-element search's
// decisions follow the offset search's, which are the first restartedAt.
struct DecisionTrace {
    Decision* entries;
    std::size_t capacity;
    std::size_t count;
    std::size_t restartedAt;
};

// Whether the solver was built with its kernels in lanes (kernels.h); false in the scalar build.
bool kernelsInLanes();

void solve(SearchChoice choice, double* assignment, double* cost, const double* costMatrix,
           std::int32_t rowCount, std::int32_t colCount, SearchReport* report = nullptr,
           DecisionTrace* trace = nullptr);

// solve(SearchChoice::elementByElement, ...), for code that passes entries around.
void solveElementByElement(double* assignment, double* cost, const double* costMatrix,
                             std::int32_t rowCount, std::int32_t colCount);

}  // namespace solverTesting

// Messages the solver ends a call with.
namespace text {
constexpr const char* negativeElement = "All matrix elements have to be non-negative.";
constexpr const char* nanBlocksId = "pairsolve:nanBlocksAssignment";
constexpr const char* nanBlocks = "NaN elements prevent a complete assignment.";
constexpr const char* overflowId = "pairsolve:costOverflow";
constexpr const char* overflow = "Matrix elements are too large to solve; scale the matrix down.";
constexpr const char* inputSizeId = "pairsolve:inputSize";
}  // namespace text

}  // namespace pairsolve

#endif
