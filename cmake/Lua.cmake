# The `lua51` target. Windows: lua5.1.dll, built from the upstream 5.1.5 source with
# its default configuration. Linux: the system's 32-bit liblua5.1, except under the
# sanitizers, where the same upstream source is built with API checks turned on so
# that a misuse of the Lua stack aborts the test instead of passing unseen.
#
# VARNEL_ENGINE=luajit builds on LuaJIT instead: see LuaJIT.cmake.
# Either way, LUA_STANDALONE is the engine's standalone interpreter and
# LUA_ENGINE_FILE the library that ships beside varnel (empty: the system's).
set(VARNEL_ENGINE lua CACHE STRING "The Lua engine: lua (Lua 5.1.5) or luajit")
set_property(CACHE VARNEL_ENGINE PROPERTY STRINGS lua luajit)
if(VARNEL_ENGINE STREQUAL "luajit")
  include(${CMAKE_CURRENT_LIST_DIR}/LuaJIT.cmake)
  return()
elseif(NOT VARNEL_ENGINE STREQUAL "lua")
  message(FATAL_ERROR "VARNEL_ENGINE must be lua or luajit, not ${VARNEL_ENGINE}")
endif()

find_program(LUA_STANDALONE lua5.1)
if(NOT LUA_STANDALONE)
  message(FATAL_ERROR "lua5.1 missing: run scripts/setup.sh")
endif()
set(LUA_ENGINE_FILE)
set(LUA_SRC ${PROJECT_SOURCE_DIR}/third_party/lua-5.1.5/src)
if(WIN32 OR VARNEL_SANITIZE)
  if(NOT EXISTS ${LUA_SRC}/lua.h)
    message(FATAL_ERROR "Lua source missing at ${LUA_SRC}: run scripts/setup.sh")
  endif()
  set(LUA_FILES lapi lcode ldebug ldo ldump lfunc lgc llex lmem lobject lopcodes lparser
      lstate lstring ltable ltm lundump lvm lzio
      lauxlib lbaselib ldblib liolib lmathlib loslib ltablib lstrlib loadlib linit)
  list(TRANSFORM LUA_FILES PREPEND ${LUA_SRC}/)
  list(TRANSFORM LUA_FILES APPEND .c)
  add_library(lua51 SHARED ${LUA_FILES})
  set_target_properties(lua51 PROPERTIES OUTPUT_NAME lua5.1 C_STANDARD 99)
  target_include_directories(lua51 PUBLIC ${LUA_SRC})
  target_compile_options(lua51 PRIVATE -O2 -msse2 -mfpmath=sse -w)
  if(WIN32)
    set(LUA_ENGINE_FILE $<TARGET_FILE:lua51>)
    set_target_properties(lua51 PROPERTIES PREFIX "")
    # Lua's licence asks for its copyright notice in every copy.
    add_version_resource(lua51
      DESCRIPTION "Lua 5.1.5, built for varnel"
      COPYRIGHT "Copyright (C) 1994-2012 Lua.org, PUC-Rio. Lua by R. Ierusalimschy, L. H. de Figueiredo and W. Celes"
      COMPANY "Lua.org, PUC-Rio")
    target_compile_definitions(lua51 PRIVATE LUA_BUILD_AS_DLL)
    # Lua's calls into the C runtime's x87 code go through wrappers that load the
    # runtime's x87 word first: varnel leaves the host's in place until then
    # (host/fp_words.h).
    target_sources(lua51 PRIVATE ${PROJECT_SOURCE_DIR}/lua_x87/lua_x87.c)
    target_include_directories(lua51 PRIVATE ${PROJECT_SOURCE_DIR})
    set_source_files_properties(${LUA_FILES} PROPERTIES
      COMPILE_OPTIONS "-include;${PROJECT_SOURCE_DIR}/lua_x87/lua_x87.h")
    target_link_options(lua51 PRIVATE -static)
  else()
    target_compile_definitions(lua51 PRIVATE LUA_USE_LINUX LUA_USE_APICHECK)
    target_link_libraries(lua51 PRIVATE dl m)
  endif()
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
