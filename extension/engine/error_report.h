// Sending failures to the host's error routine. No log is kept.
#pragma once
#include <cstdarg>
#include <cstdint>

#include "host/host_value.h"

struct lua_State;

#if defined(__GNUC__) && !defined(__clang__)
#define VARNEL_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__clang__)
#define VARNEL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VARNEL_PRINTF(fmt, args)
#endif

// Hands text to host_report_error; null reaches the host as the empty text.
void report_text(const char* text) noexcept;

// Reports one of varnel's own failures, worded "<export>: <what>". Texts longer
// than a few hundred bytes are cut.
void report_failure(const char* format, ...) noexcept VARNEL_PRINTF(1, 2);

// A failure's text, formatted as report_failure formats it.
struct FailureText {
    char text[320];
};
FailureText failure_text(const char* format, va_list args) noexcept;

// Hands the text in holder (the empty text when it has none) to host_report_error.
void report_holder(const HostValue& holder) noexcept;

// [-0, +0, -] Reports the Lua error value at index as Lua's own message text,
// worded by error_value_words (error_words.h). May run outside protected mode: a
// number is converted under lua_cpcall, which takes two free stack slots.
void report_error_value(lua_State* L, int index) noexcept;

// [-1, +0, -] Copies the error value on top into holder, a text holder, worded
// as report_error_value words it, and removes it. An export takes its error off
// the stack this way before it calls the host again: a host routine may call an
// export of the same engine, which needs the room the export found.
void take_error_value(lua_State* L, HostValue& holder) noexcept;

// Reports an exception that a host routine raised where no Lua code runs.
void report_host_exception(uint32_t code) noexcept;

// [-0, +1, v] Raises the Lua error for an exception that a host routine raised
// while Lua code runs: the text alone, with no position. Never returns.
int raise_host_exception(lua_State* L, uint32_t code);

