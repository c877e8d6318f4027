#pragma once
// One simulated machine, as every native run of the program needs it: the in-memory
// registry, the scriptable system, the update log, simulated drives behind the
// pass-through port and the ASPI manager, the scripted user and the virtual clock,
// bundled into the Platform the program takes. updatesim, the rigs of the tests, the
// drive fuzzer and the phase benchmark all build their machine here, so they cannot
// drift apart.
//
// A run that watches or changes one seam puts its wrapper into `platform` before the
// device is made (Device()): the device keeps the seams it was made with.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/UpdateApp.h"
#include "device/ScsiDevice.h"
#include "platform/Platform.h"
#include "platform/host/HostLogFile.h"
#include "platform/host/HostSystem.h"
#include "platform/host/MemoryRegistry.h"
#include "platform/host/VirtualThreads.h"
#include "sim/FreshProcessScope.h"
#include "sim/ScriptedDialogs.h"
#include "sim/ScriptedMainDialog.h"
#include "sim/SimAspiManager.h"
#include "sim/SimDrive.h"
#include "sim/SimPassThroughPort.h"
#include "sim/SimStateFile.h"

namespace qx {

struct SimMachineOptions {
  RegistryFlavor flavor = RegistryFlavor::Nt;
  // Named mutexes shared with other machines, as processes of one computer share them.
  std::shared_ptr<HostMutexTable> mutexes;
  // The update log's file on disk; empty: it lives in memory only.
  std::string logPath;
};

class SimMachine {
 public:
  explicit SimMachine(const SimMachineOptions& options = SimMachineOptions());
  // Lets every worker run to its end before anything it talks to goes.
  ~SimMachine();
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  // A CD drive behind the pass-through port.
  SimDrive& AddDrive(char letter, const SimDriveConfig& config = SimDriveConfig());
  // A drive at (adapter, target) of the ASPI manager; adapters up to it are made.
  SimDrive& AddAspiDrive(std::uint8_t adapter, std::uint8_t target,
                         const SimDriveConfig& config = SimDriveConfig());
  // Drives as a state file lists them: a letter behind the pass-through port,
  // "adapter:target" at the ASPI manager. False with a reason for the first entry
  // whose address or fault does not parse; the others are added all the same.
  bool AddDrives(const std::vector<SimDriveEntry>& entries, std::string* error);
  // The drive at an address in the state file's form ("E", "1:0"); null for none.
  SimDrive* DriveAt(const std::string& address);
  // Every drive as it is now, for the state file: the port's letters, then the ASPI
  // drives in the order they were added.
  std::vector<SimDriveEntry> DriveStates() const;

  // The device facade over `platform` as it is at the first call.
  ScsiDevice& Device();
  // The scripted user: notices and terms from `dialogs`, the main dialog from `mainView`.
  UpdateAppViews Views();
  // Moves the clock on until no worker sleeps any longer.
  void RunClockOut();

 private:
  // First and last: the machine's program starts, and leaves, as a fresh process.
  FreshProcessScope fresh;
  struct AspiDrive {
    SimDriveEntry state;  // its address and whatever else its entry said
    std::unique_ptr<SimDrive> drive;
  };
  // Before the manager that points at them.
  std::vector<AspiDrive> aspiDrives;

 public:
  MemoryRegistry registry;
  HostSystem system;
  HostLogFile logFile;
  SimPassThroughPort port;
  SimAspiManager aspi;
  // The seams the program is given; all of the above to begin with.
  Platform platform;
  std::unique_ptr<ScsiDevice> device;
  ScriptedDialogs dialogs;
  // After the device and the drives: its destructor lets any worker run to its end.
  VirtualThreads clock;
  ScriptedMainDialog mainView{clock, system, dialogs};
};

}  // namespace qx
