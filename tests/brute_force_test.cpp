// Optimality against exhaustive search on small matrices with integer costs, where every sum is
// exact and the optimum is unambiguous.
//
// With forbidden pairs (+inf or -inf) the solver uses as few of them as it can (forbiddenValue
// outweighs any sum of finite elements) and, among those, the smallest finite sum; the pairs it
// had to make on forbidden elements are reported as unassigned. So the exhaustive search ranks
// matchings of min(M, N) lines by (forbidden pairs used, finite sum), lexicographically.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "pairsolve.h"
#include "random_matrices.h"

using random_matrices::Kind;
using random_matrices::Matrix;
using random_matrices::Source;

namespace {

struct Best {
    std::int64_t forbidden = std::numeric_limits<std::int64_t>::max();
    double finiteSum = 0;
};

double element(const Matrix& m, std::int32_t r, std::int32_t c) {
    return m.data[static_cast<std::size_t>(r) + static_cast<std::size_t>(m.rows) * static_cast<std::size_t>(c)];
}

// Tries every injective map of the shorter side's lines into the longer side's, line by line.
class Exhaustive {
public:
    explicit Exhaustive(const Matrix& m)
        : m_(m), byRows_(m.rows <= m.cols), lines_(byRows_ ? m.rows : m.cols),
          targets_(byRows_ ? m.cols : m.rows), used_(static_cast<std::size_t>(targets_), false) {}

    Best run() {
        visit(0, 0, 0.0);
        return best_;
    }

private:
    void visit(std::int32_t line, std::int64_t forbidden, double finiteSum) {
        if (line == lines_) {
            if (forbidden < best_.forbidden ||
                (forbidden == best_.forbidden && finiteSum < best_.finiteSum))
                best_ = {forbidden, finiteSum};
            return;
        }
        for (std::int32_t t = 0; t < targets_; ++t) {
            if (used_[static_cast<std::size_t>(t)]) continue;
            const double v = byRows_ ? element(m_, line, t) : element(m_, t, line);
            used_[static_cast<std::size_t>(t)] = true;
            if (std::isinf(v))
                visit(line + 1, forbidden + 1, finiteSum);
            else
                visit(line + 1, forbidden, finiteSum + v);
            used_[static_cast<std::size_t>(t)] = false;
        }
    }

    const Matrix& m_;
    bool byRows_;
    std::int32_t lines_;
    std::int32_t targets_;
    std::vector<bool> used_;
    Best best_;
};

std::string describe(const Matrix& m) {
    std::string text = std::to_string(m.rows) + " x " + std::to_string(m.cols) + ", row by row: [";
    for (std::int32_t r = 0; r < m.rows; ++r) {
        for (std::int32_t c = 0; c < m.cols; ++c) text += (c ? " " : "") + std::to_string(element(m, r, c));
        text += r + 1 < m.rows ? "; " : "";
    }
    return text + "]";
}

// The solver's result on m must be a valid assignment whose cost is the caller's elements at its
// pairs, and must reach the exhaustive optimum. Returns false (after reporting) when it does not.
bool checkOptimal(const Matrix& m) {
    const pairsolve::Result result = pairsolve::solve(m.data, m.rows, m.cols);
    const Best best = Exhaustive(m).run();
    const std::int64_t lines = std::min(m.rows, m.cols);

    std::vector<bool> columnTaken(static_cast<std::size_t>(m.cols), false);
    std::int64_t assigned = 0;
    double sum = 0;
    bool valid = result.assignment.size() == static_cast<std::size_t>(m.rows);
    for (std::int32_t r = 0; valid && r < m.rows; ++r) {
        const double a = result.assignment[static_cast<std::size_t>(r)];
        if (a == 0) continue;
        const bool inRange = a == std::floor(a) && a >= 1 && a <= m.cols;
        if (!inRange || columnTaken[static_cast<std::size_t>(a - 1)]) {
            valid = false;
            break;
        }
        columnTaken[static_cast<std::size_t>(a - 1)] = true;
        const double v = element(m, r, static_cast<std::int32_t>(a) - 1);
        valid = std::isfinite(v);  // pairs on forbidden elements are reported as 0
        sum += v;
        ++assigned;
    }
    EXPECT_TRUE(valid) << "not a valid assignment for " << describe(m);
    EXPECT_EQ(sum, result.cost) << "cost is not the sum of the pairs, " << describe(m);
    EXPECT_EQ(best.finiteSum, result.cost) << "not optimal, " << describe(m);
    EXPECT_EQ(lines - best.forbidden, assigned)
        << "more forbidden pairs used than needed, " << describe(m);
    return valid && sum == result.cost && best.finiteSum == result.cost &&
           lines - best.forbidden == assigned;
}

}  // namespace

