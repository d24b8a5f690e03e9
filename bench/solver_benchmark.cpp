// The C++ side of `make bench`: times pairsolve on the matrices of one problem, read from the file
// that every other peer of the run reads too (bench/make_matrices.cpp writes it), with Google
// Benchmark, and checks that every search it times gives the same answers bit for bit.
//
//   pairsolve_bench --matrices <file> --name <problem> [--sides chosen,element,reference]
//                   [--layout plain|loop] [--rounds R] [--samples S]
//                   [--answers <file>] [--summary <file>] [Google Benchmark flags]
//
// Sides, each a benchmark named <side>/<problem>:
//   chosen     pairsolve::solve, one host call, with the search solveAssignment chooses;
//   element    the element-by-element search forced (solverTesting, SearchChoice::elementByElement);
//   reference  the plain reference model of tests/.
// Each call runs inside a call scope of the stand-in host, as a caller's would.
//
// Layouts. plain: a repetition is R calls in a row on one matrix, the next matrix at each
// repetition (S repetitions, usually one per matrix). loop: a repetition is R passes over all
// matrices of the file, one call each, the next matrix at every call, as a caller with many small
// problems would run them (S repetitions). Either way a repetition's time per iteration is the mean
// time of one call; bench/bench.py takes the median over the repetitions.
//
// Before any timing, every matrix is solved once through solverTesting::solve(chosen, ...) with a
// SearchReport, untimed; that warms the caches up and gives the search counts (shifts, replays,
// ...). After the timing, the answers of every side (the last call on each matrix) must equal
// those of that pass bit for bit. --summary gets a JSON object with the call counts, the
// mismatches and the totals of the reports; --answers gets the chosen side's answers in the format
// of pairsolve_solve_file (tests/scipy/solve_file.cpp), for the checks against SciPy.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "assignment_solver.h"
#include "pairsolve.h"
#include "random_matrices.h"
#include "reference_model.h"
#include "standin_host.h"

using namespace pairsolve;

namespace {

using random_matrices::Matrix;

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "pairsolve_bench: " << message << '\n';
    std::exit(2);
}

struct Answer {
    std::vector<double> assignment;
    double cost = 0;
    bool solved = false;  // a call has written this answer
    bool failed = false;
    std::string identifier;
    std::string message;
};

using SolveFunction = void (*)(Answer&, const Matrix&);

template <typename Call>
void record(Answer& a, Call call) {
    try {
        call();
        a.failed = false;
    } catch (const pairsolve::Error& e) {
        a.failed = true;
        a.identifier = e.identifier();
        a.message = e.what();
    }
    a.solved = true;
}

void solveChosen(Answer& a, const Matrix& m) {
    record(a, [&] { pairsolve::solve(a.assignment.data(), &a.cost, m.data.data(), m.rows, m.cols); });
}

void solveElementByElement(Answer& a, const Matrix& m) {
    record(a, [&] {
        standin::CallScope call;
        solverTesting::solve(solverTesting::SearchChoice::elementByElement, a.assignment.data(),
                             &a.cost, m.data.data(), m.rows, m.cols);
    });
}

void solveReference(Answer& a, const Matrix& m) {
    record(a, [&] {
        standin::CallScope call;
        reference::solveAssignment(a.assignment.data(), &a.cost, m.data.data(), m.rows, m.cols);
    });
}

struct Side {
    std::string name;
    SolveFunction solve;
    std::vector<Answer> answers;  // per matrix, from the last call on it
    std::uint64_t calls = 0;
    std::size_t repetitions = 0;  // started so far: picks the matrix of a plain repetition
};

struct Problem {
    std::vector<Matrix> matrices;
    bool loop = false;
};

void timeSide(benchmark::State& state, Side* side, const Problem* problem) {
    const std::size_t count = problem->matrices.size();
    if (problem->loop) {
        std::size_t k = 0;
        for (auto _ : state) {
            side->solve(side->answers[k], problem->matrices[k]);
            if (++k == count) k = 0;
        }
    } else {
        const std::size_t k = side->repetitions % count;
        for (auto _ : state) side->solve(side->answers[k], problem->matrices[k]);
    }
    ++side->repetitions;
    side->calls += static_cast<std::uint64_t>(state.iterations());
}

template <typename T>
T readValue(std::istream& in, const char* what) {
    T value;
    if (!in.read(reinterpret_cast<char*>(&value), sizeof value))
        fail(std::string("the matrix file ends before ") + what);
    return value;
}

