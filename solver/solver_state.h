// What every stage and search of a call shares: the reduced matrix R, the covers and the matching,
// the phase machine's loop, the sweep over the pending columns and the flip of an augmenting
// path; and the carving of one block of bookkeeping.
//
// Terms used throughout:
//   zero      an element of the working matrix exactly equal to 0 (-0.0 included);
//   star      a starred zero: the current matching, at most one per row and per column;
//   prime     a zero primed during the current search, at most one per row;
//   cover     a covered column holds a star; a covered row holds a star and a prime;
//   search    the stretch between two augmentations. Within it rows only get covered, columns
//             only get uncovered, and elements change only in shifts.
#ifndef PAIRSOLVE_SOLVER_STATE_H
#define PAIRSOLVE_SOLVER_STATE_H

#include <cfloat>
#include <cstdint>

#include "assignment_solver.h"
#include "kernels.h"

namespace pairsolve {

// One block of bookkeeping, carved into parts: a first pass with no block counts the bytes (in 64
// bits, which always suffice), a second points the parts into the block.
struct Carving {
    char* base = nullptr;
    std::uint64_t used = 0;

    template <class Part>
    void take(Part*& part, std::uint64_t count) {
        used = (used + alignof(Part) - 1) / alignof(Part) * alignof(Part);
        if (base != nullptr) part = reinterpret_cast<Part*>(base + used);
        used += count * sizeof(Part);
    }
};

// The reduced matrix R(r, c) = (C(r, c) - rowMinimum[r]) - colMinimum[c], C being the caller's
// matrix with every forbidden pair (an infinity) replaced by forbiddenValue. Only one direction
// is reduced, and the other one's minima are zeros: x - 0 is x, bit for bit, so the two
// subtractions give the one reduction's values. The plain and element-by-element searches work
// on R written out (workMatrix); the offset search writes no element, so it takes no working
// copy and forms R from the caller's matrix wherever it reads one (ReducedColumn).
struct Reduction {
    const double* costMatrix;   // the caller's, read only
    double* workMatrix;         // R written out, or null
    double forbiddenValue;      // +inf when the matrix holds no infinity
    bool negativeInfinity;      // the matrix holds a -inf
    // Forbidden pairs were replaced by a forbiddenValue that overflowed to +inf: a search that
    // later stalls does so because of that overflow, even where inf - inf left NaN behind.
    bool forbiddenOverflowed;
    bool rowsReduced;           // rowCount <= colCount
    const double* rowMinimum;   // rowCount: the row minima when rows are reduced
    const double* colMinimum;   // colCount: the column minima when columns are reduced
};

// Column c of the caller's matrix with its forbidden pairs replaced. Where it is read no element
// is NaN or a finite negative, and each finite element is below forbiddenValue (+inf when there
// is no forbidden pair), so that the lesser of an element and forbiddenValue replaces +inf alone;
// -inf, where the matrix holds one, is picked out.
struct CostColumn {
    const double* cost;
    double forbiddenValue;
    bool negativeInfinity;

    double at(Index r) const {
        const double v = cost[r];
        return v >= -DBL_MAX && v <= DBL_MAX ? v : forbiddenValue;
    }
    kernels::Pair pair(Index r) const {
        using namespace kernels;
        const Pair v = load(cost + r), forbidden = both(forbiddenValue);
        const Pair replaced = lesser(v, forbidden);
        return negativeInfinity ? pick(v < both(-DBL_MAX), forbidden, replaced) : replaced;
    }
};

// Column c of R, formed from the caller's matrix by the reduction's own operations on each
// element, so to the same bits: only the reduced direction's minimum is subtracted.
struct ReducedColumn {
    CostColumn cost;
    const double* rowMinimum;  // when rows are reduced, else null
    double colMinimum;

