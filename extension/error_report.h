// Sending failures to the host's error routine. No log is kept.
#pragma once

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

// [-0, +0, -] Reports the Lua error value at index as Lua's own message text: a
// string as it is, a number as Lua writes it, anything else as the empty text.
// Allocates nothing in Lua, so it may run outside protected mode.
void report_error_value(lua_State* L, int index) noexcept;

// [-1, +0, -] Reports the error value on top and removes it. A host routine that
// reached back into the same engine meanwhile may have left values above it;
// they stay.
void report_and_remove_error(lua_State* L) noexcept;
