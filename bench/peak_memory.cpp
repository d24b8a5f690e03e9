// Loads the first matrix of a file in the format of pairsolve_solve_file and solves it once, so
// that the peak resident size of the whole process (read by whoever started it, e.g. with wait4 or
// /usr/bin/time -v) can be compared between a solve and no solve at all: the difference is what
// the solve itself needed at its peak.
//
//   pairsolve_peak_memory <matrices> pairsolve|none
//
// Prints "cost <c>", the cost of the solve (0 for none).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "pairsolve.h"

namespace {

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "pairsolve_peak_memory: " << message << '\n';
    std::exit(2);
}

template <typename T>
T readValue(std::istream& in) {
    T value;
    if (!in.read(reinterpret_cast<char*>(&value), sizeof value)) fail("the input ends too early");
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: pairsolve_peak_memory <matrices> pairsolve|none\n";
        return 2;
    }
    const std::string solver = argv[2];
    if (solver != "pairsolve" && solver != "none")
        fail("unknown solver " + solver);

    std::ifstream in(argv[1], std::ios::binary);
    if (!in) fail(std::string("cannot open ") + argv[1]);
    if (readValue<std::uint64_t>(in) == 0) fail("the file holds no matrix");
    const auto rowCount = readValue<std::int32_t>(in);
    const auto colCount = readValue<std::int32_t>(in);
    if (rowCount < 0 || colCount < 0) fail("negative size");
    // Read straight into the one buffer the solve reads, so that loading leaves no higher peak
    // behind than holding the matrix does.
    std::vector<double> costMatrix(static_cast<std::size_t>(rowCount) *
                                   static_cast<std::size_t>(colCount));
    if (!in.read(reinterpret_cast<char*>(costMatrix.data()),
                 static_cast<std::streamsize>(costMatrix.size() * sizeof(double))))
        fail("the input ends inside the matrix");
    std::vector<double> assignment(static_cast<std::size_t>(rowCount));

    double cost = 0.0;
    try {
        if (solver == "pairsolve")
            pairsolve::solve(assignment.data(), &cost, costMatrix.data(), rowCount, colCount);
    } catch (const pairsolve::Error& e) {
        fail(std::string("the solve failed: ") + e.what());
    }

    std::printf("cost %.17g\n", cost);
    return 0;
}
