#include "extension/lua/file_chunk.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#if defined(_WIN32)
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Room for a path as UTF-16, on the stack: Lua may raise while it is in use.
struct WidePath {
    wchar_t text[4096];
};

// Whether path holds a byte above 0x7F and is valid UTF-8 that fits: then wide
// holds it as UTF-16. Otherwise the byte path serves as it is.
bool wide_path(const char* path, WidePath& wide) {
    bool plain = true;
    for (const char* p = path; *p; ++p)
        if (static_cast<unsigned char>(*p) > 0x7F) plain = false;
    return !plain && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide.text,
                                         sizeof wide.text / sizeof wide.text[0]) > 0;
}

struct FileReader {
    std::FILE* f;
    bool extra_line;  // a '#' first line was skipped: give Lua its line break
    char buffer[LUAL_BUFFERSIZE];
};

// The lua_Reader over the open file.
const char* read_file(lua_State*, void* data, std::size_t* size) {
    auto* r = static_cast<FileReader*>(data);
    if (r->extra_line) {
        r->extra_line = false;
        *size = 1;
        return "\n";
    }
    if (std::feof(r->f)) return nullptr;
    *size = std::fread(r->buffer, 1, sizeof r->buffer, r->f);
    return *size > 0 ? r->buffer : nullptr;
}

// [-0, +1, m] luaL_loadfile's message for what failed, replacing the chunk name at
// name_index.
int file_error(lua_State* L, const char* what, int name_index) {
    const char* error = std::strerror(errno);
    const char* name = lua_tostring(L, name_index) + 1;
    lua_pushfstring(L, "cannot %s %s: %s", what, name, error);  // +1
    lua_remove(L, name_index);                                   // -1 name
    return LUA_ERRFILE;
}

// [-1, +1, m] As luaL_loadfile, on the file f opened at wide, with the chunk name
// on top (pushed before the file was opened: it may raise).
int load_wide(lua_State* L, std::FILE* f, const wchar_t* wide) {
    const int name_index = lua_gettop(L);
    FileReader r{f, false, {}};
    int c = std::getc(r.f);
    if (c == '#') {  // a first line for the shell: skipped
        r.extra_line = true;
        while ((c = std::getc(r.f)) != EOF && c != '\n') {
        }
        if (c == '\n') c = std::getc(r.f);
    }
    if (c == LUA_SIGNATURE[0]) {  // a compiled chunk: read in binary mode
        r.f = _wfreopen(wide, L"rb", r.f);
        if (!r.f) return file_error(L, "reopen", name_index);
        while ((c = std::getc(r.f)) != EOF && c != LUA_SIGNATURE[0]) {
        }
        r.extra_line = false;
    }
    std::ungetc(c, r.f);
    const int status = lua_load(L, read_file, &r, lua_tostring(L, -1));  // +1 chunk or error
    const bool failed = std::ferror(r.f) != 0;
    std::fclose(r.f);
    if (failed) {
        lua_settop(L, name_index);  // -1 chunk or error
        return file_error(L, "read", name_index);
    }
    lua_remove(L, name_index);  // -1 chunk name
    return status;
}

}  // namespace

int load_file_chunk(lua_State* L, const char* path) {
    WidePath wide;
    if (!wide_path(path, wide)) return luaL_loadfile(L, path);
    lua_pushfstring(L, "@%s", path);  // +1 chunk name
    std::FILE* f = _wfopen(wide.text, L"r");
    if (!f) {
        lua_settop(L, -2);  // -1 chunk name
        return luaL_loadfile(L, path);
    }
    return load_wide(L, f, wide.text);  // -1 chunk name, +1 chunk or error
}

std::FILE* open_chunk_file(const char* path) {
    WidePath wide;
    if (wide_path(path, wide))
        if (std::FILE* f = _wfopen(wide.text, L"rb")) return f;
    return std::fopen(path, "rb");
}

#else

int load_file_chunk(lua_State* L, const char* path) { return luaL_loadfile(L, path); }

std::FILE* open_chunk_file(const char* path) { return std::fopen(path, "rb"); }

#endif
