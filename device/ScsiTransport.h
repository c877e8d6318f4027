#pragma once
// What both transports share: the command templates with their exact CDB bytes,
// the data-direction rule, the LUN rule and the seven-attempt unit-attention retry.
// A transport supplies ExecuteOnce and its drive list.
#include <cstdint>
#include <string>
#include <vector>

#include "device/CommandStatus.h"

namespace qx {

namespace opcode {
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kStartStopUnit = 0x1B;
constexpr std::uint8_t kReceiveDiagnosticResults = 0x1C;
constexpr std::uint8_t kSendDiagnostic = 0x1D;
constexpr std::uint8_t kPreventAllowMediumRemoval = 0x1E;
constexpr std::uint8_t kRead10 = 0x28;
}  // namespace opcode

enum class DataDirection { Out, In, Unspecified };

// The direction of the data phase, from the opcode alone.
DataDirection DirectionOf(std::uint8_t opcode);

class ScsiTransport {
 public:
  virtual ~ScsiTransport() = default;

  virtual std::uint8_t ScanDrives() = 0;
  // What the last scan found at each address it looked at and why it did not list
  // it, one line each ("E: cannot be opened, error 5 ..."), for the update log.
  const std::vector<std::string>& ScanNotes() const { return scanNotes; }
  virtual std::string GetDriveEntry(int index) const = 0;
  virtual void SelectDrive(std::uint8_t index) = 0;

  void SetBuffer(std::uint8_t* data, std::uint32_t length);
  void GetSenseCodes(std::uint8_t* asc, std::uint8_t* ascq) const;
  std::string GetLastMessage() const { return lastMessage; }
  const SenseRecord& Sense() const { return senseRecord; }

  CommandStatus TestUnitReady();
  CommandStatus Inquiry(std::uint8_t allocationLength);
  CommandStatus StartStopUnit(bool start, bool immediate, bool loadEject);
  CommandStatus ReceiveDiagnosticResults(std::uint16_t allocationLength);
  CommandStatus SendDiagnostic(std::uint8_t flags, std::uint16_t parameterListLength);
  CommandStatus PreventAllowMediumRemoval(bool prevent);
  CommandStatus Read10(std::uint32_t logicalBlockAddress, std::uint16_t blockCount, bool fua,
                       bool relativeAddress);

  // One CDB with the LUN rule and the retry rule.
  CommandStatus ExecuteCdb6(std::uint8_t* cdb, std::uint32_t timeoutSeconds);
  CommandStatus ExecuteCdb10(std::uint8_t* cdb, std::uint32_t timeoutSeconds);
  // One CDB, once. The transfer is the buffer set by SetBuffer.
  virtual CommandStatus ExecuteOnce(std::uint8_t* cdb, std::uint8_t length,
                                    std::uint32_t timeoutSeconds) = 0;

 protected:
  // Holds a drive's in-use flag for one command: taken only when it was free, and
  // then given back on every way out of the command.
  class InUseScope {
   public:
    explicit InUseScope(int& flag) : flag(flag), taken(flag == 0) {
      if (taken) flag = 1;
    }
    ~InUseScope() {
      if (taken) flag = 0;
    }
    InUseScope(const InUseScope&) = delete;
    InUseScope& operator=(const InUseScope&) = delete;
    // False when another command holds the drive: this one must not go out.
    bool Taken() const { return taken; }

   private:
    int& flag;
    const bool taken;
  };

  // The time-out the named commands hand to ExecuteOnce.
  virtual std::uint32_t CommandTimeout() const = 0;
  // Named commands announce themselves; only the ASPI transport keeps the name.
  virtual void SetCommandName(const std::string& name) { (void)name; }

  std::uint8_t lun = 0;
  std::uint8_t hostAdapterStatus = 0;
  std::uint8_t targetStatus = 0;
  std::uint8_t* transferBuffer = nullptr;
  std::uint32_t transferLength = 0;
  std::uint32_t senseLength = 0;
  SenseRecord senseRecord;
  std::string lastMessage;
  std::string commandName;
  std::vector<std::string> scanNotes;

 private:
  CommandStatus ExecuteWithRetry(std::uint8_t* cdb, std::uint8_t length,
                                 std::uint32_t timeoutSeconds);
};

}  // namespace qx
