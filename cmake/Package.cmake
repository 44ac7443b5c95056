# The packages for game makers, made by CPack from a Windows build (`cpack --preset
# windows` or `cpack --preset windows-luajit-jit`, or scripts/package.sh for both):
# varnel-VERSION-win32.zip on Lua 5.1.5 and varnel-VERSION-win32-luajit.zip on
# LuaJIT with its compiler. Each holds the three DLLs and the runner, stripped of
# their debug information, the example scripts, the guide and the list of exports
# (exports.txt), our licence and Lua's
# copyright notice (and LuaJIT's, in the second): nothing else.
#
# The DLLs are the preset's own: optimised and built with NDEBUG (RelWithDebInfo),
# which is what a release needs; CPack strips the debug information from the copies
# it packs. So packing costs no second build.
install(TARGETS varnel nexlink varnel-run
  RUNTIME DESTINATION . COMPONENT game
  ARCHIVE DESTINATION lib COMPONENT devel EXCLUDE_FROM_ALL
  LIBRARY DESTINATION lib COMPONENT devel EXCLUDE_FROM_ALL)
install(FILES examples/demo.lua examples/demo_host.lua DESTINATION examples COMPONENT game)
install(FILES docs/guide.md ${VARNEL_EXPORTS_TEXT} LICENSE DESTINATION . COMPONENT game)
install(FILES ${PROJECT_SOURCE_DIR}/third_party/lua-5.1.5/COPYRIGHT DESTINATION . RENAME LUA-COPYRIGHT
  COMPONENT game)
set(package_suffix)
if(VARNEL_ENGINE STREQUAL "luajit")
  # lua5.1.dll is LuaJIT's, built by its own makefile (cmake/LuaJIT.cmake).
  install(PROGRAMS ${LUA_ENGINE_FILE} DESTINATION . COMPONENT game)
  # Debian's makefile builds it with -g and leaves it unstripped; CPack strips only
  # what install(TARGETS) installs.
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lua5.1.dll\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT game)
  install(FILES ${LUAJIT_SOURCE}/COPYRIGHT DESTINATION . RENAME LUAJIT-COPYRIGHT COMPONENT game)
  set(package_suffix -luajit)
else()
  install(TARGETS lua51
    RUNTIME DESTINATION . COMPONENT game
    ARCHIVE DESTINATION lib COMPONENT devel EXCLUDE_FROM_ALL
    LIBRARY DESTINATION lib COMPONENT devel EXCLUDE_FROM_ALL)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME varnel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME varnel-${PROJECT_VERSION}-win32${package_suffix})
set(CPACK_PACKAGE_VENDOR "the varnel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Lua 5.1 scripting for a 32-bit Windows game runtime")
set(CPACK_STRIP_FILES TRUE)
include(CPack)
