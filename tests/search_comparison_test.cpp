// Every search against the reference model, bit for bit, and decision by decision against the
// method's plain form, on matrices picked to strain each one: integer ties (exact offsets), near
// ties and rounding (certified decisions and their replays), long searches, special values.
//
// A search that decides wrongly (a margin too narrow, a replay that drifts) fails at the first
// decision it breaks, even where the result happens to come out the same.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "assignment_solver.h"
#include "host_services.h"
#include "random_matrices.h"
#include "reference_model.h"
#include "solve_outcome.h"

using namespace pairsolve;
using random_matrices::Kind;
using random_matrices::Matrix;
using random_matrices::Source;
using solve_outcome::fromColumns;
using solve_outcome::Outcome;
using solve_outcome::same;
using solverTesting::Decision;
using solverTesting::SearchChoice;
using solverTesting::SearchReport;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A rows x cols matrix whose element (r, c) is element(source, r, c).
template <class Element>
Matrix filled(std::int32_t rows, std::int32_t cols, const Element& element, Source& source) {
    std::vector<double> data(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
    for (std::int32_t c = 0; c < cols; ++c)
        for (std::int32_t r = 0; r < rows; ++r)
            data[static_cast<std::size_t>(r) + static_cast<std::size_t>(rows) * c] =
                element(source, r, c);
    return fromColumns(rows, cols, std::move(data));
}

// a_r + b_c with a few entries nudged by a unit or so in the last place: nearly every
// assignment ties, and the margins cannot tell most elements apart.
Matrix lowRank(Source& source, std::int32_t rows, std::int32_t cols) {
    std::vector<double> a(static_cast<std::size_t>(rows)), b(static_cast<std::size_t>(cols));
    for (double& x : a) x = source.unit();
    for (double& x : b) x = source.unit();
    Matrix m = fromColumns(rows, cols, {});
    for (std::int32_t c = 0; c < cols; ++c) {
        for (std::int32_t r = 0; r < rows; ++r) {
            double v = a[static_cast<std::size_t>(r)] + b[static_cast<std::size_t>(c)];
            if (source.chance(0.02)) v = v * (1 + 0x1p-50);
            if (source.chance(0.01)) v = v + 1e-9;
            m.data.push_back(v);
        }
    }
    return m;
}

struct MatrixSet {
    const char* name;
    std::vector<Matrix> (*make)();
};

// Every kind of the generators, mostly small: ties, thin and empty shapes, every error.
std::vector<Matrix> everyKind() {
    std::vector<Matrix> set;
    for (std::uint64_t seed = 1; seed <= 250; ++seed) {
        Source source(seed);
        for (Kind kind : random_matrices::allKinds) {
            const random_matrices::Shape shape =
                random_matrices::randomShape(source, source.chance(0.7) ? 12 : 40);
            set.push_back(random_matrices::generate(source, kind, shape.rows, shape.cols));
        }
    }
    return set;
}

// Integers with dense ties, forbidden pairs, signed zeros, multiples of 1/8 and of 2^-40: the
// exact offsets, to 200 on a side.
std::vector<Matrix> integers() {
    std::vector<Matrix> set;
    const Kind kinds[] = {Kind::ties0to3,  Kind::ties0to10,  Kind::ties0to100,
                          Kind::ties0to1e6, Kind::forbidden, Kind::signedZeros};
    for (std::uint64_t seed = 1; seed <= 60; ++seed) {
        Source source(seed);
        for (Kind kind : kinds) {
            const random_matrices::Shape shape = random_matrices::randomShape(source, 40);
            Matrix m = random_matrices::generate(source, kind, shape.rows, shape.cols);
            if (source.chance(0.25)) random_matrices::sprinkleForbidden(source, m, 0.15);
            set.push_back(m);
        }
    }
    Source source(4242);
    const struct {
        Kind kind;
        std::int32_t rows, cols;
    } large[] = {{Kind::ties0to3, 200, 200},   {Kind::ties0to100, 200, 120},
                 {Kind::ties0to1e6, 200, 200}, {Kind::ties0to1e6, 120, 200},
                 {Kind::ties0to10, 130, 130},  {Kind::forbidden, 150, 150}};
    for (const auto& l : large) set.push_back(random_matrices::generate(source, l.kind, l.rows, l.cols));
    for (const double unit : {0.125, 0x1p-40}) {
        Matrix m = random_matrices::generate(source, Kind::ties0to1e6, 90, 110);
        for (double& v : m.data) v *= unit;
        set.push_back(m);
    }
    return set;
}

// Searches that need about as many shifts as rows are left to match, each rounded: products
// (r + 1)(c + 1) f, sums with noise, a band of zeros.
std::vector<Matrix> longSearches() {
    std::vector<Matrix> set;
    const std::int32_t shapes[][2] = {{16, 16}, {37, 37}, {64, 80}, {80, 64}, {101, 101}, {23, 120}, {120, 23}};
    Source source(77);
    for (const auto& shape : shapes) {
        for (const double factor : {1.0, 0.37, 1e-310}) {
            set.push_back(filled(shape[0], shape[1], [factor](Source&, std::int32_t r, std::int32_t c) {
                return static_cast<double>(r + 1) * static_cast<double>(c + 1) * factor;
            }, source));
        }
        set.push_back(filled(shape[0], shape[1], [](Source& s, std::int32_t r, std::int32_t c) {
            return static_cast<double>(r + c) + s.unit() * 1e-3;
        }, source));
        set.push_back(filled(shape[0], shape[1], [](Source&, std::int32_t r, std::int32_t c) {
            const std::int32_t d = r > c ? r - c : c - r;
            return d > 6 ? static_cast<double>(d) : 0.0;
        }, source));
    }
    return set;
}

// The margin's growth with the shift count. Exact products (r + 1)(c + 1) f, f = 1 + 33 2^-28,
// make a long search whose every shift is f but a last one of about 2^30, into column 0, raised
// by 2^30 + 2^20. The last row stays uncovered until then, so its element there takes x - f near
// 2^30 in each of the k shifts, always 31/64 of an ulp (2^-22) too much, while its key is exact
// and its target rounds only in the last shift: when that shift makes the element 0, key - target
// is about 0.97 k u key above it, and a margin that does not grow with k (a constant 8 ulps, or
// 512) takes it for no zero. Alone (667 shifts), and padded to 100 x 100 (1177 shifts) with lines
// already matched (0 on their diagonal, 2^31 elsewhere): listed columns, and room in the history.
std::vector<Matrix> marginGrowth() {
    const double f = 1 + 33 * 0x1p-28, raise = 0x1p30 + 0x1p20, far = 0x1p31;
    std::vector<Matrix> set;
    Source source(1);
    for (const auto& shape : {std::array<std::int32_t, 2>{38, 38}, {50, 100}}) {
        const std::int32_t block = shape[0], side = shape[1];
        set.push_back(filled(side, side, [=](Source&, std::int32_t r, std::int32_t c) {
            if (r >= block || c >= block) return r == c ? 0.0 : far;
            const double product = static_cast<double>(r + 1) * static_cast<double>(c + 1) * f;
            return c == 0 ? product + raise : product;
        }, source));
    }
    return set;
}

// Masses of near ties: decimal costs k / 10, 1 + k 2^-52, low rank, all equal.
std::vector<Matrix> nearTies() {
    std::vector<Matrix> set;
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        Source source(seed * 31);
        const auto side = [&](std::int64_t top) { return static_cast<std::int32_t>(source.between(2, top)); };
        set.push_back(random_matrices::decimalTenths(source, side(150), side(150)));
        set.push_back(filled(side(100), side(100), [](Source& s, std::int32_t, std::int32_t) {
            return 1.0 + static_cast<double>(s.below(16)) * 0x1p-52;
        }, source));
        set.push_back(lowRank(source, side(120), side(120)));
    }
    Source source(5);
    set.push_back(random_matrices::decimalTenths(source, 300, 300));
    set.push_back(fromColumns(40, 30, std::vector<double>(1200, 0.3)));
    return set;
}