// Every shape up to 6 x 6, rectangular both ways, and the 7-line ones the search still handles in
// a blink, with integer costs drawn from few values (many tied optima) and from many.
TEST(BruteForce, IntegerCostsWithTies) {
    const Kind kinds[] = {Kind::ties0to3, Kind::ties0to10, Kind::ties0to100, Kind::ties0to1e6,
                          Kind::signedZeros};
    std::vector<random_matrices::Shape> shapes;
    for (std::int32_t rows = 1; rows <= 6; ++rows)
        for (std::int32_t cols = 1; cols <= 6; ++cols) shapes.push_back({rows, cols});
    for (const random_matrices::Shape extra : {random_matrices::Shape{7, 5}, {5, 7}, {7, 7}, {7, 3}, {2, 7}})
        shapes.push_back(extra);

    int failures = 0;
    Source source(20240611);
    for (const random_matrices::Shape shape : shapes)
        for (Kind kind : kinds)
            for (int i = 0; i < 20 && failures < 5; ++i)
                if (!checkOptimal(random_matrices::generate(source, kind, shape.rows, shape.cols)))
                    ++failures;
    EXPECT_EQ(0, failures);
}

// Forbidden pairs of both signs, from a few to nearly all of the matrix: the search must use as
// few as possible, then minimise the finite sum, and report the forbidden pairs as unassigned.
TEST(BruteForce, ForbiddenPairs) {
    const double densities[] = {0.1, 0.3, 0.5, 0.8, 1.0};
    int failures = 0;
    int rowsDropped = 0;
    Source source(777);
    for (std::int32_t rows = 1; rows <= 6; ++rows) {
        for (std::int32_t cols = 1; cols <= 6; ++cols) {
            for (double density : densities) {
                for (int i = 0; i < 10 && failures < 5; ++i) {
                    const Kind kind = source.chance(0.5) ? Kind::ties0to3 : Kind::ties0to100;
                    Matrix m = random_matrices::generate(source, kind, rows, cols);
                    random_matrices::sprinkleForbidden(source, m, density);
                    if (!checkOptimal(m)) ++failures;
                    const pairsolve::Result r = pairsolve::solve(m.data, rows, cols);
                    rowsDropped += std::count(r.assignment.begin(), r.assignment.end(), 0.0) >
                                   std::max(0, rows - cols);
                }
            }
        }
    }
    EXPECT_EQ(0, failures);
    // The densities must make the solver drop pairs often, or this test checks little of the rule.
    EXPECT_GT(rowsDropped, 100);
}

// Every finite element 0: forbiddenValue takes its smallest value, 10, and the number of
// forbidden pairs alone must decide.
TEST(BruteForce, ForbiddenAmongZeros) {
    int failures = 0;
    Source source(4242);
    for (int i = 0; i < 300 && failures < 5; ++i) {
        Matrix m;
        m.rows = static_cast<std::int32_t>(source.between(1, 6));
        m.cols = static_cast<std::int32_t>(source.between(1, 6));
        m.data.assign(static_cast<std::size_t>(m.rows) * static_cast<std::size_t>(m.cols), 0.0);
        random_matrices::sprinkleForbidden(source, m, 0.6);
        if (!checkOptimal(m)) ++failures;
    }
    EXPECT_EQ(0, failures);
}
