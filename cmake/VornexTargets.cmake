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

# vornex_module_root(<var> <module> [<folder>]): the include root of one module, in the build
# folder: a folder holding one link, <module> -> <folder> (by default src/<module>; the simulator
# and the tests' support give their own). A target that has this root among its include folders
# resolves "#include "<module>/..."", and no other module through it.
function(vornex_module_root var module)
  set(root ${PROJECT_BINARY_DIR}/include/${module})
  if(ARGC GREATER 2)
    set(target ${ARGV2})
  else()
    set(target ${PROJECT_SOURCE_DIR}/src/${module})
  endif()
  if(IS_SYMLINK ${root}/${module})
    file(READ_SYMLINK ${root}/${module} current)
  else()
    set(current "")
  endif()
  if(NOT current STREQUAL target)
    file(REMOVE ${root}/${module})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${target} ${root}/${module} SYMBOLIC)
  endif()
  set(${var} ${root} PARENT_SCOPE)
endfunction()

# vornex_library(<name> SOURCES ... DEPS ...): one library per subsystem. A library in a folder
# src/<module>/ exports the headers of that module only (its include root); the headers of the
# other modules reach it, and whoever links it, through the libraries it links.
function(vornex_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  set(root "")
  if(NOT folder STREQUAL "" AND NOT folder MATCHES "^\\.\\.")
    string(REGEX REPLACE "/.*" "" module "${folder}")
    vornex_module_root(root ${module})
  endif()
  if(NOT ARG_SOURCES)
    add_library(${name} INTERFACE)
    if(root)
      target_include_directories(${name} INTERFACE ${root})
    endif()
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  if(root)
    target_include_directories(${name} PUBLIC ${root})
  endif()
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  vornex_target(${name})
endfunction()

# vornex_test(<name> LABEL <label> SOURCES ... DEPS ...): one GoogleTest program per subsystem
# and kind; its cases are registered with CTest under the label (unit, integration, e2e, gui,
# load).
function(vornex_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT;LABEL" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_LABEL MATCHES "^(unit|integration|e2e|gui|load)$")
    message(FATAL_ERROR "vornex_test(${name}): LABEL must be one of unit, integration, e2e, gui, load")
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
