// Seeded random cost matrices for the tests, the fuzz target and the benchmarks.
//
// The same seed gives the same matrices on every platform and standard library: the engine is
// std::mt19937_64, whose output the standard fixes, and every mapping from its 64-bit words to
// sizes and values is written out here (the std::uniform_*_distribution classes are not fixed
// by the standard). Values are built from exact integers, exact powers of two and decimal
// constants with one rounded multiplication or division, and square roots (correctly rounded
// by IEEE), never from library functions such as pow or exp.
//
// Each kind of matrix aims at something that can go wrong in the solver:
//   ties0to3 .. ties0to1e6  integer costs, many ties: which optimum is chosen, and exact sums;
//   uniform                 doubles in [0, 1): rounding in the shifts;
//   mixedMagnitudes         1e-12 .. 9e12 in one matrix: differences lost to rounding;
//   signedZeros             0 and -0.0 among small integers: -0.0 is a zero, not a negative;
//   subnormals              subnormal values, exact but easily mishandled;
//   forbidden               small integers with +inf and -inf forbidden pairs;
//   withNaN                 small integers with NaN elements, often blocking a full assignment;
//   huge                    values near the top of the double range, with some inf: overflow;
//   negative                now and then a finite negative element, to be refused.
#ifndef PAIRSOLVE_TESTS_RANDOM_MATRICES_H
#define PAIRSOLVE_TESTS_RANDOM_MATRICES_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace random_matrices {

// A rows x cols matrix, column-major: element (r, c) at r + rows * c.
struct Matrix {
    std::int32_t rows = 0;
    std::int32_t cols = 0;
    std::vector<double> data;
};

// Random numbers with fixed mappings, identical across standard libraries.
class Source {
public:
    explicit Source(std::uint64_t seed) : engine_(seed) {}

    std::uint64_t word() { return engine_(); }

    // Uniform in [0, n), n > 0, without modulo bias (rejection of the short top range).
    std::uint64_t below(std::uint64_t n) {
        const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() -
                                    std::numeric_limits<std::uint64_t>::max() % n;
        std::uint64_t x = engine_();
        while (x >= limit) x = engine_();
        return x % n;
    }

    // Uniform integer in [lo, hi].
    std::int64_t between(std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(hi - lo) + 1));
    }

    // Uniform in [0, 1): 53 random bits times 2^-53, exact.
    double unit() { return static_cast<double>(engine_() >> 11) * 0x1p-53; }

    // True with probability about p (p in [0, 1]).
    bool chance(double p) { return unit() < p; }

private:
    std::mt19937_64 engine_;
};

enum class Kind {
    ties0to3,
    ties0to10,
    ties0to100,
    ties0to1e6,
    uniform,
    mixedMagnitudes,
    signedZeros,
    subnormals,
    forbidden,
    withNaN,
    huge,
    negative,
};

constexpr Kind allKinds[] = {Kind::ties0to3,  Kind::ties0to10,       Kind::ties0to100,
                             Kind::ties0to1e6, Kind::uniform,         Kind::mixedMagnitudes,
                             Kind::signedZeros, Kind::subnormals,     Kind::forbidden,
                             Kind::withNaN,   Kind::huge,            Kind::negative};

constexpr const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::ties0to3: return "ties0to3";
    case Kind::ties0to10: return "ties0to10";
    case Kind::ties0to100: return "ties0to100";
    case Kind::ties0to1e6: return "ties0to1e6";
    case Kind::uniform: return "uniform";
    case Kind::mixedMagnitudes: return "mixedMagnitudes";
    case Kind::signedZeros: return "signedZeros";
    case Kind::subnormals: return "subnormals";
    case Kind::forbidden: return "forbidden";
    case Kind::withNaN: return "withNaN";
    case Kind::huge: return "huge";
    case Kind::negative: return "negative";
    }
    return "?";
}