    double at(Index r) const {
        return rowMinimum != nullptr ? cost.at(r) - rowMinimum[r] : cost.at(r) - colMinimum;
    }
    kernels::Pair pair(Index r) const {
        using namespace kernels;
        return rowMinimum != nullptr ? cost.pair(r) - load(rowMinimum + r)
                                     : cost.pair(r) - both(colMinimum);
    }
};

inline CostColumn costColumn(const Reduction& d, Index rows, Index c) {
    return CostColumn{d.costMatrix + rows * c, d.forbiddenValue, d.negativeInfinity};
}

inline ReducedColumn reducedColumn(const Reduction& d, Index rows, Index c) {
    return ReducedColumn{costColumn(d, rows, c), d.rowsReduced ? d.rowMinimum : nullptr,
                         d.rowsReduced ? 0.0 : d.colMinimum[c]};
}

// The matching as every search keeps it: indexes that make finding a star or a prime, following a
// path and covering the star columns O(1) a step, and the pending columns that a sweep visits.
struct Matching {
    Index* starInRow;    // rowCount: column of the row's star, or none
    Index* starInCol;    // colCount: row of the column's star, or none
    Index starCount;
    Index* primeInRow;   // rowCount: column of the row's prime (at most one), or none
    Index* coveredRows;  // rowCount: rows covered in this search, in that order
    Index coveredCount;
    // For an uncovered column, no uncovered row above scanFrom[c] holds a zero.
    Index* scanFrom;     // colCount
    // Bit c set: column c is uncovered and may hold a zero at an uncovered row at or below
    // scanFrom[c]. Every other uncovered column holds no zero at an uncovered row.
    std::uint64_t* pendingColumns;  // (colCount + 63) / 64 words
};

void layOut(Carving& carving, Matching& matching, Index rows, Index cols);
void reset(Matching& matching, Index rows, Index cols);  // no star, no prime, nothing covered

// What the phases share. The driver takes every buffer from the host allocator and releases it.
struct SolverState {
    Reduction reduction;
    unsigned char* colCover;  // colCount flags
    unsigned char* rowCover;  // rowCount flags
    std::int32_t rowCount;
    std::int32_t colCount;
    Index targetStars;        // min(rowCount, colCount): stars that end the search
    double* assignment;       // rowCount doubles, written by buildAssignment
    Matching matching;
    solverTesting::DecisionTrace* trace;  // tests only: every decision, in order; else null
};

// The phase machine. Each phase returns the next one; runPhaseLoop makes the transitions in a
// loop, so the call depth stays constant however long the search runs. The offset search may stop
// at restart instead of done, having given up.
enum class Phase {
    checkDone, primeZeros, augmentPath, coverStarColumns, shiftByMinimum, done, restart
};

// Done when targetStars columns are covered: each covered column holds one of the stars, and
// every star's column is covered, so the stars are counted instead.
Phase checkDone(SolverState& state);

// The phase machine of a search whose phases are given, each taking the shared state and the
// search's own: each returns the next phase, and this loop makes the transitions, from checkDone
// until done (or restart).
template <class Own, Phase (*primeZeros)(SolverState&, Own&, Index&, Index&),
          Phase (*augmentPath)(SolverState&, Own&, Index, Index),
          Phase (*coverStarColumns)(SolverState&, Own&),
          Phase (*shiftByMinimum)(SolverState&, Own&)>
Phase runPhaseLoop(SolverState& state, Own& own) {
    Phase phase = Phase::checkDone;
    Index pathRow = 0, pathCol = 0;
    for (;;) {
        switch (phase) {
        case Phase::checkDone: phase = checkDone(state); break;
        case Phase::primeZeros: phase = primeZeros(state, own, pathRow, pathCol); break;
        case Phase::augmentPath: phase = augmentPath(state, own, pathRow, pathCol); break;
        case Phase::coverStarColumns: phase = coverStarColumns(state, own); break;
        case Phase::shiftByMinimum: phase = shiftByMinimum(state, own); break;
        case Phase::done:
        case Phase::restart: return phase;
        }
    }
}

// Records a decision if a trace is attached.
inline void record(SolverState& state, solverTesting::Decision::Kind kind, Index row, Index col,
                   double value) {
    solverTesting::DecisionTrace* trace = state.trace;
    if (trace == nullptr) return;
    if (trace->count < trace->capacity)
        trace->entries[trace->count] = solverTesting::Decision{kind, row, col, value};
    ++trace->count;
}

// --- Pending columns: one bit per column.

inline void markPending(SolverState& state, Index c) {
    state.matching.pendingColumns[c / 64] |= std::uint64_t{1} << (c % 64);
}

inline void clearPending(SolverState& state, Index c) {
    state.matching.pendingColumns[c / 64] &= ~(std::uint64_t{1} << (c % 64));
}

inline void clearAllPending(SolverState& state) {
    const Index words = (state.colCount + 63) / 64;
    for (Index w = 0; w < words; ++w) state.matching.pendingColumns[w] = 0;
}

// The smallest pending column at or after from, or colCount. The bits are read as they are now,
// so a column marked ahead of a running sweep is found by it.
inline Index nextPending(const SolverState& state, Index from) {
    const Index cols = state.colCount;
    if (from >= cols) return cols;
    const Index words = (cols + 63) / 64;
    Index w = from / 64;
    std::uint64_t bits = state.matching.pendingColumns[w] & (~std::uint64_t{0} << (from % 64));
    while (bits == 0) {
        if (++w == words) return cols;
        bits = state.matching.pendingColumns[w];
    }
    return w * 64 + kernels::lowestSetBit(bits);
}

// The sweeps of a search over its pending columns, in column order and from the first column
// again after the last, until none is pending. Covers are read as the sweep reaches them, so a
// column uncovered ahead of the sweep is searched in the same sweep, one behind it in the next;
// a sweep ends with nothing pending exactly when a literal sweep would prime nothing.
// findZero(c) gives the first uncovered zero of column c from its scanFrom on, rowCount if there
// is none, or a negative row when the search gave up. A zero is primed; with no star in its row
// it starts the augmenting path, else its row is covered, its star's column uncovered, and
// covered(r, s) does the search's own bookkeeping for that (false: it gave up).
template <typename FindZero, typename Covered>
Phase sweepPending(SolverState& state, Index& pathRow, Index& pathCol, FindZero findZero,
                   Covered covered) {
    Matching& matching = state.matching;
    const Index rows = state.rowCount, cols = state.colCount;
    Index c = nextPending(state, 0);
    while (c < cols) {
        const Index r = findZero(c);
        if (r < 0) return Phase::restart;
        if (r == rows) {
            clearPending(state, c);
        } else {
            matching.primeInRow[r] = c;
            record(state, solverTesting::Decision::prime, r, c, 0);
            const Index s = matching.starInRow[r];
            if (s == kernels::none) {
                pathRow = r;
                pathCol = c;
                return Phase::augmentPath;
            }
            state.rowCover[r] = 1;
            matching.coveredRows[matching.coveredCount++] = r;
            state.colCover[s] = 0;
            if (!covered(r, s)) return Phase::restart;
            // Rows above r in column c held no uncovered zero, and r is covered now.
            matching.scanFrom[c] = r + 1;
            if (r + 1 == rows) clearPending(state, c);
        }
        c = nextPending(state, c + 1);
        if (c == cols) c = nextPending(state, 0);  // the next sweep
    }
    return Phase::shiftByMinimum;
}

// Flips the alternating path that starts at the prime (pathRow, pathCol): prime, star in its
// column, prime in that star's row, and so on until a column without a star. Every row reached
// holds a prime (it was covered right after one was primed), and each step moves to a column not
// visited before, so the walk ends. The path follows the old stars: each column's star is read
// before the prime in that column takes its place, and no column is reached twice.
//
// Afterwards a row r on the path is told by starInRow[r] == primeInRow[r]: its prime became its
// star. The primes themselves are left for the caller to clear.
void flipPath(SolverState& state, Index pathRow, Index pathCol);

// Flips the path (flipPath), then clears every prime and uncovers every row: the primed rows are
// the covered ones and pathRow. coveredRows itself is kept for the start of the next search.
void augmentAlongPath(SolverState& state, Index pathRow, Index pathCol);

// Covers every column holding a star: after an augmentation no other column is covered.
void coverStars(SolverState& state);

// Lists the uncovered columns, and with covered the covered ones, each in ascending order, with
// no branch a column: a pass over such a list tests no cover, a test the branch predictor misses
// about as often as not, which costs more than a small column's work. Returns how many columns
// are uncovered; the covered ones are the others.
inline Index listColumns(const SolverState& state, Index* uncovered, Index* covered) {
    Index count = 0;
    for (Index c = 0; c < state.colCount; ++c) {
        const Index k = state.colCover[c] != 0 ? 1 : 0;
        uncovered[count] = c;
        if (covered != nullptr) covered[c - count] = c;
        count += 1 - k;
    }
    return count;
}

}  // namespace pairsolve

#endif
