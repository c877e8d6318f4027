#pragma once
// A scriptable System for native runs: every answer is set up beforehand, every
// request (beeps, message boxes, restart steps, screen-saver changes) is recorded,
// and a listener can print each one as it happens.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/System.h"

namespace qx {

// Named mutexes shared by every HostSystem that holds the same table, as the
// processes of one machine share their object names.
class HostMutexTable {
 public:
  // The number of open handles on the name after one more was opened; 1 means it
  // was created now.
  int Open(const std::string& name) { return ++openCount[name]; }
  void Close(const std::string& name);
  bool Exists(const std::string& name) const { return openCount.count(name) != 0; }

 private:
  std::map<std::string, int> openCount;
};

class HostSystem : public System {
 public:
  // A machine of its own unless a table is shared with another HostSystem.
  explicit HostSystem(std::shared_ptr<HostMutexTable> mutexes = nullptr);
  ~HostSystem() override;  // process end: its mutex handles close

  // --- Answers (set before the run) --------------------------------------
  VersionInfo version{5, 1, sys::kPlatformNt, 2600, "Service Pack 2"};
  bool versionQueryFails = false;
  std::uint8_t acLineStatus = 1;
  bool powerQueryFails = false;
  std::uint32_t screenSaverActive = 1;
  std::string modulePath = "C:\\qxupdate\\qxupdate.exe";  // empty: the query fails
  int codePage = 1252;
  bool mutexCreationFails = false;
  bool openTokenSucceeds = true;
  bool lookupPrivilegeSucceeds = true;
  bool adjustPrivilegesSucceeds = true;
  bool exitWindowsSucceeds = true;
  // What GetLastError reports after one of the calls above was made to fail.
  std::uint32_t refusalError = 5;
  // The drive type of each root ("C:\\"); a root not listed has none (1).
  std::map<std::string, std::uint32_t> driveTypes{{"C:\\", 3}};
  // Answers a message box; without one every box answers 1 (IDOK).
  std::function<int(WindowRef owner, const std::string& text, const std::string& caption,
                    std::uint32_t flags)>
      messageBoxAnswer;
  // Hears one line per recorded event: "BEEP 4294967295", "MESSAGEBOX "text" -> 1",
  // "SCREENSAVER 0", "MUTEX "name" 183", "MUTEX RELEASE", "PRIVILEGE OpenProcessToken 40",
  // "PRIVILEGE LookupPrivilegeValue SeShutdownPrivilege",
  // "PRIVILEGE AdjustTokenPrivileges 2", "RESTART 2 0".
  std::function<void(const std::string& line)> listener;

  // --- Records -------------------------------------------------------------
  struct MessageBoxCall {
    WindowRef owner = 0;
    std::string text;
    std::string caption;
    std::uint32_t flags = 0;
    int answer = 0;
  };
  std::vector<MessageBoxCall> messageBoxes;
  std::vector<std::uint32_t> beeps;
  std::vector<std::uint32_t> screenSaverChanges;
  std::vector<std::string> privilegeSteps;  // as in the listener lines, without "PRIVILEGE "
  int restartRequests = 0;                  // ExitWindows calls
  std::uint32_t lastExitFlags = 0;
  std::vector<std::string> events;          // every listener line, in order

  const HostMutexTable& mutexes() const { return *mutexTable; }
  // Mutex handles of this process still open.
  std::size_t openMutexCount() const { return ownMutexes.size(); }

  // --- System --------------------------------------------------------------
  bool GetVersion(VersionInfo* info) override;
  bool GetPowerStatus(std::uint8_t* acLine) override;
  SysHandle CreateMutex(const char* name, std::uint32_t* lastError) override;
  bool ReleaseMutex(SysHandle mutex) override;
  bool GetScreenSaverActive(std::uint32_t* active) override;
  bool SetScreenSaverActive(std::uint32_t active) override;
  std::uint32_t GetModuleFileName(char* buffer, std::uint32_t size) override;
  int CodePage() override { return codePage; }
  std::uint32_t GetDriveType(const char* rootName) override;
  std::uint32_t GetLastError() override { return lastError; }
  bool OpenProcessToken(std::uint32_t access, SysHandle* token) override;
  bool LookupPrivilegeValue(const char* name, std::uint64_t* luid) override;
  bool AdjustTokenPrivileges(SysHandle token, std::uint64_t luid,
                             std::uint32_t attributes) override;
  bool ExitWindows(std::uint32_t flags, std::uint32_t reason) override;
  void CloseHandle(SysHandle handle) override;
  void MessageBeep(std::uint32_t type) override;
  int MessageBox(WindowRef owner, const std::string& text, const std::string& caption,
                 std::uint32_t flags) override;

 private:
  void Record(const std::string& line);
  bool Refuse() {
    lastError = refusalError;
    return false;
  }

  std::shared_ptr<HostMutexTable> mutexTable;
  std::map<SysHandle, std::string> ownMutexes;
  SysHandle nextHandle = 0x40;
  SysHandle openToken = 0;
  std::uint32_t lastError = 0;
};

}  // namespace qx
