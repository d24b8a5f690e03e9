// The plain search: the method as it is written, for small matrices, where deferring shifts costs
// more than it saves. A shift is applied to every element at once, and the sweeps read the
// working matrix itself. It is also the decision oracle the other searches are checked against.
#ifndef PAIRSOLVE_PLAIN_SEARCH_H
#define PAIRSOLVE_PLAIN_SEARCH_H

#include "solver_state.h"

namespace pairsolve {

// Besides the matching it keeps each uncovered column's least element at an uncovered row, which
// the pass that shifts a column gathers for the next shift.
struct PlainSearch {
    // rowCount: 0 on an uncovered row, +inf on a covered one. x + exclusion[r] is x itself on an
    // uncovered row (but for the sign of a zero) and neither 0 nor below any finite value on a
    // covered one, so a column's uncovered rows are read without a test a row.
    double* exclusion;
    double* addition;          // rowCount: scratch of a shift, h on a covered row and 0 elsewhere
    double* colMinimum;        // colCount: the least element over the uncovered rows
    Index* minimumCovered;     // colCount: coveredCount when colMinimum was gathered (or
                               // notGathered)
    Index* uncoveredColumns;   // colCount: scratch of a shift
    Index* coveredColumns;     // colCount: scratch of a shift
    Index shiftsMade;
};

namespace plainSearch {

constexpr Index notGathered = -1;

void layOut(Carving& carving, PlainSearch& search, Index rows, Index cols);
void reset(PlainSearch& search, Index rows);

Phase run(SolverState& state, PlainSearch& search);  // from the seed's stars to done

}  // namespace plainSearch

// Every uncovered element is NaN or +inf: no shift can make a zero, and the same state would
// come back forever. Ends the call through the host's error call, with the cause: an infinite
// element in the working matrix (which must hold every shift made) means a value overflowed;
// otherwise the NaNs leave too few usable pairs.
void stall(const SolverState& state);

}  // namespace pairsolve

#endif
