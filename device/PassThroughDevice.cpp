#include "device/PassThroughDevice.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "device/Inquiry.h"
#include "device/StatusTexts.h"
#include "platform/PassThroughRequest.h"
#include "platform/PassThroughPort.h"
#include "platform/System.h"
#include "text/TextCatalogue.h"

namespace qx {

namespace {

constexpr std::uint32_t kProbeMaxTransfer = 0x10000;
constexpr std::uint32_t kUnknownMaxTransfer = 0x10000;
constexpr std::uint32_t kMaxTransferCeiling = 0x20000;

// The drive puts its sense-key specific field in bytes 15-17 and a vendor byte after
// it; byte 19 is the last one the port hands back that still says something about
// the failure, and the one our support staff ask for.
constexpr int kSenseExtraByte = 19;

constexpr std::size_t kFormatMessageBufferSize = 80;

constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kDriveTypeNoRootDir = 1;

// The drive tables shared by every PassThroughDevice.
struct DriveTables {
  std::string entry[PassThroughDevice::kSlotCount];
  std::uint32_t maxTransfer[PassThroughDevice::kSlotCount] = {};
  int inUse[PassThroughDevice::kSlotCount] = {};
};

DriveTables& Tables() {
  static DriveTables tables;
  return tables;
}

// `text` with its "%d" replaced by `number`, shown signed as the system's errors
// always have been.
std::string WithNumber(std::string text, std::uint32_t number) {
  const std::size_t at = text.find("%d");
  if (at != std::string::npos) text.replace(at, 2, std::to_string(static_cast<int>(number)));
  return text;
}

std::string DevicePath(const std::string& entry) {
  // The entry starts with the letter and the colon: "E:" opens as "\\.\E:".
  return "\\\\.\\" + entry.substr(0, 2);
}

std::uint8_t* AlignedDataStart(PassThroughRequest& block) {
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block.staging);
  const std::uintptr_t aligned = (start + 16) & ~std::uintptr_t(15);
  return block.staging + (aligned - start);
}

std::uint8_t DataInFor(std::uint8_t opcodeByte) {
  switch (DirectionOf(opcodeByte)) {
    case DataDirection::Out:
      return passthrough::kDataOut;
    case DataDirection::In:
      return passthrough::kDataIn;
    default:
      return passthrough::kDataUnspecified;
  }
}

}  // namespace

PassThroughDevice::PassThroughDevice(const Platform& platform) : platform(platform) {}

void PassThroughDevice::ResetTables() { Tables() = DriveTables(); }

int& PassThroughDevice::InUseFlag(std::uint8_t index) {
  return Tables().inUse[index < kSlotCount ? index : kProbeSlot];
}

std::string PassThroughDevice::GetDriveEntry(int index) const {
  if (index < 0 || index >= kSlotCount) return std::string();
  return Tables().entry[index];
}

void PassThroughDevice::SelectDrive(std::uint8_t index) {
  driveIndex = index;
  lun = 0;
}

std::uint32_t PassThroughDevice::MaxTransferLength(std::uint8_t index) const {
  return index < kSlotCount ? Tables().maxTransfer[index] : 0;
}

const std::string& PassThroughDevice::CatalogueText(TextId id) const {
  return Text(id, TextLanguage(platform.system));
}

void PassThroughDevice::SetHandleErrorMessage(std::uint32_t error) {
  // The number is a system error, but it has always been shown with the C runtime's
  // text for the errno of the same value; users and support know those texts.
  lastMessage = WithNumber(CatalogueText(TextId::HandleError), error);
  lastMessage += std::strerror(static_cast<int>(error));
}

void PassThroughDevice::SetRequestErrorMessage(std::uint32_t error) {
  lastMessage = WithNumber(CatalogueText(TextId::RequestError), error);
  // The port hands the system's text over in UTF-8, like every text in here.
  std::string systemText;
  if (!platform.passThroughPort->FormatMessage(error, kFormatMessageBufferSize, &systemText)) {
    lastMessage += WithNumber(CatalogueText(TextId::FormatMessageFailed),
                              platform.passThroughPort->GetLastError());
    return;
  }
  lastMessage += systemText.substr(0, systemText.find('\0'));
}

