#include "sim/SimPassThroughPort.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/AsciiText.h"

namespace qx {
namespace {

using ascii::Upper;

// The port driver wants the data buffer on an even address.
constexpr std::uint32_t kAlignmentMask = 1;
// SCSI_PASS_THROUGH_DIRECT in the 32-bit layout.
constexpr std::uint16_t kStructLength32 = 44;

struct SystemMessage {
  std::uint32_t error;
  const char* text;
};
// The few system texts a user of the simulated port can meet.
constexpr SystemMessage kMessages[] = {
    {win32error::kInvalidFunction, "Incorrect function.\r\n"},
    {win32error::kFileNotFound, "The system cannot find the file specified.\r\n"},
    {win32error::kAccessDenied, "Access is denied.\r\n"},
    {win32error::kInvalidHandle, "The handle is invalid.\r\n"},
    {win32error::kNotReady, "The device is not ready.\r\n"},
    {win32error::kInvalidParameter, "The parameter is incorrect.\r\n"},
    {win32error::kSemaphoreTimeout, "The semaphore timeout period has expired.\r\n"},
    {win32error::kRevisionMismatch, "Indicates two revision levels are incompatible.\r\n"},
    {win32error::kIoDevice,
     "The request could not be performed because of an I/O device error.\r\n"},
};

DataDirection FromDataIn(std::uint8_t dataIn) {
  switch (dataIn) {
    case passthrough::kDataOut: return DataDirection::Out;
    case passthrough::kDataIn: return DataDirection::In;
    default: return DataDirection::Unspecified;
  }
}

}  // namespace

SimDrive& SimPassThroughPort::AddDrive(char letter, const SimDriveConfig& config) {
  Letter& l = letters[Upper(letter)];
  l = Letter();
  l.drive = std::make_unique<SimDrive>(config);
  l.drive->SetSleepHook([this](std::uint32_t ms) { DriveSleeps(ms); });
  return *l.drive;
}

void SimPassThroughPort::AddOtherDrive(char letter, std::uint32_t driveType) {
  Letter& l = letters[Upper(letter)];
  l = Letter();
  l.driveType = driveType;
}

void SimPassThroughPort::AddUnopenableDrive(char letter, std::uint32_t error) {
  Letter& l = letters[Upper(letter)];
  l = Letter();
  l.openError = error;
}

void SimPassThroughPort::SetMaxTransfer(char letter, std::uint32_t maximum) {
  Letter& l = letters[Upper(letter)];
  l.capabilitiesFail = false;
  l.maxTransfer = maximum;
}

void SimPassThroughPort::FailCapabilities(char letter, std::uint32_t error) {
  Letter& l = letters[Upper(letter)];
  l.capabilitiesFail = true;
  l.capabilitiesError = error;
}

bool SimPassThroughPort::AddDrives(const std::vector<SimDriveEntry>& entries, std::string* error) {
  bool ok = true;
  for (const SimDriveEntry& e : entries) {
    if (e.address.size() != 1) continue;
    const char letter = e.address[0];
    if (e.driveType != drivetype::kCdrom) {
      AddOtherDrive(letter, e.driveType);
      continue;
    }
    SimDrive& drive = AddDrive(letter, e.config);
    if (!drive.ConfigError().empty()) {
      if (error && ok) *error = "drive " + e.address + ": " + drive.ConfigError();
      ok = false;
    }
    Letter& l = letters[Upper(letter)];
    l.openError = e.openError;
    l.capabilitiesFail = e.capabilitiesFail;
    l.maxTransfer = e.maxTransfer;
  }
  return ok;
}

std::vector<SimDriveEntry> SimPassThroughPort::DriveStates() const {
  std::vector<SimDriveEntry> states;
  for (const auto& [letter, l] : letters) {
    SimDriveEntry e;
    e.address = std::string(1, letter);
    if (l.drive) e.config = l.drive->CurrentConfig();
    e.driveType = l.driveType;
    e.openError = l.openError;
    e.capabilitiesFail = l.capabilitiesFail;
    e.maxTransfer = l.maxTransfer;
    states.push_back(e);
  }
  return states;
}

void SimPassThroughPort::SetSleepHook(SleepHook hook) { sleepHook = std::move(hook); }

void SimPassThroughPort::DriveSleeps(std::uint32_t milliseconds) {
  // Outside a request (a test driving the drive itself) the whole delay passes;
  // inside one, the port gives up at the request's time-out.
  const std::uint32_t slept = std::min(milliseconds, timeLeftMs);
  if (sleepHook && slept > 0) sleepHook(slept);
  if (milliseconds > timeLeftMs) timedOut = true;
  timeLeftMs -= slept;
}

SimDrive* SimPassThroughPort::Drive(char letter) {
  Letter* l = Find(letter);
  return l ? l->drive.get() : nullptr;
}

SimPassThroughPort::Letter* SimPassThroughPort::Find(char letter) {
  auto it = letters.find(Upper(letter));
  return it == letters.end() ? nullptr : &it->second;
}

SimPassThroughPort::Letter* SimPassThroughPort::FromHandle(PortHandle handle, char* letter) {
  auto it = handles.find(handle);
  if (it == handles.end()) return nullptr;
  *letter = it->second;
  return Find(it->second);
}

std::uint32_t SimPassThroughPort::GetDriveType(const char* rootName) {
  // "E:" or "E:\"; anything else names no root directory.
  if (!rootName || !std::isalpha(static_cast<unsigned char>(rootName[0])) || rootName[1] != ':' ||
      !(rootName[2] == '\0' || (rootName[2] == '\\' && rootName[3] == '\0')))
    return drivetype::kNoRootDir;
  Letter* l = Find(rootName[0]);
  return l ? l->driveType : drivetype::kNoRootDir;
}

PortHandle SimPassThroughPort::Open(const char* path) {
  // Only the volume device form "\\.\E:" reaches a drive.
  if (!path || std::strncmp(path, "\\\\.\\", 4) != 0 ||
      !std::isalpha(static_cast<unsigned char>(path[4])) || path[5] != ':' || path[6] != '\0') {
    lastError = win32error::kFileNotFound;
    return kInvalidPortHandle;
  }
  Letter* l = Find(path[4]);
  if (!l) {
    lastError = win32error::kFileNotFound;
    return kInvalidPortHandle;
  }
  if (l->openError) {
    lastError = l->openError;
    return kInvalidPortHandle;
  }
  const PortHandle handle = nextHandle;
  nextHandle += 4;
  handles[handle] = Upper(path[4]);
  ++openCount;
  return handle;
}

void SimPassThroughPort::Close(PortHandle handle) {
  if (handles.erase(handle) == 0) lastError = win32error::kInvalidHandle;
}

bool SimPassThroughPort::SendPassThrough(PortHandle handle, PassThroughRequest* block,
                                         std::uint32_t* bytesReturned) {
  char letter = 0;
  Letter* l = FromHandle(handle, &letter);
  if (!l) return Refuse(win32error::kInvalidHandle);
  if (!block) return Refuse(win32error::kNoAccess);
  ScsiPassThroughDirect& spt = block->spt;

  SimPortRequest request;
  request.letter = letter;
  request.cdb.assign(spt.Cdb, spt.Cdb + std::min<std::size_t>(spt.CdbLength, sizeof spt.Cdb));
  request.length = spt.DataTransferLength;
  request.dataIn = spt.DataIn;
  auto refuse = [&](std::uint32_t error) {
    request.error = error;
    requests.push_back(request);
    return Refuse(error);
  };

  // Only a CD letter has a SCSI device behind it here.
  if (!l->drive) return refuse(win32error::kInvalidFunction);
  // The port takes the structure of the caller's own width only: a 64-bit system
  // answers a 64-bit program that states the 32-bit length with a revision mismatch.
  if (spt.Length != sizeof(ScsiPassThroughDirect)) {
    if (spt.Length == kStructLength32) return refuse(win32error::kRevisionMismatch);
    return refuse(win32error::kInvalidParameter);
  }
  if (spt.CdbLength == 0 ||
      spt.CdbLength > sizeof spt.Cdb || spt.DataIn > passthrough::kDataUnspecified)
    return refuse(win32error::kInvalidParameter);
  if (spt.DataTransferLength > 0 &&
      (!spt.DataBuffer || (reinterpret_cast<std::uintptr_t>(spt.DataBuffer) & kAlignmentMask)))
    return refuse(win32error::kInvalidParameter);
  if (spt.DataTransferLength > l->maxTransfer) return refuse(win32error::kInvalidParameter);
  // The sense area has to lie inside the block, past the structure itself.
  // (PathId, TargetId and Lun are not checked: on a drive's own handle the port
  // takes the address of that drive, whatever the block says.)
  if (spt.SenseInfoLength > 0 &&
      (spt.SenseInfoOffset < sizeof(ScsiPassThroughDirect) ||
       std::uint64_t(spt.SenseInfoOffset) + spt.SenseInfoLength > sizeof(PassThroughRequest)))
    return refuse(win32error::kInvalidParameter);
  // A command that moves data needs its direction stated, and stated right: the
  // port sets up the transfer before the drive says which way it goes.
  const DataDirection announced = FromDataIn(spt.DataIn);
  const DataDirection wanted = SimDrive::CommandDirection(spt.Cdb[0]);
  if (spt.DataTransferLength > 0 && wanted != DataDirection::Unspecified && announced != wanted)
    return refuse(win32error::kInvalidParameter);

  timeLeftMs = spt.TimeOutValue > 0xFFFFFFFFu / 1000 ? 0xFFFFFFFFu : spt.TimeOutValue * 1000;
  timedOut = false;
  const SimCommandResult result =
      l->drive->Execute(spt.Cdb, spt.CdbLength, static_cast<std::uint8_t*>(spt.DataBuffer),
                        spt.DataTransferLength, announced);
  const std::uint32_t timeLeft = timeLeftMs;
  timeLeftMs = kNoRequestTimeout;
  if (!result.completed || timedOut) {
    // The port driver gives up after the request's own time-out; the drive may
    // have acted on the command all the same.
    if (sleepHook && timeLeft > 0 && !timedOut) sleepHook(timeLeft);
    return refuse(win32error::kSemaphoreTimeout);
  }

  // An underrun or an overrun is no error to the port: the request succeeds and
  // DataTransferLength says how much moved (all of the buffer after an overrun).
  spt.ScsiStatus = result.status;
  spt.DataTransferLength = result.transferred;
  const std::uint32_t senseBytes = std::min<std::uint32_t>(spt.SenseInfoLength, result.senseLength);
  if (senseBytes > 0)
    std::memcpy(reinterpret_cast<std::uint8_t*>(block) + spt.SenseInfoOffset, result.sense.data(),
                senseBytes);
  spt.SenseInfoLength = static_cast<std::uint8_t>(senseBytes);
  if (bytesReturned)
    *bytesReturned = senseBytes ? spt.SenseInfoOffset + senseBytes : sizeof(ScsiPassThroughDirect);

  request.accepted = true;
  request.scsiStatus = result.status;
  requests.push_back(request);
  return true;
}

bool SimPassThroughPort::GetCapabilities(PortHandle handle, IoScsiCapabilities* capabilities,
                                         std::uint32_t* bytesReturned) {
  char letter = 0;
  Letter* l = FromHandle(handle, &letter);
  if (!l) return Refuse(win32error::kInvalidHandle);
  if (!capabilities) return Refuse(win32error::kNoAccess);
  if (l->capabilitiesFail) return Refuse(l->capabilitiesError);
  std::memset(capabilities, 0, sizeof *capabilities);
  capabilities->Length = sizeof(IoScsiCapabilities);
  capabilities->MaximumTransferLength = l->maxTransfer;
  capabilities->MaximumPhysicalPages = l->maxTransfer / 4096 + 1;
  capabilities->AlignmentMask = kAlignmentMask;
  capabilities->AdapterUsesPio = 1;
  if (bytesReturned) *bytesReturned = sizeof(IoScsiCapabilities);
  return true;
}

bool SimPassThroughPort::FormatMessage(std::uint32_t error, std::uint32_t size,
                                       std::string* text) {
  for (const SystemMessage& m : kMessages) {
    if (m.error != error) continue;
    const std::size_t length = std::strlen(m.text);
    if (!text || size <= length) {
      lastError = win32error::kInsufficientBuffer;
      return false;
    }
    *text = m.text;
    return true;
  }
  lastError = win32error::kMessageNotFound;
  return false;
}

}  // namespace qx
