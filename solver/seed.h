// Seeding: the first stars, placed greedily on the zeros of R.
#ifndef PAIRSOLVE_SEED_H
#define PAIRSOLVE_SEED_H

#include "check.h"
#include "solver_state.h"

namespace pairsolve {

// What seeding reads instead of the matrix: when rows are reduced, the rows' zeros; when columns
// are, each column's first zero (rowCount if none) and, without a copy, a value at most each of
// its elements but that one (forbidden pairs at forbiddenValue aside), so that a column whose
// colNext and forbiddenValue are both above its minimum holds no other zero.
struct SeedHints {
    RowZeros zeros;
    const Index* firstZero;
    const double* colNext;
};

// Seeding, on R as reduction holds it: rows reduced, rows in ascending order each star their first
// zero in a column not yet taken; columns reduced, columns in ascending order each star their first
// zero in a row not yet taken (the rows are marked only to keep stars independent, and cleared
// again, as the search starts with no row covered). Each star's column is covered.
void seed(SolverState& state, const SeedHints& hints);

}  // namespace pairsolve

#endif
