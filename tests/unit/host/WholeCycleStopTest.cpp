// The promise a user relies on, tested on the whole program: whatever stops it,
// and wherever, every system setting comes back. The real start-up routine runs
// start after start on a simulated machine that survives each restart; one start
// is stopped at one of its effects (a registry write, a drive command, a restart
// request), killed or by a power cut, and then the user goes on as they would
// (restart, the Run value or a start by hand, Agree, Update Start, OK) until a
// start has nothing left to do.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "platform/Forwarding.h"
#include "sim/SimMachine.h"
#include "text/TextCatalogue.h"

namespace qx {
namespace {

constexpr char kApp[] = "qxupdate";
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\run";
constexpr char kProfileKey[] = "Software\\Velmora_ODD\\qxupdate";
constexpr char kDeviceEntry[] = "Config Manager\\Enum\\C29A1B00";
constexpr char kHardwareKey[] = "SCSI\\VELMORA_DVD-ROM_QX-M4471\\MF&CHILD0000&PCI&VEN_8086";
constexpr char kAtapiDevice[] = "SYSTEM\\CurrentControlSet\\Services\\atapi\\Parameters\\Device0";
constexpr char kCdrom[] = "SYSTEM\\CurrentControlSet\\Services\\Cdrom";
constexpr char kIdeClass[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96A-E325-11CE-BFC1-08002BE10318}";
constexpr char kHdc0000[] = "System\\CurrentControlSet\\Services\\Class\\hdc\\0000";
constexpr int kMaxStarts = 8;

// How a start is stopped. A power cut keeps, hive by hive, what was flushed; the
// last two let one hive's lazy write-back finish and not the other's.
enum class Stop { None, Killed, PowerCut, PowerCutUserHiveKept, PowerCutMachineHiveKept };
constexpr Stop kStops[] = {Stop::Killed, Stop::PowerCut, Stop::PowerCutUserHiveKept,
                           Stop::PowerCutMachineHiveKept};

const char* StopName(Stop stop) {
  switch (stop) {
    case Stop::None: return "none";
    case Stop::Killed: return "killed";
    case Stop::PowerCut: return "power cut";
    case Stop::PowerCutUserHiveKept: return "power cut, HKCU written back";
    case Stop::PowerCutMachineHiveKept: return "power cut, HKLM written back";
  }
  return "?";
}

// What else the machine does.
enum class Setup {
  Plain,
  // At the first restart something turns a setting on again (Autorun, DMA), and
  // for that one start the utility's profile key cannot be written.
  ProfileLockedOnResume,
  // A record an older copy left, whose found form claims a type its row never
  // has: DriverParameter as 128 bytes of REG_BINARY.
  ForeignFoundType,
};

struct Case {
  bool nt;
  Setup setup;
  const char* name;
};

const Case kCases[] = {
    {true, Setup::Plain, "NT"},
    {false, Setup::Plain, "95/98/ME"},
    {true, Setup::ProfileLockedOnResume, "NT, profile locked on resume"},
    {false, Setup::ProfileLockedOnResume, "95/98/ME, profile locked on resume"},
    {true, Setup::ForeignFoundType, "NT, record of a foreign type"},
};

std::vector<std::uint8_t> Text128(const std::string& text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.resize(128, 0);
  return bytes;
}

// The machine as it was before the utility ever ran: its settings in the way of
// the update, HKEY_DYN_DATA as the boot builds it.
void SeedSettings(MemoryRegistry& registry, const Case& c) {
  registry.PutKey(reg::kCurrentUser, kRunKey);
  if (c.nt) {
    registry.PutString(reg::kLocalMachine, kAtapiDevice, "DriverParameter",
                       "DmaDetectionLevel = 0x1;");
    registry.PutDword(reg::kLocalMachine, kCdrom, "Autorun", 1);
    registry.PutString(reg::kLocalMachine, kIdeClass, "Class", "hdc");
    registry.PutDword(reg::kLocalMachine, std::string(kIdeClass) + "\\0001",
                      "MasterDeviceTimingMode", 0x2010);
    registry.PutDword(reg::kLocalMachine, std::string(kIdeClass) + "\\0001",
                      "MasterDeviceTimingModeAllowed", 0xFFFFFFFF);
    if (c.setup == Setup::ForeignFoundType) {
      // Found by the older copy, then changed; put back in the record's own form.
      registry.PutValue(reg::kLocalMachine, kAtapiDevice, "DriverParameter", reg::kTypeString,
                        Text128("DmaDetectionLevel = 0x1;"));
    }
    return;
  }
  const std::string device = std::string("Enum\\") + kHardwareKey;
  registry.PutValue(reg::kLocalMachine, device, "AutoInsertNotification", reg::kTypeBinary, {1});
  registry.PutValue(reg::kLocalMachine, device, "DMACurrentlyUsed", reg::kTypeBinary, {1});
  registry.PutValue(reg::kLocalMachine, kHdc0000, "IDEDMADRIVE0", reg::kTypeBinary, {1});
}

void SeedForeignRecord(MemoryRegistry& registry) {
  registry.PutValue(reg::kLocalMachine, kAtapiDevice, "DriverParameter", reg::kTypeString,
                    Text128("DmaDetectionLevel = 0x0;"));
  const std::string record = std::string(kProfileKey) + "\\Change\\  1";
  registry.PutString(reg::kCurrentUser, record, "SubKey_Name", kAtapiDevice);
  registry.PutString(reg::kCurrentUser, record, "Value_Name", "DriverParameter");
  registry.PutDword(reg::kCurrentUser, record, "Value_Type", reg::kTypeString);
  registry.PutDword(reg::kCurrentUser, record, "Found_Type", reg::kTypeBinary);
  registry.PutValue(reg::kCurrentUser, record, "Found_Data", reg::kTypeBinary,
                    Text128("DmaDetectionLevel = 0x1;"));
  registry.PutValue(reg::kCurrentUser, record, "Value", reg::kTypeString,
                    Text128("DmaDetectionLevel = 0x1;"));
  registry.PutDword(reg::kCurrentUser, kProfileKey, "Changed", 1);
  registry.PutDword(reg::kCurrentUser, kProfileKey, "Velmora_ODD_Add", 0);
}

// The machine between starts: what its disk and its drive keep.
struct Disk {
  std::string registry;  // HKCU and HKLM; HKEY_DYN_DATA is built again at each boot
  std::vector<SimDriveEntry> drives;
  int boots = 0;
};

// The program's effects in the order it makes them. The first `limit` happen; the
// one after is where the process stops, and it makes none after it: no write, no
// flush, no drive command, no restart.
struct Effects {
  std::size_t limit = std::numeric_limits<std::size_t>::max();
  std::size_t made = 0;
  std::size_t registryWrites = 0;
  bool stopped = false;
  bool restartRequested = false;
  const UpdateApp* app = nullptr;
  std::vector<std::string>* labels = nullptr;  // the reference run names each one

