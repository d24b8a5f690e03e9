// pairsolve from C++: three drivers and two routes, driver 2 may not take route 1; then a matrix
// that is refused.
#include <pairsolve/pairsolve.h>

#include <cstdio>
#include <limits>

int main() {
    const double forbidden = std::numeric_limits<double>::infinity();
    // [4 6; Inf 3; 5 2], stored column by column: element (r, c) at r + rows * c.
    const pairsolve::Result r = pairsolve::solve({4, forbidden, 5, 6, 3, 2}, 3, 2);
    std::printf("pairsolve %s, cost %g\n", PAIRSOLVE_VERSION, r.cost);
    for (std::size_t row = 0; row < r.columns.size(); ++row) {
        if (r.columns[row] == pairsolve::unassigned)
            std::printf("row %zu: unassigned (assignment %g)\n", row, r.assignment[row]);
        else
            std::printf("row %zu: column %lld (assignment %g)\n", row,
                        static_cast<long long>(r.columns[row]), r.assignment[row]);
    }

    try {
        pairsolve::solve({1, -1}, 1, 2);
    } catch (const pairsolve::Error& e) {
        std::printf("error \"%s\": %s\n", e.identifier().c_str(), e.what());
    }
    return 0;
}
