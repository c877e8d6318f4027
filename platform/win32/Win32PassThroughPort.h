#pragma once
// The real pass-through port: drive letters, volume device handles and the two
// SCSI device controls of the NT family. Deliberately free of <windows.h>, so the
// macros that header defines never rename the seam's operations.
#include <cstdint>

#include "platform/PassThroughPort.h"

namespace qx {

class Win32PassThroughPort : public PassThroughPort {
 public:
  std::uint32_t GetDriveType(const char* rootName) override;
  PortHandle Open(const char* path) override;
  bool SendPassThrough(PortHandle handle, PassThroughRequest* block,
                       std::uint32_t* bytesReturned) override;
  bool GetCapabilities(PortHandle handle, IoScsiCapabilities* capabilities,
                       std::uint32_t* bytesReturned) override;
  void Close(PortHandle handle) override;
  std::uint32_t GetLastError() override;
  bool FormatMessage(std::uint32_t error, std::uint32_t size, std::string* text) override;
};

}  // namespace qx
