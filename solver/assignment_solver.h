// pairsolve: the rectangular linear assignment problem, solved exactly by the Hungarian method in
// Munkres' formulation.
//
// Given a real M x N matrix of non-negative costs (column-major, element (r, c) at r + M * c),
// solveAssignment pairs min(M, N) rows with as many distinct columns so that the sum of the paired
// costs is smallest. Infinite elements (either sign) are forbidden pairs: the search sees them as a
// large finite value, and a pair that lands on one is reported as unassigned (0). A finite negative
// element is refused with "All matrix elements have to be non-negative."
//
// Terms used throughout:
//   zero      an element of the working matrix exactly equal to 0 (-0.0 included);
//   star      a starred zero: the current matching, at most one per row and per column;
//   prime     a zero primed during the current search, at most one per row;
//   cover     a covered column holds a star; a covered row holds a star and a prime.
//
// The solver runs inside a host call: every buffer comes from the host allocator and is released
// before it returns, and failures leave through the host's error call, which does not return (the
// solver's functions are not noexcept for that reason: the stand-in host's error unwinds).
#ifndef PAIRSOLVE_ASSIGNMENT_SOLVER_H
#define PAIRSOLVE_ASSIGNMENT_SOLVER_H

#include <cstddef>
#include <cstdint>

namespace pairsolve {

// Fills assignment (rowCount doubles: the 1-based column of each row, or 0) and cost (the sum of
// costMatrix over the assigned pairs). costMatrix is never written.
void solveAssignment(double* assignment, double* cost, const double* costMatrix,
                     std::int32_t rowCount, std::int32_t colCount);

// What the phases share. The driver takes every buffer from the host allocator and releases it.
struct SolverState {
    double* workMatrix;           // elementCount doubles: the reduced working copy
    unsigned char* starMask;      // elementCount flags
    unsigned char* primeMask;     // elementCount flags
    // elementCount flags, taken with the others; augmentPath flips the path in place through the
    // star and prime indexes below, so it writes nothing here. The exact search keeps zero flags
    // here (see zeroFlagsAt).
    unsigned char* nextStarMask;
    unsigned char* colCover;      // colCount flags
    unsigned char* rowCover;      // rowCount flags
    std::int32_t rowCount;
    std::int32_t colCount;
    std::ptrdiff_t targetStars;   // min(rowCount, colCount): stars that end the search
    double* assignment;           // rowCount doubles, written by buildAssignment
    // Set when forbidden pairs were replaced by a forbiddenValue that overflowed to +inf: a search
    // that later stalls does so because of that overflow, even where inf - inf left NaN behind.
    bool forbiddenOverflowed;

    // Bookkeeping that lets each phase touch only what can have changed instead of rescanning the
    // whole matrix; none of it alters a result. O(rowCount + colCount) in all, carved from one
    // block that the driver takes from the host allocator after the flag arrays.
    //
    // A search is the stretch between two augmentations. Within it rows only get covered, columns
    // only get uncovered, and elements change only in shifts; the fields below lean on that.
    std::ptrdiff_t* starInRow;      // rowCount: column of the row's star, or -1
    std::ptrdiff_t* starInCol;      // colCount: row of the column's star, or -1
    std::ptrdiff_t* primeInRow;     // rowCount: column of the row's prime (at most one), or -1
    std::ptrdiff_t* coveredRows;    // rowCount: rows covered in this search, in that order
    std::ptrdiff_t coveredCount;    // entries of coveredRows in use
    // For an uncovered column, no uncovered row above scanFrom[c] holds a zero.
    std::ptrdiff_t* scanFrom;       // colCount
    // Bit c set: column c is uncovered and may hold a zero at an uncovered row at or below
    // scanFrom[c]. Every other uncovered column holds no zero at an uncovered row.
    std::uint64_t* pendingColumns;  // (colCount + 63) / 64 words
    // Deferred shifts. Shift k of a search (k = 1, 2, ...) adds shiftLog[k - 1] to the rows
    // covered before it and subtracts it from the columns uncovered before it. A column holds
    // its elements as they stand after syncedTo[c] shifts; the later ones are replayed on it,
    // element by element in their order, when the column is read or the search ends.
    double* shiftLog;               // rowCount + 1
    std::ptrdiff_t* coveredBefore;  // rowCount + 1: rows covered before each shift (coveredCount)
    std::ptrdiff_t shiftCount;      // shifts made in this search
    double* coveredAfter;           // rowCount: shifts made before the row was covered; +inf if not
    std::ptrdiff_t* uncoveredAfter; // colCount: shifts made before the column was uncovered
                                    // (PTRDIFF_MAX while it is covered)
    std::ptrdiff_t* syncedTo;       // colCount
    double* replayValues;           // rowCount: scratch of the replay
    // The smallest element of each column over its candidate rows, as it stands now, and a row
    // holding it (-1 when every such element is NaN or +inf, -2 when not known). The candidates
    // are the uncovered rows, except the star's row while the column is covered: they are the
    // rows a sweep would search if the column were uncovered, which happens only when the
    // star's row gets covered.
    double* colMinimum;             // colCount
    std::ptrdiff_t* colMinimumRow;  // colCount

