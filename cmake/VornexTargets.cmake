# Helpers that give every project target the same warnings and sanitizer flags.

set(VORNEX_WARNINGS -Wall -Wextra -Wpedantic)
# Warnings stop the build only where asked (VORNEX_WERROR): the test scripts turn it on, while a
# plain build with another compiler or another optimisation level still completes.
if(VORNEX_WERROR)
  list(APPEND VORNEX_WARNINGS -Werror)
endif()

# The sanitizers' instrumentation makes GCC report maybe-uninitialized inside standard headers
# (std::regex, std::function); those builds keep every other warning (as an error with
# VORNEX_WERROR).
if(VORNEX_SANITIZE STREQUAL "address")
  set(VORNEX_SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  list(APPEND VORNEX_WARNINGS -Wno-maybe-uninitialized)
elseif(VORNEX_SANITIZE STREQUAL "thread")
  set(VORNEX_SAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
  list(APPEND VORNEX_WARNINGS -Wno-maybe-uninitialized)
elseif(NOT VORNEX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VORNEX_SANITIZE must be empty, address or thread")
endif()

# vornex_target(<target>): project warnings and sanitizer flags on one target.
function(vornex_target target)
  target_compile_options(${target} PRIVATE ${VORNEX_WARNINGS} ${VORNEX_SAN_FLAGS})
  if(VORNEX_SAN_FLAGS)
    target_link_options(${target} PUBLIC ${VORNEX_SAN_FLAGS})
  endif()
endfunction()

# vornex_library(<name> SOURCES ... DEPS ...): one library per subsystem.
function(vornex_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  vornex_target(${name})
endfunction()

# vornex_test(<name> LABEL <label> SOURCES ... DEPS ...): one GoogleTest program per subsystem
# and kind; its cases are registered with CTest under the label (unit, integration, e2e, gui).
function(vornex_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT;LABEL" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_LABEL MATCHES "^(unit|integration|e2e|gui)$")
    message(FATAL_ERROR "vornex_test(${name}): LABEL must be one of unit, integration, e2e, gui")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  vornex_target(${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()
