# 32-bit Windows, cross-compiled with mingw-w64; programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

# The win32 thread model. Under the posix model libstdc++ reaches winpthread (for
# one, the guard of every function-local static), and winpthread, linked
# statically, installs a vectored exception handler for the whole process when
# the DLL loads: a DLL the game loads must leave the game's exceptions to the
# game. GoogleTest is built without its threading parts (cmake/GTest.cmake).
# Everything is linked with -static (cmake/Flags.cmake): no libstdc++ DLL either.
find_program(MINGW_CXX i686-w64-mingw32-g++-win32)
find_program(MINGW_CC i686-w64-mingw32-gcc-win32)
if(NOT MINGW_CXX OR NOT MINGW_CC)
  message(FATAL_ERROR "i686-w64-mingw32-g++-win32 not found: run scripts/setup.sh")
endif()
set(CMAKE_C_COMPILER ${MINGW_CC})
set(CMAKE_CXX_COMPILER ${MINGW_CXX})
set(CMAKE_ASM_COMPILER ${MINGW_CC})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

find_program(WINE wine)
if(NOT WINE)
  message(FATAL_ERROR "wine not found: run scripts/setup.sh")
endif()
# Through a wrapper: see wine-run.sh for why.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
