#pragma once
// The one device object every SCSI command passes through. It forwards each
// operation to the transport chosen once at start-up and does nothing else.
#include <cstdint>
#include <string>
#include <vector>

#include "device/AspiDevice.h"
#include "device/CommandStatus.h"
#include "device/PassThroughDevice.h"
#include "platform/Platform.h"

namespace qx {

class ScsiDevice {
 public:
  explicit ScsiDevice(const Platform& platform);
  ScsiDevice(const ScsiDevice&) = delete;
  ScsiDevice& operator=(const ScsiDevice&) = delete;

  // Chosen once, from the platform id: true on the NT family.
  void SetUsePassThrough(bool value) { usePassThrough = value; }
  bool UsePassThrough() const { return usePassThrough; }

  std::uint8_t ScanDrives();
  // The last scan's note on each address it looked at (see ScsiTransport).
  const std::vector<std::string>& ScanNotes() const { return Chosen().ScanNotes(); }
  std::string GetDriveEntry(int index) const;
  void SelectDrive(std::uint8_t index);
  void SetBuffer(std::uint8_t* data, std::uint32_t length);
  void GetSenseCodes(std::uint8_t* asc, std::uint8_t* ascq) const;
  std::string GetLastMessage() const;

  CommandStatus TestUnitReady();
  CommandStatus Inquiry(std::uint8_t allocationLength);
  CommandStatus StartStopUnit(bool start, bool immediate, bool loadEject);
  CommandStatus ReceiveDiagnosticResults(std::uint16_t allocationLength);
  CommandStatus SendDiagnostic(std::uint8_t flags, std::uint16_t parameterListLength);
  CommandStatus PreventAllowMediumRemoval(bool prevent);
  CommandStatus Read10(std::uint32_t logicalBlockAddress, std::uint16_t blockCount, bool fua,
                       bool relativeAddress);

  // The largest transfer the chosen transport can carry to drive `index` of its
  // list (the pass-through slot's maximum, or the ASPI staging area).
  std::uint32_t MaxTransferLength(std::uint8_t index) const;

  AspiDevice& Aspi() { return aspi; }
  PassThroughDevice& PassThrough() { return passThrough; }

 private:
  ScsiTransport& Chosen();
  const ScsiTransport& Chosen() const;

  bool usePassThrough = false;
  AspiDevice aspi;
  PassThroughDevice passThrough;
};

}  // namespace qx
