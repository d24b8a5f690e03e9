// A program that has a real host's mex.h and libraries (Octave's) and the installed pairsolve in
// one file: the two must compile side by side, and each call must reach its own library.
#include "mex.h"

#include <pairsolve/pairsolve.h>

#include <cstdio>

int main() {
    // Octave's own mxIsFinite and mxGetInf, linked from liboctinterp.
    if (!mxIsFinite(1.0) || mxIsFinite(mxGetInf())) return 1;
    const pairsolve::Result r = pairsolve::solve({1, 5, 2, 1}, 2, 2);
    if (r.columns != std::vector<std::int64_t>{0, 1} || r.cost != 2) return 1;
    try {
        pairsolve::solve({1, 2, 3}, 2, 2);  // three elements for a 2 x 2 matrix
        return 1;
    } catch (const pairsolve::Error& e) {
        std::printf("beside Octave's mex.h: solved, and refused with %s\n", e.identifier().c_str());
    }
    return 0;
}
