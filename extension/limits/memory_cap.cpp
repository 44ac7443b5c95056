#include "extension/limits/memory_cap.h"

#include <algorithm>
#include <cstdlib>
#include <new>

extern "C" {
#include <lua.h>
}

namespace {

// Bytes granted above the cap once it refused, until the export returns.
constexpr std::size_t kReserve = 64 * 1024;

// [-0, +0, e] Run by lua_cpcall: one full collection.
int collect_all(lua_State* L) {
    lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}

}  // namespace

MemoryCap* new_memory_cap() noexcept {
    void* room = std::malloc(sizeof(MemoryCap));
    return room ? new (room) MemoryCap() : nullptr;
}

void free_memory_cap(MemoryCap* cap) noexcept { std::free(cap); }

void* counting_alloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize) noexcept {
    auto* cap = static_cast<MemoryCap*>(ud);
    const std::size_t had = ptr ? osize : 0;
    if (nsize == 0) {
        std::free(ptr);
        cap->used -= had;
        return nullptr;
    }
    if (nsize > had && cap->cap > 0 && cap->lifted == 0) {
        const std::size_t limit = std::max(cap->cap, cap->reserve);
        if (nsize - had > limit - std::min(cap->used, limit)) {
            ++cap->refused;
            if (cap->reserve == 0) cap->reserve = std::max(cap->cap, cap->used) + kReserve;
            return nullptr;
        }
    }
    void* block = std::realloc(ptr, nsize);
    if (!block && nsize > had) return nullptr;
    cap->used = cap->used - had + nsize;  // as the engine counts it: a shrink is never refused
    return block ? block : ptr;           // a shrink that failed keeps the larger block
}

MemoryCap* memory_cap_of(lua_State* L) noexcept {
    void* ud = nullptr;
    return lua_getallocf(L, &ud) == counting_alloc ? static_cast<MemoryCap*>(ud) : nullptr;
}

void collect_with_cap_lifted(lua_State* L, MemoryCap& cap) noexcept {
    ++cap.lifted;
    if (lua_cpcall(L, collect_all, nullptr) != 0) lua_settop(L, -2);  // +0, or +1 error and -1
    --cap.lifted;
}
