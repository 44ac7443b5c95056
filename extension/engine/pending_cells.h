// Host cells whose text is being pushed into Lua.
//
// lua_pushstring can raise (it allocates, and its collection step may run a
// script's __gc), and a raise skips every C++ frame up to the protected call.
// So while a cell's text is being pushed, the cell is recorded in one
// process-wide list rather than held by a frame. After the push the cell is
// disposed as usual. A cell left recorded is an orphan of a raise; it is
// disposed when the export that was running returns, even when a script's own
// pcall caught the error.
#pragma once
#include <cstddef>

#include "host/host_call.h"

struct lua_State;

// The list's length. An export notes it at entry.
std::size_t pending_cells_mark() noexcept;

// Disposes every cell recorded above mark and shortens the list to mark. An
// export calls it once its protected call has returned.
void pending_cells_release_to(std::size_t mark) noexcept;

// [-0, +1, m] Pushes the text held in cell (nil when cell is null or empty) and
// disposes the cell. The caller hands the cell over and keeps nothing.
void push_host_text(lua_State* L, HostStringCell* cell);