// Values of very different sizes, subnormals, and the largest values the offsets take.
std::vector<Matrix> magnitudes() {
    std::vector<Matrix> set;
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        Source source(seed * 101);
        const auto side = [&] { return static_cast<std::int32_t>(source.between(2, 150)); };
        set.push_back(random_matrices::generate(source, Kind::mixedMagnitudes, side(), side()));
        set.push_back(random_matrices::generate(source, Kind::subnormals, side(), side()));
        Matrix tiny = random_matrices::generate(source, Kind::uniform, side(), side());
        for (double& v : tiny.data) v *= 1e-300;
        set.push_back(tiny);
        Matrix huge = random_matrices::generate(source, Kind::uniform, 30, 30);
        for (double& v : huge.data) v *= 1e305;  // (2T + 2) W just below the double range
        set.push_back(huge);
    }
    return set;
}

// What callers solve: uniform doubles, and gated tracking (+inf beyond the gate), also in clutter;
// and uniform doubles with forbidden pairs of both signs (and a column of them alone). Also doubles
// that tie (k / 7) with whole columns of +inf after a finite first one, and then with whole rows
// of +inf as well.
std::vector<Matrix> doubles() {
    std::vector<Matrix> set;
    const std::int32_t shapes[][2] = {{50, 40}, {120, 120}, {90, 200}, {200, 90}, {300, 250}, {250, 300}};
    Source source(2026);
    for (const auto& shape : {std::array<std::int32_t, 2>{100, 131}, {131, 100}}) {
        const std::int32_t rows = shape[0], cols = shape[1];
        Matrix m = filled(rows, cols, [](Source& s, std::int32_t, std::int32_t) {
            return static_cast<double>(s.below(40)) / 7;
        }, source);
        for (int k = 0; k < 3; ++k) {
            const auto c = static_cast<std::size_t>(source.between(1, cols - 1));
            for (std::size_t r = 0; r < static_cast<std::size_t>(rows); ++r) m.data[r + rows * c] = inf;
        }
        set.push_back(m);
        for (int k = 0; k < 3; ++k) {
            const auto r = static_cast<std::size_t>(source.between(0, rows - 1));
            for (std::size_t c = 0; c < static_cast<std::size_t>(cols); ++c) m.data[r + rows * c] = inf;
        }
        set.push_back(m);
    }
    set.push_back(random_matrices::gatedClutter(source, 220, 160));
    // Tracks without a detection in their gate: rows of +inf alone, which the offset search keeps
    // out of its column lists (square, wide and tall, exact and rounded).
    for (const double share : {0.1, 0.3}) {
        set.push_back(random_matrices::gatedTrackingLost(source, 200, 200, share));
        set.push_back(random_matrices::gatedTrackingLost(source, 150, 190, share));
        set.push_back(random_matrices::gatedTrackingLost(source, 190, 150, share));
    }
    set.push_back(set.back());
    for (double& v : set.back().data) v = std::isinf(v) ? v : std::floor(v * 64);
    // A column of NaN that every assignment needs, after +inf and finite elements have been met:
    // the check must tell its blocks from blocks of forbidden pairs.
    set.push_back(random_matrices::gatedTracking(source, 128, 120));
    for (std::size_t r = 0; r < 128; ++r) set.back().data[r + 128 * 100] = NaN;
    // Twenty tracks that only the second detection is near: 19 of them take forbidden pairs,
    // which the search reaches in columns of few finite elements. The first detection is finite
    // but far for every track, so the check meets the first +inf in the second column; the third
    // to the sixth are beyond every gate. An odd row count leaves a last row alone.
    {
        const std::size_t rows = 101, cols = 130;
        Matrix m = random_matrices::gatedTracking(source, static_cast<std::int32_t>(rows),
                                                  static_cast<std::int32_t>(cols));
        for (std::size_t r = 0; r < rows; ++r)
            m.data[r] = 40 + std::sqrt(static_cast<double>(r) + 2);
        for (std::size_t r = 0; r < 20; ++r)
            for (std::size_t c = 1; c < cols; ++c)
                m.data[r + rows * c] = c == 1 ? 0.5 + static_cast<double>(r) / 64 : inf;
        for (std::size_t r = 0; r < rows; ++r)
            for (std::size_t c = 2; c < 6; ++c) m.data[r + rows * c] = inf;
        set.push_back(m);
    }
    for (const auto& shape : shapes) {
        set.push_back(random_matrices::gatedTracking(source, shape[0], shape[1]));
        set.push_back(random_matrices::generate(source, Kind::uniform, shape[0], shape[1]));
        if (shape[0] != shape[1]) {
            set.push_back(set.back());
            random_matrices::sprinkleForbidden(source, set.back(), 0.02);
            // A column of forbidden pairs alone, the first of them -inf.
            for (std::size_t r = 0; r < static_cast<std::size_t>(shape[0]); ++r)
                set.back().data[r + static_cast<std::size_t>(shape[0]) * 7] = r % 3 == 0 ? -inf : inf;
        }
    }
    return set;
}

