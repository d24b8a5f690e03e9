// One call's outcome, for tests that solve the same matrix through several entries (the solver,
// its element-by-element search alone, the reference model) and compare them bit for bit.
#ifndef PAIRSOLVE_SOLVE_OUTCOME_H
#define PAIRSOLVE_SOLVE_OUTCOME_H

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "random_matrices.h"
#include "standin_host.h"

namespace solve_outcome {

using Entry = void (*)(double*, double*, const double*, std::int32_t, std::int32_t);

struct Outcome {
    std::vector<double> assignment;
    double cost = 0;
    std::string identifier;  // of the error the call ended with
    std::string error;       // "identifier: message" of that error, "" if none
};

// Runs entry (a function or anything called like one) as one host call, so an error leaves
// nothing allocated.
template <class Call>
Outcome solveWith(const Call& entry, const random_matrices::Matrix& m) {
    Outcome out;
    out.assignment.assign(static_cast<std::size_t>(m.rows), 0.0);
    pairsolve::standin::CallScope call;
    try {
        entry(out.assignment.data(), &out.cost, m.data.data(), m.rows, m.cols);
    } catch (const pairsolve::Error& e) {
        out.identifier = e.identifier();
        out.error = e.identifier() + ": " + e.what();
    }
    return out;
}

// Bit for bit: -0.0 differs from 0.0.
inline bool same(const Outcome& a, const Outcome& b) {
    return a.error == b.error && std::memcmp(&a.cost, &b.cost, sizeof a.cost) == 0 &&
           a.assignment.size() == b.assignment.size() &&
           (a.assignment.empty() ||
            std::memcmp(a.assignment.data(), b.assignment.data(),
                        a.assignment.size() * sizeof(double)) == 0);
}

inline random_matrices::Matrix fromColumns(std::int32_t rows, std::int32_t cols,
                                           std::vector<double> data) {
    random_matrices::Matrix m;
    m.rows = rows;
    m.cols = cols;
    m.data = std::move(data);
    return m;
}

}  // namespace solve_outcome

#endif
