# The `lua51` target on the LuaJIT engine (VARNEL_ENGINE=luajit): LuaJIT 2.1 from
# Debian's source (scripts/setup.sh puts it in deps/luajit), built with its own
# makefile in the build tree. Windows: lua5.1.dll, a drop-in for the default
# engine's DLL, and luajit.exe; Linux: libluajit-5.1.so.2 and luajit.
#
# varnel is compiled against Lua 5.1.5's headers on every engine: the binary is the
# same, and only the engine library beside it differs.
#
# Five patches of ours: luajit-finalizers.patch keeps a script's finalizers from
# nesting without bound on the C stack (a crash) or from keeping lua_close busy
# forever; luajit-trace-exit-gc.patch, for builds with the JIT compiler, rethrows a
# finalizer's error from the interpreter instead of unwinding through the trace
# exit handler (a crash on Linux); luajit-cstack.patch bounds how deeply calls
# nest on the C stack. LuaJIT counts none of the nesting Lua 5.1.5 counts: a
# metamethod or callback that calls back through C (print with __tostring = print,
# string.gsub with a function calling string.gsub, coroutine.wrap(f)() inside f)
# went on until the C stack overflowed (the process ended), and tostring with
# __tostring = tostring tail-called itself for ever. Now every VM entry from C
# (lua_call, lua_pcall, metamethods called from C, error handlers, resumes) checks
# the nesting of C frames against LUAI_MAXCCALLS (200, as Lua 5.1.5) and raises
# "C stack overflow"; coroutine.resume and the functions coroutine.wrap makes
# resume through lua_resume in C, where that is counted, and a C function as
# __tostring is called rather than tail-called;
# luajit-oom.patch is for an engine at its memory cap: a resumed coroutine's stack
# grows under protection, so that running out of memory raises on the resuming
# thread instead of unwinding one that is not running, the string table's
# resize, which collection steps make, is skipped instead of raising there, and
# an error raised inside a fast function's own code (tostring of a number out of
# memory) is pushed above that function's frame, not where the stack's top was
# last left, which may be below it, over the frames of the Lua functions that
# called it (a crash unwinding them); and luaL_loadfile makes the chunk name
# before it opens the file, not after: at the cap the name could not be made and
# the open file was never closed (after about 500 such loads on Windows, no file
# opened any more).
#
# luajit-x87.patch is for varnel's floating-point words: varnel leaves the
# host's x87 control word and MXCSR in place while it works, and the engine loads
# the C runtime's x87 word itself before its x87 code (host/fp_words.h). LuaJIT
# is SSE2 code except for the C runtime's math functions, which it calls from
# its virtual machine, its compiled code and its C code (linked through
# wrappers: lua_x87/lua_x87.c), math.ldexp's fscale, and 64-bit conversions in
# C (string.format's %d and %x, file:seek, the compiler's folding). The patch
# loads the runtime's word before each of the last two, from
# host/runtime_x87.h, which every LuaJIT source includes first; and its
# exception handler passes a floating-point trap on to varnel's without
# walking frames the trap may have left half made.
#
# The JIT compiler is left out by default; VARNEL_LUAJIT_JIT builds it in (the
# *-luajit-jit presets and the -luajit package). Hooks do not fire in compiled code:
# a time limit turns it off for its engine (docs/engines.md).
# The ffi module lets a script call any C function: left out unless VARNEL_LUAJIT_FFI.
option(VARNEL_LUAJIT_JIT "LuaJIT engine: build the JIT compiler in (hooks, finalizer faults: see docs/engines.md)" OFF)
option(VARNEL_LUAJIT_FFI "LuaJIT engine: build the ffi module in (scripts may then call any C function)" OFF)

set(LUAJIT_SOURCE ${PROJECT_SOURCE_DIR}/deps/luajit)
if(NOT EXISTS ${LUAJIT_SOURCE}/src/luajit.h)
  message(FATAL_ERROR "LuaJIT source missing at ${LUAJIT_SOURCE}: run scripts/setup.sh")
endif()
if(VARNEL_SANITIZE)
  message(FATAL_ERROR "the LuaJIT engine has no sanitizer preset")
endif()

set(LUAJIT_BUILD ${CMAKE_BINARY_DIR}/luajit)
set(luajit_cflags)
if(NOT VARNEL_LUAJIT_FFI)
  list(APPEND luajit_cflags -DLUAJIT_DISABLE_FFI)
endif()
if(NOT VARNEL_LUAJIT_JIT)
  list(APPEND luajit_cflags -DLUAJIT_DISABLE_JIT)
