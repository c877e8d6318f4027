#include "platform/win32/Win32Registry.h"

#include <windows.h>

namespace qx {

namespace {

// The roots are sign-extended handle values: on a 64-bit build 0x80000001 must
// become HKEY_CURRENT_USER, not a zero-extended number no key has.
HKEY ToHkey(RegKey key) {
  switch (key) {
    case reg::kCurrentUser: return HKEY_CURRENT_USER;
    case reg::kLocalMachine: return HKEY_LOCAL_MACHINE;
    case reg::kDynData: return HKEY_DYN_DATA;
    default: return reinterpret_cast<HKEY>(key);
  }
}
RegKey FromHkey(HKEY key) { return reinterpret_cast<RegKey>(key); }

}  // namespace

RegStatus Win32Registry::CreateKey(RegKey parent, const char* subKey, std::uint32_t options,
                                   std::uint32_t access, RegKey* result,
                                   std::uint32_t* disposition) {
  HKEY key = nullptr;
  DWORD how = 0;
  LONG status = RegCreateKeyExA(ToHkey(parent), subKey, 0, nullptr, options, access, nullptr,
                                &key, &how);
  if (result != nullptr) *result = status == ERROR_SUCCESS ? FromHkey(key) : 0;
  if (status == ERROR_SUCCESS && disposition != nullptr) *disposition = how;
  return status;
}

RegStatus Win32Registry::OpenKey(RegKey parent, const char* subKey, std::uint32_t access,
                                 RegKey* result) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(ToHkey(parent), subKey, 0, access, &key);
  if (result != nullptr) *result = status == ERROR_SUCCESS ? FromHkey(key) : 0;
  return status;
}

RegStatus Win32Registry::QueryValue(RegKey key, const char* name, std::uint32_t* type,
                                    std::uint8_t* data, std::uint32_t* size) {
  DWORD valueType = 0;
  DWORD count = size != nullptr ? *size : 0;
  LONG status = RegQueryValueExA(ToHkey(key), name, nullptr, type != nullptr ? &valueType : nullptr,
                                 data, size != nullptr ? &count : nullptr);
  if (type != nullptr && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA)) {
    *type = valueType;
  }
  if (size != nullptr) *size = count;
  return status;
}

RegStatus Win32Registry::SetValue(RegKey key, const char* name, std::uint32_t type,
                                  const std::uint8_t* data, std::uint32_t size) {
  return RegSetValueExA(ToHkey(key), name, 0, type, data, size);
}

RegStatus Win32Registry::EnumKey(RegKey key, std::uint32_t index, char* name,
                                 std::uint32_t* nameLength) {
  DWORD length = nameLength != nullptr ? *nameLength : 0;
  LONG status = RegEnumKeyExA(ToHkey(key), index, name, nameLength != nullptr ? &length : nullptr,
                              nullptr, nullptr, nullptr, nullptr);
  if (nameLength != nullptr) *nameLength = length;
  return status;
}

RegStatus Win32Registry::DeleteKey(RegKey key, const char* subKey) {
  return RegDeleteKeyA(ToHkey(key), subKey);
}

RegStatus Win32Registry::DeleteValue(RegKey key, const char* name) {
  return RegDeleteValueA(ToHkey(key), name);
}

RegStatus Win32Registry::CloseKey(RegKey key) { return RegCloseKey(ToHkey(key)); }

RegStatus Win32Registry::FlushKey(RegKey key) { return RegFlushKey(ToHkey(key)); }

}  // namespace qx