CommandStatus PassThroughDevice::ExecuteOnce(std::uint8_t* cdb, std::uint8_t length,
                                             std::uint32_t /*timeoutSeconds*/) {
  senseRecord = SenseRecord();
  hostAdapterStatus = 0;
  targetStatus = 0;
  openError = 0;
  requestError = 0;

  if (driveIndex >= kSlotCount || platform.passThroughPort == nullptr) {
    lastMessage = CatalogueText(TextId::NoDevice);
    return status::kError;
  }
  DriveTables& tables = Tables();
  const InUseScope inUse(tables.inUse[driveIndex]);
  if (!inUse.Taken()) {
    lastMessage = CatalogueText(TextId::InUse);
    return status::kInUse;
  }

  // Built here, on this thread's stack, so that the worker and the dialog never share one.
  PassThroughRequest block;
  std::uint8_t* const data = AlignedDataStart(block);
  const std::uint32_t stagingRoom =
      static_cast<std::uint32_t>(block.staging + passthrough::kStagingSize - data);
  // The port driver's maximum may exceed what the block can stage; a longer
  // transfer would run past the block, so it is refused like any other oversize one.
  if (tables.maxTransfer[driveIndex] < transferLength || stagingRoom < transferLength ||
      length > sizeof block.spt.Cdb) {
    lastMessage = CatalogueText(TextId::BufferTooBig);
    return status::kBufferTooBig;
  }
  lastMessage.clear();

  PassThroughPort& port = *platform.passThroughPort;
  const PortHandle handle = port.Open(DevicePath(tables.entry[driveIndex]).c_str());
  if (handle == kInvalidPortHandle) {
    openError = port.GetLastError();
    SetHandleErrorMessage(openError);
    return status::kError;
  }

  std::memset(&block, 0, sizeof block);
  ScsiPassThroughDirect& spt = block.spt;
  // The structure's size in this build: 44 in the shipped 32-bit program. A 64-bit
  // build's structure is wider, and a 64-bit port refuses the 32-bit size from it.
  spt.Length = sizeof(ScsiPassThroughDirect);
  spt.TargetId = 1;
  spt.CdbLength = length;
  spt.SenseInfoLength = passthrough::kSenseLength;
  spt.DataIn = DataInFor(cdb[0]);
  spt.DataTransferLength = transferLength;
  spt.TimeOutValue = passthrough::kPortTimeoutSeconds;
  spt.DataBuffer = data;
  spt.SenseInfoOffset = offsetof(PassThroughRequest, senseData);
  std::memcpy(spt.Cdb, cdb, length);
  const bool haveData = transferBuffer != nullptr && transferLength != 0;
  if (haveData) std::memcpy(data, transferBuffer, transferLength);

  std::uint32_t bytesReturned = 0;
  const bool sent = port.SendPassThrough(handle, &block, &bytesReturned);
  // Taken before anything else can overwrite the thread's last error.
  const std::uint32_t sendError = sent ? 0 : port.GetLastError();
  // The caller's buffer always receives the staging area; after a refused request
  // that is its own data, unchanged.
  if (haveData) std::memcpy(transferBuffer, data, transferLength);
  port.Close(handle);

  if (!sent) {
    requestError = sendError;
    SetRequestErrorMessage(sendError);
    return status::kError;
  }

  targetStatus = spt.ScsiStatus;
  hostAdapterStatus = 0;
  const CommandStatus result = spt.ScsiStatus == scsi::kStatusGood ? status::kGood : status::kError;
  senseLength = sense::LengthOf(block.senseData);
  std::memcpy(senseRecord.bytes, block.senseData, sizeof senseRecord.bytes);

  if (result == status::kError) {
    lastMessage = commandName;
    if (spt.ScsiStatus == scsi::kStatusCheckCondition) {
      char text[32];
      std::snprintf(text, sizeof text, " %02X-%02X (%02X)", block.senseData[sense::kAscOffset],
                    block.senseData[sense::kAscqOffset], block.senseData[kSenseExtraByte]);
      lastMessage += text;
    } else {
      lastMessage += TargetStatusText(spt.ScsiStatus, TargetTable::PassThrough);
    }
  }
  return result;
}

