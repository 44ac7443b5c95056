// The HOST file's calls of the exports that give the game a result: an entry of
// `events` with a field `export` names the export, and its other fields the
// arguments the game passes to engine 1:
//
//   {export = "call_text", name = "quest_line", values = {2}}   -- also call_real
//   {export = "run", code = "difficulty = 3"}
//   {export = "global_real", path = "config.volume"}            -- also global_text
//   {export = "global_set_text", path = "player.name", value = "Ann"}  -- also global_set_real
//   {export = "last_error"}
//
// The runner prints each call and what it gave back.
#pragma once
#include <string>
#include <vector>

#include "runner/host_file.h"

struct lua_State;

namespace runner {

// Helpers of the HOST file reader (host_file.cpp), shared with the calls' reader.
// [-0, +1, e] Pushes field of the table at t and raises unless its type is type.
void push_field(lua_State* L, int t, const char* field, int type, const char* kind, const char* where);
// [-0, +0, e] Raises when the text at index has a NUL byte: host texts end at it.
void refuse_nul(lua_State* L, int index, const char* where);
// [-0, +0, e] Appends the values of the list at t to values.
void read_values(lua_State* L, int t, const char* event, std::vector<standin::Value>& values);

// [-0, +0, e] When the events entry at entry has a field `export`, reads the call
// it names into a new element of events and returns true; false (nothing read)
// when it has none. Raises with where in the message when the entry is wrong.
bool read_export_call(lua_State* L, int entry, const char* where, std::vector<HostEvent>& events);

// The line the runner prints for the call of event, as the game makes it.
std::string show_call(const HostEvent& event);

// Makes the call of event on engine id, with the host list handle (set up by
// the caller) when the export takes one, and returns the line the runner prints
// for what it gave back: "  gave ...".
std::string call_and_show_result(const HostEvent& event, double id, double handle);

}  // namespace runner
