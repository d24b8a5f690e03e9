// The driver: checks the caller's matrix (copying it for the searches that work on a copy),
// replaces forbidden pairs, chooses the search, reduces one direction, seeds stars greedily, runs
// the phase machine and adds up the cost.
#include "assignment_solver.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "host_services.h"
#include "search_bookkeeping.h"

namespace pairsolve {

namespace {

using searchBookkeeping::lowestSetBit;
using searchBookkeeping::none;
using solverTesting::SearchChoice;

constexpr Index never = std::numeric_limits<Index>::max();
constexpr double infinity = std::numeric_limits<double>::infinity();

// Up to this many elements (64 x 64) the plain element-by-element search is the fastest: each of
// its shifts is one pass over the uncovered columns of a matrix that fits in the first-level
// cache, and it keeps little besides.
constexpr std::uint64_t plainElements = 4096;

// The largest integer w with w * 2(lineCount + 1) < 2^53 (offset_search.cpp says why that bound
// keeps every value of the offset search exact).
std::uint64_t exactLimit(std::uint64_t lineCount) {
    return ((std::uint64_t{1} << 53) - 1) / (2 * (lineCount + 1));
}

// A finite v > 0 as significand * 2^exponent, the significand an integer below 2^53.
void splitDouble(double v, std::uint64_t& significand, int& exponent) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int field = static_cast<int>((bits >> 52) & 0x7ff);
    significand = bits & ((std::uint64_t{1} << 52) - 1);
    if (field == 0) {  // subnormal
        exponent = -1074;
    } else {
        significand |= std::uint64_t{1} << 52;
        exponent = field - 1075;
    }
}

// The exponent of the lowest set bit of a finite v > 0: v is a multiple of 2 to that power.
int lowestBitOf(double v) {
    std::uint64_t significand;
    int exponent;
    splitDouble(v, significand, exponent);
    return exponent + lowestSetBit(significand);
}

// largest / 2^lowestBit, an integer (largest is a multiple of that power), or 2^53 when it is at
// least that. In integers, so that the choice involves no rounding at all.
std::uint64_t unitsOf(double largest, int lowestBit) {
    const std::uint64_t cap = std::uint64_t{1} << 53;
    if (!(largest > 0)) return 0;
    std::uint64_t significand;
    int exponent;
    splitDouble(largest, significand, exponent);
    const int shift = exponent - lowestBit;  // at least -(trailing zeros of the significand)
    if (shift < 0) return significand >> -shift;
    if (shift >= 53 || significand > (cap - 1) >> shift) return cap;
    return significand << shift;
}

// The largest finite element of the caller's matrix (-1.0 when there is none) and whether any
// element is not finite (NaN included), as the forbidden pairs need them; and the summary of the
// finite elements, for the choice of the search.
struct Scan {
    double maxFinite;
    bool anyInfinite;  // an element is not finite (NaN included)
    bool anyInfinity;  // an element is +inf or -inf: a forbidden pair
    bool anyNegativeInfinity;  // an element is -inf
    MatrixSummary summary;
    bool zerosNoted;  // copyAndCheck noted the rows' zeros and the column bounds
};

// Runs step(i, k) on the pairs of rows from start on, two pairs a step (k, 0 or 1, tells which
// chain a pair joins), and returns where they end: a last odd row is left to the caller. Always
// inlined, so that the chains stay in registers: the check is too long for the compiler to inline
// it by itself.
template <class Step>
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline Index overPairs(Index start, Index end, Step step) {
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

// No row has become 0 yet.
void clearZeros(Reduction& d, Index rows) {
    for (Index r = 0; r < rows; ++r) {
        d.zeroCount[r] = 0;
        d.lastZero[r] = -1;
    }
}

// Row r became 0 in column c, the columns coming in ascending order.
inline void noteZero(Reduction& d, Index r, Index c) {
    const Index n = d.zeroCount[r]++;
    if (n < zeroListSize) d.zeroColumns[zeroListSize * r + n] = c;
    d.lastZero[r] = c;
}

#if defined(PAIRSOLVE_PAIRS)
// The largest and the least over the lanes of two chains.
inline double largestOf(searchBookkeeping::Pair a, searchBookkeeping::Pair b) {
    a = searchBookkeeping::greater(b, a);
    return a[0] < a[1] ? a[1] : a[0];
}
inline double leastOf(searchBookkeeping::Pair a, searchBookkeeping::Pair b) {
    a = searchBookkeeping::lesser(b, a);
    return a[0] < a[1] ? a[0] : a[1];
}
#endif

// The least of the elements from first to last (+inf for none), `m > x` on each: a NaN is
// passed over, and a -inf taken.
double leastOfRows(const double* from, Index first, Index last) {
    double least = infinity;
    Index i = first;
#if defined(PAIRSOLVE_PAIRS)
    using namespace searchBookkeeping;
    Pair lanes[2] = {both(infinity), both(infinity)};
    for (; i + 4 <= last; i += 4) {
        lanes[0] = lesser(load(from + i), lanes[0]);
        lanes[1] = lesser(load(from + i + 2), lanes[1]);
    }
    least = leastOf(lanes[0], lanes[1]);
#endif
    for (; i < last; ++i)
        if (least > from[i]) least = from[i];
    return least;
}

// What the check gathers for each column when columns are reduced (copyAndCheck says how).
struct ColumnLeast {
    double* least;     // the minimum, with the bits of the first element equal to it
    Index* firstZero;  // that element's row
    double* next;      // at most each element but that one
    Index* nextRow;    // a row holding next, when it is finite, or none
    double* rest;      // at most each element but those two
};

// Checks costMatrix, refusing the first finite negative element in index order, and scans it;
// with copy, it also copies it into workMatrix in the same pass (else workMatrix is unused).
// -0.0 is a zero, not a negative; -inf and NaN pass. The finite elements' lowest bits are
// gathered only while they can still make the offsets exact (limit: the bound in units of the
// lowest bit), and only when the choice needs them. Elements are told apart by comparisons,
// which are the host's mxIsFinite and mxIsInf exactly, so that no element costs a call to the
// host. With rowMinimum, the row minima are gathered on the way, as gatherRowMinima gathers
// them, with +inf lowering none: as forbidden pairs are replaced later, they hold as they are
// only if no element is infinite (scan.anyInfinity), and if none is -inf, where they are finite
// (forbiddenValue is above every finite element). With columns, each column's least value is
// gathered likewise, in any order, and so are the three smallest least values of its blocks (or
// rows, where a block is read row by row), the first two with where they start. Then the least's
// block is read again from there (the column was read lately): its first element equal to the
// least, with forbidden pairs as +inf, is the column's, as each element above was above the least
// of its time, and that was above the column's. That row goes to firstZero, and its element,
// whose bits a reduction's minimum takes, to least (the least itself where that element is an
// infinity). The same reading gives next, at most each element but that one (-inf left out), and
// where it lies there or in the second's block (read too, then), nextRow, a row holding it, and
// rest, at most each element but those two: the third smallest least bounds every other block.
//
// With noteZeros (and rowMinimum), the pass also does what the row reduction of the offset search
// would read the matrix again for, where the row minima hold (no -inf; a row of +inf alone is
// settled by the driver): each row's zero columns (Reduction's lists) and, in colBound, a lower
// bound on each column's elements of R. Row r's zeros in R are the finite elements equal to its
// minimum, as x - m is 0 only where x == m: the first is where the minimum last went down, the
// others tie with it later on. So an element at or below its row's minimum so far, m, either
// lowers it (the row's list starts again at this column) or ties with it (one more column): a
// branch taken rarely, as a minimum soon stops falling. Only that branch writes the minima. Every
// other finite element x has x >= m >= the final minimum, so fl(x - m) is at most its element
// of R; the least of those (with a negative value, from a lowering, standing for 0) bounds the
// column's finite elements, and the driver bounds its forbidden pairs. As a failed first reading
// of a block is followed by another reading of the same elements, a tie already noted in this
// column (lastZero) is not noted again; a lowering cannot recur, nor can a lower bound suffer
// from a repeat. While the lowest bits are gathered, blocks are read in lanes without noting:
// dense ties would take the branch too often. So where that happens after the first column,
// zerosNoted is cleared, and the driver's reduction gathers it all. With the finite lists in
// zeros too (finiteCount), each column's finite elements are kept while they are few enough: only
// the reading that passes over groups of +inf keeps them, where most blocks are such groups, so
// a column with a block read any other way gets a count that says they are not known.
//
// Each form of the check is kept out of line: inlined into the driver, how fast one form ran came
// to depend on the code of the others around it.
template <bool copy, bool noteZeros>
#if defined(__GNUC__)
__attribute__((noinline))
#endif
Scan copyAndCheck(double* workMatrix, const double* costMatrix, Index rows, Index cols,
                  bool lowestBits, std::uint64_t limit, double* rowMinimum,
                  ColumnLeast* columns, Reduction* zeros, double* colBound) {
    Scan scan{-1.0, false, false, false, MatrixSummary{}, noteZeros};
    constexpr int notExact = -2000;  // a lowest bit no largest element can stay within the bound from
    // Shorter blocks with columns: where a column's least last went down is where the reading
    // for its first zero starts.
    const Index blockSize = columns != nullptr ? 64 : 256;
    // Whether every block so far held finite elements that are not negative, and nothing else.
    bool onlyFinite = true;
    const bool gatherFinite = noteZeros && zeros->finiteCount != nullptr;
    for (Index c = 0; c < cols; ++c) {
        const double* from = costMatrix + rows * c;
        double* to = copy ? workMatrix + rows * c : nullptr;
        // The first column starts the minima; each later one lowers them, `m > x` on each row.
        double* minima = c > 0 ? rowMinimum : nullptr;
        if (c == 0 && rowMinimum != nullptr) {
            for (Index r = 0; r < rows; ++r) rowMinimum[r] = from[r];
            if (noteZeros) {
                // Each finite element of the first column is its row's minimum so far.
                for (Index r = 0; r < rows; ++r) {
                    const bool finite = from[r] >= -DBL_MAX && from[r] <= DBL_MAX;
                    zeros->zeroCount[r] = finite ? 1 : 0;
                    zeros->zeroColumns[zeroListSize * r] = 0;
                    zeros->lastZero[r] = finite ? 0 : -1;
                }
                colBound[0] = 0;
            }
        }
        // With columns: the three smallest least values of the blocks (or rows) read, and where
        // the first two start. The column's least is the first.
        double least = infinity, second = infinity, third = infinity;
        Index leastRow = 0, secondRow = 0;
        const auto foldLeast = [&](double own, Index at) {
            if (own < least) {
                third = second;
                second = least;
                secondRow = leastRow;
                least = own;
                leastRow = at;
            } else if (own < second) {
                third = second;
                second = own;
                secondRow = at;
            } else if (own < third) {
                third = own;
            }
        };
        double bound = infinity;  // with noteZeros: the least fl(x - m) of the column
        // With gatherFinite: the column's finite elements, known while every block of it is read
        // by the reading that passes over groups of +inf (only there does finding them cost
        // little: the groups left are few in a gated matrix, where it matters).
        Index finite = 0;
        bool finiteKnown = true;
#if defined(PAIRSOLVE_PAIRS)
        const auto keepFinite = [&](Index r) {
            if (finite < finiteListSize) {
                zeros->finiteRows[finiteListSize * c + finite] = r;
                zeros->finiteValues[finiteListSize * c + finite] = from[r];
            }
            ++finite;
        };
#endif
        // Row r's finite element v at or below its minimum so far, m (noteZeros).
        const auto noteLow = [&](Index r, double v, double m) {
            if (v < m) {
                minima[r] = v;
                zeros->zeroCount[r] = 0;  // the row's list starts again here
                noteZero(*zeros, r, c);
            } else if (zeros->lastZero[r] != c) {
                noteZero(*zeros, r, c);
            }
        };
        // Row r's element v into the copy, and into its row's minimum, `m > x` (with noteZeros,
        // into its zeros and the column's bound too).
        const auto copyAndLower = [&](Index r, double v) {
            if (copy) to[r] = v;
            if (minima == nullptr) return;
            const double m = minima[r];
            if (noteZeros && v >= -DBL_MAX && v <= DBL_MAX) {
                if (v <= m) noteLow(r, v, m);
                if (bound > v - m) bound = v - m;
            }
            if (m > v) minima[r] = v;
        };
#if defined(PAIRSOLVE_PAIRS)
        // In lanes, with noteZeros, rows go by in groups of 16: each finite element x gives
        // x - m, which is at most 0 exactly where x <= m (and -inf where m is +inf), while +inf
        // gives +inf or NaN (+inf - +inf), which no minimum takes. So the least x - m of a group
        // tells both whether one of its rows needs noteLow (the group is then read again, row by
        // row) and the group's share of the bound: two operations an element.
        searchBookkeeping::Pair differences[2];
        const auto startGroup = [&] {
            differences[0] = differences[1] = searchBookkeeping::both(infinity);
        };
        const auto endGroup = [&](Index first, Index last) {
            const double groupLeast = leastOf(differences[0], differences[1]);
            if (groupLeast <= 0) {
                // The rows again, the lanes where x - m <= 0 taken from a bit mask in ascending
                // order (no branch a row).
                using namespace searchBookkeeping;
                unsigned low = 0;
                Index r = first;
                for (; r + 2 <= last; r += 2) {
                    const Pair d = load(from + r) - load(minima + r);
                    low |= static_cast<unsigned>(laneBits(atMost(d, both(0.0)))) << (r - first);
                }
                if (r < last && from[r] - minima[r] <= 0) low |= 1u << (r - first);
                for (; low != 0; low &= low - 1) {
                    const Index row = first + __builtin_ctz(low);
                    noteLow(row, from[row], minima[row]);
                }
            }
            if (bound > groupLeast) bound = groupLeast;
            startGroup();
        };
        // The finite elements of the rows from first to last (an even count), as a reading that
        // passes over groups of +inf meets them, in ascending order: each into its row's minimum,
        // its zeros and the column's bound, as noteLow and the lanes above would take it (x <= m
        // just where x - m <= 0), and with gathering into the column's finite elements. In a
        // gated matrix a group that is not all +inf holds one or two of them, for which this
        // costs less than a group's lanes do.
        const auto lowerByRow = [&](Index first, Index last, bool gathering) {
            using namespace searchBookkeeping;
            unsigned finiteRows = 0;
            for (Index r = first; r < last; r += 2)
                finiteRows |= static_cast<unsigned>(laneBits(atMost(load(from + r), both(DBL_MAX))))
                              << (r - first);
            for (; finiteRows != 0; finiteRows &= finiteRows - 1) {
                const Index row = first + __builtin_ctz(finiteRows);
                const double v = from[row];
                if constexpr (noteZeros) {
                    if (minima != nullptr) {
                        const double m = minima[row];
                        if (v <= m) noteLow(row, v, m);
                        if (bound > v - m) bound = v - m;
                    }
                }
                if (gathering) keepFinite(row);
            }
        };
        // Step (see overPairs) over the rows from start to end, and the groups' ends. With
        // skipInfinite, a group of 16 rows that are all +inf is not stepped over: the caller
        // knows already that the matrix holds +inf and a finite element, and nothing else can
        // come of such a group (+inf lowers no minimum or bound, notes no zero, and counts as
        // +0 for the largest). Forbidden pairs are most elements of a gated matrix, and this
        // test costs two operations a pair where stepping costs about ten. The groups stepped
        // over then leave the minima to lowerByRow (the step must not lower them). Like the
        // steps, it is always inlined, for the reason overPairs is.
        const auto overRows = [&](Index start, Index end, auto step,
                                  bool skipInfinite) PAIRSOLVE_INLINED {
            const bool grouped = noteZeros && minima != nullptr;
            const bool gathering = gatherFinite && skipInfinite;
            const bool byRow = skipInfinite && (grouped || gathering);
            if (!grouped && !skipInfinite) return overPairs(start, end, step);
            if (grouped && !skipInfinite) startGroup();
            Index r = start;
            if (skipInfinite) {
                // Up to 16 groups are tested first, with no branch a group, and then only those
                // with another element are stepped over, in ascending order: in a gated matrix
                // which groups those are is too random for a branch to foresee.
                using namespace searchBookkeeping;
                while (r + 16 <= end) {
                    const Index groups = std::min<Index>((end - r) / 16, 16);
                    unsigned live = 0;
                    for (Index g = 0; g < groups; ++g) {
                        const double* group = from + r + 16 * g;
                        PairMask infinite = (PairMask)(load(group) == both(infinity));
                        for (Index i = 2; i < 16; i += 2)
                            infinite = bothOf(infinite, (PairMask)(load(group + i) == both(infinity)));
                        live |= static_cast<unsigned>(laneBits(infinite) != 3) << g;
                    }
                    for (; live != 0; live &= live - 1) {
                        const Index first = r + 16 * __builtin_ctz(live);
                        overPairs(first, first + 16, step);
                        if (byRow)
                            lowerByRow(first, first + 16, gathering && finite <= finiteListSize);
                    }
                    r += 16 * groups;
                }
            } else {
                for (; r + 16 <= end; r += 16) {
                    overPairs(r, r + 16, step);
                    if (grouped) endGroup(r, r + 16);
                }
            }
            const Index last = overPairs(r, end, step);
            if (byRow) {
                lowerByRow(r, last, gathering);
                if (gathering && last < end && from[last] <= DBL_MAX) keepFinite(last);
            } else if (grouped) {
                endGroup(r, last);
            }
            return last;
        };
#endif
        for (Index start = 0; start < rows; start += blockSize) {
            const Index end = std::min(start + blockSize, rows);
            for (Index r = start; r < end; r += 8) searchBookkeeping::prefetchAhead(from + r);
#if defined(PAIRSOLVE_PAIRS)
            // Most blocks hold only elements in [0, +inf]: finite and not negative, or forbidden
            // pairs. Such a block is copied and its largest finite element found in lanes
            // (without a NaN the largest value is the same in any order; only the sign of a
            // zero could differ, and the scan's largest is only compared with 0 and used when
            // above it). A block that holds anything else is read again element by element.
            // While the lowest bits are gathered, only the first reading below runs, and only
            // while 2^-lowestBit is finite (lowestBit >= -1022 here).
            const int lowBit = scan.summary.lowestBit;
            if ((!lowestBits || lowBit >= -1022) && end - start >= 4) {
                using namespace searchBookkeeping;
                const Pair lowest = both(0.0), highest = both(DBL_MAX);
                // While every block has held only finite elements that are not negative, a block
                // is first read on that assumption, with fewer tests: one mask for a lane below
                // 0 or NaN, and the largest and least of all lanes. When the assumption holds
                // (the mask clear, the largest finite), the block's largest element is its
                // largest finite one, and the results are those of the reading below; when it
                // fails, that reading makes them (copying again, and lowering the minima again
                // by the same elements, which leaves them as they are), and so does every later
                // block.
                //
                // With lowestBits, the lowest bit stays as it is when every element is a multiple
                // of 2^lowBit: 0, or at least 2^lowBit with x = v * 2^-lowBit (exact) an
                // integer, which x is when x >= 2^52 and otherwise when (x + 2^52) - 2^52 gives
                // x back. x may overflow to +inf only where v is at least 2^(lowBit + 53), a
                // multiple of 2^lowBit, and +inf passes. A block with an element that is no such
                // multiple is read by the element-by-element reading, which lowers the bit.
                if (onlyFinite) {
                    Pair top[2] = {both(scan.maxFinite), both(scan.maxFinite)};
                    Pair low[2] = {both(infinity), both(infinity)};
                    PairMask notNegative = atLeast(lowest, lowest);
                    PairMask multiple = notNegative;  // all set
                    // With columns, the least of the lanes is below 0 where an element is (-inf
                    // too), and as minpd and maxpd pass over a NaN, only NaN needs a test of its
                    // own: one unordered comparison of the step's two pairs (pending, the first,
                    // and the second), not a mask a pair.
                    const bool leastTests = columns != nullptr;
                    Pair pending = both(0.0);
                    PairMask unordered = atLeast(lowest, highest);  // all clear
                    const auto step = [&](Index i, int k, auto noting,
                                          auto byLeast) PAIRSOLVE_INLINED {
                        const Pair v = load(from + i);
                        if (copy) store(to + i, v);
                        if (minima != nullptr) {
                            if constexpr (decltype(noting)::value)
                                differences[k] = lesser(v - load(minima + i), differences[k]);
                            else
                                store(minima + i, lesser(v, load(minima + i)));
                        }
                        if constexpr (decltype(byLeast)::value) {
                            if (k == 0)
                                pending = v;
                            else
                                unordered = eitherOf(unordered, eitherNaN(pending, v));
                        } else {
                            notNegative = bothOf(notNegative, atLeast(v, lowest));
                        }
                        top[k] = greater(v, top[k]);
                        if (columns != nullptr) low[k] = lesser(v, low[k]);
                        return v;
                    };
                    // Separate loops, so that the common ones carry no test of lowestBits a pair.
                    Index r;
                    if (lowestBits) {
                        const Pair unit = both(std::ldexp(1.0, lowBit)),
                                   scale = both(std::ldexp(1.0, -lowBit)), integral = both(0x1p52);
                        if (minima != nullptr) scan.zerosNoted = false;
                        r = overPairs(start, end, [&](Index i, int k) PAIRSOLVE_INLINED {
                            const Pair v = step(i, k, std::false_type{}, std::false_type{}),
                                       x = v * scale;
                            const PairMask whole = eitherOf(
                                (PairMask)((x + integral) - integral == x), atLeast(x, integral));
                            multiple = bothOf(multiple,
                                              eitherOf((PairMask)(v == lowest),
                                                       bothOf(atLeast(v, unit), whole)));
                        });
                    } else if (leastTests) {
                        // (columns come without the row minima: no group to end.) A last pair
                        // without a second is tested with itself.
                        r = overPairs(start, end, [&](Index i, int k) PAIRSOLVE_INLINED {
                            step(i, k, std::false_type{}, std::true_type{});
                        });
                        unordered = eitherOf(unordered, eitherNaN(pending, pending));
                    } else {
                        r = overRows(start, end, [&](Index i, int k) PAIRSOLVE_INLINED {
                            step(i, k, std::bool_constant<noteZeros>{}, std::false_type{});
                        }, false);
                    }
                    bool held = leastTests && !lowestBits ? laneBits(unordered) == 0
                                                          : laneBits(notNegative) == 3;
                    bool kept = laneBits(multiple) == 3;
                    double largest = largestOf(top[0], top[1]);
                    double blockLeast = leastOf(low[0], low[1]);
                    for (; r < end; ++r) {
                        const double v = from[r];
                        copyAndLower(r, v);
                        if (!(v >= 0)) held = false;
                        if (largest < v) largest = v;
                        if (blockLeast > v) blockLeast = v;
                        if (lowestBits && v > 0 && v <= DBL_MAX && lowestBitOf(v) < lowBit)
                            kept = false;
                    }
                    if (leastTests && blockLeast < 0) held = false;
                    if (held && largest <= DBL_MAX) {
                        if (!lowestBits || kept) {
                            scan.maxFinite = largest;
                            foldLeast(blockLeast, start);
                            finiteKnown = false;
                            continue;
                        }
                    } else {
                        onlyFinite = false;
                    }
                }
                // The second reading does not gather lowest bits.
                if (!lowestBits) {
                    // Two pairs a step, each with its own largest and least, so that two chains of
                    // maxpd and of minpd run side by side.
                    Pair top[2] = {both(scan.maxFinite), both(scan.maxFinite)};
                    Pair low[2] = {both(infinity), both(infinity)};
                    PairMask notNegative = atLeast(lowest, lowest), allFinite = notNegative;
                    PairMask someFinite = atLeast(lowest, highest);  // all clear
                    // Once a +inf and a finite element have been met, neither is looked for: the
                    // lanes of +inf then stand at +0, which the largest so far is not below.
                    const bool settled = scan.anyInfinity && scan.maxFinite >= 0;
                    const auto step = [&](Index i, int k, auto settledNow) PAIRSOLVE_INLINED {
                        const Pair v = load(from + i);
                        if (copy) store(to + i, v);
                        // (A -inf lowers the minima here too: they do not hold then.) Where
                        // groups of +inf are passed over (settled, no copy), lowerByRow lowers
                        // them.
                        if (minima != nullptr && !(decltype(settledNow)::value && !copy)) {
                            if (noteZeros)
                                differences[k] = lesser(v - load(minima + i), differences[k]);
                            else
                                store(minima + i, lesser(v, load(minima + i)));
                        }
                        const PairMask finite = atMost(v, highest);
                        notNegative = bothOf(notNegative, atLeast(v, lowest));
                        if constexpr (!decltype(settledNow)::value) {
                            allFinite = bothOf(allFinite, finite);
                            someFinite = eitherOf(someFinite, finite);
                        }
                        // +0 in place of +inf: the largest is exact wherever a lane is finite.
                        top[k] = greater((Pair)bothOf((PairMask)v, finite), top[k]);
                        if (columns != nullptr) low[k] = lesser(v, low[k]);
                    };
                    Index r = settled ? overRows(start, end, [&](Index i, int k) PAIRSOLVE_INLINED {
                        step(i, k, std::true_type{});
                    }, !copy) : overRows(start, end, [&](Index i, int k) PAIRSOLVE_INLINED {
                        step(i, k, std::false_type{});
                    }, false);
                    int odd = laneBits(notNegative) != 3;     // a lane not in [0, +inf]
                    int infinite = laneBits(allFinite) != 3;  // a lane at +inf
                    int anyFinite = settled || laneBits(someFinite) != 0;
                    double largest = largestOf(top[0], top[1]);
                    double blockLeast = leastOf(low[0], low[1]);
                    for (; r < end; ++r) {
                        const double v = from[r];
                        copyAndLower(r, v);
                        if (blockLeast > v) blockLeast = v;
                        if (!(v >= 0)) odd = 1;
                        if (v > DBL_MAX) infinite = 1;
                        if (v <= DBL_MAX) {
                            anyFinite = 1;
                            if (largest < v) largest = v;
                        }
                    }
                    if (odd == 0) {
                        if (!settled || copy) finiteKnown = false;
                        if (anyFinite != 0) scan.maxFinite = largest;
                        foldLeast(blockLeast, start);
                        if (infinite != 0) scan.anyInfinite = scan.anyInfinity = true;
                        continue;
                    }
                }
            }
#endif
            finiteKnown = false;
            for (Index r = start; r < end; ++r) {
                const double v = from[r];
                copyAndLower(r, v);
                if (v >= -DBL_MAX) foldLeast(v, r);
                if (!(v >= -DBL_MAX && v <= DBL_MAX)) {  // not finite
                    scan.anyInfinite = true;
                    if (v != v) {
                        scan.summary.anyNaN = true;
                    } else {
                        scan.anyInfinity = true;
                        if (v < 0) scan.anyNegativeInfinity = true;
                    }
                    continue;
                }
                if (v < 0) mexErrMsgTxt(text::negativeElement);
                if (scan.maxFinite < v) scan.maxFinite = v;
                if (lowestBits && v != 0) {
                    const int bit = lowestBitOf(v);
                    if (bit < scan.summary.lowestBit) {
                        scan.summary.lowestBit = bit;
                        if (unitsOf(scan.maxFinite, bit) > limit) {
                            scan.summary.lowestBit = notExact;
                            lowestBits = false;
                        }
                    }
                }
            }
        }
        if (columns != nullptr) {
            const auto blockEnd = [&](Index r) {
                return std::min(r - r % blockSize + blockSize, rows);
            };
            // Forbidden pairs are +inf here, as they are replaced (an infinity of either sign).
            const auto replaced = [&](Index i) {
                return from[i] >= -DBL_MAX && from[i] <= DBL_MAX ? from[i] : infinity;
            };
            // One reading of least's block (from secondRow on, if second's block is the same):
            // r, the first element equal to least (the column's first zero once it is reduced;
            // none above leastRow is), and the two smallest of the others and of second and
            // third: next, with a row when it lies there, and a bound on all but r and that row.
            // When next is second, its row is found in second's block, and the rest of that block
            // bounded too.
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
                // second's block: the first element equal to next (none above it is below), and
                // every other one into rest (where a -inf, which only lowers it, is left in).
                Index i = secondRow;
                while (i < secondEnd && from[i] != next) ++i;
                nextRow = i;
                const double before = leastOfRows(from, secondRow, i);
                const double after = leastOfRows(from, i + 1, secondEnd);
                if (rest > before) rest = before;
                if (rest > after) rest = after;
            }
            columns->least[c] = r < end && from[r] == least ? from[r] : least;
            columns->firstZero[c] = r;
            columns->next[c] = next;
            columns->nextRow[c] = nextRow;
            columns->rest[c] = nextRow == none ? next : rest;
        }
        if (noteZeros && c > 0) colBound[c] = bound > 0 ? bound : 0;
        if (gatherFinite)
            zeros->finiteCount[c] = finiteKnown && finite <= finiteListSize ? finite : finiteListSize + 1;
    }
    if (scan.maxFinite > 0) scan.summary.largest = scan.maxFinite;
    return scan;
}

// A column of the working copy, read as a CostColumn is.
struct MemoryColumn {
    const double* values;
    double at(Index r) const { return values[r]; }
#if defined(PAIRSOLVE_PAIRS)
    searchBookkeeping::Pair pairAt(Index r) const { return searchBookkeeping::load(values + r); }
#endif
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
#if defined(PAIRSOLVE_PAIRS)
        using namespace searchBookkeeping;
        for (; r + 2 <= rows; r += 2)
            store(rowMinimum + r, lesser(column.pairAt(r), load(rowMinimum + r)));
#endif
        for (; r < rows; ++r) {
            const double v = column.at(r);
            if (rowMinimum[r] > v) rowMinimum[r] = v;
        }
    }
}

