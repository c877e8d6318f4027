#pragma once
// A registry that passes every call on and notes in the update log each value
// written or deleted outside the utility's own key, with what it held before: the
// system settings the journal changes and restores, and the resume entry.
#include <map>
#include <string>

#include "platform/Registry.h"

namespace qx {

class UpdateLog;

class LoggedRegistry : public Registry {
 public:
  // `ownKey` is the utility's own area ("HKCU\Software\Velmora_ODD"): its journal
  // records would only repeat what the settings themselves show.
  LoggedRegistry(Registry& inner, UpdateLog& log, std::string ownKey);

  RegStatus CreateKey(RegKey parent, const char* subKey, std::uint32_t options,
                      std::uint32_t access, RegKey* result, std::uint32_t* disposition) override;
  RegStatus OpenKey(RegKey parent, const char* subKey, std::uint32_t access,
                    RegKey* result) override;
  RegStatus QueryValue(RegKey key, const char* name, std::uint32_t* type, std::uint8_t* data,
                       std::uint32_t* size) override {
    return inner.QueryValue(key, name, type, data, size);
  }
  RegStatus SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                     std::uint32_t size) override;
  RegStatus EnumKey(RegKey key, std::uint32_t index, char* name,
                    std::uint32_t* nameLength) override {
    return inner.EnumKey(key, index, name, nameLength);
  }
  RegStatus DeleteKey(RegKey key, const char* subKey) override;
  RegStatus DeleteValue(RegKey key, const char* name) override;
  RegStatus CloseKey(RegKey key) override;
  RegStatus FlushKey(RegKey key) override { return inner.FlushKey(key); }

 private:
  std::string PathOf(RegKey key) const;
  bool Watched(RegKey key) const;
  // The value as the log shows it: a number, "text", hex bytes, or (none).
  std::string Describe(RegKey key, const char* name);
  void Remember(RegStatus status, RegKey parent, const char* subKey, RegKey* result);

  Registry& inner;
  UpdateLog& log;
  std::string ownKey;
  std::map<RegKey, std::string> paths;
};

}  // namespace qx
