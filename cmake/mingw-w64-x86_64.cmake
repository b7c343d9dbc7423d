# Cross build for 64-bit Windows with MinGW-w64 (Debian's gcc-mingw-w64-x86-64-posix and
# g++-mingw-w64-x86-64-posix; scripts/setup-windows.sh installs them):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix-thread flavour of the compilers is the one whose libstdc++ has std::thread,
# std::mutex and std::condition_variable. Programs built here run under Wine on the build
# machine (tests and test discovery) through cmake/wine-run.sh.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORNEX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORNEX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORNEX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VORNEX_MINGW_TRIPLET}-windres)
# windres hands its preprocessor the command line through a shell, which eats the quotes of a
# define such as VERSION_TEXT="1.1.5.9"; with a temporary file it starts the preprocessor itself.
set(CMAKE_RC_FLAGS_INIT "--use-temp-file")

# Libraries and headers come from the MinGW-w64 tree only, programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VORNEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs (and gtest_discover_tests) run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
# The tests are listed when CTest runs, inside the Wine prefix that run has prepared, instead of
# after every link of a test program.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# Windows 7 is the oldest system the station supports, so the headers offer only what
# Windows 7 has: a call that needs a newer system fails to compile instead of failing to start
# on a factory PC that still runs Windows 7. The printf family is MinGW's own C99 one (%zu,
# %lld), not that of the system's msvcrt.dll, which lacks them on older Windows.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                        NOMINMAX __USE_MINGW_ANSI_STDIO=1)

# vornex.exe runs on its own: the C and C++ runtimes and winpthread are linked in, so no
# MinGW DLL has to travel with it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