  bool Pass() {
    if (!stopped && made == limit) stopped = true;
    if (stopped) return false;
    ++made;
    return true;
  }
  void Name(const std::string& what) {
    if (labels != nullptr) labels->push_back(std::string(app ? app->step : "") + ": " + what);
  }
};

// Lets the registry's writes through while the process runs.
class StoppableRegistry : public ForwardingRegistry {
 public:
  StoppableRegistry(MemoryRegistry& memory, Effects& effects)
      : ForwardingRegistry(memory), memory(memory), effects(effects) {
    memory.SetWriteObserver([this](const RegistryWrite& write) {
      lastWrite = DescribeRegistryWrite(write);
    });
  }

  RegStatus CreateKey(RegKey parent, const char* subKey, std::uint32_t options,
                      std::uint32_t access, RegKey* result, std::uint32_t* disposition) override {
    RegKey probe = 0;
    if (inner.OpenKey(parent, subKey, reg::kKeyRead, &probe) == reg::kSuccess) {
      inner.CloseKey(probe);
      return inner.CreateKey(parent, subKey, options, access, result, disposition);
    }
    return Write("create", [&] {
      return inner.CreateKey(parent, subKey, options, access, result, disposition);
    });
  }
  RegStatus SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                     std::uint32_t size) override {
    return Write("set", [&] { return inner.SetValue(key, name, type, data, size); });
  }
  RegStatus DeleteKey(RegKey key, const char* subKey) override {
    return Write("delete key", [&] { return inner.DeleteKey(key, subKey); });
  }
  RegStatus DeleteValue(RegKey key, const char* name) override {
    return Write("delete value", [&] { return inner.DeleteValue(key, name); });
  }
  RegStatus FlushKey(RegKey key) override {
    return effects.stopped ? reg::kSuccess : inner.FlushKey(key);
  }

