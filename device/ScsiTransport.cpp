#include "device/ScsiTransport.h"

#include <cstdio>

namespace qx {

namespace {

// Byte positions inside the 6- and 10-byte CDBs we send.
constexpr int kCdbFlags = 1;        // LUN in bits 7-5, command bits below
constexpr int kCdb6Length16 = 3;    // 2 bytes: allocation / parameter list length
constexpr int kCdb6Length8 = 4;     // 1 byte: allocation length
constexpr int kCdb6Bits = 4;        // START STOP UNIT's and PREVENT ALLOW's own bits
constexpr int kCdb10Lba = 2;        // 4 bytes, most significant first
constexpr int kCdb10Count = 7;      // 2 bytes, most significant first

constexpr std::uint8_t kLunMask = 0x1F;
constexpr int kLunShift = 5;
// One first attempt plus six repeats on unit attention.
constexpr int kMaxRepeats = 6;

void PutBigEndian16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

void PutBigEndian32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 24);
  at[1] = static_cast<std::uint8_t>(value >> 16);
  at[2] = static_cast<std::uint8_t>(value >> 8);
  at[3] = static_cast<std::uint8_t>(value);
}

}  // namespace

DataDirection DirectionOf(std::uint8_t code) {
  switch (code) {
    case opcode::kSendDiagnostic:
      return DataDirection::Out;
    case opcode::kInquiry:
    case opcode::kReceiveDiagnosticResults:
    case opcode::kRead10:
      return DataDirection::In;
    default:
      return DataDirection::Unspecified;
  }
}

void ScsiTransport::SetBuffer(std::uint8_t* data, std::uint32_t length) {
  transferBuffer = data;
  transferLength = length;
}

void ScsiTransport::GetSenseCodes(std::uint8_t* asc, std::uint8_t* ascq) const {
  if (asc != nullptr) *asc = senseRecord.Asc();
  if (ascq != nullptr) *ascq = senseRecord.Ascq();
}

CommandStatus ScsiTransport::ExecuteCdb6(std::uint8_t* cdb, std::uint32_t timeoutSeconds) {
  return ExecuteWithRetry(cdb, 6, timeoutSeconds);
}

CommandStatus ScsiTransport::ExecuteCdb10(std::uint8_t* cdb, std::uint32_t timeoutSeconds) {
  return ExecuteWithRetry(cdb, 10, timeoutSeconds);
}

CommandStatus ScsiTransport::ExecuteWithRetry(std::uint8_t* cdb, std::uint8_t length,
                                              std::uint32_t timeoutSeconds) {
  cdb[kCdbFlags] = static_cast<std::uint8_t>((cdb[kCdbFlags] & kLunMask) | (lun << kLunShift));
  // A drive reports each pending unit attention (reset, medium change, mode change)
  // once; several may be queued, so we repeat a bounded number of times. Anything
  // else is the caller's to decide: repeating a SEND DIAGNOSTIC page blindly could
  // confuse the drive's download sequence.
  for (int repeats = 0;; ++repeats) {
    const CommandStatus result = ExecuteOnce(cdb, length, timeoutSeconds);
    if (result == status::kGood) return result;
    if (repeats >= kMaxRepeats) return result;
    if (!sense::IsUnitAttention(senseRecord.SenseKey())) return result;
  }
}

namespace {

// Sends a command that has no data phase whatever buffer the caller set, and
// leaves that buffer in place for the next data command.
class NoDataScope {
 public:
  NoDataScope(std::uint8_t*& buffer, std::uint32_t& length)
      : buffer(buffer), length(length), savedBuffer(buffer), savedLength(length) {
    buffer = nullptr;
    length = 0;
  }
  ~NoDataScope() {
    buffer = savedBuffer;
    length = savedLength;
  }
  NoDataScope(const NoDataScope&) = delete;
  NoDataScope& operator=(const NoDataScope&) = delete;

