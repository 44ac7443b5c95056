// Reading the HOST file: it runs in the runner's own Lua state, under protection,
// and every way it can be wrong ends in one message instead of a crash.
#include "runner/host_file.h"

#include <cmath>

#include <cstdio>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "extension/lua/file_chunk.h"
#include "runner/host_calls.h"

namespace runner {
namespace {

// Room for "events[123456].values[123456]" and the like.
constexpr int kWhere = 64;

struct ReadJob {
    const char* path;
    HostFile* host;
};

}  // namespace

// [-0, +1, e] Pushes field of the table at t and raises unless its type is type.
// where names the table in the message, kind the type as a game maker calls it.
void push_field(lua_State* L, int t, const char* field, int type, const char* kind, const char* where) {
    lua_getfield(L, t, field);  // +1
    if (lua_isnil(L, -1)) luaL_error(L, "%s has no field '%s'", where, field);
    if (lua_type(L, -1) != type)
        luaL_error(L, "%s.%s must be %s, not %s", where, field, kind, luaL_typename(L, -1));
}

namespace {

// [-0, +1, e] Pushes entry i of the list at t, which must be a table.
void push_entry_table(lua_State* L, int t, int i, const char* where) {
    lua_rawgeti(L, t, i);  // +1
    if (!lua_istable(L, -1)) luaL_error(L, "%s must be a table, not %s", where, luaL_typename(L, -1));
}

}  // namespace

// [-0, +0, e] Raises when the text at index has a NUL byte: host texts end at it.
void refuse_nul(lua_State* L, int index, const char* where) {
    std::size_t length = 0;
    const char* text = lua_tolstring(L, index, &length);
    if (std::strlen(text) != length) luaL_error(L, "%s has a NUL byte: host texts end at their first", where);
}

namespace {

// [-0, +0, e] Reads the list `scripts` of the table at top into host.scripts.
void read_scripts(lua_State* L, int top, HostFile& host) {
    push_field(L, top, "scripts", LUA_TTABLE, "a table", "the table returned");  // +1
    const int list = lua_gettop(L);
    const int n = static_cast<int>(lua_objlen(L, list));
    for (int i = 1; i <= n; ++i) {
        char where[kWhere];
        std::snprintf(where, sizeof where, "scripts[%d]", i);
        push_entry_table(L, list, i, where);  // +1 entry
        const int entry = lua_gettop(L);
        push_field(L, entry, "name", LUA_TSTRING, "a text", where);       // +1 name
        refuse_nul(L, -1, where);
        push_field(L, entry, "index", LUA_TNUMBER, "a number", where);    // +1 index
        push_field(L, entry, "play", LUA_TFUNCTION, "a function", where);  // +1 play
        const double index = lua_tonumber(L, -2);
        if (std::isnan(index)) luaL_error(L, "%s.index is NaN, which no script index can match", where);
        for (std::size_t j = 0; j < host.scripts.size(); ++j)
            if (host.scripts[j].index == index)
                luaL_error(L, "%s.index %f is scripts[%d]'s already", where, index, static_cast<int>(j) + 1);
        const int ref = luaL_ref(L, LUA_REGISTRYINDEX);  // -1 play
        host.scripts.push_back(HostScript{lua_tostring(L, -2), index, ref});
        lua_settop(L, list);  // -2 entry, name, index
    }
    lua_settop(L, list - 1);  // -1 list
}

}  // namespace

// [-0, +0, e] Appends the values of the list at t to values.
void read_values(lua_State* L, int t, const char* event, std::vector<standin::Value>& values) {
    const int n = static_cast<int>(lua_objlen(L, t));
    for (int i = 1; i <= n; ++i) {
        lua_rawgeti(L, t, i);  // +1
        char where[2 * kWhere];  // event's own where, then the value's place
        std::snprintf(where, sizeof where, "%s.values[%d]", event, i);
        if (lua_type(L, -1) == LUA_TNUMBER) {
            values.push_back(standin::Value::number(lua_tonumber(L, -1)));
        } else if (lua_type(L, -1) == LUA_TSTRING) {
            refuse_nul(L, -1, where);
            const char* text = lua_tostring(L, -1);
            values.push_back(*text ? standin::Value::text_of(text) : standin::Value::empty_text());
        } else {
            luaL_error(L, "%s must be a number or a text, not %s", where, luaL_typename(L, -1));
        }
        lua_settop(L, -2);  // -1
    }
}

namespace {

// [-0, +0, e] Reads the list `events` of the table at top into host.events.
void read_events(lua_State* L, int top, HostFile& host) {
    push_field(L, top, "events", LUA_TTABLE, "a table", "the table returned");  // +1
    const int list = lua_gettop(L);
    const int n = static_cast<int>(lua_objlen(L, list));
    for (int i = 1; i <= n; ++i) {
        char where[kWhere];
        std::snprintf(where, sizeof where, "events[%d]", i);
        push_entry_table(L, list, i, where);  // +1 entry
        const int entry = lua_gettop(L);
        if (read_export_call(L, entry, where, host.events)) {
            lua_settop(L, list);  // -1 entry
            continue;
        }
        push_field(L, entry, "name", LUA_TSTRING, "a text", where);     // +1 name
        refuse_nul(L, -1, where);
        push_field(L, entry, "values", LUA_TTABLE, "a table", where);  // +1 values
        host.events.emplace_back();
        host.events.back().name = lua_tostring(L, -2);
        read_values(L, lua_gettop(L), where, host.events.back().values);
        lua_settop(L, list);  // -3 entry, name, values
    }
    lua_settop(L, list - 1);  // -1 list
}

// [-0, +0, e] Reads the optional number field of the table at top, which must be
// 0 or more, into *value, setting *has: time_limit in seconds, memory_limit in
// bytes, for the exports of the same names.
void read_amount(lua_State* L, int top, const char* field, bool* has, double* value) {
    lua_getfield(L, top, field);  // +1
    if (!lua_isnil(L, -1)) {
        if (lua_type(L, -1) != LUA_TNUMBER)
            luaL_error(L, "the table returned.%s must be a number, not %s", field, luaL_typename(L, -1));
        const double amount = lua_tonumber(L, -1);
        if (!(amount >= 0.0)) luaL_error(L, "the table returned.%s must be 0 or more", field);
        *has = true;
        *value = amount;
    }
    lua_settop(L, -2);  // -1
}

// [-0, +0, e] Reads the optional boolean field `sandbox` of the table at top.
void read_sandbox(lua_State* L, int top, HostFile& host) {
    lua_getfield(L, top, "sandbox");  // +1
    if (!lua_isnil(L, -1)) {
        if (lua_type(L, -1) != LUA_TBOOLEAN)
            luaL_error(L, "the table returned.sandbox must be a boolean, not %s", luaL_typename(L, -1));
        host.sandbox = lua_toboolean(L, -1) != 0;
    }
    lua_settop(L, -2);  // -1
}

// [-1, +0, e] Run by lua_cpcall with the job at 1: runs the file and reads the
// table it returns.
int read_job(lua_State* L) {
    auto* job = static_cast<ReadJob*>(lua_touserdata(L, 1));
    lua_settop(L, 0);  // -1 job
    luaL_openlibs(L);
    if (load_file_chunk(L, job->path) != 0) return lua_error(L);  // +1 chunk or error
    lua_call(L, 0, 1);  // -1 chunk, +1 result
    if (!lua_istable(L, 1))
        return luaL_error(L, "%s must return a table with the fields 'scripts' and 'events', not %s", job->path,
                          luaL_typename(L, 1));
    read_scripts(L, 1, *job->host);
    read_events(L, 1, *job->host);
    read_amount(L, 1, "time_limit", &job->host->has_time_limit, &job->host->time_limit);
    read_amount(L, 1, "memory_limit", &job->host->has_memory_limit, &job->host->memory_limit);
    read_sandbox(L, 1, *job->host);
    lua_settop(L, 0);  // -1 result
    return 0;
}

// [-1, +0, -] Takes the error value on top as one line of text.
std::string take_error(lua_State* L) {
    const int type = lua_type(L, -1);
    // A number is turned into text in place: only a lack of memory could fail there.
    std::string text = type == LUA_TSTRING || type == LUA_TNUMBER
                           ? lua_tostring(L, -1)
                           : std::string("(error object is a ") + lua_typename(L, type) + " value)";
    lua_settop(L, -2);  // -1
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    return text;
}

struct PlayJob {
    const HostScript* script;
    const HostCallArg* args;
    int count;
    standin::Value* result;
};

// [-1, +0, e] Run by lua_cpcall with the job at 1: calls the play function with
// the script's arguments and converts what it returns.
int play_job(lua_State* L) {
    auto* job = static_cast<PlayJob*>(lua_touserdata(L, 1));
    lua_settop(L, 0);  // -1 job
    lua_rawgeti(L, LUA_REGISTRYINDEX, job->script->play_ref);  // +1 play
    luaL_checkstack(L, job->count, "too many arguments");
    for (int i = 1; i < job->count; ++i) {
        const HostCallArg& a = job->args[i];
        if (a.kind == HOST_KIND_TEXT)
            lua_pushstring(L, a.text ? a.text : "");  // +1
        else
            lua_pushnumber(L, a.real);  // +1
    }
    lua_call(L, job->count > 0 ? job->count - 1 : 0, 1);  // -(count) play and arguments, +1 result
    switch (lua_type(L, 1)) {
    case LUA_TNIL:
        *job->result = standin::Value::number(0);
        break;
    case LUA_TNUMBER:
        *job->result = standin::Value::number(lua_tonumber(L, 1));
        break;
    case LUA_TSTRING: {
        const char* text = lua_tostring(L, 1);  // a host text ends at its first NUL
        *job->result = *text ? standin::Value::text_of(text) : standin::Value::empty_text();
        break;
    }
    default:
        return luaL_error(L, "play returned %s, not a number or a text", luaL_typename(L, 1));
    }
    lua_settop(L, 0);  // -1 result
    return 0;
}

}  // namespace

bool read_host_file(const char* path, HostFile& host, std::string& message) {
    host.L = luaL_newstate();
    if (!host.L) {
        message = "not enough memory for a Lua state";
        return false;
    }
    ReadJob job{path, &host};
    if (lua_cpcall(host.L, read_job, &job) != 0) {  // +0 or +1 error
        message = take_error(host.L);               // -1 error
        return false;
    }
    return true;
}

bool play_script(HostFile& host, const HostScript& script, const HostCallArg* args, int count,
                 standin::Value& result, std::string& message) {
    PlayJob job{&script, args, count, &result};
    if (lua_cpcall(host.L, play_job, &job) != 0) {  // +0 or +1 error
        message = take_error(host.L);               // -1 error
        return false;
    }
    return true;
}

void close_host_file(HostFile& host) {
    if (host.L) lua_close(host.L);
    host.L = nullptr;
}

}  // namespace runner
