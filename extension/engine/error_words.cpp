#include "extension/engine/error_words.h"

#include <cstdio>

extern "C" {
#include <lua.h>
}

#include "host/fp_words.h"

namespace {

struct NumberText {
    double number;
    char* text;
    std::size_t size;
};

// [-1, +0, m] Run by lua_cpcall: writes the number as Lua itself writes it (the
// C runtime that Lua was built with may differ from ours in exponent digits).
int number_to_text(lua_State* L) {
    auto* job = static_cast<NumberText*>(lua_touserdata(L, 1));
    lua_pushnumber(L, job->number);  // +1
    std::snprintf(job->text, job->size, "%s", lua_tolstring(L, -1, nullptr));
    return 0;
}

}  // namespace

const char* error_value_words(lua_State* L, int index, ErrorWords& words) noexcept {
    const int type = lua_type(L, index);
    if (type == LUA_TSTRING) return lua_tolstring(L, index, nullptr);  // a string: no conversion, no raise
    if (type == LUA_TNUMBER) {
        // Converting in place would allocate outside protection: convert a copy.
        NumberText job{lua_tonumber(L, index), words.text, sizeof words.text};
        if (lua_cpcall(L, number_to_text, &job) != 0) {  // +0 or +1 error
            lua_settop(L, -2);                             // -1 error
            ensure_runtime_x87();  // the runtime formats numbers with x87 code
            std::snprintf(words.text, sizeof words.text, LUA_NUMBER_FMT, job.number);
        }
        return words.text;
    }
    std::snprintf(words.text, sizeof words.text, "(error object is a %s value)", lua_typename(L, type));
    return words.text;
}