std::uint32_t PassThroughDevice::QueryMaxTransfer(std::uint8_t index) {
  lastMessage.clear();
  if (index >= kSlotCount || platform.passThroughPort == nullptr) return 0;
  DriveTables& tables = Tables();
  PassThroughPort& port = *platform.passThroughPort;
  const PortHandle handle = port.Open(DevicePath(tables.entry[index]).c_str());
  if (handle == kInvalidPortHandle) {
    SetHandleErrorMessage(port.GetLastError());
    tables.inUse[index] = 0;
    return 0;
  }
  IoScsiCapabilities capabilities;
  std::memset(&capabilities, 0, sizeof capabilities);
  std::uint32_t bytesReturned = 0;
  const bool answered = port.GetCapabilities(handle, &capabilities, &bytesReturned);
  port.Close(handle);
  if (!answered) return kUnknownMaxTransfer;
  // Transfers beyond 128 KiB have never been tried with this drive; we stay below.
  return capabilities.MaximumTransferLength < kMaxTransferCeiling
             ? capabilities.MaximumTransferLength
             : kMaxTransferCeiling;
}

std::string PassThroughDevice::InquiryFailure(CommandStatus result) const {
  char text[96];
  if (openError == kErrorAccessDenied) {
    return "cannot be opened, error 5 (access denied: administrator rights are needed)";
  }
  if (openError != 0) {
    std::snprintf(text, sizeof text, "cannot be opened, error %u", static_cast<unsigned>(openError));
  } else if (requestError != 0) {
    std::snprintf(text, sizeof text, "no answer: the request failed, error %u",
                  static_cast<unsigned>(requestError));
  } else if (result == status::kError) {
    std::snprintf(text, sizeof text, "INQUIRY refused: target status %02X, sense %02X/%02X/%02X",
                  targetStatus, senseRecord.SenseKey(), senseRecord.Asc(), senseRecord.Ascq());
  } else {
    std::snprintf(text, sizeof text, "INQUIRY not sent, status %02X", result);
  }
  return text;
}

std::uint8_t PassThroughDevice::ScanDrives() {
  DriveTables& tables = Tables();
  driveIndex = kProbeSlot;
  lun = 0;
  tables.inUse[kProbeSlot] = 0;
  tables.maxTransfer[kProbeSlot] = kProbeMaxTransfer;
  scanNotes.clear();
  std::uint8_t count = 0;
  if (platform.passThroughPort == nullptr) return count;

  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    std::memset(scanBuffer, 0, sizeof scanBuffer);
    const char root[3] = {letter, ':', '\0'};
    tables.entry[kProbeSlot] = root;
    auto note = [&](const std::string& what) { scanNotes.push_back(root + (" " + what)); };
    const std::uint32_t driveType = platform.passThroughPort->GetDriveType(root);
    if (driveType != passthrough::kDriveTypeCdrom) {
      // A letter without a drive behind it is not worth a line.
      if (driveType > kDriveTypeNoRootDir) {
        note("not a CD-ROM drive (drive type " + std::to_string(driveType) + ")");
      }
      continue;
    }

    SetBuffer(scanBuffer, inquiry::kAllocationLength);
    const CommandStatus answer = Inquiry(inquiry::kAllocationLength);
    if (answer != status::kGood) {
      note(InquiryFailure(answer));
      continue;
    }
    const std::uint8_t deviceType = scanBuffer[inquiry::kDeviceTypeOffset];
    if (!inquiry::IsOpticalType(deviceType)) {
      note("peripheral device type " + std::to_string(deviceType & 0x1F) +
           ", not a CD or DVD device");
      continue;
    }

    // The product field ends early when the drive puts a zero byte in it; such a
    // short product never matches.
    const std::string product =
        inquiry::FieldText(scanBuffer + inquiry::kProductOffset, inquiry::kProductLength);
    if (product != inquiry::kProduct) {
      note("product \"" + product + "\", not the target model");
      continue;
    }

    char entry[64];
    std::snprintf(entry, sizeof entry, "%c:   %16.28s", letter,
                  reinterpret_cast<const char*>(scanBuffer + inquiry::kVendorOffset));
    tables.entry[count] = entry;
    tables.maxTransfer[count] = QueryMaxTransfer(count);
    note("listed" + std::string(tables.maxTransfer[count] == 0
                                    ? ", but its maximum transfer is unknown: " + lastMessage
                                    : ""));
    ++count;
  }
  return count;
}

}  // namespace qx
