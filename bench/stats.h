#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// Order statistics of one sample.
struct Summary {
    double median = 0;
    double p90 = 0;
    double min = 0;
    double max = 0;
    std::size_t count = 0;
};

// Linear interpolation between the two closest ranks; p in [0, 1].
inline double percentileOfSorted(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    const double rank = p * double(sorted.size() - 1);
    const auto below = static_cast<std::size_t>(rank);
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    const double weight = rank - double(below);
    return sorted[below] * (1 - weight) + sorted[above] * weight;
}

inline Summary summarize(std::vector<double> values)
{
    Summary s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    s.median = percentileOfSorted(values, 0.5);
    s.p90 = percentileOfSorted(values, 0.9);
    s.min = values.front();
    s.max = values.back();
    s.count = values.size();
    return s;
}
