#include "extension/engine/error_report.h"

#include <cstdarg>
#include <cstdio>

extern "C" {
#include <lua.h>
}

#include "host/host_routines.h"

namespace {

// A Lua number as text (LUAI_MAXNUMBER2STR is 32), plus room to spare.
constexpr int kNumberText = 48;
constexpr int kFailureText = 320;

struct NumberText {
    double number;
    char text[kNumberText];
};

// [-1, +0, m] Run by lua_cpcall: writes the number as Lua itself writes it (the
// C runtime that Lua was built with may differ from ours in exponent digits).
int number_to_text(lua_State* L) {
    auto* job = static_cast<NumberText*>(lua_touserdata(L, 1));
    lua_pushnumber(L, job->number);                 // +1
    std::snprintf(job->text, sizeof job->text, "%s", lua_tolstring(L, -1, nullptr));
    return 0;
}

// [-0, +0, -] Stores the error value at index in holder, a text holder, as Lua's
// own message text: a string as it is, a number as Lua writes it, anything else
// as "(error object is a TYPE value)". The message handler has already turned
// almost every error into a string; other values reach here only when it could
// not (out of memory).
void hold_error_value(lua_State* L, int index, HostValue& holder) noexcept {
    switch (lua_type(L, index)) {
    case LUA_TSTRING:
        set_text(holder, lua_tolstring(L, index, nullptr));  // a string: no conversion, no raise
        return;
    case LUA_TNUMBER: {
        // Converting in place would allocate outside protection: convert a copy
        // under lua_cpcall, and format it ourselves only if even that fails.
        NumberText job{lua_tonumber(L, index), {}};
        if (lua_cpcall(L, number_to_text, &job) != 0) {  // +0 or +1 error
            lua_settop(L, -2);                             // -1 error
            std::snprintf(job.text, sizeof job.text, LUA_NUMBER_FMT, job.number);
        }
        set_text(holder, job.text);
        return;
    }
    default: {
        char text[64];
        std::snprintf(text, sizeof text, "(error object is a %s value)", lua_typename(L, lua_type(L, index)));
        set_text(holder, text);
        return;
    }
    }
}

}  // namespace

void report_holder(const HostValue& holder) noexcept {
    host_report_error(holder);  // an exception there has nowhere to be reported
}

void report_text(const char* text) noexcept {
    HostValue holder(true, 0.0);
    if (text) set_text(holder, text);
    report_holder(holder);
}

void report_failure(const char* format, ...) noexcept {
    char text[kFailureText];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    report_text(text);
}

void report_error_value(lua_State* L, int index) noexcept {
    HostValue holder(true, 0.0);
    hold_error_value(L, index, holder);
    report_holder(holder);
}

void take_error_value(lua_State* L, HostValue& holder) noexcept {
    hold_error_value(L, -1, holder);
    lua_settop(L, -2);  // -1 error
}

void report_and_remove_error(lua_State* L) noexcept {
    HostValue holder(true, 0.0);
    take_error_value(L, holder);  // -1 error
    report_holder(holder);
}

void report_host_exception(uint32_t code) noexcept {
    report_failure(HOST_EXCEPTION_FORMAT, static_cast<unsigned>(code));
}

int raise_host_exception(lua_State* L, uint32_t code) {
    char text[64];  // Lua's own formatting has no hexadecimal
    std::snprintf(text, sizeof text, HOST_EXCEPTION_FORMAT, static_cast<unsigned>(code));
    lua_pushstring(L, text);  // as it stands: no position, whatever called
    return lua_error(L);
}
