#pragma once
// SCSI status bytes and the additional sense codes the simulated drive answers
// with. Sense keys are in device/CommandStatus.h (qx::sense).
#include <cstdint>

namespace qx::scsi {

constexpr std::uint8_t kStatusGood = 0x00;
constexpr std::uint8_t kStatusCheckCondition = 0x02;
constexpr std::uint8_t kStatusBusy = 0x08;

// ASC, ASCQ pairs.
struct SenseCode {
  std::uint8_t asc;
  std::uint8_t ascq;
};
constexpr SenseCode kNoAdditionalSense{0x00, 0x00};
constexpr SenseCode kBecomingReady{0x04, 0x01};
constexpr SenseCode kParameterListLengthError{0x1A, 0x00};
constexpr SenseCode kInvalidOpcode{0x20, 0x00};
constexpr SenseCode kLbaOutOfRange{0x21, 0x00};
constexpr SenseCode kInvalidFieldInCdb{0x24, 0x00};
constexpr SenseCode kLunNotSupported{0x25, 0x00};
constexpr SenseCode kInvalidFieldInParameterList{0x26, 0x00};
constexpr SenseCode kParameterValueInvalid{0x26, 0x02};
constexpr SenseCode kMediumMayHaveChanged{0x28, 0x00};
constexpr SenseCode kPowerOnReset{0x29, 0x00};
constexpr SenseCode kCommandSequenceError{0x2C, 0x00};
constexpr SenseCode kMediumNotPresentTrayClosed{0x3A, 0x01};
constexpr SenseCode kMediumNotPresentTrayOpen{0x3A, 0x02};
constexpr SenseCode kMicrocodeChanged{0x3F, 0x01};
constexpr SenseCode kInternalTargetFailure{0x44, 0x00};
constexpr SenseCode kDataPhaseError{0x4B, 0x00};
constexpr SenseCode kMediumRemovalPrevented{0x53, 0x02};

}  // namespace qx::scsi
