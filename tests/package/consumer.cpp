// Solves through the installed package; exits non-zero on a wrong answer or a missing error.
#include <pairsolve/pairsolve.h>

#include <cstdio>

int main() {
    const pairsolve::Result r = pairsolve::solve({4, 2, 3, 1, 0, 2, 3, 5, 2}, 3, 3);
    if (r.assignment != std::vector<double>{2, 1, 3} || r.cost != 5) return 1;
    try {
        pairsolve::solve({1, -1}, 1, 2);
        return 1;
    } catch (const pairsolve::Error& e) {
        std::printf("installed package solves, and refuses: %s\n", e.what());
    }
    return 0;
}
