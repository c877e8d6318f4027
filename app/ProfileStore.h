#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/RegistryKey.h"

namespace qx {

// The utility's own settings area: HKEY_CURRENT_USER "software\<registry key
// name>\<application name>", with sections as backslash-separated subkey paths
// below it ("" is the area itself). Opening a section creates what is missing,
// also for a read.
class ProfileStore {
 public:
  ProfileStore(Registry& registry, std::string applicationName,
               std::string registryKeyName = "Velmora_ODD");

  void SetRegistryKeyName(const std::string& name) { makerKeyName = name; }
  const std::string& registryKeyName() const { return makerKeyName; }
  const std::string& applicationName() const { return applicationKeyName; }
  // "software\<registry key name>\<application name>" relative to HKEY_CURRENT_USER.
  std::string ProfilePath() const;

  // The stored REG_DWORD, or defaultValue when anything fails.
  int GetInt(const std::string& section, const std::string& entry, int defaultValue);
  bool WriteInt(const std::string& section, const std::string& entry, int value);
  bool WriteString(const std::string& section, const std::string& entry, const std::string& text);
  // REG_BINARY, exactly the bytes given (none is allowed).
  bool WriteBinary(const std::string& section, const std::string& entry,
                   const std::vector<std::uint8_t>& bytes);

  // Opens (creating what is missing) the section's key into *key for reading and
  // writing.
  RegStatus OpenSection(const std::string& section, RegistryKey* key);

 private:
  Registry& registry;
  std::string applicationKeyName;
  std::string makerKeyName;
};

}  // namespace qx
