#include "sim/SimDrive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/CommandStatus.h"

namespace qx {
namespace {

constexpr std::uint8_t kVendorPage = 0x88;
constexpr std::uint8_t kFunctionIdentify = 0x40;
constexpr std::uint8_t kFunctionOpen = 0xF0;
constexpr std::uint8_t kFunctionData = 0xC0;  // argument 0 is the closing page
constexpr std::uint8_t kOpenFirst = 0x00;
constexpr std::uint8_t kOpenSecond = 0xFF;
constexpr std::uint32_t kPageHeaderSize = 8;
constexpr std::uint32_t kIdentifyReplySize = 16;
constexpr std::uint32_t kInquiryDataSize = 96;
constexpr std::uint32_t kSenseSize = 18;
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

// Moves up to `size` bytes of a reply to the host, never more than it offered.
void SendIn(SimDrive::Command& c, const std::uint8_t* reply, std::uint32_t size) {
  const std::uint32_t n = std::min(size, c.length);
  if (n > 0 && c.data) std::memcpy(c.data, reply, n);
  c.result->transferred = n;
}

const char* DirectionName(DataDirection d) {
  switch (d) {
    case DataDirection::In: return "in";
    case DataDirection::Out: return "out";
    default: return "none";
  }
}

}  // namespace

const SimDrive::Entry SimDrive::kCommands[] = {
    {0x00, 6, DataDirection::Unspecified, true, &SimDrive::TestUnitReady},
    {0x12, 6, DataDirection::In, false, &SimDrive::Inquiry},
    {0x1B, 6, DataDirection::Unspecified, true, &SimDrive::StartStopUnit},
    {0x1C, 6, DataDirection::In, true, &SimDrive::ReceiveDiagnosticResults},
    {0x1D, 6, DataDirection::Out, true, &SimDrive::SendDiagnostic},
    {0x1E, 6, DataDirection::Unspecified, true, &SimDrive::PreventAllowMediumRemoval},
    {0x28, 10, DataDirection::In, true, &SimDrive::Read10},
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

void SimDrive::Reset() {
  AbandonDownload();
  identifyArmed = false;
  preventRemoval = false;
  unitAttentionPending = true;
  pendingAsc = scsi::kPowerOnReset.asc;
  pendingAscq = scsi::kPowerOnReset.ascq;
}

void SimDrive::Fail(Command& c, std::uint8_t key, scsi::SenseCode code, int fieldPointer,
                    bool inCdb) {
  SimCommandResult& r = *c.result;
  r.status = scsi::kStatusCheckCondition;
  r.sense.fill(0);
  r.sense[0] = 0x70;  // current error, fixed format
  r.sense[2] = key;
  r.sense[7] = kSenseSize - 8;
  r.sense[12] = code.asc;
  r.sense[13] = code.ascq;
  if (fieldPointer >= 0) {
    r.sense[15] = static_cast<std::uint8_t>(0x80 | (inCdb ? 0x40 : 0x00));
    r.sense[16] = static_cast<std::uint8_t>(fieldPointer >> 8);
    r.sense[17] = static_cast<std::uint8_t>(fieldPointer);
  }
  r.senseLength = kSenseSize;
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

  const SimFaultEffect effect =
      record.cdbLength ? faults.Apply(full.data(), outgoing, length) : SimFaultEffect();
  commandEffect = effect;
  record.delayMs = effect.delayMs;
  if (effect.delayMs && sleepHook) sleepHook(effect.delayMs);

  if (effect.hang) {
    result.completed = false;
  } else if (effect.fails) {
    result.status = effect.status;
    if (effect.hasSense) {
      Fail(c, effect.senseKey, scsi::SenseCode{effect.asc, effect.ascq});
      result.status = effect.status;
    }
  } else if (settleLeft != 0) {
    // Restarting on its new firmware: every command, INQUIRY too, hears of the reset.
    if (settleLeft != kSettleForever) --settleLeft;
    Fail(c, sense::kUnitAttention, scsi::kPowerOnReset);
  } else if (record.cdbLength == 0) {
    Fail(c, sense::kIllegalRequest, scsi::kInvalidOpcode);
  } else {
    const Entry* entry = Find(full[0]);
    const bool otherLun = (full[1] >> 5) != 0;
    if (!entry) {
      Fail(c, sense::kIllegalRequest, scsi::kInvalidOpcode, 0);
    } else if (cdbLength < entry->cdbLength) {
      Fail(c, sense::kIllegalRequest, scsi::kInvalidFieldInCdb, static_cast<int>(cdbLength));
    } else if (otherLun && entry->opcode != 0x12) {
      Fail(c, sense::kIllegalRequest, scsi::kLunNotSupported);
    } else if (entry->reportsUnitAttention && unitAttentionPending) {
      unitAttentionPending = false;
      Fail(c, sense::kUnitAttention, scsi::SenseCode{pendingAsc, pendingAscq});
    } else if (length > 0 && direction != DataDirection::Unspecified &&
               entry->direction != DataDirection::Unspecified && direction != entry->direction) {
      // The host wants to move data the other way than the command does.
      Fail(c, sense::kAbortedCommand, scsi::kDataPhaseError);
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
    Fail(c, sense::kNotReady, scsi::kMediumNotPresentTrayOpen);
    return false;
  }
  if (!config.mediumPresent) {
    Fail(c, sense::kNotReady, scsi::kMediumNotPresentTrayClosed);
    return false;
  }
  return true;
}

void SimDrive::TestUnitReady(Command& c) { CheckReady(c); }

void SimDrive::Inquiry(Command& c) {
  if (c.cdb[1] & 0x03) {  // vital product data and command support data: none
    Fail(c, sense::kIllegalRequest, scsi::kInvalidFieldInCdb, 1);
    return;
  }
  if (c.cdb[2] != 0) {
    Fail(c, sense::kIllegalRequest, scsi::kInvalidFieldInCdb, 2);
    return;
  }
  std::array<std::uint8_t, kInquiryDataSize> reply{};
  if (c.cdb[1] >> 5) {
    reply[0] = 0x7F;  // no logical unit here
  } else {
    reply[0] = config.deviceType & 0x1F;
    reply[1] = 0x80;  // removable medium
    reply[2] = 0x00;
    reply[3] = 0x32;  // response data format 2
    reply[4] = kInquiryDataSize - 5;
    PutField(&reply[8], config.vendor, 8);
    PutField(&reply[16], config.product, 16);
    PutField(&reply[32], config.revision, 4);
  }
  const std::uint32_t allocation = c.cdb[4];
  SendIn(c, reply.data(), std::min<std::uint32_t>(allocation, kInquiryDataSize));
}

void SimDrive::StartStopUnit(Command& c) {
  const bool start = c.cdb[4] & 0x01;
  const bool loadEject = c.cdb[4] & 0x02;
  if (!loadEject) {
    if (start) CheckReady(c);
    return;
  }
  if (start) {
    config.trayOpen = false;
    return;
  }
  if (preventRemoval) {
    Fail(c, sense::kIllegalRequest, scsi::kMediumRemovalPrevented);
    return;
  }
  config.trayOpen = true;
}

void SimDrive::PreventAllowMediumRemoval(Command& c) { preventRemoval = c.cdb[4] & 0x01; }

void SimDrive::Read10(Command& c) {
  if (c.cdb[1] & 0x01) {  // relative addressing is not supported
    Fail(c, sense::kIllegalRequest, scsi::kInvalidFieldInCdb, 1);
    return;
  }
  if (!CheckReady(c)) return;
  const std::uint32_t lba = Be32(&c.cdb[2]);
  const std::uint32_t count = Be16(&c.cdb[7]);
  if (std::uint64_t(lba) + count > kCapacityBlocks) {
    Fail(c, sense::kIllegalRequest, scsi::kLbaOutOfRange);
    return;
  }
  // Every block starts with its own address, so a test can tell blocks apart.
  const std::uint64_t wanted = std::uint64_t(count) * kBlockSize;
  const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, c.length));
  for (std::uint32_t i = 0; c.data && i < n; ++i) {
    const std::uint32_t block = lba + i / kBlockSize;
    const std::uint32_t offset = i % kBlockSize;
    c.data[i] = offset < 4 ? static_cast<std::uint8_t>(block >> (24 - 8 * offset))
                           : static_cast<std::uint8_t>(offset ^ block);
  }
  c.result->transferred = c.data ? n : 0;
}

void SimDrive::ReceiveDiagnosticResults(Command& c) {
  if (c.cdb[1] & 0x01) {  // page code valid: this drive only answers the last page sent
    Fail(c, sense::kIllegalRequest, scsi::kInvalidFieldInCdb, 1);
    return;
  }
  if (!identifyArmed) {
    Fail(c, sense::kIllegalRequest, scsi::kCommandSequenceError);
    return;
  }
  std::array<std::uint8_t, kIdentifyReplySize> reply{};
  reply[0] = kVendorPage;
  reply[3] = kIdentifyReplySize - 4;
  reply[5] = kFunctionIdentify;
  for (std::size_t i = 0; i < 2 && i < config.driveCode.size(); ++i)
    reply[6 + i] = static_cast<std::uint8_t>(config.driveCode[i]);
  PutField(&reply[8], config.revision, 4);
  reply[15] = config.letter;
  SendIn(c, reply.data(), std::min<std::uint32_t>(Be16(&c.cdb[3]), kIdentifyReplySize));
}

void SimDrive::SendDiagnostic(Command& c) {
  const std::uint8_t flags = c.cdb[1] & 0x1F;
  const std::uint32_t listLength = Be16(&c.cdb[3]);
  const bool selfTest = flags & 0x04;
  if (flags & ~0x04) {  // PF, DevOffL, UnitOffL: the vendor pages want none of them
    Fail(c, sense::kIllegalRequest, scsi::kInvalidFieldInCdb, 1);
    return;
  }
  if (c.cdb[2] != 0) {
    Fail(c, sense::kIllegalRequest, scsi::kInvalidFieldInCdb, 2);
    return;
  }
  if (selfTest) {  // the default self-test passes; it takes no parameter list
    if (listLength != 0) Fail(c, sense::kIllegalRequest, scsi::kInvalidFieldInCdb, 3);
    return;
  }
  if (listLength == 0) return;
  // The host must move exactly the list it announces, or the drive would take
  // a page it never saw whole.
  if (listLength != c.length || !c.data) {
    Fail(c, sense::kIllegalRequest, scsi::kParameterListLengthError);
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
  if (length < kPageHeaderSize) {
    Fail(c, sense::kIllegalRequest, scsi::kParameterListLengthError);
    return;
  }
  // Whatever page comes next replaces the identify reply.
  identifyArmed = false;
  const std::uint8_t function = page[5];
  const std::uint8_t argument = page[6];
  const bool downloadPage = function == kFunctionOpen || function == kFunctionData;
  // A refused page ends a download under way: the host has to start over rather
  // than leave half an image behind.
  auto refuse = [&](scsi::SenseCode code, int fieldPointer) {
    if (downloadPage) AbandonDownload();
    Fail(c, sense::kIllegalRequest, code, fieldPointer, false);
  };

  if (page[0] != kVendorPage) return refuse(scsi::kInvalidFieldInParameterList, 0);
  for (int reserved : {1, 4, 7})
    if (page[reserved] != 0) return refuse(scsi::kInvalidFieldInParameterList, reserved);
  const std::uint32_t pageLength = Be16(&page[2]);
  if (pageLength + 4 != length) return refuse(scsi::kParameterListLengthError, 2);

  const bool isDataPage = function == kFunctionData && argument != 0;
  const std::uint32_t expected = isDataPage ? 4 + kDataPageSize : 4;

  switch (function) {
    case kFunctionIdentify:
      if (argument != 0) return refuse(scsi::kInvalidFieldInParameterList, 6);
      if (pageLength != expected) return refuse(scsi::kParameterListLengthError, 2);
      identifyArmed = true;
      return;

    case kFunctionOpen:
      if (pageLength != expected) return refuse(scsi::kParameterListLengthError, 2);
      if (argument == kOpenFirst) {
        // The first opening page always starts afresh.
        AbandonDownload();
        downloadState = DownloadState::Opened;
        return;
      }
      if (argument == kOpenSecond) {
        if (downloadState != DownloadState::Opened)
          return refuse(scsi::kCommandSequenceError, -1);
        downloadState = DownloadState::Armed;
        image.assign(firmware::kPlainSize, 0);
        return;
      }
      return refuse(scsi::kInvalidFieldInParameterList, 6);

    case kFunctionData:
      if (pageLength != expected) return refuse(scsi::kParameterListLengthError, 2);
      if (argument == 0) return ClosingPage(c);
      if (argument > kDataPageCount) return refuse(scsi::kInvalidFieldInParameterList, 6);
      if ((downloadState != DownloadState::Armed && downloadState != DownloadState::Receiving) ||
          argument != nextPage)
        return refuse(scsi::kCommandSequenceError, -1);
      std::memcpy(&image[(argument - 1) * std::size_t(kDataPageSize)], page + kPageHeaderSize,
                  kDataPageSize);
      ++nextPage;
      downloadState =
          argument == kDataPageCount ? DownloadState::Complete : DownloadState::Receiving;
      return;

    default:
      return refuse(scsi::kInvalidFieldInParameterList, 5);
  }
}

void SimDrive::ClosingPage(Command& c) {
  if (downloadState != DownloadState::Complete) {
    AbandonDownload();
    Fail(c, sense::kIllegalRequest, scsi::kCommandSequenceError);
    return;
  }
  const char family = config.revision.size() > 1 ? config.revision[1] : '\0';
  lastImageCheck = firmware::CheckPlainImage(image.data(), image.size(), family);
  if (lastImageCheck != firmware::ImageCheck::Ok) {
    // The old firmware stays; nothing of the refused image is kept.
    AbandonDownload();
    Fail(c, sense::kIllegalRequest, scsi::kParameterValueInvalid);
    return;
  }
  if (commandEffect.keepRevision) {
    // Accepted, but the write did not take: the old firmware runs on.
    AbandonDownload();
    return;
  }
  config.revision.assign(reinterpret_cast<const char*>(&image[firmware::kVersionOffset]),
                         firmware::kVersionLength);
  config.letter = kLetterAfterUpdate;
  ++updatesTaken;
  AbandonDownload();
  settleLeft = commandEffect.settle;
  // The next command learns that the drive runs new microcode.
  unitAttentionPending = true;
  pendingAsc = scsi::kMicrocodeChanged.asc;
  pendingAscq = scsi::kMicrocodeChanged.ascq;
}

}  // namespace qx
