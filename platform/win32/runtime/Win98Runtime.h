#pragma once
// ANSI stand-ins for the few wide-character kernel32 calls that the static MinGW
// runtime (libgcc's thread and unwinder support, the msvcrt compatibility shims)
// makes. On Windows 98 those calls are stubs that fail. Win98Runtime.cpp binds
// them in place of the kernel32 imports of every program that links it; they are
// declared here so that tests can call them directly.
#include "platform/win32/Win32Api.h"

extern "C" {
HANDLE WINAPI QxCreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initialCount,
                                 LONG maximumCount, LPCWSTR name);
HMODULE WINAPI QxGetModuleHandleW(LPCWSTR name);
HMODULE WINAPI QxLoadLibraryW(LPCWSTR name);
}
