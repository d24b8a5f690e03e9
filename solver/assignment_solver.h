// pairsolve: the rectangular linear assignment problem, solved exactly by the Hungarian method in
// Munkres' formulation. The solver's own header: not installed (C++ programs use pairsolve.h).
//
// Given a real M x N matrix of non-negative costs (column-major, element (r, c) at r + M * c),
// solveAssignment pairs min(M, N) rows with as many distinct columns so that the sum of the paired
// costs is smallest. Infinite elements (either sign) are forbidden pairs: the search sees them as a
// large finite value, and a pair that lands on one is reported as unassigned (0). A finite negative
// element is refused with "All matrix elements have to be non-negative."
//
// Terms used throughout:
//   zero      an element of the working matrix exactly equal to 0 (-0.0 included);
//   star      a starred zero: the current matching, at most one per row and per column;
//   prime     a zero primed during the current search, at most one per row;
//   cover     a covered column holds a star; a covered row holds a star and a prime;
//   search    the stretch between two augmentations. Within it rows only get covered, columns
//             only get uncovered, and elements change only in shifts.
//
// Two searches make the decisions of the method (which zero is primed, which path is flipped,
// which value a shift takes), each the very same decisions on every matrix, so callers cannot
// tell which one ran:
//   the element-by-element search (munkres_phases.cpp) applies every shift to every element, as
//       the method prescribes, in the same rounded operations;
//   the offset search (offset_search.cpp) keeps the reduced matrix as it is and holds what shifts
//       did as offsets per row and per column; where rounding could make its values differ from
//       the other search's, it settles the decision on the exact value, replayed.
// chooseSearch decides which one runs.
//
// The solver runs inside a host call: every buffer comes from the host allocator and is released
// before it returns, and failures leave through the host's error call, which does not return (the
// solver's functions are not noexcept for that reason: the stand-in host's error unwinds).
#ifndef PAIRSOLVE_ASSIGNMENT_SOLVER_H
#define PAIRSOLVE_ASSIGNMENT_SOLVER_H

#include <cstddef>
#include <cstdint>