// Subtracts each row's minimum (gatherRowMinima; a NaN first element turns its row into NaN),
// and notes where rows became 0 (Reduction). minimaKnown: the copy gathered the minima already.
void reduceRows(double* work, Index rows, Index cols, Reduction& reduction, bool minimaKnown) {
    double* rowMinimum = reduction.rowMinimum;
    clearZeros(reduction, rows);
    if (!minimaKnown)
        gatherRowMinima([&](Index c) { return MemoryColumn{work + rows * c}; }, rows, cols,
                        rowMinimum);
    // Few elements become 0: zeros are noted only where they do.
    for (Index c = 0; c < cols; ++c) {
        double* column = work + rows * c;
        Index r = 0;
#if defined(PAIRSOLVE_PAIRS)
        using namespace searchBookkeeping;
        for (; r + 2 <= rows; r += 2) {
            const Pair d = load(column + r) - load(rowMinimum + r);
            store(column + r, d);
            const int zeros = laneBits(d == both(0.0));
            if (zeros == 0) continue;
            for (Index j = 0; j < 2; ++j)
                if ((zeros >> j & 1) != 0) noteZero(reduction, r + j, c);
        }
#endif
        for (; r < rows; ++r) {
            column[r] = column[r] - rowMinimum[r];
            if (column[r] == 0) noteZero(reduction, r, c);
        }
    }
}

