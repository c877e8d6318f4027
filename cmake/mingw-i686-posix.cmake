# 32-bit Windows with MinGW-w64's posix thread model: for the unit tests only. GoogleTest
# needs std::mutex, which the product's win32 thread model lacks, so the i686 test
# program is built with this one (runtime linked statically) while the product keeps
# cmake/mingw-i686.cmake. It runs the layouts and calling conventions of the 32-bit
# platform for real, under wine32 (through qemu-user where the kernel runs no 32-bit
# code).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(QX_WINDOWS_UNIT_TESTS ON CACHE BOOL "Build the GoogleTest suite for Windows")
# Not the product: no import check, no end-to-end scenarios (build/win32 runs those).
set(QX_TEST_ONLY_BUILD ON CACHE BOOL "A build for the unit tests alone")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine-run)
