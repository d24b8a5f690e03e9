// pairsolve for C++ programs: the rectangular linear assignment problem, solved exactly.
//
// Given a real M x N matrix of non-negative costs, solve pairs min(M, N) rows with as many distinct
// columns so that the sum of the paired costs is as small as possible (the Hungarian method in
// Munkres' formulation). It is the same solver, with the same answers to the bit, as the Octave
// and MATLAB function [assignment, cost] = pairsolve(costMatrix).
//
//   #include <pairsolve/pairsolve.h>
//
//   // [4 1 3; 2 0 5; 3 2 2], stored column by column: element (r, c) at r + rows * c
//   pairsolve::Result r = pairsolve::solve({4, 2, 3, 1, 0, 2, 3, 5, 2}, 3, 3);
//   // r.columns == {1, 0, 2} (0-based), r.assignment == {2, 1, 3} (1-based), r.cost == 5
//
// What every entry below promises:
// - Forbidden pairs: an infinite element (+inf or -inf) is a pair that must not be made. As few
//   of them are used as possible; a row that could only be paired through one is left unassigned
//   and adds nothing to the cost. Prefer +inf over NaN to forbid a pair: a NaN at the head of a
//   reduced line (the first element of a row, or of a column when M > N) makes the whole line
//   unusable.
// - Which optimum: among several optimal assignments the same one is returned on every platform
//   and every call (the first the search reaches; [1 1; 1 1] gives columns {0, 1}).
// - Errors: pairsolve::Error, thrown after everything the call allocated has been released.
//   identifier() is "" for a finite negative element ("All matrix elements have to be
//   non-negative."), "pairsolve:nanBlocksAssignment" when NaNs leave too few usable pairs,
//   "pairsolve:costOverflow" when values near the top of the double range overflow, and
//   "pairsolve:inputSize" / "pairsolve:outOfMemory" for a matrix that cannot be held.
// - Threads: nothing is shared between calls; separate threads may solve at the same time. The
//   matrix is read until the call returns, so it must not change before then.
// - Cost of a call: time grows with about the cube of the size in the worst case (much less on
//   typical matrices); memory is two or three bytes an element of flags, a few hundred bytes per
//   row and column, for rounded costs a history of the search (a few KiB per row and column set
//   aside, used as needed), and a working copy of the matrix where the search needs one: up to
//   64 x 64, with NaN elements, and for costs whose near ties make the search start again.
//
// This header declares nothing outside namespace pairsolve but the version macros, so it can be
// included beside a host's mex.h, and the library defines no host (mx*, mex*) names.
#ifndef PAIRSOLVE_PAIRSOLVE_H
#define PAIRSOLVE_PAIRSOLVE_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#define PAIRSOLVE_VERSION_MAJOR 0
#define PAIRSOLVE_VERSION_MINOR 2
#define PAIRSOLVE_VERSION_PATCH 0
#define PAIRSOLVE_VERSION "0.2.0"

namespace pairsolve {

// What a failed call carries: the identifier (empty for the non-negativity message) and the
// message, as Octave and MATLAB show them.
class Error : public std::runtime_error {
public:
    Error(std::string identifier, const std::string& message)
        : std::runtime_error(message), identifier_(std::move(identifier)) {}
    const std::string& identifier() const noexcept { return identifier_; }

private:
    std::string identifier_;
};

// The 0-based column of a row left without one.
constexpr std::int64_t unassigned = -1;

struct Result {
    std::vector<std::int64_t> columns;  // per row, the 0-based column, or unassigned
    std::vector<double> assignment;     // per row, the 1-based column, or 0 (the host's form)
    double cost = 0;                    // the sum of the matrix over the assigned pairs
};

// Solves the rowCount x colCount matrix held column by column in costMatrix, which must have
// rowCount * colCount elements (otherwise pairsolve:inputSize). Throws pairsolve::Error.
Result solve(const std::vector<double>& costMatrix, std::int32_t rowCount, std::int32_t colCount);

// The same into buffers of the caller's: assignment gets rowCount doubles in the host's form
// (1-based columns, 0 for none), cost one double; costMatrix holds rowCount * colCount doubles,
// column by column, and is only read (the outputs must not overlap it). On an error the outputs
// hold no result.
void solve(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount,
           std::int32_t colCount);

}  // namespace pairsolve

#endif
