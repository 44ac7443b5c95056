// Calls by name with a host list: a global Lua function called with the entries
// of a host list as its arguments, as script_event, call_real and call_text do.
//
// The list is read once, entry by entry, and let go with host_list_done exactly
// once whatever happens: an unknown engine, a list too long for the stack, an
// exception raised by a list routine, or an error in the call. Every failure is
// reported once, worded with the export's name, and kept as the engine's last
// error.
#pragma once

struct lua_State;

// [-1, +0, -] Takes the function's first result off the top of the stack and
// stores what the export gives back in *out. Runs in or out of protected mode:
// it must not raise.
using TakeResult = void (*)(lua_State* L, void* out);

// [-0, +0, -] on the engine of id. Calls the global function name with the
// entries of list; on success take stores its first result in out and true is
// returned. False when the call failed (already reported); out may then hold
// anything. A global that is not a function (nor has a __call metamethod) is
// reported by name: "attempt to call global 'name' (a nil value)".
bool call_with_list(const char* export_name, double id, const char* name, double list, TakeResult take,
                    void* out) noexcept;