 private:
  template <typename Call>
  RegStatus Write(const char* what, Call call) {
    if (!effects.Pass()) return reg::kAccessDenied;
    const std::size_t before = memory.writeCount();
    RegStatus status = call();
    if (memory.writeCount() != before) ++effects.registryWrites;
    effects.Name(memory.writeCount() != before ? lastWrite
                                               : std::string("REG ") + what + " refused");
    return status;
  }

  MemoryRegistry& memory;
  Effects& effects;
  std::string lastWrite;
};

struct StartOutcome {
  StartupEnd end = StartupEnd::NotRun;
  std::vector<std::string> untrue;  // what the program said that was not so
};

struct Cycle {
  const Case& c;
  std::string newRevision;
  std::string oldRevision = SimDriveConfig().revision;
  // The settings as they were before the utility, and as they must come back.
  MemoryRegistry before;

  explicit Cycle(const Case& c)
      : c(c), before(c.nt ? RegistryFlavor::Nt : RegistryFlavor::Windows9x) {
    SeedSettings(before, c);
  }

  Disk FirstDisk() const {
    MemoryRegistry seeded(Flavor());
    SeedSettings(seeded, c);
    if (c.setup == Setup::ForeignFoundType) SeedForeignRecord(seeded);
    Disk disk;
    disk.registry = seeded.Dump(reg::kCurrentUser) + seeded.Dump(reg::kLocalMachine);
    SimDriveEntry drive;
    drive.address = c.nt ? "E" : "1:0";
    disk.drives.push_back(drive);
    return disk;
  }

  RegistryFlavor Flavor() const { return c.nt ? RegistryFlavor::Nt : RegistryFlavor::Windows9x; }

  // The settings that differ from before the utility ran, by name.
  std::vector<std::string> SettingsChanged(const MemoryRegistry& now) const {
    MemoryRegistry expected(Flavor());
    SeedSettings(expected, c);
    std::vector<std::string> changed;
    const std::vector<std::pair<std::string, std::string>> settings =
        c.nt ? std::vector<std::pair<std::string, std::string>>{
                   {kAtapiDevice, "DriverParameter"},
                   {kCdrom, "Autorun"},
                   {std::string(kIdeClass) + "\\0001", "MasterDeviceTimingMode"},
                   {std::string(kIdeClass) + "\\0001", "MasterDeviceTimingModeAllowed"}}
             : std::vector<std::pair<std::string, std::string>>{
                   {std::string("Enum\\") + kHardwareKey, "AutoInsertNotification"},
                   {std::string("Enum\\") + kHardwareKey, "DMACurrentlyUsed"},
                   {kHdc0000, "IDEDMADRIVE0"}};
    for (const auto& setting : settings) {
      std::uint32_t wantType = 0, haveType = 0;
      std::vector<std::uint8_t> want, have;
      expected.GetValue(reg::kLocalMachine, setting.first, setting.second, &wantType, &want);
      if (!now.GetValue(reg::kLocalMachine, setting.first, setting.second, &haveType, &have) ||
          haveType != wantType || have != want) {
        changed.push_back(setting.second);
      }
    }
    return changed;
  }

