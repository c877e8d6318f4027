#pragma once
// The request block that the NT port driver takes with IOCTL_SCSI_PASS_THROUGH_DIRECT,
// and the capability record of IOCTL_SCSI_GET_CAPABILITIES. Their layout is the
// platform's; the 32-bit build pins it below. Natively the pointer is wider, so the
// simulated port finds the sense area through SenseInfoOffset, as the driver does.
#include <cstddef>
#include <cstdint>

namespace qx {

struct ScsiPassThroughDirect {
  std::uint16_t Length;             // its own size: 44 in a 32-bit build
  std::uint8_t ScsiStatus;          // the target's status on the way out
  std::uint8_t PathId;              // 0
  std::uint8_t TargetId;            // 1
  std::uint8_t Lun;                 // 0
  std::uint8_t CdbLength;           // 6 or 10
  std::uint8_t SenseInfoLength;     // 24
  std::uint8_t DataIn;              // 0 out, 1 in, 2 unspecified
  std::uint32_t DataTransferLength;
  std::uint32_t TimeOutValue;       // seconds
  void* DataBuffer;
  std::uint32_t SenseInfoOffset;    // from the start of the block
  std::uint8_t Cdb[16];
};

namespace passthrough {
constexpr std::uint32_t kIoctlScsiPassThroughDirect = 0x4D014;
constexpr std::uint32_t kIoctlScsiGetCapabilities = 0x41010;
constexpr std::uint8_t kDataOut = 0;
constexpr std::uint8_t kDataIn = 1;
constexpr std::uint8_t kDataUnspecified = 2;
constexpr std::uint8_t kSenseLength = 24;
constexpr std::uint32_t kPortTimeoutSeconds = 200;
constexpr std::uint32_t kStagingSize = 36864;
constexpr std::uint32_t kDriveTypeCdrom = 5;
}  // namespace passthrough

struct PassThroughRequest {
  ScsiPassThroughDirect spt;
  std::uint32_t reserved1;
  std::uint8_t senseData[passthrough::kSenseLength];
  std::uint8_t reserved2[8];
  // The data starts 1 to 16 bytes in, on the first 16-byte boundary after offset 80.
  std::uint8_t staging[passthrough::kStagingSize];
};

struct IoScsiCapabilities {
  std::uint32_t Length;
  std::uint32_t MaximumTransferLength;
  std::uint32_t MaximumPhysicalPages;
  std::uint32_t SupportedAsynchronousEvents;
  std::uint32_t AlignmentMask;
  std::uint8_t TaggedQueuing;
  std::uint8_t AdapterScansDown;
  std::uint8_t AdapterUsesPio;
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(ScsiPassThroughDirect) == 44, "SCSI_PASS_THROUGH_DIRECT is 44 bytes");
static_assert(offsetof(ScsiPassThroughDirect, ScsiStatus) == 2, "");
static_assert(offsetof(ScsiPassThroughDirect, TargetId) == 4, "");
static_assert(offsetof(ScsiPassThroughDirect, CdbLength) == 6, "");
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoLength) == 7, "");
static_assert(offsetof(ScsiPassThroughDirect, DataIn) == 8, "");
static_assert(offsetof(ScsiPassThroughDirect, DataTransferLength) == 12, "");
static_assert(offsetof(ScsiPassThroughDirect, TimeOutValue) == 16, "");
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == 20, "");
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 24, "");
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == 28, "");
static_assert(sizeof(PassThroughRequest) == 36944, "the request block is 36944 bytes");
static_assert(offsetof(PassThroughRequest, senseData) == 48, "sense area at 48");
static_assert(offsetof(PassThroughRequest, staging) == 80, "staging area at 80");
static_assert(sizeof(IoScsiCapabilities) == 24, "IO_SCSI_CAPABILITIES is 24 bytes");
static_assert(offsetof(IoScsiCapabilities, MaximumTransferLength) == 4, "");
static_assert(offsetof(IoScsiCapabilities, AdapterUsesPio) == 22, "");
#endif

}  // namespace qx
