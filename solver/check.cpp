// The check is one loop over blocks of each column, and what it gathers besides its facts are
// parts, each with its own state: the copy, the row minima (with the zeros of the row reduction),
// a column's finite elements, a column's least values. The loop reads a block one of three ways,
// the first that holds:
// - only finite: while every block so far held finite elements that are not negative and nothing
//   else, a block is first read on that assumption, in lanes, with fewer tests (one mask for a
//   lane below 0 or NaN, and the largest and least of all lanes). Without a NaN the largest value
//   is the same in any order (only the sign of a zero could differ, and the largest is only
//   compared with 0 and used when above it). When the assumption fails, the next reading makes
//   the results (copying again, lowering the minima again by the same elements, which leaves
//   them as they are), and so does every later block.
// - in lanes: blocks holding only elements in [0, +inf], finite and not negative or forbidden
//   pairs.
// - element by element, for everything else (and while lowest bits are gathered, after the
//   first reading).
// Elements are told apart by comparisons, which are the host's mxIsFinite and mxIsInf exactly,
// so that no element costs a call to the host.
#include "check.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "host_services.h"
#include "solver_state.h"

namespace pairsolve {

namespace {

using namespace kernels;

constexpr int notExact = -2000;  // a lowest bit no largest element can stay within the bound from

// Runs step(i, k) on the pairs of rows from start on, two pairs a step (k, 0 or 1, tells which
// chain a pair joins), and returns where they end: a last odd row is left to the caller. Always
// inlined, so that the chains stay in registers: the check is too long for the compiler to inline
// it by itself.
template <class Step>
PAIRSOLVE_INLINED inline Index overPairs(Index start, Index end, Step step) {
    Index r = start;
    for (; r + 4 <= end; r += 4) {
        step(r, 0);
        step(r + 2, 1);
    }
    if (r + 2 <= end) {
        step(r, 0);
        r += 2;
    }
    return r;
}

// --- The parts. Each gets, per column, startColumn and endColumn, and per reading pair (two rows
// in lanes) and element (one row); tail is a row a reading in lanes left over, where a part tells
// it from element. Part's members do nothing: a form leaves out what it does not gather.
struct Part {
    static constexpr bool on = false;
    void startColumn(Index, const double*) {}
    template <bool noting = false>
    void pair(Index, int, Pair) {}
    void element(Index, double) {}
    void tail(Index, double) {}
    void endColumn(Index) {}
};

// The working copy, for the searches that shift elements in place.
struct CopyPart : Part {
    static constexpr bool on = true;
    double* work;
    Index rows;
    double* to = nullptr;

    void startColumn(Index c, const double*) { to = work + rows * c; }
    template <bool noting = false>
    PAIRSOLVE_INLINED void pair(Index i, int, Pair v) { store(to + i, v); }
    void element(Index r, double v) { to[r] = v; }
};

// The row minima, `m > x` on each row in column order: the first column starts them and each
// later one lowers them, as the row reduction finds them, but with +inf lowering none. As
// forbidden pairs are replaced later, they hold as they are only if no element is infinite, and
// if none is -inf, where they are finite (forbiddenValue is above every finite element).
//
// With noting, also what the offset search's row reduction would read the matrix again for,
// where the minima hold (no -inf; a row of +inf alone is settled by the reduction): each row's
// zero columns (RowZeros) and, in colBound, a lower bound on each column's elements of R. Row r's
// zeros in R are the finite elements equal to its minimum, as x - m is 0 only where x == m: the
// first is where the minimum last went down, the others tie with it later on. So an element at or
// below its row's minimum so far, m, either lowers it (the row's list starts again at this
// column) or ties with it (one more column): a branch taken rarely, as a minimum soon stops
// falling. Only that branch writes the minima. Every other finite element x has
// x >= m >= the final minimum, so fl(x - m) is at most its element of R; the least of those (with
// a negative value, from a lowering, standing for 0) bounds the column's finite elements, and the
// reduction bounds its forbidden pairs. As a failed first reading of a block is followed by
// another reading of the same elements, a tie already noted in this column (last) is not noted
// again; a lowering cannot recur, nor can a lower bound suffer from a repeat.
//
// In lanes (noting), rows go by in groups of 16: each finite element x gives x - m, which is at
// most 0 exactly where x <= m (and -inf where m is +inf), while +inf gives +inf or NaN
// (+inf - +inf), which no minimum takes. So the least x - m of a group tells both whether one of
// its rows needs noting (the group is then read again, row by row) and the group's share of the
// bound: two operations an element. Where lanes lower the minima without noting (while lowest
// bits are gathered: dense ties would take the branch too often), the form clears zerosNoted.
template <bool noting>
struct RowMinima : Part {
    static constexpr bool on = true;
    double* minimum;  // null: no row minima
    Index rows;
    RowZeros zeros;
    double* colBound;
    double* lowering = nullptr;  // the minima, from the second column on
    const double* from = nullptr;
    Index column = 0;
    double bound = infinity;     // the least fl(x - m) of the column
    LanesLeast<2> differences;

