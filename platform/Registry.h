#pragma once
#include <cstdint>

namespace qx {

// An open registry key as the system hands it out; 0 means none. The predefined
// roots are the system's own values.
using RegKey = std::uintptr_t;
// Win32 status codes, passed through unchanged.
using RegStatus = long;

namespace reg {
constexpr RegKey kCurrentUser = 0x80000001u;
constexpr RegKey kLocalMachine = 0x80000002u;
constexpr RegKey kDynData = 0x80000006u;

constexpr RegStatus kSuccess = 0;
constexpr RegStatus kFileNotFound = 2;
constexpr RegStatus kAccessDenied = 5;
constexpr RegStatus kInvalidHandle = 6;
constexpr RegStatus kInvalidParameter = 87;
constexpr RegStatus kMoreData = 234;
constexpr RegStatus kNoMoreItems = 259;
constexpr RegStatus kKeyDeleted = 1018;  // the handle's key was deleted meanwhile

constexpr std::uint32_t kKeyAllAccess = 0xF003F;
constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kOptionNonVolatile = 0;

constexpr std::uint32_t kTypeString = 1;  // REG_SZ
constexpr std::uint32_t kTypeBinary = 3;  // REG_BINARY
constexpr std::uint32_t kTypeDword = 4;   // REG_DWORD

constexpr std::uint32_t kCreatedNewKey = 1;
constexpr std::uint32_t kOpenedExistingKey = 2;
}  // namespace reg

// The nine registry calls the program makes, as thin as the system's own.
class Registry {
 public:
  virtual ~Registry() = default;
  // RegCreateKeyExA with no class and no security attributes.
  virtual RegStatus CreateKey(RegKey parent, const char* subKey, std::uint32_t options,
                              std::uint32_t access, RegKey* result,
                              std::uint32_t* disposition) = 0;
  // RegOpenKeyExA with options 0.
  virtual RegStatus OpenKey(RegKey parent, const char* subKey, std::uint32_t access,
                            RegKey* result) = 0;
  // RegQueryValueExA. type and data may be null; *size is in/out (bytes).
  virtual RegStatus QueryValue(RegKey key, const char* name, std::uint32_t* type,
                               std::uint8_t* data, std::uint32_t* size) = 0;
  // RegSetValueExA.
  virtual RegStatus SetValue(RegKey key, const char* name, std::uint32_t type,
                             const std::uint8_t* data, std::uint32_t size) = 0;
  // RegEnumKeyExA: *nameLength is the buffer size in characters on the way in and
  // the name's length without its zero on the way out.
  virtual RegStatus EnumKey(RegKey key, std::uint32_t index, char* name,
                            std::uint32_t* nameLength) = 0;
  // RegDeleteKeyA.
  virtual RegStatus DeleteKey(RegKey key, const char* subKey) = 0;
  // RegDeleteValueA.
  virtual RegStatus DeleteValue(RegKey key, const char* name) = 0;
  // RegCloseKey.
  virtual RegStatus CloseKey(RegKey key) = 0;
  // RegFlushKey: returns once the key's hive is on disk. The system writes a hive
  // back lazily and each on its own, so a power cut keeps only what was flushed
  // (and maybe some of what came later), hive by hive, not in the order written.
  virtual RegStatus FlushKey(RegKey key) = 0;
};

}  // namespace qx
