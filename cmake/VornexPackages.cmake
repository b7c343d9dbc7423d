# Everything the build takes from the machine, found in one place (the top CMakeLists.txt
# includes this file before any folder of its own): threads, libudev, SQLite, Qt 6 and xcb,
# PostgreSQL's client library libpq, GoogleTest, scdoc and gzip. scripts/setup.sh installs the Debian packages of the Linux build,
# scripts/setup-windows.sh those of the Windows cross build, whose SQLite and libpq it makes too.
# The other CMake files use the targets and variables set here and find nothing themselves:
#   Threads::Threads, PkgConfig::LIBUDEV (Linux), SQLite::SQLite3, Vornex::libpq, VORNEX_HAVE_GUI with
#   Qt6::Widgets, Qt6::Test and PkgConfig::XCB, GTest::gtest and GTest::gtest_main (with
#   VORNEX_BUILD_TESTS), VORNEX_SCDOC and VORNEX_GZIP (Linux).

find_package(Threads REQUIRED)

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  # Port notifications on Linux come from libudev.
  pkg_check_modules(LIBUDEV REQUIRED IMPORTED_TARGET libudev)
  # The station records (src/store).
  find_package(SQLite3 REQUIRED)
  # The line records on PostgreSQL (src/line): Debian's libpq.
  pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET libpq)
  add_library(Vornex::libpq ALIAS PkgConfig::LIBPQ)
else()
  # No SQLite is packaged for MinGW: the Windows build compiles the amalgamation (sqlite3.c,
  # sqlite3.h) into the program; scripts/setup-windows.sh makes it from Debian's source package.
  set(VORNEX_SQLITE_AMALGAMATION ${PROJECT_SOURCE_DIR}/.cache/sqlite3/amalgamation CACHE PATH
      "Folder with the SQLite amalgamation (sqlite3.c, sqlite3.h) for the Windows build")
  if(NOT EXISTS "${VORNEX_SQLITE_AMALGAMATION}/sqlite3.c" OR
     NOT EXISTS "${VORNEX_SQLITE_AMALGAMATION}/sqlite3.h")
    message(FATAL_ERROR "No SQLite amalgamation (sqlite3.c, sqlite3.h) in "
                        "${VORNEX_SQLITE_AMALGAMATION}: run scripts/setup-windows.sh, or name "
                        "another folder with -DVORNEX_SQLITE_AMALGAMATION=DIR")
  endif()
  add_library(vornex_sqlite3 STATIC ${VORNEX_SQLITE_AMALGAMATION}/sqlite3.c)
  target_include_directories(vornex_sqlite3 SYSTEM PUBLIC ${VORNEX_SQLITE_AMALGAMATION})
  # Options SQLite recommends for a library compiled into one program; none of them changes
  # what the store's SQL means.
  target_compile_definitions(vornex_sqlite3
    PRIVATE
      SQLITE_THREADSAFE=1  # serialized: the store opens its connection with SQLITE_OPEN_FULLMUTEX
      SQLITE_DQS=0         # "name" is an identifier only, never a string literal
      SQLITE_OMIT_LOAD_EXTENSION
      SQLITE_OMIT_SHARED_CACHE
      SQLITE_DEFAULT_MEMSTATUS=0
      SQLITE_USE_ALLOCA)
  # Third-party C code: built as it comes, without the project's warnings, and at -O2 as SQLite
  # builds itself (-O3 makes the one large file take a third longer to compile).
  set_target_properties(vornex_sqlite3 PROPERTIES C_STANDARD 99)
  target_compile_options(vornex_sqlite3 PRIVATE $<$<NOT:$<CONFIG:Debug>>:-O2>)
  add_library(SQLite::SQLite3 ALIAS vornex_sqlite3)

  # The line records on PostgreSQL (src/line): no libpq is packaged for MinGW either;
  # scripts/setup-windows.sh cross-builds it from Debian's postgresql-15 source package, without
  # TLS, as static libraries: libpq.a and the frontend libraries it needs, libpgcommon_shlib.a and
  # libpgport_shlib.a. The programs take it in, with the system libraries it calls: Winsock
  # (ws2_32), SSPI authentication (secur32), the user's folders (shell32) and the user's name
  # (advapi32). No DLL travels with vornex.exe.
  set(VORNEX_LIBPQ_WIN64 ${PROJECT_SOURCE_DIR}/.cache/libpq/win64 CACHE PATH
      "Folder with libpq for the Windows build (include/libpq-fe.h, lib/libpq.a, ...)")
  set(vornex_libpq_files
      include/libpq-fe.h include/postgres_ext.h include/pg_config_ext.h
      lib/libpq.a lib/libpgcommon_shlib.a lib/libpgport_shlib.a)
  foreach(file IN LISTS vornex_libpq_files)
    if(NOT EXISTS "${VORNEX_LIBPQ_WIN64}/${file}")
      message(FATAL_ERROR "No libpq for the Windows build in ${VORNEX_LIBPQ_WIN64} (it lacks "
                          "${file}): run scripts/setup-windows.sh, or name another folder with "
                          "-DVORNEX_LIBPQ_WIN64=DIR")
    endif()
  endforeach()
  add_library(Vornex::libpq STATIC IMPORTED)
  set_target_properties(Vornex::libpq PROPERTIES
    IMPORTED_LOCATION ${VORNEX_LIBPQ_WIN64}/lib/libpq.a
    INTERFACE_INCLUDE_DIRECTORIES ${VORNEX_LIBPQ_WIN64}/include)
  target_link_libraries(Vornex::libpq INTERFACE
    ${VORNEX_LIBPQ_WIN64}/lib/libpgcommon_shlib.a ${VORNEX_LIBPQ_WIN64}/lib/libpgport_shlib.a
    ws2_32 secur32 shell32 advapi32)
endif()

# The station window needs Qt 6 (Widgets, Test) and xcb (to ask whether the X display answers);
# everything else builds without them. Without Qt the window is left out with a warning. The
# Windows build has a window of its own on the system's API.
set(VORNEX_HAVE_GUI OFF)
if(VORNEX_BUILD_GUI AND NOT WIN32)
  find_package(Qt6 COMPONENTS Widgets Test QUIET)
  if(Qt6_FOUND)
    set(VORNEX_HAVE_GUI ON)
    pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
  else()
    message(WARNING "Qt 6 Widgets not found: the station window is not built "
                    "(run scripts/setup.sh, or configure with -DVORNEX_BUILD_GUI=OFF)")
  endif()
endif()

# GoogleTest for the tests. No GoogleTest is packaged for the cross build's target: there it is
# built from Debian's googletest sources.
if(VORNEX_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    set(VORNEX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
        "GoogleTest sources for cross builds (Debian package googletest)")
    if(NOT EXISTS ${VORNEX_GOOGLETEST_SOURCE}/CMakeLists.txt)
      message(FATAL_ERROR "No GoogleTest sources in ${VORNEX_GOOGLETEST_SOURCE}: install the "
                          "googletest package (scripts/setup-windows.sh)")
    endif()
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${VORNEX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    foreach(lib gtest gtest_main)
      if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
      endif()
    endforeach()
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()

# The manual pages: written in scdoc's plain text form, turned into roff and gzipped
# (cmake/VornexInstall.cmake, which leaves them out with a warning when either is missing).
if(NOT WIN32)
  find_program(VORNEX_SCDOC scdoc)
  find_program(VORNEX_GZIP gzip)
endif()