namespace detail {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Decimal powers as literals: each is the correctly rounded double, whatever the library.
constexpr double powersOfTen[] = {1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4,
                                  1e-3,  1e-2,  1e-1,  1e0,  1e1,  1e2,  1e3,  1e4,  1e5,
                                  1e6,   1e7,   1e8,   1e9,  1e10, 1e11, 1e12};

inline double integerUpTo(Source& source, std::int64_t top) {
    return static_cast<double>(source.between(0, top));
}

inline double element(Source& source, Kind kind) {
    switch (kind) {
    case Kind::ties0to3: return integerUpTo(source, 3);
    case Kind::ties0to10: return integerUpTo(source, 10);
    case Kind::ties0to100: return integerUpTo(source, 100);
    case Kind::ties0to1e6: return integerUpTo(source, 1000000);
    case Kind::uniform: return source.unit();
    case Kind::mixedMagnitudes:
        // A digit times a power of ten from 1e-12 to 1e12, and now and then an exact 0.
        if (source.chance(0.05)) return 0.0;
        return static_cast<double>(source.between(1, 9)) *
               powersOfTen[source.below(sizeof powersOfTen / sizeof powersOfTen[0])];
    case Kind::signedZeros: {
        const std::uint64_t pick = source.below(6);
        if (pick == 0) return 0.0;
        if (pick == 1) return -0.0;
        return static_cast<double>(pick - 1);
    }
    case Kind::subnormals: {
        // k * 2^-1074 for small k (subnormal), now and then a zero or the smallest normal.
        const std::uint64_t pick = source.below(10);
        if (pick == 0) return 0.0;
        if (pick == 1) return std::numeric_limits<double>::min();
        return static_cast<double>(source.between(1, 8)) * std::numeric_limits<double>::denorm_min();
    }
    case Kind::forbidden: {
        const std::uint64_t pick = source.below(10);
        if (pick == 0) return inf;
        if (pick == 1) return source.chance(0.5) ? inf : -inf;
        return integerUpTo(source, 9);
    }
    case Kind::withNaN:
        if (source.chance(0.15)) return nan;
        if (source.chance(0.05)) return inf;
        return integerUpTo(source, 9);
    case Kind::huge: {
        // Mantissas 1.0 .. 1.75 at the top exponents: sums and forbiddenValue overflow.
        const std::uint64_t pick = source.below(8);
        if (pick < 3) return inf;
        if (pick == 2) return integerUpTo(source, 3);
        const double mantissa = 1.0 + static_cast<double>(source.below(4)) * 0.25;
        return mantissa * (source.chance(0.5) ? 0x1p1023 : 0x1p1021);
    }
    case Kind::negative:
        if (source.chance(0.03)) return -static_cast<double>(source.between(1, 5));
        if (source.chance(0.05)) return source.chance(0.5) ? -inf : nan;
        return integerUpTo(source, 9);
    }
    return 0.0;
}

}  // namespace detail

// A rows x cols matrix of the given kind.
inline Matrix generate(Source& source, Kind kind, std::int32_t rows, std::int32_t cols) {
    Matrix m;
    m.rows = rows;
    m.cols = cols;
    const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    m.data.resize(count);
    for (std::size_t i = 0; i < count; ++i) m.data[i] = detail::element(source, kind);
    return m;
}

struct Shape {
    std::int32_t rows;
    std::int32_t cols;
};

// A shape with sides up to maxSide: mostly square, wide or tall, with thin (1 x N, M x 1) and
// empty (0 x N, M x 0) shapes among them.
inline Shape randomShape(Source& source, std::int32_t maxSide) {
    const auto side = [&](std::int32_t lo) {
        return static_cast<std::int32_t>(source.between(lo, maxSide < lo ? lo : maxSide));
    };
    switch (source.below(16)) {
    case 0: return {0, side(0)};
    case 1: return {side(0), 0};
    case 2: return {1, side(1)};
    case 3: return {side(1), 1};
    case 4:
    case 5:
    case 6:
    case 7: {
        const std::int32_t n = side(1);
        return {n, n};
    }
    default: return {side(1), side(1)};  // wide or tall as it falls
    }
}

// A random kind, each as likely as the others.
inline Kind randomKind(Source& source) {
    return allKinds[source.below(sizeof allKinds / sizeof allKinds[0])];
}

// Decimal costs k / 10 with k uniform in 0..1000: no value is a multiple of a power of two, and
// equal costs abound, so reduced values tie or nearly tie everywhere.
inline Matrix decimalTenths(Source& source, std::int32_t rows, std::int32_t cols) {
    Matrix m;
    m.rows = rows;
    m.cols = cols;
    m.data.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
    for (double& v : m.data) v = static_cast<double>(source.between(0, 1000)) / 10.0;
    return m;
}

// Gated tracking: `tracks` predicted positions uniform in a square with one track per unit of
// area, `detections` measured positions, each near its own track (distinct tracks while there
// are enough, the rest clutter anywhere), noise up to 0.3 in each coordinate. Element (t, d) is
// the Euclidean distance, or +inf beyond the gate radius 1.5 (a pair the tracker must not make).
// sqrt is correctly rounded, so the matrix is the same bits everywhere.
inline Matrix gatedTrackingLost(Source& source, std::int32_t tracks, std::int32_t detections,
                                double lostShare);
inline Matrix gatedTracking(Source& source, std::int32_t tracks, std::int32_t detections) {
    return gatedTrackingLost(source, tracks, detections, 0.0);
}

