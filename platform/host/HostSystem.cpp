#include "platform/host/HostSystem.h"

#include <cstring>
#include <utility>

#include "platform/AsciiText.h"

namespace qx {

namespace {
constexpr std::uint64_t kShutdownPrivilegeLuid = 19;
}  // namespace

void HostMutexTable::Close(const std::string& name) {
  auto it = openCount.find(name);
  if (it == openCount.end()) return;
  if (--it->second <= 0) openCount.erase(it);
}

HostSystem::HostSystem(std::shared_ptr<HostMutexTable> mutexes)
    : mutexTable(mutexes ? std::move(mutexes) : std::make_shared<HostMutexTable>()) {}

HostSystem::~HostSystem() {
  for (const auto& entry : ownMutexes) mutexTable->Close(entry.second);
}

void HostSystem::Record(const std::string& line) {
  events.push_back(line);
  if (listener) listener(line);
}

bool HostSystem::GetVersion(VersionInfo* info) {
  if (versionQueryFails) return false;
  *info = version;
  return true;
}

bool HostSystem::GetPowerStatus(std::uint8_t* acLine) {
  if (powerQueryFails) return false;
  *acLine = acLineStatus;
  return true;
}

SysHandle HostSystem::CreateMutex(const char* name, std::uint32_t* lastError) {
  std::string mutexName = name ? name : "";
  if (mutexCreationFails) {
    if (lastError != nullptr) *lastError = 5;
    Record("MUTEX \"" + mutexName + "\" failed");
    return 0;
  }
  int count = mutexTable->Open(mutexName);
  std::uint32_t error = count > 1 ? sys::kErrorAlreadyExists : 0;
  if (lastError != nullptr) *lastError = error;
  SysHandle handle = nextHandle;
  nextHandle += 4;
  ownMutexes[handle] = mutexName;
  Record("MUTEX \"" + mutexName + "\" " + std::to_string(error));
  return handle;
}

bool HostSystem::ReleaseMutex(SysHandle mutex) {
  bool known = ownMutexes.count(mutex) != 0;
  Record(known ? "MUTEX RELEASE" : "MUTEX RELEASE failed");
  return known;
}

bool HostSystem::GetScreenSaverActive(std::uint32_t* active) {
  *active = screenSaverActive;
  return true;
}

bool HostSystem::SetScreenSaverActive(std::uint32_t active) {
  screenSaverActive = active;
  screenSaverChanges.push_back(active);
  Record("SCREENSAVER " + std::to_string(active));
  return true;
}

std::uint32_t HostSystem::GetModuleFileName(char* buffer, std::uint32_t size) {
  if (modulePath.empty() || size == 0) return 0;
  // As the system does: cut to the buffer, always terminated.
  std::size_t length = modulePath.size() < size ? modulePath.size() : size - 1;
  std::memcpy(buffer, modulePath.data(), length);
  buffer[length] = '\0';
  return static_cast<std::uint32_t>(length);
}

bool HostSystem::OpenProcessToken(std::uint32_t access, SysHandle* token) {
  privilegeSteps.push_back("OpenProcessToken " + std::to_string(access));
  Record("PRIVILEGE " + privilegeSteps.back());
  if (!openTokenSucceeds) return Refuse();
  openToken = nextHandle;
  nextHandle += 4;
  *token = openToken;
  return true;
}

bool HostSystem::LookupPrivilegeValue(const char* name, std::uint64_t* luid) {
  std::string privilege = name ? name : "";
  privilegeSteps.push_back("LookupPrivilegeValue " + privilege);
  Record("PRIVILEGE " + privilegeSteps.back());
  if (!lookupPrivilegeSucceeds || privilege != "SeShutdownPrivilege") return Refuse();
  *luid = kShutdownPrivilegeLuid;
  return true;
}

bool HostSystem::AdjustTokenPrivileges(SysHandle token, std::uint64_t luid,
                                       std::uint32_t attributes) {
  privilegeSteps.push_back("AdjustTokenPrivileges " + std::to_string(attributes));
  Record("PRIVILEGE " + privilegeSteps.back());
  return (adjustPrivilegesSucceeds && token != 0 && token == openToken &&
          luid == kShutdownPrivilegeLuid) ||
         Refuse();
}

bool HostSystem::ExitWindows(std::uint32_t flags, std::uint32_t reason) {
  ++restartRequests;
  lastExitFlags = flags;
  Record("RESTART " + std::to_string(flags) + " " + std::to_string(reason));
  return exitWindowsSucceeds || Refuse();
}

std::uint32_t HostSystem::GetDriveType(const char* rootName) {
  auto found = driveTypes.find(ascii::Upper(std::string(rootName != nullptr ? rootName : "")));
  return found != driveTypes.end() ? found->second : 1;
}

void HostSystem::CloseHandle(SysHandle handle) {
  auto it = ownMutexes.find(handle);
  if (it != ownMutexes.end()) {
    mutexTable->Close(it->second);
    ownMutexes.erase(it);
  }
  if (handle == openToken) openToken = 0;
}

void HostSystem::MessageBeep(std::uint32_t type) {
  beeps.push_back(type);
  Record("BEEP " + std::to_string(type));
}

int HostSystem::MessageBox(WindowRef owner, const std::string& text, const std::string& caption,
                           std::uint32_t flags) {
  int answer = messageBoxAnswer ? messageBoxAnswer(owner, text, caption, flags) : 1;
  messageBoxes.push_back(MessageBoxCall{owner, text, caption, flags, answer});
  Record("MESSAGEBOX \"" + text + "\" -> " + std::to_string(answer));
  return answer;
}

}  // namespace qx
