// The reference model: a plain, deliberately slow rendering of the solver, kept beside the fast one
// so that any difference in their results points at a bug in one of them.
//
// It has the same entry, the same state, the same phases in the same order and the same messages
// as the solver, but none of its shortcuts: every mask covers the full matrix, every search for a
// star or a prime is a fresh scan, the shift's minimum is taken row by row and the shift itself is
// made in two separate passes. Results must agree with the solver bit for bit: the assignment
// (including which of several optimal assignments), the cost, and the error identifier and text.
//
// Self-contained on purpose (this header, reference_model.cpp and the host services), so that the
// fuzz target and the benchmarks can link it as well. Every buffer comes from the host allocator;
// errors leave through the host's error calls, which do not return, so nothing here is noexcept.
#ifndef PAIRSOLVE_TESTS_REFERENCE_MODEL_H
#define PAIRSOLVE_TESTS_REFERENCE_MODEL_H

#include <cstddef>
#include <cstdint>

namespace reference {

// Fills assignment (rowCount doubles: the 1-based column of each row, or 0) and cost (the sum of
// costMatrix over the assigned pairs). costMatrix (rowCount x colCount, column-major) is only read.
void solveAssignment(double* assignment, double* cost, const double* costMatrix,
                     std::int32_t rowCount, std::int32_t colCount);

// What the phases share; the driver takes every buffer and gives it back.
struct SolverState {
    double* workMatrix;           // elementCount doubles
    unsigned char* starMask;      // elementCount flags
    unsigned char* primeMask;     // elementCount flags
    unsigned char* nextStarMask;  // elementCount flags, scratch of augmentPath
    unsigned char* colCover;      // colCount flags
    unsigned char* rowCover;      // rowCount flags
    std::int32_t rowCount;
    std::int32_t colCount;
    std::size_t targetStars;      // min(rowCount, colCount)
    double* assignment;           // rowCount doubles
    // Forbidden pairs were replaced by a forbiddenValue that overflowed to +inf.
    bool forbiddenOverflowed;
};

enum class Phase { checkDone, primeZeros, augmentPath, coverStarColumns, shiftByMinimum, done };

void runPhases(SolverState& state);
Phase checkDone(SolverState& state);
Phase primeZeros(SolverState& state, std::size_t& pathRow, std::size_t& pathCol);
Phase augmentPath(SolverState& state, std::size_t pathRow, std::size_t pathCol);
Phase coverStarColumns(SolverState& state);
Phase shiftByMinimum(SolverState& state);

void buildAssignment(double* assignment, const unsigned char* starMask, std::int32_t rowCount,
                     std::int32_t colCount);
void addUpCost(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount);

// The messages, written out here rather than taken from the solver, so that a changed text shows.
namespace text {
constexpr const char* negativeElement = "All matrix elements have to be non-negative.";
constexpr const char* nanBlocksId = "pairsolve:nanBlocksAssignment";
constexpr const char* nanBlocks = "NaN elements prevent a complete assignment.";
constexpr const char* overflowId = "pairsolve:costOverflow";
constexpr const char* overflow = "Matrix elements are too large to solve; scale the matrix down.";
constexpr const char* inputSizeId = "pairsolve:inputSize";
constexpr const char* negativeSize = "Matrix dimensions must not be negative.";
}  // namespace text

}  // namespace reference

#endif
