#pragma once
// The request blocks the ASPI manager takes through SendASPI32Command. Their layout
// is the manager's; the 32-bit build pins it below. Every field is naturally aligned
// there, so no packing is needed. Natively the pointer-sized fields are wider and the
// blocks grow, which only the simulated manager ever sees.
#include <cstddef>
#include <cstdint>

namespace qx {

namespace aspi {
// SRB_Cmd values.
constexpr std::uint8_t kHostAdapterInquiry = 0x00;  // SC_HA_INQUIRY
constexpr std::uint8_t kExecScsiCmd = 0x02;         // SC_EXEC_SCSI_CMD
constexpr std::uint8_t kAbortSrb = 0x03;            // SC_ABORT_SRB

// SRB_Status values the transport itself looks at.
constexpr std::uint8_t kStatusPending = 0x00;  // SS_PENDING
constexpr std::uint8_t kStatusComplete = 0x01;  // SS_COMP

// SRB_HaStat values a manager reports for a failed request.
constexpr std::uint8_t kHaSelectionTimeout = 0x11;  // HASTAT_SEL_TO
constexpr std::uint8_t kHaDataOverrun = 0x12;       // HASTAT_DO_DU: data overrun or underrun
constexpr std::uint8_t kHaBusFree = 0x13;           // HASTAT_BUS_FREE: unexpected bus free
constexpr std::uint8_t kHaPhaseError = 0x14;        // the target went to a phase not expected

// SRB_Flags.
constexpr std::uint8_t kFlagDirIn = 0x08;
constexpr std::uint8_t kFlagDirOut = 0x10;
constexpr std::uint8_t kFlagEventNotify = 0x40;

constexpr std::uint8_t kSenseLength = 14;  // what a request asks for and keeps
constexpr std::size_t kSenseAreaSize = 16;

// The data of a request is staged in an area of its own, starting at the first
// 16-byte boundary that is 1 to 16 bytes in; what is left is the largest transfer.
constexpr std::uint32_t kStagingSize = 33024;
constexpr std::uint32_t kMaxTransferLength = kStagingSize - 16;  // 33008

// The tables are indexed by adapter number and target id, both below this.
constexpr std::uint8_t kMaxAdapters = 7;
constexpr std::uint8_t kMaxTargets = 7;

// GetASPI32SupportInfo: bits 15-8 the manager's status, bits 7-0 the adapter count.
constexpr std::uint8_t SupportStatus(std::uint32_t info) { return (info >> 8) & 0xFF; }
constexpr std::uint8_t SupportAdapterCount(std::uint32_t info) { return info & 0xFF; }
}  // namespace aspi

// SRB_ExecSCSICmd: one command to one target.
struct SrbExecScsiCmd {
  std::uint8_t SRB_Cmd;          // kExecScsiCmd
  std::uint8_t SRB_Status;       // SS_PENDING while under way
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint16_t SRB_Rsvd1;
  std::uint32_t SRB_BufLen;
  std::uint8_t* SRB_BufPointer;
  std::uint8_t SRB_SenseLen;
  std::uint8_t SRB_CDBLen;
  std::uint8_t SRB_HaStat;
  std::uint8_t SRB_TargStat;
  std::uintptr_t SRB_PostProc;   // the completion event
  std::uint8_t SRB_Rsvd2[20];
  std::uint8_t CDBByte[16];
  std::uint8_t SenseArea[aspi::kSenseAreaSize];
};

// SRB_HAInquiry: what the manager knows of one host adapter.
struct SrbHaInquiry {
  std::uint8_t SRB_Cmd;          // kHostAdapterInquiry
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t HA_Count;
  std::uint8_t HA_SCSI_ID;       // the adapter's own id on its bus
  std::uint8_t HA_ManagerId[16];
  std::uint8_t HA_Identifier[16];
  std::uint8_t HA_Unique[16];
  std::uint16_t HA_Rsvd1;
};

// SRB_Abort: withdraws a request that is still pending.
struct SrbAbort {
  std::uint8_t SRB_Cmd;          // kAbortSrb
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  void* SRB_ToAbort;
};

// One request: the block and its staging area in one piece of locked memory, so
// that both live and die together.
struct AspiExecRequest {
  SrbExecScsiCmd srb;
  std::uint8_t staging[aspi::kStagingSize];
};

// The first 16-byte boundary 1 to 16 bytes into the staging area.
inline std::uint8_t* AlignedDataStart(std::uint8_t* staging) {
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(staging);
  return staging + (((address + 16) & ~std::uintptr_t(15)) - address);
}

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SrbExecScsiCmd) == 80, "SRB_ExecSCSICmd is 80 bytes");
static_assert(offsetof(SrbExecScsiCmd, SRB_HaId) == 2, "");
static_assert(offsetof(SrbExecScsiCmd, SRB_Flags) == 3, "");
static_assert(offsetof(SrbExecScsiCmd, SRB_Hdr_Rsvd) == 4, "");
static_assert(offsetof(SrbExecScsiCmd, SRB_Target) == 8, "");
static_assert(offsetof(SrbExecScsiCmd, SRB_Lun) == 9, "");
static_assert(offsetof(SrbExecScsiCmd, SRB_BufLen) == 12, "");
static_assert(offsetof(SrbExecScsiCmd, SRB_BufPointer) == 16, "");
static_assert(offsetof(SrbExecScsiCmd, SRB_SenseLen) == 20, "");
static_assert(offsetof(SrbExecScsiCmd, SRB_CDBLen) == 21, "");
static_assert(offsetof(SrbExecScsiCmd, SRB_HaStat) == 22, "");
static_assert(offsetof(SrbExecScsiCmd, SRB_TargStat) == 23, "");
static_assert(offsetof(SrbExecScsiCmd, SRB_PostProc) == 24, "");
static_assert(offsetof(SrbExecScsiCmd, SRB_Rsvd2) == 28, "");
static_assert(offsetof(SrbExecScsiCmd, CDBByte) == 48, "");
static_assert(offsetof(SrbExecScsiCmd, SenseArea) == 64, "");
static_assert(sizeof(SrbHaInquiry) == 60, "SRB_HAInquiry is 60 bytes");
static_assert(offsetof(SrbHaInquiry, HA_Count) == 8, "");
static_assert(offsetof(SrbHaInquiry, HA_SCSI_ID) == 9, "");
static_assert(offsetof(SrbHaInquiry, HA_ManagerId) == 10, "");
static_assert(offsetof(SrbHaInquiry, HA_Identifier) == 26, "");
static_assert(offsetof(SrbHaInquiry, HA_Unique) == 42, "");
static_assert(offsetof(SrbHaInquiry, HA_Rsvd1) == 58, "");
static_assert(sizeof(SrbAbort) == 12, "SRB_Abort is 12 bytes");
static_assert(offsetof(SrbAbort, SRB_ToAbort) == 8, "");
static_assert(offsetof(AspiExecRequest, staging) == 80, "staging area right after the block");
#endif

}  // namespace qx