    // The exact search (namespace exactSearch) runs instead of the shifts above when every
    // element is an integer small enough for all sums to be exact (exactSearchApplies). It never
    // writes workMatrix after the reduction: element (r, c) stands for
    //     workMatrix[r + rowCount * c] + a_r - b_c,
    // a_r being what shifts have added to row r while it was covered and b_c what they have
    // subtracted from column c while it was uncovered, since the reduction. It shares the star,
    // prime, cover, pending and scanFrom fields above, and keeps in colMinimum the smallest
    // workMatrix + a_r over the column's candidate rows, exact while colMinimumRow is a candidate
    // (or -1: none), and a lower bound only when colMinimumRow is -2. Its own fields:
    double shiftTotal;              // the shifts of this search added up
    double* rowOffset;              // rowCount: a_r of an uncovered row; +inf while covered
    double* coveredOffset;          // rowCount: a covered row's a_r is this plus shiftTotal
    double* colOffset;              // colCount: b_c of a covered column; an uncovered column's
                                    // b_c is this plus shiftTotal
    // A lower bound on workMatrix + a_r over every row of the column but its star's, that holds
    // across searches: a_r never decreases. It is dropped (colFloorRow -2) when the column's star
    // changes. colFloorRow is a row that held it, with a_r then in colFloorOffset; while that
    // row's offset is unchanged, the bound is that row's value, so exact.
    double* colFloor;               // colCount
    std::ptrdiff_t* colFloorRow;    // colCount
    double* colFloorOffset;         // colCount
    std::ptrdiff_t* tiedColumns;    // colCount: scratch of shiftByMinimum
    // Between two shifts no element changes, however many searches pass. A column searched a
    // second time in that stretch gets its zeros written as byte flags into nextStarMask (which
    // the exact search has no other use for), and is searched there, eight rows a step.
    std::ptrdiff_t shiftsMade;      // shifts in the whole call
    std::ptrdiff_t* zeroFlagsAt;    // colCount: shiftsMade when the column's flags were written
    std::ptrdiff_t* searchedAt;     // colCount: shiftsMade when last searched from its top
};

// The phase machine. Each phase returns the next one; runPhases makes the transitions in a loop,
// so the call depth stays constant however long the search runs.
enum class Phase { checkDone, primeZeros, augmentPath, coverStarColumns, shiftByMinimum, done };

void runPhases(SolverState& state);
// Brings every column up to date with the shifts of the search that ended, and sets the
// bookkeeping for a search that starts from the current stars and covers (star columns covered,
// no row covered, nothing primed). The driver calls it after seeding, coverStarColumns after
// each augmentation.
void startSearch(SolverState& state);
Phase checkDone(SolverState& state);
Phase primeZeros(SolverState& state, std::ptrdiff_t& pathRow, std::ptrdiff_t& pathCol);
Phase augmentPath(SolverState& state, std::ptrdiff_t pathRow, std::ptrdiff_t pathCol);
Phase coverStarColumns(SolverState& state);
Phase shiftByMinimum(SolverState& state);

// The exact search: the same phases over the same state, for working matrices of small
// integers, where every value, minimum and shift is exact and can be held as offsets per row and
// per column instead of being written into the matrix (exact_search.cpp says how). It makes the
// very same decisions as the phases above, so callers cannot tell which one ran.
namespace exactSearch {
void runPhases(SolverState& state);
void startSearch(SolverState& state);
using pairsolve::checkDone;  // counting the covered columns needs nothing of its own
Phase primeZeros(SolverState& state, std::ptrdiff_t& pathRow, std::ptrdiff_t& pathCol);
Phase augmentPath(SolverState& state, std::ptrdiff_t pathRow, std::ptrdiff_t pathCol);
Phase coverStarColumns(SolverState& state);
Phase shiftByMinimum(SolverState& state);
}  // namespace exactSearch

// Whether the driver runs the exact search on this working matrix (forbidden pairs already
// replaced, not yet reduced): every element is a finite, non-negative integer and the largest, W,
// satisfies W * 2(rowCount + colCount + 1) < 2^53.
bool exactSearchApplies(const double* workMatrix, std::size_t elementCount, std::int32_t rowCount,
                        std::int32_t colCount);

// For tests and benchmarks only, not for callers: solveAssignment with a search of one's choice,
// and what the call did, so that the searches can be compared on the same input.
namespace solverTesting {

enum class SearchChoice {
    chosen,            // as solveAssignment chooses
    offset,            // the offset search wherever it can run, whatever its size or its work
    elementByElement,  // the element-by-element search whatever the matrix
};

struct SearchReport {
    bool offsetRan = false;       // the offset search ran (to the end, or until it gave up)
    bool exactOffsets = false;    // ... with every value exact, so that it replays nothing
    bool restarted = false;       // it gave up and the element-by-element search solved the call
    std::uint64_t shifts = 0;     // shifts made by the search that gave the result
    std::uint64_t replays = 0;    // elements whose exact value the offset search replayed
    std::uint64_t replaySteps = 0;  // shifts replayed over all of them
};

void solve(SearchChoice choice, double* assignment, double* cost, const double* costMatrix,
           std::int32_t rowCount, std::int32_t colCount, SearchReport* report = nullptr);

// solve(SearchChoice::elementByElement, ...), for code that passes entries around.
void solveWithoutExactSearch(double* assignment, double* cost, const double* costMatrix,
                             std::int32_t rowCount, std::int32_t colCount);

}  // namespace solverTesting

void buildAssignment(double* assignment, const unsigned char* starMask, std::int32_t rowCount,
                     std::int32_t colCount);
void addUpCost(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount);

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
