# 32-bit Windows with MinGW-w64: the product. The win32 thread model keeps the runtime
# free of winpthread, so the program imports nothing but system DLLs. That model has no
# std::mutex, which GoogleTest needs, so the unit tests for Windows come from the
# 64-bit build (cmake/mingw-x86_64.cmake), run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(QX_WINDOWS_UNIT_TESTS OFF CACHE BOOL "Build the GoogleTest suite for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Windows programs built here are run by the tests under Wine, in a prefix of the build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine-run)