 private:
  std::uint8_t*& buffer;
  std::uint32_t& length;
  std::uint8_t* savedBuffer;
  std::uint32_t savedLength;
};

// A command name that carries two of its arguments, as "Read(Group1)(%X)(%X)" does.
std::string NameWithArguments(const char* pattern, unsigned first, unsigned second) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, first, second);
  return text;
}

}  // namespace

CommandStatus ScsiTransport::TestUnitReady() {
  std::uint8_t cdb[6] = {opcode::kTestUnitReady, 0, 0, 0, 0, 0};
  SetCommandName("Test Unit Ready");
  NoDataScope noData(transferBuffer, transferLength);
  return ExecuteCdb6(cdb, CommandTimeout());
}

CommandStatus ScsiTransport::Inquiry(std::uint8_t allocationLength) {
  std::uint8_t cdb[6] = {opcode::kInquiry, 0, 0, 0, 0, 0};
  cdb[kCdb6Length8] = allocationLength;
  SetCommandName("Inquiry");
  return ExecuteCdb6(cdb, CommandTimeout());
}

CommandStatus ScsiTransport::StartStopUnit(bool start, bool immediate, bool loadEject) {
  std::uint8_t cdb[6] = {opcode::kStartStopUnit, 0, 0, 0, 0, 0};
  cdb[kCdbFlags] = immediate ? 0x01 : 0x00;
  cdb[kCdb6Bits] = static_cast<std::uint8_t>((loadEject ? 0x02 : 0x00) | (start ? 0x01 : 0x00));
  // The name keeps its historical spelling: it appears in messages users report.
  SetCommandName(
      NameWithArguments("Stat/StopUnit(%X)(%X)", start ? 1u : 0u, loadEject ? 1u : 0u));
  NoDataScope noData(transferBuffer, transferLength);
  return ExecuteCdb6(cdb, CommandTimeout());
}

CommandStatus ScsiTransport::ReceiveDiagnosticResults(std::uint16_t allocationLength) {
  std::uint8_t cdb[6] = {opcode::kReceiveDiagnosticResults, 0, 0, 0, 0, 0};
  PutBigEndian16(&cdb[kCdb6Length16], allocationLength);
  SetCommandName("Receive Diagnostic Results");
  return ExecuteCdb6(cdb, CommandTimeout());
}

CommandStatus ScsiTransport::SendDiagnostic(std::uint8_t flags, std::uint16_t parameterListLength) {
  std::uint8_t cdb[6] = {opcode::kSendDiagnostic, 0, 0, 0, 0, 0};
  // Flag bits 0-2 land on SelfTest, DevOffL and PF; higher bits fall under the LUN.
  cdb[kCdbFlags] = static_cast<std::uint8_t>(flags << 2);
  PutBigEndian16(&cdb[kCdb6Length16], parameterListLength);
  SetCommandName("Send Diagnostic");
  return ExecuteCdb6(cdb, CommandTimeout());
}

CommandStatus ScsiTransport::PreventAllowMediumRemoval(bool prevent) {
  std::uint8_t cdb[6] = {opcode::kPreventAllowMediumRemoval, 0, 0, 0, 0, 0};
  cdb[kCdb6Bits] = prevent ? 0x01 : 0x00;
  SetCommandName("Prevent/Allow Medium Removal");
  NoDataScope noData(transferBuffer, transferLength);
  return ExecuteCdb6(cdb, CommandTimeout());
}

CommandStatus ScsiTransport::Read10(std::uint32_t logicalBlockAddress, std::uint16_t blockCount,
                                    bool fua, bool relativeAddress) {
  std::uint8_t cdb[10] = {opcode::kRead10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  cdb[kCdbFlags] = static_cast<std::uint8_t>((fua ? 0x08 : 0x00) | (relativeAddress ? 0x01 : 0x00));
  PutBigEndian32(&cdb[kCdb10Lba], logicalBlockAddress);
  PutBigEndian16(&cdb[kCdb10Count], blockCount);
  SetCommandName(NameWithArguments("Read(Group1)(%X)(%X)", logicalBlockAddress, blockCount));
  return ExecuteCdb10(cdb, CommandTimeout());
}

}  // namespace qx
