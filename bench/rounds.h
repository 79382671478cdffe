#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// Figures of one side over several rounds.
struct Spread {
    double min = 0;
    double median = 0;
    double max = 0;
};

inline Spread spreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    if (values.empty()) {
        return {};
    }
    return {values.front(), values[values.size() / 2], values.back()};
}

// Runs every side once per round, the order reversed every other round so that a drift in the
// machine's load hits all sides alike; returns each side's figures, round by round.
inline std::vector<std::vector<double>>
interleavedRounds(const std::vector<std::function<double()>>& sides, int rounds) {
    std::vector<std::vector<double>> figures(sides.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < sides.size(); ++k) {
            const std::size_t side = round % 2 == 0 ? k : sides.size() - 1 - k;
            figures[side].push_back(sides[side]());
        }
    }
    return figures;
}

// The ratio of two sides round by round: what a drift between rounds cannot distort.
inline std::vector<double> ratios(const std::vector<double>& over,
                                  const std::vector<double>& under) {
    std::vector<double> result;
    for (std::size_t k = 0; k < over.size() && k < under.size(); ++k) {
        result.push_back(under[k] > 0 ? over[k] / under[k] : 0);
    }
    return result;
}

inline void printSpread(const std::string& what, const Spread& spread, const char* format) {
    std::printf("%s: min ", what.c_str());
    std::printf(format, spread.min);
    std::printf(", median ");
    std::printf(format, spread.median);
    std::printf(", max ");
    std::printf(format, spread.max);
    std::printf("\n");
}

} // namespace bench
