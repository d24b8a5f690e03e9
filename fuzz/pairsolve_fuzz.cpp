// Fuzz target: any bytes become a cost matrix, and every call is checked against what a caller
// relies on. Small inputs spell out up to 12 x 12 doubles one by one; compact inputs seed the
// generators of tests/random_matrices.h up to 128 x 128, past the size (listedRows = 64 rows) where
// the offset search keeps per-column lists, and a few bytes then perturb the generated matrix.
//
// Input layout (missing bytes read as 0, so every byte string is a valid input). Byte 0 below
// 0x80 selects the byte-per-element layout:
//   byte 0    rows = byte % 13
//   byte 1    cols = byte % 13
//   byte 2    options: bits 0-2 make the k-th allocation of a repeated call fail (0 = none);
//             bits 3-4 give the number of outputs the gateway call asks for (0, 1, 2; 3 -> 2)
//   then one element after another in column-major order, each a tag byte and, for some tags,
//   further bytes:
//     0x00-0x7F  the integer tag & 15 (small integers: many ties)
//     0x80-0x8F  (tag & 15) + u / 65536, u the next two bytes (fractions)
//     0x90-0x9F  a digit times 1e-12 .. 1e12, the power chosen by the next byte (mixed magnitudes)
//     0xA0-0xA7  +inf        0xA8-0xAB  -inf
//     0xAC-0xAF  NaN: quiet, negative quiet, signalling, with a payload
//     0xB0-0xB7  -0.0        0xB8-0xBE  a small multiple of the smallest subnormal
//     0xBF       the smallest normal
//     0xC0-0xCF  huge values near the top of the double range
//     0xD0-0xD2  negative: -1, the negative smallest subnormal, -DBL_MAX
//     0xD3-0xDF  the integers 16 .. 28
//     0xE0-0xFE  the next eight bytes as a double with its sign bit cleared
//     0xFF       the next eight bytes as a double, as they are
//   elements beyond the end of the data are 0.
// Byte 0 from 0x80 selects the compact layout:
//   byte 0    the generator, (byte & 0x7F) % 9, and its parameter p (byte 4):
//               0 gated tracking (tracks x detections), p % 16 tracks lost: rows of +inf only
//               1 gated tracking in clutter, p % 16 tracks lost likewise
//               2 integers 0 .. t, t = 1, 3, 10, 100, 10^6 by p % 5 (ties, exact offsets)
//               3 decimal costs k / 10 (near ties)
//               4 low rank a_r + b_c, each element nudged up by 1 .. 4 ulps with probability
//                 (p % 16 + 1) / 128 (near ties the margins cannot settle: replays, restarts)
//               5 uniform doubles times 1, 1e-3, 1e-300, 1e300 by p % 4
//               6 1 + k 2^-52, k in 0 .. 15
//               7 (r + 1)(c + 1) f, f = 1, 0.37, 1e-310 by p % 3 (long searches), sides
//                 1 + byte % 80 (they cost about N^4)
//               8 a kind of random_matrices::generate, allKinds[p % 12] (NaN, subnormals, ...)
//   byte 1    rows = 1 + byte % 128 (tall and wide shapes come from the two sides)
//   byte 2    cols = 1 + byte % 128
//   byte 3    options, as above
//   byte 4    p
//   bytes 5-8 the generator's seed, little-endian
//   then perturbations of three bytes (op, a, b) on element (a % rows, b % cols), in order,
//   op % 16: 0 +inf, 1 -inf, 2 NaN, 3 -0.0, 4 1e300, 5 DBL_MAX, 6 0, 7 the next double up,
//   8 the next double toward 0, 9 the element of the next row (a tie), 10 its whole row +inf,
//   11 its whole column +inf, 12 -1, 13 the smallest subnormal, 14 the integer op >> 4,
//   15 the element plus 1e-9.
//
// Checked on every input, by aborting (which the fuzzer reports with the input) when one fails:
// - the solver and the reference model end alike: the same assignment and cost bit for bit, or
//   the same error identifier and message, and the message is one of the system's; so does each
//   search forced (offset, element by element, plain) and the one the solver chooses, and each
//   makes the plain search's decisions, one by one, in its order (after a restart, the offset
//   search's are a prefix of them and the element-by-element search's all of them); the forced
//   offset search runs on every matrix of finite elements it can take;
// - the caller's matrix is never written;
// - no buffer is left allocated, and a call that ends at the copy took nothing but the copy;
// - a success is a valid assignment: columns distinct and in 1..N, exactly min(M, N) of them when
//   nothing is infinite, none on an infinite element, and a cost equal to the caller's elements
//   at the assigned pairs added up row by row;
// - a failed allocation at any point ends the call with the out-of-memory error and leaves nothing
//   allocated; a failure set beyond the call's last allocation changes nothing;
// - the gateway, called with the same matrix, gives the solver's results in its outputs.
// The call ending at all is checked by the fuzzer's own timeout. Compact inputs get every check,
// the allocation failure and the gateway included: each is one more solve, cheap beside the
// traced searches and the reference model. In the libFuzzer build a
// compact input with a side of 128 takes about 30 ms, a long search at 80 x 80 about a second.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "assignment_solver.h"
#include "pairsolve.h"
#include "random_matrices.h"
#include "reference_model.h"
#include "host_services.h"

