// The host's side of the driver: random ids, names, paths, list handles, list
// entries and script results, all that the host hands varnel.
#include <cmath>
#include <iterator>
#include <cstdlib>
#include <limits>

#include "fuzz/driver.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The list handle that each nesting depth sets up lists at, so that a nested
// script_event never replaces a list an outer one is still reading.
double handle_at_depth(Rng& rng, int depth) {
    if (depth == 0 && rng.chance(85))
        return rng.pick({0.0, -0.0, 1.0, 2.0, 2.9, -2.9, -1.0, 2147483647.0, -2147483648.0, -2147483648.9});
    if (depth == 0) return rng.pick({3e9, -3e9, kNaN, kInf, -kInf});
    const double base = 100.0 * depth;
    return rng.pick({base, base + 0.5, -base - 0.9, kNaN, 3e9});
}

}  // namespace

const std::vector<double> kScriptIndices = {1, 2, 3, -4, 0, 2.5, 1e9, 65536, kInf, -kInf};
const std::vector<double> kEngineIds = {0, -0.0, 1, 2, -1, 0.5, -3.25, 1e300, kInf, 4294967296.5};

double Driver::random_id(bool for_state) {
    if (rng_.chance(3)) return kNaN;
    if (!for_state && rng_.chance(3)) return 123456.75;  // never made
    if (!for_state && !active_.empty() && rng_.chance(depth_ > 0 ? 50 : 0)) return rng_.pick(active_);
    if (!for_state && !engines_.empty() && rng_.chance(85)) {
        auto it = engines_.begin();
        std::advance(it, rng_.below(static_cast<uint32_t>(engines_.size())));
        return it->first;
    }
    return rng_.pick(kEngineIds);
}

double Driver::random_handle() { return handle_at_depth(rng_, depth_); }

// Limits a game might set, mostly short enough to stop a generated script.
double Driver::random_seconds() {
    return rng_.pick<double>({0.0, -0.0, 0.002, 0.01, 0.05, 1.0, 1e300, std::numeric_limits<double>::infinity(),
                              std::nan(""), -1.0, -1e-9});
}

// Caps below what an engine holds already (a few KB) refuse nearly every
// allocation, in every corner of the engine: VARNEL_FUZZ_TINY_CAPS=1 includes
// them.
double Driver::random_bytes() {
    static const bool tiny = std::getenv("VARNEL_FUZZ_TINY_CAPS") != nullptr;
    if (tiny && rng_.chance(30)) return rng_.pick<double>({1.0, 4096.0, 65536.0, 262144.0});
    return rng_.pick<double>({0.0, 1048576.0, 2097152.0, 8388608.0, 67108864.0, 1e300,
                              std::numeric_limits<double>::infinity(), std::nan(""), -1.0});
}

std::string Driver::random_name() {
    if (rng_.chance(75)) return rng_.pick(names_);
    std::string s;
    const int n = rng_.range(1, 12);
    for (int i = 0; i < n; ++i) s += static_cast<char>(rng_.range(1, 255));
    return s;
}

std::string Driver::random_path() {
    switch (rng_.weighted({30, 1, 1, 1})) {
        case 0: return file_prefix_ + std::to_string(depth_) + ".lua";
        case 1: return file_prefix_ + "missing.lua";
        case 2: return "";
        default: return ".";
    }
}

std::string Driver::random_text() {
    switch (rng_.below(9)) {
        case 0: return "hello";
        case 1: return "7";
        case 2: return "0";
        case 3: return "";
        case 4: return std::string("a\0b", 3);
        case 5: return "\xC3\xA9t\xE9\x80\xFF";
        case 6: return std::string(static_cast<size_t>(rng_.pick({247, 248, 300})), 'x');
        case 7: return std::string(70000, 'w');
        default: return " 12 ";
    }
}

standin::Value Driver::random_value() {
    using standin::Value;
    switch (rng_.below(9)) {
        case 0:
        case 1: return Value::number(rng_.pick({0.0, -0.0, 1.0, 5.0, -3.5, 2.9, 1e300, 2147483648.0}));
        case 2: return Value::number(rng_.pick({kNaN, kInf, -kInf}));
        case 3:
        case 4: return Value::text_of(random_text());
        case 5: return Value::text_of("");
        case 6: return Value::empty_text();
        case 7: return Value::raw(rng_.pick({2, -1, 1000, 0x7FFFFFFF}), rng_.pick({0.0, 3.5, kNaN}));
        default: return Value::raw(HOST_KIND_TEXT, rng_.pick({0.0, 9.0}));  // a text record with no text
    }
}

// Sets up the list the host will read at handle, unless the handle has no 32-bit value.
void Driver::set_up_list(double handle) {
    if (!(handle > -2147483649.0 && handle < 2147483648.0)) return;
    const int32_t h = static_cast<int32_t>(handle);
    size_t size;
    switch (rng_.weighted({60, 20, 6, 3, 3})) {
        case 0: size = rng_.below(6); break;
        case 1: size = 6 + rng_.below(30); break;
        case 2: size = 100; break;
        case 3: size = static_cast<size_t>(rng_.pick({3000, 7990, 7999})); break;
        default: size = static_cast<size_t>(rng_.pick({8000, 10000, 12000})); break;
    }
    std::vector<standin::Value> entries;
    entries.reserve(size);
    for (size_t i = 0; i < size; ++i) entries.push_back(random_value());
    standin::remove_list(h);
    standin::set_list(h, std::move(entries));
    if (rng_.chance(20)) {
        // The size the host answers: never more entries than the list has, unless
        // too many for any engine to take.
        const double s = static_cast<double>(size);
        standin::set_list_size(h, rng_.pick({kNaN, kInf, -kInf, -5.0, -0.5, 0.0, 0.9, s, s > 0 ? s - 0.5 : 0.0,
                                             std::floor(s / 2), 8000.0, 1e10, 2147483648.0, -1e10}));
    }
}
