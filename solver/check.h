// The check: one pass over the caller's matrix that refuses a finite negative element, finds what
// the forbidden pairs and the choice of the search need, and gathers on its way what the stages
// after it would otherwise read the matrix again for.
#ifndef PAIRSOLVE_CHECK_H
#define PAIRSOLVE_CHECK_H

#include <cstdint>

#include "choose.h"
#include "kernels.h"

namespace pairsolve {

// How many of a row's zero columns are listed (RowZeros), and how many finite elements of a
// column are kept (FiniteLists).
constexpr Index zeroListSize = 16;
constexpr Index finiteListSize = 48;

// When rows are reduced: how many columns each row is 0 in (in R), the first zeroListSize of them
// in ascending order, and the last (or none). Seeding then reads no element of a row but after
// its last listed zero, and none after its last.
struct RowZeros {
    Index* count;    // rowCount
    Index* columns;  // zeroListSize * rowCount
    Index* last;     // rowCount

    void clear(Index rows) {
        for (Index r = 0; r < rows; ++r) {
            count[r] = 0;
            last[r] = kernels::none;
        }
    }
    // Row r is 0 in column c, the columns coming in ascending order.
    void note(Index r, Index c) {
        const Index n = count[r]++;
        if (n < zeroListSize) columns[zeroListSize * r + n] = c;
        last[r] = c;
    }
};

// Each column's finite elements, when they are at most finiteListSize (the rest are forbidden
// pairs, as in a gated matrix): their count (finiteListSize + 1 when there are more, or they are
// not known), their rows in ascending order and their values in the caller's matrix.
struct FiniteLists {
    Index* count;    // colCount, or null: not gathered
    Index* rows;     // finiteListSize * colCount
    double* values;  // finiteListSize * colCount
};

// When columns are reduced: each column's least value (with the bits of its first element equal
// to it, or the least itself where that element is an infinity), the row of that first element
// (rowCount if none), at most each element but that one (next, -inf left out), a row holding next
// when it is finite and read (else none), and at most each element but those two (rest).
// Forbidden pairs count as +inf, as they are replaced later.
struct ColumnLeast {
    double* least;
    Index* firstZero;
    double* next;
    Index* nextRow;
    double* rest;
};

// What the check found.
struct CheckResult {
    double maxFinite;          // the largest finite element, -1.0 when there is none
    bool anyNonFinite;         // an element is not finite (NaN included)
    bool anyInfinity;          // an element is +inf or -inf: a forbidden pair
    bool anyNegativeInfinity;  // an element is -inf
    MatrixSummary summary;     // of the finite elements, for the choice of the search
    bool zerosNoted;           // the row zeros and column bounds were gathered (noteZeros)
};

// What the caller has the check gather; a null part is not gathered. A copy is gathered alone, or
// with the row minima; without a copy, either the row minima with noteZeros (and the finite
// lists), or the column least values.
struct Gathering {
    double* copy = nullptr;         // elementCount: the matrix as it is
    bool lowestBits = false;        // the finite elements' lowest bit, while it can keep offsets
    std::uint64_t limit = 0;        // exact: while the largest is at most limit in its units
    double* rowMinimum = nullptr;   // rowCount: `m > x` over each row, +inf lowering none
    // The row reduction's zeros (where the row minima hold, no -inf) and, in colBound, a lower
    // bound on each column's finite elements of R.
    bool noteZeros = false;
    RowZeros zeros{};
    double* colBound = nullptr;     // colCount
    FiniteLists finite{};
    ColumnLeast columns{};          // least null: not gathered (firstZero alone: for the copy)
};

// Refuses the first finite negative element in index order ("All matrix elements have to be
// non-negative.", through the host's error call); -0.0 is a zero, and -inf and NaN pass.
CheckResult checkAndGather(const double* costMatrix, Index rows, Index cols,
                           const Gathering& gathering);

}  // namespace pairsolve

#endif