endif()
list(APPEND luajit_cflags -include ${PROJECT_SOURCE_DIR}/host/runtime_x87.h)
list(JOIN luajit_cflags " " luajit_cflags)

# Its build tool (buildvm, minilua) runs here and must be 32-bit like the target.
# Its warnings are LuaJIT's own business, as Lua's are (-w in Lua.cmake).
# It runs on its own, without the parallel make's job server around it (which
# it could not use, and would warn about).
set(luajit_make ${CMAKE_COMMAND} -E env MAKEFLAGS= make -C ${LUAJIT_BUILD}/src "HOST_CC=gcc -m32"
    "XCFLAGS=${luajit_cflags}" CCWARN=-w Q=@)
set(luajit_resource)
set(luajit_x87)
set(luajit_x87_object)
if(WIN32)
  # lua5.1.dll's version resource names LuaJIT and its copyright (its licence asks
  # for the notice in every copy; the notice file ships beside it, cmake/Package.cmake).
  # Compiled here and linked in through LuaJIT's makefile.
  file(STRINGS ${LUAJIT_SOURCE}/src/luajit.h luajit_version REGEX "^#define LUAJIT_VERSION[ \t]")
  string(REGEX REPLACE ".*\"(.*)\".*" "\\1" luajit_version "${luajit_version}")
  file(STRINGS ${LUAJIT_SOURCE}/COPYRIGHT luajit_copyright REGEX "^Copyright .*Mike Pall" LIMIT_COUNT 1)
  string(REPLACE " All rights reserved." "" luajit_copyright "${luajit_copyright}")
  if(VARNEL_LUAJIT_JIT)
    set(luajit_kind "with its JIT compiler")
  else()
    set(luajit_kind "its interpreter alone")
  endif()
  set(luajit_rc ${CMAKE_BINARY_DIR}/lua51_version.rc)
  set(luajit_resource ${CMAKE_BINARY_DIR}/lua51_version.o)
  configure_version_resource(${luajit_rc} NAME lua5.1 FILETYPE VFT_DLL
    DESCRIPTION "${luajit_version}, ${luajit_kind}, built for varnel"
    COPYRIGHT "${luajit_copyright} Portions Copyright (C) 1994-2012 Lua.org, PUC-Rio"
    COMPANY "luajit.org")
  add_custom_command(OUTPUT ${luajit_resource}
    COMMAND ${CMAKE_RC_COMPILER} -O coff -i ${luajit_rc} -o ${luajit_resource}
    DEPENDS ${luajit_rc} ${PROJECT_SOURCE_DIR}/cmake/version.rc.in
    VERBATIM)
  # The wrappers, and the export that tells varnel the engine loads the x87 word
  # itself. The ffi module converts to and from 64-bit integers all over: with it,
  # varnel switches the words at the boundary as for any other engine.
  if(NOT VARNEL_LUAJIT_FFI)
    set(luajit_x87_object ${CMAKE_BINARY_DIR}/luajit_x87.o)
    set(x87_wrapped pow fmod exp log log10 sin cos tan asin acos atan atan2 sinh cosh tanh sqrt ldexp
        __mingw_vfscanf)
    list(TRANSFORM x87_wrapped PREPEND --wrap=)
    list(JOIN x87_wrapped "," x87_wrapped)
    add_custom_command(OUTPUT ${luajit_x87_object}
      COMMAND ${CMAKE_C_COMPILER} -O2 -march=i686 -msse -msse2 -mfpmath=sse -Wall -Wextra
              -DLX_LINKER_WRAP -I${PROJECT_SOURCE_DIR} -c ${PROJECT_SOURCE_DIR}/lua_x87/lua_x87.c -o ${luajit_x87_object}
      DEPENDS ${PROJECT_SOURCE_DIR}/lua_x87/lua_x87.c ${PROJECT_SOURCE_DIR}/host/runtime_x87.h
      VERBATIM)
    set(luajit_x87 "${luajit_x87_object} -Wl,${x87_wrapped}")
  endif()
  # No libgcc DLL imported: neither Wine nor a player has one. The win32 thread
  # model, like everything else (cmake/toolchain-mingw-i686.cmake).
  list(APPEND luajit_make BUILDMODE=dynamic CROSS=i686-w64-mingw32- CC=gcc-win32 TARGET_SYS=Windows
       TARGET_DLLNAME=lua5.1.dll TARGET_LDFLAGS=-static-libgcc
       "TARGET_SHLDFLAGS=-static-libgcc ${luajit_resource} ${luajit_x87}")
  set(LUAJIT_LIBRARY lua5.1.dll)
  set(LUAJIT_LINK ${LUAJIT_BUILD}/src/libluajit-5.1.dll.a)
  set(LUAJIT_PROGRAM luajit.exe)