    void startColumn(Index c, const double* columnFrom) {
        from = columnFrom;
        column = c;
        bound = infinity;
        lowering = c > 0 ? minimum : nullptr;
        if (c > 0 || minimum == nullptr) return;
        for (Index r = 0; r < rows; ++r) minimum[r] = from[r];
        if (!noting) return;
        // Each finite element of the first column is its row's minimum so far.
        for (Index r = 0; r < rows; ++r) {
            const bool finite = from[r] >= -DBL_MAX && from[r] <= DBL_MAX;
            zeros.count[r] = finite ? 1 : 0;
            zeros.columns[zeroListSize * r] = 0;
            zeros.last[r] = finite ? 0 : none;
        }
        colBound[0] = 0;
    }
    // Row r's finite element v at or below its minimum so far, m.
    void noteLow(Index r, double v, double m) {
        if (v < m) {
            lowering[r] = v;
            zeros.count[r] = 0;  // the row's list starts again here
            zeros.note(r, column);
        } else if (zeros.last[r] != column) {
            zeros.note(r, column);
        }
    }
    template <bool notingNow = false>
    PAIRSOLVE_INLINED void pair(Index i, int k, Pair v) {
        if (lowering == nullptr) return;
        if constexpr (notingNow)
            differences.take(k, v - load(lowering + i));
        else
            store(lowering + i, lesser(v, load(lowering + i)));
    }
    void element(Index r, double v) {
        if (lowering == nullptr) return;
        const double m = lowering[r];
        if (noting && v >= -DBL_MAX && v <= DBL_MAX) live(r, v);
        if (m > v) lowering[r] = v;
    }
    // A finite element (also as the reading that passes over groups of +inf meets it).
    void live(Index r, double v) {
        if (lowering == nullptr) return;
        const double m = lowering[r];
        if (v <= m) noteLow(r, v, m);
        if (bound > v - m) bound = v - m;
    }
    bool grouped() const { return noting && lowering != nullptr; }
    // The rows of a group in lanes, first to last: the lanes where x - m <= 0 are taken from a
    // bit mask in ascending order (no branch a row).
    void endGroup(Index first, Index last) {
        const double groupLeast = differences.value();
        if (groupLeast <= 0) {
            unsigned low = 0;
            Index r = first;
            for (; r + 2 <= last; r += 2) {
                const Pair d = load(from + r) - load(lowering + r);
                low |= static_cast<unsigned>(laneBits(atMost(d, both(0.0)))) << (r - first);
            }
            if (r < last && from[r] - lowering[r] <= 0) low |= 1u << (r - first);
            for (; low != 0; low &= low - 1) {
                const Index row = first + lowestSetBit(low);
                noteLow(row, from[row], lowering[row]);
            }
        }
        if (bound > groupLeast) bound = groupLeast;
        differences = LanesLeast<2>();
    }
    void endColumn(Index c) {
        if (noting && c > 0) colBound[c] = bound > 0 ? bound : 0;
    }
};

// A column's finite elements, known while every block of it is read by the reading that passes
// over groups of +inf: only there does finding them cost little (the groups left are few in a
// gated matrix, where it matters); any other reading of a block makes them not known.
template <bool kept>
struct FiniteKeeper : Part {
    static constexpr bool on = kept;
    FiniteLists lists;
    Index column = 0;
    const double* from = nullptr;
    Index count = 0;
    bool known = true;

