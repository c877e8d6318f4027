#include "sim/SimDrive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/CommandStatus.h"

namespace qx {
namespace {

using namespace vendorpage;

constexpr std::uint32_t kInquiryDataSize = 96;
// Printable, so a drive that has just been updated counts as current.
constexpr std::uint8_t kLetterAfterUpdate = 'A';

// Copies `text` into a blank-padded field of `width` characters.
void PutField(std::uint8_t* out, const std::string& text, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i)
    out[i] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
}

std::uint32_t Be16(const std::uint8_t* p) { return (std::uint32_t(p[0]) << 8) | p[1]; }
std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         p[3];
}

// Offers `size` bytes of a reply to the host; what does not fit its buffer is cut
// off by the adapter, which the transport reports as an overrun.
void SendIn(SimDrive::Command& c, const std::uint8_t* reply, std::uint32_t size) {
  const std::uint32_t n = c.data ? std::min(size, c.length) : 0;
  if (n > 0) std::memcpy(c.data, reply, n);
  c.result->transferred = n;
  c.result->requested = size;
}

// The control byte (last of every CDB): NACA, Flag and Link are not supported and
// bits 5-3 are reserved; the two vendor bits are left alone.
constexpr std::uint8_t kControl = 0x3F;

const char* DirectionName(DataDirection d) {
  switch (d) {
    case DataDirection::In: return "in";
    case DataDirection::Out: return "out";
    default: return "none";
  }
}

}  // namespace

// Bits the handlers judge themselves (INQUIRY's EVPD and CmdDt, RECEIVE DIAGNOSTIC
// RESULTS' PCV, SEND DIAGNOSTIC's byte 1, READ(10)'s RelAdr) are left out of the
// reserved masks, so that their own, more precise answers stay.
const SimDrive::Entry SimDrive::kCommands[] = {
    {opcode::kTestUnitReady, 6, DataDirection::Unspecified, true, &SimDrive::TestUnitReady,
     {0, 0x1F, 0xFF, 0xFF, 0xFF, kControl}},
    // Byte 3 is reserved: this drive's allocation length is one byte.
    {opcode::kInquiry, 6, DataDirection::In, false, &SimDrive::Inquiry,
     {0, 0x1C, 0, 0xFF, 0, kControl}},
    // Byte 4: power conditions (7-4) are not supported, bits 3-2 reserved.
    {opcode::kStartStopUnit, 6, DataDirection::Unspecified, true, &SimDrive::StartStopUnit,
     {0, 0x1E, 0xFF, 0xFF, 0xFC, kControl}},
    {opcode::kReceiveDiagnosticResults, 6, DataDirection::In, true,
     &SimDrive::ReceiveDiagnosticResults, {0, 0x1E, 0xFF, 0, 0, kControl}},
    {opcode::kSendDiagnostic, 6, DataDirection::Out, true, &SimDrive::SendDiagnostic,
     {0, 0, 0xFF, 0, 0, kControl}},
    // Byte 4: only Prevent; persistent prevention is not supported.
    {opcode::kPreventAllowMediumRemoval, 6, DataDirection::Unspecified, true,
     &SimDrive::PreventAllowMediumRemoval, {0, 0x1F, 0xFF, 0xFF, 0xFE, kControl}},
    // Byte 1: DPO and FUA are taken, bits 2-1 reserved; byte 6 reserved.
    {opcode::kRead10, 10, DataDirection::In, true, &SimDrive::Read10,
     {0, 0x06, 0, 0, 0, 0, 0xFF, 0, 0, kControl}},
};

const SimDrive::Entry* SimDrive::Find(std::uint8_t opcode) {
  for (const Entry& e : kCommands)
    if (e.opcode == opcode) return &e;
  return nullptr;
}

DataDirection SimDrive::CommandDirection(std::uint8_t opcode) {
  const Entry* e = Find(opcode);
  return e ? e->direction : DataDirection::Unspecified;
}

std::string FormatSimCommand(const SimCommandRecord& r) {
  std::string text;
  char buf[64];
  for (std::uint8_t i = 0; i < r.cdbLength && i < r.cdb.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", r.cdb[i]);
    text += buf;
  }
  std::snprintf(buf, sizeof buf, " len=%lu %s", static_cast<unsigned long>(r.length),
                DirectionName(r.direction));
  text += buf;
  if (r.delayMs) {
    std::snprintf(buf, sizeof buf, " delay=%lu", static_cast<unsigned long>(r.delayMs));
    text += buf;
  }
  if (!r.completed) {
    text += " -> hang";
  } else {
    std::snprintf(buf, sizeof buf, " -> %02X", r.status);
    text += buf;
    if (r.status == scsi::kStatusCheckCondition) {
      std::snprintf(buf, sizeof buf, " sense=%02X/%02X/%02X", r.senseKey, r.asc, r.ascq);
      text += buf;
    }
  }
  if (r.parameterCount) {
    text += " param=";
    for (std::uint8_t i = 0; i < r.parameterCount; ++i) {
      std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", r.parameters[i]);
      text += buf;
    }
  }
  return text;
}

