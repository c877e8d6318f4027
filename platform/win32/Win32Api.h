#pragma once
// <windows.h> for the Win32 side of the seams. The headers map the seams' operation
// names (CreateMutex, MessageBox, ...) to their ...A or ...W functions by macro,
// which would rename our own methods; include this instead of <windows.h> and call
// the ANSI functions by their full names.
#include <windows.h>

#undef CreateMutex
#undef ExitWindows
#undef FormatMessage
#undef GetDriveType
#undef GetModuleFileName
#undef LookupPrivilegeValue
#undef MessageBox
// winbase.h defines Yield() as nothing; the start-up routine has a Yield of its own.
#undef Yield
