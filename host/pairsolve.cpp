#include "pairsolve.h"

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
    Result result{std::vector<double>(static_cast<std::size_t>(rowCount)), 0.0};
    solve(result.assignment.data(), &result.cost, costMatrix.data(), rowCount, colCount);
    return result;
}

}  // namespace pairsolve
