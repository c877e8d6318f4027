#pragma once
// The pass-through transport (NT family): every command opens the volume device of
// the drive's letter, sends one synchronous SCSI pass-through request and closes it.
// The drive list, the per-drive maximum transfer lengths and the in-use flags are
// module-level tables of 28 slots shared by every PassThroughDevice: slots 0-25 hold
// found drives, slot 27 is the probe slot a scan sends its INQUIRYs through.
#include <cstdint>
#include <string>

#include "device/ScsiTransport.h"
#include "platform/Platform.h"
#include "text/TextCatalogue.h"

namespace qx {

class PassThroughDevice : public ScsiTransport {
 public:
  static constexpr std::uint8_t kSlotCount = 28;
  static constexpr std::uint8_t kProbeSlot = 27;

  explicit PassThroughDevice(const Platform& platform);

  // Walks the letters A to Z and lists each CD/DVD drive whose INQUIRY product is
  // the target model; returns the count. Leaves the device on the probe slot.
  std::uint8_t ScanDrives() override;
  // A copy of entry `index`; empty for an index outside the table.
  std::string GetDriveEntry(int index) const override;
  void SelectDrive(std::uint8_t index) override;
  // 0x01 GOOD, 0x04 error (also an unopenable drive or a refused request), 0xE6 a
  // transfer the slot or the request block cannot carry, 0xFD a command already in
  // progress on the slot. The time-out is not used: the port time-out is fixed.
  CommandStatus ExecuteOnce(std::uint8_t* cdb, std::uint8_t length,
                            std::uint32_t timeoutSeconds) override;

  // The port driver's maximum transfer for the drive of slot `index`, at most
  // 131072; 65536 when the driver will not say, 0 when the drive cannot be opened.
  std::uint32_t QueryMaxTransfer(std::uint8_t index);
  // The maximum recorded for slot `index` by the last scan; 0 outside the table.
  std::uint32_t MaxTransferLength(std::uint8_t index) const;

  std::uint8_t DriveIndex() const { return driveIndex; }
  std::uint8_t TargetStatus() const { return targetStatus; }
  std::uint32_t SenseLength() const { return senseLength; }
  // The system's error when the last command could not open its drive (5: access
  // denied, as for a user without administrator rights), or when the port refused
  // its request (121: no answer in time); 0 otherwise.
  std::uint32_t OpenError() const { return openError; }
  std::uint32_t RequestError() const { return requestError; }

  // Empties every slot of the module-level tables (entries, maxima, in-use flags).
  static void ResetTables();
  // Direct access to a slot's in-use flag, for tests of the re-entry guard.
  static int& InUseFlag(std::uint8_t index);

 protected:
  std::uint32_t CommandTimeout() const override { return 7200; }

 private:
  void SetHandleErrorMessage(std::uint32_t error);
  void SetRequestErrorMessage(std::uint32_t error);
  // Why the scan's INQUIRY to the probe slot did not answer GOOD, for its note.
  std::string InquiryFailure(CommandStatus result) const;
  // The catalogue's text `id` in the system's language.
  const std::string& CatalogueText(TextId id) const;

  Platform platform;
  std::uint8_t driveIndex = 0;
  std::uint32_t openError = 0;
  std::uint32_t requestError = 0;
  // The scan's INQUIRY data; a member so the transfer buffer never dangles after a scan.
  std::uint8_t scanBuffer[256] = {};
};

}  // namespace qx
