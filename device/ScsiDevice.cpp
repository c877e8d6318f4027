#include "device/ScsiDevice.h"

namespace qx {

ScsiDevice::ScsiDevice(const Platform& platform)
    : aspi(platform), passThrough(platform) {
  usePassThrough = false;
}

ScsiTransport& ScsiDevice::Chosen() {
  if (usePassThrough) return passThrough;
  return aspi;
}

const ScsiTransport& ScsiDevice::Chosen() const {
  if (usePassThrough) return passThrough;
  return aspi;
}

std::uint8_t ScsiDevice::ScanDrives() { return Chosen().ScanDrives(); }

std::string ScsiDevice::GetDriveEntry(int index) const { return Chosen().GetDriveEntry(index); }

void ScsiDevice::SelectDrive(std::uint8_t index) { Chosen().SelectDrive(index); }

void ScsiDevice::SetBuffer(std::uint8_t* data, std::uint32_t length) {
  Chosen().SetBuffer(data, length);
}

void ScsiDevice::GetSenseCodes(std::uint8_t* asc, std::uint8_t* ascq) const {
  Chosen().GetSenseCodes(asc, ascq);
}

std::string ScsiDevice::GetLastMessage() const { return Chosen().GetLastMessage(); }

CommandStatus ScsiDevice::TestUnitReady() { return Chosen().TestUnitReady(); }

CommandStatus ScsiDevice::Inquiry(std::uint8_t allocationLength) {
  return Chosen().Inquiry(allocationLength);
}

CommandStatus ScsiDevice::StartStopUnit(bool start, bool immediate, bool loadEject) {
  return Chosen().StartStopUnit(start, immediate, loadEject);
}

CommandStatus ScsiDevice::ReceiveDiagnosticResults(std::uint16_t allocationLength) {
  return Chosen().ReceiveDiagnosticResults(allocationLength);
}

CommandStatus ScsiDevice::SendDiagnostic(std::uint8_t flags, std::uint16_t parameterListLength) {
  return Chosen().SendDiagnostic(flags, parameterListLength);
}

CommandStatus ScsiDevice::PreventAllowMediumRemoval(bool prevent) {
  return Chosen().PreventAllowMediumRemoval(prevent);
}

CommandStatus ScsiDevice::Read10(std::uint32_t logicalBlockAddress, std::uint16_t blockCount,
                                 bool fua, bool relativeAddress) {
  return Chosen().Read10(logicalBlockAddress, blockCount, fua, relativeAddress);
}

std::uint32_t ScsiDevice::MaxTransferLength(std::uint8_t index) const {
  if (usePassThrough) return passThrough.MaxTransferLength(index);
  // The ASPI transport stages every transfer in a locked area of its own; this is
  // what that area carries, whichever drive it is for.
  return aspi::kMaxTransferLength;
}

}  // namespace qx