// Hand-made edges: NaN, overflow, forbidden values at the exact bound, and a shift that
// overflows a covered row before the search stalls on NaN.
std::vector<Matrix> edges() {
    const double big = std::numeric_limits<double>::max() / 4;
    const double a = 1e308, b = 1.5e308, d = 1.7e308;
    const double limit = static_cast<double>(((std::uint64_t{1} << 53) - 1) / 12);  // 2 x 3
    const double ten = static_cast<double>(((std::uint64_t{1} << 53) - 1) / 10);    // 2 x 2
    const double fInside = std::floor(ten / 40), fOutside = fInside + 1;
    return {
        fromColumns(3, 3, {4, 2, 3, 1, 0, 2, 3, 5, 2}),
        fromColumns(1, 2, {1, NaN}),
        fromColumns(2, 2, {NaN, 0, 0, NaN}),
        fromColumns(2, 2, {NaN, NaN, 0, 1}),
        fromColumns(3, 2, {NaN, 1, 2, 3, NaN, 4}),
        fromColumns(2, 2, {-0.0, 1, 1, -0.0}),
        fromColumns(2, 2, {big, inf, inf, big}),
        fromColumns(2, 2, {inf, big, big, inf}),
        fromColumns(2, 2, {1e308, 1e308, 1e308, 0}),
        fromColumns(3, 4, {NaN, d, 0, 0, NaN, a, 2, d, 1, 2, 0, 1}),
        fromColumns(3, 5, {NaN, 1, 1, NaN, d, 1, b, a, 0, 1, NaN, a, 1, NaN, 2}),
        fromColumns(2, 3, {limit, limit - 1, limit - 3, 0, 1, limit}),
        fromColumns(2, 3, {limit + 1, limit - 1, limit - 3, 0, 1, limit}),
        fromColumns(2, 2, {fInside, inf, fInside - 1, 3}),
        fromColumns(2, 2, {fOutside, inf, fOutside - 1, 3}),
        fromColumns(0, 4, {}),
        fromColumns(4, 0, {}),
    };
}

