#include "extension/engine/error_report.h"

#include <cstdarg>
#include <cstdio>

extern "C" {
#include <lua.h>
}

#include "extension/engine/error_words.h"
#include "host/fp_words.h"
#include "host/host_routines.h"

namespace {

// [-0, +0, -] Stores the error value at index in holder, a text holder, worded as
// error_words.h words it. The message handler has already turned almost every
// error into a string; other values reach here only when it could not (out of
// memory).
void hold_error_value(lua_State* L, int index, HostValue& holder) noexcept {
    ErrorWords words;
    set_text(holder, error_value_words(L, index, words));
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

FailureText failure_text(const char* format, va_list args) noexcept {
    FailureText t;
    ensure_runtime_x87();  // the runtime formats numbers with x87 code
    std::vsnprintf(t.text, sizeof t.text, format, args);
    return t;
}

void report_failure(const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    const FailureText t = failure_text(format, args);
    va_end(args);
    report_text(t.text);
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

void report_host_exception(uint32_t code) noexcept {
    report_text(host_exception_text(code).text);
}

int raise_host_exception(lua_State* L, uint32_t code) {
    lua_pushstring(L, host_exception_text(code).text);  // as it stands: no position, whatever called
    return lua_error(L);
}
