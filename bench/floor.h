// The floor: what each benchmarked path costs when nothing but its host calls is
// done. Hand-written C on the same Lua library, the same nexlink exports and the
// same stand-in routines, with every record, block and cell pointer on the C stack.
// Nothing here is protected or checked: it is the least a correct path must do.
#pragma once

struct lua_State;

// [-0, +(0 | 1), m] A forwarded call: upvalue 1 is the script index (a number).
// Makes the same cells, records and host calls as varnel's forwarder, in the same
// order. At most 8 arguments, texts up to 55 bytes.
int floor_forward(lua_State* L);

// [-0, +0, m] draw_text(x, y, text) with the same host calls as varnel's.
int floor_draw_text(lua_State* L);

// [-0, +0, e] The event: calls the global name with the entries of list h and
// returns 1.0 when its first result is 0, else 0.0. Texts up to 55 bytes. With
// protect, the function runs under lua_pcall, as anything that must survive a
// script error has to call it: a reference, not the floor.
double floor_event(lua_State* L, const char* name, double list, bool protect = false);

// [-0, +0, e] Calls the global loop with n and pops its result. Returns 1.0 when
// that result is 0, else 0.0, as script_event would.
double floor_loop(lua_State* L, const char* loop, int n);

// [-0, +0, e] Reads the global path a.b.c with three lookups (metamethods
// included, as lua_getfield does) and returns it as a number, 0 when it is none.
double floor_global(lua_State* L, const char* a, const char* b, const char* c);

// A new state with the standard libraries, source run in it, the floor forwarder
// bound as each of the names under the script indices given, and draw_text.
struct FloorScript {
    const char* name;
    double index;
};
lua_State* open_floor_state(const char* source, const FloorScript* scripts, int count);
