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

// Fills assignment (rowCount doubles: the 1-based column of each row, or 0) and cost (the sum of
// costMatrix over the assigned pairs). costMatrix is never written.
void solveAssignment(double* assignment, double* cost, const double* costMatrix,
                     std::int32_t rowCount, std::int32_t colCount);

// What the phases share. The driver takes every buffer from the host allocator and releases it.
struct SolverState {
    double* workMatrix;           // elementCount doubles: the reduced working copy
    unsigned char* starMask;      // elementCount flags
    unsigned char* primeMask;     // elementCount flags
    unsigned char* nextStarMask;  // elementCount flags: scratch of augmentPath
    unsigned char* colCover;      // colCount flags
    unsigned char* rowCover;      // rowCount flags
    std::int32_t rowCount;
    std::int32_t colCount;
    std::ptrdiff_t targetStars;   // min(rowCount, colCount): stars that end the search
    double* assignment;           // rowCount doubles, written by buildAssignment
    // Set when forbidden pairs were replaced by a forbiddenValue that overflowed to +inf: a search
    // that later stalls does so because of that overflow, even where inf - inf left NaN behind.
    bool forbiddenOverflowed;
};

// The phase machine. Each phase returns the next one; runPhases makes the transitions in a loop,
// so the call depth stays constant however long the search runs.
enum class Phase { checkDone, primeZeros, augmentPath, coverStarColumns, shiftByMinimum, done };

void runPhases(SolverState& state);
Phase checkDone(SolverState& state);
Phase primeZeros(SolverState& state, std::ptrdiff_t& pathRow, std::ptrdiff_t& pathCol);
Phase augmentPath(SolverState& state, std::ptrdiff_t pathRow, std::ptrdiff_t pathCol);
Phase coverStarColumns(SolverState& state);
Phase shiftByMinimum(SolverState& state);

void buildAssignment(double* assignment, const unsigned char* starMask, std::int32_t rowCount,
                     std::int32_t colCount);
void addUpCost(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount);

// Messages the solver ends a call with.
namespace pairsolveText {
constexpr const char* negativeElement = "All matrix elements have to be non-negative.";
constexpr const char* nanBlocksId = "pairsolve:nanBlocksAssignment";
constexpr const char* nanBlocks = "NaN elements prevent a complete assignment.";
constexpr const char* overflowId = "pairsolve:costOverflow";
constexpr const char* overflow = "Matrix elements are too large to solve; scale the matrix down.";
constexpr const char* inputSizeId = "pairsolve:inputSize";
}  // namespace pairsolveText

#endif
