// The C++ entry points: one solve as one call of the stand-in host.
#include "pairsolve.h"

#include "assignment_solver.h"
#include "standin_host.h"

namespace pairsolve {

void solve(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount,
           std::int32_t colCount) {
    standin::CallScope call;
    solveAssignment(assignment, cost, costMatrix, rowCount, colCount);
}

Result solve(const std::vector<double>& costMatrix, std::int32_t rowCount, std::int32_t colCount) {
    if (rowCount < 0 || colCount < 0 ||
        costMatrix.size() != static_cast<std::size_t>(rowCount) * static_cast<std::size_t>(colCount))
        throw Error("pairsolve:inputSize",
                    "The cost matrix must hold rowCount * colCount elements.");
    Result result;
    result.assignment.assign(static_cast<std::size_t>(rowCount), 0.0);
    solve(result.assignment.data(), &result.cost, costMatrix.data(), rowCount, colCount);
    result.columns.reserve(result.assignment.size());
    for (const double column : result.assignment)
        result.columns.push_back(static_cast<std::int64_t>(column) - 1);  // 0 becomes unassigned
    return result;
}

}  // namespace pairsolve
