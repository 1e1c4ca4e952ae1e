#include "rounds.h"

#include <windows.h>

#include <algorithm>

double seconds(const std::function<void()>& work) {
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    work();
    QueryPerformanceCounter(&b);
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

Spread spreadOf(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    // Linear interpolation between the two nearest ranks.
    auto quantile = [&](double q) {
        double rank = q * double(values.size() - 1);
        std::size_t below = std::size_t(rank);
        if (below + 1 >= values.size()) return values.back();
        double above = rank - double(below);
        return values[below] * (1 - above) + values[below + 1] * above;
    };
    return {quantile(0.5), quantile(0.25), quantile(0.75), values.front(), values.back(), int(values.size())};
}

Spread Rounds::costRatio() const {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < ours.size(); ++i) ratios.push_back(ours[i] / reference[i]);
    return spreadOf(ratios);
}

Spread Rounds::throughputRatio() const {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < ours.size(); ++i) ratios.push_back(reference[i] / ours[i]);
    return spreadOf(ratios);
}

Rounds interleave(int pairs, const std::function<double()>& ours, const std::function<double()>& reference) {
    Rounds rounds;
    for (int pair = -1; pair < pairs; ++pair) {
        double a, b;
        if (pair % 2 == 0) {
            a = ours();
            b = reference();
        } else {
            b = reference();
            a = ours();
        }
        if (pair < 0) continue;
        rounds.ours.push_back(a);
        rounds.reference.push_back(b);
    }
    return rounds;
}
