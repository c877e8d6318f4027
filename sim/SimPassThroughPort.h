#pragma once
// The NT pass-through calls over simulated drives: drive letters that lead to a
// SimDrive, letters of other drive types, CD letters that cannot be opened, and
// a capability answer per letter. It reads the request block as the port driver
// does (the sense area through SenseInfoOffset, the data through DataBuffer) and
// refuses what the driver would refuse, with its error numbers.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/PassThroughRequest.h"
#include "platform/PassThroughPort.h"
#include "sim/SimDrive.h"
#include "sim/SimStateFile.h"

namespace qx {

namespace win32error {
constexpr std::uint32_t kInvalidFunction = 1;
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kInvalidHandle = 6;
constexpr std::uint32_t kNotReady = 21;
constexpr std::uint32_t kInvalidParameter = 87;
constexpr std::uint32_t kSemaphoreTimeout = 121;
constexpr std::uint32_t kInsufficientBuffer = 122;
constexpr std::uint32_t kMessageNotFound = 317;
constexpr std::uint32_t kNoAccess = 998;
constexpr std::uint32_t kIoDevice = 1117;
constexpr std::uint32_t kRevisionMismatch = 1306;
}  // namespace win32error

namespace drivetype {
constexpr std::uint32_t kNoRootDir = 1;
constexpr std::uint32_t kRemovable = 2;
constexpr std::uint32_t kFixed = 3;
constexpr std::uint32_t kRemote = 4;
constexpr std::uint32_t kCdrom = passthrough::kDriveTypeCdrom;  // the one the product looks for
}  // namespace drivetype

// One request as the port saw it, for tests.
struct SimPortRequest {
  char letter = 0;
  std::vector<std::uint8_t> cdb;
  std::uint32_t length = 0;
  std::uint8_t dataIn = 0;
  bool accepted = false;       // false: SendPassThrough returned false
  std::uint32_t error = 0;     // the last error of a refused request
  std::uint8_t scsiStatus = 0;
};

class SimPassThroughPort : public PassThroughPort {
 public:
  using SleepHook = std::function<void(std::uint32_t milliseconds)>;

  // A CD letter with a simulated drive behind it; the port owns the drive.
  SimDrive& AddDrive(char letter, const SimDriveConfig& config = SimDriveConfig());
  // A letter of another type (3 fixed, 2 removable, 4 remote): listed, opens,
  // but carries no SCSI requests.
  void AddOtherDrive(char letter, std::uint32_t driveType);
  // A CD letter that cannot be opened: Open fails with `error` (2, 5, ...).
  void AddUnopenableDrive(char letter, std::uint32_t error);
  // The capability answer of a letter: its MaximumTransferLength (65536 unless
  // set), or a refused request with `error`.
  void SetMaxTransfer(char letter, std::uint32_t maximum);
  void FailCapabilities(char letter, std::uint32_t error);
  // Drives described by a state file; letters only, other addresses are left
  // to the ASPI side. False with a reason for a drive whose fault does not parse.
  bool AddDrives(const std::vector<SimDriveEntry>& entries, std::string* error = nullptr);
  // The drives as they are now, for SaveSimStateFile.
  std::vector<SimDriveEntry> DriveStates() const;

  // The virtual clock: a drive's delays are slept through it, up to the request's
  // TimeOutValue; a request that takes longer, or never completes, fails with
  // ERROR_SEM_TIMEOUT once its TimeOutValue has passed.
  void SetSleepHook(SleepHook hook);

  SimDrive* Drive(char letter);
  const std::vector<SimPortRequest>& Requests() const { return requests; }
  void ClearRequests() { requests.clear(); }
  // Handles opened and not yet closed: a caller that leaks one shows here.
  std::size_t OpenHandles() const { return handles.size(); }
  int OpenCount() const { return openCount; }

  // PassThroughPort
  std::uint32_t GetDriveType(const char* rootName) override;
  PortHandle Open(const char* path) override;
  bool SendPassThrough(PortHandle handle, PassThroughRequest* block,
                       std::uint32_t* bytesReturned) override;
  bool GetCapabilities(PortHandle handle, IoScsiCapabilities* capabilities,
                       std::uint32_t* bytesReturned) override;
  void Close(PortHandle handle) override;
  std::uint32_t GetLastError() override { return lastError; }
  bool FormatMessage(std::uint32_t error, std::uint32_t size, std::string* text) override;

 private:
  struct Letter {
    std::uint32_t driveType = drivetype::kCdrom;
    std::uint32_t openError = 0;
    bool capabilitiesFail = false;
    std::uint32_t capabilitiesError = win32error::kInvalidFunction;
    std::uint32_t maxTransfer = 0x10000;
    std::unique_ptr<SimDrive> drive;
  };

  static constexpr std::uint32_t kNoRequestTimeout = 0xFFFFFFFFu;
  void DriveSleeps(std::uint32_t milliseconds);
  Letter* Find(char letter);
  Letter* FromHandle(PortHandle handle, char* letter);
  bool Refuse(std::uint32_t error) {
    lastError = error;
    return false;
  }

  std::map<char, Letter> letters;
  std::map<PortHandle, char> handles;
  PortHandle nextHandle = 0x100;
  int openCount = 0;
  std::uint32_t lastError = 0;
  SleepHook sleepHook;
  std::uint32_t timeLeftMs = kNoRequestTimeout;  // of the request under way
  bool timedOut = false;
  std::vector<SimPortRequest> requests;
};

}  // namespace qx
