# 64-bit Windows with MinGW-w64: the same sources as the product, for the tests under
# Wine on machines whose kernel runs no 32-bit programs (wine32 cannot start there).
# This build runs GoogleTest, which needs std::mutex: the posix thread model gives it
# (linked statically, so no runtime DLL has to sit beside the programs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(QX_WINDOWS_UNIT_TESTS ON CACHE BOOL "Build the GoogleTest suite for Windows")
# Windows programs built here are run by the tests under Wine, in a prefix of the build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine-run)
