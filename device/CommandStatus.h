#pragma once
#include <cstdint>

#include "device/Sense.h"

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

}  // namespace qx
