#pragma once
// What a drive says about a command besides its data: the SCSI status byte, and the
// fixed-format sense data of a CHECK CONDITION with its key, ASC and ASCQ. The device
// layer, the simulated drive and the tests all read and write them through these names.
#include <cstddef>
#include <cstdint>

namespace qx {

namespace scsi {
constexpr std::uint8_t kStatusGood = 0x00;
constexpr std::uint8_t kStatusCheckCondition = 0x02;
constexpr std::uint8_t kStatusBusy = 0x08;
}  // namespace scsi

namespace sense {

// Fixed-format sense data: where each field sits.
constexpr std::uint8_t kCurrentFixed = 0x70;  // response code: current error, fixed format
constexpr std::size_t kKeyOffset = 2;         // low four bits
constexpr std::uint8_t kKeyMask = 0x0F;
constexpr std::size_t kAdditionalLengthOffset = 7;  // bytes after this one
constexpr std::size_t kAscOffset = 12;
constexpr std::size_t kAscqOffset = 13;
constexpr std::size_t kKeySpecificOffset = 15;  // 3 bytes: field pointer of ILLEGAL REQUEST
constexpr std::size_t kFixedLength = 18;

constexpr std::uint8_t KeyOf(const std::uint8_t* fixed) { return fixed[kKeyOffset] & kKeyMask; }
// The whole length the drive says it filled: the additional length and the 8 bytes before it.
constexpr std::uint32_t LengthOf(const std::uint8_t* fixed) {
  return fixed[kAdditionalLengthOffset] + 8u;
}

// Sense keys.
constexpr std::uint8_t kNoSense = 0x0;
constexpr std::uint8_t kNotReady = 0x2;
constexpr std::uint8_t kMediumError = 0x3;
constexpr std::uint8_t kHardwareError = 0x4;
constexpr std::uint8_t kIllegalRequest = 0x5;
constexpr std::uint8_t kUnitAttention = 0x6;
constexpr std::uint8_t kAbortedCommand = 0xB;

// ASC, ASCQ pairs.
struct Code {
  std::uint8_t asc;
  std::uint8_t ascq;
};
constexpr Code kNoAdditionalSense{0x00, 0x00};
constexpr Code kBecomingReady{0x04, 0x01};
constexpr Code kParameterListLengthError{0x1A, 0x00};
constexpr Code kInvalidOpcode{0x20, 0x00};
constexpr Code kLbaOutOfRange{0x21, 0x00};
constexpr Code kInvalidFieldInCdb{0x24, 0x00};
constexpr Code kLunNotSupported{0x25, 0x00};
constexpr Code kInvalidFieldInParameterList{0x26, 0x00};
constexpr Code kParameterValueInvalid{0x26, 0x02};
constexpr Code kMediumMayHaveChanged{0x28, 0x00};
constexpr Code kPowerOnReset{0x29, 0x00};
constexpr Code kCommandSequenceError{0x2C, 0x00};
constexpr Code kMediumNotPresentTrayClosed{0x3A, 0x01};
constexpr Code kMediumNotPresentTrayOpen{0x3A, 0x02};
constexpr Code kMicrocodeChanged{0x3F, 0x01};
constexpr Code kInternalTargetFailure{0x44, 0x00};
constexpr Code kDataPhaseError{0x4B, 0x00};
constexpr Code kMediumRemovalPrevented{0x53, 0x02};

// How the program reads a sense answer, in two questions asked at two levels.
// A unit attention is reported once, whatever event it announces (reset, medium
// change, new microcode, a changed mode): the device layer sends the same command
// again at once.
constexpr bool IsUnitAttention(std::uint8_t key) { return key == kUnitAttention; }
// The events the start-up waits out before it asks the drive anything: a power-on or
// reset (ASC 29) and a medium change (ASC 28). Told by the ASC alone, whatever key
// stands beside it: that is all the start-up is given to look at.
constexpr bool AnnouncesResetOrMediumChange(std::uint8_t asc) {
  return asc == kPowerOnReset.asc || asc == kMediumMayHaveChanged.asc;
}

}  // namespace sense

// The first 14 bytes of fixed-format sense data of the last command.
struct SenseRecord {
  std::uint8_t bytes[14] = {};
  std::uint8_t SenseKey() const { return sense::KeyOf(bytes); }
  std::uint8_t AdditionalLength() const { return bytes[sense::kAdditionalLengthOffset]; }
  std::uint8_t Asc() const { return bytes[sense::kAscOffset]; }
  std::uint8_t Ascq() const { return bytes[sense::kAscqOffset]; }
};

}  // namespace qx