    void startColumn(Index c, const double* columnFrom) {
        column = c;
        from = columnFrom;
        count = 0;
        known = true;
    }
    bool keeping() const { return count <= finiteListSize; }
    void keep(Index r) {
        if (count < finiteListSize) {
            lists.rows[finiteListSize * column + count] = r;
            lists.values[finiteListSize * column + count] = from[r];
        }
        ++count;
    }
    void endColumn(Index c) {
        if (kept) lists.count[c] = known && count <= finiteListSize ? count : finiteListSize + 1;
    }
};

// When columns are reduced: each column's least value, found in any order, and the three
// smallest least values of its blocks (or rows, where a block is read row by row), the first two
// with where they start. Then the least's block is read again from there (the column was read
// lately): its first element equal to the least, with forbidden pairs as +inf, is the column's,
// as each element above was above the least of its time, and that was above the column's. That
// row goes to firstZero, and its element, whose bits a reduction's minimum takes, to least. The
// same reading gives next, and nextRow where next lies there or in the second's block (read too,
// then), and rest: the third smallest least bounds every other block.
struct ColumnLeastPart : Part {
    static constexpr bool on = true;
    ColumnLeast out;
    Index rows;
    Index blockSize;
    const double* from = nullptr;
    Smallest<3, Index> smallest;
    LanesLeast<2> block;
    double blockTail = infinity;

    void startColumn(Index, const double* columnFrom) {
        from = columnFrom;
        smallest.fill(infinity, 0);
    }
    void startBlock() {
        block = LanesLeast<2>();
        blockTail = infinity;
    }
    template <bool noting = false>
    PAIRSOLVE_INLINED void pair(Index, int k, Pair v) { block.take(k, v); }
    void tail(Index, double v) {
        if (blockTail > v) blockTail = v;
    }
    double blockLeast() {
        const double least = block.value();
        return least > blockTail ? blockTail : least;
    }
    void offer(double v, Index at) { smallest.offer(v, at); }
    void element(Index r, double v) {
        if (v >= -DBL_MAX) offer(v, r);
    }
    void endColumn(Index c);
};

void ColumnLeastPart::endColumn(Index c) {
    const double least = smallest.value[0], second = smallest.value[1], third = smallest.value[2];
    const Index leastRow = smallest.tag[0], secondRow = smallest.tag[1];
    const auto blockEnd = [&](Index r) { return std::min(r - r % blockSize + blockSize, rows); };
    const auto replaced = [&](Index i) {
        return from[i] >= -DBL_MAX && from[i] <= DBL_MAX ? from[i] : infinity;
    };
    // One reading of least's block (from secondRow on, if second's block is the same): r, the
    // first element equal to least (none above leastRow is), and the two smallest of the others
    // and of second and third: next, with a row when it lies there, and a bound on all but r and
    // that row.
    const Index end = blockEnd(leastRow), secondEnd = blockEnd(secondRow);
    Index r = end;
    double next = second, rest = third;
    Index nextRow = none;
    const Index readFrom = secondEnd == end ? std::min(leastRow, secondRow) : leastRow;
    for (Index i = readFrom; i < end; ++i) {
        const double v = replaced(i);
        if (r == end && v == least) {
            r = i;
            continue;
        }
        if (!(v < rest)) continue;
        if (v < next) {
            rest = next;
            next = v;
            nextRow = i;
        } else {
            rest = v;
        }
    }
    if (nextRow == none && next <= DBL_MAX && secondEnd != end) {
        // second's block: the first element equal to next (none above it is below), and every
        // other one into rest (where a -inf, which only lowers it, is left in).
        struct Values {
            const double* from;
            Pair pair(Index i) const { return load(from + i); }
            double at(Index i) const { return from[i]; }
        };
        Index i = secondRow;
        while (i < secondEnd && from[i] != next) ++i;
        nextRow = i;
        const double before = leastOf<2>(secondRow, i, Values{from});
        const double after = leastOf<2>(i + 1, secondEnd, Values{from});
        if (rest > before) rest = before;
        if (rest > after) rest = after;
    }
    out.least[c] = r < end && from[r] == least ? from[r] : least;
    out.firstZero[c] = r;
    out.next[c] = next;
    out.nextRow[c] = nextRow;
    out.rest[c] = nextRow == none ? next : rest;
}

// The parts of one form of the check, and the loop over the blocks of each column.
template <class Copy, class Rows, class Least, class Finite, bool noting>
struct Check {
    Copy copy;
    Rows rowsPart;
    Least least;
    Finite finite;
    const double* costMatrix;
    Index rows, cols;
    bool lowestBits;
    std::uint64_t limit;
    CheckResult facts{-1.0, false, false, false, MatrixSummary{}, noting};
    bool onlyFinite = true;  // every block so far held only finite elements not below 0
    const double* from = nullptr;