  // One start of the program from the disk, the machine going down after it.
  StartOutcome Start(Disk& disk, Effects& effects, Stop stop) {
    SimMachineOptions options;
    options.flavor = Flavor();
    SimMachine machine(options);
    MemoryRegistry& registry = machine.registry;
    EXPECT_TRUE(registry.Load(disk.registry));
    registry.PutString(reg::kDynData, kDeviceEntry, "HardWareKey", kHardwareKey);
    if (c.setup == Setup::ProfileLockedOnResume && disk.boots == 1) {
      if (c.nt) {
        registry.PutDword(reg::kLocalMachine, kCdrom, "Autorun", 1);
      } else {
        registry.PutValue(reg::kLocalMachine, kHdc0000, "IDEDMADRIVE0", reg::kTypeBinary, {1});
      }
      registry.SetKeyProtected(reg::kCurrentUser, kProfileKey, true);
      registry.SetKeyProtected(reg::kCurrentUser, std::string(kProfileKey) + "\\Change", true);
    }
    std::string error;
    EXPECT_TRUE(machine.AddDrives(disk.drives, &error)) << error;
    SimDrive& drive = *machine.DriveAt(disk.drives[0].address);

    StartOutcome outcome;
    StoppableRegistry stoppable(registry, effects);
    machine.platform.registry = &stoppable;
    drive.SetGate([&] { return effects.Pass(); });
    drive.SetObserver([&](const SimCommandRecord& record) {
      if (!effects.stopped) effects.Name("SCSI " + FormatSimCommand(record));
    });
    HostSystem& system = machine.system;
    system.version = VersionInfo{c.nt ? 5u : 4u, c.nt ? 1u : 10u,
                                 c.nt ? sys::kPlatformNt : sys::kPlatformWindows};
    system.modulePath = "C:\\Program Files\\Velmora\\qxupdate.exe";
    system.listener = [&](const std::string& line) {
      if (line.compare(0, 8, "RESTART ") != 0 || !effects.Pass()) return;
      effects.restartRequested = true;
      effects.Name("restart requested");
    };
    system.messageBoxAnswer = [&](WindowRef, const std::string& text, const std::string&,
                                  std::uint32_t) {
      // Told that nothing was changed: true only when every setting is as found.
      if (!effects.stopped && text == Text(TextId::PreparationFailed, Language::English) &&
          !SettingsChanged(registry).empty()) {
        outcome.untrue.push_back("\"nothing has been changed\" with settings changed");
      }
      return kIdOk;
    };
    machine.dialogs.SetLog([&](const std::string& line) {
      if (!effects.stopped && line.compare(0, 10, "DIALOG End") == 0 &&
          drive.Revision() != newRevision) {
        outcome.untrue.push_back("reported updated at revision " + drive.Revision());
      }
    });
    machine.mainView.Queue({MainStep::UpdateIfEnabled()});
    {
      UpdateApp app(machine.platform, machine.Device(), machine.Views(), kApp);
      effects.app = &app;
      app.InitInstance();
      app.ExitInstance();
      machine.RunClockOut();
      outcome.end = app.End();
      effects.app = nullptr;
    }
    if (effects.stopped) {
      switch (stop) {
        case Stop::PowerCut: registry.PowerCut(); break;
        case Stop::PowerCutUserHiveKept: registry.PowerCut({reg::kCurrentUser}); break;
        case Stop::PowerCutMachineHiveKept: registry.PowerCut({reg::kLocalMachine}); break;
        default: break;
      }
    }
    disk.registry = registry.Dump(reg::kCurrentUser) + registry.Dump(reg::kLocalMachine);
    disk.drives = machine.DriveStates();  // a download under way is lost with the power
    ++disk.boots;
    return outcome;
  }