// Gated tracking in clutter: tracks and detections at independent uniform positions in a
// 100 x 100 field, +inf beyond a gate of 10 (about 30 detections per track in 1500): what a
// tracker sees when detections do not sit near their tracks, and a far longer search.
inline Matrix gatedClutter(Source& source, std::int32_t tracks, std::int32_t detections) {
    std::vector<double> tx(static_cast<std::size_t>(tracks)), ty(tx.size());
    std::vector<double> dx(static_cast<std::size_t>(detections)), dy(dx.size());
    for (std::size_t t = 0; t < tx.size(); ++t) {
        tx[t] = source.unit() * 100;
        ty[t] = source.unit() * 100;
    }
    for (std::size_t d = 0; d < dx.size(); ++d) {
        dx[d] = source.unit() * 100;
        dy[d] = source.unit() * 100;
    }
    Matrix m;
    m.rows = tracks;
    m.cols = detections;
    m.data.resize(tx.size() * dx.size());
    for (std::size_t d = 0; d < dx.size(); ++d) {
        for (std::size_t t = 0; t < tx.size(); ++t) {
            const double ex = tx[t] - dx[d], ey = ty[t] - dy[d];
            const double distance = std::sqrt(ex * ex + ey * ey);
            m.data[t + tx.size() * d] = distance > 10 ? detail::inf : distance;
        }
    }
    return m;
}

// Replaces each element, with probability p, by +inf or -inf (forbidden pairs).
inline void sprinkleForbidden(Source& source, Matrix& m, double p) {
    for (double& v : m.data)
        if (source.chance(p)) v = source.chance(0.5) ? detail::inf : -detail::inf;
}

// Gated tracking with undetected tracks: the geometry of gatedTracking (the same draws in the
// same order), but the first `lost` tracks of the random permutation get no detection and their
// predicted positions are mirrored beyond the left edge of the field (x -> -2 - x), out of the
// gate of every detection: their rows are +inf throughout. lost = lostShare * tracks, rounded.
// The detections come from the other tracks in the order of the permutation, one each while
// there are enough, the rest clutter anywhere in the field. A square matrix then has no complete
// assignment without forbidden pairs; a tall one with as many detections as seen tracks does.
inline Matrix gatedTrackingLost(Source& source, std::int32_t tracks, std::int32_t detections,
                                double lostShare) {
    const double side = std::sqrt(static_cast<double>(tracks));
    std::vector<double> tx(static_cast<std::size_t>(tracks)), ty(tx.size());
    for (std::size_t t = 0; t < tx.size(); ++t) {
        tx[t] = source.unit() * side;
        ty[t] = source.unit() * side;
    }
    std::vector<std::int32_t> order(tx.size());
    for (std::size_t t = 0; t < order.size(); ++t) order[t] = static_cast<std::int32_t>(t);
    for (std::size_t t = order.size(); t > 1; --t) std::swap(order[t - 1], order[source.below(t)]);
    const auto lost = static_cast<std::int32_t>(lostShare * static_cast<double>(tracks) + 0.5);
    // Nearest a detection comes to the field's left edge is x = -0.3; a lost track sits at
    // x <= -2, farther than the gate 1.5 from all of them.
    for (std::int32_t k = 0; k < lost; ++k) {
        const std::size_t t = static_cast<std::size_t>(order[static_cast<std::size_t>(k)]);
        tx[t] = -2.0 - tx[t];
    }
    Matrix m;
    m.rows = tracks;
    m.cols = detections;
    m.data.resize(static_cast<std::size_t>(tracks) * static_cast<std::size_t>(detections));
    for (std::int32_t d = 0; d < detections; ++d) {
        double dx, dy;
        if (d < tracks - lost) {
            const std::size_t t = static_cast<std::size_t>(order[static_cast<std::size_t>(lost + d)]);
            dx = tx[t] + (source.unit() - 0.5) * 0.6;
            dy = ty[t] + (source.unit() - 0.5) * 0.6;
        } else {
            dx = source.unit() * side;
            dy = source.unit() * side;
        }
        for (std::int32_t t = 0; t < tracks; ++t) {
            const double ex = tx[static_cast<std::size_t>(t)] - dx;
            const double ey = ty[static_cast<std::size_t>(t)] - dy;
            const double distance = std::sqrt(ex * ex + ey * ey);
            m.data[static_cast<std::size_t>(t) +
                   static_cast<std::size_t>(tracks) * static_cast<std::size_t>(d)] =
                distance > 1.5 ? detail::inf : distance;
        }
    }
    return m;
}

