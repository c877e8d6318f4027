#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/ChangeJournal.h"
#include "app/ProfileStore.h"
#include "app/RestartResume.h"
#include "platform/host/HostSystem.h"
#include "platform/host/MemoryRegistry.h"
#include "platform/host/VirtualThreads.h"

namespace qx {
namespace {

const char kApp[] = "qxupdate";
const char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\run";

std::size_t ZeroSleeps(VirtualThreads& threads) {
  std::size_t count = 0;
  for (const auto& s : threads.Sleeps()) count += s.milliseconds == 0 ? 1 : 0;
  return count;
}

std::string RunValue(MemoryRegistry& registry, const std::string& name) {
  std::vector<std::uint8_t> data;
  if (!registry.GetValue(reg::kCurrentUser, kRun, name, nullptr, &data)) return "<none>";
  return std::string(data.begin(), data.end());
}

struct Rig {
  explicit Rig(RegistryFlavor flavor = RegistryFlavor::Nt)
      : registry(flavor), restart(registry, system, threads) {}
  MemoryRegistry registry;
  HostSystem system;
  VirtualThreads threads;
  RestartResume restart;
};

TEST(RestartResume, ResumeEntryIsFoundByNameDeletedAndYielded) {
  Rig rig;
  RestartResume::ResumeState state = rig.restart.TakeResumeEntry(kApp);
  EXPECT_FALSE(state.resumed);
  EXPECT_FALSE(state.noResumeEntry);
  EXPECT_TRUE(rig.registry.KeyExists(reg::kCurrentUser, kRun));  // made when missing
  EXPECT_EQ(0u, ZeroSleeps(rig.threads));

  rig.restart.WriteResumeEntry(kApp, "C:\\Program Files\\Qx Tools\\qxupdate.exe");
  EXPECT_EQ(std::string("\"C:\\Program Files\\Qx Tools\\qxupdate.exe\"") + '\0',
            RunValue(rig.registry, kApp));
  rig.registry.PutString(reg::kCurrentUser, kRun, "other", "C:\\other.exe");
  EXPECT_EQ(1u, ZeroSleeps(rig.threads));

  // Another executable name finds nothing and leaves the entry where it is.
  EXPECT_FALSE(rig.restart.TakeResumeEntry("qxupdate2").resumed);
  state = rig.restart.TakeResumeEntry(kApp);
  EXPECT_TRUE(state.resumed);
  EXPECT_EQ("<none>", RunValue(rig.registry, kApp));
  EXPECT_NE("<none>", RunValue(rig.registry, "other"));
  EXPECT_EQ(2u, ZeroSleeps(rig.threads));
  EXPECT_EQ(0u, rig.registry.openHandleCount());
}

TEST(RestartResume, ResumeCommandQuotesOnlyPathsWithSpaces) {
  EXPECT_EQ("C:\\QX\\QXUPDATE.EXE", RestartResume::ResumeCommand("C:\\QX\\QXUPDATE.EXE"));
  EXPECT_EQ("\"C:\\My Files\\q.exe\"", RestartResume::ResumeCommand("C:\\My Files\\q.exe"));
  EXPECT_EQ("\"C:\\My Files\\q.exe\"", RestartResume::ResumeCommand("\"C:\\My Files\\q.exe\""));
}

TEST(RestartResume, UnavailableRunKeyMeansNoEntryAndNothingWritten) {
  Rig rig;
  rig.registry.PutKey(reg::kCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion");
  rig.registry.SetKeyProtected(reg::kCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion",
                               true);
  EXPECT_TRUE(rig.restart.TakeResumeEntry(kApp).noResumeEntry);
  std::string before = rig.registry.Dump();
  rig.restart.WriteResumeEntry(kApp, "C:\\qx.exe");  // opens, never creates
  EXPECT_EQ(before, rig.registry.Dump());
  EXPECT_EQ(0u, ZeroSleeps(rig.threads));
}

TEST(RestartResume, MakerKeyFlagReadsWhatWasThereBefore) {
  Rig rig;
  EXPECT_FALSE(rig.restart.ReadMakerKeyFlag(kApp));  // nothing there
  rig.registry.PutKey(reg::kCurrentUser, "Software\\Velmora_ODD\\other");
  EXPECT_TRUE(rig.restart.ReadMakerKeyFlag(kApp));  // someone else's key
  rig.registry.PutKey(reg::kCurrentUser, "Software\\Velmora_ODD\\qxupdate");
  EXPECT_TRUE(rig.restart.ReadMakerKeyFlag(kApp));  // ours, without a flag
  rig.restart.WriteMakerKeyFlag(kApp, false);
  EXPECT_FALSE(rig.restart.ReadMakerKeyFlag(kApp));
  rig.restart.WriteMakerKeyFlag(kApp, true);
  EXPECT_TRUE(rig.restart.ReadMakerKeyFlag(kApp));
  EXPECT_EQ(2u, ZeroSleeps(rig.threads));
  EXPECT_EQ(0u, rig.registry.openHandleCount());
}

TEST(RestartResume, RemoveUtilityKeysOnBothPlatforms) {
  for (RegistryFlavor flavor : {RegistryFlavor::Nt, RegistryFlavor::Windows9x}) {
    const bool nt = flavor == RegistryFlavor::Nt;
    for (bool preexisted : {false, true}) {
      SCOPED_TRACE(std::string(nt ? "NT " : "9x ") + (preexisted ? "maker key before" : "ours"));
      Rig rig(flavor);
      if (preexisted) rig.registry.PutDword(reg::kCurrentUser, "Software\\Velmora_ODD\\other", "x", 1);
      ProfileStore profile(rig.registry, kApp);
      profile.WriteInt("", "Changed", 0);
      profile.WriteInt("", "Velmora_ODD_Add", preexisted ? 1 : 0);
      profile.WriteString("Change\\  1\\deeper", "x", "y");  // three levels below the app key
      rig.registry.PutKey(reg::kCurrentUser, "Software\\Velmora_ODD\\qxupdate\\Change\\  2");
      rig.restart.RemoveUtilityKeys(kApp, preexisted, nt);
      EXPECT_FALSE(rig.registry.KeyExists(reg::kCurrentUser, "Software\\Velmora_ODD\\qxupdate"));
      EXPECT_EQ(preexisted, rig.registry.KeyExists(reg::kCurrentUser, "Software\\Velmora_ODD"));
      EXPECT_EQ(preexisted,
                rig.registry.KeyExists(reg::kCurrentUser, "Software\\Velmora_ODD\\other"));
      EXPECT_TRUE(rig.registry.KeyExists(reg::kCurrentUser, "Software"));
      EXPECT_EQ(0u, rig.registry.openHandleCount());
    }
  }
}

TEST(RestartResume, ShutdownPrivilegeIsAskedForOnNtOnly) {
  Rig nt;
  EXPECT_TRUE(nt.restart.RestartSystem(true));
  EXPECT_EQ((std::vector<std::string>{"OpenProcessToken 40",
                                      "LookupPrivilegeValue SeShutdownPrivilege",
                                      "AdjustTokenPrivileges 2"}),
            nt.system.privilegeSteps);
  EXPECT_EQ(1, nt.system.restartRequests);
  EXPECT_EQ(sys::kEwxReboot, nt.system.lastExitFlags);

  Rig old(RegistryFlavor::Windows9x);
  EXPECT_TRUE(old.restart.RestartSystem(false));
  EXPECT_TRUE(old.system.privilegeSteps.empty());
  EXPECT_EQ(1, old.system.restartRequests);

  Rig refused;
  refused.system.adjustPrivilegesSucceeds = false;
  std::string failure;
  EXPECT_FALSE(refused.restart.RestartSystem(true, &failure));
  EXPECT_EQ(failure, "AdjustTokenPrivileges, error 5");
  EXPECT_EQ(0, refused.system.restartRequests);
  Rig unknown;
  unknown.system.lookupPrivilegeSucceeds = false;
  EXPECT_FALSE(unknown.restart.RestartSystem(true));
  EXPECT_EQ(2u, unknown.system.privilegeSteps.size());
  EXPECT_EQ(0, unknown.system.restartRequests);
}

// --- The whole cycle, interrupted after every write of the preparation --------

void SeedMachine(MemoryRegistry& registry, bool nt) {
  registry.PutKey(reg::kCurrentUser, kRun);
  registry.PutString(reg::kCurrentUser, "Software\\Other", "keep", "me");
  if (nt) {
    // Settings go back as they were found, type and bytes: a text of its own
    // length, and (on 9x) a flag stored as a number, compare byte for byte.
    registry.PutString(reg::kLocalMachine,
                       "SYSTEM\\CurrentControlSet\\Services\\atapi\\Parameters\\Port0",
                       "DriverParameter", "DmaDetectionLevel = 0x1;");
    const std::string channel = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96A}";
    registry.PutString(reg::kLocalMachine, channel, "Class", "hdc");
    registry.PutDword(reg::kLocalMachine, channel + "\\0000", "MasterDeviceTimingMode", 0x2010);
    registry.PutDword(reg::kLocalMachine, channel + "\\0000", "MasterDeviceTimingModeAllowed", 63);
    registry.PutDword(reg::kLocalMachine, channel + "\\0001", "UserSlaveDeviceTimingModeAllowed",
                      0xFFFFFFFF);
    registry.PutDword(reg::kLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\Cdrom", "Autorun",
                      1);
  } else {
    registry.PutString(reg::kDynData, "Config Manager\\Enum\\C29A0", "HardWareKey",
                       "SCSI\\VELMORA_DVD-ROM\\0");
    registry.PutValue(reg::kLocalMachine, "Enum\\SCSI\\VELMORA_DVD-ROM\\0",
                      "AutoInsertNotification", reg::kTypeBinary, {1});
    registry.PutDword(reg::kLocalMachine, "Enum\\SCSI\\VELMORA_DVD-ROM\\0", "DMACurrentlyUsed", 1);
    registry.PutValue(reg::kLocalMachine, "System\\CurrentControlSet\\Services\\Class\\hdc\\0000",
                      "IDEDMADRIVE0", reg::kTypeBinary, {1});
    registry.PutValue(reg::kLocalMachine,
                      "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter\\0001",
                      "AutoInsertNotificationDrive1", reg::kTypeBinary, {1});
  }
}

// One start of the utility as far as the registry goes, the user agreeing to
// everything. True when it took the main path to the end (restored and restarted).
bool OneStart(MemoryRegistry& registry, bool nt) {
  HostSystem system;
  VirtualThreads threads;
  RestartResume restart(registry, system, threads);
  ProfileStore profile(registry, kApp);
  ChangeJournal journal(registry, profile, nt);
  restart.TakeResumeEntry(kApp);
  bool makerKeyPreexisted = restart.ReadMakerKeyFlag(kApp);
  if (journal.Scan(false)) {
    journal.changedCount = profile.GetInt("", "Changed", 0);
    journal.Scan(true);
    profile.WriteInt("", "Changed", journal.changedCount);
    threads.Sleep(0);
    restart.WriteResumeEntry(kApp, "C:\\Program Files\\qx\\qxupdate.exe");
    restart.WriteMakerKeyFlag(kApp, makerKeyPreexisted);
    restart.RestartSystem(nt);
    return false;
  }
  journal.changedCount = profile.GetInt("", "Changed", 0);
  journal.Restore();
  threads.Sleep(0);
  if (journal.changedCount == 0) restart.RemoveUtilityKeys(kApp, makerKeyPreexisted, nt);
  restart.RestartSystem(nt);
  return true;
}

TEST(RestartResumeCrash, EveryStoppingPointOfThePreparationLosesNothing) {
  std::size_t tried = 0;
  for (bool nt : {true, false}) {
    RegistryFlavor flavor = nt ? RegistryFlavor::Nt : RegistryFlavor::Windows9x;
    MemoryRegistry reference(flavor);
    SeedMachine(reference, nt);
    const std::string machineBefore =
        reference.Dump(reg::kLocalMachine) + reference.Dump(reg::kDynData);
    const std::string userBefore = reference.Dump(reg::kCurrentUser);
    std::size_t start = reference.writeCount();
    ASSERT_FALSE(OneStart(reference, nt));
    const std::size_t preparationWrites = reference.writeCount() - start;
    ASSERT_GT(preparationWrites, 20u);

    for (std::size_t stop = 0; stop <= preparationWrites; ++stop) {
      SCOPED_TRACE((nt ? "NT, stopped after write " : "9x, stopped after write ") +
                   std::to_string(stop));
      MemoryRegistry machine(flavor);
      SeedMachine(machine, nt);
      machine.SetWriteBudget(stop);
      OneStart(machine, nt);
      machine.ClearWriteBudget();
      // The next starts, until one takes the main path and restores.
      int starts = 0;
      while (!OneStart(machine, nt) && ++starts < 4) {
      }
      ASSERT_LT(starts, 4);
      EXPECT_EQ(machineBefore, machine.Dump(reg::kLocalMachine) + machine.Dump(reg::kDynData));
      EXPECT_EQ("<none>", RunValue(machine, kApp));
      EXPECT_FALSE(machine.KeyExists(reg::kCurrentUser, "Software\\Velmora_ODD\\qxupdate"));
      // The one thing a crash may leave: an empty maker key, when the stop came
      // before the flag saying it was ours.
      if (machine.KeyExists(reg::kCurrentUser, "Software\\Velmora_ODD")) {
        machine.PutKey(reg::kCurrentUser, "Software");
        RegistryKey software(machine);
        ASSERT_EQ(reg::kSuccess, software.Open(reg::kCurrentUser, "Software"));
        EXPECT_EQ(reg::kSuccess, software.DeleteSubKey("Velmora_ODD"));
      }
      EXPECT_EQ(userBefore, machine.Dump(reg::kCurrentUser));
      ++tried;
    }
  }
  std::printf("[ stopping points tried: %zu ]\n", tried);
  RecordProperty("stoppingPoints", static_cast<int>(tried));
}

}  // namespace
}  // namespace qx
