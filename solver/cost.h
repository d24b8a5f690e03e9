// The last stage: the assignment from the stars, and its cost over the caller's matrix.
#ifndef PAIRSOLVE_COST_H
#define PAIRSOLVE_COST_H

#include <cstdint>

#include "kernels.h"

namespace pairsolve {

// Writes each row's star as a 1-based column; rows without a star keep their 0.
void buildAssignment(double* assignment, const Index* starInRow, std::int32_t rowCount);

// The cost over the caller's matrix, not the reduced copy: what the caller's numbers add up to,
// rows in ascending order; a pair on a forbidden (infinite) element is dropped (its row gets 0)
// rather than paid for.
void addUpCost(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount);

}  // namespace pairsolve

#endif
