// Writes the matrices of one bench problem to a file, so that pairsolve, SciPy, Octave and the
// other peers all solve the very same bits.
//
//   pairsolve_bench_matrices <kind> <rows> <cols> <count> <seed> <out>
//
// kind: uniform, ties0to100 or ties0to1e6 (random_matrices::generate), decimalTenths (k / 10,
// k uniform in 0..1000), gatedTracking or gatedClutter (rows tracks x cols detections,
// Euclidean distances, +inf beyond the gate), gatedTrackingLost10 and gatedTrackingLost25 (gated
// tracking with 10% or 25% of the tracks undetected, rows all +inf), nearRank3 (three outer
// products plus noise up to 1e-3, scaled onto 0.1..2.0, distinct doubles), offsets0to100 and
// offsets0to1e5 (integers 0..100 or 0..10^5 plus row and column offsets up to ten times that),
// lowRankNearTies (a_r + b_c, some sums a double up or raised by a few 2^-40). The parameters
// are fixed here with the names: a problem's matrices stay the same from run to run. The count
// matrices come one after the other from one Source seeded with seed. The file has the format of pairsolve_solve_file (tests/scipy/solve_file.cpp): uint64
// count, then per matrix int32 rows, int32 cols and rows * cols doubles, column-major, all in the
// machine's byte order.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "random_matrices.h"

namespace {

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "pairsolve_bench_matrices: " << message << '\n';
    std::exit(2);
}

long long number(const char* text, const char* what) {
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 0) fail(std::string("bad ") + what + ": " + text);
    return value;
}

random_matrices::Matrix make(random_matrices::Source& source, const std::string& kind,
                             std::int32_t rows, std::int32_t cols) {
    using random_matrices::Kind;
    if (kind == "decimalTenths") return random_matrices::decimalTenths(source, rows, cols);
    if (kind == "gatedTracking") return random_matrices::gatedTracking(source, rows, cols);
    if (kind == "gatedClutter") return random_matrices::gatedClutter(source, rows, cols);
    if (kind == "gatedTrackingLost10") return random_matrices::gatedTrackingLost(source, rows, cols, 0.10);
    if (kind == "gatedTrackingLost25") return random_matrices::gatedTrackingLost(source, rows, cols, 0.25);
    if (kind == "nearRank3") return random_matrices::nearlyLowRank(source, rows, cols, 3, 1e-3);
    if (kind == "offsets0to100") return random_matrices::integersWithOffsets(source, rows, cols, 100, 1000);
    if (kind == "offsets0to1e5")
        return random_matrices::integersWithOffsets(source, rows, cols, 100000, 1000000);
    if (kind == "lowRankNearTies") return random_matrices::lowRankNearTies(source, rows, cols);
    for (const Kind k : {Kind::uniform, Kind::ties0to100, Kind::ties0to1e6})
        if (kind == random_matrices::kindName(k)) return random_matrices::generate(source, k, rows, cols);
    fail("unknown kind " + kind);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::cerr << "usage: pairsolve_bench_matrices <kind> <rows> <cols> <count> <seed> <out>\n";
        return 2;
    }
    const std::string kind = argv[1];
    const long long rows = number(argv[2], "row count"), cols = number(argv[3], "column count");
    if (rows > INT32_MAX || cols > INT32_MAX) fail("sizes must fit 32 bits");
    const auto count = static_cast<std::uint64_t>(number(argv[4], "matrix count"));
    char* end = nullptr;
    const std::uint64_t seed = std::strtoull(argv[5], &end, 10);
    if (*argv[5] == '\0' || *end != '\0') fail(std::string("bad seed: ") + argv[5]);

    std::ofstream out(argv[6], std::ios::binary);
    if (!out) fail(std::string("cannot create ") + argv[6]);
    out.write(reinterpret_cast<const char*>(&count), sizeof count);
    random_matrices::Source source(seed);
    for (std::uint64_t k = 0; k < count; ++k) {
        const random_matrices::Matrix m =
            make(source, kind, static_cast<std::int32_t>(rows), static_cast<std::int32_t>(cols));
        out.write(reinterpret_cast<const char*>(&m.rows), sizeof m.rows);
        out.write(reinterpret_cast<const char*>(&m.cols), sizeof m.cols);
        out.write(reinterpret_cast<const char*>(m.data.data()),
                  static_cast<std::streamsize>(m.data.size() * sizeof(double)));
    }
    if (!out.flush()) fail(std::string("cannot write ") + argv[6]);
    return 0;
}
