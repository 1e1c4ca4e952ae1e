// How every timed figure is taken: short rounds of the two sides, interleaved,
// and the median of the per-round ratios. The machine is shared and Wine's
// speed comes and goes in phases of seconds; a ratio taken within one pair of
// rounds sees both sides in the same phase, and the median drops the pairs
// that a burst of load split.
#pragma once

#include <functional>
#include <vector>

// Wall-clock seconds that `work` takes.
double seconds(const std::function<void()>& work);

// The distribution of a set of values: median, quartiles and extremes.
struct Spread {
    double median = 0, q1 = 0, q3 = 0, min = 0, max = 0;
    int count = 0;
};
Spread spreadOf(std::vector<double> values);

// Seconds of each side's rounds, paired by index.
struct Rounds {
    std::vector<double> ours, reference;
    // Per pair, our time over the reference's (a cost: lower is better).
    Spread costRatio() const;
    // Per pair, the reference's time over ours (a throughput: higher is better).
    Spread throughputRatio() const;
};

// `pairs` pairs of rounds in the order AB BA AB ..., so that a steady drift
// weighs on both sides alike, after one pair that is not counted (first-use
// costs: type information, the engine's own caches). Each side does one round
// and answers the seconds it took, so that it can leave set-up out of the
// timed part.
Rounds interleave(int pairs, const std::function<double()>& ours, const std::function<double()>& reference);
