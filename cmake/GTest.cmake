# GoogleTest, built from the source Debian ships.
set(GTEST_SRC /usr/src/googletest CACHE PATH "GoogleTest source")
if(NOT EXISTS ${GTEST_SRC}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest source missing at ${GTEST_SRC}: run scripts/setup.sh")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
if(WIN32)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
endif()
add_subdirectory(${GTEST_SRC} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
if(WIN32)
  # The win32 thread model (cmake/toolchain-mingw-i686.cmake) has no std::mutex,
  # which GoogleTest's Notification is made of: it gets one that needs none.
  target_compile_options(gtest PUBLIC -include ${CMAKE_CURRENT_LIST_DIR}/gtest_notification.h)
endif()