namespace pairsolve {

using Index = std::ptrdiff_t;

// Fills assignment (rowCount doubles: the 1-based column of each row, or 0) and cost (the sum of
// costMatrix over the assigned pairs). costMatrix is never written.
void solveAssignment(double* assignment, double* cost, const double* costMatrix,
                     std::int32_t rowCount, std::int32_t colCount);

namespace solverTesting {
struct DecisionTrace;
}

// The matching as every search keeps it: indexes that make finding a star or a prime, following a
// path and covering the star columns O(1) a step, and the pending columns that a sweep visits.
struct Matching {
    Index* starInRow;     // rowCount: column of the row's star, or -1
    Index* starInCol;     // colCount: row of the column's star, or -1
    Index starCount;      // stars placed
    Index* primeInRow;    // rowCount: column of the row's prime (at most one), or -1
    Index* coveredRows;   // rowCount: rows covered in this search, in that order
    Index coveredCount;   // entries of coveredRows in use
    // rowCount: 0 on an uncovered row, +inf on a covered one. x + rowExclusion[r] is x itself on
    // an uncovered row (but for the sign of a zero) and neither 0 nor below any finite value on a
    // covered one, so a column's uncovered rows can be read without a test a row.
    double* rowExclusion;
    // For an uncovered column, no uncovered row above scanFrom[c] holds a zero.
    Index* scanFrom;      // colCount
    // Bit c set: column c is uncovered and may hold a zero at an uncovered row at or below
    // scanFrom[c]. Every other uncovered column holds no zero at an uncovered row.
    std::uint64_t* pendingColumns;  // (colCount + 63) / 64 words
};

// The element-by-element search's bookkeeping (munkres_phases.cpp says how it is used).
struct ElementSearch {
    // Deferred shifts. Shift k of a search (k = 1, 2, ...) adds shiftLog[k - 1] to the rows
    // covered before it and subtracts it from the columns uncovered before it. A column holds
    // its elements as they stand after syncedTo[c] shifts; the later ones are replayed on it,
    // element by element in their order, when the column is read or the search ends.
    double* shiftLog;               // rowCount + 1
    Index* coveredBefore;           // rowCount + 1: rows covered before each shift (coveredCount)
    Index shiftCount;               // shifts made in this search
    double* coveredAfter;           // rowCount: shifts made before the row was covered; +inf if not
    Index* uncoveredAfter;          // colCount: shifts made before the column was uncovered
                                    // (PTRDIFF_MAX while it is covered)
    Index* syncedTo;                // colCount
    double* replayValues;           // rowCount: scratch of the replay (and of the plain
                                    // search's shift: what it adds to each row)
    // The smallest element of each column over its candidate rows, as it stands now, and a row
    // holding it (-1 when every such element is NaN or +inf, -2 when not known). The candidates
    // are the uncovered rows, except the star's row while the column is covered: they are the
    // rows a sweep would search if the column were uncovered, which happens only when the
    // star's row gets covered.
    double* colMinimum;             // colCount
    Index* colMinimumRow;           // colCount
    // The plain search keeps colMinimum over the uncovered rows, gathered when coveredCount was
    // minimumCovered[c] (-1: to be gathered); it knows no row.
    Index* minimumCovered;          // colCount
    // The plain search's shift lists the uncovered and the covered columns here afresh
    // (listColumns in search_bookkeeping.h).
    Index* uncoveredColumns;        // colCount
    Index* coveredColumns;          // colCount
    Index shiftsMade;               // shifts in the whole call
};

// How many of each column's smallest keys the offset search keeps, in matrices of at least
// listedRows rows (shorter columns are read as fast as a list is consulted).
constexpr Index columnTopSize = 8;
constexpr Index listedRows = 64;

// How many of a row's zero columns the row reduction lists (Reduction::zeroColumns).
constexpr Index zeroListSize = 16;

// How many finite elements of a column the check keeps (Reduction::finiteRows).
constexpr Index finiteListSize = 16;

// A cover in the offset search's history: in search `search`, when `shift` shifts of the call had
// been made, a row was covered and its star's column uncovered. Each record is in that row's list
// and that column's, both linked in time order.
struct CoverEvent {
    Index search;
    Index shift;
    Index nextOfRow;     // the row's next cover, or -1
    Index nextOfColumn;  // the column's next uncovering, or -1
};

// An element whose exact value the offset search has replayed: its value after `stamp` shifts of
// the call, and where its row's and its column's events were read up to (the last event read,
// or -1 for none), so that the next replay goes on from there.
struct KnownElement {
    double value;
    Index col;
    Index stamp;
    Index rowRead;
    Index colRead;
    Index next;  // the next element known in the same row, or -1
};

// The offset search's bookkeeping (offset_search.cpp says how it is used). The search writes no
// element: element (r, c) stands for R(r, c) + rowOffset[r] - colOffset[c], R being the reduced
// matrix (Reduction).
struct OffsetSearch {
    // Every value the search forms is exact (multiples of one power of two, small enough), so
    // its margins are 0 and it replays nothing.
    bool exact;
    // Gives up once its replay work passes its budget (the driver then restarts the call with
    // the element-by-element search); tests may hold that off.
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
    Index* groupPlace;      // colCount: the column's place in groupColumns, or -1
    Index groupCount;
    // Each column's smallest keys, over every row: the rows of the columnTopSize smallest when
    // the column was last read whole, and topBound, a lower bound on every other row's key then
    // and after (keys never decrease: a row's offset only grows). Empty, with topBound -inf,
    // until the reduction (reduceWithoutCopy) starts it.
    Index* topRows;         // columnTopSize * colCount
    double* topValues;      // columnTopSize * colCount: R at the listed rows, read without
                            // reaching into the matrix
    Index* topCount;        // colCount
    double* topBound;       // colCount
    double* topLeast;       // colCount: the least key the list was read with, a bound on all rows
    double* blockLeast;     // rowCount / 16: scratch of a column's reading, block by block
    // An unlisted column keeps no list: its columns are short (fewer than listedRows rows), or
    // its list could not hold every row that might be a zero (many ties). It is searched by
    // reading it, and keeps instead a floor: a lower bound on R + rowOffset over every row but
    // its star's, that holds across searches (offsets never decrease) until the column's star
    // changes (floorRow -2 then). floorRow is a row that held it, with its offset then in
    // floorOffset; while that row's offset is unchanged, the floor is that row's key, so exact.
    unsigned char* unlisted;  // colCount
    double* floor;            // colCount
    Index* floorRow;          // colCount
    double* floorOffset;      // colCount
    // A lower bound on the smallest key over the column's candidate rows (the uncovered rows,
    // except the star's row while the column is covered), exact while keyBoundRow is a
    // candidate row holding it or -1 (no candidate); -2 when it is only a bound, -3 when it is
    // only a bound and the column's list may tell more.
    double* keyBound;       // colCount
    Index* keyBoundRow;     // colCount
    // The smallest key of the rows a column's current pass has read (see startPass) and a row
    // holding it, -2 when the pass skipped rows.
    double* passLeast;      // colCount
    Index* passLeastRow;    // colCount
    Index* tiedColumns;     // colCount: scratch of shiftByMinimum
    Index* waitingColumns;  // colCount: scratch of shiftByMinimum
    Index shiftsMade;       // shifts in the whole call
    // Exact search only: between two shifts no element changes, however many searches pass. A
    // column searched a second time in that stretch gets its zeros written as byte flags into
    // zeroFlags (elementCount, the nextStarMask buffer), and is searched there, eight rows a step.
    unsigned char* zeroFlags;
    Index* zeroFlagsAt;     // colCount: shiftsMade when the column's flags were written
    Index* searchedAt;      // colCount: shiftsMade when last searched from its top