const MatrixSet sets[] = {
    {"everyKind", everyKind},     {"integers", integers},     {"longSearches", longSearches},
    {"nearTies", nearTies},       {"magnitudes", magnitudes}, {"doubles", doubles},
    {"edges", edges},             {"marginGrowth", marginGrowth},
};

// One solve with its report and its decisions.
struct Traced {
    Outcome outcome;
    SearchReport report;
    std::vector<Decision> decisions;
    std::size_t restartedAt = 0;
};

Traced solveTraced(SearchChoice choice, const Matrix& m) {
    static std::vector<Decision> buffer(1 << 20);
    Traced t;
    solverTesting::DecisionTrace trace{buffer.data(), buffer.size(), 0, 0};
    t.outcome = solve_outcome::solveWith(
        [&](double* assignment, double* cost, const double* matrix, std::int32_t rows,
            std::int32_t cols) {
            solverTesting::solve(choice, assignment, cost, matrix, rows, cols, &t.report, &trace);
        },
        m);
    EXPECT_LE(trace.count, buffer.size()) << "the decision buffer is too small";
    t.decisions.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(
                                                          std::min(trace.count, buffer.size())));
    t.restartedAt = trace.restartedAt;
    return t;
}

bool sameDecision(const Decision& a, const Decision& b) {
    return a.kind == b.kind && a.row == b.row && a.col == b.col &&
           std::memcmp(&a.value, &b.value, sizeof a.value) == 0;
}

// The index of the first decision of `run` that the plain search did not make, or -1. After a
// restart the offset search's decisions must be a prefix of the plain ones, and the
// element-by-element search's all of them.
std::ptrdiff_t firstWrongDecision(const Traced& run, const std::vector<Decision>& plain) {
    const std::size_t restartedAt = run.report.restarted ? run.restartedAt : 0;
    for (std::size_t i = 0; i < run.decisions.size(); ++i) {
        const std::size_t j = i < restartedAt ? i : i - restartedAt;
        if (j >= plain.size() || !sameDecision(run.decisions[i], plain[j]))
            return static_cast<std::ptrdiff_t>(i);
    }
    if (run.decisions.size() - restartedAt != plain.size() && run.outcome.error.empty())
        return static_cast<std::ptrdiff_t>(run.decisions.size());
    return -1;
}

