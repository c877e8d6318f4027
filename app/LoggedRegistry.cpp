#include "app/LoggedRegistry.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "update/UpdateLog.h"

namespace qx {

namespace {

// Registry names compare without case; ours are ASCII (and no C runtime call is
// needed that Windows 98's would lack).
std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string ValueText(std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
  char part[16];
  if (type == reg::kTypeDword && size == 4) {
    const std::uint32_t value = data[0] | data[1] << 8 | data[2] << 16 |
                                static_cast<std::uint32_t>(data[3]) << 24;
    std::snprintf(part, sizeof part, "0x%X", static_cast<unsigned>(value));
    return part;
  }
  if (type == reg::kTypeString) {
    std::string text(reinterpret_cast<const char*>(data), size);
    return "\"" + text.substr(0, text.find('\0')) + "\"";
  }
  std::string text = "hex:";
  for (std::uint32_t i = 0; i < size; ++i) {
    std::snprintf(part, sizeof part, i ? " %02X" : "%02X", data[i]);
    text += part;
  }
  return text;
}

}  // namespace

LoggedRegistry::LoggedRegistry(Registry& inner, UpdateLog& log, std::string ownKey)
    : inner(inner), log(log), ownKey(Lower(std::move(ownKey))) {}

std::string LoggedRegistry::PathOf(RegKey key) const {
  switch (key) {
    case reg::kCurrentUser: return "HKCU";
    case reg::kLocalMachine: return "HKLM";
    case reg::kDynData: return "HKDD";
    default: break;
  }
  auto found = paths.find(key);
  return found != paths.end() ? found->second : "?";
}

bool LoggedRegistry::Watched(RegKey key) const {
  const std::string path = Lower(PathOf(key));
  return path.compare(0, ownKey.size(), ownKey) != 0 ||
         (path.size() > ownKey.size() && path[ownKey.size()] != '\\');
}

void LoggedRegistry::Remember(RegStatus status, RegKey parent, const char* subKey,
                              RegKey* result) {
  if (status != reg::kSuccess || result == nullptr) return;
  std::string path = PathOf(parent);
  if (subKey != nullptr && *subKey != '\0') path += std::string("\\") + subKey;
  paths[*result] = path;
}

RegStatus LoggedRegistry::CreateKey(RegKey parent, const char* subKey, std::uint32_t options,
                                    std::uint32_t access, RegKey* result,
                                    std::uint32_t* disposition) {
  RegStatus status = inner.CreateKey(parent, subKey, options, access, result, disposition);
  Remember(status, parent, subKey, result);
  return status;
}

RegStatus LoggedRegistry::OpenKey(RegKey parent, const char* subKey, std::uint32_t access,
                                  RegKey* result) {
  RegStatus status = inner.OpenKey(parent, subKey, access, result);
  Remember(status, parent, subKey, result);
  return status;
}

std::string LoggedRegistry::Describe(RegKey key, const char* name) {
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  if (inner.QueryValue(key, name, &type, nullptr, &size) != reg::kSuccess) return "(none)";
  std::vector<std::uint8_t> data(size + 1, 0);
  if (inner.QueryValue(key, name, &type, data.data(), &size) != reg::kSuccess) return "(unreadable)";
  return ValueText(type, data.data(), size);
}

RegStatus LoggedRegistry::SetValue(RegKey key, const char* name, std::uint32_t type,
                                   const std::uint8_t* data, std::uint32_t size) {
  if (!Watched(key)) return inner.SetValue(key, name, type, data, size);
  const std::string old = Describe(key, name);
  RegStatus status = inner.SetValue(key, name, type, data, size);
  // Registry texts are in the system's code page, as the log is.
  log.WriteSystemText("registry set " + PathOf(key) + " \"" + (name ? name : "") + "\": " + old +
                      " -> " + (data ? ValueText(type, data, size) : "?") +
                      (status == reg::kSuccess ? "" : " (failed, " + std::to_string(status) + ")"));
  return status;
}

RegStatus LoggedRegistry::DeleteValue(RegKey key, const char* name) {
  if (!Watched(key)) return inner.DeleteValue(key, name);
  const std::string old = Describe(key, name);
  RegStatus status = inner.DeleteValue(key, name);
  if (status == reg::kSuccess) {
    log.WriteSystemText("registry delete " + PathOf(key) + " \"" + (name ? name : "") +
                        "\": " + old);
  }
  return status;
}

RegStatus LoggedRegistry::DeleteKey(RegKey key, const char* subKey) {
  RegStatus status = inner.DeleteKey(key, subKey);
  if (status == reg::kSuccess && Watched(key)) {
    log.WriteSystemText("registry delete key " + PathOf(key) + "\\" + (subKey ? subKey : ""));
  }
  return status;
}

RegStatus LoggedRegistry::CloseKey(RegKey key) {
  paths.erase(key);
  return inner.CloseKey(key);
}

}  // namespace qx