// The minimum of a column as `if (m > x) m = x` finds it over the column in order from its first
// element: a NaN first element is kept (no comparison with it holds); otherwise it is the least
// element that is not NaN and, among elements comparing equal to it, the first. Only +0 and -0
// compare equal with different bits, so the least value can be found in any order (in lanes,
// each starting from the first element, so none ever holds a NaN), and when it is a zero, the
// first zero of the column is the one the loop would have kept. Column: a column of the working
// copy (MemoryColumn) or of the caller's matrix (CostColumn).
template <class Column>
double columnMinimum(const Column& column, Index rows) {
    double m = column.at(0);
    if (m != m) return m;
    Index r = 1;
#if defined(PAIRSOLVE_PAIRS)
    using namespace searchBookkeeping;
    constexpr int lanes = 4;  // pairs in flight: independent chains
    Pair least[lanes];
    for (int k = 0; k < lanes; ++k) least[k] = both(m);
    for (; r + 2 * lanes <= rows; r += 2 * lanes) {
        for (int k = 0; k < lanes; ++k) {
            const Pair x = column.pairAt(r + 2 * k);
            least[k] = lesser(x, least[k]);
        }
    }
    for (int k = 0; k < lanes; ++k)
        for (int j = 0; j < 2; ++j)
            if (m > least[k][j]) m = least[k][j];
#endif
    for (; r < rows; ++r)
        if (m > column.at(r)) m = column.at(r);
    if (m == 0) {
        for (r = 0; column.at(r) != 0; ++r) {
        }
        m = column.at(r);
    }
    return m;
}

