// Solves a small assignment problem and prints the answer.
#include <cstdio>

#include "pairsolve.h"

int main() {
    // Three workers (rows) and three jobs (columns), written column by column:
    //   [4 1 3
    //    2 0 5
    //    3 2 2]
    const std::vector<double> costs = {4, 2, 3, 1, 0, 2, 3, 5, 2};
    const pairsolve::Result result = pairsolve::solve(costs, 3, 3);
    std::printf("cost matrix:\n  4 1 3\n  2 0 5\n  3 2 2\n");
    std::printf("assignment (column of each row): [%g; %g; %g]\n", result.assignment[0],
                result.assignment[1], result.assignment[2]);
    std::printf("cost: %g\n", result.cost);
    return 0;
}
