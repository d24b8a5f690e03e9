#include "choose.h"

#include <cfloat>
#include <cstring>

#include "host_services.h"
#include "kernels.h"

namespace pairsolve {

namespace {

// A finite v > 0 as significand * 2^exponent, the significand an integer below 2^53.
void splitDouble(double v, std::uint64_t& significand, int& exponent) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int field = static_cast<int>((bits >> 52) & 0x7ff);
    significand = bits & ((std::uint64_t{1} << 52) - 1);
    if (field == 0) {  // subnormal
        exponent = -1074;
    } else {
        significand |= std::uint64_t{1} << 52;
        exponent = field - 1075;
    }
}

}  // namespace

std::uint64_t exactLimit(std::uint64_t lineCount) {
    return ((std::uint64_t{1} << 53) - 1) / (2 * (lineCount + 1));
}

int lowestBitOf(double v) {
    std::uint64_t significand;
    int exponent;
    splitDouble(v, significand, exponent);
    return exponent + kernels::lowestSetBit(significand);
}

std::uint64_t unitsOf(double largest, int lowestBit) {
    const std::uint64_t cap = std::uint64_t{1} << 53;
    if (!(largest > 0)) return 0;
    std::uint64_t significand;
    int exponent;
    splitDouble(largest, significand, exponent);
    const int shift = exponent - lowestBit;  // at least -(trailing zeros of the significand)
    if (shift < 0) return significand >> -shift;
    if (shift >= 53 || significand > (cap - 1) >> shift) return cap;
    return significand << shift;
}

void summarize(MatrixSummary& summary, double v) {
    if (v != v) {
        summary.anyNaN = true;
    } else if (!mxIsFinite(v)) {
        summary.anyInfinite = true;
    } else {
        if (summary.largest < v) summary.largest = v;
        if (v != 0) {
            const int bit = lowestBitOf(v);
            if (bit < summary.lowestBit) summary.lowestBit = bit;
        }
    }
}

bool plainFor(std::int32_t rowCount, std::int32_t colCount, solverTesting::SearchChoice choice) {
    using solverTesting::SearchChoice;
    return choice == SearchChoice::plain ||
           (choice == SearchChoice::chosen &&
            static_cast<std::uint64_t>(rowCount) * static_cast<std::uint64_t>(colCount) <=
                plainElements);
}

Search chooseSearch(const MatrixSummary& summary, std::int32_t rowCount, std::int32_t colCount,
                    solverTesting::SearchChoice choice) {
    if (plainFor(rowCount, colCount, choice)) return Search::plain;
    if (choice == solverTesting::SearchChoice::elementByElement || summary.anyNaN ||
        summary.anyInfinite)
        return Search::elementByElement;
    const std::uint64_t rows = static_cast<std::uint64_t>(rowCount);
    const std::uint64_t cols = static_cast<std::uint64_t>(colCount);
    if (unitsOf(summary.largest, summary.lowestBit) <= exactLimit(rows + cols))
        return Search::offsetExact;
    // (2T + 2) W below the double range, with room to spare for rounding.
    const double lines = 2.0 * static_cast<double>(rowCount < colCount ? rowCount : colCount) + 2.0;
    if (!(summary.largest <= DBL_MAX / lines * 0.5)) return Search::elementByElement;
    return Search::offsetCertified;
}

Search searchFor(const double* workMatrix, std::size_t elementCount, std::int32_t rowCount,
                 std::int32_t colCount, solverTesting::SearchChoice choice) {
    MatrixSummary summary;
    for (std::size_t i = 0; i < elementCount; ++i) summarize(summary, workMatrix[i]);
    return chooseSearch(summary, rowCount, colCount, choice);
}

}  // namespace pairsolve
