#include "extension/exports/text_result.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <lua.h>
}

#include "extension/engine/error_words.h"
#include "host/fp_words.h"

namespace {

// The process-wide buffer (text_result.h): never freed, grown on demand.
char* g_buffer = nullptr;
std::size_t g_capacity = 0;

}  // namespace

const char* empty_text_result() noexcept { return ""; }

const char* text_result(const char* text, std::size_t length) noexcept {
    const void* nul = std::memchr(text, '\0', length);
    if (nul) length = static_cast<std::size_t>(static_cast<const char*>(nul) - text);
    if (length + 1 > g_capacity) {
        const std::size_t capacity = length + 1 > 256 ? length + 1 : 256;
        char* grown = static_cast<char*>(std::realloc(g_buffer, capacity));
        if (!grown) return empty_text_result();
        g_buffer = grown;
        g_capacity = capacity;
    }
    std::memcpy(g_buffer, text, length);
    g_buffer[length] = '\0';
    return g_buffer;
}

const char* text_result_of(lua_State* L, int index) noexcept {
    switch (lua_type(L, index)) {
        case LUA_TSTRING: {
            std::size_t length = 0;
            const char* s = lua_tolstring(L, index, &length);  // a string: no conversion, no raise
            return text_result(s, length);
        }
        case LUA_TNUMBER: {
            // A whole number below 1e14 is written without an exponent, the same
            // by every C runtime: written here, without entering Lua.
            const double x = lua_tonumber(L, index);
            if (x == std::floor(x) && std::fabs(x) < 1e14) {
                char digits[24];
                ensure_runtime_x87();  // the runtime formats numbers with x87 code
                const int length = std::snprintf(digits, sizeof digits, LUA_NUMBER_FMT, x);
                return text_result(digits, static_cast<std::size_t>(length));
            }
            ErrorWords words;  // Lua's own writing of a number, under protection
            const char* s = error_value_words(L, index, words);
            return text_result(s, std::strlen(s));
        }
        case LUA_TBOOLEAN:
            return lua_toboolean(L, index) ? text_result("true", 4) : text_result("false", 5);
        default:
            return empty_text_result();
    }
}

double real_result_of(lua_State* L, int index) noexcept {
    switch (lua_type(L, index)) {
        case LUA_TNUMBER:
        case LUA_TSTRING:  // converted into a copy: the string stays as it is
            return lua_tonumber(L, index);
        case LUA_TBOOLEAN:
            return lua_toboolean(L, index) ? 1.0 : 0.0;
        default:
            return 0.0;
    }
}
