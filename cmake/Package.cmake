# The package for game makers: varnel-VERSION-win32.zip, made by CPack from the
# Windows build (`cpack --preset windows`, or scripts/package.sh). It holds the
# three DLLs and the runner, stripped of their debug information, the example
# scripts, the guide and the list of exports (exports.txt), our licence and Lua's copyright notice: nothing else.
#
# The DLLs are the Windows preset's own: optimised and built with NDEBUG
# (RelWithDebInfo), which is what a release needs; CPack strips the debug
# information from the copies it packs. So packing costs no second build.
install(TARGETS varnel lua51 nexlink varnel-run
  RUNTIME DESTINATION . COMPONENT game
  ARCHIVE DESTINATION lib COMPONENT devel EXCLUDE_FROM_ALL
  LIBRARY DESTINATION lib COMPONENT devel EXCLUDE_FROM_ALL)
install(FILES examples/demo.lua examples/demo_host.lua DESTINATION examples COMPONENT game)
install(FILES docs/guide.md ${VARNEL_EXPORTS_TEXT} LICENSE DESTINATION . COMPONENT game)
install(FILES ${LUA_SRC}/../COPYRIGHT DESTINATION . RENAME LUA-COPYRIGHT COMPONENT game)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME varnel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME varnel-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_VENDOR "the varnel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Lua 5.1 scripting for a 32-bit Windows game runtime")
set(CPACK_STRIP_FILES TRUE)
include(CPack)
