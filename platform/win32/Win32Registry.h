#pragma once
#include "platform/Registry.h"

namespace qx {

// The system's registry through its ANSI calls. Handles are HKEYs; the three
// predefined roots keep their system values.
class Win32Registry : public Registry {
 public:
  RegStatus CreateKey(RegKey parent, const char* subKey, std::uint32_t options,
                      std::uint32_t access, RegKey* result,
                      std::uint32_t* disposition) override;
  RegStatus OpenKey(RegKey parent, const char* subKey, std::uint32_t access,
                    RegKey* result) override;
  RegStatus QueryValue(RegKey key, const char* name, std::uint32_t* type,
                       std::uint8_t* data, std::uint32_t* size) override;
  RegStatus SetValue(RegKey key, const char* name, std::uint32_t type,
                     const std::uint8_t* data, std::uint32_t size) override;
  RegStatus EnumKey(RegKey key, std::uint32_t index, char* name,
                    std::uint32_t* nameLength) override;
  RegStatus DeleteKey(RegKey key, const char* subKey) override;
  RegStatus DeleteValue(RegKey key, const char* name) override;
  RegStatus CloseKey(RegKey key) override;
  RegStatus FlushKey(RegKey key) override;
};

}  // namespace qx
