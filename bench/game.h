// A game-like frame run through script_event: entities with vector updates, a
// table sort, string building and host calls, each part timed on its own and
// together, plus what making and closing an engine costs.
#pragma once

// Prints one line per part, "game PART MS", milliseconds per frame (median of
// frames); scripts/bench.sh sets two engines' lines side by side. False when a
// frame reported an error or left a host call's cell or string behind.
bool run_game_frames(int frames);

// The game's Lua source: game_entities, game_sorts, game_strings, game_host (which
// calls game_host_call and draw_text) and game_frame, all four.
extern const char kGameSource[];

// The counting allocator's cost (extension/limits/memory_cap.h) on the frame's
// Lua parts, run in two plain states of the engine library: one made by
// luaL_newstate, one by lua_newstate with the counting allocator, as varnel makes
// its engines. Prints their ms per frame and the ratio. False when either fails.
bool run_allocator_cost(int frames);
