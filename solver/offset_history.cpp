// The history of a certified search, and the exact replay of single elements.
//
// Exact replay. What X(r, c) undergoes in shift i depends only on h_i and on whether row r was
// covered and column c uncovered at the time. The search keeps a history that tells both for any
// shift of the call: every h (shiftLog), the shift count at which each search began (searchStart),
// and, per row and per column, its covers and uncoverings (CoverEvent lists: a cover of a row
// uncovers its star's column at once, so one record serves both; rows are covered at most once a
// search, columns uncovered at most once, and a column without a star is uncovered throughout;
// colStarSearch is the first search a column began with a star, which it keeps from then on).
// A replayed element is kept (KnownElement) with the shift count its value holds at and how far
// its row's and column's events were read, and is advanced from there next time: no element is
// replayed from the reduction twice, and one whose row stays uncovered while its column stays
// covered costs nothing for those searches. The history and the known elements start in the
// bookkeeping block with capacities that grow with the size, and are taken again twice as large
// when full; when one has reached what no call can pass, or
// when the replays cost more than their budget (a quarter of the work the element-by-element
// search would have done by then, budgeted), the machine stops at Phase::restart and the driver
// solves the call again with the element-by-element search, on R written out afresh from the
// caller's matrix.
// Matrices with masses of near ties (decimal costs, all costs equal) take that road; the others
// replay about one element a shift.
#include "offset_search.h"

#include <algorithm>
#include <cstring>

#include "host_services.h"