    PAIRSOLVE_INLINED void pair(Index i, int k, Pair v, bool lowerRows) {
        copy.pair(i, k, v);
        if (lowerRows) rowsPart.template pair<noting>(i, k, v);
        least.pair(i, k, v);
    }
    void tail(Index r, double v) {
        copy.element(r, v);
        rowsPart.element(r, v);
        least.tail(r, v);
    }
    void blockDone(Index start, bool finiteKnown) {
        if constexpr (Least::on) least.offer(least.blockLeast(), start);
        if (!finiteKnown) finite.known = false;
    }

    // The finite elements of the rows from first to last (an even count), as a reading that
    // passes over groups of +inf meets them, in ascending order: each into the row zeros as the
    // lanes would take it (x <= m just where x - m <= 0), and, keeping, into the column's finite
    // elements. In a gated matrix a group that is not all +inf holds one or two of them, for
    // which this costs less than a group's lanes do.
    void live(Index first, Index last, bool keeping) {
        unsigned finiteRows = 0;
        for (Index r = first; r < last; r += 2)
            finiteRows |= static_cast<unsigned>(laneBits(atMost(load(from + r), both(DBL_MAX))))
                          << (r - first);
        for (; finiteRows != 0; finiteRows &= finiteRows - 1) {
            const Index row = first + lowestSetBit(finiteRows);
            if constexpr (noting) rowsPart.live(row, from[row]);
            if (keeping) finite.keep(row);
        }
    }

    // Step (see overPairs) over the rows from start to end, and the groups' ends. With
    // skipInfinite, a group of 16 rows that are all +inf is not stepped over: the caller knows
    // already that the matrix holds +inf and a finite element, and nothing else can come of such
    // a group (+inf lowers no minimum or bound, notes no zero, and counts as +0 for the largest).
    // Forbidden pairs are most elements of a gated matrix, and this test costs two operations a
    // pair where stepping costs about ten. The groups stepped over then leave the row zeros to
    // live() (the step must not lower the minima).
    template <class Step>
    PAIRSOLVE_INLINED Index overRows(Index start, Index end, Step step, bool skipInfinite) {
        bool grouped = false;
        if constexpr (noting) grouped = rowsPart.grouped();
        const bool gathering = Finite::on && skipInfinite;
        const bool byRow = skipInfinite && (grouped || gathering);
        if (!grouped && !skipInfinite) return overPairs(start, end, step);
        Index r = start;
        if (skipInfinite) {
            // Up to 16 groups are tested first, with no branch a group, and then only those with
            // another element are stepped over, in ascending order: in a gated matrix which
            // groups those are is too random for a branch to foresee.
            while (r + 16 <= end) {
                const Index groups = std::min<Index>((end - r) / 16, 16);
                unsigned liveGroups = 0;
                for (Index g = 0; g < groups; ++g) {
                    const double* group = from + r + 16 * g;
                    PairMask infinite = load(group) == both(infinity);
                    for (Index i = 2; i < 16; i += 2)
                        infinite = bothOf(infinite, load(group + i) == both(infinity));
                    liveGroups |= static_cast<unsigned>(laneBits(infinite) != 3) << g;
                }
                for (; liveGroups != 0; liveGroups &= liveGroups - 1) {
                    const Index first = r + 16 * lowestSetBit(liveGroups);
                    overPairs(first, first + 16, step);
                    if (byRow) live(first, first + 16, gathering && finite.keeping());
                }
                r += 16 * groups;
            }
        } else {
            for (; r + 16 <= end; r += 16) {
                overPairs(r, r + 16, step);
                if constexpr (noting) rowsPart.endGroup(r, r + 16);
            }
        }
        const Index last = overPairs(r, end, step);
        if (byRow) {
            live(r, last, gathering);
            if (gathering && last < end && from[last] <= DBL_MAX) finite.keep(last);
        } else if (grouped) {
            if constexpr (noting) rowsPart.endGroup(r, last);
        }
        return last;
    }

