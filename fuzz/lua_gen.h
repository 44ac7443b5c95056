// Random Lua script files for the driver: valid programs that define event
// functions, draw, call host scripts, raise, leave finalizers behind and tamper
// with the globals; programs with syntax errors; and files that are not Lua.
#pragma once
#include <string>
#include <vector>

#include "fuzz/rng.h"

// Global functions the scripts define and script_event calls.
constexpr int kEventFunctions = 6;
std::string event_function_name(int k);

// A Lua string literal holding exactly the bytes of s.
std::string lua_quote(const std::string& s);

// The text of a random script file. forwarders are the names the game registers
// (any bytes); the scripts call them as globals.
std::string random_script(Rng& rng, const std::vector<std::string>& forwarders);