std::vector<Matrix> readMatrices(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot open " + path);
    const auto count = readValue<std::uint64_t>(in, "the matrix count");
    std::vector<Matrix> matrices(count);
    for (Matrix& m : matrices) {
        m.rows = readValue<std::int32_t>(in, "a row count");
        m.cols = readValue<std::int32_t>(in, "a column count");
        if (m.rows < 0 || m.cols < 0) fail("negative size in " + path);
        m.data.resize(static_cast<std::size_t>(m.rows) * static_cast<std::size_t>(m.cols));
        if (!in.read(reinterpret_cast<char*>(m.data.data()),
                     static_cast<std::streamsize>(m.data.size() * sizeof(double))))
            fail("the matrix file ends inside a matrix: " + path);
    }
    if (in.peek() != std::char_traits<char>::eof()) fail("data after the last matrix in " + path);
    return matrices;
}

template <typename T>
void writeValue(std::ostream& out, const T& value) {
    out.write(reinterpret_cast<const char*>(&value), sizeof value);
}

void writeText(std::ostream& out, const std::string& text) {
    writeValue(out, static_cast<std::uint32_t>(text.size()));
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void writeAnswers(const std::string& path, const std::vector<Answer>& answers) {
    std::ofstream out(path, std::ios::binary);
    if (!out) fail("cannot create " + path);
    writeValue(out, static_cast<std::uint64_t>(answers.size()));
    for (const Answer& a : answers) {
        writeValue(out, static_cast<std::uint8_t>(a.failed ? 1 : 0));
        writeText(out, a.failed ? a.identifier : "");
        writeText(out, a.failed ? a.message : "");
        writeValue(out, static_cast<std::int32_t>(a.assignment.size()));
        out.write(reinterpret_cast<const char*>(a.assignment.data()),
                  static_cast<std::streamsize>(a.assignment.size() * sizeof(double)));
        writeValue(out, a.cost);
    }
    if (!out.flush()) fail("cannot write " + path);
}

// Bit for bit: -0.0 differs from 0.0, and so do two NaNs with different payloads.
bool sameBits(const Answer& a, const Answer& b) {
    return a.failed == b.failed && a.identifier == b.identifier && a.message == b.message &&
           std::memcmp(&a.cost, &b.cost, sizeof a.cost) == 0 &&
           a.assignment.size() == b.assignment.size() &&
           (a.assignment.empty() || std::memcmp(a.assignment.data(), b.assignment.data(),
                                                a.assignment.size() * sizeof(double)) == 0);
}

std::string describeDifference(const Answer& expected, const Answer& got) {
    std::ostringstream text;
    text.precision(17);
    if (expected.failed != got.failed || expected.identifier != got.identifier) {
        text << (got.failed ? "error " + got.identifier : std::string("no error")) << " instead of "
             << (expected.failed ? "error " + expected.identifier : std::string("no error"));
        return text.str();
    }
    for (std::size_t r = 0; r < expected.assignment.size(); ++r)
        if (std::memcmp(&expected.assignment[r], &got.assignment[r], sizeof(double)) != 0) {
            text << "row " << r + 1 << ": column " << got.assignment[r] << " instead of "
                 << expected.assignment[r] << "; ";
            break;
        }
    text << "cost " << got.cost << " instead of " << expected.cost;
    return text.str();
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out += code;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

struct Options {
    std::string matrices, name, answers, summary;
    std::vector<std::string> sides{"chosen"};
    bool loop = false;
    long rounds = 1;
    long samples = 0;  // 0: one per matrix (plain) or 3 (loop)
};

long positive(const std::string& text, const char* what) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1) fail(std::string(what) + " needs a positive whole number");
    return value;
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) fail("missing value after " + flag);
        const std::string value = argv[++i];
        if (flag == "--matrices") {
            o.matrices = value;
        } else if (flag == "--name") {
            o.name = value;
        } else if (flag == "--answers") {
            o.answers = value;
        } else if (flag == "--summary") {
            o.summary = value;
        } else if (flag == "--sides") {
            o.sides.clear();
            std::stringstream list(value);
            for (std::string side; std::getline(list, side, ',');) o.sides.push_back(side);
        } else if (flag == "--layout") {
            if (value != "plain" && value != "loop") fail("--layout is plain or loop");
            o.loop = value == "loop";
        } else if (flag == "--rounds") {
            o.rounds = positive(value, "--rounds");
        } else if (flag == "--samples") {
            o.samples = positive(value, "--samples");
        } else {
            fail("unknown option " + flag);
        }
    }
    if (o.matrices.empty() || o.name.empty()) fail("--matrices and --name are required");
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);  // takes its own --benchmark_* flags out of argv
    const Options options = parseOptions(argc, argv);

    Problem problem;
    problem.matrices = readMatrices(options.matrices);
    problem.loop = options.loop;
    const std::size_t count = problem.matrices.size();
    if (count == 0) fail("the matrix file holds no matrix");
    const long samples = options.samples ? options.samples : options.loop ? 3 : static_cast<long>(count);

    const auto blankAnswers = [&] {
        std::vector<Answer> answers(count);
        for (std::size_t k = 0; k < count; ++k)
            answers[k].assignment.assign(static_cast<std::size_t>(problem.matrices[k].rows), 0.0);
        return answers;
    };

    // The untimed pass: answers and search reports of the chosen search.
    std::vector<Answer> expected = blankAnswers();
    solverTesting::SearchReport total;
    std::uint64_t offsetRan = 0, exactOffsets = 0, restarted = 0, plainRan = 0, mostReplays = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const Matrix& m = problem.matrices[k];
        solverTesting::SearchReport report;
        record(expected[k], [&] {
            standin::CallScope call;
            solverTesting::solve(solverTesting::SearchChoice::chosen, expected[k].assignment.data(),
                                 &expected[k].cost, m.data.data(), m.rows, m.cols, &report);
        });
        offsetRan += report.offsetRan;
        exactOffsets += report.exactOffsets;
        restarted += report.restarted;
        plainRan += report.plainRan;
        total.shifts += report.shifts;
        total.replays += report.replays;
        total.replaySteps += report.replaySteps;
        if (report.replays > mostReplays) mostReplays = report.replays;
    }

    std::vector<Side> sides;
    sides.reserve(options.sides.size());
    for (const std::string& name : options.sides) {
        SolveFunction solve = name == "chosen"      ? solveChosen
                              : name == "element"   ? solveElementByElement
                              : name == "reference" ? solveReference
                                                    : nullptr;
        if (solve == nullptr) fail("unknown side " + name + " (chosen, element, reference)");
        sides.push_back(Side{name, solve, blankAnswers()});
    }
    for (Side& side : sides) {
        benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(
            (side.name + "/" + options.name).c_str(), timeSide, &side, &problem);
        b->Unit(benchmark::kMicrosecond)
            ->UseRealTime()
            ->Iterations(options.rounds * (options.loop ? static_cast<long>(count) : 1))
            ->Repetitions(static_cast<int>(samples))
            ->DisplayAggregatesOnly(true);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::vector<std::string> mismatches;
    for (const Side& side : sides) {
        if (side.calls == 0) continue;  // filtered out
        for (std::size_t k = 0; k < count; ++k) {
            const Answer& got = side.answers[k];
            if (!got.solved)
                mismatches.push_back(options.name + ", matrix " + std::to_string(k) + ": " +
                                     side.name + " never solved it");
            else if (!sameBits(expected[k], got))
                mismatches.push_back(options.name + ", matrix " + std::to_string(k) + ": " +
                                     side.name + " differs from the chosen search: " +
                                     describeDifference(expected[k], got));
        }
    }
    for (const std::string& m : mismatches) std::cerr << "MISMATCH " << m << '\n';

    if (!options.answers.empty()) {
        const Side* chosen = nullptr;
        for (const Side& side : sides)
            if (side.name == "chosen" && side.calls > 0) chosen = &side;
        writeAnswers(options.answers, chosen ? chosen->answers : expected);
    }
    if (!options.summary.empty()) {
        std::ofstream out(options.summary);
        out << "{\n  \"problem\": " << jsonString(options.name) << ",\n  \"matrices\": " << count
            << ",\n  \"calls\": {";
        for (std::size_t i = 0; i < sides.size(); ++i)
            out << (i ? ", " : "") << jsonString(sides[i].name) << ": " << sides[i].calls;
        out << "},\n  \"report\": {\"solves\": " << count << ", \"offsetRan\": " << offsetRan
            << ", \"exactOffsets\": " << exactOffsets << ", \"restarted\": " << restarted
            << ", \"plainRan\": " << plainRan
            << ", \"shifts\": " << total.shifts << ", \"replays\": " << total.replays
            << ", \"replaySteps\": " << total.replaySteps << ", \"mostReplays\": " << mostReplays
            << "},\n  \"mismatches\": [";
        for (std::size_t i = 0; i < mismatches.size(); ++i)
            out << (i ? ",\n    " : "\n    ") << jsonString(mismatches[i]);
        out << "]\n}\n";
        if (!out.flush()) fail("cannot write " + options.summary);
    }
    return mismatches.empty() ? 0 : 3;
}