SimDrive::SimDrive(const SimDriveConfig& initial) : config(initial) {
  if (!config.fault.empty() && !faults.Add(config.fault, &configError)) config.fault.clear();
}

SimDriveConfig SimDrive::CurrentConfig() const { return config; }

void SimDrive::InsertMedium(bool present) {
  const bool arrived = present && !config.mediumPresent;
  config.mediumPresent = present;
  if (!present) becomingReady = 0;
  if (arrived) MediumChanged();
}

void SimDrive::SetTrayOpen(bool open) {
  const bool closed = !open && config.trayOpen;
  config.trayOpen = open;
  if (open) becomingReady = 0;
  if (closed) MediumChanged();
}

void SimDrive::MediumChanged() {
  if (config.trayOpen || !config.mediumPresent) return;
  // A power-on or reset attention still pending says more; it stays.
  if (!unitAttentionPending) {
    unitAttentionPending = true;
    pending = sense::kMediumMayHaveChanged;
  }
  becomingReady = kBecomingReadyAnswers;
}

void SimDrive::Reset() {
  AbandonDownload();
  identifyArmed = false;
  preventRemoval = false;
  unitAttentionPending = true;
  pending = sense::kPowerOnReset;
}

void SimDrive::Fail(Command& c, std::uint8_t key, sense::Code code, int fieldPointer,
                    bool inCdb) {
  SimCommandResult& r = *c.result;
  r.status = scsi::kStatusCheckCondition;
  r.sense.fill(0);
  r.sense[0] = sense::kCurrentFixed;
  r.sense[sense::kKeyOffset] = key;
  r.sense[sense::kAdditionalLengthOffset] = sense::kFixedLength - 8;
  r.sense[sense::kAscOffset] = code.asc;
  r.sense[sense::kAscqOffset] = code.ascq;
  if (fieldPointer >= 0) {
    std::uint8_t* pointer = &r.sense[sense::kKeySpecificOffset];
    pointer[0] = static_cast<std::uint8_t>(0x80 | (inCdb ? 0x40 : 0x00));
    pointer[1] = static_cast<std::uint8_t>(fieldPointer >> 8);
    pointer[2] = static_cast<std::uint8_t>(fieldPointer);
  }
  r.senseLength = sense::kFixedLength;
}

