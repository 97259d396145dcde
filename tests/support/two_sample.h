#pragma once
// The two-sample Kolmogorov-Smirnov statistic: the largest distance between the empirical
// distribution functions of two samples. Its 0.1 % critical value is about
// 1.95 sqrt((n + m) / (n m)).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace quenlith::testing {

template <typename T> double ksDistance(std::vector<T> a, std::vector<T> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    double d = 0;
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const T x = std::min(a[i], b[j]);
        while (i < a.size() && a[i] == x)
            ++i;
        while (j < b.size() && b[j] == x)
            ++j;
        d = std::max(d, std::abs(static_cast<double>(i) / static_cast<double>(a.size()) -
                                 static_cast<double>(j) / static_cast<double>(b.size())));
    }
    return d;
}

} // namespace quenlith::testing