// Nearly low rank: the sum of `rank` outer products a_k b_k^T, factors uniform in [0, 1) (a_1,
// b_1, a_2, b_2, ... drawn in that order), plus noise uniform in [-noise, noise) on every
// element (drawn column by column), the products added in the order of k; then scaled linearly
// onto 0.1 .. 2.0 (the least element to 0.1, the largest to 2.0) and made distinct: in
// increasing order (ties by position), an element not above the one before it is raised to the
// next double above that one. Every element is a distinct double in [0.1, 2.0] but a few ulps.
inline Matrix nearlyLowRank(Source& source, std::int32_t rows, std::int32_t cols, int rank,
                            double noise) {
    const auto nr = static_cast<std::size_t>(rows), nc = static_cast<std::size_t>(cols);
    std::vector<std::vector<double>> a(static_cast<std::size_t>(rank)), b(a.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
        a[k].resize(nr);
        for (double& x : a[k]) x = source.unit();
        b[k].resize(nc);
        for (double& x : b[k]) x = source.unit();
    }
    Matrix m;
    m.rows = rows;
    m.cols = cols;
    m.data.resize(nr * nc);
    for (std::size_t c = 0; c < nc; ++c) {
        for (std::size_t r = 0; r < nr; ++r) {
            double v = 0.0;
            for (std::size_t k = 0; k < a.size(); ++k) v += a[k][r] * b[k][c];
            m.data[r + nr * c] = v + (source.unit() * 2.0 - 1.0) * noise;
        }
    }
    if (m.data.empty()) return m;
    const auto range = std::minmax_element(m.data.begin(), m.data.end());
    const double lo = *range.first, hi = *range.second;
    const double scale = hi > lo ? 1.9 / (hi - lo) : 0.0;
    for (double& v : m.data) v = 0.1 + (v - lo) * scale;
    std::vector<std::size_t> byValue(m.data.size());
    for (std::size_t i = 0; i < byValue.size(); ++i) byValue[i] = i;
    std::sort(byValue.begin(), byValue.end(), [&](std::size_t x, std::size_t y) {
        return m.data[x] < m.data[y] || (m.data[x] == m.data[y] && x < y);
    });
    for (std::size_t i = 1; i < byValue.size(); ++i) {
        const double before = m.data[byValue[i - 1]];
        double& v = m.data[byValue[i]];
        if (!(v > before)) v = std::nextafter(before, detail::inf);
    }
    return m;
}

// Integers plus row and column offsets: x(r, c) + u_r + v_c with u_r and v_c uniform integers in
// 0..offsetTop (drawn first, u then v) and x(r, c) uniform in 0..top (column by column). Every
// value is an exact integer; what the row and column reductions take off is mostly the offsets.
inline Matrix integersWithOffsets(Source& source, std::int32_t rows, std::int32_t cols,
                                  std::int64_t top, std::int64_t offsetTop) {
    std::vector<std::int64_t> u(static_cast<std::size_t>(rows)), v(static_cast<std::size_t>(cols));
    for (std::int64_t& x : u) x = source.between(0, offsetTop);
    for (std::int64_t& x : v) x = source.between(0, offsetTop);
    Matrix m;
    m.rows = rows;
    m.cols = cols;
    m.data.resize(u.size() * v.size());
    for (std::size_t c = 0; c < v.size(); ++c)
        for (std::size_t r = 0; r < u.size(); ++r)
            m.data[r + u.size() * c] = static_cast<double>(source.between(0, top) + u[r] + v[c]);
    return m;
}

// Low rank with near ties: a_r + b_c, a and b uniform in [0, 1) (a first), every assignment then
// costing nearly the same; column by column, each rounded sum is with probability 1/8 moved one
// double up (as if rounded the other way) and with probability 1/64 raised by k * 2^-40, k in
// 1..8. The optimum hangs on those few-ulp differences.
inline Matrix lowRankNearTies(Source& source, std::int32_t rows, std::int32_t cols) {
    std::vector<double> a(static_cast<std::size_t>(rows)), b(static_cast<std::size_t>(cols));
    for (double& x : a) x = source.unit();
    for (double& x : b) x = source.unit();
    Matrix m;
    m.rows = rows;
    m.cols = cols;
    m.data.resize(a.size() * b.size());
    for (std::size_t c = 0; c < b.size(); ++c) {
        for (std::size_t r = 0; r < a.size(); ++r) {
            double v = a[r] + b[c];
            const std::uint64_t pick = source.below(64);
            if (pick < 8) v = std::nextafter(v, detail::inf);
            else if (pick == 8) v += static_cast<double>(source.between(1, 8)) * 0x1p-40;
            m.data[r + a.size() * c] = v;
        }
    }
    return m;
}

}  // namespace random_matrices

#endif
