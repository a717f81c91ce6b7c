# SPDX-License-Identifier: GPL-3.0-or-later
# One INTERFACE target that every Pling target links: language level, warnings,
# hardening and the sanitizer switches.
add_library(pling_common INTERFACE)
target_compile_features(pling_common INTERFACE cxx_std_20)
target_compile_options(pling_common INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Woverloaded-virtual -Wconversion -Wsign-conversion -Wdouble-promotion
  -Wformat=2 -Wimplicit-fallthrough
  -fstack-protector-strong -fno-omit-frame-pointer)
if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  target_compile_definitions(pling_common INTERFACE $<$<NOT:$<BOOL:${PLING_SANITIZE_ADDRESS}>>:_FORTIFY_SOURCE=2>)
endif()
target_compile_definitions(pling_common INTERFACE _GLIBCXX_ASSERTIONS)
target_link_options(pling_common INTERFACE -Wl,-z,relro,-z,now)
find_package(Threads REQUIRED)
target_link_libraries(pling_common INTERFACE Threads::Threads)

if(PLING_WERROR)
  target_compile_options(pling_common INTERFACE -Werror)
endif()

if(PLING_SANITIZE_ADDRESS AND PLING_SANITIZE_THREAD)
  message(FATAL_ERROR "Choose one of PLING_SANITIZE_ADDRESS and PLING_SANITIZE_THREAD")
endif()
# In CI a sanitizer build keeps line tables only (-g1: a report still names file
# and line), which compiles faster than full debug information.
if((PLING_SANITIZE_ADDRESS OR PLING_SANITIZE_THREAD) AND "$ENV{CI}")
  string(REGEX REPLACE "(^| )-g( |$)" "\\1-g1\\2" CMAKE_CXX_FLAGS_DEBUG "${CMAKE_CXX_FLAGS_DEBUG}")
endif()
if(PLING_SANITIZE_ADDRESS)
  target_compile_options(pling_common INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=undefined)
  target_link_options(pling_common INTERFACE -fsanitize=address,undefined)
endif()
if(PLING_SANITIZE_THREAD)
  target_compile_options(pling_common INTERFACE -fsanitize=thread)
  target_link_options(pling_common INTERFACE -fsanitize=thread)
endif()

# pling_add_library(name dir [deps...]): one library per layer, its sources gathered from the
# folder (and its posix/ part), its headers reachable as <layer/header.h>.
function(pling_add_library name dir)
  file(GLOB _src CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/posix/*.cpp)
  if(_src)
    add_library(${name} STATIC ${_src})
    # The Qt layers compile in batches like the tests (tests/CMakeLists.txt); the network,
    # platform and history layers keep their files apart: several of their files
    # hold file-local helpers and constants of the same names.
    if(PLING_UNITY_BUILD AND NOT name MATCHES "^pling_(net|platform|history)$")
      set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
    endif()
    set(_scope PUBLIC)
  else()
    add_library(${name} INTERFACE)
    set(_scope INTERFACE)
  endif()
  target_include_directories(${name} ${_scope} ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} ${_scope} pling_common ${ARGN})
endfunction()
