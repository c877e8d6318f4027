#include "platform/win32/runtime/Win98Runtime.h"

// The runtime calls these through their import slots (__imp__Name@bytes). Defining
// the slots here, in an object linked ahead of the import libraries, keeps the
// linker from taking kernel32's wide-character entries at all: the program's
// import table then names only the ANSI calls below. The code runs early (thread
// support, unwinder registration), so it uses no heap and no C++ runtime.
namespace {

// Enough for any module or object name; longer names are refused, not cut.
constexpr int kNameBytes = 2 * MAX_PATH;

bool ToAnsiName(LPCWSTR name, char (&buffer)[kNameBytes]) {
  if (::WideCharToMultiByte(CP_ACP, 0, name, -1, buffer, kNameBytes, nullptr, nullptr) == 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

HANDLE WINAPI QxCreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initialCount,
                                 LONG maximumCount, LPCWSTR name) {
  if (name == nullptr) return ::CreateSemaphoreA(attributes, initialCount, maximumCount, nullptr);
  char ansi[kNameBytes];
  if (!ToAnsiName(name, ansi)) return nullptr;
  return ::CreateSemaphoreA(attributes, initialCount, maximumCount, ansi);
}

HMODULE WINAPI QxGetModuleHandleW(LPCWSTR name) {
  if (name == nullptr) return ::GetModuleHandleA(nullptr);
  char ansi[kNameBytes];
  if (!ToAnsiName(name, ansi)) return nullptr;
  return ::GetModuleHandleA(ansi);
}

HMODULE WINAPI QxLoadLibraryW(LPCWSTR name) {
  if (name == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  char ansi[kNameBytes];
  if (!ToAnsiName(name, ansi)) return nullptr;
  return ::LoadLibraryA(ansi);
}

// The import slots, under the names the import libraries give them: decorated
// with the argument bytes on 32-bit x86, plain on x64 (the 64-bit build only runs
// tests, but should link the same way).
#if defined(__i386__)
#define QX_IMPORT_SLOT(name, bytes) __asm__("__imp__" #name "@" #bytes)
#else
#define QX_IMPORT_SLOT(name, bytes) __asm__("__imp_" #name)
#endif
decltype(&QxCreateSemaphoreW) qxCreateSemaphoreWSlot QX_IMPORT_SLOT(CreateSemaphoreW, 16) =
    QxCreateSemaphoreW;
decltype(&QxGetModuleHandleW) qxGetModuleHandleWSlot QX_IMPORT_SLOT(GetModuleHandleW, 4) =
    QxGetModuleHandleW;
decltype(&QxLoadLibraryW) qxLoadLibraryWSlot QX_IMPORT_SLOT(LoadLibraryW, 4) = QxLoadLibraryW;

}  // extern "C"
