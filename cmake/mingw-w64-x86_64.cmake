# Cross build of the Windows executable with MinGW-w64 (64-bit):
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The programs are linked fully static, so they need no DLL beyond those of Windows itself, and
# CTest runs them under Wine through cmake/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TABULON_MINGW_PREFIX x86_64-w64-mingw32)
# The posix thread model gives the full C++ standard library (std::thread, std::mutex); with
# static linking its thread library is linked in like the rest.
find_program(CMAKE_C_COMPILER NAMES ${TABULON_MINGW_PREFIX}-gcc-posix ${TABULON_MINGW_PREFIX}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TABULON_MINGW_PREFIX}-g++-posix ${TABULON_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TABULON_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${TABULON_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
