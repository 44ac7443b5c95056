// How an error value is worded for the host: the one place. The message handler
// (error_trace.h) words what it catches with it, and the report path
// (error_report.h) what reaches it unworded.
#pragma once

struct lua_State;

// Room for the words of an error value that is not a string.
struct ErrorWords {
    char text[64];  // a Lua number as text (LUAI_MAXNUMBER2STR is 32), or the type sentence
};

// [-0, +0, -] Lua's own message text for the error value at index, leaving
// __tostring aside: a string as it is (valid while the value stays on the
// stack), a number as Lua writes it, anything else "(error object is a TYPE
// value)", the last two written into words. Allocates nothing in Lua outside
// protected mode, so it may run anywhere: a number is converted under
// lua_cpcall, which takes two free stack slots, and formatted here only if even
// that fails.
const char* error_value_words(lua_State* L, int index, ErrorWords& words) noexcept;
