#include "cost.h"

#include "host_services.h"

namespace pairsolve {

void buildAssignment(double* assignment, const Index* starInRow, std::int32_t rowCount) {
    for (Index r = 0; r < rowCount; ++r)
        if (starInRow[r] >= 0) assignment[r] = static_cast<double>(starInRow[r] + 1);
}

void addUpCost(double* assignment, double* cost, const double* costMatrix, std::int32_t rowCount) {
    const Index rows = rowCount;
    for (Index r = 0; r < rows; ++r) {
        const Index c = static_cast<Index>(assignment[r] - 1);
        if (c < 0) continue;
        const double v = costMatrix[r + rows * c];
        if (mxIsFinite(v))
            *cost = *cost + v;
        else
            assignment[r] = 0;
    }
}

}  // namespace pairsolve