std::string describe(const Decision& d) {
    char text[96];
    if (d.kind == Decision::shift)
        std::snprintf(text, sizeof text, "shift by %.17g", d.value);
    else
        std::snprintf(text, sizeof text, "%s at (%td, %td)",
                      d.kind == Decision::prime ? "prime" : "augment", d.row, d.col);
    return text;
}

// What every choice is compared with, made once per matrix.
struct Expected {
    Outcome reference;
    std::vector<Decision> plain;
};

const std::vector<Matrix>& matricesOf(int set) {
    static std::map<int, std::vector<Matrix>> made;
    auto it = made.find(set);
    if (it == made.end()) it = made.emplace(set, sets[set].make()).first;
    return it->second;
}

const std::vector<Expected>& expectedOf(int set) {
    static std::map<int, std::vector<Expected>> made;
    auto it = made.find(set);
    if (it != made.end()) return it->second;
    std::vector<Expected> expected;
    for (const Matrix& m : matricesOf(set))
        expected.push_back({solve_outcome::solveWith(reference::solveAssignment, m),
                            solveTraced(SearchChoice::plain, m).decisions});
    return made.emplace(set, std::move(expected)).first->second;
}

const char* choiceName(SearchChoice choice) {
    switch (choice) {
    case SearchChoice::chosen: return "chosen";
    case SearchChoice::offset: return "offset";
    case SearchChoice::elementByElement: return "elementByElement";
    case SearchChoice::plain: return "plain";
    }
    return "?";
}

class SearchComparison : public ::testing::TestWithParam<std::tuple<SearchChoice, int>> {};

TEST_P(SearchComparison, SameResultsAndDecisionsAsThePlainMethod) {
    const SearchChoice choice = std::get<0>(GetParam());
    const int set = std::get<1>(GetParam());
    const std::vector<Matrix>& matrices = matricesOf(set);
    const std::vector<Expected>& expected = expectedOf(set);
    int mismatches = 0, offsetRuns = 0, restarts = 0, searchable = 0;
    std::uint64_t replays = 0, shifts = 0;
    for (std::size_t i = 0; i < matrices.size(); ++i) {
        const Matrix& m = matrices[i];
        const Traced run = solveTraced(choice, m);
        const std::ptrdiff_t wrong = firstWrongDecision(run, expected[i].plain);
        offsetRuns += run.report.offsetRan ? 1 : 0;
        restarts += run.report.restarted ? 1 : 0;
        replays += run.report.replays;
        shifts += run.report.shifts;
        bool finite = true;
        for (double v : m.data) finite = finite && std::isfinite(v) && v >= 0;
        searchable += finite && !m.data.empty() ? 1 : 0;
        if (same(run.outcome, expected[i].reference) && wrong < 0) continue;
        if (++mismatches > 3) continue;
        std::string at = "none";
        if (wrong >= 0) {
            const std::size_t w = static_cast<std::size_t>(wrong);
            at = std::to_string(wrong) + ": " +
                 (w < run.decisions.size() ? describe(run.decisions[w]) : std::string("(missing)"));
        }
        ADD_FAILURE() << sets[set].name << " #" << i << ", " << m.rows << " x " << m.cols
                      << ": cost " << run.outcome.cost << " [" << run.outcome.error
                      << "], reference model cost " << expected[i].reference.cost << " ["
                      << expected[i].reference.error << "]; first wrong decision " << at
                      << (run.report.restarted ? " (restarted)" : "");
    }
    EXPECT_EQ(0, mismatches);
    // The forced offset search must really have run where it can, or this proves little.
    if (choice == SearchChoice::offset) EXPECT_GE(offsetRuns, searchable * 9 / 10);
    std::printf("[ %-16s ] %-12s %zu matrices: offset search %d, restarted %d, replays %.1f a "
                "solve over %.1f shifts\n",
                choiceName(choice), sets[set].name, matrices.size(), offsetRuns, restarts,
                static_cast<double>(replays) / static_cast<double>(matrices.size()),
                static_cast<double>(shifts) / static_cast<double>(matrices.size()));
}