    // The history that lets a single element be replayed exactly (not kept when every value is
    // exact).
    double* shiftLog;       // h of every shift of the call, in order
    Index shiftCapacity;
    Index* searchStart;     // targetStars + 1: shiftsMade when each search started
    Index searchCount;      // searches started; the current one is searchCount - 1
    Index* colStarSearch;   // colCount: the first search that began with a star in the column
    CoverEvent* events;     // the covers of the call
    Index eventCount;
    Index eventCapacity;
    Index* rowEvents;       // rowCount: first cover of the row, or -1
    Index* rowLastEvent;    // rowCount
    Index* colEvents;       // colCount: first uncovering of the column, or -1
    Index* colLastEvent;    // colCount
    KnownElement* known;    // replayed elements, each in its row's list
    Index knownCount;
    Index knownCapacity;
    Index* rowKnown;        // rowCount: first known element of the row, or -1
    // What the replays cost (one unit a shift replayed on one element, a search passed, a known
    // element looked at), and where that counts as too much.
    std::uint64_t replays;
    std::uint64_t replaySteps;
    std::uint64_t work;
    std::uint64_t budget;
};

// The reduction, kept for seeding (and seeding again if the call restarts). The reduced matrix is
//     R(r, c) = (C(r, c) - rowMinimum[r]) - colMinimum[c],
// C being the caller's matrix with every forbidden pair (an infinity) replaced by forbiddenValue.
// Only one direction is reduced, and the other one's minima are zeros: x - 0 is x, bit for bit,
// so the two subtractions give the one reduction's values. The element-by-element and plain
// searches work on R written out (workMatrix). The offset search writes no element, so it takes
// no working copy: it forms R from the caller's matrix wherever it reads one (reducedColumn).
struct Reduction {
    const double* costMatrix;  // the caller's, read only
    double forbiddenValue;     // +inf when the matrix holds no infinity
    bool negativeInfinity;     // the matrix holds a -inf
    // rowCount: the row minima when rows are reduced, else zeros (or null while no search
    // reads R from the caller's matrix). Behind the working copy when there is one.
    double* rowMinimum;
    // colCount: the column minima when columns are reduced, else zeros (or null likewise).
    double* colMinimum;
    // When columns are reduced, the first row where each column became 0 (or rowCount).
    Index* firstZero;    // colCount, or none when rows are reduced
    // When columns are reduced without a working copy: for each column a value at most each of
    // its elements but its first zero (forbidden pairs at forbiddenValue aside), so that a column
    // whose colNext and forbiddenValue are both above its minimum holds no other zero.
    const double* colNext;  // colCount, or none
    // When rows are reduced: how many columns each row became 0 in, the first zeroListSize of
    // them in ascending order, and the last (or -1). Seeding then reads no element of a row
    // but after its last listed zero, and none after its last.
    Index* zeroCount;    // rowCount, or none when columns are reduced
    Index* zeroColumns;  // zeroListSize * rowCount, or none
    Index* lastZero;     // rowCount, or none
    // When rows are reduced and the check gathered them: each column's finite elements, when
    // they are at most finiteListSize (the rest are forbidden pairs, as in a gated matrix):
    // their count (finiteListSize + 1 when there are more, or they are not known), their rows in
    // ascending order and their values in the caller's matrix. forbiddenLeast is at most every
    // forbidden pair's element of R. The offset search reads a column's first list from them
    // (captureTop).
    Index* finiteCount;     // colCount, or none
    Index* finiteRows;      // finiteListSize * colCount, or none
    double* finiteValues;   // finiteListSize * colCount, or none
    double forbiddenLeast;
};

// What the phases share. The driver takes every buffer from the host allocator and releases it:
// the working copy (or, for the offset search, the line minima alone), one block of flags (the
// covers) and one of bookkeeping. Stars and primes are kept as indexes only (Matching): no
// search reads a mask of them, so none is written.
struct SolverState {
    double* workMatrix;           // elementCount doubles: R written out, or null (Reduction)
    // elementCount flags, for the exact offset search only (null otherwise), which keeps its zero
    // flags here (OffsetSearch::zeroFlags) and writes a column's whole before reading it, so they
    // are taken with the bookkeeping, not cleared.
    unsigned char* nextStarMask;
    unsigned char* colCover;      // colCount flags
    unsigned char* rowCover;      // rowCount flags
    std::int32_t rowCount;
    std::int32_t colCount;
    Index targetStars;            // min(rowCount, colCount): stars that end the search
    double* assignment;           // rowCount doubles, written by buildAssignment
    // Set when forbidden pairs were replaced by a forbiddenValue that overflowed to +inf: a search
    // that later stalls does so because of that overflow, even where inf - inf left NaN behind.
    bool forbiddenOverflowed;

