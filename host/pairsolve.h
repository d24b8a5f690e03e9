// pairsolve for C++ programs: the solver run as one call of the stand-in host.
//
//   #include <pairsolve/pairsolve.h>
//   pairsolve::Result r = pairsolve::solve({4, 2, 3, 1, 0, 2, 3, 5, 2}, 3, 3);  // column-major
//   // r.assignment == {2, 1, 3}, r.cost == 5
//
// Errors arrive as pairsolve::Error (identifier() and what()); whatever the call had allocated is
// released before the exception reaches the caller. Separate threads may solve at the same time.
#ifndef PAIRSOLVE_PAIRSOLVE_H
#define PAIRSOLVE_PAIRSOLVE_H

#include <cstdint>
#include <vector>

#include "assignment_solver.h"
#include "standin_host.h"

namespace pairsolve {

// solveAssignment inside its own call scope. assignment has rowCount entries; costMatrix holds
// rowCount * colCount doubles, column-major.
void solve(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount,
           std::int32_t colCount);

struct Result {
    std::vector<double> assignment;  // per row, the 1-based column, or 0
    double cost;
};

// The same for a matrix held in a vector (column-major, rowCount * colCount entries).
Result solve(const std::vector<double>& costMatrix, std::int32_t rowCount, std::int32_t colCount);

}  // namespace pairsolve

#endif
