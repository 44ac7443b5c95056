// A small seeded generator whose sequence is the same on every platform and
// compiler (the standard distributions are not), so a seed replays anywhere.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}

    // splitmix64.
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1 (n > 0).
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    // lo .. hi, both included.
    int32_t range(int32_t lo, int32_t hi) {
        return lo + static_cast<int32_t>(below(static_cast<uint32_t>(hi - lo + 1)));
    }
    // True with probability percent / 100.
    bool chance(uint32_t percent) { return below(100) < percent; }

    template <typename T>
    const T& pick(const std::vector<T>& from) { return from[below(static_cast<uint32_t>(from.size()))]; }
    template <typename T>
    T pick(std::initializer_list<T> from) { return from.begin()[below(static_cast<uint32_t>(from.size()))]; }

    // An index into weights, drawn in proportion to them.
    size_t weighted(std::initializer_list<uint32_t> weights) {
        uint32_t total = 0;
        for (uint32_t w : weights) total += w;
        uint32_t r = below(total);
        size_t i = 0;
        for (uint32_t w : weights) {
            if (r < w) return i;
            r -= w;
            ++i;
        }
        return 0;
    }

private:
    uint64_t s_;
};

// A seed for sequence k of a run, independent of how many draws earlier sequences made.
inline uint64_t sequence_seed(uint64_t seed, uint64_t k) {
    Rng r(seed * 0x100000001B3ull ^ (k + 1) * 0xD6E8FEB86659FD93ull);
    return r.next();
}
