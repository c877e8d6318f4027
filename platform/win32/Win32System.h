#pragma once
#include "platform/System.h"

namespace qx {

// The System seam over the ANSI calls that Windows 98 SE and the NT family share.
class Win32System : public System {
 public:
  bool GetVersion(VersionInfo* info) override;
  bool GetPowerStatus(std::uint8_t* acLineStatus) override;
  SysHandle CreateMutex(const char* name, std::uint32_t* lastError) override;
  bool ReleaseMutex(SysHandle mutex) override;
  bool GetScreenSaverActive(std::uint32_t* active) override;
  bool SetScreenSaverActive(std::uint32_t active) override;
  // 0 also when the path did not fit: a cut path would name another file.
  std::uint32_t GetModuleFileName(char* buffer, std::uint32_t size) override;
  // The C runtime's multibyte code page, which it takes from the ANSI code page at
  // start: 932 on Japanese systems; on single-byte systems 0 (Windows) or the code
  // page itself (Wine), English either way. No fallback to GetACP is needed: a 0
  // can only mean a single-byte code page.
  int CodePage() override;
  std::uint32_t GetDriveType(const char* rootName) override;
  std::uint32_t GetLastError() override;
  bool OpenProcessToken(std::uint32_t access, SysHandle* token) override;
  bool LookupPrivilegeValue(const char* name, std::uint64_t* luid) override;
  bool AdjustTokenPrivileges(SysHandle token, std::uint64_t luid,
                             std::uint32_t attributes) override;
  bool ExitWindows(std::uint32_t flags, std::uint32_t reason) override;
  void CloseHandle(SysHandle handle) override;
  void MessageBeep(std::uint32_t type) override;
  int MessageBox(WindowRef owner, const std::string& text, const std::string& caption,
                 std::uint32_t flags) override;
};

}  // namespace qx
