// pairsolve::solve answered by the reference model, so that the file solver times the reference
// model on exactly the path it times the solver on: one stand-in call scope per call.
#include "assignment_solver.h"
#include "pairsolve.h"
#include "standin_host.h"
#include "reference_model.h"

using namespace pairsolve;

namespace pairsolve {

void solve(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount,
           std::int32_t colCount) {
    standin::CallScope call;
    reference::solveAssignment(assignment, cost, costMatrix, rowCount, colCount);
}

}  // namespace pairsolve
