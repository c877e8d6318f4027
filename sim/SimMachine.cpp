#include "sim/SimMachine.h"

#include <cstdio>

namespace qx {

SimMachine::SimMachine(const SimMachineOptions& options)
    : registry(options.flavor), system(options.mutexes), logFile(options.logPath) {
  platform.system = &system;
  platform.registry = &registry;
  platform.passThroughPort = &port;
  platform.aspiManager = &aspi;
  platform.threads = &clock;
  platform.logFile = &logFile;
  // The log is written in the machine's ANSI code page, as Windows writes it.
  logFile.codePage = [this] { return system.codePage; };
  port.SetSleepHook([this](std::uint32_t ms) { clock.Sleep(ms); });
  dialogs.SetAnswerByDefault(true);
}

SimMachine::~SimMachine() { RunClockOut(); }

SimDrive& SimMachine::AddDrive(char letter, const SimDriveConfig& config) {
  return port.AddDrive(letter, config);
}

SimDrive& SimMachine::AddAspiDrive(std::uint8_t adapter, std::uint8_t target,
                                   const SimDriveConfig& config) {
  if (adapter >= aspi.adapters.size()) aspi.adapters.resize(adapter + 1u);
  AspiDrive entry;
  entry.state.address = std::to_string(adapter) + ":" + std::to_string(target);
  entry.drive = std::make_unique<SimDrive>(config);
  SimDrive& drive = *entry.drive;
  drive.SetSleepHook([this](std::uint32_t ms) { clock.Sleep(ms); });
  aspi.Attach(adapter, target, &drive);
  aspiDrives.push_back(std::move(entry));
  return drive;
}

bool SimMachine::AddDrives(const std::vector<SimDriveEntry>& entries, std::string* error) {
  std::vector<SimDriveEntry> letters;
  bool ok = true;
  auto fail = [&](const std::string& why) {
    if (ok && error != nullptr) *error = why;
    ok = false;
  };
  for (const SimDriveEntry& entry : entries) {
    if (entry.address.size() == 1) {
      letters.push_back(entry);
      continue;
    }
    unsigned adapter = 0;
    unsigned target = 0;
    char after = 0;
    if (std::sscanf(entry.address.c_str(), "%u:%u%c", &adapter, &target, &after) != 2 ||
        adapter > 0xFF || target > 0xFF) {
      fail("'" + entry.address + "' is not a drive address");
      continue;
    }
    SimDrive& drive = AddAspiDrive(static_cast<std::uint8_t>(adapter),
                                   static_cast<std::uint8_t>(target), entry.config);
    aspiDrives.back().state = entry;  // what the state file said, kept for the next one
    if (!drive.ConfigError().empty()) fail("drive " + entry.address + ": " + drive.ConfigError());
  }
  std::string portError;
  if (!port.AddDrives(letters, &portError)) fail(portError);
  return ok;
}

SimDrive* SimMachine::DriveAt(const std::string& address) {
  if (address.size() == 1) return port.Drive(address[0]);
  for (AspiDrive& entry : aspiDrives) {
    if (entry.state.address == address) return entry.drive.get();
  }
  return nullptr;
}

std::vector<SimDriveEntry> SimMachine::DriveStates() const {
  std::vector<SimDriveEntry> states = port.DriveStates();
  for (const AspiDrive& entry : aspiDrives) {
    SimDriveEntry state = entry.state;
    state.config = entry.drive->CurrentConfig();
    states.push_back(state);
  }
  return states;
}

ScsiDevice& SimMachine::Device() {
  if (!device) device = std::make_unique<ScsiDevice>(platform);
  return *device;
}

UpdateAppViews SimMachine::Views() {
  UpdateAppViews views;
  views.notices = &dialogs;
  views.terms = &dialogs;
  views.mainDialog = &mainView;
  return views;
}

void SimMachine::RunClockOut() {
  std::uint64_t wakeMs = 0;
  while (clock.NextWakeTime(&wakeMs)) clock.AdvanceTo(wakeMs);
}

}  // namespace qx
