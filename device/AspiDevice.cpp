#include "device/AspiDevice.h"

namespace qx {

AspiDevice::AspiDevice(const Platform& platform) : platform(platform) {}

std::uint8_t AspiDevice::ScanDrives() { return 0; }

std::string AspiDevice::GetDriveEntry(int) const { return std::string(); }

void AspiDevice::SelectDrive(std::uint8_t) {
  hostAdapterNumber = 0;
  targetId = 0;
  lun = 0;
}

CommandStatus AspiDevice::ExecuteOnce(std::uint8_t*, std::uint8_t, std::uint32_t) {
  // No manager is loaded: every request fails as "not initialised".
  lastMessage = commandName + " Status : Faild Initailize.";
  return status::kNotInitialised;
}

}  // namespace qx
