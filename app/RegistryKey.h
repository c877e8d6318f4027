#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Registry.h"

namespace qx {

// Owns one open registry key. Every operation returns the registry's own status;
// a failed Create or Open keeps whatever key was held before.
class RegistryKey {
 public:
  explicit RegistryKey(Registry& registry) : registry(registry) {}
  ~RegistryKey() { Close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // On success the key held before is closed and the status of that close is
  // returned (0 when nothing was held).
  RegStatus Create(RegKey parent, const char* subKey,
                   std::uint32_t options = reg::kOptionNonVolatile,
                   std::uint32_t access = reg::kKeyAllAccess,
                   std::uint32_t* disposition = nullptr);
  RegStatus Open(RegKey parent, const char* subKey, std::uint32_t access = reg::kKeyAllAccess);

  // Four bytes, whatever the stored type; a shorter value leaves the rest zero.
  RegStatus QueryDword(std::uint32_t* value, const char* name);
  // Raw bytes into the caller's buffer, no terminating zero added: *size is the
  // buffer size in and the value's size out. Prefer QueryText for texts.
  RegStatus QueryString(char* buffer, const char* name, std::uint32_t* size);
  // A text of at most maxBytes stored bytes, cut at its first zero. A value longer
  // than maxBytes fails with ERROR_MORE_DATA and leaves *text empty.
  RegStatus QueryText(std::string* text, const char* name, std::uint32_t maxBytes);

  RegStatus SetDword(std::uint32_t value, const char* name);
  // REG_SZ, the text and its terminating zero.
  RegStatus SetString(const char* text, const char* name);
  RegStatus SetValue(const char* name, std::uint32_t type, const void* data, std::uint32_t size);

  // Subkey name at index into a buffer of capacity characters (zero included).
  RegStatus EnumSubKey(std::uint32_t index, char* name, std::uint32_t capacity);

  RegStatus DeleteValue(const char* name);
  // RegDeleteKeyA on the held key: the whole subtree on Windows 95/98/ME, only a
  // key without subkeys on the NT family.
  RegStatus DeleteSubKey(const char* subKey);
  // Removes the subkey with everything below it, deepest first; stops at the first
  // child that cannot be removed and returns that status.
  RegStatus DeleteTree(const char* subKey);
  RegStatus Close();

  RegKey Handle() const { return handle; }
  bool IsOpen() const { return handle != 0; }

 private:
  RegStatus Adopt(RegKey key);

  Registry& registry;
  RegKey handle = 0;
};

}  // namespace qx
