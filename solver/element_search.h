// The element-by-element search: the method's phases over the working matrix, every shift applied
// to every element in the method's own rounded operations, but deferred column by column until
// the column is read. The one search that meets a search that cannot end (NaN, overflow), and the
// one a call restarts with when the offset search gives up.
#ifndef PAIRSOLVE_ELEMENT_SEARCH_H
#define PAIRSOLVE_ELEMENT_SEARCH_H

#include "solver_state.h"

namespace pairsolve {

struct ElementSearch {
    // Deferred shifts. Shift k of a search (k = 1, 2, ...) adds shiftLog[k - 1] to the rows
    // covered before it and subtracts it from the columns uncovered before it. A column holds
    // its elements as they stand after syncedTo[c] shifts; the later ones are replayed on it,
    // element by element in their order, when the column is read or the search ends.
    double* shiftLog;          // rowCount + 1
    Index* coveredBefore;      // rowCount + 1: rows covered before each shift (coveredCount)
    Index shiftCount;          // shifts made in this search
    double* coveredAfter;      // rowCount: shifts made before the row was covered; +inf if not
    Index* uncoveredAfter;     // colCount: shifts made before the column was uncovered (never
                               // while it is covered)
    Index* syncedTo;           // colCount
    double* replayValues;      // rowCount: scratch of the replay
    // The smallest element of each column over its candidate rows, as it stands now, and a row
    // holding it (none when every such element is NaN or +inf), while minimumKnown[c]. The
    // candidates are the uncovered rows, except the star's row while the column is covered: they
    // are the rows a sweep would search if the column were uncovered, which happens only when
    // the star's row gets covered.
    double* colMinimum;        // colCount
    Index* colMinimumRow;      // colCount
    unsigned char* minimumKnown;  // colCount flags
    Index shiftsMade;          // shifts in the whole call
};

namespace elementSearch {

void layOut(Carving& carving, ElementSearch& search, Index rows, Index cols);
void reset(ElementSearch& search, Index rows, Index cols);

Phase run(SolverState& state, ElementSearch& search);  // from the seed's stars to done

}  // namespace elementSearch

}  // namespace pairsolve

#endif
