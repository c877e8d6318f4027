#pragma once
// A whole simulated machine for the start-up and main dialog tests: in-memory
// registry, scriptable system, simulated drives behind the pass-through port,
// scripted dialogs and the virtual clock.
#include <memory>
#include <string>
#include <vector>

#include "app/UpdateApp.h"
#include "device/ScsiDevice.h"
#include "platform/Platform.h"
#include "platform/host/HostLogFile.h"
#include "platform/host/HostSystem.h"
#include "platform/host/MemoryRegistry.h"
#include "sim/ScriptedDialogs.h"
#include "sim/ScriptedMainDialog.h"
#include "platform/host/VirtualThreads.h"
#include "sim/SimPassThroughPort.h"

namespace qx {
namespace startuptest {

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\run";
constexpr char kProfileKey[] = "Software\\Velmora_ODD\\qxupdate";
constexpr char kCdromKey[] = "SYSTEM\\CurrentControlSet\\Services\\Cdrom";

struct Machine {
  explicit Machine(std::shared_ptr<HostMutexTable> mutexes = nullptr) : system(mutexes) {
    platform.system = &system;
    platform.registry = &registry;
    platform.passThroughPort = &port;
    platform.threads = &threads;
    platform.logFile = &logFile;
    device = std::make_unique<ScsiDevice>(platform);
    port.SetSleepHook([this](std::uint32_t ms) { threads.Sleep(ms); });
    registry.PutKey(reg::kCurrentUser, kRunKey);
    dialogs.SetAnswerByDefault(true);
  }

  SimDrive& AddDrive(char letter, const std::string& revision, std::uint8_t letterByte = 0x41) {
    SimDriveConfig config;
    config.revision = revision;
    config.letter = letterByte;
    return port.AddDrive(letter, config);
  }

  // A setting the change journal must change before the update.
  void SettingsInTheWay() { registry.PutDword(reg::kLocalMachine, kCdromKey, "Autorun", 1); }

  // Runs the start-up and the exit routine, as the framework would.
  StartupEnd Run() {
    UpdateAppViews views;
    views.notices = &dialogs;
    views.terms = &dialogs;
    views.mainDialog = &mainView;
    app = std::make_unique<UpdateApp>(platform, *device, views, applicationName);
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

  MemoryRegistry registry;
  HostSystem system;
  HostLogFile logFile;  // the update log, kept across the runs of one machine
  SimPassThroughPort port;
  Platform platform;
  std::unique_ptr<ScsiDevice> device;
  ScriptedDialogs dialogs;
  // After the device and the drives: its destructor lets any worker run to its end.
  VirtualThreads threads;
  ScriptedMainDialog mainView{threads, system, dialogs};
  std::unique_ptr<UpdateApp> app;
  bool returned = true;
  // What the module path gave; empty when it could not be read.
  std::string applicationName = "qxupdate";
};

}  // namespace startuptest
}  // namespace qx
