#include "sim/SimMachine.h"

#include <cctype>
#include <cstdlib>

namespace qx {
namespace {

// "adapter:target", each a decimal number of one byte.
bool ParseAspiAddress(const std::string& address, std::uint8_t* adapter, std::uint8_t* target) {
  const std::size_t colon = address.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == address.size()) return false;
  unsigned long numbers[2] = {};
  const std::string parts[2] = {address.substr(0, colon), address.substr(colon + 1)};
  for (int i = 0; i < 2; ++i) {
    for (char c : parts[i]) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    numbers[i] = std::strtoul(parts[i].c_str(), nullptr, 10);
    if (parts[i].size() > 3 || numbers[i] > 255) return false;
  }
  *adapter = static_cast<std::uint8_t>(numbers[0]);
  *target = static_cast<std::uint8_t>(numbers[1]);
  return true;
}

}  // namespace

SimMachine::SimMachine(const SimMachineOptions& options)
    : registry(options.flavor), system(options.mutexes), logFile(options.logPath) {
  platform.system = &system;
  platform.registry = &registry;
  platform.passThroughPort = &port;
  platform.aspiManager = &aspi;
  platform.threads = &clock;
  platform.logFile = &logFile;
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
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    if (!ParseAspiAddress(entry.address, &adapter, &target)) {
      fail("'" + entry.address + "' is not a drive address");
      continue;
    }
    SimDrive& drive = AddAspiDrive(adapter, target, entry.config);
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
