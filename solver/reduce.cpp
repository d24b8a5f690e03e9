#include "reduce.h"

#include <cfloat>

#include "solver_state.h"

namespace pairsolve {

namespace {

using namespace kernels;

// A column of the working copy, read as a CostColumn is.
struct MemoryColumn {
    const double* values;
    double at(Index r) const { return values[r]; }
    Pair pair(Index r) const { return load(values + r); }
};

// The row minima, found with `m > x` so that a NaN is never taken as the minimum (a NaN first
// element is kept), side by side, column by column: the matrix is walked in memory order, and
// each row still sees its elements in ascending column order. columnAt(c): column c, a
// MemoryColumn or a CostColumn.
template <class ColumnAt>
void gatherRowMinima(ColumnAt columnAt, Index rows, Index cols, double* rowMinimum) {
    for (Index c = 0; c < cols; ++c) {
        const auto column = columnAt(c);
        Index r = 0;
        if (c == 0) {
            for (; r < rows; ++r) rowMinimum[r] = column.at(r);
            continue;
        }
        for (; r + 2 <= rows; r += 2)
            store(rowMinimum + r, lesser(column.pair(r), load(rowMinimum + r)));
        for (; r < rows; ++r) {
            const double v = column.at(r);
            if (rowMinimum[r] > v) rowMinimum[r] = v;
        }
    }
}

// The minimum of a column as `if (m > x) m = x` finds it over the column in order from its first
// element: a NaN first element is kept (no comparison with it holds); otherwise it is the least
// element that is not NaN and, among elements comparing equal to it, the first. Only +0 and -0
// compare equal with different bits, so the least value can be found in any order (in lanes,
// each starting from the first element, so none ever holds a NaN), and when it is a zero, the
// first zero of the column is the one the loop would have kept.
double columnMinimum(const MemoryColumn& column, Index rows) {
    double m = column.at(0);
    if (m != m) return m;
    m = leastOf<4>(1, rows, column, m);
    if (m == 0) {
        Index r = 0;
        while (column.at(r) != 0) ++r;
        m = column.at(r);
    }
    return m;
}

}  // namespace

void replaceForbidden(double* work, std::size_t elementCount, double forbiddenValue) {
    // The copy refused every finite negative element, so each element outside [0, DBL_MAX] is an
    // infinity (of either sign) or NaN, and v == v tells the infinities.
    std::size_t i = 0;
    const Pair lowest = both(0.0), highest = both(DBL_MAX), forbidden = both(forbiddenValue);
    for (; i + 2 <= elementCount; i += 2) {
        const Pair v = load(work + i);
        const PairMask infinite = ~bothOf(atLeast(v, lowest), atMost(v, highest)) & (v == v);
        store(work + i, pick(infinite, forbidden, v));
    }
    for (; i < elementCount; ++i) {
        const double v = work[i];
        if (!(v >= 0 && v <= DBL_MAX) && v == v) work[i] = forbiddenValue;
    }
}

void reduceRowsInPlace(double* work, Index rows, Index cols, double* rowMinimum, RowZeros zeros,
                       bool minimaKnown) {
    zeros.clear(rows);
    if (!minimaKnown)
        gatherRowMinima([&](Index c) { return MemoryColumn{work + rows * c}; }, rows, cols,
                        rowMinimum);
    // Few elements become 0: zeros are noted only where they do.
    for (Index c = 0; c < cols; ++c) {
        double* column = work + rows * c;
        Index r = 0;
        for (; r + 2 <= rows; r += 2) {
            const Pair d = load(column + r) - load(rowMinimum + r);
            store(column + r, d);
            const int zero = laneBits(d == both(0.0));
            if (zero == 0) continue;
            for (Index j = 0; j < 2; ++j)
                if ((zero >> j & 1) != 0) zeros.note(r + j, c);
        }
        for (; r < rows; ++r) {
            column[r] = column[r] - rowMinimum[r];
            if (column[r] == 0) zeros.note(r, c);
        }
    }
}

void reduceColumnsInPlace(double* work, Index rows, Index cols, Index* firstZero) {
    for (Index c = 0; c < cols; ++c) {
        double* column = work + rows * c;
        const double m = columnMinimum(MemoryColumn{column}, rows);
        Index first = rows, r = 0;
        for (; r + 2 <= rows; r += 2) {
            const Pair d = load(column + r) - both(m);
            store(column + r, d);
            if (first == rows) {
                const int zero = laneBits(d == both(0.0));
                if (zero != 0) first = r + ((zero & 1) != 0 ? 0 : 1);
            }
        }
        for (; r < rows; ++r) {
            column[r] = column[r] - m;
            if (first == rows && column[r] == 0) first = r;
        }
        firstZero[c] = first;
    }
}

// The check gathered the minima with +inf lowering none, the row minima only while no element is
// -inf. The forbidden value is above every finite element, so a line's minimum over its elements
// with forbidden pairs replaced is what was gathered where that is finite, and the forbidden value
// where the line holds no finite element: as the reductions in place find them.
ColumnStarts settleGatheredRows(Reduction& reduction, double* rowMinimum, Index rows, Index cols,
                                RowZeros zeros, const double* colBound, FiniteLists finite) {
    // A row of +inf alone has the forbidden value for its minimum, and so 0 in every column: the
    // offset search keeps such rows out of its column lists (a barred row), and bounds the others.
    double most = 0;  // the largest row minimum of the other rows
    for (Index r = 0; r < rows; ++r) {
        if (rowMinimum[r] > DBL_MAX) {
            rowMinimum[r] = reduction.forbiddenValue;
            zeros.count[r] = cols;
            for (Index c = 0; c < cols && c < zeroListSize; ++c)
                zeros.columns[zeroListSize * r + c] = c;
            zeros.last[r] = cols - 1;
        } else if (most < rowMinimum[r]) {
            most = rowMinimum[r];
        }
    }
    // A forbidden pair's element of R in another row, fl(forbiddenValue - m), is at least
    // fl(forbiddenValue - most), as rounding keeps order (+inf when there is none).
    return ColumnStarts{colBound, reduction.forbiddenValue - most, finite, ColumnLeast{}};
}

ColumnStarts reduceRowsByReading(Reduction& reduction, double* rowMinimum, Index rows, Index cols,
                                 RowZeros zeros, double* colLeast, bool minimaKnown) {
    if (!minimaKnown)
        gatherRowMinima([&](Index c) { return costColumn(reduction, rows, c); }, rows, cols,
                        rowMinimum);
    for (Index r = 0; r < rows; ++r)
        if (rowMinimum[r] > DBL_MAX) rowMinimum[r] = reduction.forbiddenValue;
    zeros.clear(rows);
    // On the way, each column's least element of R, which bounds every key of the column from
    // below for the rest of the call (keys only grow).
    for (Index c = 0; c < cols; ++c) {
        const ReducedColumn column = reducedColumn(reduction, rows, c);
        // Four chains of minima side by side; the zeros from one mask of eight rows.
        LanesLeast<4> lanes;
        Index r = 0;
        for (; r + 8 <= rows; r += 8) {
            prefetchAhead(column.cost.cost + r);
            int zero = 0;
            for (int i = 0; i < 4; ++i) {
                const Pair x = column.pair(r + 2 * i);
                lanes.take(i, x);
                zero |= laneBits(x == both(0.0)) << (2 * i);
            }
            for (; zero != 0; zero &= zero - 1)
                zeros.note(r + lowestSetBit(static_cast<unsigned>(zero)), c);
        }
        double least = lanes.value();
        for (; r < rows; ++r) {
            const double x = column.at(r);
            if (x < least) least = x;
            if (x == 0) zeros.note(r, c);
        }
        colLeast[c] = least;
    }
    return ColumnStarts{colLeast, infinity, FiniteLists{}, ColumnLeast{}};
}

ColumnStarts settleGatheredColumns(Reduction& reduction, Index cols, const ColumnLeast& columns) {
    for (Index c = 0; c < cols; ++c)
        if (columns.least[c] > DBL_MAX) columns.least[c] = reduction.forbiddenValue;
    reduction.colMinimum = columns.least;
    return ColumnStarts{nullptr, infinity, FiniteLists{}, columns};
}

void writeReduced(const Reduction& reduction, Index rows, Index cols, double* work) {
    for (Index c = 0; c < cols; ++c) {
        const ReducedColumn column = reducedColumn(reduction, rows, c);
        double* to = work + rows * c;
        Index r = 0;
        for (; r + 2 <= rows; r += 2) store(to + r, column.pair(r));
        for (; r < rows; ++r) to[r] = column.at(r);
    }
}

}  // namespace pairsolve
