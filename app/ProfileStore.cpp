#include "app/ProfileStore.h"

#include <cstdint>
#include <utility>

namespace qx {

namespace {
// KEY_READ | KEY_WRITE.
constexpr std::uint32_t kKeyReadWrite = 0x2001F;
}  // namespace

ProfileStore::ProfileStore(Registry& registry, std::string applicationName,
                           std::string registryKeyName)
    : registry(registry),
      applicationKeyName(std::move(applicationName)),
      makerKeyName(std::move(registryKeyName)) {}

std::string ProfileStore::ProfilePath() const {
  return "software\\" + makerKeyName + "\\" + applicationKeyName;
}

RegStatus ProfileStore::OpenSection(const std::string& section, RegistryKey* key) {
  // Without an application name the profile would be the maker's key itself, which
  // other programs share.
  if (applicationKeyName.empty()) return reg::kAccessDenied;
  std::string path = ProfilePath();
  if (!section.empty()) path += "\\" + section;
  return key->Create(reg::kCurrentUser, path.c_str(), reg::kOptionNonVolatile, kKeyReadWrite);
}

int ProfileStore::GetInt(const std::string& section, const std::string& entry, int defaultValue) {
  RegistryKey key(registry);
  if (OpenSection(section, &key) != reg::kSuccess) return defaultValue;
  std::uint32_t type = 0;
  std::uint8_t bytes[4] = {0, 0, 0, 0};
  std::uint32_t size = sizeof bytes;
  if (registry.QueryValue(key.Handle(), entry.c_str(), &type, bytes, &size) != reg::kSuccess ||
      type != reg::kTypeDword || size != sizeof bytes) {
    return defaultValue;
  }
  return static_cast<int>(static_cast<std::uint32_t>(bytes[0]) |
                          static_cast<std::uint32_t>(bytes[1]) << 8 |
                          static_cast<std::uint32_t>(bytes[2]) << 16 |
                          static_cast<std::uint32_t>(bytes[3]) << 24);
}

bool ProfileStore::WriteInt(const std::string& section, const std::string& entry, int value) {
  RegistryKey key(registry);
  if (OpenSection(section, &key) != reg::kSuccess) return false;
  return key.SetDword(static_cast<std::uint32_t>(value), entry.c_str()) == reg::kSuccess;
}

bool ProfileStore::WriteString(const std::string& section, const std::string& entry,
                               const std::string& text) {
  RegistryKey key(registry);
  if (OpenSection(section, &key) != reg::kSuccess) return false;
  return key.SetString(text.c_str(), entry.c_str()) == reg::kSuccess;
}

bool ProfileStore::WriteBinary(const std::string& section, const std::string& entry,
                               const std::vector<std::uint8_t>& bytes) {
  RegistryKey key(registry);
  if (OpenSection(section, &key) != reg::kSuccess) return false;
  const std::uint8_t none = 0;
  return key.SetValue(entry.c_str(), reg::kTypeBinary, bytes.empty() ? &none : bytes.data(),
                      static_cast<std::uint32_t>(bytes.size())) == reg::kSuccess;
}

}  // namespace qx