  // Starts until one has nothing left to do: no write, no restart. The first is
  // stopped before its effect `stopAt`. Problems found, empty when none.
  std::vector<std::string> RunOn(Disk disk, std::size_t stopAt, Stop stop,
                                 std::size_t* settingsLost, std::size_t* emptyMakerKeys) {
    std::vector<std::string> problems;
    bool settled = false;
    for (int n = 0; n < kMaxStarts && !settled; ++n) {
      Effects effects;
      if (n == 0 && stop != Stop::None) effects.limit = stopAt;
      StartOutcome outcome = Start(disk, effects, stop);
      for (const std::string& untrue : outcome.untrue) {
        problems.push_back("start " + std::to_string(n + 1) + " said " + untrue);
      }
      // Told the preparation failed, the user mends what the message says and runs
      // the utility again.
      settled = !effects.stopped && effects.registryWrites == 0 && !effects.restartRequested &&
                outcome.end != StartupEnd::LeftAsIs && outcome.end != StartupEnd::PreparationFailed;
    }
    if (!settled) problems.push_back("no start ends with nothing to do");
    MemoryRegistry after(Flavor());
    EXPECT_TRUE(after.Load(disk.registry));
    const std::vector<std::string> lost = SettingsChanged(after);
    *settingsLost += lost.size();
    for (const std::string& name : lost) problems.push_back("setting not back: " + name);
    if (after.Dump(reg::kLocalMachine) != before.Dump(reg::kLocalMachine)) {
      problems.push_back("HKLM differs:\n" + after.Dump(reg::kLocalMachine));
    }
    MemoryRegistry clean(Flavor());
    clean.PutKey(reg::kCurrentUser, kRunKey);
    const std::string user = after.Dump(reg::kCurrentUser);
    if (user != clean.Dump(reg::kCurrentUser)) {
      // The one thing a stop may leave: the maker's key, empty, when the stop came
      // between its creation and the flag saying it was the utility's. Unsure
      // whether it was there before, the utility leaves it; counted apart.
      clean.PutKey(reg::kCurrentUser, "Software\\Velmora_ODD");
      if (user == clean.Dump(reg::kCurrentUser)) {
        ++*emptyMakerKeys;
      } else {
        problems.push_back("HKCU holds what the utility left:\n" + user);
      }
    }
    const std::string revision = disk.drives[0].config.revision;
    if (revision != newRevision && revision != oldRevision) {
      problems.push_back("drive at revision " + revision);
    }
    return problems;
  }
};

// One test per machine, so that the machines' runs share the processors.
class WholeCycleStops : public testing::TestWithParam<Case> {};

TEST_P(WholeCycleStops, EverySettingComesBackAfterAnyStop) {
  std::size_t points = 0;
  std::size_t cases = 0;
  std::size_t settingsLost = 0;
  std::size_t failedCases = 0;
  std::size_t emptyMakerKeys = 0;
  const bool list = std::getenv("QX_LIST_STOP_POINTS") != nullptr;
  const Case& c = GetParam();
  Cycle cycle(c);
  // The cycle without a stop, from the first start to the last: where each start
  // begins, and every effect it makes.
  std::vector<Disk> disks;
  std::vector<std::vector<std::string>> labels;
  Disk disk = cycle.FirstDisk();
  cycle.newRevision = "?";
  for (int n = 0; n < kMaxStarts; ++n) {
    disks.push_back(disk);
    labels.emplace_back();
    Effects effects;
    effects.labels = &labels.back();
    StartOutcome outcome = cycle.Start(disk, effects, Stop::None);
    if (effects.registryWrites == 0 && !effects.restartRequested &&
        outcome.end != StartupEnd::LeftAsIs && outcome.end != StartupEnd::PreparationFailed) {
      break;
    }
  }
  cycle.newRevision = disk.drives[0].config.revision;
  ASSERT_NE(cycle.oldRevision, cycle.newRevision) << "the cycle never updates the drive";
  std::size_t lostHere = 0;
  const std::vector<std::string> clean =
      cycle.RunOn(disks[0], 0, Stop::None, &lostHere, &emptyMakerKeys);
  EXPECT_TRUE(clean.empty()) << "without a stop: " << testing::PrintToString(clean);

  for (std::size_t start = 0; start < disks.size(); ++start) {
    for (std::size_t at = 0; at < labels[start].size(); ++at) {
      const std::string point = std::string(c.name) + ", start " + std::to_string(start + 1) +
                                ", before " + labels[start][at];
      if (list) std::printf("%s\n", point.c_str());
      ++points;
      for (Stop stop : kStops) {
        ++cases;
        std::vector<std::string> problems =
            cycle.RunOn(disks[start], at, stop, &settingsLost, &emptyMakerKeys);
        if (problems.empty()) continue;
        ++failedCases;
        ADD_FAILURE() << point << " (" << StopName(stop) << "):\n  "
                      << testing::PrintToString(problems);
      }
    }
  }
  std::printf("[ stop points %zu x kinds %zu = %zu cases; settings lost %zu; cases failed %zu;"
              " empty maker keys left %zu ]\n",
              points, std::size(kStops), cases, settingsLost, failedCases, emptyMakerKeys);
  RecordProperty("stopPoints", static_cast<int>(points));
  RecordProperty("settingsLost", static_cast<int>(settingsLost));
  EXPECT_EQ(0u, settingsLost);
}

INSTANTIATE_TEST_SUITE_P(Machines, WholeCycleStops, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) {
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           }
                           return name;
                         });

}  // namespace
}  // namespace qx
