// The reduction: one direction's line minima subtracted (rows when they are the fewer or as many,
// columns otherwise), so that every line that must be matched holds a zero; forbidden pairs
// replaced first. With a working copy it is written out; without one (the offset search) it is
// settled from what the check gathered, reading the matrix again only where that is not enough.
#ifndef PAIRSOLVE_REDUCE_H
#define PAIRSOLVE_REDUCE_H

#include "check.h"
#include "seed.h"
#include "solver_state.h"

namespace pairsolve {

// What the offset search starts each column's list of smallest keys from, without reading it.
// Rows reduced: every finite element of R in column c is at least least[c], and every forbidden
// pair's at least forbiddenLeast; where finite.count is not null, the column's finite elements.
// Columns reduced: the check's ColumnLeast.
struct ColumnStarts {
    const double* least;
    double forbiddenLeast;
    FiniteLists finite;
    ColumnLeast columns;
};

// Replaces every infinity (either sign) of the working copy by forbiddenValue; NaN stays.
void replaceForbidden(double* work, std::size_t elementCount, double forbiddenValue);

// With a working copy: subtracts each row's minimum (`m > x` over the row from its first element,
// which a NaN first element keeps: its row becomes NaN) and notes where rows became 0.
// minimaKnown: the check gathered the minima already.
void reduceRowsInPlace(double* work, Index rows, Index cols, double* rowMinimum, RowZeros zeros,
                       bool minimaKnown);
// ... or each column's minimum; firstZero[c] gets the first row where column c became 0.
void reduceColumnsInPlace(double* work, Index rows, Index cols, Index* firstZero);

// Without a copy, rows reduced. settleGatheredRows: the check noted the zeros and bounded the
// columns, and the row minima hold (no -inf): only rows of +inf alone and the forbidden pairs are
// left to settle. reduceRowsByReading: everything from the matrix (the row minima only where
// !minimaKnown), each column's least element of R into colLeast.
ColumnStarts settleGatheredRows(Reduction& reduction, double* rowMinimum, Index rows, Index cols,
                                RowZeros zeros, const double* colBound, FiniteLists finite);
ColumnStarts reduceRowsByReading(Reduction& reduction, double* rowMinimum, Index rows, Index cols,
                                 RowZeros zeros, double* colLeast, bool minimaKnown);
// Without a copy, columns reduced: the minima and first zeros from what the check found.
ColumnStarts settleGatheredColumns(Reduction& reduction, Index cols, const ColumnLeast& columns);

// Writes R out from the caller's matrix by the reduction's operations on each element, so to the
// reduction's values (the offset search took no copy, and a restart needs one).
void writeReduced(const Reduction& reduction, Index rows, Index cols, double* work);

}  // namespace pairsolve

#endif
