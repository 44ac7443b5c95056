// The text an export hands back to the host (call_text, global_text,
// last_error): a pointer to NUL-terminated bytes that stay valid until the next
// call of any varnel export. The host copies them at once, as its
// external-function mechanism does.
//
// Process-wide state: one buffer for the whole process, overwritten by the next
// export that returns a text, whatever its engine. It exists because a text
// result outlives the export that made it and the host frees nothing it is
// handed; one buffer keeps that to a single block, grown as needed and never
// freed. An export writes it last, after every host routine it calls, so a
// nested export's text never replaces the one its caller returns.
#pragma once
#include <cstddef>

struct lua_State;

// The empty text: valid forever.
const char* empty_text_result() noexcept;

// Copies the first length bytes of text, up to the first NUL among them, into
// the buffer and returns it. When no memory can be had, the empty text.
const char* text_result(const char* text, std::size_t length) noexcept;

// [-0, +0, -] The value at index as a text result, as call_text and global_text
// hand it back: a string as it is (to its first NUL), a number as Lua's tostring
// writes it, true and false as those words; anything else the empty text.
const char* text_result_of(lua_State* L, int index) noexcept;

// [-0, +0, -] The value at index as a real result, as call_real and global_real
// hand it back: a number as it is, true 1 and false 0, a string Lua reads as a
// number (tonumber) that number; anything else 0.
double real_result_of(lua_State* L, int index) noexcept;
