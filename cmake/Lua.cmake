# The `lua51` target. Windows: lua5.1.dll, built from the upstream 5.1.5 source with
# its default configuration. Linux: the system's 32-bit liblua5.1.
if(WIN32)
  set(LUA_SRC ${PROJECT_SOURCE_DIR}/third_party/lua-5.1.5/src)
  if(NOT EXISTS ${LUA_SRC}/lua.h)
    message(FATAL_ERROR "Lua source missing at ${LUA_SRC}: run scripts/setup.sh")
  endif()
  set(LUA_FILES lapi lcode ldebug ldo ldump lfunc lgc llex lmem lobject lopcodes lparser
      lstate lstring ltable ltm lundump lvm lzio
      lauxlib lbaselib ldblib liolib lmathlib loslib ltablib lstrlib loadlib linit)
  list(TRANSFORM LUA_FILES PREPEND ${LUA_SRC}/)
  list(TRANSFORM LUA_FILES APPEND .c)
  add_library(lua51 SHARED ${LUA_FILES})
  set_target_properties(lua51 PROPERTIES OUTPUT_NAME lua5.1 PREFIX "" C_STANDARD 99)
  target_compile_definitions(lua51 PRIVATE LUA_BUILD_AS_DLL)
  target_compile_options(lua51 PRIVATE -O2 -msse2 -mfpmath=sse -w)
  target_link_options(lua51 PRIVATE -static)
  target_include_directories(lua51 PUBLIC ${LUA_SRC})
else()
  find_path(LUA_INCLUDE_DIR lua.h PATHS /usr/include/lua5.1 NO_DEFAULT_PATH)
  find_library(LUA_LIBRARY NAMES lua5.1 PATHS /usr/lib/i386-linux-gnu NO_DEFAULT_PATH)
  if(NOT LUA_INCLUDE_DIR OR NOT LUA_LIBRARY)
    message(FATAL_ERROR "32-bit liblua5.1 not found: run scripts/setup.sh")
  endif()
  add_library(lua51 SHARED IMPORTED GLOBAL)
  set_target_properties(lua51 PROPERTIES IMPORTED_LOCATION ${LUA_LIBRARY}
                        INTERFACE_INCLUDE_DIRECTORIES ${LUA_INCLUDE_DIR})
endif()