INSTANTIATE_TEST_SUITE_P(
    AllSearches, SearchComparison,
    ::testing::Combine(::testing::Values(SearchChoice::chosen, SearchChoice::offset,
                                         SearchChoice::elementByElement),
                       ::testing::Range(0, static_cast<int>(sizeof sets / sizeof sets[0]))),
    [](const ::testing::TestParamInfo<SearchComparison::ParamType>& info) {
        return std::string(choiceName(std::get<0>(info.param))) + "_" +
               sets[std::get<1>(info.param)].name;
    });

// The solver tested is built as its tests expect: with its kernels in lanes where the compiler
// has them, and in the scalar build with their scalar twins alone.
TEST(Kernels, BuiltAsTheTestsExpect) {
#if defined(PAIRSOLVE_SCALAR_KERNELS) || !defined(__GNUC__)
    EXPECT_FALSE(solverTesting::kernelsInLanes());
#else
    EXPECT_TRUE(solverTesting::kernelsInLanes());
#endif
}

// Which search runs, on the working matrix (forbidden pairs replaced, not yet reduced).
TEST(SearchChoice, TheRuleOnTheWorkingMatrix) {
    const auto search = [](std::vector<double> work, std::int32_t rows, std::int32_t cols,
                           SearchChoice choice = SearchChoice::offset) {
        return searchFor(work.data(), work.size(), rows, cols, choice);
    };
    // In a 2 x 3 matrix the exact bound is W / g <= (2^53 - 1) / 12.
    const double limit = static_cast<double>(((std::uint64_t{1} << 53) - 1) / 12);
    EXPECT_EQ(Search::offsetExact, search({0, 1, 2, 3, 4, 5}, 2, 3));
    EXPECT_EQ(Search::offsetExact, search({-0.0, 1, 0, 0, 7, 9}, 2, 3));
    EXPECT_EQ(Search::offsetExact, search({limit, 0, 1, limit, limit - 1, 3}, 2, 3));
    EXPECT_EQ(Search::offsetCertified, search({limit + 1, 0, 1, 2, 3, 4}, 2, 3));
    // Multiples of one power of two count in its units: eighths, and 2^-1074 steps.
    EXPECT_EQ(Search::offsetExact, search({0.5, 0.125, 1, 2, 3, 4}, 2, 3));
    EXPECT_EQ(Search::offsetExact, search({limit / 8, 0.125, 0, 0, 0, 0}, 2, 3));
    EXPECT_EQ(Search::offsetCertified, search({limit / 4, 0.125, 0, 0, 0, 0}, 2, 3));
    EXPECT_EQ(Search::offsetExact, search({4e-323, 5e-324, 0, 0, 0, 0}, 2, 3));
    EXPECT_EQ(Search::offsetCertified, search({0.1, 0, 1, 2, 3, 4}, 2, 3));
    EXPECT_EQ(Search::offsetCertified, search({1, 2, 3, 4, 5, 1e-300}, 2, 3));
    // NaN and infinities (an overflowed forbiddenValue) go to the element-by-element search,
    // the only one that meets an endless search; so do values whose offsets could overflow.
    EXPECT_EQ(Search::elementByElement, search({1, 2, 3, NaN, 5, 6}, 2, 3));
    EXPECT_EQ(Search::elementByElement, search({1, 2, 3, inf, 5, 6}, 2, 3));
    EXPECT_EQ(Search::offsetCertified, search({1e300, 0.1, 3, 4, 5, 6}, 2, 3));
    EXPECT_EQ(Search::elementByElement, search({1e308, 0.1, 3, 4, 5, 6}, 2, 3));
    EXPECT_EQ(Search::offsetExact, search({}, 0, 4));
    // Forced and small choices.
    EXPECT_EQ(Search::elementByElement, search({0, 1, 2, 3, 4, 5}, 2, 3, SearchChoice::elementByElement));
    EXPECT_EQ(Search::plain, search({0.1, 1, 2, 3, 4, 5}, 2, 3, SearchChoice::chosen));
    EXPECT_EQ(Search::plain,
              search(std::vector<double>(64 * 64, 0.1), 64, 64, SearchChoice::chosen));
    EXPECT_EQ(Search::offsetCertified,
              search(std::vector<double>(65 * 64, 0.1), 65, 64, SearchChoice::chosen));
    // The driver sees forbiddenValue, (10 * largest) * elementCount, where the caller wrote an
    // infinity: here (10 * 3e13) * 4 = 1.2e15, above the 2 x 2 bound (2^53 - 1) / 10.
    const auto reported = [](std::vector<double> costs) {
        std::vector<double> assignment(2);
        double cost;
        SearchReport report;
        standin::CallScope call;
        solverTesting::solve(SearchChoice::offset, assignment.data(), &cost, costs.data(), 2, 2,
                             &report);
        return report.exactOffsets;
    };
    EXPECT_TRUE(reported({2e13, inf, inf, 1}));
    EXPECT_FALSE(reported({3e13, inf, inf, 1}));
    // A forbidden pair after many elements that are all finite is seen as well: the offset
    // search runs, on the matrix with it replaced.
    Source source(5);
    Matrix m = random_matrices::generate(source, Kind::uniform, 300, 300);
    m.data.back() = inf;
    std::vector<double> assignment(300);
    double cost;
    SearchReport report;
    standin::CallScope call;
    solverTesting::solve(SearchChoice::chosen, assignment.data(), &cost, m.data.data(), 300, 300,
                         &report);
    EXPECT_TRUE(report.offsetRan);
    // So is an element that is no multiple of the lowest power of two so far, after many that
    // are (integers): the offsets are no longer exact, whether it is below 1 or above. (301 rows:
    // the last element is the odd row of its block.)
    Matrix integers = random_matrices::generate(source, Kind::ties0to100, 301, 301);
    assignment.resize(301);
    for (const double last : {1.0, 0.1, 1 + 0x1p-40}) {
        integers.data.back() = last;
        solverTesting::solve(SearchChoice::chosen, assignment.data(), &cost, integers.data.data(),
                             301, 301, &report);
        EXPECT_TRUE(report.offsetRan);
        EXPECT_EQ(last == 1.0, report.exactOffsets) << last;
    }
    // A NaN among the finite elements of a tall matrix is seen wherever it stands in a step of
    // the check (in its first pair or its second, or in a last pair alone).
    const Matrix tall = random_matrices::generate(source, Kind::uniform, 70, 65);
    assignment.resize(70);
    for (const std::size_t r : {2, 3, 4, 5, 68, 69}) {
        Matrix m = tall;
        m.data[r + 70 * 7] = NaN;
        SearchReport seen;
        solverTesting::solve(SearchChoice::chosen, assignment.data(), &cost, m.data.data(), 70, 65,
                             &seen);
        EXPECT_FALSE(seen.offsetRan) << "NaN in row " << r;
    }
}

