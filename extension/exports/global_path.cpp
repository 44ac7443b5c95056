#include "extension/exports/global_path.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "host/fp_words.h"

namespace {

// Digits of a part read as a number: more could not be held exactly.
constexpr std::size_t kMaxDigits = 15;

// The end of the part that starts at part: the next dot or the end of the text.
const char* part_end(const char* part) noexcept {
    while (*part != '\0' && *part != '.') ++part;
    return part;
}

bool is_whole_number(const char* part, std::size_t length) noexcept {
    if (length == 0 || length > kMaxDigits) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (part[i] < '0' || part[i] > '9') return false;
    return true;
}

// [-0, +1, m] Pushes the key a part stands for.
void push_key(lua_State* L, const char* part, const char* end) {
    const std::size_t length = static_cast<std::size_t>(end - part);
    if (!is_whole_number(part, length)) {
        lua_pushlstring(L, part, length);  // +1
        return;
    }
    char digits[kMaxDigits + 1];
    std::memcpy(digits, part, length);
    digits[length] = '\0';
    ensure_runtime_x87();  // the runtime parses numbers with x87 code
    lua_pushnumber(L, std::strtod(digits, nullptr));  // +1
}

// [-0, +0, -] Whether the value at index can be indexed through event
// ("__index" or "__newindex"): a table, or a value with that metamethod.
bool can_index(lua_State* L, int index, const char* event) noexcept {
    if (lua_type(L, index) == LUA_TTABLE) return true;
    if (!luaL_getmetafield(L, index, event)) return false;  // +1 metamethod, or +0
    lua_settop(L, -2);  // -1
    return true;
}

// [-1, +1, e] Replaces the container on top with its value at the part.
void step_into(lua_State* L, const char* part, const char* end) {
    push_key(L, part, end);  // +1 key
    lua_gettable(L, -2);     // -1 key, +1 value
    lua_remove(L, -2);       // -1 container
}

}  // namespace

int read_path(lua_State* L, void* path) {
    const char* part = static_cast<const char*>(path);
    lua_pushvalue(L, LUA_GLOBALSINDEX);  // +1 container
    for (;;) {
        const char* end = part_end(part);
        if (!can_index(L, -1, "__index")) {
            lua_settop(L, -2);  // -1 container
            lua_pushnil(L);     // +1 no value
            return 1;
        }
        step_into(L, part, end);  // -1 container, +1 value
        if (*end == '\0') return 1;
        part = end + 1;
    }
}

int set_path(lua_State* L, void* data) {
    PathJob& job = *static_cast<PathJob*>(data);
    const char* part = job.path;
    const char* end = part_end(part);
    lua_pushvalue(L, LUA_GLOBALSINDEX);  // +1 container
    while (*end != '\0') {
        step_into(L, part, end);  // -1 container, +1 value
        part = end + 1;
        const char* event = *part_end(part) == '\0' ? "__newindex" : "__index";
        if (!can_index(L, -1, event)) {
            job.set.failed = static_cast<std::size_t>(end - job.path);
            job.set.type = luaL_typename(L, -1);  // a name Lua keeps, valid after the pop
            lua_settop(L, -2);  // -1 value
            return 0;
        }
        end = part_end(part);
    }
    push_key(L, part, end);  // +1 key
    if (job.set.is_text)
        lua_pushstring(L, job.set.text ? job.set.text : "");  // +1 value
    else
        lua_pushnumber(L, job.set.real);  // +1 value
    lua_settable(L, -3);  // -2 key and value
    lua_settop(L, -2);    // -1 container
    return 0;
}
