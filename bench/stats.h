#pragma once
// Order statistics over a run of samples.

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace relay::bench {

struct summary {
    double mean = 0;
    double median = 0;
    double p1 = 0;
    double p99 = 0;
    double max = 0;
    std::size_t count = 0;
};

// Nearest-rank percentiles: every figure is a value that was measured.
inline summary summarise(std::vector<double> samples)
{
    summary s;
    s.count = samples.size();
    if (samples.empty())
        return s;
    s.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
    std::sort(samples.begin(), samples.end());
    const auto rank = [&](double p) {
        const auto r = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(samples.size())));
        return samples[std::clamp<std::size_t>(r, 1, samples.size()) - 1];
    };
    s.median = rank(50);
    s.p1 = rank(1);
    s.p99 = rank(99);
    s.max = samples.back();
    return s;
}

}  // namespace relay::bench
