#include "bench/timing.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double elapsed_ns(const Runner& run, int count) {
    const Clock::time_point start = Clock::now();
    run(count);
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

}  // namespace

int calibrate(const Runner& varnel, double min_ms) {
    int count = 1;
    while (count < (1 << 28) && elapsed_ns(varnel, count) < min_ms * 1e6) count *= 2;
    return count;
}

Figures measure(const Runner& varnel, const Runner& floor, int count, int reps) {
    elapsed_ns(varnel, count);
    elapsed_ns(floor, count);
    std::vector<double> v, f, ratios;
    for (int r = 0; r < reps; ++r) {
        double mine, least;
        if (r % 2 == 0) {
            mine = elapsed_ns(varnel, count);
            least = elapsed_ns(floor, count);
        } else {
            least = elapsed_ns(floor, count);
            mine = elapsed_ns(varnel, count);
        }
        v.push_back(mine / count);
        f.push_back(least / count);
        ratios.push_back(mine / least);
    }
    return Figures{median(v), median(f), median(ratios), count};
}