SimCommandResult SimDrive::Execute(const std::uint8_t* cdb, std::size_t cdbLength,
                                   std::uint8_t* data, std::uint32_t length,
                                   DataDirection direction) {
  SimCommandResult result;
  SimCommandRecord record;
  record.cdbLength = static_cast<std::uint8_t>(std::min<std::size_t>(cdbLength, 16));
  if (cdb) std::copy(cdb, cdb + record.cdbLength, record.cdb.begin());
  record.length = length;
  record.direction = direction;

  const std::uint8_t* outgoing = nullptr;
  if (cdb && cdbLength > 0 && data && length > 0 && CommandDirection(cdb[0]) == DataDirection::Out &&
      direction != DataDirection::In) {
    outgoing = data;
    record.parameterCount = static_cast<std::uint8_t>(std::min<std::uint32_t>(length, 8));
    std::copy(data, data + record.parameterCount, record.parameters.begin());
  }

  // Short CDBs are padded with zeros, so every handler may read a full CDB.
  std::array<std::uint8_t, 16> full{};
  std::copy(record.cdb.begin(), record.cdb.begin() + record.cdbLength, full.begin());
  Command c{full.data(), data, length, &result};

  const bool gated = gate && !gate();
  const SimFaultEffect effect = record.cdbLength && !gated
                                    ? faults.Apply(full.data(), outgoing, length)
                                    : SimFaultEffect();
  commandEffect = effect;
  record.delayMs = effect.delayMs;
  if (effect.delayMs && sleepHook) sleepHook(effect.delayMs);

  if (gated) {
    result.status = scsi::kStatusCheckCondition;
  } else if (effect.hang) {
    result.completed = false;
  } else if (effect.fails) {
    result.status = effect.status;
    if (effect.hasSense) {
      Fail(c, effect.senseKey, sense::Code{effect.asc, effect.ascq});
      result.status = effect.status;
    }
  } else if (settleLeft != 0) {
    // Restarting on its new firmware: every command, INQUIRY too, hears of the reset.
    if (settleLeft != kSettleForever) --settleLeft;
    Fail(c, sense::kUnitAttention, sense::kPowerOnReset);
  } else if (record.cdbLength == 0) {
    Fail(c, sense::kIllegalRequest, sense::kInvalidOpcode);
  } else {
    const Entry* entry = Find(full[0]);
    const bool otherLun = (full[1] >> 5) != 0;
    int reservedByte = -1;
    for (int i = 0; entry && reservedByte < 0 && i < entry->cdbLength; ++i)
      if (full[i] & entry->reserved[i]) reservedByte = i;
    if (!entry) {
      Fail(c, sense::kIllegalRequest, sense::kInvalidOpcode, 0);
    } else if (cdbLength != entry->cdbLength) {
      // The opcode's group fixes the CDB length; the first byte that is missing
      // or one too many is the field at fault.
      Fail(c, sense::kIllegalRequest, sense::kInvalidFieldInCdb,
           static_cast<int>(std::min<std::size_t>(cdbLength, entry->cdbLength)));
    } else if (otherLun && entry->opcode != opcode::kInquiry) {
      Fail(c, sense::kIllegalRequest, sense::kLunNotSupported);
    } else if (reservedByte >= 0) {
      Fail(c, sense::kIllegalRequest, sense::kInvalidFieldInCdb, reservedByte);
    } else if (entry->reportsUnitAttention && unitAttentionPending) {
      unitAttentionPending = false;
      Fail(c, sense::kUnitAttention, pending);
    } else if (length > 0 && direction != DataDirection::Unspecified &&
               entry->direction != DataDirection::Unspecified && direction != entry->direction) {
      // The host wants to move data the other way than the command does.
      Fail(c, sense::kAbortedCommand, sense::kDataPhaseError);
    } else {
      (this->*entry->handler)(c);
    }
  }

  record.completed = result.completed;
  record.status = result.status;
  if (result.senseLength) {
    record.senseKey = result.SenseKey();
    record.asc = result.Asc();
    record.ascq = result.Ascq();
  }
  record.transferred = result.transferred;
  log.push_back(record);
  if (observer) observer(record);
  return result;
}

bool SimDrive::CheckReady(Command& c) {
  if (config.trayOpen) {
    Fail(c, sense::kNotReady, sense::kMediumNotPresentTrayOpen);
    return false;
  }
  if (!config.mediumPresent) {
    Fail(c, sense::kNotReady, sense::kMediumNotPresentTrayClosed);
    return false;
  }
  if (becomingReady > 0) {
    --becomingReady;
    Fail(c, sense::kNotReady, sense::kBecomingReady);
    return false;
  }
  return true;
}

void SimDrive::TestUnitReady(Command& c) { CheckReady(c); }

void SimDrive::Inquiry(Command& c) {
  if (c.cdb[1] & 0x03) {  // vital product data and command support data: none
    Fail(c, sense::kIllegalRequest, sense::kInvalidFieldInCdb, 1);
    return;
  }
  if (c.cdb[2] != 0) {
    Fail(c, sense::kIllegalRequest, sense::kInvalidFieldInCdb, 2);
    return;
  }
  std::array<std::uint8_t, kInquiryDataSize> reply{};
  if (c.cdb[1] >> 5) {
    reply[0] = 0x7F;  // no logical unit here
  } else {
    reply[inquiry::kDeviceTypeOffset] = config.deviceType & inquiry::kDeviceTypeMask;
    reply[1] = 0x80;  // removable medium
    reply[2] = 0x00;
    reply[3] = 0x32;  // response data format 2
    reply[4] = kInquiryDataSize - 5;
    PutField(&reply[inquiry::kVendorOffset], config.vendor, inquiry::kVendorLength);
    PutField(&reply[inquiry::kProductOffset], config.product, inquiry::kProductLength);
    // Some drives refresh their INQUIRY data a little after the new firmware runs.
    const bool stale = oldRevisionLeft != 0;
    if (stale) --oldRevisionLeft;
    PutField(&reply[inquiry::kRevisionOffset], stale ? oldRevision : config.revision,
             inquiry::kRevisionLength);
  }
  const std::uint32_t allocation = c.cdb[4];
  SendIn(c, reply.data(), std::min<std::uint32_t>(allocation, kInquiryDataSize));
}

