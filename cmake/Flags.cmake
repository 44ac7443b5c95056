# Compiler and linker settings shared by every target: link `project_flags`.
include(CheckCXXCompilerFlag)

add_library(project_flags INTERFACE)
target_compile_features(project_flags INTERFACE cxx_std_17)
target_include_directories(project_flags INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(project_flags INTERFACE
  $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Werror -msse2 -mfpmath=sse>
  $<$<COMPILE_LANGUAGE:CXX>:-Wpedantic -fno-strict-aliasing>)
if(WIN32)
  # Nothing may import libgcc, libstdc++ or winpthread DLLs: neither Wine nor a
  # player has them.
  target_link_options(project_flags INTERFACE -static)
endif()

option(VARNEL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(VARNEL_SANITIZE)
  set(SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  set(CMAKE_REQUIRED_LINK_OPTIONS ${SAN_FLAGS})
  check_cxx_compiler_flag("${SAN_FLAGS}" HAVE_SANITIZERS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(NOT HAVE_SANITIZERS)
    message(FATAL_ERROR "the compiler cannot build with ${SAN_FLAGS}")
  endif()
  target_compile_options(project_flags INTERFACE $<$<COMPILE_LANGUAGE:C,CXX>:${SAN_FLAGS}>)
  target_link_options(project_flags INTERFACE ${SAN_FLAGS})
endif()

# Programs that host the stand-in: the routines must sit at the host's addresses.
function(link_as_host target)
  if(WIN32)
    target_link_options(${target} PRIVATE -Wl,--image-base,0x00400000 -Wl,--disable-dynamicbase)
  else()
    target_link_options(${target} PRIVATE -no-pie)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  endif()
endfunction()
