#pragma once
// One simulated drive at E: behind a pass-through port, reached through the real
// device facade: the update flow's tests see exactly the bytes the drive sees.
#include <cstring>
#include <memory>
#include <string>

#include "device/PassThroughDevice.h"
#include "device/PassThroughRequest.h"
#include "device/ScsiDevice.h"
#include "platform/PassThroughPort.h"
#include "platform/Platform.h"
#include "sim/SimDrive.h"

namespace qx {
namespace flowtest {

class SimDrivePort : public PassThroughPort {
 public:
  explicit SimDrivePort(SimDrive& drive) : drive(drive) {}

  std::uint32_t maxTransfer = 0x10000;

  std::uint32_t GetDriveType(const char* rootName) override {
    return rootName[0] == 'E' ? passthrough::kDriveTypeCdrom : 1;
  }
  PortHandle Open(const char* path) override {
    return std::string(path) == "\\\\.\\E:" ? 1 : kInvalidPortHandle;
  }
  bool SendPassThrough(PortHandle, PassThroughRequest* block, std::uint32_t*) override {
    ScsiPassThroughDirect& spt = block->spt;
    DataDirection direction = spt.DataIn == passthrough::kDataOut  ? DataDirection::Out
                              : spt.DataIn == passthrough::kDataIn ? DataDirection::In
                                                                   : DataDirection::Unspecified;
    SimCommandResult result =
        drive.Execute(spt.Cdb, spt.CdbLength, static_cast<std::uint8_t*>(spt.DataBuffer),
                      spt.DataTransferLength, direction);
    if (!result.completed) {
      lastError = 121;  // the port driver's time-out
      return false;
    }
    spt.ScsiStatus = result.status;
    auto* sense = reinterpret_cast<std::uint8_t*>(block) + spt.SenseInfoOffset;
    std::memcpy(sense, result.sense.data(),
                spt.SenseInfoLength < result.sense.size() ? spt.SenseInfoLength
                                                          : result.sense.size());
    return true;
  }
  bool GetCapabilities(PortHandle, IoScsiCapabilities* capabilities, std::uint32_t*) override {
    capabilities->Length = sizeof *capabilities;
    capabilities->MaximumTransferLength = maxTransfer;
    return true;
  }
  void Close(PortHandle) override {}
  std::uint32_t GetLastError() override { return lastError; }
  bool FormatMessage(std::uint32_t, std::uint32_t, std::string*) override { return false; }

 private:
  SimDrive& drive;
  std::uint32_t lastError = 0;
};

// The drive, its port and a facade on the pass-through transport, scanned.
struct Rig {
  explicit Rig(const SimDriveConfig& config = SimDriveConfig(), std::uint32_t maxTransfer = 0x10000)
      : drive(config), port(drive) {
    port.maxTransfer = maxTransfer;
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

  SimDrive drive;
  SimDrivePort port;
  Platform platform;
  std::unique_ptr<ScsiDevice> device;
  int driveCount = 0;
};

}  // namespace flowtest
}  // namespace qx
