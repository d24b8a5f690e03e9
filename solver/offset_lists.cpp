// Each column's smallest keys, and the reading of a column for its zeros and its least key.
#include "offset_search.h"

namespace pairsolve {

namespace offsetSearch {

namespace {

using namespace kernels;

// R + offset at a row, in lanes or alone.
struct Keys {
    const ReducedColumn& column;
    const double* offset;
    Pair pair(Index r) const { return column.pair(r) + load(offset + r); }
    double at(Index r) const { return column.at(r) + offset[r]; }
};

// The least of R + offset over the 16 rows from r.
inline double blockLeast(const ReducedColumn& column, const double* offset, Index r) {
    prefetchAhead(column.cost.cost + r);
    prefetchAhead(column.cost.cost + r + 8);
    return leastOfBlock<16>(r, Keys{column, offset});
}

// Gathers the smallest key of the uncovered column c afresh (with its list, if it has one).
void recomputeMinimum(SolverState& state, OffsetSearch& o, Index c) {
    if (!o.unlisted[c]) {
        captureTop(state, o, c);
        refreshFromList(state, o, c);
        if (minimumExact(state, o, c)) return;
    }
    // Unlisted, or every listed row is covered: the uncovered rows, read.
    double least;
    Index leastRow;
    scanColumn(reducedColumn(state.reduction, state.rowCount, c), o.scanOffset, -infinity, 0,
               state.rowCount, least, leastRow);
    settleMinimum(state, o, c, least, leastRow);
}

}  // namespace

// Reads column c whole, every row at its key now (covered rows included), and lists the rows of
// its columnTopSize smallest keys. Every other row's key is at least its bound, now and after: a
// row's offset never decreases. The smallest keys lie in the blocks of 16 rows with the smallest
// least keys: were one in a block whose least key is above the (columnTopSize + 1)-th smallest
// of them, that many keys from other blocks would be smaller still. So the column is read once,
// block by block, and only those blocks are read row by row.
void captureTop(SolverState& state, OffsetSearch& o, Index c) {
    ColumnLists& lists = o.lists;
    const Index rows = state.rowCount;
    const ReducedColumn column = reducedColumn(state.reduction, rows, c);
    const double* offset = lists.barredCount > 0 ? lists.listOffset : o.rowOffset;
    double barredLeast = infinity;  // the least key of the barred rows: a bound on theirs
    for (Index i = 0; i < lists.barredCount; ++i)
        if (barredLeast > o.rowOffset[lists.barred[i]]) barredLeast = o.rowOffset[lists.barred[i]];
    Smallest<columnTopSize + 1, Index> top;
    Index* listRows = lists.rows + columnTopSize * c;
    double* listValues = lists.values + columnTopSize * c;
    const FiniteLists& finite = lists.finite;
    if (finite.count != nullptr && finite.count[c] <= finiteListSize) {
        // Only the column's finite elements, which the check kept, are read: every other row's
        // key is at least forbiddenLeast, its element of R being so (offsets are not negative).
        // They are offered in row order, as the reading below would offer them, by their place
        // in the kept list. That bound holds for good (keys only grow), so the kept elements serve
        // every reading of the column; where a search comes to need its forbidden pairs, the bound
        // shows it, and the column is read whole from then on (firstUncoveredZero).
        const Index n = finite.count[c];
        const Index* at = finite.rows + finiteListSize * c;
        const double* x = finite.values + finiteListSize * c;
        const double* rowMinimum = state.reduction.rowMinimum;
        for (Index i = 0; i < n; ++i) top.offer((x[i] - rowMinimum[at[i]]) + offset[at[i]], i);
        const int listed = top.count < columnTopSize ? top.count : columnTopSize;
        for (int i = 0; i < listed; ++i) {
            listRows[i] = at[top.tag[i]];
            listValues[i] = x[top.tag[i]] - rowMinimum[listRows[i]];
        }
        lists.count[c] = listed;
        const double rest = top.at(columnTopSize);
        lists.bound[c] = rest < lists.forbiddenLeast ? rest : lists.forbiddenLeast;
        const double least = top.at(0) < lists.forbiddenLeast ? top.at(0) : lists.forbiddenLeast;
        lists.least[c] = least < barredLeast ? least : barredLeast;
        return;
    }
    const Index blocks = rows / 16;
    double* least = lists.blockLeast;
    for (Index b = 0; b < blocks; ++b) least[b] = blockLeast(column, offset, 16 * b);
    double cut = infinity;  // blocks whose least key is above it hold none of the smallest
    if (blocks > columnTopSize + 1) {
        // The (columnTopSize + 1)-th smallest block least.
        Smallest<columnTopSize + 1, char> smallest;
        for (Index b = 0; b < blocks; ++b) smallest.offer(least[b], 0);
        cut = smallest.at(columnTopSize);
    }
    // For the same reason no key above cut is among them: only the others are offered, in row
    // order, as a reading of every row would offer them. A block's keys are formed in lanes, and
    // the rows at or below cut taken from a bit mask in ascending order.
    for (Index b = 0; b < blocks; ++b) {
        if (least[b] > cut || (top.full() && !(least[b] < top.value[columnTopSize]))) continue;
        double v[16];
        int within = 0;
        for (int i = 0; i < 8; ++i) {
            const Pair x = column.pair(16 * b + 2 * i) + load(offset + 16 * b + 2 * i);
            store(v + 2 * i, x);
            within |= laneBits(atMost(x, both(cut))) << (2 * i);
        }
        for (; within != 0; within &= within - 1) {
            const int i = lowestSetBit(static_cast<unsigned>(within));
            top.offer(v[i], 16 * b + i);
        }
    }
    for (Index r = 16 * blocks; r < rows; ++r) {
        const double v = column.at(r) + offset[r];
        if (v <= cut) top.offer(v, r);
    }
    const int listed = top.count < columnTopSize ? top.count : columnTopSize;
    for (int i = 0; i < listed; ++i) {
        listRows[i] = top.tag[i];
        listValues[i] = column.at(top.tag[i]);
    }
    lists.count[c] = listed;
    lists.bound[c] = top.at(columnTopSize);
    lists.least[c] = top.at(0) < barredLeast ? top.at(0) : barredLeast;
}

// Records least (at leastRow) as the exact smallest key of the uncovered column c over the
// uncovered rows. An unlisted column also gets its floor: the smaller of that and the covered
// rows other than the star's, at their keys now (the column was just read, so they are at hand).
void settleMinimum(SolverState& state, OffsetSearch& o, Index c, double least, Index leastRow) {
    setKeyBound(o, c, least, KeyBound::exact, leastRow);
    if (!o.unlisted[c]) return;
    const ReducedColumn column = reducedColumn(state.reduction, state.rowCount, c);
    double floor = least, floorOffset = leastRow >= 0 ? o.rowOffset[leastRow] : 0;
    Index floorRow = leastRow;
    const Index star = state.matching.starInCol[c];
    for (Index i = 0; i < state.matching.coveredCount; ++i) {
        const Index r = state.matching.coveredRows[i];
        if (r == star) continue;
        const double v = column.at(r) + o.rowOffset[r];
        if (v < floor) {
            floor = v;
            floorRow = r;
            floorOffset = o.rowOffset[r];
        }
    }
    o.floor[c] = floor;
    o.floorRow[c] = floorRow;
    o.floorOffset[c] = floorOffset;
    o.floorKnown[c] = 1;
}

// Each column's list starts from what the reduction knows of it, without a reading. Rows reduced:
// an empty list whose bound is the column's least element of R, which bounds every key of the
// column from below for the rest of the call (keys only grow), so a column is first read whole
// only when a search reaches that far: in a wide matrix, many columns never are, and a column of
// a gated matrix is not even read then (captureTop). Columns reduced: the column's first zero,
// and a row holding its next element when there is one, with a bound on the others:
// fl(x - colMinimum) >= fl(y - colMinimum) for each of them, as rounding keeps order, with y at
// most each (rest, or next without a second row; forbidden pairs at forbiddenValue). In a tall
// matrix most rows are never covered, so the second row stands for the column's least key once
// the first one's row is covered.
void startLists(const SolverState& state, OffsetSearch& o, const ColumnStarts& starts) {
    ColumnLists& lists = o.lists;
    const Reduction& d = state.reduction;
    lists.finite = starts.finite;
    lists.forbiddenLeast = starts.forbiddenLeast;
    // Every finite element is below forbiddenValue, so a row whose minimum is that value holds
    // forbidden pairs alone.
    lists.barredCount = 0;
    for (Index r = 0; r < state.rowCount; ++r) {
        const bool barred = d.rowsReduced && d.rowMinimum[r] == d.forbiddenValue;
        lists.isBarred[r] = barred ? 1 : 0;
        lists.listOffset[r] = barred ? infinity : 0;
        if (barred) lists.barred[lists.barredCount++] = r;
    }
    for (Index c = 0; c < state.colCount; ++c) {
        if (d.rowsReduced) {
            const double least = starts.least[c] < starts.forbiddenLeast ? starts.least[c]
                                                                          : starts.forbiddenLeast;
            lists.count[c] = 0;
            lists.bound[c] = least;
            lists.least[c] = lists.barredCount > 0 && 0 < least ? 0 : least;  // a barred row's key
            continue;
        }
        const ColumnLeast& columns = starts.columns;
        const auto belowForbidden = [&](double v) {
            return v < d.forbiddenValue ? v : d.forbiddenValue;
        };
        Index* top = lists.rows + columnTopSize * c;
        double* value = lists.values + columnTopSize * c;
        top[0] = columns.firstZero[c];
        value[0] = 0;  // fl(x - x)
        lists.count[c] = 1;
        double others = belowForbidden(columns.next[c]);
        if (columns.nextRow[c] >= 0) {
            top[1] = columns.nextRow[c];
            value[1] = columns.next[c] - d.colMinimum[c];
            lists.count[c] = 2;
            others = belowForbidden(columns.rest[c]);
        }
        lists.least[c] = 0;
        lists.bound[c] = others - d.colMinimum[c];
    }
}

// The column's smallest key over its candidate rows (the uncovered rows, but the star's while
// the column is covered), from its list: exact when it is not above the bound on the rows left
// out, else only that bound.
void refreshFromList(SolverState& state, OffsetSearch& o, Index c) {
    ColumnLists& lists = o.lists;
    const Index star = state.colCover[c] ? state.matching.starInCol[c] : none;
    const Index* top = lists.rows + columnTopSize * c;
    const double* value = lists.values + columnTopSize * c;
    double best = infinity;
    Index bestRow = none;
    for (Index i = 0; i < lists.count[c]; ++i) {
        const Index r = top[i];
        if (state.rowCover[r] || r == star) continue;
        const double v = value[i] + o.rowOffset[r];
        if (v < best) {
            best = v;
            bestRow = r;
        }
    }
    visitOpenBarred(state, o, [&](Index r) {
        if (r != star && o.rowOffset[r] < best) {
            best = o.rowOffset[r];
            bestRow = r;
        }
        return true;
    });
    if (best <= lists.bound[c])
        setKeyBound(o, c, best, KeyBound::exact, bestRow);
    else
        setKeyBound(o, c, lists.bound[c], KeyBound::bound, none);
}

// Makes the bound of an uncovered column exact: from its list if that tells, else by reading it.
void settleBound(SolverState& state, OffsetSearch& o, Index c) {
    if (o.keyState[c] == KeyBound::stale) {
        refreshFromList(state, o, c);
        if (minimumExact(state, o, c)) return;
    }
    recomputeMinimum(state, o, c);
}

// The listed rows of column c from `from` on that are uncovered and whose key is at most
// threshold, in ascending order, into found[]; their number.
int listedWithin(const SolverState& state, const OffsetSearch& o, Index c, Index from,
                 double threshold, Index* found) {
    const ColumnLists& lists = o.lists;
    const Index* top = lists.rows + columnTopSize * c;
    const double* value = lists.values + columnTopSize * c;
    // Taken without a branch a row (which one passes is as good as random), then put in order.
    int n = 0;
    for (Index i = 0; i < lists.count[c]; ++i) {
        const Index r = top[i];
        found[n] = r;
        n += (r >= from) & !state.rowCover[r] & !(value[i] + o.scanOffset[r] > threshold);
    }
    for (int i = 1; i < n; ++i) {
        const Index r = found[i];
        int j = i;
        for (; j > 0 && found[j - 1] > r; --j) found[j] = found[j - 1];
        found[j] = r;
    }
    return n;
}

// The n listed rows, merged with the barred rows from `from` on that are uncovered and whose key
// is at most threshold, in ascending order, into lists.found; their number.
int withBarred(const SolverState& state, OffsetSearch& o, Index from, double threshold,
               const Index* listed, int n) {
    Index* found = o.lists.found;
    int count = 0, i = 0;
    visitOpenBarred(state, o, [&](Index r) {
        if (r >= from && o.rowOffset[r] <= threshold) {
            for (; i < n && listed[i] < r; ++i) found[count++] = listed[i];
            found[count++] = r;
        }
        return true;
    });
    for (; i < n; ++i) found[count++] = listed[i];
    return count;
}

// The first row from `from` on with R(r, c) + offset[r] <= threshold, or rows. least and
// leastRow get the smallest such sum over the rows read before it, and a row holding it (+inf
// and none when there is none below +inf); they cover all rows from `from` when the result is
// rows. Covered rows have an infinite offset, so they are never returned and never the least.
Index scanColumn(const ReducedColumn& column, const double* offset, double threshold, Index from,
                 Index rows, double& least, Index& leastRow) {
    least = infinity;
    leastRow = none;
    Index r = from;
    Index leastBlock = none;
    for (; r + 16 <= rows; r += 16) {
        const double block = blockLeast(column, offset, r);
        if (block <= threshold) break;  // read row by row below, up to the candidate
        if (block < least) {
            least = block;
            leastBlock = r;
        }
    }
    if (leastBlock != none) {
        leastRow = leastBlock;
        while (column.at(leastRow) + offset[leastRow] != least) ++leastRow;
    }
    for (; r < rows; ++r) {
        const double v = column.at(r) + offset[r];
        if (v <= threshold) return r;
        if (v < least) {
            least = v;
            leastRow = r;
        }
    }
    return rows;
}

}  // namespace offsetSearch

}  // namespace pairsolve
