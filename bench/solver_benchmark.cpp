// Google Benchmark of the C++ solver, with the reference model of tests/ timed on the very same
// matrices in the same run, so that the speed-up is read off one run on one machine.
//
// Each case is solved as the host would call it: solveAssignment inside a call scope of the
// stand-in host, on a seeded matrix from tests/random_matrices.h that is made once, before any
// timing. Every benchmark is repeated and reported by its mean, median and spread; after the
// usual table comes one more, with the median of the solver, the median of the reference model
// and their ratio for every case that has both.
//
// The reference model is slow by design (about a minute per 1600 x 1600 matrix of uniform
// doubles), so it runs fewer repetitions at the large sizes and not at all where the solver's
// time alone is of interest. Run a part with --benchmark_filter=<regex>, e.g. 'uniform/800x800'.
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

namespace {

using random_matrices::Kind;
using random_matrices::Matrix;

using Entry = void (*)(double*, double*, const double*, std::int32_t, std::int32_t);

struct Case {
    Kind kind;
    std::int32_t rows;
    std::int32_t cols;
    int referenceRepetitions;  // 0: the solver alone
};

// The list: uniform doubles from 100 to 1600, integer costs 0..100 and 0..1e6 at 400 and
// 1600, and both rectangular shapes.
const Case cases[] = {
    {Kind::uniform, 100, 100, 5},     {Kind::uniform, 200, 200, 5},
    {Kind::uniform, 400, 400, 5},     {Kind::uniform, 800, 800, 3},
    {Kind::uniform, 1600, 1600, 3},   {Kind::ties0to100, 400, 400, 5},
    {Kind::ties0to100, 1600, 1600, 0}, {Kind::ties0to1e6, 400, 400, 5},
    {Kind::ties0to1e6, 1600, 1600, 0}, {Kind::uniform, 400, 1600, 3},
    {Kind::uniform, 1600, 400, 3},
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
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
            const std::string& name = run.run_name.function_name;
            const std::size_t slash = name.find('/');
            const std::string side = name.substr(0, slash), what = name.substr(slash + 1);
            (side == "solver" ? solver_ : reference_)[what] = run.GetAdjustedRealTime();
            if (std::find(order_.begin(), order_.end(), what) == order_.end()) order_.push_back(what);
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nMedians of the same run (ms):\n%-24s %12s %12s %8s\n", "case", "solver",
                    "reference", "ratio");
        for (const std::string& what : order_) {
            const auto s = solver_.find(what), r = reference_.find(what);
            if (s == solver_.end()) continue;
            if (r == reference_.end())
                std::printf("%-24s %12.3f %12s %8s\n", what.c_str(), s->second, "-", "-");
            else
                std::printf("%-24s %12.3f %12.3f %8.1f\n", what.c_str(), s->second, r->second,
                            r->second / s->second);
        }
    }

private:
    std::map<std::string, double> solver_, reference_;
    std::vector<std::string> order_;
};

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
        benchmark::RegisterBenchmark(("solver/" + caseName(c)).c_str(), solveRepeatedly,
                                     &solveAssignment, m)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Repetitions(solverRepetitions)
            ->ReportAggregatesOnly(true);
        if (c.referenceRepetitions > 0) {
            benchmark::internal::Benchmark* b =
                benchmark::RegisterBenchmark(("reference/" + caseName(c)).c_str(),
                                             solveRepeatedly, &reference::solveAssignment, m);
            b->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Repetitions(c.referenceRepetitions)
                ->ReportAggregatesOnly(true);
            // One solve per repetition where a solve takes seconds.
            if (static_cast<std::int64_t>(c.rows) * c.cols >= 640000) b->Iterations(1);
        }
    }

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
