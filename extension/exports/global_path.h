// Dotted paths into an engine's globals, as global_real, global_text,
// global_set_real and global_set_text read and set them: `difficulty`,
// `config.volume`, `enemies.2.hp`. Each dot-separated part indexes the value
// before it, starting from the globals table; a part that is a whole decimal
// number indexes with that number, any other part (the empty one too) with the
// string. Indexing goes through metamethods.
#pragma once
#include <cstddef>

struct lua_State;

// What setting a path needs besides the path: the value, and what went wrong.
struct PathSet {
    bool is_text;
    double real;
    const char* text;    // the value when is_text; null sets the empty string
    std::size_t failed;  // when a part on the way cannot take the next one: the
                         // length of the path up to it, else 0
    const char* type;    // then the type of the value that part holds
};

// [-0, +1, e] Run as a job with the path: pushes the value at the path, or nil
// when a part on the way cannot be indexed (neither a table nor with __index).
int read_path(lua_State* L, void* path);

// [-0, +0, e] Run as a job with a PathJob: sets the value at the path, unless a
// part before the last holds a value that cannot be indexed (or, the last of
// them, assigned to: neither a table nor with __newindex); then nothing is set
// and set.failed tells which.
struct PathJob {
    const char* path;
    PathSet set;
};
int set_path(lua_State* L, void* job);
