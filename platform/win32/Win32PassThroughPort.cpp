#include "platform/win32/Win32PassThroughPort.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/PassThroughRequest.h"
#include "platform/win32/AnsiText.h"

// <windows.h> maps these names to their ANSI variants; here they name our seam.
#undef GetDriveType
#undef FormatMessage

namespace qx {

namespace {

HANDLE ToHandle(PortHandle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

std::uint32_t Win32PassThroughPort::GetDriveType(const char* rootName) {
  return ::GetDriveTypeA(rootName);
}

PortHandle Win32PassThroughPort::Open(const char* path) {
  // Read and write access is what the port driver asks of a pass-through caller;
  // sharing both keeps the file system and other programs using the drive.
  HANDLE handle = ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
  if (handle == INVALID_HANDLE_VALUE) return kInvalidPortHandle;
  return reinterpret_cast<PortHandle>(handle);
}

bool Win32PassThroughPort::SendPassThrough(PortHandle handle, PassThroughRequest* block,
                                           std::uint32_t* bytesReturned) {
  DWORD returned = 0;
  const BOOL done = ::DeviceIoControl(ToHandle(handle), passthrough::kIoctlScsiPassThroughDirect,
                                      block, sizeof *block, block, sizeof *block, &returned,
                                      nullptr);
  if (bytesReturned != nullptr) *bytesReturned = returned;
  return done != FALSE;
}

bool Win32PassThroughPort::GetCapabilities(PortHandle handle, IoScsiCapabilities* capabilities,
                                           std::uint32_t* bytesReturned) {
  DWORD returned = 0;
  const BOOL done = ::DeviceIoControl(ToHandle(handle), passthrough::kIoctlScsiGetCapabilities,
                                      nullptr, 0, capabilities, sizeof *capabilities, &returned,
                                      nullptr);
  if (bytesReturned != nullptr) *bytesReturned = returned;
  return done != FALSE;
}

void Win32PassThroughPort::Close(PortHandle handle) { ::CloseHandle(ToHandle(handle)); }

std::uint32_t Win32PassThroughPort::GetLastError() { return ::GetLastError(); }

bool Win32PassThroughPort::FormatMessage(std::uint32_t error, std::uint32_t size,
                                         std::string* text) {
  std::vector<char> buffer(size + 1, '\0');
  const DWORD written = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, 0,
                                         buffer.data(), size, nullptr);
  if (written == 0) return false;
  // The system's text is in the ANSI code page; the program keeps UTF-8. FromAnsi
  // leaves the last error alone.
  *text = FromAnsi(std::string(buffer.data(), std::min<DWORD>(written, size)));
  return true;
}

}  // namespace qx
