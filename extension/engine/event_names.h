// The per-engine cache of the calls by name (script_event, call_real, call_text):
// the first names a global function was found for, so that a later call finds
// the function without making the name a Lua string.
#pragma once

struct lua_State;

// A name found: its bytes, and the registry slot holding it as a Lua string, the
// key to look the global up again with.
struct KnownEvent {
    int ref;
    char name[28];  // with the ending zero; longer names are not kept
};
constexpr int kKnownEvents = 8;

struct EventNames {
    KnownEvent known[kKnownEvents];
    int count;
};

// [-0, +(0 | 1), -] Pushes the global function name when events knows name and
// the global is a function. Raw reads only, which cannot raise: a metamethod
// would run only for a global that is nil. The names are compared as the Lua
// strings in their slots, where a script may have put anything else.
bool push_known_function(lua_State* L, const EventNames& events, const char* name) noexcept;

// [-0, +0, m] Makes events know name, once, while there is room for it.
void remember_name(lua_State* L, EventNames& events, const char* name);
