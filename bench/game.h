// A game-like frame run through script_event: entities with vector updates, a
// table sort, string building and host calls, each part timed on its own and
// together, plus what making and closing an engine costs.
#pragma once

// Prints one line per part, "game PART MS", milliseconds per frame (median of
// frames); scripts/bench.sh sets two engines' lines side by side. False when a
// frame reported an error or left a host call's cell or string behind.
bool run_game_frames(int frames);