else()
  # The interpreter links the engine in statically: it needs no search path.
  list(APPEND luajit_make BUILDMODE=mixed "CC=gcc -m32")
  set(LUAJIT_LIBRARY libluajit-5.1.so.2)
  set(LUAJIT_LINK ${LUAJIT_BUILD}/src/libluajit.so)  # its soname is LUAJIT_LIBRARY
  set(LUAJIT_PROGRAM luajit)
endif()
set(built_library ${LUAJIT_BUILD}/src/${LUAJIT_LIBRARY})
if(NOT WIN32)
  set(built_library ${LUAJIT_BUILD}/src/libluajit.so)
endif()

file(GLOB_RECURSE luajit_inputs CONFIGURE_DEPENDS ${LUAJIT_SOURCE}/src/*.c ${LUAJIT_SOURCE}/src/*.h
     ${LUAJIT_SOURCE}/src/*.dasc ${LUAJIT_SOURCE}/src/Makefile)
set(LUAJIT_OUTPUTS ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${LUAJIT_LIBRARY} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${LUAJIT_PROGRAM})
set(luajit_products ${LUAJIT_OUTPUTS} ${LUAJIT_LINK})
list(REMOVE_DUPLICATES luajit_products)
add_custom_command(OUTPUT ${luajit_products}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${LUAJIT_BUILD}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${LUAJIT_SOURCE}/src ${LUAJIT_BUILD}/src
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${LUAJIT_SOURCE}/dynasm ${LUAJIT_BUILD}/dynasm
  COMMAND patch -s -p1 -d ${LUAJIT_BUILD} -i ${CMAKE_CURRENT_LIST_DIR}/luajit-finalizers.patch
  COMMAND patch -s -p1 -d ${LUAJIT_BUILD} -i ${CMAKE_CURRENT_LIST_DIR}/luajit-trace-exit-gc.patch
  COMMAND patch -s -p1 -d ${LUAJIT_BUILD} -i ${CMAKE_CURRENT_LIST_DIR}/luajit-cstack.patch
  COMMAND patch -s -p1 -d ${LUAJIT_BUILD} -i ${CMAKE_CURRENT_LIST_DIR}/luajit-oom.patch
  COMMAND patch -s -p1 -d ${LUAJIT_BUILD} -i ${CMAKE_CURRENT_LIST_DIR}/luajit-x87.patch
  COMMAND ${luajit_make}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
  COMMAND ${CMAKE_COMMAND} -E copy ${built_library} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${LUAJIT_LIBRARY}
  COMMAND ${CMAKE_COMMAND} -E copy ${LUAJIT_BUILD}/src/${LUAJIT_PROGRAM} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${LUAJIT_PROGRAM}
  DEPENDS ${luajit_inputs} ${CMAKE_CURRENT_LIST_DIR}/luajit-finalizers.patch
          ${CMAKE_CURRENT_LIST_DIR}/luajit-trace-exit-gc.patch ${CMAKE_CURRENT_LIST_DIR}/luajit-cstack.patch
          ${CMAKE_CURRENT_LIST_DIR}/luajit-oom.patch ${CMAKE_CURRENT_LIST_DIR}/luajit-x87.patch
          ${luajit_resource} ${PROJECT_SOURCE_DIR}/host/runtime_x87.h ${luajit_x87_object}
  COMMENT "Building LuaJIT (${luajit_cflags})"
  VERBATIM)
add_custom_target(luajit_build ALL DEPENDS ${LUAJIT_OUTPUTS})

if(WIN32)
  set(LUA_HEADERS ${PROJECT_SOURCE_DIR}/third_party/lua-5.1.5/src)
else()
  set(LUA_HEADERS /usr/include/lua5.1)
endif()
if(NOT EXISTS ${LUA_HEADERS}/lua.h)
  message(FATAL_ERROR "Lua 5.1 headers missing at ${LUA_HEADERS}: run scripts/setup.sh")
endif()
add_library(lua51 INTERFACE)
add_dependencies(lua51 luajit_build)
target_include_directories(lua51 INTERFACE ${LUA_HEADERS})
target_link_libraries(lua51 INTERFACE ${LUAJIT_LINK})
if(NOT WIN32)
  target_link_libraries(lua51 INTERFACE dl m)
endif()
# For the sample comparison and the dist folder.
set(LUA_STANDALONE ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${LUAJIT_PROGRAM})
set(LUA_ENGINE_FILE ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${LUAJIT_LIBRARY})
