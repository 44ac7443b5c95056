// The memory cap: each engine's own counting allocator, given to lua_newstate,
// which counts the bytes the engine holds and refuses to grow past the cap.
//
// Over the cap an allocation fails, and the engine raises Lua's "not enough
// memory". Neither engine lets its allocator run the collector (it is called from
// inside the collector and half-way through building objects), so the collector
// runs afterwards instead: an export in which the cap refused an allocation ends
// with a full collection, with the cap lifted, and the engine is back to what its
// scripts still hold. Freeing and shrinking are never refused, and varnel's own
// work (reporting an error, that collection, closing the engine) runs with the
// cap lifted. Once the cap refused an allocation, a small reserve above what the
// engine held then (or the cap, if more) is granted until the outermost export
// of the engine returns, so that the engine can raise and handle the error (grow
// its stack for the message handler, word a message); a script that catches the
// error and goes on is refused again at the reserve's end.
#pragma once
#include <cstddef>

struct lua_State;

struct MemoryCap {
    std::size_t used = 0;    // bytes the engine holds
    std::size_t cap = 0;     // bytes it may hold; 0: no cap
    int lifted = 0;          // varnel's own work under way, nested: the cap does not apply
    std::size_t reserve = 0;  // while the reserve is open, the bytes it ends at; else 0
    unsigned refused = 0;    // allocations refused, ever: an export compares before and after
    unsigned told = 0;       // refused as it was when the host was last told of a failure
};

// A new cap record for one engine (the allocator's user data, which must not
// move), or null when memory ran out. Freed with free_memory_cap once the
// engine is closed.
MemoryCap* new_memory_cap() noexcept;
void free_memory_cap(MemoryCap* cap) noexcept;

// The allocator every engine is made with (lua_Alloc), its user data a MemoryCap.
void* counting_alloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize) noexcept;

// [-0, +0, -] The cap of L's engine, or null when it was not made with
// counting_alloc.
MemoryCap* memory_cap_of(lua_State* L) noexcept;

// [-0, +0, -] A full collection of L's engine with the cap lifted, its errors
// (a raising finalizer) dropped. Takes two free stack slots.
void collect_with_cap_lifted(lua_State* L, MemoryCap& cap) noexcept;
