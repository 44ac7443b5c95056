#include "extension/engine/pending_cells.h"

#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

// Grows geometrically and is never shrunk, so pushes stop allocating once it has
// seen the deepest nesting. Slots cleared out of order hold null until released.
std::vector<HostStringCell*> g_pending;

// Records cell and returns its slot, or false when the list cannot grow.
bool hold(HostStringCell* cell, std::size_t* slot) noexcept {
    try {
        g_pending.push_back(cell);
    } catch (...) {
        return false;
    }
    *slot = g_pending.size() - 1;
    return true;
}

// Disposes the cell in slot, which the push that recorded it no longer needs.
// Only the top slot is removed: slots above it belong to raises during the push.
void dispose(std::size_t slot) noexcept {
    host_dispose_cell(g_pending[slot]);
    g_pending[slot] = nullptr;
    if (slot + 1 == g_pending.size()) g_pending.pop_back();
}

}  // namespace

std::size_t pending_cells_mark() noexcept { return g_pending.size(); }

void pending_cells_release_to(std::size_t mark) noexcept {
    while (g_pending.size() > mark) {
        HostStringCell* cell = g_pending.back();
        g_pending.pop_back();
        if (cell) host_dispose_cell(cell);
    }
}

void push_host_text(lua_State* L, HostStringCell* cell) {
    const char* text = cell ? *cell : nullptr;
    if (!text) {
        if (cell) host_dispose_cell(cell);
        lua_pushnil(L);  // +1
        return;
    }
    std::size_t slot;
    if (!hold(cell, &slot)) {
        host_dispose_cell(cell);
        luaL_error(L, "not enough memory");  // raises, nothing held
        return;
    }
    lua_pushstring(L, text);  // +1, may raise: the cell is recorded
    dispose(slot);
}
