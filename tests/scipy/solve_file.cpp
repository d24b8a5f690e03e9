// Solves every matrix of a file with pairsolve and writes the answers to another file, so that a
// script can compare them with another solver or time them on the same input.
//
//   pairsolve_solve_file <matrices> <answers> [--repeat K]
//
// All numbers are in the machine's own byte order (the tool and the script that feeds it run on
// the same machine).
//   matrices: uint64 count; then per matrix int32 rows, int32 cols, rows * cols doubles (column-major)
//   answers:  uint64 count; then per matrix uint8 failed (1 when the call ended with an error),
//             the error's identifier and message, each as uint32 length and bytes (empty after
//             success; the non-negativity refusal has no identifier), int32 rows, rows doubles
//             of assignment, one double cost
// After a failed call the assignment and cost hold whatever the solver had written.
//
// Standard output gets one line, "solve_seconds <s> matrices <n> repeats <K>": the steady_clock
// time spent in the solver over all matrices and repeats, without reading, writing or allocating
// the answers. With --repeat K every matrix is solved K times in a row (for timing small matrices);
// the answers are those of the last round.
#include <chrono>
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

struct Problem {
    std::int32_t rowCount = 0;
    std::int32_t colCount = 0;
    std::vector<double> costMatrix;
    std::vector<double> assignment;
    double cost = 0.0;
    bool failed = false;
    std::string errorIdentifier;
    std::string errorMessage;
};

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "pairsolve_solve_file: " << message << '\n';
    std::exit(2);
}

template <typename T>
T readValue(std::istream& in, const char* what) {
    T value;
    if (!in.read(reinterpret_cast<char*>(&value), sizeof value))
        fail(std::string("input ends before ") + what);
    return value;
}

template <typename T>
void writeValue(std::ostream& out, const T& value) {
    out.write(reinterpret_cast<const char*>(&value), sizeof value);
}

void writeText(std::ostream& out, const std::string& text) {
    writeValue(out, static_cast<std::uint32_t>(text.size()));
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::vector<Problem> readProblems(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(std::string("cannot open ") + path);
    const auto count = readValue<std::uint64_t>(in, "the matrix count");
    std::vector<Problem> problems;
    for (std::uint64_t k = 0; k < count; ++k) {
        Problem p;
        p.rowCount = readValue<std::int32_t>(in, "a row count");
        p.colCount = readValue<std::int32_t>(in, "a column count");
        if (p.rowCount < 0 || p.colCount < 0)
            fail("negative size in matrix " + std::to_string(k));
        const std::size_t elementCount =
            static_cast<std::size_t>(p.rowCount) * static_cast<std::size_t>(p.colCount);
        p.costMatrix.resize(elementCount);
        const auto bytes = static_cast<std::streamsize>(elementCount * sizeof(double));
        if (!in.read(reinterpret_cast<char*>(p.costMatrix.data()), bytes))
            fail("input ends inside matrix " + std::to_string(k));
        p.assignment.assign(static_cast<std::size_t>(p.rowCount), 0.0);
        problems.push_back(std::move(p));
    }
    if (in.peek() != std::char_traits<char>::eof()) fail("unexpected data after the last matrix");
    return problems;
}

void writeAnswers(const char* path, const std::vector<Problem>& problems) {
    std::ofstream out(path, std::ios::binary);
    if (!out) fail(std::string("cannot create ") + path);
    writeValue(out, static_cast<std::uint64_t>(problems.size()));
    for (const Problem& p : problems) {
        writeValue(out, static_cast<std::uint8_t>(p.failed ? 1 : 0));
        writeText(out, p.errorIdentifier);
        writeText(out, p.errorMessage);
        writeValue(out, p.rowCount);
        out.write(reinterpret_cast<const char*>(p.assignment.data()),
                  static_cast<std::streamsize>(p.assignment.size() * sizeof(double)));
        writeValue(out, p.cost);
    }
    if (!out.flush()) fail(std::string("cannot write ") + path);
}

}  // namespace

int main(int argc, char** argv) {
    long repeats = 1;
    if (argc == 5 && std::strcmp(argv[3], "--repeat") == 0) {
        char* end = nullptr;
        repeats = std::strtol(argv[4], &end, 10);
        if (*end != '\0' || repeats < 1) fail("--repeat needs a positive whole number");
    } else if (argc != 3) {
        std::cerr << "usage: pairsolve_solve_file <matrices> <answers> [--repeat K]\n";
        return 2;
    }

    std::vector<Problem> problems = readProblems(argv[1]);

    // One clock reading around the whole loop: reading the clock per call would weigh on the
    // timing of small matrices.
    const auto start = std::chrono::steady_clock::now();
    for (long round = 0; round < repeats; ++round) {
        for (Problem& p : problems) {
            try {
                pairsolve::solve(p.assignment.data(), &p.cost, p.costMatrix.data(), p.rowCount,
                                 p.colCount);
                p.failed = false;
            } catch (const pairsolve::Error& e) {
                p.failed = true;
                p.errorIdentifier = e.identifier();
                p.errorMessage = e.what();
            }
        }
    }
    const auto solving = std::chrono::steady_clock::now() - start;

    writeAnswers(argv[2], problems);
    std::printf("solve_seconds %.9f matrices %zu repeats %ld\n",
                std::chrono::duration<double>(solving).count(), problems.size(), repeats);
    return 0;
}