namespace pairsolve {

namespace offsetSearch {

namespace {

using namespace kernels;

// Capacities of the history and of the known elements, per line (row or column): typical calls
// make about 2n shifts, record about 40 covers a line at n = 1600 (more as n grows: see
// layOutHistory) and know a few elements a line; a call that needs more gives up and restarts.
constexpr std::uint64_t shiftsPerLine = 8;
constexpr std::uint64_t coversPerLine = 64;  // at least
constexpr std::uint64_t knownPerLine = 16;

// The search in which shift s + 1 is (or will be) made: the last one that began at or before s.
Index searchContaining(const History& h, Index s) {
    Index low = 0, high = h.searchCount - 1;
    while (low < high) {
        const Index mid = low + (high - low + 1) / 2;
        if (h.searchStart[mid] <= s)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

// Brings a known element of row r up to the shifts made so far, making on it exactly the
// operations the element-by-element search makes, shift by shift.
void advance(OffsetSearch& o, KnownElement& e, Index r) {
    History& h = o.history;
    const Index now = o.shiftsMade;
    if (e.stamp == now) return;
    const Index c = e.col, current = h.searchCount - 1, starFrom = h.colStarSearch[c];
    double x = e.value;
    Index rowRead = e.rowRead, colRead = e.colRead;
    Index rowNext = rowRead == none ? h.rowEvents[r] : h.events[rowRead].nextOfRow;
    Index colNext = colRead == none ? h.colEvents[c] : h.events[colRead].nextOfColumn;
    std::uint64_t steps = 0;
    Index j = searchContaining(h, e.stamp);
    while (j <= current) {
        ++steps;
        while (rowNext != none && h.events[rowNext].search < j) {
            rowRead = rowNext;
            rowNext = h.events[rowNext].nextOfRow;
        }
        while (colNext != none && h.events[colNext].search < j) {
            colRead = colNext;
            colNext = h.events[colNext].nextOfColumn;
        }
        const bool starred = j >= starFrom;
        if (starred) {
            // While the row stays uncovered and the column covered, the element is left alone:
            // on to the next search in which one of them changes.
            Index next = rowNext == none ? never : h.events[rowNext].search;
            if (colNext != none && h.events[colNext].search < next) next = h.events[colNext].search;
            if (next > j) {
                j = next;
                continue;
            }
        } else {
            // A column without a star yet is uncovered throughout: while the row stays uncovered,
            // the element takes x - h in every shift, search after search, up to the row's next
            // cover or the column's first star. (Counted as those searches one by one would be.)
            Index next = rowNext == none ? never : h.events[rowNext].search;
            if (starFrom < next) next = starFrom;
            if (next > j + 1) {
                const Index end = next > current ? current + 1 : next;
                const Index first = e.stamp > h.searchStart[j] ? e.stamp : h.searchStart[j];
                const Index last = end > current ? now : h.searchStart[end];
                for (Index i = first + 1; i <= last; ++i) x = x - h.shiftLog[i - 1];
                steps += static_cast<std::uint64_t>(end - j - 1);  // the searches merged here
                if (last > first) steps += static_cast<std::uint64_t>(last - first);
                j = end;
                continue;
            }
        }
        const Index first = e.stamp > h.searchStart[j] ? e.stamp : h.searchStart[j];
        const Index last = j == current ? now : h.searchStart[j + 1];
        // Shift i sees the row covered when i > coveredFrom, the column uncovered when
        // i > uncoveredFrom.
        const Index coveredFrom =
            rowNext != none && h.events[rowNext].search == j ? h.events[rowNext].shift : never;
        const Index uncoveredFrom = !starred ? -1
                                    : colNext != none && h.events[colNext].search == j
                                        ? h.events[colNext].shift
                                        : never;
        // So through shift `quiet` nothing happens to the element, after shift `both` it takes
        // (x + h) - h, and in between x + h (row covered first) or x - h (column uncovered first).
        const Index quiet = coveredFrom < uncoveredFrom ? coveredFrom : uncoveredFrom;
        const Index both = coveredFrom < uncoveredFrom ? uncoveredFrom : coveredFrom;
        Index i = quiet < first ? first + 1 : quiet < last ? quiet + 1 : last + 1;
        const Index single = both < last ? both : last;
        const double* log = h.shiftLog;
        if (coveredFrom < uncoveredFrom) {
            for (; i <= single; ++i) x = x + log[i - 1];
        } else {
            for (; i <= single; ++i) x = x - log[i - 1];
        }
        for (; i <= last; ++i) {
            const double h = log[i - 1];
            x = x + h;
            x = x - h;  // two rounded operations, as the other search
        }
        if (last > first) steps += static_cast<std::uint64_t>(last - first);
        ++j;
    }
    e.value = x;
    e.stamp = now;
    e.rowRead = rowRead;
    e.colRead = colRead;
    h.replaySteps += steps;
    h.work += steps;
}

// A part of the history that is full, taken again twice as large (up to its limit) from the host,
// its `used` entries copied; false at the limit.
template <class Part>
bool grow(History& h, Part*& part, Index& capacity, Index limit, Index used, void*& taken) {
    if (capacity >= limit) return false;
    const Index larger = capacity > limit / 2 ? limit : 2 * capacity;
    Part* moved = static_cast<Part*>(mxMalloc(static_cast<std::size_t>(larger) * sizeof(Part)));
    std::memcpy(moved, part, static_cast<std::size_t>(used) * sizeof(Part));
    if (taken != nullptr) mxFree(taken);
    part = moved;
    taken = moved;
    capacity = larger;
    ++h.growths;
    return true;
}

}  // namespace

bool growShiftLog(History& h) {
    return grow(h, h.shiftLog, h.shiftCapacity, h.shiftLimit, h.shiftCapacity, h.grown[0]);
}

void releaseHistory(History& h) {
    for (void*& block : h.grown) {
        if (block != nullptr) mxFree(block);
        block = nullptr;
    }
}

// No call needs more than its shape allows: at most rowCount shifts between two of the at most
// T + 1 searches, at most T rows covered (each uncovering one column) in a search, and every
// element known. Thin matrices take far less than their lines would. (The margins of the
// certified search also want fewer than 2^32 shifts.)
void layOutHistory(Carving& carving, History& h, Index rowCount, Index colCount) {
    const std::uint64_t rows = static_cast<std::uint64_t>(rowCount);
    const std::uint64_t cols = static_cast<std::uint64_t>(colCount);
    const std::uint64_t lines = rows + cols;
    const std::uint64_t t = rows < cols ? rows : cols;
    const std::uint64_t shiftLimit = std::min((t + 1) * rows + 1, std::uint64_t{1} << 31);
    const std::uint64_t eventLimit = t * (t + 1) + 1, knownLimit = rows * cols;
    const std::uint64_t shifts = std::min(shiftsPerLine * lines + 64, shiftLimit);
    // The rows covered in a search grow with the size: about t / 40 covers a line on uniform
    // doubles, t / 20 in tracking clutter, so past 64 a line the capacity grows as t / 16.
    const std::uint64_t perLine = std::max(coversPerLine, t / 16);
    const std::uint64_t events = std::min(perLine * lines + 128, eventLimit);
    const std::uint64_t known = std::min(knownPerLine * lines + 64, knownLimit);
    carving.take(h.known, known);
    carving.take(h.events, events);
    carving.take(h.shiftLog, shifts);
    carving.take(h.searchStart, t + 1);
    carving.take(h.colStarSearch, cols);
    carving.take(h.rowEvents, rows);
    carving.take(h.rowLastEvent, rows);
    carving.take(h.colEvents, cols);
    carving.take(h.colLastEvent, cols);
    carving.take(h.rowKnown, rows);
    h.shiftCapacity = static_cast<Index>(shifts);
    h.eventCapacity = static_cast<Index>(events);
    h.knownCapacity = static_cast<Index>(known);
    h.shiftLimit = static_cast<Index>(shiftLimit);
    h.eventLimit = static_cast<Index>(eventLimit);
    h.knownLimit = static_cast<Index>(knownLimit);
    h.grown[0] = h.grown[1] = h.grown[2] = nullptr;
    h.growths = 0;
}

void resetHistory(History& h, Index rows, Index cols) {
    for (Index r = 0; r < rows; ++r) h.rowEvents[r] = h.rowLastEvent[r] = h.rowKnown[r] = none;
    for (Index c = 0; c < cols; ++c) {
        h.colStarSearch[c] = never;
        h.colEvents[c] = h.colLastEvent[c] = none;
    }
    h.searchCount = 0;
    h.eventCount = 0;
    h.knownCount = 0;
    h.work = h.replays = h.replaySteps = 0;
}

// Records the cover of row r, whose star is in column s, in both lines' lists; false when the
// history is full.
bool recordCover(OffsetSearch& o, Index r, Index s) {
    History& h = o.history;
    if (h.eventCount == h.eventCapacity &&
        !grow(h, h.events, h.eventCapacity, h.eventLimit, h.eventCount, h.grown[1])) {
        o.gaveUp = true;
        return false;
    }
    const Index e = h.eventCount++;
    h.events[e] = CoverEvent{h.searchCount - 1, o.shiftsMade, none, none};
    if (h.rowLastEvent[r] == none)
        h.rowEvents[r] = e;
    else
        h.events[h.rowLastEvent[r]].nextOfRow = e;
    h.rowLastEvent[r] = e;
    if (h.colLastEvent[s] == none)
        h.colEvents[s] = e;
    else
        h.events[h.colLastEvent[s]].nextOfColumn = e;
    h.colLastEvent[s] = e;
    return true;
}

// The value the element-by-element search holds for (r, c) now, replayed. Sets gaveUp (and
// returns a meaningless value) when the known elements are full or the budget is spent.
double exactValue(SolverState& state, OffsetSearch& o, Index r, Index c) {
    History& h = o.history;
    // Before the first shift every element is as the reduction left it.
    if (o.shiftsMade == 0) return reducedColumn(state.reduction, state.rowCount, c).at(r);
    Index k = h.rowKnown[r];
    std::uint64_t looked = 0;
    while (k != none && h.known[k].col != c) {
        k = h.known[k].next;
        ++looked;
    }
    h.work += looked;
    if (k == none) {
        if (h.knownCount == h.knownCapacity &&
            !grow(h, h.known, h.knownCapacity, h.knownLimit, h.knownCount, h.grown[2])) {
            o.gaveUp = true;
            return 0;
        }
        k = h.knownCount++;
        h.known[k] = KnownElement{reducedColumn(state.reduction, state.rowCount, c).at(r), c,
                                  0, none, none, h.rowKnown[r]};
        h.rowKnown[r] = k;
        ++h.replays;
    }
    advance(o, h.known[k], r);
    // The budget: a replayed step against about 32 elements the other search would have shifted
    // (its work so far is the shifts made times the matrix), so that giving up costs at most a
    // quarter of what that search takes for the call; and a few hundred steps a line whatever
    // the shifts, which a small matrix spends in no time.
    if (o.budgeted &&
        static_cast<double>(static_cast<std::int64_t>(h.work)) * 32.0 >
            static_cast<double>(o.shiftsMade + 1) * state.rowCount * state.colCount +
                8192.0 * (static_cast<double>(state.rowCount) + state.colCount))
        o.gaveUp = true;
    return h.known[k].value;
}


}  // namespace offsetSearch

}  // namespace pairsolve