using namespace pairsolve;

namespace {

constexpr std::int32_t maxSide = 12;
constexpr std::int32_t compactMaxSide = 128;
// The products (r + 1)(c + 1) f need about N searches of N shifts each, and the element-by-element
// search and the reference model spend about N^4 steps on them: 0.8 s at 80 x 80 in the libFuzzer
// build, seven times that at 128 x 128.
constexpr unsigned longSearches = 7;
constexpr std::int32_t longSearchMaxSide = 80;

constexpr double inf = std::numeric_limits<double>::infinity();

// Reads the input front to back; past the end every byte is 0.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }

    bool atEnd() const { return position_ >= size_; }

    std::uint64_t word() {
        std::uint64_t w = 0;
        for (int i = 0; i < 8; ++i) w |= static_cast<std::uint64_t>(byte()) << (8 * i);
        return w;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

double fromBits(std::uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::uint64_t bitsOf(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

double element(ByteReader& in) {
    static constexpr double powersOfTen[] = {
        1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0,
        1e1,   1e2,   1e3,   1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11, 1e12};
    const std::uint8_t tag = in.byte();
    const unsigned low = tag & 15u;
    if (tag < 0x80) return low;
    if (tag < 0x90) {
        const unsigned u = in.byte() | (static_cast<unsigned>(in.byte()) << 8);
        return low + u / 65536.0;
    }
    if (tag < 0xA0) return (low % 9 + 1) * powersOfTen[in.byte() % 25];
    if (tag < 0xA8) return inf;
    if (tag < 0xAC) return -inf;
    switch (tag) {
    case 0xAC: return fromBits(0x7FF8000000000000ull);
    case 0xAD: return fromBits(0xFFF8000000000000ull);
    case 0xAE: return fromBits(0x7FF0000000000001ull);
    case 0xAF: return fromBits(0x7FF8DEADBEEF0000ull);
    default: break;
    }
    if (tag < 0xB8) return -0.0;
    if (tag < 0xBF) return (tag - 0xB7) * std::numeric_limits<double>::denorm_min();
    if (tag == 0xBF) return std::numeric_limits<double>::min();
    if (tag < 0xD0) {
        switch (tag) {
        case 0xCC: return std::numeric_limits<double>::max();
        case 0xCD: return std::numeric_limits<double>::max() / 2;
        case 0xCE: return 1e308;
        case 0xCF: return 1e300;
        default: {
            static constexpr double scales[] = {0x1p1021, 0x1p1022, 0x1p1023};
            return (1.0 + (tag & 3u) * 0.25) * scales[(tag >> 2) & 3u];
        }
        }
    }
    if (tag == 0xD0) return -1.0;
    if (tag == 0xD1) return -std::numeric_limits<double>::denorm_min();
    if (tag == 0xD2) return -std::numeric_limits<double>::max();
    if (tag < 0xE0) return tag - 0xD3 + 16;
    if (tag < 0xFF) return fromBits(in.word() & 0x7FFFFFFFFFFFFFFFull);
    return fromBits(in.word());
}

// A matrix of the compact layout, before its perturbations.
random_matrices::Matrix generated(unsigned kind, std::uint8_t p, std::uint64_t seed,
                                  std::int32_t rows, std::int32_t cols) {
    using random_matrices::Matrix;
    random_matrices::Source source(seed);
    const auto filled = [&](auto value) {
        Matrix m;
        m.rows = rows;
        m.cols = cols;
        m.data.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
        for (std::int32_t c = 0; c < cols; ++c)
            for (std::int32_t r = 0; r < rows; ++r)
                m.data[static_cast<std::size_t>(r) + static_cast<std::size_t>(rows) * c] = value(r, c);
        return m;
    };
    switch (kind) {
    case 0:
    case 1: {
        Matrix m = kind == 0 ? random_matrices::gatedTracking(source, rows, cols)
                             : random_matrices::gatedClutter(source, rows, cols);
        // Lost tracks: no detection in their gate, so the row can take no pair at all.
        for (unsigned k = 0; k < p % 16u; ++k) {
            const std::size_t r = source.below(static_cast<std::uint64_t>(rows));
            for (std::size_t c = 0; c < static_cast<std::size_t>(cols); ++c)
                m.data[r + static_cast<std::size_t>(rows) * c] = inf;
        }
        return m;
    }
    case 2: {
        static constexpr std::int64_t tops[] = {1, 3, 10, 100, 1000000};
        const std::int64_t top = tops[p % 5];
        return filled([&](std::int32_t, std::int32_t) {
            return static_cast<double>(source.between(0, top));
        });
    }
    case 3: return random_matrices::decimalTenths(source, rows, cols);
    case 4: {
        // Nearly every assignment ties, and the margins cannot tell most elements apart.
        std::vector<double> a(static_cast<std::size_t>(rows)), b(static_cast<std::size_t>(cols));
        for (double& x : a) x = source.unit();
        for (double& x : b) x = source.unit();
        const double nudged = (p % 16 + 1) / 128.0;
        return filled([&](std::int32_t r, std::int32_t c) {
            double v = a[static_cast<std::size_t>(r)] + b[static_cast<std::size_t>(c)];
            if (source.chance(nudged)) v = v * (1 + static_cast<double>(source.between(1, 4)) * 0x1p-52);
            return v;
        });
    }
    case 5: {
        static constexpr double scales[] = {1, 1e-3, 1e-300, 1e300};
        const double scale = scales[p % 4];
        return filled([&](std::int32_t, std::int32_t) { return source.unit() * scale; });
    }
    case 6:
        return filled([&](std::int32_t, std::int32_t) {
            return 1.0 + static_cast<double>(source.below(16)) * 0x1p-52;
        });
    case longSearches: {
        static constexpr double factors[] = {1, 0.37, 1e-310};
        const double f = factors[p % 3];
        return filled([&](std::int32_t r, std::int32_t c) {
            return static_cast<double>(r + 1) * static_cast<double>(c + 1) * f;
        });
    }
    default: {
        constexpr std::size_t kinds = sizeof random_matrices::allKinds / sizeof random_matrices::allKinds[0];
        return random_matrices::generate(source, random_matrices::allKinds[p % kinds], rows, cols);
    }
    }
}

// One perturbation of the compact layout: op on element (r, c).
void perturb(std::vector<double>& matrix, std::int32_t rows, std::int32_t cols, std::uint8_t op,
             std::int32_t r, std::int32_t c) {
    const std::size_t stride = static_cast<std::size_t>(rows);
    double& v = matrix[static_cast<std::size_t>(r) + stride * static_cast<std::size_t>(c)];
    switch (op % 16u) {
    case 0: v = inf; break;
    case 1: v = -inf; break;
    case 2: v = std::numeric_limits<double>::quiet_NaN(); break;
    case 3: v = -0.0; break;
    case 4: v = 1e300; break;
    case 5: v = std::numeric_limits<double>::max(); break;
    case 6: v = 0.0; break;
    case 7: v = std::nextafter(v, inf); break;
    case 8: v = std::nextafter(v, 0.0); break;
    case 9:
        v = matrix[static_cast<std::size_t>((r + 1) % rows) + stride * static_cast<std::size_t>(c)];
        break;
    case 10:
        for (std::size_t k = 0; k < static_cast<std::size_t>(cols); ++k)
            matrix[static_cast<std::size_t>(r) + stride * k] = inf;
        break;
    case 11:
        for (std::size_t k = 0; k < stride; ++k) matrix[k + stride * static_cast<std::size_t>(c)] = inf;
        break;
    case 12: v = -1.0; break;
    case 13: v = std::numeric_limits<double>::denorm_min(); break;
    case 14: v = op >> 4; break;
    default: v = v + 1e-9; break;
    }
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "pairsolve_fuzz: %s\n", what);
    std::abort();
}

void require(bool condition, const char* what) {
    if (!condition) fail(what);
}

// How one call ended.
struct Outcome {
    bool ok = false;
    std::vector<double> assignment;
    double cost = 0;
    std::string identifier;
    std::string message;
    std::uint64_t allocations = 0;
};

template <typename Solve>
Outcome runCall(Solve solve, const std::vector<double>& matrix, std::int32_t rows,
                std::int32_t cols) {
    Outcome out;
    // Values the solver must overwrite: the outputs are cleared by the call itself.
    out.assignment.assign(static_cast<std::size_t>(rows), -7.0);
    out.cost = -7.0;
    const std::uint64_t before = standin::allocationsMade();
    try {
        standin::CallScope call;
        solve(out.assignment.data(), &out.cost, matrix.data(), rows, cols);
        require(call.held() == 0, "a call that returned still holds buffers");
        out.ok = true;
    } catch (const pairsolve::Error& e) {
        out.identifier = e.identifier();
        out.message = e.what();
    }
    out.allocations = standin::allocationsMade() - before;
    require(standin::liveAllocations() == 0, "buffers left allocated after the call");
    return out;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

bool sameOutcome(const Outcome& a, const Outcome& b) {
    if (a.ok != b.ok) return false;
    if (a.ok) return sameBits(a.assignment, b.assignment) && bitsOf(a.cost) == bitsOf(b.cost);
    return a.identifier == b.identifier && a.message == b.message;
}

// Each search, forced or as the solver chooses it, ends as the reference model does and makes the
// plain search's decisions. Returns what the forced offset search reported.
solverTesting::SearchReport checkSearches(const std::vector<double>& matrix, std::int32_t rows,
                                          std::int32_t cols, const Outcome& reference) {
    using solverTesting::Decision;
    using solverTesting::SearchChoice;
    static std::vector<Decision> buffers[4];
    const SearchChoice choices[] = {SearchChoice::plain, SearchChoice::offset,
                                    SearchChoice::elementByElement, SearchChoice::chosen};
    solverTesting::DecisionTrace traces[4] = {};
    solverTesting::SearchReport reports[4];
    for (int i = 0; i < 4; ++i) {
        if (buffers[i].empty()) buffers[i].resize(1 << 16);
        solverTesting::DecisionTrace* trace = &traces[i];
        solverTesting::SearchReport* report = &reports[i];
        const SearchChoice choice = choices[i];
        Outcome forced;
        // A trace that overflowed counted its decisions all the same: the call is made again
        // with room for them (every search is deterministic).
        do {
            if (trace->count > buffers[i].size()) buffers[i].resize(trace->count);
            *trace = solverTesting::DecisionTrace{buffers[i].data(), buffers[i].size(), 0, 0};
            forced = runCall(
                [choice, trace, report](double* a, double* c, const double* x, std::int32_t r,
                                        std::int32_t n) {
                    solverTesting::solve(choice, a, c, x, r, n, report, trace);
                },
                matrix, rows, cols);
        } while (trace->count > trace->capacity);
        require(sameOutcome(forced, reference), "a search and the reference model disagree");
    }
    const auto same = [](const Decision& a, const Decision& b) {
        return a.kind == b.kind && a.row == b.row && a.col == b.col && bitsOf(a.value) == bitsOf(b.value);
    };
    const solverTesting::DecisionTrace& plain = traces[0];
    for (int i = 1; i < 4; ++i) {
        const solverTesting::DecisionTrace& t = traces[i];
        // After a restart the offset search's decisions are a prefix of the plain ones and the
        // element-by-element search's follow them, all of them.
        const std::size_t restart = t.restartedAt;
        require(t.count - restart == plain.count, "a search made more or fewer decisions");
        for (std::size_t k = 0; k < t.count; ++k)
            require(same(t.entries[k], plain.entries[k < restart ? k : k - restart]),
                    "a search made another decision than the plain one");
    }
    return reports[1];
}

bool isSystemError(const Outcome& out) {
    using namespace pairsolve::text;
    return (out.identifier.empty() && out.message == negativeElement) ||
           (out.identifier == nanBlocksId && out.message == nanBlocks) ||
           (out.identifier == overflowId && out.message == overflow);
}

struct Contents {
    bool anyNegative = false;  // a finite element below 0
    bool anyFinite = false;
    bool anyInfinite = false;  // +inf or -inf
    bool anyNaN = false;
};

Contents contentsOf(const std::vector<double>& matrix) {
    Contents c;
    for (double v : matrix) {
        if (v != v)
            c.anyNaN = true;
        else if (v == inf || v == -inf)
            c.anyInfinite = true;
        else {
            c.anyFinite = true;
            if (v < 0) c.anyNegative = true;
        }
    }
    return c;
}

void checkSuccess(const Outcome& out, const std::vector<double>& matrix, std::int32_t rows,
                  std::int32_t cols, const Contents& contents) {
    std::vector<bool> taken(static_cast<std::size_t>(cols), false);
    double sum = 0;
    std::int32_t assigned = 0;
    for (std::int32_t r = 0; r < rows; ++r) {
        const double a = out.assignment[static_cast<std::size_t>(r)];
        require(bitsOf(a) != bitsOf(-0.0), "an assignment entry is -0");
        if (a == 0) continue;
        require(a >= 1 && a <= cols && a == static_cast<double>(static_cast<std::int32_t>(a)),
                "an assigned column outside 1..N");
        const std::size_t c = static_cast<std::size_t>(a) - 1;
        require(!taken[c], "a column assigned twice");
        taken[c] = true;
        ++assigned;
        const double v = matrix[static_cast<std::size_t>(r) + static_cast<std::size_t>(rows) * c];
        require(v == v && v != inf && v != -inf, "a pair on an element that is not finite");
        sum = sum + v;
    }
    require(bitsOf(out.cost) == bitsOf(sum), "the cost is not the sum of the assigned elements");
    const std::int32_t target = rows < cols ? rows : cols;
    require(assigned <= target, "more pairs than min(M, N)");
    if (!contents.anyInfinite && (contents.anyFinite || matrix.empty()))
        require(assigned == target, "fewer than min(M, N) pairs without any forbidden pair");
    if (!matrix.empty() && !contents.anyFinite)
        require(assigned == 0 && bitsOf(out.cost) == 0,
                "pairs in a matrix without finite elements");
}

void checkGateway(const Outcome& direct, const std::vector<double>& matrix, std::int32_t rows,
                  std::int32_t cols, int nlhs) {
    mxArray* input =
        mxCreateDoubleMatrix(static_cast<mwSize>(rows), static_cast<mwSize>(cols), mxREAL);
    if (!matrix.empty()) std::memcpy(mxGetPr(input), matrix.data(), matrix.size() * sizeof(double));
    const mxArray* prhs[1] = {input};
    mxArray* plhs[2] = {nullptr, nullptr};
    bool ok = false;
    std::string identifier, message;
    try {
        standin::CallScope call;
        mexFunction(nlhs, plhs, 1, prhs);
        ok = true;
    } catch (const pairsolve::Error& e) {
        identifier = e.identifier();
        message = e.what();
    }
    require(standin::liveAllocations() == 0, "buffers left allocated after a gateway call");
    require(matrix.empty() ||
                std::memcmp(mxGetPr(input), matrix.data(), matrix.size() * sizeof(double)) == 0,
            "the gateway call wrote its input");
    require(ok == direct.ok, "the gateway and the solver disagree on success");
    if (ok) {
        require(plhs[0] != nullptr && mxGetM(plhs[0]) == static_cast<mwSize>(rows) &&
                    mxGetN(plhs[0]) == 1,
                "the gateway's assignment is not an M x 1 vector");
        const std::vector<double> assignment(mxGetPr(plhs[0]), mxGetPr(plhs[0]) + rows);
        require(sameBits(assignment, direct.assignment), "the gateway's assignment differs");
        if (nlhs == 2)
            require(plhs[1] != nullptr && mxGetM(plhs[1]) == 1 && mxGetN(plhs[1]) == 1 &&
                        bitsOf(*mxGetPr(plhs[1])) == bitsOf(direct.cost),
                    "the gateway's cost differs");
    } else {
        require(identifier == direct.identifier && message == direct.message,
                "the gateway ends with another error");
    }
    for (mxArray* output : plhs)
        if (output != nullptr) mxDestroyArray(output);
    mxDestroyArray(input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const std::uint8_t first = in.byte();
    const bool compact = first >= 0x80;
    const unsigned kind = (first & 0x7Fu) % 9u;
    const std::int32_t side = kind == longSearches ? longSearchMaxSide : compactMaxSide;
    const std::int32_t rows = compact ? 1 + in.byte() % side : first % (maxSide + 1);
    const std::int32_t cols = compact ? 1 + in.byte() % side : in.byte() % (maxSide + 1);
    const std::uint8_t options = in.byte();
    const unsigned failAt = options & 7u;
    const int nlhs = ((options >> 3) & 3) == 3 ? 2 : (options >> 3) & 3;

    std::vector<double> matrix;
    if (compact) {
        const std::uint8_t parameter = in.byte();
        std::uint64_t seed = 0;
        for (int i = 0; i < 4; ++i) seed |= static_cast<std::uint64_t>(in.byte()) << (8 * i);
        matrix = generated(kind, parameter, seed, rows, cols).data;
        while (!in.atEnd()) {
            const std::uint8_t op = in.byte();
            const std::int32_t r = in.byte() % rows;
            perturb(matrix, rows, cols, op, r, in.byte() % cols);
        }
    } else {
        matrix.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
        for (double& v : matrix) v = element(in);
    }
    const std::vector<double> original = matrix;
    const auto unchanged = [&] { return sameBits(matrix, original); };
    const Contents contents = contentsOf(matrix);

    const Outcome reference = runCall(reference::solveAssignment, matrix, rows, cols);
    require(unchanged(), "the reference model wrote the caller's matrix");
    const Outcome solver = runCall(solveAssignment, matrix, rows, cols);
    require(unchanged(), "the solver wrote the caller's matrix");

    if (!sameOutcome(solver, reference)) {
        std::fprintf(stderr, "solver:    %s %s %s\nreference: %s %s %s\n",
                     solver.ok ? "ok" : "error", solver.identifier.c_str(), solver.message.c_str(),
                     reference.ok ? "ok" : "error", reference.identifier.c_str(),
                     reference.message.c_str());
        fail("the solver and the reference model disagree");
    }
    const solverTesting::SearchReport offset = checkSearches(matrix, rows, cols, reference);
    // The lockstep above proves little if the forced offset search never ran: it must, wherever
    // every element is finite and far enough below the top of the double range.
    if (!contents.anyInfinite && !contents.anyNaN && !contents.anyNegative && !matrix.empty()) {
        double largest = 0;
        for (double v : matrix) largest = v > largest ? v : largest;
        const double lines = 2.0 * (rows < cols ? rows : cols) + 2.0;
        require(!(largest <= std::numeric_limits<double>::max() / lines * 0.25) ||
                    offset.offsetRan,
                "the forced offset search did not run on a matrix it can take");
    }

    // The working copy comes first; the rest only when the call goes on past the copy and scan,
    // that is when no negative element ended it and the matrix holds a finite element or nothing
    // at all that is not finite. The reference takes exactly the five flag arrays then; how the
    // solver holds its bookkeeping is its own affair, so only its early end is pinned down.
    const bool endsBeforeFlags = contents.anyNegative || (!matrix.empty() && !contents.anyFinite);
    require(reference.allocations == (endsBeforeFlags ? 1u : 6u),
            "the reference took an unexpected number of buffers");
    if (endsBeforeFlags)
        require(solver.allocations == 1, "a call that ends at the copy took more than the copy");

    if (solver.ok) {
        require(!contents.anyNegative, "a negative element was accepted");
        checkSuccess(solver, matrix, rows, cols, contents);
    } else {
        require(isSystemError(solver), "an error that is not one of the system's messages");
        require(contents.anyNegative == solver.identifier.empty(),
                "the non-negativity error without a negative element, or a negative element "
                "accepted");
        if (solver.identifier == pairsolve::text::nanBlocksId)
            require(contents.anyNaN, "a NaN error without a NaN in the matrix");
    }

    if (failAt != 0) {
        standin::failAllocation(failAt);
        const Outcome failed = runCall(solveAssignment, matrix, rows, cols);
        standin::failAllocation(0);
        require(unchanged(), "a call that ran out of memory wrote the caller's matrix");
        if (failAt <= solver.allocations)
            require(!failed.ok && failed.identifier == "pairsolve:outOfMemory" &&
                        failed.message == "Not enough memory for a matrix of this size.",
                    "a failed allocation did not end the call with the out-of-memory error");
        else
            require(sameOutcome(failed, solver),
                    "an allocation failure that never fired changed the result");
    }

    checkGateway(solver, matrix, rows, cols, nlhs);
    return 0;
}
