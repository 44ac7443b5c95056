// The HOST file of varnel-run: a Lua file that stands in for the game. It runs in
// a Lua state of the runner's own, never in the engine under test, and returns
//
//   return {
//     scripts = { {name = "host_add", index = 1, play = function(...) ... end}, ... },
//     events  = { {name = "on_frame", values = {1, 4.5, "apple"}}, ... },
//     sandbox = true,    -- optional: the game calls sandbox(1) first
//     time_limit = 0.5,  -- optional: the game calls time_limit(1, 0.5) first
//     memory_limit = 8e6, -- optional: the game calls memory_limit(1, 8e6) first
//   }
//
// scripts: the host scripts the game registers, in order (a `play` function takes
// the script's arguments and returns a number or a text). events: the events the
// game fires, in order, each with the values of its host list (numbers and texts;
// "" is the empty text). An entry of events with a field `export` makes the game
// call that export instead (host_calls.h): call_real and call_text (name, values),
// run (code), global_real and global_text (path), global_set_real and
// global_set_text (path, value), last_error.
#pragma once
#include <string>
#include <vector>

#include "host/host_call_arg.h"
#include "standin/standin.h"

struct lua_State;

namespace runner {

struct HostScript {
    std::string name;
    double index;
    int play_ref;  // the play function, in the HOST state's registry
};

struct HostEvent {
    std::string name;
    std::vector<standin::Value> values;
    std::string export_name = "script_event";  // the export the game calls
    std::string text;                          // its code or path
    standin::Value value;                      // the value global_set_real and global_set_text set
};

struct HostFile {
    lua_State* L = nullptr;  // the runner's own Lua state
    std::vector<HostScript> scripts;
    std::vector<HostEvent> events;
    bool has_time_limit = false;
    double time_limit = 0.0;  // seconds, when has_time_limit
    bool has_memory_limit = false;
    double memory_limit = 0.0;  // bytes, when has_memory_limit
    bool sandbox = false;       // the engine is sandboxed
};

// Runs the HOST file at path and reads what it returned into host. False, with
// one line in message, when the file cannot be run or is not a HOST file.
bool read_host_file(const char* path, HostFile& host, std::string& message);

// Plays script with the count records of a host script call (args[0] is the
// script index, the script's own arguments follow). False, with one line in
// message, when the play function raised or returned something else than a
// number or a text.
bool play_script(HostFile& host, const HostScript& script, const HostCallArg* args, int count,
                 standin::Value& result, std::string& message);

void close_host_file(HostFile& host);

}  // namespace runner