// Subtracts each column's minimum (columnMinimum); firstZero[c] gets the first row where column c
// became 0, or rows.
void reduceColumns(double* work, Index rows, Index cols, Index* firstZero) {
    for (Index c = 0; c < cols; ++c) {
        double* column = work + rows * c;
        const double m = columnMinimum(MemoryColumn{column}, rows);
        Index first = rows, r = 0;
#if defined(PAIRSOLVE_PAIRS)
        using namespace searchBookkeeping;
        for (; r + 2 <= rows; r += 2) {
            const Pair d = load(column + r) - both(m);
            store(column + r, d);
            if (first == rows) {
                const int zeros = laneBits(d == both(0.0));
                if (zeros != 0) first = r + ((zeros & 1) != 0 ? 0 : 1);
            }
        }
#endif
        for (; r < rows; ++r) {
            column[r] = column[r] - m;
            if (first == rows && column[r] == 0) first = r;
        }
        firstZero[c] = first;
    }
}

// The reduction for the offset search, which reads R from the caller's matrix: the minima of the
// reduced direction, zeros for the other, and where the reduced lines became 0 (Reduction);
// nothing is written.
// The check gathered the minima with +inf lowering none (the row minima only while no element is
// -inf: rowsKnown). The forbidden value is above every finite element, so a line's minimum over
// its elements with forbidden pairs replaced is what was gathered where that is finite, and the
// forbidden value where the line holds no finite element: as reduceRows and reduceColumns find
// them. The check also found each column's first zero and the element there, whose bits the
// minimum takes (columnMinimum), and what bounds the others (ColumnLeast): no element is read
// here.
// zerosNoted: the check noted the rows' zeros and left bounds on the columns' finite elements of
// R in colMinimum (copyAndCheck); where the row minima hold too, only rows of +inf alone and the
// forbidden pairs are left to settle, and nothing is read. Otherwise, the pass below gathers all
// of it.
void reduceWithoutCopy(SolverState& s, bool rowsKnown, bool zerosNoted,
                       const ColumnLeast* columns) {
    using namespace searchBookkeeping;
    const Index rows = s.rowCount, cols = s.colCount;
    Reduction& d = s.reduction;
    if (rows <= cols && rowsKnown && zerosNoted) {
        // A row of +inf alone has the forbidden value for its minimum, and so 0 in every column.
        double most = 0;  // the largest row minimum
        for (Index r = 0; r < rows; ++r) {
            if (d.rowMinimum[r] > DBL_MAX) {
                // Its zeros are forbidden pairs: every column's list would need them.
                d.finiteCount = nullptr;
                d.rowMinimum[r] = d.forbiddenValue;
                d.zeroCount[r] = cols;
                for (Index c = 0; c < cols && c < zeroListSize; ++c)
                    d.zeroColumns[zeroListSize * r + c] = c;
                d.lastZero[r] = cols - 1;
            }
            if (most < d.rowMinimum[r]) most = d.rowMinimum[r];
        }
        // A forbidden pair's element of R, fl(forbiddenValue - m), is at least
        // fl(forbiddenValue - most), as rounding keeps order (+inf when there is none).
        const double forbiddenLeast = d.forbiddenValue - most;
        d.forbiddenLeast = forbiddenLeast;
        const bool listed = rows >= listedRows;
        for (Index c = 0; c < cols; ++c) {
            const double least = d.colMinimum[c] < forbiddenLeast ? d.colMinimum[c] : forbiddenLeast;
            if (listed) s.offset.topLeast[c] = s.offset.topBound[c] = least;
            d.colMinimum[c] = 0;
        }
    } else if (rows <= cols) {
        d.finiteCount = nullptr;
        for (Index c = 0; c < cols; ++c) d.colMinimum[c] = 0;
        if (!rowsKnown)
            gatherRowMinima([&](Index c) { return costColumn(s, c); }, rows, cols, d.rowMinimum);
        for (Index r = 0; r < rows; ++r)
            if (d.rowMinimum[r] > DBL_MAX) d.rowMinimum[r] = d.forbiddenValue;
        clearZeros(d, rows);
        // On the way, each column's least element of R, which bounds every key of the column
        // from below for the rest of the call (keys only grow): a listed column starts with an
        // empty list that says so, and is read for its list only once a search reaches that far.
        const bool listed = rows >= listedRows;
        for (Index c = 0; c < cols; ++c) {
            const ReducedColumn column = reducedColumn(s, c);
            double least = infinity;
            Index r = 0;
#if defined(PAIRSOLVE_PAIRS)
            // Four chains of minima side by side; the zeros from one mask of eight rows.
            Pair leastPair[4] = {both(least), both(least), both(least), both(least)};
            for (; r + 8 <= rows; r += 8) {
                prefetchAhead(column.cost.cost + r);
                int zeros = 0;
                for (int i = 0; i < 4; ++i) {
                    const Pair x = column.pairAt(r + 2 * i);
                    leastPair[i] = lesser(x, leastPair[i]);
                    zeros |= laneBits(x == both(0.0)) << (2 * i);
                }
                for (; zeros != 0; zeros &= zeros - 1)
                    noteZero(d, r + __builtin_ctz(static_cast<unsigned>(zeros)), c);
            }
            leastPair[0] = lesser(leastPair[1], leastPair[0]);
            leastPair[2] = lesser(leastPair[3], leastPair[2]);
            leastPair[0] = lesser(leastPair[2], leastPair[0]);
            least = leastPair[0][1] < leastPair[0][0] ? leastPair[0][1] : leastPair[0][0];
#endif
            for (; r < rows; ++r) {
                const double x = column.at(r);
                if (x < least) least = x;
                if (x == 0) noteZero(d, r, c);
            }
            if (listed) s.offset.topLeast[c] = s.offset.topBound[c] = least;
        }
    } else {
        for (Index r = 0; r < rows; ++r) d.rowMinimum[r] = 0;
        d.colNext = columns->next;
        for (Index c = 0; c < cols; ++c) {
            const Index r = columns->firstZero[c];
            d.firstZero[c] = r;
            if (d.colMinimum[c] > DBL_MAX) d.colMinimum[c] = d.forbiddenValue;
            // A listed column's list starts with its first zero, and a row that holds next when
            // there is one, and topBound bounds the others: fl(x - colMinimum) >= fl(y -
            // colMinimum) for each of them, as rounding keeps order, with y at most each (rest,
            // or next without a second row; forbidden pairs at forbiddenValue). So a column is
            // first read whole only when a search needs more than these rows: in a tall matrix
            // most rows are never covered, so the second row stands for the column's least key
            // once the first one's row is covered.
            if (rows >= listedRows) {
                const auto belowForbidden = [&](double v) {
                    return v < d.forbiddenValue ? v : d.forbiddenValue;
                };
                Index* top = s.offset.topRows + columnTopSize * c;
                double* value = s.offset.topValues + columnTopSize * c;
                top[0] = r;
                value[0] = 0;  // fl(x - x)
                s.offset.topCount[c] = 1;
                double others = belowForbidden(columns->next[c]);
                if (columns->nextRow[c] >= 0) {
                    top[1] = columns->nextRow[c];
                    value[1] = columns->next[c] - d.colMinimum[c];
                    s.offset.topCount[c] = 2;
                    others = belowForbidden(columns->rest[c]);
                }
                s.offset.topLeast[c] = 0;
                s.offset.topBound[c] = others - d.colMinimum[c];
            }
        }
    }
}

