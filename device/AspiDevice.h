#pragma once
// The ASPI transport (Windows 95/98/ME). Until the manager is wired in, it holds no
// manager and answers every command as an unloaded manager does on the NT family.
#include <cstdint>
#include <string>

#include "device/ScsiTransport.h"
#include "platform/Platform.h"

namespace qx {

class AspiDevice : public ScsiTransport {
 public:
  explicit AspiDevice(const Platform& platform);

  std::uint8_t ScanDrives() override;
  std::string GetDriveEntry(int index) const override;
  void SelectDrive(std::uint8_t index) override;
  CommandStatus ExecuteOnce(std::uint8_t* cdb, std::uint8_t length,
                            std::uint32_t timeoutSeconds) override;

 protected:
  std::uint32_t CommandTimeout() const override { return 3600; }
  void SetCommandName(const std::string& name) override { commandName = name; }

 private:
  Platform platform;
  std::uint8_t hostAdapterNumber = 0;
  std::uint8_t targetId = 0;
};

}  // namespace qx