    // Bookkeeping that lets each phase touch only what can have changed instead of rescanning the
    // whole matrix; none of it alters a result. O(rowCount + colCount) in all, carved from one
    // block that the driver takes from the host allocator after the flag arrays (layOutScratch).
    Matching matching;
    ElementSearch element;
    OffsetSearch offset;
    Reduction reduction;

    solverTesting::DecisionTrace* trace;  // tests only: every decision, in order; else null
};

// The phase machine. Each phase returns the next one; runPhases makes the transitions in a loop,
// so the call depth stays constant however long the search runs. The offset search may stop at
// restart instead of done, having given up.
enum class Phase { checkDone, primeZeros, augmentPath, coverStarColumns, shiftByMinimum, done, restart };

Phase checkDone(SolverState& state);  // shared: counting the covered columns

// The element-by-element search (munkres_phases.cpp).
namespace elementSearch {
Phase runPhases(SolverState& state);  // done
// Brings every column up to date with the shifts of the search that ended, and sets the
// bookkeeping for a search that starts from the current stars and covers (star columns covered,
// no row covered, nothing primed). The driver calls it after seeding, coverStarColumns after
// each augmentation.
void startSearch(SolverState& state);
Phase primeZeros(SolverState& state, Index& pathRow, Index& pathCol);
Phase augmentPath(SolverState& state, Index pathRow, Index pathCol);
Phase coverStarColumns(SolverState& state);
Phase shiftByMinimum(SolverState& state);
}  // namespace elementSearch

// The element-by-element search with no deferred shifts, for small matrices (munkres_phases.cpp).
namespace plainSearch {
Phase runPhases(SolverState& state);
void startSearch(SolverState& state);
Phase primeZeros(SolverState& state, Index& pathRow, Index& pathCol);
Phase coverStarColumns(SolverState& state);
Phase shiftByMinimum(SolverState& state);
}  // namespace plainSearch

// The offset search (offset_search.cpp): the same phases over the same matching.
namespace offsetSearch {
Phase runPhases(SolverState& state);  // done, or restart when it gave up
void startCall(SolverState& state);    // the first search, after seeding
void startSearch(SolverState& state);
Phase primeZeros(SolverState& state, Index& pathRow, Index& pathCol);
Phase augmentPath(SolverState& state, Index pathRow, Index pathCol);
Phase coverStarColumns(SolverState& state);
Phase shiftByMinimum(SolverState& state);
}  // namespace offsetSearch

// Which search a call runs, and how.
enum class Search {
    elementByElement,
    plain,            // the element-by-element search with no deferred shifts
    offsetExact,      // the offset search, every value exact
    offsetCertified,  // the offset search, decisions certified by margins and exact replays
};

namespace solverTesting {
enum class SearchChoice {
    chosen,            // as solveAssignment chooses
    offset,            // the offset search wherever it can run, whatever its size, and no budget
    elementByElement,  // the element-by-element search whatever the matrix
    plain,             // its plain form whatever the size
};
}  // namespace solverTesting

// What the driver knows of the working matrix (forbidden pairs replaced, not yet reduced) when
// it chooses the search.
struct MatrixSummary {
    double largest = 0;           // the largest element (NaN never counts)
    bool anyNaN = false;
    bool anyInfinite = false;     // +inf or -inf (an overflowed forbiddenValue)
    int lowestBit = 1024;         // every element is a multiple of 2^lowestBit (1024: all zero)
};

// Adds one element of the working matrix to the summary.
void summarize(MatrixSummary& summary, double v);

// The search for a working matrix with this summary:
// - the exact offset search when every element is a finite multiple of g = 2^lowestBit and the
//   largest, W, satisfies (W / g) * 2(rowCount + colCount + 1) < 2^53 (offset_search.cpp says
//   why then nothing is rounded);
// - otherwise the certified offset search when no element is NaN or infinite and
//   (2 min(rowCount, colCount) + 2) W < DBL_MAX (no offset or sum of the search can overflow);
// - otherwise, and whenever choice asks for it, the element-by-element search, the only one that
//   meets a search that cannot end (and reports it).
// Under `chosen` the certified search is also left out where it does not pay: see the driver.
Search chooseSearch(const MatrixSummary& summary, std::int32_t rowCount, std::int32_t colCount,
                    solverTesting::SearchChoice choice);

// The same from a working matrix, for tests: forbidden pairs already replaced.
Search searchFor(const double* workMatrix, std::size_t elementCount, std::int32_t rowCount,
                 std::int32_t colCount, solverTesting::SearchChoice choice);

// For tests and benchmarks only, not for callers: solveAssignment with a search of one's choice,
// and what the call did, so that the searches can be compared on the same input.
namespace solverTesting {

struct SearchReport {
    bool offsetRan = false;       // the offset search ran (to the end, or until it gave up)
    bool exactOffsets = false;    // ... with every value exact, so that it replays nothing
    bool restarted = false;       // it gave up and the element-by-element search solved the call
    bool plainRan = false;        // the plain search ran
    std::uint64_t shifts = 0;     // shifts made by the search that gave the result
    std::uint64_t replays = 0;    // elements whose exact value the offset search replayed
    std::uint64_t replaySteps = 0;  // shifts replayed over all of them
};

// One decision of a search: a zero primed at (row, col), a shift by value, or the start
// (row, col) of an augmenting path.
struct Decision {
    enum Kind { prime, shift, augment } kind;
    Index row;
    Index col;
    double value;
};

// Decisions in the order a search made them, into a buffer of the test's; count goes on past
// capacity, so that a full buffer shows. After a restart the element-by-element search's
// decisions follow the offset search's, which are the first restartedAt.
struct DecisionTrace {
    Decision* entries;
    std::size_t capacity;
    std::size_t count;
    std::size_t restartedAt;
};

void solve(SearchChoice choice, double* assignment, double* cost, const double* costMatrix,
           std::int32_t rowCount, std::int32_t colCount, SearchReport* report = nullptr,
           DecisionTrace* trace = nullptr);

// solve(SearchChoice::elementByElement, ...), for code that passes entries around.
void solveElementByElement(double* assignment, double* cost, const double* costMatrix,
                             std::int32_t rowCount, std::int32_t colCount);

// Records a decision if a trace is attached.
inline void record(SolverState& state, Decision::Kind kind, Index row, Index col, double value) {
    DecisionTrace* trace = state.trace;
    if (trace == nullptr) return;
    if (trace->count < trace->capacity) trace->entries[trace->count] = Decision{kind, row, col, value};
    ++trace->count;
}

}  // namespace solverTesting

void buildAssignment(double* assignment, const Index* starInRow, std::int32_t rowCount);
void addUpCost(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount);

// Messages the solver ends a call with.
namespace text {
constexpr const char* negativeElement = "All matrix elements have to be non-negative.";
constexpr const char* nanBlocksId = "pairsolve:nanBlocksAssignment";
constexpr const char* nanBlocks = "NaN elements prevent a complete assignment.";
constexpr const char* overflowId = "pairsolve:costOverflow";
constexpr const char* overflow = "Matrix elements are too large to solve; scale the matrix down.";
constexpr const char* inputSizeId = "pairsolve:inputSize";
}  // namespace text

}  // namespace pairsolve

#endif