// The first row from `from` on where the column (of R) holds 0, or rows. Eight rows a step: a
// column has few zeros.
template <class Column>
Index nextZero(const Column& column, Index from, Index rows) {
    Index r = from;
#if defined(PAIRSOLVE_PAIRS)
    using namespace searchBookkeeping;
    const Pair zero = both(0.0);
    for (; r + 8 <= rows; r += 8) {
        const PairMask hit = eitherOf(eitherOf(column.pairAt(r) == zero, column.pairAt(r + 2) == zero),
                                      eitherOf(column.pairAt(r + 4) == zero, column.pairAt(r + 6) == zero));
        if (laneBits(hit) != 0) break;  // found row by row below
    }
#endif
    while (r < rows && column.at(r) != 0) ++r;
    return r;
}

// Element (r, c) of R: from the working copy when there is one, else formed from the caller's
// matrix.
double reducedElement(const SolverState& s, Index r, Index c) {
    return s.workMatrix != nullptr ? s.workMatrix[r + static_cast<Index>(s.rowCount) * c]
                                   : searchBookkeeping::reducedColumn(s, c).at(r);
}

// Writes R out from the caller's matrix (the offset search took no working copy, and the
// element-by-element search needs one): the reduction's operations on each element, so the
// reduction's values, which seeding and the search then read from the copy.
void writeReduced(SolverState& s, double* work) {
    using namespace searchBookkeeping;
    const Index rows = s.rowCount, cols = s.colCount;
    for (Index c = 0; c < cols; ++c) {
        const ReducedColumn column = reducedColumn(s, c);
        double* to = work + rows * c;
        Index r = 0;
#if defined(PAIRSOLVE_PAIRS)
        for (; r + 2 <= rows; r += 2) store(to + r, column.pairAt(r));
#endif
        for (; r < rows; ++r) to[r] = column.at(r);
    }
}

void placeStar(SolverState& s, Index r, Index c) {
    s.matching.starInRow[r] = c;
    s.matching.starInCol[c] = r;
    ++s.matching.starCount;
    s.colCover[c] = 1;
}

