#pragma once
#include <cstdint>
#include <string>
#include <utility>

namespace qx {

using SysHandle = std::uintptr_t;  // 0 means none
using WindowRef = std::uintptr_t;  // a window, 0 for no owner

struct VersionInfo {
  VersionInfo() = default;
  VersionInfo(std::uint32_t major, std::uint32_t minor, std::uint32_t platform,
              std::uint32_t build = 0, std::string servicePackText = std::string())
      : majorVersion(major),
        minorVersion(minor),
        platformId(platform),
        buildNumber(build),
        servicePack(std::move(servicePackText)) {}

  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
  std::uint32_t platformId = 0;  // 1: Windows 95/98/ME, 2: NT family
  std::uint32_t buildNumber = 0;
  std::string servicePack;  // "Service Pack 2"; " A " on Windows 98 SE; often empty
};

namespace sys {
constexpr std::uint32_t kPlatformWindows = 1;
constexpr std::uint32_t kPlatformNt = 2;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kMbOk = 0x00000000;
constexpr std::uint32_t kMbIconExclamation = 0x00000030;
constexpr std::uint32_t kBeepStandard = 0xFFFFFFFFu;
constexpr std::uint32_t kTokenAdjustPrivileges = 0x20;
constexpr std::uint32_t kTokenQuery = 0x08;
constexpr std::uint32_t kSePrivilegeEnabled = 2;
constexpr std::uint32_t kEwxReboot = 2;
constexpr std::uint32_t kDriveCdrom = 5;
}  // namespace sys

// Version, power, instance lock, screen saver, module path, code page, restart
// and the plain message box. Texts cross this seam as UTF-8; the Win32 side hands
// them to the ANSI calls in the process's code page.
class System {
 public:
  virtual ~System() = default;
  // GetVersionExA with a 148-byte OSVERSIONINFOA; false when the query fails. The
  // build is the low word of dwBuildNumber on Windows 95/98/ME, where the high word
  // repeats the version.
  virtual bool GetVersion(VersionInfo* info) = 0;
  // GetSystemPowerStatus; false when the query fails.
  virtual bool GetPowerStatus(std::uint8_t* acLineStatus) = 0;
  // CreateMutexA(no attributes, initial owner, name); 0 on failure. *lastError is
  // GetLastError right after the call (183 when the mutex already existed).
  virtual SysHandle CreateMutex(const char* name, std::uint32_t* lastError) = 0;
  virtual bool ReleaseMutex(SysHandle mutex) = 0;
  // SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE / SPI_SETSCREENSAVEACTIVE, broadcast).
  virtual bool GetScreenSaverActive(std::uint32_t* active) = 0;
  virtual bool SetScreenSaverActive(std::uint32_t active) = 0;
  // GetModuleFileNameA(own module, buffer, size); the length copied, 0 on failure.
  virtual std::uint32_t GetModuleFileName(char* buffer, std::uint32_t size) = 0;
  // The process's multibyte code page (932 selects the Japanese texts).
  virtual int CodePage() = 0;
  // GetDriveTypeA of a root such as "E:\\"; 5 is DRIVE_CDROM.
  virtual std::uint32_t GetDriveType(const char* rootName) = 0;
  // GetLastError: why the last call of this seam that failed did so.
  virtual std::uint32_t GetLastError() = 0;
  // The restart steps.
  virtual bool OpenProcessToken(std::uint32_t access, SysHandle* token) = 0;
  virtual bool LookupPrivilegeValue(const char* name, std::uint64_t* luid) = 0;
  virtual bool AdjustTokenPrivileges(SysHandle token, std::uint64_t luid,
                                     std::uint32_t attributes) = 0;
  virtual bool ExitWindows(std::uint32_t flags, std::uint32_t reason) = 0;
  virtual void CloseHandle(SysHandle handle) = 0;
  // MessageBeep and MessageBoxA.
  virtual void MessageBeep(std::uint32_t type) = 0;
  virtual int MessageBox(WindowRef owner, const std::string& text, const std::string& caption,
                         std::uint32_t flags) = 0;
};

}  // namespace qx
