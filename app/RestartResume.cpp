#include "app/RestartResume.h"

#include <cstdint>
#include <utility>

#include "app/RegistryKey.h"
#include "platform/System.h"
#include "platform/Threads.h"

namespace qx {

const char kRunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\run";

namespace {
constexpr std::uint32_t kResumeBufferBytes = 1024;
}  // namespace

RestartResume::RestartResume(Registry& registry, System& system, Threads& threads,
                             std::string makerKeyName)
    : registry(registry), system(system), threads(threads),
      makerKeyName(std::move(makerKeyName)) {}

void RestartResume::Yield() { threads.Sleep(0); }

std::string RestartResume::ResumeCommand(const std::string& modulePath) {
  if (modulePath.find(' ') == std::string::npos) return modulePath;
  if (modulePath.size() >= 2 && modulePath.front() == '"' && modulePath.back() == '"') {
    return modulePath;
  }
  return "\"" + modulePath + "\"";
}

RestartResume::ResumeState RestartResume::TakeResumeEntry(const std::string& executableName) {
  ResumeState state;
  RegistryKey run(registry);
  if (run.Create(reg::kCurrentUser, kRunKeyPath) != reg::kSuccess) {
    state.noResumeEntry = true;
    return state;
  }
  // Only whether it is there matters, whatever it holds; the buffer is never read
  // as text.
  char entry[kResumeBufferBytes];
  std::uint32_t size = sizeof entry;
  if (run.QueryString(entry, executableName.c_str(), &size) == reg::kSuccess) {
    state.resumed = true;
    run.DeleteValue(executableName.c_str());
    Yield();
  }
  run.Close();
  return state;
}

void RestartResume::WriteResumeEntry(const std::string& executableName,
                                     const std::string& modulePath) {
  RegistryKey run(registry);
  if (run.Open(reg::kCurrentUser, kRunKeyPath) != reg::kSuccess) return;
  run.SetString(ResumeCommand(modulePath).c_str(), executableName.c_str());
  run.Close();
  Yield();
}

bool RestartResume::ReadMakerKeyFlag(const std::string& applicationName) {
  std::string makerPath = "Software\\" + makerKeyName;
  RegistryKey maker(registry);
  if (maker.Open(reg::kCurrentUser, makerPath.c_str()) != reg::kSuccess) return false;
  RegistryKey application(registry);
  if (application.Open(reg::kCurrentUser, (makerPath + "\\" + applicationName).c_str()) !=
      reg::kSuccess) {
    return true;
  }
  std::uint32_t flag = 0;
  if (application.QueryDword(&flag, "Velmora_ODD_Add") != reg::kSuccess) return true;
  return flag == 1;
}

void RestartResume::WriteMakerKeyFlag(const std::string& applicationName,
                                      bool makerKeyPreexisted) {
  RegistryKey application(registry);
  std::string path = "Software\\" + makerKeyName + "\\" + applicationName;
  if (application.Open(reg::kCurrentUser, path.c_str()) != reg::kSuccess) return;
  application.SetDword(makerKeyPreexisted ? 1 : 0, "Velmora_ODD_Add");
  application.Close();
  Yield();
}

void RestartResume::RemoveUtilityKeys(const std::string& applicationName,
                                      bool makerKeyPreexisted, bool isNtFamily) {
  // An empty name would make the maker's key itself "ours", with every other
  // program's subkey below it.
  if (applicationName.empty()) return;
  RegistryKey parent(registry);
  std::string parentPath = makerKeyPreexisted ? "Software\\" + makerKeyName : "Software";
  const std::string& child = makerKeyPreexisted ? applicationName : makerKeyName;
  if (parent.Open(reg::kCurrentUser, parentPath.c_str()) != reg::kSuccess) return;
  if (isNtFamily) {
    parent.DeleteTree(child.c_str());
  } else {
    parent.DeleteSubKey(child.c_str());
  }
  parent.Close();
}

bool RestartResume::RestartSystem(bool isNtFamily, std::string* failure) {
  auto failed = [&](const char* call) {
    if (failure != nullptr) *failure = call + (", error " + std::to_string(system.GetLastError()));
    return false;
  };
  if (isNtFamily) {
    SysHandle token = 0;
    if (!system.OpenProcessToken(sys::kTokenAdjustPrivileges | sys::kTokenQuery, &token)) {
      return failed("OpenProcessToken");
    }
    std::uint64_t luid = 0;
    const bool found = system.LookupPrivilegeValue("SeShutdownPrivilege", &luid);
    const bool granted =
        found && system.AdjustTokenPrivileges(token, luid, sys::kSePrivilegeEnabled);
    if (!granted) {
      // The error before CloseHandle can overwrite it.
      failed(found ? "AdjustTokenPrivileges" : "LookupPrivilegeValue");
      system.CloseHandle(token);
      return false;
    }
    system.CloseHandle(token);
  }
  if (!system.ExitWindows(sys::kEwxReboot, 0)) return failed("ExitWindowsEx");
  return true;
}

}  // namespace qx
