// Solves through the installed package; exits non-zero on a wrong answer or a missing error.
#include <pairsolve/pairsolve.h>

#include <cstdio>
#include <cstring>

int main() {
    const pairsolve::Result r = pairsolve::solve({4, 2, 3, 1, 0, 2, 3, 5, 2}, 3, 3);
    if (r.assignment != std::vector<double>{2, 1, 3} || r.cost != 5) return 1;
    if (r.columns != std::vector<std::int64_t>{1, 0, 2}) return 1;
    // A row without a column: [1; 2] has one column for two rows.
    const pairsolve::Result tall = pairsolve::solve({1, 2}, 2, 1);
    if (tall.columns != std::vector<std::int64_t>{0, pairsolve::unassigned}) return 1;
    if (std::strcmp(PAIRSOLVE_VERSION, PAIRSOLVE_EXPECTED_VERSION) != 0) return 1;
    try {
        pairsolve::solve({1, -1}, 1, 2);
        return 1;
    } catch (const pairsolve::Error& e) {
        std::printf("installed package %s solves, and refuses: %s\n", PAIRSOLVE_VERSION, e.what());
    }
    return 0;
}
