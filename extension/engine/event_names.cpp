#include "extension/engine/event_names.h"

#include <cstddef>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

// Whether the texts a and b are the same.
bool same_text(const char* a, const char* b) noexcept {
    for (; *a == *b; ++a, ++b)
        if (*a == '\0') return true;
    return false;
}

// Whether the Lua string s of length bytes is the text name. Reads no byte of
// name past its end. Event names are short: a loop beats a library call.
bool is_text(const char* s, std::size_t length, const char* name) noexcept {
    for (std::size_t i = 0; i < length; ++i)
        if (name[i] == '\0' || name[i] != s[i]) return false;
    return name[length] == '\0';
}

}  // namespace

bool push_known_function(lua_State* L, const EventNames& events, const char* name) noexcept {
    for (int i = 0; i < events.count; ++i) {
        const KnownEvent& known = events.known[i];
        if (known.name[0] != name[0]) continue;
        lua_rawgeti(L, LUA_REGISTRYINDEX, known.ref);  // +1 name
        std::size_t length = 0;
        const char* text = lua_type(L, -1) == LUA_TSTRING ? lua_tolstring(L, -1, &length) : nullptr;
        if (text && is_text(text, length, name)) {
            lua_rawget(L, LUA_GLOBALSINDEX);  // -1 name, +1 global
            if (lua_type(L, -1) == LUA_TFUNCTION) return true;
            lua_settop(L, -2);  // -1
            return false;
        }
        lua_settop(L, -2);  // -1
    }
    return false;
}

void remember_name(lua_State* L, EventNames& events, const char* name) {
    if (events.count == kKnownEvents) return;
    const std::size_t length = std::strlen(name);
    if (length >= sizeof events.known[0].name) return;
    for (int i = 0; i < events.count; ++i)
        if (same_text(events.known[i].name, name)) return;
    lua_pushlstring(L, name, length);  // +1
    const int ref = luaL_ref(L, LUA_REGISTRYINDEX);  // -1
    KnownEvent& known = events.known[events.count++];
    known.ref = ref;
    std::memcpy(known.name, name, length + 1);
}
