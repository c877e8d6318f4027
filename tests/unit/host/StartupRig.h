#pragma once
// The simulated machine for the start-up and main dialog tests: its device made
// at once, over the seams as they are, and a start of the program as the framework
// runs it.
#include <memory>
#include <string>
#include <vector>

#include "sim/SimMachine.h"

namespace qx {
namespace startuptest {

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\run";
constexpr char kProfileKey[] = "Software\\Velmora_ODD\\qxupdate";
constexpr char kCdromKey[] = "SYSTEM\\CurrentControlSet\\Services\\Cdrom";

struct Machine : SimMachine {
  explicit Machine(std::shared_ptr<HostMutexTable> mutexes = nullptr)
      : SimMachine({RegistryFlavor::Nt, std::move(mutexes), std::string()}) {
    Device();
    registry.PutKey(reg::kCurrentUser, kRunKey);
  }

  SimDrive& AddDrive(char letter, const std::string& revision, std::uint8_t letterByte = 0x41) {
    SimDriveConfig config;
    config.revision = revision;
    config.letter = letterByte;
    return SimMachine::AddDrive(letter, config);
  }

  // A setting the change journal must change before the update.
  void SettingsInTheWay() { registry.PutDword(reg::kLocalMachine, kCdromKey, "Autorun", 1); }

  // Runs the start-up and the exit routine, as the framework would.
  StartupEnd Run() {
    app = std::make_unique<UpdateApp>(platform, *device, Views(), applicationName);
    returned = app->InitInstance();
    app->ExitInstance();
    // The process ends: the system closes its handles, the mutex's too.
    if (app->instanceMutex != 0) system.CloseHandle(app->instanceMutex);
    return app->End();
  }

  std::vector<std::string> DialogNames() const {
    std::vector<std::string> names;
    for (const ShownDialog& shown : dialogs.Shown()) names.push_back(shown.name);
    return names;
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& box : system.messageBoxes) texts.push_back(box.text);
    return texts;
  }

  // The program's clock and threads, as the tests hand them to the dialog.
  VirtualThreads& threads = clock;
  std::unique_ptr<UpdateApp> app;
  bool returned = true;
  // What the module path gave; empty when it could not be read.
  std::string applicationName = "qxupdate";
};

}  // namespace startuptest
}  // namespace qx