void SimDrive::StartStopUnit(Command& c) {
  const bool start = c.cdb[4] & 0x01;
  const bool loadEject = c.cdb[4] & 0x02;
  if (!loadEject) {
    // Without Immed the drive answers once it has spun up.
    if (start && (c.cdb[1] & 0x01) == 0 && !config.trayOpen && config.mediumPresent)
      becomingReady = 0;
    if (start) CheckReady(c);
    return;
  }
  if (start) {
    SetTrayOpen(false);
    return;
  }
  if (preventRemoval) {
    Fail(c, sense::kIllegalRequest, sense::kMediumRemovalPrevented);
    return;
  }
  SetTrayOpen(true);
}

void SimDrive::PreventAllowMediumRemoval(Command& c) { preventRemoval = c.cdb[4] & 0x01; }

void SimDrive::Read10(Command& c) {
  if (c.cdb[1] & 0x01) {  // relative addressing is not supported
    Fail(c, sense::kIllegalRequest, sense::kInvalidFieldInCdb, 1);
    return;
  }
  if (!CheckReady(c)) return;
  const std::uint32_t lba = Be32(&c.cdb[2]);
  const std::uint32_t count = Be16(&c.cdb[7]);
  if (std::uint64_t(lba) + count > kCapacityBlocks) {
    Fail(c, sense::kIllegalRequest, sense::kLbaOutOfRange);
    return;
  }
  // Every block starts with its own address, so a test can tell blocks apart.
  const std::uint64_t wanted = std::uint64_t(count) * kBlockSize;
  const std::uint32_t n =
      c.data ? static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, c.length)) : 0;
  c.result->requested = static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, 0xFFFFFFFFu));
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t block = lba + i / kBlockSize;
    const std::uint32_t offset = i % kBlockSize;
    c.data[i] = offset < 4 ? static_cast<std::uint8_t>(block >> (24 - 8 * offset))
                           : static_cast<std::uint8_t>(offset ^ block);
  }
  c.result->transferred = n;
}

void SimDrive::ReceiveDiagnosticResults(Command& c) {
  if (c.cdb[1] & 0x01) {  // page code valid: this drive only answers the last page sent
    Fail(c, sense::kIllegalRequest, sense::kInvalidFieldInCdb, 1);
    return;
  }
  if (!identifyArmed) {
    Fail(c, sense::kIllegalRequest, sense::kCommandSequenceError);
    return;
  }
  std::array<std::uint8_t, kIdentifyReplyLength> reply{};
  WriteHeader(reply.data(), kIdentifyReplyLength - 4, function::kIdentify, 0x00);
  for (std::size_t i = 0; i < kDriveCodeLength && i < config.driveCode.size(); ++i)
    reply[kDriveCodeOffset + i] = static_cast<std::uint8_t>(config.driveCode[i]);
  PutField(&reply[kHeaderSize], config.revision, inquiry::kRevisionLength);
  reply[kLetterOffset] = config.letter;
  SendIn(c, reply.data(), std::min<std::uint32_t>(Be16(&c.cdb[3]), kIdentifyReplyLength));
}

void SimDrive::SendDiagnostic(Command& c) {
  const std::uint8_t flags = c.cdb[1] & 0x1F;
  const std::uint32_t listLength = Be16(&c.cdb[3]);
  const bool selfTest = flags & 0x04;
  if (flags & ~0x04) {  // PF, DevOffL, UnitOffL: the vendor pages want none of them
    Fail(c, sense::kIllegalRequest, sense::kInvalidFieldInCdb, 1);
    return;
  }
  if (selfTest) {  // the default self-test passes; it takes no parameter list
    if (listLength != 0) Fail(c, sense::kIllegalRequest, sense::kInvalidFieldInCdb, 3);
    return;
  }
  if (listLength == 0) return;
  // The drive asks for the list it was announced. A host that holds more sees an
  // underrun and the drive has its page; one that holds less runs out part-way
  // (an overrun at the adapter), and the drive will not act on half a page.
  c.result->requested = listLength;
  if (listLength > c.length || !c.data) {
    c.result->transferred = c.data ? c.length : 0;
    Fail(c, sense::kIllegalRequest, sense::kParameterListLengthError);
    return;
  }
  c.result->transferred = listLength;
  DownloadPage(c, c.data, listLength);
}

void SimDrive::AbandonDownload() {
  downloadState = DownloadState::Idle;
  nextPage = 1;
  image.clear();
}

