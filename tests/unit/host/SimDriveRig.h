#pragma once
// One simulated drive at E: behind the simulated pass-through port, reached through
// the real device facade: the update flow's tests see exactly the bytes the drive sees.
#include <cstring>
#include <memory>
#include <string>

#include "device/PassThroughDevice.h"
#include "platform/PassThroughRequest.h"
#include "device/ScsiDevice.h"
#include "platform/PassThroughPort.h"
#include "platform/Platform.h"
#include "sim/SimDrive.h"
#include "sim/SimPassThroughPort.h"

namespace qx {
namespace flowtest {

// The drive, its port and a facade on the pass-through transport, scanned.
struct Rig {
  explicit Rig(const SimDriveConfig& config = SimDriveConfig(), std::uint32_t maxTransfer = 0x10000)
      : drive(port.AddDrive('E', config)) {
    port.SetMaxTransfer('E', maxTransfer);
    platform.passThroughPort = &port;
    PassThroughDevice::ResetTables();
    device = std::make_unique<ScsiDevice>(platform);
    device->SetUsePassThrough(true);
    driveCount = device->ScanDrives();
    // The power-on unit attention belongs to the start-up's drive check, not to
    // the flows tested here.
    device->SelectDrive(0);
    device->TestUnitReady();
    drive.ClearLog();
  }
  ~Rig() { PassThroughDevice::ResetTables(); }

  // The port that the scenarios and start-up tests use too, as strict as a real one.
  SimPassThroughPort port;
  SimDrive& drive;
  Platform platform;
  std::unique_ptr<ScsiDevice> device;
  int driveCount = 0;
};

}  // namespace flowtest
}  // namespace qx
