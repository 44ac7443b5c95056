// Loading a Lua file by path, as luaL_loadfile does, for load and for varnel-run's
// HOST file. On Windows a path is also tried as UTF-8 through the wide-character
// file API, so that names outside the system's code page open; a path that does
// not open that way is opened as luaL_loadfile opens it, bytes as they are.
#pragma once
#include <cstdio>

struct lua_State;

// [-0, +1, m] Compiles the file at path and pushes it as a function, or pushes
// the error message and returns its status, with luaL_loadfile's messages and
// chunk name ("@path").
int load_file_chunk(lua_State* L, const char* path);

// The file at path opened for reading in binary mode, the way load_file_chunk
// finds it (on Windows the UTF-8 name first, then the bytes as they are), or null.
std::FILE* open_chunk_file(const char* path);
