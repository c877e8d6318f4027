#include "platform/win32/Win32Api.h"
#include <mbctype.h>

#include "platform/win32/Win32System.h"

#include <cstddef>

#include "platform/win32/AnsiText.h"

namespace qx {
namespace {

// The version query must be given the size of the original structure: Windows 98
// refuses the larger OSVERSIONINFOEXA.
constexpr DWORD kVersionInfoSize = 148;
static_assert(sizeof(OSVERSIONINFOA) == kVersionInfoSize, "OSVERSIONINFOA is 148 bytes");

HANDLE AsHandle(SysHandle handle) { return reinterpret_cast<HANDLE>(handle); }
SysHandle FromHandle(HANDLE handle) { return reinterpret_cast<SysHandle>(handle); }

}  // namespace

bool Win32System::GetVersion(VersionInfo* info) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = kVersionInfoSize;
  if (!::GetVersionExA(&version)) return false;
  info->majorVersion = version.dwMajorVersion;
  info->minorVersion = version.dwMinorVersion;
  info->platformId = version.dwPlatformId;
  info->buildNumber = version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS
                          ? LOWORD(version.dwBuildNumber)
                          : version.dwBuildNumber;
  info->servicePack = FromAnsi(version.szCSDVersion);
  return true;
}

bool Win32System::GetPowerStatus(std::uint8_t* acLineStatus) {
  SYSTEM_POWER_STATUS status = {};
  if (!::GetSystemPowerStatus(&status)) return false;
  *acLineStatus = status.ACLineStatus;
  return true;
}

SysHandle Win32System::CreateMutex(const char* name, std::uint32_t* lastError) {
  HANDLE mutex = ::CreateMutexA(nullptr, TRUE, name);
  *lastError = ::GetLastError();
  return FromHandle(mutex);
}

bool Win32System::ReleaseMutex(SysHandle mutex) { return ::ReleaseMutex(AsHandle(mutex)) != 0; }

bool Win32System::GetScreenSaverActive(std::uint32_t* active) {
  BOOL value = FALSE;
  if (!::SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &value, 0)) return false;
  *active = static_cast<std::uint32_t>(value);
  return true;
}

bool Win32System::SetScreenSaverActive(std::uint32_t active) {
  return ::SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, active, nullptr,
                                 SPIF_SENDWININICHANGE) != 0;
}

std::uint32_t Win32System::GetModuleFileName(char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer, size);
  // A path that fills the whole buffer was cut, and Windows XP then leaves it
  // unterminated.
  if (length == 0 || length >= size) {
    buffer[0] = '\0';
    return 0;
  }
  buffer[length] = '\0';
  return length;
}

int Win32System::CodePage() { return _getmbcp(); }

std::uint32_t Win32System::GetDriveType(const char* rootName) {
  return ::GetDriveTypeA(rootName);
}

std::uint32_t Win32System::GetLastError() { return ::GetLastError(); }

bool Win32System::OpenProcessToken(std::uint32_t access, SysHandle* token) {
  HANDLE handle = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), access, &handle)) return false;
  *token = FromHandle(handle);
  return true;
}

bool Win32System::LookupPrivilegeValue(const char* name, std::uint64_t* luid) {
  LUID value = {};
  if (!::LookupPrivilegeValueA(nullptr, name, &value)) return false;
  *luid = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(value.HighPart)) << 32) |
          value.LowPart;
  return true;
}

bool Win32System::AdjustTokenPrivileges(SysHandle token, std::uint64_t luid,
                                        std::uint32_t attributes) {
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid.LowPart = static_cast<DWORD>(luid);
  privileges.Privileges[0].Luid.HighPart = static_cast<LONG>(luid >> 32);
  privileges.Privileges[0].Attributes = attributes;
  return ::AdjustTokenPrivileges(AsHandle(token), FALSE, &privileges, 0, nullptr, nullptr) != 0;
}

bool Win32System::ExitWindows(std::uint32_t flags, std::uint32_t reason) {
  return ::ExitWindowsEx(flags, reason) != 0;
}

void Win32System::CloseHandle(SysHandle handle) {
  if (handle != 0) ::CloseHandle(AsHandle(handle));
}

void Win32System::MessageBeep(std::uint32_t type) { ::MessageBeep(type); }

int Win32System::MessageBox(WindowRef owner, const std::string& text, const std::string& caption,
                            std::uint32_t flags) {
  const std::string ansiText = ToAnsi(text);
  const std::string ansiCaption = ToAnsi(caption);
  return ::MessageBoxA(reinterpret_cast<HWND>(owner), ansiText.c_str(), ansiCaption.c_str(),
                       flags);
}

}  // namespace qx
