#include "app/RegistryKey.h"

#include <cstring>
#include <vector>

namespace qx {

RegStatus RegistryKey::Adopt(RegKey key) {
  RegStatus closed = Close();
  handle = key;
  return closed;
}

RegStatus RegistryKey::Create(RegKey parent, const char* subKey, std::uint32_t options,
                              std::uint32_t access, std::uint32_t* disposition) {
  RegKey key = 0;
  RegStatus status = registry.CreateKey(parent, subKey, options, access, &key, disposition);
  if (status != reg::kSuccess) return status;
  return Adopt(key);
}

RegStatus RegistryKey::Open(RegKey parent, const char* subKey, std::uint32_t access) {
  RegKey key = 0;
  RegStatus status = registry.OpenKey(parent, subKey, access, &key);
  if (status != reg::kSuccess) return status;
  return Adopt(key);
}

RegStatus RegistryKey::QueryDword(std::uint32_t* value, const char* name) {
  std::uint8_t bytes[4] = {0, 0, 0, 0};
  std::uint32_t size = sizeof bytes;
  RegStatus status = registry.QueryValue(handle, name, nullptr, bytes, &size);
  if (status == reg::kSuccess) {
    *value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
             static_cast<std::uint32_t>(bytes[2]) << 16 |
             static_cast<std::uint32_t>(bytes[3]) << 24;
  }
  return status;
}

RegStatus RegistryKey::QueryString(char* buffer, const char* name, std::uint32_t* size) {
  return registry.QueryValue(handle, name, nullptr, reinterpret_cast<std::uint8_t*>(buffer), size);
}

RegStatus RegistryKey::QueryText(std::string* text, const char* name, std::uint32_t maxBytes) {
  text->clear();
  // The stored bytes need not end in a zero, and a value may fill the buffer
  // exactly: read into one byte more than allowed and terminate at the size read.
  std::vector<char> buffer(static_cast<std::size_t>(maxBytes) + 1, '\0');
  std::uint32_t size = maxBytes;
  RegStatus status = QueryString(buffer.data(), name, &size);
  if (status != reg::kSuccess) return status;
  if (size > maxBytes) size = maxBytes;
  buffer[size] = '\0';
  text->assign(buffer.data(), std::strlen(buffer.data()));
  return status;
}

RegStatus RegistryKey::SetDword(std::uint32_t value, const char* name) {
  std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                           static_cast<std::uint8_t>(value >> 16),
                           static_cast<std::uint8_t>(value >> 24)};
  return registry.SetValue(handle, name, reg::kTypeDword, bytes, sizeof bytes);
}

RegStatus RegistryKey::SetString(const char* text, const char* name) {
  return registry.SetValue(handle, name, reg::kTypeString,
                            reinterpret_cast<const std::uint8_t*>(text),
                            static_cast<std::uint32_t>(std::strlen(text) + 1));
}

RegStatus RegistryKey::SetValue(const char* name, std::uint32_t type, const void* data,
                                std::uint32_t size) {
  return registry.SetValue(handle, name, type, static_cast<const std::uint8_t*>(data), size);
}

RegStatus RegistryKey::EnumSubKey(std::uint32_t index, char* name, std::uint32_t capacity) {
  std::uint32_t length = capacity;
  return registry.EnumKey(handle, index, name, &length);
}

RegStatus RegistryKey::DeleteValue(const char* name) { return registry.DeleteValue(handle, name); }

RegStatus RegistryKey::DeleteSubKey(const char* subKey) {
  return registry.DeleteKey(handle, subKey);
}

RegStatus RegistryKey::DeleteTree(const char* subKey) {
  RegistryKey child(registry);
  RegStatus status = child.Open(handle, subKey, reg::kKeyAllAccess);
  if (status != reg::kSuccess) return status;
  for (;;) {
    char name[256];
    // Always index 0: the grandchild just removed is gone from the list.
    if (child.EnumSubKey(0, name, sizeof name) != reg::kSuccess) break;
    status = child.DeleteTree(name);
    if (status != reg::kSuccess) return status;
  }
  child.Close();
  return DeleteSubKey(subKey);
}

RegStatus RegistryKey::Close() {
  if (handle == 0) return reg::kSuccess;
  RegStatus status = registry.CloseKey(handle);
  handle = 0;
  return status;
}

}  // namespace qx