// Rows in ascending order, each starring its first zero in a column not yet taken: from its
// listed zeros, and only when they are all taken and the row has more, by reading it from after
// the last listed one up to its last zero (the cover first: a taken column's element, a line of
// memory each, is not read).
void seedByRows(SolverState& s) {
    const Index rows = s.rowCount;
    const Reduction& d = s.reduction;
    for (Index r = 0; r < rows; ++r) {
        const Index count = d.zeroCount[r], listed = count < zeroListSize ? count : zeroListSize;
        const Index* zeros = d.zeroColumns + zeroListSize * r;
        Index i = 0;
        while (i < listed && s.colCover[zeros[i]]) ++i;
        if (i < listed) {
            placeStar(s, r, zeros[i]);
            continue;
        }
        if (count <= zeroListSize) continue;
        for (Index c = zeros[zeroListSize - 1] + 1; c <= d.lastZero[r]; ++c) {
            if (!s.colCover[c] && reducedElement(s, r, c) == 0) {
                placeStar(s, r, c);
                break;
            }
        }
    }
}

// Columns in ascending order, each starring its first zero in a row not yet taken. The rows are
// marked only to keep stars independent; they are cleared again, as the search starts with no
// row covered. No column holds a zero above its firstZero row, so the scan starts there.
void seedByColumns(SolverState& s) {
    const Index rows = s.rowCount, cols = s.colCount;
    const Reduction& d = s.reduction;
    for (Index c = 0; c < cols; ++c) {
        // The first zero is known without reading it, and so, where colNext tells, is that the
        // column holds no other.
        const Index first = d.firstZero[c];
        if (first >= rows) continue;
        if (!s.rowCover[first]) {
            placeStar(s, first, c);
            s.rowCover[first] = 1;
            continue;
        }
        if (d.colNext != nullptr && d.colNext[c] > d.colMinimum[c] &&
            d.forbiddenValue > d.colMinimum[c])
            continue;
        const auto seedColumn = [&](auto column) {
            for (Index r = nextZero(column, first + 1, rows); r < rows;
                 r = nextZero(column, r + 1, rows)) {
                if (!s.rowCover[r]) {
                    placeStar(s, r, c);
                    s.rowCover[r] = 1;
                    return;
                }
            }
        };
        if (s.workMatrix != nullptr)
            seedColumn(MemoryColumn{s.workMatrix + rows * c});
        else
            seedColumn(searchBookkeeping::reducedColumn(s, c));
    }
    for (Index r = 0; r < rows; ++r) s.rowCover[r] = 0;
}

// Capacities of the certified offset search's history and known elements, per line (row or
// column): typical calls make about 2n shifts, record about 40 covers a line at n = 1600 (more as
// n grows: see layOutScratch) and know a few elements a line; a call that needs more gives up and
// restarts.
constexpr std::uint64_t shiftsPerLine = 8;
constexpr std::uint64_t coversPerLine = 64;  // at least
constexpr std::uint64_t knownPerLine = 16;

// The bookkeeping block: every part of SolverState that lives for one call, carved from one
// buffer. With state null it only counts the bytes (in 64 bits, which always suffice); with a
// state it points the parts into block. The parts are taken largest alignment first. history:
// the certified offset search's history and known elements are part of it; zeroFlags: the exact
// offset search's zero flags (nextStarMask) are.
std::uint64_t layOutScratch(SolverState* state, void* block, std::uint64_t rows,
                            std::uint64_t cols, bool history, bool zeroFlags, bool rowZeros) {
    std::uint64_t used = 0;
    char* base = static_cast<char*>(block);
    const auto take = [&](auto*& part, std::uint64_t count) {
        using Part = std::remove_reference_t<decltype(*part)>;
        if (state != nullptr) part = reinterpret_cast<Part*>(base + used);
        used += count * sizeof(Part);
    };
    SolverState dummy{};
    SolverState& s = state != nullptr ? *state : dummy;
    Matching& matching = s.matching;
    ElementSearch& element = s.element;
    OffsetSearch& offset = s.offset;
    const std::uint64_t lines = rows + cols;
    // No call needs more than its shape allows: at most rowCount shifts between two of the at most
    // T + 1 searches, at most T rows covered (each uncovering one column) in a search, and
    // every element known. Thin matrices take far less than their lines would. (The margins of
    // the certified search also want fewer than 2^32 shifts.)
    const std::uint64_t t = rows < cols ? rows : cols;
    const std::uint64_t shifts =
        history ? std::min({shiftsPerLine * lines + 64, (t + 1) * rows + 1, std::uint64_t{1} << 31})
                : 0;
    // The rows covered in a search grow with the size: about t / 40 covers a line on uniform
    // doubles, t / 20 in tracking clutter, so past 64 a line the capacity grows as t / 16.
    const std::uint64_t perLine = std::max(coversPerLine, t / 16);
    const std::uint64_t events = history ? std::min(perLine * lines + 128, t * (t + 1) + 1) : 0;
    const std::uint64_t known = history ? std::min(knownPerLine * lines + 64, rows * cols) : 0;
    // 8-byte parts
    take(offset.known, known);
    take(offset.events, events);
    take(offset.shiftLog, shifts);
    take(matching.pendingColumns, (cols + 63) / 64);
    take(matching.starInRow, rows);
    take(matching.starInCol, cols);
    take(matching.primeInRow, rows);
    take(matching.coveredRows, rows);
    take(matching.rowExclusion, rows);
    take(matching.scanFrom, cols);
    take(element.shiftLog, rows + 1);
    take(element.coveredBefore, rows + 1);
    take(element.coveredAfter, rows);
    take(element.uncoveredAfter, cols);
    take(element.syncedTo, cols);
    take(element.replayValues, rows);
    take(element.colMinimum, cols);
    take(element.colMinimumRow, cols);
    take(element.minimumCovered, cols);
    take(element.uncoveredColumns, cols);
    take(element.coveredColumns, cols);
    take(offset.rowOffset, rows);
    take(offset.scanOffset, rows);
    take(offset.colOffset, cols);
    take(offset.groupColumns, cols);
    take(offset.groupKeys, cols);
    take(offset.groupPlace, cols);
    take(offset.topRows, rows >= listedRows ? columnTopSize * cols : 0);
    take(offset.topValues, rows >= listedRows ? columnTopSize * cols : 0);
    take(offset.topCount, cols);
    take(offset.topBound, cols);
    take(offset.topLeast, cols);
    take(offset.blockLeast, rows / 16);
    take(offset.floor, cols);
    take(offset.floorRow, cols);
    take(offset.floorOffset, cols);
    take(offset.keyBound, cols);
    take(offset.keyBoundRow, cols);
    take(offset.passLeast, cols);
    take(offset.passLeastRow, cols);
    take(offset.tiedColumns, cols);
    take(offset.waitingColumns, cols);
    take(offset.zeroFlagsAt, cols);
    take(offset.searchedAt, cols);
    take(offset.searchStart, history ? (rows < cols ? rows : cols) + 1 : 0);
    take(offset.colStarSearch, history ? cols : 0);
    take(offset.rowEvents, history ? rows : 0);
    take(offset.rowLastEvent, history ? rows : 0);
    take(offset.colEvents, history ? cols : 0);
    take(offset.colLastEvent, history ? cols : 0);
    take(offset.rowKnown, history ? rows : 0);
    take(s.reduction.firstZero, rows <= cols ? 0 : cols);
    const bool zeroLists = rowZeros && rows <= cols;
    take(s.reduction.zeroCount, zeroLists ? rows : 0);
    take(s.reduction.zeroColumns, zeroLists ? zeroListSize * rows : 0);
    take(s.reduction.lastZero, zeroLists ? rows : 0);
    take(offset.unlisted, cols);  // bytes last
    take(s.nextStarMask, zeroFlags ? rows * cols : 0);
    if (state != nullptr) {
        offset.shiftCapacity = static_cast<Index>(shifts);
        offset.eventCapacity = static_cast<Index>(events);
        offset.knownCapacity = static_cast<Index>(known);
    }
    return used;
}