void SimDrive::DownloadPage(Command& c, const std::uint8_t* page, std::uint32_t length) {
  if (length < kHeaderSize) {
    Fail(c, sense::kIllegalRequest, sense::kParameterListLengthError);
    return;
  }
  // Whatever page comes next replaces the identify reply.
  identifyArmed = false;
  const std::uint8_t pageFunction = page[kFunctionOffset];
  const std::uint8_t argument = page[kArgumentOffset];
  const bool downloadPage = pageFunction == function::kOpen || pageFunction == function::kData;
  // A refused page ends a download under way: the host has to start over rather
  // than leave half an image behind.
  auto refuse = [&](sense::Code code, int fieldPointer) {
    if (downloadPage) AbandonDownload();
    Fail(c, sense::kIllegalRequest, code, fieldPointer, false);
  };

  if (page[0] != kPageCode) return refuse(sense::kInvalidFieldInParameterList, 0);
  for (std::size_t reserved : kReservedOffsets)
    if (page[reserved] != 0)
      return refuse(sense::kInvalidFieldInParameterList, static_cast<int>(reserved));
  const std::uint32_t pageLength = LengthOf(page);
  if (pageLength + 4 != length) return refuse(sense::kParameterListLengthError, kLengthOffset);

  const bool isDataPage = pageFunction == function::kData && argument != kClosing;
  const std::uint32_t expected = isDataPage ? kDataPageLength : kHeaderOnlyLength;

  switch (pageFunction) {
    case function::kIdentify:
      if (argument != 0) return refuse(sense::kInvalidFieldInParameterList, kArgumentOffset);
      if (pageLength != expected) return refuse(sense::kParameterListLengthError, kLengthOffset);
      identifyArmed = true;
      return;

    case function::kOpen:
      if (pageLength != expected) return refuse(sense::kParameterListLengthError, kLengthOffset);
      if (argument == kOpenFirst) {
        // The first opening page always starts afresh.
        AbandonDownload();
        downloadState = DownloadState::Opened;
        return;
      }
      if (argument == kOpenSecond) {
        if (downloadState != DownloadState::Opened)
          return refuse(sense::kCommandSequenceError, -1);
        downloadState = DownloadState::Armed;
        image.assign(firmware::kPlainSize, 0);
        return;
      }
      return refuse(sense::kInvalidFieldInParameterList, kArgumentOffset);

    case function::kData:
      if (pageLength != expected) return refuse(sense::kParameterListLengthError, kLengthOffset);
      if (argument == kClosing) return ClosingPage(c);
      if (argument > kDataPageCount)
        return refuse(sense::kInvalidFieldInParameterList, kArgumentOffset);
      if ((downloadState != DownloadState::Armed && downloadState != DownloadState::Receiving) ||
          argument != nextPage)
        return refuse(sense::kCommandSequenceError, -1);
      std::memcpy(&image[(argument - 1) * std::size_t(kDataSize)], page + kHeaderSize, kDataSize);
      ++nextPage;
      downloadState =
          argument == kDataPageCount ? DownloadState::Complete : DownloadState::Receiving;
      return;

    default:
      return refuse(sense::kInvalidFieldInParameterList, kFunctionOffset);
  }
}

void SimDrive::ClosingPage(Command& c) {
  if (downloadState != DownloadState::Complete) {
    AbandonDownload();
    Fail(c, sense::kIllegalRequest, sense::kCommandSequenceError);
    return;
  }
  const char family = config.revision.size() > 1 ? config.revision[1] : '\0';
  lastImageCheck = firmware::CheckPlainImage(image.data(), image.size(), family);
  if (lastImageCheck != firmware::ImageCheck::Ok) {
    // The old firmware stays; nothing of the refused image is kept.
    AbandonDownload();
    Fail(c, sense::kIllegalRequest, sense::kParameterValueInvalid);
    return;
  }
  if (commandEffect.keepRevision) {
    // Accepted, but the write did not take: the old firmware runs on.
    AbandonDownload();
    return;
  }
  oldRevision = config.revision;
  oldRevisionLeft = commandEffect.oldRevision;
  config.revision.assign(reinterpret_cast<const char*>(&image[firmware::kVersionOffset]),
                         firmware::kVersionLength);
  config.letter = kLetterAfterUpdate;
  ++updatesTaken;
  AbandonDownload();
  settleLeft = commandEffect.settle;
  // The next command learns that the drive runs new microcode.
  unitAttentionPending = true;
  pending = sense::kMicrocodeChanged;
}

}  // namespace qx