    // All inlined into runCheck, so that the form's parts stay in registers.
    PAIRSOLVE_INLINED bool readOnlyFinite(Index start, Index end);
    PAIRSOLVE_INLINED bool readInLanes(Index start, Index end);
    PAIRSOLVE_INLINED void readByElement(Index start, Index end);
    PAIRSOLVE_INLINED void run();
};

// The first reading (see the top of this file). With lowestBits, the lowest bit stays as it is
// when every element is a multiple of 2^lowBit: 0, or at least 2^lowBit with x = v * 2^-lowBit
// (exact) an integer, which x is when x >= 2^52 and otherwise when (x + 2^52) - 2^52 gives x
// back. x may overflow to +inf only where v is at least 2^(lowBit + 53), a multiple of 2^lowBit,
// and +inf passes. A block with an element that is no such multiple is read element by element,
// which lowers the bit. When columns are gathered, the least of the lanes is below 0 where an
// element is (-inf too), and as minpd and maxpd pass over a NaN, only NaN needs a test of its own:
// one unordered comparison of the step's two pairs (pending, the first, and the second).
template <class Copy, class Rows, class Least, class Finite, bool noting>
inline bool Check<Copy, Rows, Least, Finite, noting>::readOnlyFinite(Index start, Index end) {
    const int lowBit = facts.summary.lowestBit;
    LanesMost<2> top(facts.maxFinite);
    if constexpr (Least::on) least.startBlock();
    const Pair lowest = both(0.0);
    PairMask notNegative = atLeast(lowest, lowest), multiple = notNegative;  // all set
    constexpr bool leastTests = Least::on;
    Pair pending = lowest;
    PairMask unordered = atLeast(lowest, both(DBL_MAX));  // all clear
    const auto step = [&](Index i, int k, auto notingNow, auto byLeast) PAIRSOLVE_INLINED {
        const Pair v = load(from + i);
        copy.pair(i, k, v);
        rowsPart.template pair<decltype(notingNow)::value>(i, k, v);
        least.pair(i, k, v);
        if constexpr (decltype(byLeast)::value) {
            if (k == 0)
                pending = v;
            else
                unordered = eitherOf(unordered, eitherNaN(pending, v));
        } else {
            notNegative = bothOf(notNegative, atLeast(v, lowest));
        }
        top.take(k, v);
        return v;
    };
    // Separate loops, so that the common ones carry no test of lowestBits a pair.
    Index r;
    if (lowestBits) {
        const Pair unit = both(std::ldexp(1.0, lowBit)), scale = both(std::ldexp(1.0, -lowBit)),
                   integral = both(0x1p52);
        if constexpr (noting) {
            if (rowsPart.grouped()) facts.zerosNoted = false;
        }
        r = overPairs(start, end, [&](Index i, int k) PAIRSOLVE_INLINED {
            const Pair v = step(i, k, std::false_type{}, std::false_type{}), x = v * scale;
            const PairMask whole = eitherOf((x + integral) - integral == x, atLeast(x, integral));
            multiple = bothOf(multiple, eitherOf(v == lowest, bothOf(atLeast(v, unit), whole)));
        });
    } else if constexpr (leastTests) {
        // (Columns come without the row minima: no group to end.) A last pair without a second
        // is tested with itself.
        r = overPairs(start, end, [&](Index i, int k) PAIRSOLVE_INLINED {
            step(i, k, std::false_type{}, std::true_type{});
        });
        unordered = eitherOf(unordered, eitherNaN(pending, pending));
    } else {
        r = overRows(start, end, [&](Index i, int k) PAIRSOLVE_INLINED {
            step(i, k, std::bool_constant<noting>{}, std::false_type{});
        }, false);
    }
    bool held = leastTests && !lowestBits ? laneBits(unordered) == 0 : laneBits(notNegative) == 3;
    bool kept = laneBits(multiple) == 3;
    double largest = top.value();
    for (; r < end; ++r) {
        const double v = from[r];
        tail(r, v);
        if (!(v >= 0)) held = false;
        if (largest < v) largest = v;
        if (lowestBits && v > 0 && v <= DBL_MAX && lowestBitOf(v) < lowBit) kept = false;
    }
    if constexpr (leastTests) {
        if (least.blockLeast() < 0) held = false;
    }
    if (!(held && largest <= DBL_MAX)) {
        onlyFinite = false;
        return false;
    }
    if (lowestBits && !kept) return false;
    facts.maxFinite = largest;
    blockDone(start, false);
    return true;
}

// The second reading, in lanes: two pairs a step, each with its own largest and least, so that
// two chains of maxpd and of minpd run side by side. Once a +inf and a finite element have been
// met, neither is looked for: the lanes of +inf then stand at +0, which the largest so far is not
// below.
template <class Copy, class Rows, class Least, class Finite, bool noting>
inline bool Check<Copy, Rows, Least, Finite, noting>::readInLanes(Index start, Index end) {
    LanesMost<2> top(facts.maxFinite);
    if constexpr (Least::on) least.startBlock();
    const Pair lowest = both(0.0), highest = both(DBL_MAX);
    PairMask notNegative = atLeast(lowest, lowest), allFinite = notNegative;
    PairMask someFinite = atLeast(lowest, highest);  // all clear
    const bool settled = facts.anyInfinity && facts.maxFinite >= 0;
    const auto step = [&](Index i, int k, auto settledNow) PAIRSOLVE_INLINED {
        const Pair v = load(from + i);
        // (A -inf lowers the minima here too: they do not hold then.) Where groups of +inf are
        // passed over (settled, no copy), live() takes the row zeros.
        pair(i, k, v, !(decltype(settledNow)::value && !Copy::on));
        const PairMask finite = atMost(v, highest);
        notNegative = bothOf(notNegative, atLeast(v, lowest));
        if constexpr (!decltype(settledNow)::value) {
            allFinite = bothOf(allFinite, finite);
            someFinite = eitherOf(someFinite, finite);
        }
        // +0 in place of +inf: the largest is exact wherever a lane is finite.
        top.take(k, pairFromBits(bothOf(bitsOf(v), finite)));
    };
    const Index r0 = settled ? overRows(start, end, [&](Index i, int k) PAIRSOLVE_INLINED {
        step(i, k, std::true_type{});
    }, !Copy::on) : overRows(start, end, [&](Index i, int k) PAIRSOLVE_INLINED {
        step(i, k, std::false_type{});
    }, false);
    bool odd = laneBits(notNegative) != 3;     // a lane not in [0, +inf]
    bool infinite = laneBits(allFinite) != 3;  // a lane at +inf
    bool anyFinite = settled || laneBits(someFinite) != 0;
    double largest = top.value();
    for (Index r = r0; r < end; ++r) {
        const double v = from[r];
        tail(r, v);
        if (!(v >= 0)) odd = true;
        if (v > DBL_MAX) infinite = true;
        if (v <= DBL_MAX) {
            anyFinite = true;
            if (largest < v) largest = v;
        }
    }
    if (odd) return false;
    if (anyFinite) facts.maxFinite = largest;
    blockDone(start, settled && !Copy::on);
    if (infinite) facts.anyNonFinite = facts.anyInfinity = true;
    return true;
}

template <class Copy, class Rows, class Least, class Finite, bool noting>
inline void Check<Copy, Rows, Least, Finite, noting>::readByElement(Index start, Index end) {
    finite.known = false;
    CheckResult& f = facts;
    for (Index r = start; r < end; ++r) {
        const double v = from[r];
        copy.element(r, v);
        rowsPart.element(r, v);
        least.element(r, v);
        if (!(v >= -DBL_MAX && v <= DBL_MAX)) {  // not finite
            f.anyNonFinite = true;
            if (v != v) {
                f.summary.anyNaN = true;
            } else {
                f.anyInfinity = true;
                if (v < 0) f.anyNegativeInfinity = true;
            }
            continue;
        }
        if (v < 0) mexErrMsgTxt(text::negativeElement);
        if (f.maxFinite < v) f.maxFinite = v;
        if (lowestBits && v != 0) {
            const int bit = lowestBitOf(v);
            if (bit < f.summary.lowestBit) {
                f.summary.lowestBit = bit;
                if (unitsOf(f.maxFinite, bit) > limit) {
                    f.summary.lowestBit = notExact;
                    lowestBits = false;
                }
            }
        }
    }
}

template <class Copy, class Rows, class Least, class Finite, bool noting>
inline void Check<Copy, Rows, Least, Finite, noting>::run() {
    // Shorter blocks with columns: where a column's least last went down is where the reading for
    // its first zero starts.
    const Index blockSize = Least::on ? 64 : 256;
    for (Index c = 0; c < cols; ++c) {
        from = costMatrix + rows * c;
        copy.startColumn(c, from);
        rowsPart.startColumn(c, from);
        least.startColumn(c, from);
        finite.startColumn(c, from);
        for (Index start = 0; start < rows; start += blockSize) {
            const Index end = std::min(start + blockSize, rows);
            for (Index r = start; r < end; r += 8) prefetchAhead(from + r);
            // While the lowest bits are gathered, only the first reading in lanes runs, and only
            // while 2^-lowestBit is finite (lowestBit >= -1022 here).
            if ((!lowestBits || facts.summary.lowestBit >= -1022) && end - start >= 4) {
                if (onlyFinite && readOnlyFinite(start, end)) continue;
                if (!lowestBits && readInLanes(start, end)) continue;
            }
            readByElement(start, end);
        }
        copy.endColumn(c);
        rowsPart.endColumn(c);
        least.endColumn(c);
        finite.endColumn(c);
    }
    if (facts.maxFinite > 0) facts.summary.largest = facts.maxFinite;
}

// Each form is kept out of line: inlined into the driver, how fast one form ran came to depend on
// the code of the others around it.
template <class Form>
PAIRSOLVE_NOINLINE CheckResult runCheck(Form form) {
    form.run();
    return form.facts;
}

}  // namespace

CheckResult checkAndGather(const double* costMatrix, Index rows, Index cols, const Gathering& g) {
    if (g.copy != nullptr) {
        Check<CopyPart, RowMinima<false>, Part, FiniteKeeper<false>, false> form{
            CopyPart{{}, g.copy, rows}, RowMinima<false>{{}, g.rowMinimum, rows, {}, nullptr},
            Part{}, FiniteKeeper<false>{},
            costMatrix, rows, cols, g.lowestBits, g.limit};
        return runCheck(form);
    }
    if (g.columns.least != nullptr) {
        Check<Part, Part, ColumnLeastPart, FiniteKeeper<false>, false> form{
            Part{}, Part{}, ColumnLeastPart{{}, g.columns, rows, 64}, FiniteKeeper<false>{},
            costMatrix, rows, cols, g.lowestBits, g.limit};
        return runCheck(form);
    }
    Check<Part, RowMinima<true>, Part, FiniteKeeper<true>, true> form{
        Part{}, RowMinima<true>{{}, g.rowMinimum, rows, g.zeros, g.colBound}, Part{},
        FiniteKeeper<true>{{}, g.finite}, costMatrix, rows, cols, g.lowestBits, g.limit};
    return runCheck(form);
}

}  // namespace pairsolve