// The replays a certified search makes on what callers solve are few, about one a shift, and a
// matrix of near ties spends the budget: the call restarts with the element-by-element search
// and still gives the reference model's result.
TEST(SearchChoice, ReplaysAreFewAndTheBudgetRestarts) {
    Source source(99);
    for (const Matrix& m : {random_matrices::generate(source, Kind::uniform, 250, 250),
                            random_matrices::gatedTracking(source, 300, 240)}) {
        SearchReport report;
        std::vector<double> assignment(static_cast<std::size_t>(m.rows));
        double cost;
        {
            standin::CallScope call;
            solverTesting::solve(SearchChoice::chosen, assignment.data(), &cost, m.data.data(),
                                 m.rows, m.cols, &report);
        }
        EXPECT_TRUE(report.offsetRan);
        EXPECT_FALSE(report.restarted);
        EXPECT_LE(report.replays, 2 * report.shifts + static_cast<std::uint64_t>(m.rows));
        std::printf("[ replays   ] %d x %d: %llu replays, %llu shifts\n", m.rows, m.cols,
                    static_cast<unsigned long long>(report.replays),
                    static_cast<unsigned long long>(report.shifts));
    }
    const Matrix ties = lowRank(source, 300, 300);
    SearchReport report;
    const Outcome chosen = solve_outcome::solveWith(
        [&](double* a, double* c, const double* x, std::int32_t r, std::int32_t n) {
            solverTesting::solve(SearchChoice::chosen, a, c, x, r, n, &report);
        },
        ties);
    EXPECT_TRUE(report.offsetRan);
    EXPECT_TRUE(report.restarted);
    EXPECT_TRUE(same(chosen, solve_outcome::solveWith(reference::solveAssignment, ties)));
}

}  // namespace
