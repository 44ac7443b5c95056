#include "extension/error_report.h"

#include <cstdarg>
#include <cstdio>

extern "C" {
#include <lua.h>
}

#include "host/host_contract.h"
#include "host/host_value.h"

namespace {

// A Lua number written the way lua_tolstring writes it, plus room to spare.
constexpr int kNumberText = 48;
constexpr int kFailureText = 320;

}  // namespace

void report_text(const char* text) noexcept {
    HostValue holder(true, 0.0);
    if (text) set_text(holder, text);
    HostCallArg record{};
    to_call_arg(holder, &record);
    HostCallArg result{};
    call_host(HOST_REPORT_ERROR, &record, 1, &result);
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
    switch (lua_type(L, index)) {
    case LUA_TSTRING:
        report_text(lua_tolstring(L, index, nullptr));  // a string: no conversion, no raise
        return;
    case LUA_TNUMBER: {
        // lua_tolstring would allocate a string here; write it ourselves instead.
        char text[kNumberText];
        std::snprintf(text, sizeof text, LUA_NUMBER_FMT, lua_tonumber(L, index));
        report_text(text);
        return;
    }
    default:
        report_text(nullptr);
        return;
    }
}

void report_and_remove_error(lua_State* L) noexcept {
    const int at = lua_gettop(L);
    report_error_value(L, at);
    lua_remove(L, at);  // -1 error
}
