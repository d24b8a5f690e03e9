// Helpers shared by the C++ tests: matrices written row by row, as people read them.
#ifndef PAIRSOLVE_TEST_SUPPORT_H
#define PAIRSOLVE_TEST_SUPPORT_H

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <vector>

namespace testing_support {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A rows x cols matrix stored column-major, filled from its elements given row by row.
struct Matrix {
    std::int32_t rows = 0;
    std::int32_t cols = 0;
    std::vector<double> data;  // column-major

    Matrix() = default;
    Matrix(std::int32_t r, std::int32_t c, std::initializer_list<double> rowMajor = {})
        : rows(r), cols(c), data(static_cast<std::size_t>(r) * static_cast<std::size_t>(c)) {
        std::size_t i = 0;
        for (double v : rowMajor) {
            const std::size_t row = i / static_cast<std::size_t>(c), col = i % static_cast<std::size_t>(c);
            data[row + static_cast<std::size_t>(r) * col] = v;
            ++i;
        }
    }
    double& at(std::int32_t r, std::int32_t c) {
        return data[static_cast<std::size_t>(r) + static_cast<std::size_t>(rows) * static_cast<std::size_t>(c)];
    }
};

}  // namespace testing_support

#endif
