#include "seed.h"

namespace pairsolve {

namespace {

using namespace kernels;

void placeStar(SolverState& s, Index r, Index c) {
    s.matching.starInRow[r] = c;
    s.matching.starInCol[c] = r;
    ++s.matching.starCount;
    s.colCover[c] = 1;
}

// Element (r, c) of R: from the working copy when there is one, else formed from the caller's
// matrix.
double reducedElement(const SolverState& s, Index r, Index c) {
    const Index rows = s.rowCount;
    return s.reduction.workMatrix != nullptr ? s.reduction.workMatrix[r + rows * c]
                                             : reducedColumn(s.reduction, rows, c).at(r);
}

// A zero of a column of R (a column of the working copy, or formed).
template <class Column>
struct ZeroOf {
    Column column;
    PairMask pair(Index r) const { return column.pair(r) == both(0.0); }
    bool at(Index r) const { return column.at(r) == 0; }
};

struct WorkColumn {
    const double* values;
    double at(Index r) const { return values[r]; }
    Pair pair(Index r) const { return load(values + r); }
};

// Rows in ascending order, each starring its first zero in a column not yet taken: from its
// listed zeros, and only when they are all taken and the row has more, by reading it from after
// the last listed one up to its last zero (the cover first: a taken column's element, a line of
// memory each, is not read).
void seedByRows(SolverState& s, const RowZeros& zeros) {
    const Index rows = s.rowCount;
    for (Index r = 0; r < rows; ++r) {
        const Index count = zeros.count[r], listed = count < zeroListSize ? count : zeroListSize;
        const Index* columns = zeros.columns + zeroListSize * r;
        Index i = 0;
        while (i < listed && s.colCover[columns[i]]) ++i;
        if (i < listed) {
            placeStar(s, r, columns[i]);
            continue;
        }
        if (count <= zeroListSize) continue;
        for (Index c = columns[zeroListSize - 1] + 1; c <= zeros.last[r]; ++c) {
            if (!s.colCover[c] && reducedElement(s, r, c) == 0) {
                placeStar(s, r, c);
                break;
            }
        }
    }
}

// Columns in ascending order, each starring its first zero in a row not yet taken. No column
// holds a zero above its firstZero row, so the scan starts there.
void seedByColumns(SolverState& s, const SeedHints& hints) {
    const Index rows = s.rowCount, cols = s.colCount;
    const Reduction& d = s.reduction;
    for (Index c = 0; c < cols; ++c) {
        // The first zero is known without reading it, and so, where colNext tells, is that the
        // column holds no other.
        const Index first = hints.firstZero[c];
        if (first >= rows) continue;
        if (!s.rowCover[first]) {
            placeStar(s, first, c);
            s.rowCover[first] = 1;
            continue;
        }
        if (hints.colNext != nullptr && hints.colNext[c] > d.colMinimum[c] &&
            d.forbiddenValue > d.colMinimum[c])
            continue;
        const auto seedColumn = [&](auto column) {
            const ZeroOf<decltype(column)> zero{column};
            for (Index r = firstWhere<8>(first + 1, rows, zero); r < rows;
                 r = firstWhere<8>(r + 1, rows, zero)) {
                if (!s.rowCover[r]) {
                    placeStar(s, r, c);
                    s.rowCover[r] = 1;
                    return;
                }
            }
        };
        if (d.workMatrix != nullptr)
            seedColumn(WorkColumn{d.workMatrix + rows * c});
        else
            seedColumn(reducedColumn(d, rows, c));
    }
    for (Index r = 0; r < rows; ++r) s.rowCover[r] = 0;
}

}  // namespace

void seed(SolverState& state, const SeedHints& hints) {
    if (state.reduction.rowsReduced)
        seedByRows(state, hints.zeros);
    else
        seedByColumns(state, hints);
}

}  // namespace pairsolve
