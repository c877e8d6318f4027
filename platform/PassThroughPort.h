#pragma once
#include <cstdint>
#include <string>

namespace qx {

struct PassThroughRequest;
struct IoScsiCapabilities;

using PortHandle = std::uintptr_t;
constexpr PortHandle kInvalidPortHandle = ~PortHandle(0);  // INVALID_HANDLE_VALUE

// The NT pass-through calls: drive type, the volume device of a drive letter and
// the two device controls. Thin: the system's own results and error numbers.
class PassThroughPort {
 public:
  virtual ~PassThroughPort() = default;
  // GetDriveTypeA("E:"); 5 is DRIVE_CDROM.
  virtual std::uint32_t GetDriveType(const char* rootName) = 0;
  // CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
  // no attributes, OPEN_EXISTING, 0, none); kInvalidPortHandle on failure.
  virtual PortHandle Open(const char* path) = 0;
  // DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT) with the block as input and
  // output; false when the port driver refused the request.
  virtual bool SendPassThrough(PortHandle handle, PassThroughRequest* block,
                               std::uint32_t* bytesReturned) = 0;
  // DeviceIoControl(IOCTL_SCSI_GET_CAPABILITIES) into a 24-byte record.
  virtual bool GetCapabilities(PortHandle handle, IoScsiCapabilities* capabilities,
                               std::uint32_t* bytesReturned) = 0;
  virtual void Close(PortHandle handle) = 0;
  virtual std::uint32_t GetLastError() = 0;
  // FormatMessageA(FROM_SYSTEM, error, language 0) into a buffer of `size` bytes,
  // handed back in UTF-8: the system writes its ANSI code page (Shift-JIS on a
  // Japanese system), and every text inside the program is UTF-8. False on failure
  // (then GetLastError tells why).
  virtual bool FormatMessage(std::uint32_t error, std::uint32_t size, std::string* text) = 0;
};

}  // namespace qx
