#pragma once
#include <cstdint>

namespace qx {

// The one-byte result of every device command: the ASPI request status values.
// Only kGood counts as success.
using CommandStatus = std::uint8_t;

namespace status {
constexpr CommandStatus kPending = 0x00;  // not complete within the time-out
constexpr CommandStatus kGood = 0x01;
constexpr CommandStatus kAborted = 0x02;
constexpr CommandStatus kAbortFailed = 0x03;
constexpr CommandStatus kError = 0x04;
constexpr CommandStatus kInvalidHostAdapter = 0x81;
constexpr CommandStatus kNoDevice = 0x82;
constexpr CommandStatus kInvalidSrb = 0xE0;
constexpr CommandStatus kNotInitialised = 0xE4;
constexpr CommandStatus kBusy = 0xE5;
constexpr CommandStatus kBufferTooBig = 0xE6;
constexpr CommandStatus kInUse = 0xFD;
constexpr CommandStatus kNoMemory = 0xFE;
constexpr CommandStatus kDataCompareError = 0xFF;
}  // namespace status

// The first 14 bytes of fixed-format sense data of the last command.
struct SenseRecord {
  std::uint8_t bytes[14] = {};
  std::uint8_t SenseKey() const { return bytes[2] & 0x0F; }
  std::uint8_t AdditionalLength() const { return bytes[7]; }
  std::uint8_t Asc() const { return bytes[12]; }
  std::uint8_t Ascq() const { return bytes[13]; }
};

namespace sense {
constexpr std::uint8_t kNoSense = 0x0;
constexpr std::uint8_t kNotReady = 0x2;
constexpr std::uint8_t kMediumError = 0x3;
constexpr std::uint8_t kHardwareError = 0x4;
constexpr std::uint8_t kIllegalRequest = 0x5;
constexpr std::uint8_t kUnitAttention = 0x6;
constexpr std::uint8_t kAbortedCommand = 0xB;
}  // namespace sense

}  // namespace qx
