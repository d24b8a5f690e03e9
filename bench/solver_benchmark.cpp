// Google Benchmark of the C++ solver, with the reference model of tests/ timed on the very same
// matrices in the same run, so that the speed-up is read off one run on one machine.
//
// Each case is solved as the host would call it: solveAssignment inside a call scope of the
// stand-in host, on a seeded matrix from tests/random_matrices.h that is made once, before any
// timing. Every benchmark is repeated and reported by its mean, median and spread; after the
// usual table comes one more, with the median of the solver, of the solver with its exact search
// held off (the element-by-element search that integer matrices would otherwise get) and of the
// reference model, and their ratios to the solver, for every case.
//
// The reference model is slow by design (about a minute per 1600 x 1600 matrix of uniform
// doubles), so it runs fewer repetitions at the large sizes and not at all where the solver's
// time alone is of interest; so does the element-by-element search. Run a part with
// --benchmark_filter=<regex>, e.g. 'uniform/800x800' or 'ties0to1e6'.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "assignment_solver.h"
#include "random_matrices.h"
#include "reference_model.h"
#include "standin_host.h"

using namespace pairsolve;

namespace {

using random_matrices::Kind;
using random_matrices::Matrix;

using Entry = void (*)(double*, double*, const double*, std::int32_t, std::int32_t);

struct Case {
    Kind kind;
    std::int32_t rows;
    std::int32_t cols;
    int referenceRepetitions;  // 0: not timed
    int elementRepetitions;    // the solver with its exact search held off; 0: not timed
};

// Uniform doubles from 100 to 1600 and both rectangular shapes (the element-by-element search
// runs on these anyway), and integer costs in 0..100 and 0..1e6 from 400 to 3200, where the exact
// search runs: against the element-by-element search up to 1600, and the reference model where
// it takes at most about a minute.
const Case cases[] = {
    {Kind::uniform, 100, 100, 5, 0},       {Kind::uniform, 200, 200, 5, 0},
    {Kind::uniform, 400, 400, 5, 0},       {Kind::uniform, 800, 800, 3, 0},
    {Kind::uniform, 1600, 1600, 3, 0},     {Kind::ties0to100, 400, 400, 5, 5},
    {Kind::ties0to100, 800, 800, 3, 5},    {Kind::ties0to100, 1600, 1600, 1, 5},
    {Kind::ties0to100, 3200, 3200, 0, 0},  {Kind::ties0to1e6, 400, 400, 5, 5},
    {Kind::ties0to1e6, 800, 800, 3, 3},    {Kind::ties0to1e6, 1600, 1600, 1, 3},
    {Kind::ties0to1e6, 3200, 3200, 0, 0},  {Kind::uniform, 400, 1600, 3, 0},
    {Kind::uniform, 1600, 400, 3, 0},
};

constexpr int solverRepetitions = 5;
constexpr std::uint64_t seed = 20240601;

std::string caseName(const Case& c) {
    return std::string(random_matrices::kindName(c.kind)) + "/" + std::to_string(c.rows) + "x" +
           std::to_string(c.cols);
}

void solveRepeatedly(benchmark::State& state, Entry entry, const Matrix* m) {
    std::vector<double> assignment(static_cast<std::size_t>(m->rows));
    double cost = 0;
    for (auto _ : state) {
        standin::CallScope call;
        entry(assignment.data(), &cost, m->data.data(), m->rows, m->cols);
        benchmark::DoNotOptimize(cost);
        benchmark::ClobberMemory();
    }
}

// The console table, then the medians side by side.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}  // plain text: the output is often a log

    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            // A case run once has no aggregates: its one time is its median.
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions == 1;
            if (!single && (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median"))
                continue;
            const std::string& name = run.run_name.function_name;
            const std::size_t slash = name.find('/');
            const std::string side = name.substr(0, slash), what = name.substr(slash + 1);
            medians_[side][what] = run.GetAdjustedRealTime();
            if (std::find(order_.begin(), order_.end(), what) == order_.end()) order_.push_back(what);
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nMedians of the same run (ms); element: the solver with its exact search held "
                    "off;\nthe ratios are each over the solver.\n%-24s %12s %12s %12s %9s %9s\n",
                    "case", "solver", "element", "reference", "element/", "ref/");
        for (const std::string& what : order_) {
            const double solver = median("solver", what);
            if (solver < 0) continue;
            std::printf("%-24s %12.3f", what.c_str(), solver);
            for (const char* side : {"element", "reference"}) printTime(median(side, what));
            for (const char* side : {"element", "reference"}) printRatio(median(side, what), solver);
            std::printf("\n");
        }
    }

private:
    double median(const std::string& side, const std::string& what) const {
        const auto s = medians_.find(side);
        if (s == medians_.end()) return -1;
        const auto m = s->second.find(what);
        return m == s->second.end() ? -1 : m->second;
    }
    static void printTime(double ms) {
        if (ms < 0)
            std::printf(" %12s", "-");
        else
            std::printf(" %12.3f", ms);
    }
    static void printRatio(double ms, double solver) {
        if (ms < 0)
            std::printf(" %9s", "-");
        else
            std::printf(" %9.1f", ms / solver);
    }

    std::map<std::string, std::map<std::string, double>> medians_;  // side -> case -> ms
    std::vector<std::string> order_;
};

// Registers one side of a case; one solve per repetition where a solve takes a second or more.
void registerSide(const std::string& side, Entry entry, const Case& c, const Matrix* m,
                  int repetitions, bool slow) {
    benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(
        (side + "/" + caseName(c)).c_str(), solveRepeatedly, entry, m);
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(repetitions)->ReportAggregatesOnly(true);
    if (slow) b->Iterations(1);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    std::vector<std::unique_ptr<Matrix>> matrices;
    for (const Case& c : cases) {
        random_matrices::Source source(seed + matrices.size());
        matrices.push_back(std::make_unique<Matrix>(
            random_matrices::generate(source, c.kind, c.rows, c.cols)));
        const Matrix* m = matrices.back().get();
        const bool large = static_cast<std::int64_t>(c.rows) * c.cols >= 640000;
        registerSide("solver", &solveAssignment, c, m, solverRepetitions, false);
        if (c.elementRepetitions > 0)
            registerSide("element", &solverTesting::solveWithoutExactSearch, c, m,
                         c.elementRepetitions, large);
        if (c.referenceRepetitions > 0)
            registerSide("reference", &reference::solveAssignment, c, m, c.referenceRepetitions,
                         large);
    }

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