// Sets the bookkeeping for no stars, no primes, no covered row and no shift made.
void resetBookkeeping(SolverState& s) {
    const Index rows = s.rowCount, cols = s.colCount;
    Matching& matching = s.matching;
    ElementSearch& element = s.element;
    OffsetSearch& offset = s.offset;
    const bool history = offset.shiftCapacity > 0;
    for (Index r = 0; r < rows; ++r) {
        matching.starInRow[r] = -1;
        matching.primeInRow[r] = -1;
        matching.rowExclusion[r] = 0;
        element.coveredAfter[r] = infinity;
        offset.rowOffset[r] = 0;
        offset.scanOffset[r] = 0;
        if (history) {
            offset.rowEvents[r] = -1;
            offset.rowLastEvent[r] = -1;
            offset.rowKnown[r] = -1;
        }
    }
    for (Index c = 0; c < cols; ++c) {
        matching.starInCol[c] = -1;
        element.syncedTo[c] = 0;
        element.colMinimumRow[c] = -2;  // not known
        offset.colOffset[c] = 0;
        offset.groupPlace[c] = -1;
        offset.topCount[c] = 0;
        offset.topBound[c] = -infinity;
        offset.topLeast[c] = -infinity;
        offset.unlisted[c] = rows < listedRows ? 1 : 0;
        offset.floorRow[c] = -2;
        offset.zeroFlagsAt[c] = -1;
        offset.searchedAt[c] = -1;
        if (history) {
            offset.colStarSearch[c] = never;
            offset.colEvents[c] = -1;
            offset.colLastEvent[c] = -1;
        }
    }
    matching.coveredCount = 0;
    matching.starCount = 0;
    element.shiftCount = 0;
    element.shiftsMade = 0;
    offset.shiftsMade = 0;
    offset.groupOffset = 0;
    offset.groupCount = 0;
    offset.searchCount = 0;
    offset.eventCount = 0;
    offset.knownCount = 0;
    offset.gaveUp = false;
    offset.replays = 0;
    offset.replaySteps = 0;
    offset.work = 0;
}

// Seeds by rows when rows are reduced, by columns otherwise.
void seed(SolverState& s) {
    if (s.rowCount <= s.colCount)
        seedByRows(s);
    else
        seedByColumns(s);
}

// Reduces the working copy in place, then seeds.
void reduceAndSeed(SolverState& s, bool minimaKnown) {
    if (s.rowCount <= s.colCount) {
        s.targetStars = s.rowCount;
        reduceRows(s.workMatrix, s.rowCount, s.colCount, s.reduction, minimaKnown);
    } else {
        s.targetStars = s.colCount;
        reduceColumns(s.workMatrix, s.rowCount, s.colCount, s.reduction.firstZero);
    }
    seed(s);
}

// After the offset search gave up: the state as it was after seeding, with R now written out for
// the element-by-element search (the offset search took no copy).
void startAgain(SolverState& s) {
    const Index rows = s.rowCount, cols = s.colCount;
    for (Index r = 0; r < rows; ++r) s.rowCover[r] = 0;
    for (Index c = 0; c < cols; ++c) s.colCover[c] = 0;
    resetBookkeeping(s);
    double* work = static_cast<double*>(mxMalloc(static_cast<std::size_t>(rows * cols) * sizeof(double)));
    writeReduced(s, work);
    s.workMatrix = work;
    seed(s);
}

void runSolve(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount,
              std::int32_t colCount, SearchChoice choice, solverTesting::SearchReport* report,
              solverTesting::DecisionTrace* trace);

}  // namespace

void summarize(MatrixSummary& summary, double v) {
    if (v != v) {
        summary.anyNaN = true;
    } else if (!mxIsFinite(v)) {
        summary.anyInfinite = true;
    } else {
        if (summary.largest < v) summary.largest = v;
        if (v != 0) {
            const int bit = lowestBitOf(v);
            if (bit < summary.lowestBit) summary.lowestBit = bit;
        }
    }
}

Search chooseSearch(const MatrixSummary& summary, std::int32_t rowCount, std::int32_t colCount,
                    SearchChoice choice) {
    if (choice == SearchChoice::plain ||
        (choice == SearchChoice::chosen &&
         static_cast<std::uint64_t>(rowCount) * static_cast<std::uint64_t>(colCount) <= plainElements))
        return Search::plain;
    if (choice == SearchChoice::elementByElement || summary.anyNaN || summary.anyInfinite)
        return Search::elementByElement;
    const std::uint64_t rows = static_cast<std::uint64_t>(rowCount);
    const std::uint64_t cols = static_cast<std::uint64_t>(colCount);
    if (unitsOf(summary.largest, summary.lowestBit) <= exactLimit(rows + cols))
        return Search::offsetExact;
    // (2T + 2) W below the double range, with room to spare for rounding.
    const double lines = 2.0 * static_cast<double>(rowCount < colCount ? rowCount : colCount) + 2.0;
    if (!(summary.largest <= DBL_MAX / lines * 0.5)) return Search::elementByElement;
    return Search::offsetCertified;
}

Search searchFor(const double* workMatrix, std::size_t elementCount, std::int32_t rowCount,
                 std::int32_t colCount, SearchChoice choice) {
    MatrixSummary summary;
    for (std::size_t i = 0; i < elementCount; ++i) summarize(summary, workMatrix[i]);
    return chooseSearch(summary, rowCount, colCount, choice);
}

void solveAssignment(double* assignment, double* cost, const double* costMatrix,
                     std::int32_t rowCount, std::int32_t colCount) {
    runSolve(assignment, cost, costMatrix, rowCount, colCount, SearchChoice::chosen, nullptr,
             nullptr);
}

void solverTesting::solve(SearchChoice choice, double* assignment, double* cost,
                          const double* costMatrix, std::int32_t rowCount, std::int32_t colCount,
                          SearchReport* report, DecisionTrace* trace) {
    if (report != nullptr) *report = SearchReport{};
    if (trace != nullptr) trace->count = trace->restartedAt = 0;
    runSolve(assignment, cost, costMatrix, rowCount, colCount, choice, report, trace);
}

void solverTesting::solveElementByElement(double* assignment, double* cost,
                                            const double* costMatrix, std::int32_t rowCount,
                                            std::int32_t colCount) {
    runSolve(assignment, cost, costMatrix, rowCount, colCount, SearchChoice::elementByElement,
             nullptr, nullptr);
}

