// Which search a call runs, from what the check found of the matrix.
#ifndef PAIRSOLVE_CHOOSE_H
#define PAIRSOLVE_CHOOSE_H

#include <cstdint>

#include "assignment_solver.h"

namespace pairsolve {

// What the driver knows of the working matrix (forbidden pairs replaced, not yet reduced) when
// it chooses the search.
struct MatrixSummary {
    double largest = 0;        // the largest element (NaN never counts)
    bool anyNaN = false;
    bool anyInfinite = false;  // +inf or -inf (an overflowed forbiddenValue)
    int lowestBit = 1024;      // every element is a multiple of 2^lowestBit (1024: all zero)
};

// Adds one element of the working matrix to the summary.
void summarize(MatrixSummary& summary, double v);

// Up to this many elements (64 x 64) the plain search is the fastest: each of its shifts is one
// pass over the uncovered columns of a matrix that fits in the first-level cache, and it keeps
// little besides.
constexpr std::uint64_t plainElements = 4096;

// Whether the call runs the plain search, from its shape alone.
bool plainFor(std::int32_t rowCount, std::int32_t colCount, solverTesting::SearchChoice choice);

// The largest integer w with w * 2(lineCount + 1) < 2^53 (offset_search.cpp says why that bound
// keeps every value of the offset search exact).
std::uint64_t exactLimit(std::uint64_t lineCount);

// largest / 2^lowestBit, an integer (largest is a multiple of that power), or 2^53 when it is at
// least that. In integers, so that the choice involves no rounding at all.
std::uint64_t unitsOf(double largest, int lowestBit);

// The exponent of the lowest set bit of a finite v > 0: v is a multiple of 2 to that power.
int lowestBitOf(double v);

// The search for a working matrix with this summary:
// - the plain search for small matrices (plainFor);
// - the exact offset search when every element is a finite multiple of g = 2^lowestBit and the
//   largest, W, satisfies (W / g) * 2(rowCount + colCount + 1) < 2^53 (offset_search.cpp says
//   why then nothing is rounded);
// - otherwise the certified offset search when no element is NaN or infinite and
//   (2 min(rowCount, colCount) + 2) W < DBL_MAX (no offset or sum of the search can overflow);
// - otherwise, and whenever choice asks for it, the element-by-element search, the only one that
//   meets a search that cannot end (and reports it).
Search chooseSearch(const MatrixSummary& summary, std::int32_t rowCount, std::int32_t colCount,
                    solverTesting::SearchChoice choice);

}  // namespace pairsolve

#endif
