// The offset search: the phases of the method with offsets in place of shifts, for every working
// matrix without NaN or infinite elements. offset_search.cpp says why it makes the very decisions
// of the element-by-element search; offset_lists.cpp keeps each column's smallest keys, and
// offset_history.cpp replays an element's exact value where rounding leaves a decision open.
#ifndef PAIRSOLVE_OFFSET_SEARCH_H
#define PAIRSOLVE_OFFSET_SEARCH_H

#include "reduce.h"
#include "solver_state.h"

namespace pairsolve {

// How many of each column's smallest keys the search keeps, in matrices of at least listedRows
// rows (shorter columns are read as fast as a list is consulted).
constexpr Index columnTopSize = 8;
constexpr Index listedRows = 64;

// What the search knows of a column's smallest key over its candidate rows (the uncovered rows,
// except the star's row while the column is covered): keyBound is that key (exact), or a lower
// bound on it (bound), or a bound that the column's list may better (stale).
enum class KeyBound : unsigned char { exact, bound, stale };

// A cover in the history: in search `search`, when `shift` shifts of the call had been made, a
// row was covered and its star's column uncovered. Each record is in that row's list and that
// column's, both linked in time order.
struct CoverEvent {
    Index search;
    Index shift;
    Index nextOfRow;     // the row's next cover, or none
    Index nextOfColumn;  // the column's next uncovering, or none
};

// An element whose exact value has been replayed: its value after `stamp` shifts of the call, and
// where its row's and its column's events were read up to (the last event read, or none), so that
// the next replay goes on from there.
struct KnownElement {
    double value;
    Index col;
    Index stamp;
    Index rowRead;
    Index colRead;
    Index next;  // the next element known in the same row, or none
};

// The history that lets a single element be replayed exactly (certified search only).
struct History {
    double* shiftLog;       // h of every shift of the call, in order
    Index shiftCapacity;
    Index* searchStart;     // targetStars + 1: shiftsMade when each search started
    Index searchCount;      // searches started; the current one is searchCount - 1
    Index* colStarSearch;   // colCount: the first search that began with a star in the column
    CoverEvent* events;     // the covers of the call
    Index eventCount;
    Index eventCapacity;
    Index* rowEvents;       // rowCount: first cover of the row, or none
    Index* rowLastEvent;    // rowCount
    Index* colEvents;       // colCount: first uncovering of the column, or none
    Index* colLastEvent;    // colCount
    KnownElement* known;    // replayed elements, each in its row's list
    Index knownCount;
    Index knownCapacity;
    Index* rowKnown;        // rowCount: first known element of the row, or none
    // The capacities above start at a few entries a line, what most calls need, and double when
    // full, up to what no call can pass (limits); grown, the blocks taken from the host since.
    Index shiftLimit;
    Index eventLimit;
    Index knownLimit;
    void* grown[3];
    std::uint64_t growths;
    // What the replays cost (one unit a shift replayed on one element, a search passed, a known
    // element looked at), and how many elements and shifts were replayed.
    std::uint64_t work;
    std::uint64_t replays;
    std::uint64_t replaySteps;
};

// Each column's smallest keys, over every row (matrices of at least listedRows rows): the rows of
// the columnTopSize smallest when the column was last read whole, and bound, a lower bound on
// every other row's key then and after (keys never decrease: a row's offset only grows).
struct ColumnLists {
    Index* rows;          // columnTopSize * colCount
    double* values;       // columnTopSize * colCount: R at the listed rows
    Index* count;         // colCount
    double* bound;        // colCount
    double* least;        // colCount: the least key the list was read with, a bound on all rows
    double* blockLeast;   // rowCount / 16: scratch of a column's reading, block by block
    // Where a column's first reading may come from instead of the matrix (rows reduced, a gated
    // matrix): its finite elements, kept by the check; every other row's key is at least
    // forbiddenLeast (barred rows aside).
    FiniteLists finite;
    double forbiddenLeast;
    // Barred rows (rows reduced): rows of forbidden pairs alone, as a track without a detection in
    // its gate makes. Such a row is 0 in every column of R, so its key is a_r in every column, and
    // a few of them would fill every list with ties. They are kept out of the lists (listOffset is
    // rowOffset but +inf at them) and looked at row by row (barred, in ascending order) wherever
    // a list is read: the lists are of the other rows.
    Index* barred;        // rowCount
    Index barredCount;
    unsigned char* isBarred;  // rowCount flags
    double* listOffset;   // rowCount
    Index* found;         // columnTopSize + rowCount: what withBarred finds
    // The barred rows not known to be covered in this search, in ascending order: all of them as
    // a search starts; a row covered since is dropped when a reading passes it (rows are only
    // covered within a search).
    Index* open;          // rowCount
    Index openCount;
};

// The search's state. It writes no element: element (r, c) stands for R(r, c) + rowOffset[r] -
// colOffset[c].
struct OffsetSearch {
    // Every value the search forms is exact (multiples of one power of two, small enough), so its
    // margins are 0 and it replays nothing.
    bool exact;
    // Gives up once its replay work passes its budget (the driver then restarts the call with the
    // element-by-element search); tests may hold that off.
    bool budgeted;
    // It could not go on (the budget, or a full history): the machine stopped at Phase::restart.
    bool gaveUp;
    double* rowOffset;      // rowCount: what shifts added to the row while it was covered
    double* scanOffset;     // rowCount: rowOffset while the row is uncovered, +inf while covered,
                            // so that one pass over a column, R + scanOffset, sees the uncovered
                            // rows alone
    double* colOffset;      // colCount: what shifts subtracted from the column while uncovered
                            // (kept from its first star on: see groupOffset)
    // The group: the columns that never held a star. They are uncovered in every shift (only
    // star columns are ever covered), so they all hold groupOffset, the sum of every h of the
    // call. groupColumns lists them in ascending order (a column leaves it at the augmentation
    // that stars it, and its place is none from then on), with a copy of each one's keyBound in
    // groupKeys, so that a shift reads the group's keys side by side.
    double groupOffset;
    Index* groupColumns;    // colCount
    double* groupKeys;      // colCount
    Index* groupPlace;      // colCount: the column's place in groupColumns, or none
    Index groupCount;
    bool listed;            // rowCount >= listedRows: columns start with lists
    ColumnLists lists;      // when listed
    // An unlisted column keeps no list: its columns are short (fewer than listedRows rows), or
    // its list could not hold every row that might be a zero (many ties). It is searched by
    // reading it, and keeps instead a floor: a lower bound on R + rowOffset over every row but
    // its star's, that holds across searches (offsets never decrease) until the column's star
    // changes (floorKnown cleared then). floorRow is a row that held it (or none), with its offset
    // then in floorOffset; while that row's offset is unchanged, the floor is that row's key, so
    // exact.
    unsigned char* unlisted;    // colCount flags
    double* floor;              // colCount
    Index* floorRow;            // colCount
    double* floorOffset;        // colCount
    unsigned char* floorKnown;  // colCount flags
    double* keyBound;           // colCount (KeyBound says what it is)
    Index* keyBoundRow;         // colCount: when exact, a candidate row holding it, or none
    KeyBound* keyState;         // colCount
    // The smallest key of the rows a column's current pass has read (see startPass), a row
    // holding it, and whether the pass has read every row so far.
    double* passLeast;          // colCount
    Index* passLeastRow;        // colCount
    unsigned char* passWhole;   // colCount flags
    // A shift's columns: those that may hold its new zeros, and those waiting to be settled.
    Index* tied;                // colCount
    Index* waiting;             // colCount
    Index shiftsMade;           // shifts in the whole call
    // Exact search only: between two shifts no element changes, however many searches pass. A
    // column searched a second time in that stretch gets its zeros written as byte flags
    // (elementCount), and is searched there, eight rows a step.
    unsigned char* zeroFlags;
    Index* zeroFlagsAt;     // colCount: shiftsMade when the column's flags were written, or none
    Index* searchedAt;      // colCount: shiftsMade when last searched from its top, or none
    History history;        // certified search only
};

namespace offsetSearch {

void layOut(Carving& carving, OffsetSearch& search, Index rows, Index cols);
void reset(OffsetSearch& search, Index rows, Index cols);

// Starts the first search on the seed's stars, each column's list from what the reduction knows
// of it, and runs the phases: done, or restart when it gave up.
Phase run(SolverState& state, OffsetSearch& search, const ColumnStarts& starts);

// --- Shared by the search's files.

using kernels::infinity;
using kernels::none;

// m = 1 + 2 kappa_k (offset_search.cpp): 1 when every value is exact.
inline double margin(const OffsetSearch& o) {
    return o.exact ? 1.0 : 1.0 + static_cast<double>(5 * o.shiftsMade + 8) * 0x1p-52;
}

// b_c. A column that has never held a star has been uncovered in every shift of the call, so its
// offset is the one every such column holds, groupOffset, summed in the same steps.
inline double target(const OffsetSearch& o, Index c) {
    // Picked by an index rather than a branch: columns of both kinds come mixed in every pass.
    const double offsets[2] = {o.colOffset[c], o.groupOffset};
    return offsets[o.groupPlace[c] >= 0 ? 1 : 0];
}

// Every zero of the uncovered column c at an uncovered row has a key at most this (in the exact
// case, a key equal to it).
inline double zeroThreshold(const OffsetSearch& o, Index c, double m) { return target(o, c) * m; }

// Sets a column's keyBound, and its copy in the group list if it is in the group.
inline void setKeyBound(OffsetSearch& o, Index c, double bound, KeyBound state, Index row) {
    o.keyBound[c] = bound;
    o.keyState[c] = state;
    o.keyBoundRow[c] = row;
    if (o.groupPlace[c] >= 0) o.groupKeys[o.groupPlace[c]] = bound;
}

// Whether the column's smallest key is known exactly: the row holding it is still a candidate,
// or the column has no candidate at all.
inline bool minimumExact(const SolverState& state, const OffsetSearch& o, Index c) {
    const Index row = o.keyBoundRow[c];
    return o.keyState[c] == KeyBound::exact && (row == none || !state.rowCover[row]);
}

// Each column's smallest key over its candidate rows, once known, is kept until the row holding
// it is covered; then it is only a bound (covering only removes candidates, so it still is one),
// which a listed column's list can better when asked (settleBound). Returns whether keyBound is
// exact.
inline bool ensureBound(SolverState& state, OffsetSearch& o, Index c) {
    const Index row = o.keyBoundRow[c];
    if (o.keyState[c] == KeyBound::exact && row != none && state.rowCover[row])
        o.keyState[c] = o.unlisted[c] ? KeyBound::bound : KeyBound::stale;
    return minimumExact(state, o, c);
}

// A column's pass: its reading from the top down to its end, over the segments between the
// zeros primed on the way. The smallest key of the rows read so far is gathered, so that the
// pass that reaches the end leaves the column's smallest key behind, as one reading would.
inline void startPass(OffsetSearch& o, Index c) {
    o.passLeast[c] = infinity;
    o.passLeastRow[c] = none;
    o.passWhole[c] = 1;
}

// offset_lists.cpp
void startLists(const SolverState& state, OffsetSearch& o, const ColumnStarts& starts);
void captureTop(SolverState& state, OffsetSearch& o, Index c);
void refreshFromList(SolverState& state, OffsetSearch& o, Index c);
void settleMinimum(SolverState& state, OffsetSearch& o, Index c, double least, Index leastRow);
void settleBound(SolverState& state, OffsetSearch& o, Index c);
int listedWithin(const SolverState& state, const OffsetSearch& o, Index c, Index from,
                 double threshold, Index* found);
int withBarred(const SolverState& state, OffsetSearch& o, Index from, double threshold,
               const Index* listed, int n);

// Calls visit(r) on each uncovered barred row in ascending order until it returns false, dropping
// the covered ones it passes from the open rows.
template <class Visit>
void visitOpenBarred(const SolverState& state, OffsetSearch& o, Visit visit) {
    ColumnLists& lists = o.lists;
    if (lists.openCount == 0) return;  // most matrices have no barred row
    Index kept = 0, i = 0;
    for (; i < lists.openCount; ++i) {
        const Index r = lists.open[i];
        if (state.rowCover[r]) continue;
        lists.open[kept++] = r;
        if (!visit(r)) {
            ++i;
            break;
        }
    }
    for (; i < lists.openCount; ++i) lists.open[kept++] = lists.open[i];
    lists.openCount = kept;
}

// The first uncovered barred row from `from` on, or rowCount.
inline Index firstUncoveredBarred(const SolverState& state, OffsetSearch& o, Index from) {
    Index first = state.rowCount;
    visitOpenBarred(state, o, [&](Index r) {
        if (r < from) return true;
        first = r;
        return false;
    });
    return first;
}

// The rows of column c's list and the barred rows that listedWithin and withBarred find.
inline int candidatesWithin(const SolverState& state, OffsetSearch& o, Index c, Index from,
                            double threshold, Index* listed, const Index*& found) {
    int n = listedWithin(state, o, c, from, threshold, listed);
    found = listed;
    if (o.lists.barredCount > 0) {
        n = withBarred(state, o, from, threshold, listed, n);
        found = o.lists.found;
    }
    return n;
}
Index scanColumn(const ReducedColumn& column, const double* offset, double threshold, Index from,
                 Index rows, double& least, Index& leastRow);

// offset_history.cpp
void startHistory(const SolverState& state, OffsetSearch& o);
bool recordCover(OffsetSearch& o, Index r, Index s);
bool growShiftLog(History& h);  // false at its limit
void releaseHistory(History& h);
double exactValue(SolverState& state, OffsetSearch& o, Index r, Index c);

}  // namespace offsetSearch

}  // namespace pairsolve

#endif