namespace {

void runSolve(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount,
              std::int32_t colCount, SearchChoice choice, solverTesting::SearchReport* report,
              solverTesting::DecisionTrace* trace) {
    if (rowCount < 0 || colCount < 0)
        mexErrMsgIdAndTxt(text::inputSizeId, "Matrix dimensions must not be negative.");
    // The byte sizes of the working copy (and the row minima behind it) and of the search's
    // bookkeeping must fit size_t; on a
    // 64-bit target only the very largest dimensions can break this, on a 32-bit one far smaller
    // ones can.
    const std::size_t rows = static_cast<std::size_t>(rowCount);
    const std::size_t cols = static_cast<std::size_t>(colCount);
    const std::uint64_t sizeLimit = std::numeric_limits<std::size_t>::max();
    if (rows > std::numeric_limits<std::size_t>::max() / sizeof(double) / (cols + 1) ||
        layOutScratch(nullptr, nullptr, rows, cols, true, false, true) > sizeLimit ||
        layOutScratch(nullptr, nullptr, rows, cols, false, true, true) > sizeLimit)
        mexErrMsgIdAndTxt(text::inputSizeId,
                          "A %d x %d matrix is too large to solve on this platform.",
                          static_cast<int>(rowCount), static_cast<int>(colCount));
    const std::size_t elementCount = rows * cols;

    *cost = 0;
    for (std::size_t r = 0; r < rows; ++r) assignment[r] = 0;

    // The element-by-element and plain searches work on a copy of the matrix, taken in the pass
    // that checks it; the offset search reads the caller's matrix, and takes only the line
    // minima (so a call whose search is chosen by what the check finds takes no copy until it is
    // known to need one). When rows are reduced, their minima are gathered by that pass, behind
    // the working copy or at the front of the minima.
    const bool plain = choice == SearchChoice::plain ||
                       (choice == SearchChoice::chosen && elementCount <= plainElements);
    const bool copyFirst = plain || choice == SearchChoice::elementByElement;
    const std::size_t minimaCount = rows <= cols ? rows : 0;
    double* workMatrix = nullptr;
    double* lineMinima = nullptr;
    double* rowMinimum;
    double* colMinimum = nullptr;
    ColumnLeast columns{};
    Reduction zeroLists{};  // the rows' zero lists, when the check notes them
    Scan scan;
    if (copyFirst) {
        workMatrix = static_cast<double*>(mxMalloc((elementCount + minimaCount) * sizeof(double)));
        rowMinimum = minimaCount > 0 ? workMatrix + elementCount : nullptr;
        scan = copyAndCheck<true, false>(workMatrix, costMatrix, static_cast<Index>(rows),
                                         static_cast<Index>(cols), !plain, exactLimit(rows + cols),
                                         rowMinimum, nullptr, nullptr, nullptr);
    } else {
        // The row minima, the column minima and, when columns are reduced, each column's first
        // zero and what bounds its other elements (ColumnLeast); when rows are reduced, the
        // rows' zero lists (Reduction). The check fills them.
        const std::size_t fromCount = minimaCount > 0 ? 0 : cols;
        const std::size_t listCount = minimaCount > 0 ? (zeroListSize + 2) * rows : 0;
        const std::size_t finiteCount = minimaCount > 0 ? finiteListSize * cols : 0;
        lineMinima = static_cast<double*>(
            mxMalloc((rows + cols + 2 * fromCount + finiteCount) * sizeof(double) +
                     (2 * fromCount + listCount + (finiteCount > 0 ? finiteCount + cols : 0)) *
                         sizeof(Index)));
        rowMinimum = lineMinima;
        colMinimum = lineMinima + rows;
        if (fromCount > 0) {
            columns.least = colMinimum;
            columns.next = lineMinima + rows + cols;
            columns.rest = columns.next + cols;
        }
        if (finiteCount > 0) zeroLists.finiteValues = lineMinima + rows + cols;
        Index* indexes =
            reinterpret_cast<Index*>(lineMinima + rows + cols + 2 * fromCount + finiteCount);
        if (fromCount > 0) {
            columns.firstZero = indexes;
            columns.nextRow = indexes + fromCount;
        }
        if (minimaCount > 0) {
            zeroLists.zeroCount = indexes;
            zeroLists.lastZero = indexes + rows;
            zeroLists.zeroColumns = indexes + 2 * rows;
            zeroLists.finiteCount = indexes + listCount;
            zeroLists.finiteRows = indexes + listCount + cols;
            scan = copyAndCheck<false, true>(nullptr, costMatrix, static_cast<Index>(rows),
                                             static_cast<Index>(cols), true, exactLimit(rows + cols),
                                             rowMinimum, nullptr, &zeroLists, colMinimum);
        } else {
            scan = copyAndCheck<false, false>(nullptr, costMatrix, static_cast<Index>(rows),
                                              static_cast<Index>(cols), true,
                                              exactLimit(rows + cols), nullptr, &columns,
                                              nullptr, nullptr);
        }
    }

    if (scan.anyInfinite && scan.maxFinite == -1.0) {
        // No finite element at all: nothing can be paired.
        mxFree(workMatrix != nullptr ? workMatrix : lineMinima);
        return;
    }
    double forbiddenValue = infinity;
    if (scan.anyInfinity) {
        // Larger than the sum of any min(M, N) finite elements, so the search uses as few
        // forbidden pairs as it can. The product is formed in this order, in doubles.
        forbiddenValue = scan.maxFinite > 0
                             ? (10.0 * scan.maxFinite) * static_cast<double>(elementCount)
                             : 10.0;
        // The search sees forbiddenValue where the caller wrote an infinity.
        summarize(scan.summary, forbiddenValue);
    }
    const Search search = chooseSearch(scan.summary, rowCount, colCount, choice);
    const bool offset = search == Search::offsetExact || search == Search::offsetCertified;
    if (workMatrix == nullptr && !offset) {
        // The check found what only the element-by-element search meets (NaN, overflow).
        workMatrix = static_cast<double*>(mxMalloc(elementCount * sizeof(double)));
        if (elementCount > 0) std::memcpy(workMatrix, costMatrix, elementCount * sizeof(double));
    }
    if (workMatrix != nullptr && scan.anyInfinity) {
        // The copy refused every finite negative element, so each element outside [0, DBL_MAX]
        // is an infinity (of either sign) or NaN, and v == v tells the infinities.
        std::size_t i = 0;
#if defined(PAIRSOLVE_PAIRS)
        using namespace searchBookkeeping;
        const Pair lowest = both(0.0), highest = both(DBL_MAX), forbidden = both(forbiddenValue);
        for (; i + 2 <= elementCount; i += 2) {
            const Pair v = load(workMatrix + i);
            store(workMatrix + i, pick(~((v >= lowest) & (v <= highest)) & (v == v), forbidden, v));
        }
#endif
        for (; i < elementCount; ++i) {
            const double v = workMatrix[i];
            if (!(v >= 0 && v <= DBL_MAX) && v == v) workMatrix[i] = forbiddenValue;
        }
    }
    const bool forbiddenOverflowed = scan.anyInfinity && !mxIsFinite(forbiddenValue);

    SolverState state{};
    state.workMatrix = workMatrix;
    // The flags, which start cleared, in one block; the bookkeeping in another (layOutScratch).
    unsigned char* flags = static_cast<unsigned char*>(mxCalloc(rows + cols, 1));
    state.colCover = flags;
    state.rowCover = flags + cols;
    const bool history = search == Search::offsetCertified;
    const bool zeroFlags = search == Search::offsetExact;
    const bool copied = lineMinima == nullptr;  // else the line minima block holds the zero lists
    void* scratch = mxMalloc(
        static_cast<std::size_t>(layOutScratch(nullptr, nullptr, rows, cols, history, zeroFlags, copied)));
    layOutScratch(&state, scratch, rows, cols, history, zeroFlags, copied);
    state.rowCount = rowCount;
    state.colCount = colCount;
    state.assignment = assignment;
    state.forbiddenOverflowed = forbiddenOverflowed;
    state.trace = trace;
    state.offset.exact = search == Search::offsetExact;
    state.offset.budgeted = choice == SearchChoice::chosen;
    state.offset.zeroFlags = state.nextStarMask;
    resetBookkeeping(state);

    // Only one direction is reduced: rows when they are the fewer (or as many), columns otherwise,
    // so that every line that must be matched holds a zero.
    state.reduction.costMatrix = costMatrix;
    state.reduction.forbiddenValue = forbiddenValue;
    state.reduction.negativeInfinity = scan.anyNegativeInfinity;
    state.reduction.rowMinimum = rowMinimum;
    state.reduction.colMinimum = colMinimum;
    if (!copied) {
        state.reduction.zeroCount = zeroLists.zeroCount;
        state.reduction.zeroColumns = zeroLists.zeroColumns;
        state.reduction.lastZero = zeroLists.lastZero;
        state.reduction.finiteCount = zeroLists.finiteCount;
        state.reduction.finiteRows = zeroLists.finiteRows;
        state.reduction.finiteValues = zeroLists.finiteValues;
    }
    if (workMatrix != nullptr) {
        reduceAndSeed(state, !scan.anyInfinity);
    } else {
        state.targetStars = rows <= cols ? rowCount : colCount;
        reduceWithoutCopy(state, !scan.anyNegativeInfinity, scan.zerosNoted, &columns);
        seed(state);
    }

    // The starred columns are covered already, so the machine starts at checkDone.
    bool restarted = false;
    std::uint64_t offsetReplays = 0, offsetReplaySteps = 0;
    if (search == Search::plain) {
        plainSearch::startSearch(state);
        plainSearch::runPhases(state);
    }
    if (offset) {
        offsetSearch::startCall(state);
        if (offsetSearch::runPhases(state) == Phase::restart) {
            restarted = true;
            offsetReplays = state.offset.replays;
            offsetReplaySteps = state.offset.replaySteps;
            if (trace != nullptr) trace->restartedAt = trace->count;
            startAgain(state);
        }
    }
    if (search == Search::elementByElement || restarted) {
        elementSearch::startSearch(state);
        elementSearch::runPhases(state);
    }

    if (report != nullptr) {
        report->offsetRan = offset;
        report->exactOffsets = search == Search::offsetExact;
        report->restarted = restarted;
        report->plainRan = search == Search::plain;
        report->shifts = static_cast<std::uint64_t>(
            offset && !restarted ? state.offset.shiftsMade : state.element.shiftsMade);
        report->replays = restarted ? offsetReplays : state.offset.replays;
        report->replaySteps = restarted ? offsetReplaySteps : state.offset.replaySteps;
    }

    addUpCost(assignment, cost, costMatrix, rowCount);

    if (state.workMatrix != nullptr) mxFree(state.workMatrix);
    if (lineMinima != nullptr) mxFree(lineMinima);
    mxFree(flags);
    mxFree(scratch);
}

}  // namespace

void addUpCost(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount) {
    const Index rows = rowCount;
    for (Index r = 0; r < rows; ++r) {
        const Index c = static_cast<Index>(assignment[r] - 1);
        if (c < 0) continue;
        // The caller's matrix, not the reduced copy: the cost is what the caller's numbers add up
        // to, and a pair on a forbidden (infinite) element is dropped rather than paid for.
        const double v = costMatrix[r + rows * c];
        if (mxIsFinite(v))
            *cost = *cost + v;
        else
            assignment[r] = 0;
    }
}

}  // namespace pairsolve
