// Faults the registry_journal fuzz target found, each pinned by the case that
// showed it.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "app/ChangeJournal.h"
#include "app/ProfileStore.h"
#include "platform/host/MemoryRegistry.h"

namespace qx {
namespace {

const char kJournal[] = "Software\\Velmora_ODD\\qxupdate\\Change";
const char kCdrom[] = "SYSTEM\\CurrentControlSet\\Services\\Cdrom";
const char kAtapiPort[] = "SYSTEM\\CurrentControlSet\\Services\\atapi\\Parameters\\Port0";
const char kScsiEntry[] = "Enum\\SCSI\\X";

std::vector<std::uint8_t> Dword(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

class JournalRegression : public ::testing::Test {
 protected:
  explicit JournalRegression(RegistryFlavor flavor = RegistryFlavor::Nt)
      : registry(flavor), profile(registry, "qxupdate"),
        journal(registry, profile, flavor == RegistryFlavor::Nt) {}

  std::string Record(const std::string& name) { return std::string(kJournal) + "\\" + name; }
  void PutRecord(const std::string& name, const std::string& subKey, const std::string& value,
                 std::uint32_t type, std::uint32_t old) {
    registry.PutString(reg::kCurrentUser, Record(name), "SubKey_Name", subKey);
    registry.PutString(reg::kCurrentUser, Record(name), "Value_Name", value);
    registry.PutDword(reg::kCurrentUser, Record(name), "Value_Type", type);
    registry.PutDword(reg::kCurrentUser, Record(name), "Value", old);
  }
  std::vector<std::uint8_t> Value(RegKey root, const std::string& path, const std::string& name) {
    std::vector<std::uint8_t> data;
    registry.GetValue(root, path, name, nullptr, &data);
    return data;
  }

  MemoryRegistry registry;
  ProfileStore profile;
  ChangeJournal journal;
};

class JournalRegression9x : public JournalRegression {
 protected:
  JournalRegression9x() : JournalRegression(RegistryFlavor::Windows9x) {}
  void ListDevice(const std::string& entry, const std::string& hardwareKey) {
    registry.PutString(reg::kDynData, "Config Manager\\Enum\\" + entry, "HardWareKey", hardwareKey);
  }
};

// A count of INT_MAX (a "Changed" nobody should trust) made the next record number
// overflow; one number short of it, the second setting did.
TEST_F(JournalRegression, CountAtTheLargestNumberNeitherOverflowsNorChangesUnjournalled) {
  registry.PutString(reg::kLocalMachine, kAtapiPort, "DriverParameter", "DmaDetectionLevel = 0x1;");
  registry.PutDword(reg::kLocalMachine, kCdrom, "Autorun", 1);

  journal.changedCount = INT_MAX;
  std::string before = registry.Dump();
  EXPECT_TRUE(journal.Scan(true));
  EXPECT_EQ(before, registry.Dump()) << "no number left: nothing journalled, nothing changed";
  EXPECT_EQ(INT_MAX, journal.changedCount);

  journal.changedCount = INT_MAX - 1;
  EXPECT_TRUE(journal.Scan(true));
  // The last number goes to the first setting; the second keeps its value.
  EXPECT_EQ(INT_MAX, journal.changedCount);
  EXPECT_TRUE(registry.KeyExists(reg::kCurrentUser, Record("2147483647")));
  std::vector<std::uint8_t> dma = Value(reg::kLocalMachine, kAtapiPort, "DriverParameter");
  EXPECT_EQ("DmaDetectionLevel = 0x0;", std::string(dma.begin(), std::find(dma.begin(), dma.end(), 0)));
  EXPECT_EQ(Dword(1), Value(reg::kLocalMachine, kCdrom, "Autorun"));
  std::vector<std::uint8_t> unused;
  EXPECT_FALSE(registry.GetValue(reg::kCurrentUser, Record("-2147483648"), "Value", nullptr, &unused));
}

// Record names above a thousand million were not taken for numbers, so a count
// just below one made the scan write its record into one already there, losing the
// original value it held.
TEST_F(JournalRegression, RecordNumberedPastAThousandMillionIsNeverOverwritten) {
  registry.PutDword(reg::kLocalMachine, kCdrom, "Autorun", 1);
  PutRecord("1000000005", kCdrom, "Autorun", 4, 0x95);
  journal.changedCount = 1000000004;

  ASSERT_TRUE(journal.Scan(true));
  EXPECT_EQ(Dword(0x95), Value(reg::kCurrentUser, Record("1000000005"), "Value"));
  EXPECT_EQ(Dword(1), Value(reg::kCurrentUser, Record("1000000006"), "Value"));
  EXPECT_EQ(1000000006, journal.changedCount);
  EXPECT_EQ(Dword(0), Value(reg::kLocalMachine, kCdrom, "Autorun"));

  // Newest first, so the value from before the utility is the one that stays.
  journal.Restore();
  EXPECT_EQ(0, journal.changedCount);
  EXPECT_EQ(Dword(0x95), Value(reg::kLocalMachine, kCdrom, "Autorun"));
}

// Restore wrote timing values below any class of Control\Class a record named,
// though the scan only changes those of the class whose "Class" is "hdc".
TEST_F(JournalRegression, RestoreLeavesTimingOfAnotherDeviceClassAlone) {
  const std::string classes = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
  const std::string disc = classes + "{4D36E96A}\\0001";
  const std::string other = classes + "{4D36E965}\\0001";
  registry.PutString(reg::kLocalMachine, classes + "{4D36E96A}", "Class", "hdc");
  registry.PutString(reg::kLocalMachine, classes + "{4D36E965}", "Class", "CDROM");
  registry.PutDword(reg::kLocalMachine, disc, "MasterDeviceTimingMode", 16);
  registry.PutDword(reg::kLocalMachine, other, "MasterDeviceTimingMode", 16);
  PutRecord("  1", other, "MasterDeviceTimingMode", 4, 20);
  PutRecord("  2", disc, "MasterDeviceTimingMode", 4, 20);

  journal.changedCount = 2;
  journal.Restore();
  EXPECT_EQ(Dword(16), Value(reg::kLocalMachine, other, "MasterDeviceTimingMode"));
  EXPECT_EQ(Dword(20), Value(reg::kLocalMachine, disc, "MasterDeviceTimingMode"));
  EXPECT_EQ(1, journal.changedCount);
  EXPECT_TRUE(registry.KeyExists(reg::kCurrentUser, Record("  1")));
  EXPECT_FALSE(registry.KeyExists(reg::kCurrentUser, Record("  2")));

  // "HDC" is not "hdc" either: the scan compares it exactly.
  registry.PutString(reg::kLocalMachine, classes + "{4D36E965}", "Class", "HDC");
  journal.Restore();
  EXPECT_EQ(Dword(16), Value(reg::kLocalMachine, other, "MasterDeviceTimingMode"));
  EXPECT_EQ(1, journal.changedCount);
}

// Restore put an "Enum\SCSI..." record back only while the configuration manager
// listed the device: a drive unplugged before the resumed start kept DMA and
// auto-insert off for good, and the journal and the Run entry stayed with them.
// What the scan could have changed goes back, listed or not; anything else below
// Enum stays as it is.
TEST_F(JournalRegression9x, RestorePutsBackTheFlagsOfAScsiDeviceNoLongerListed) {
  const std::string other = "Enum\\PCI\\X";
  const std::string lower = "Enum\\scsi\\Y";  // the scan's "SCSI" is upper case
  registry.PutValue(reg::kLocalMachine, kScsiEntry, "AutoInsertNotification", reg::kTypeBinary, {0});
  registry.PutValue(reg::kLocalMachine, kScsiEntry, "DMACurrentlyUsed", reg::kTypeBinary, {0});
  registry.PutValue(reg::kLocalMachine, kScsiEntry, "Class", reg::kTypeBinary, {0});
  registry.PutValue(reg::kLocalMachine, other, "AutoInsertNotification", reg::kTypeBinary, {0});
  registry.PutValue(reg::kLocalMachine, lower, "AutoInsertNotification", reg::kTypeBinary, {0});
  PutRecord("  1", kScsiEntry, "AutoInsertNotification", 3, 1);
  PutRecord("  2", kScsiEntry, "DMACurrentlyUsed", 3, 1);
  PutRecord("  3", kScsiEntry, "Class", 3, 1);
  PutRecord("  4", other, "AutoInsertNotification", 3, 1);
  PutRecord("  5", lower, "AutoInsertNotification", 3, 1);
  ListDevice("0000", "SCSI\\CDROM&VEN_OTHER\\1");  // some other device, not this one

  journal.changedCount = 5;
  journal.Restore();
  EXPECT_EQ(std::vector<std::uint8_t>{1},
            Value(reg::kLocalMachine, kScsiEntry, "AutoInsertNotification"));
  EXPECT_EQ(std::vector<std::uint8_t>{1}, Value(reg::kLocalMachine, kScsiEntry, "DMACurrentlyUsed"));
  EXPECT_FALSE(registry.KeyExists(reg::kCurrentUser, Record("  1")));
  EXPECT_FALSE(registry.KeyExists(reg::kCurrentUser, Record("  2")));
  // A value the scan never changes, an entry of another bus, a "scsi" the scan
  // would not take: left alone, their records kept.
  EXPECT_EQ(std::vector<std::uint8_t>{0}, Value(reg::kLocalMachine, kScsiEntry, "Class"));
  EXPECT_EQ(std::vector<std::uint8_t>{0}, Value(reg::kLocalMachine, other, "AutoInsertNotification"));
  EXPECT_EQ(std::vector<std::uint8_t>{0}, Value(reg::kLocalMachine, lower, "AutoInsertNotification"));
  EXPECT_EQ(3, journal.changedCount);
}

// Hardware keys run to 511 characters, but a record's key path comes back in at
// most 128 bytes: a longer one was switched off and journalled, and then could never
// be restored.
TEST_F(JournalRegression9x, ADeviceWhoseKeyPathARecordCannotCarryIsLeftAlone) {
  const std::string longKey = "SCSI\\" + std::string(118, 'L');   // a path of 128
  const std::string shortKey = "SCSI\\" + std::string(117, 'S');  // 127: still fits
  for (const std::string& key : {longKey, shortKey}) {
    registry.PutValue(reg::kLocalMachine, "Enum\\" + key, "AutoInsertNotification",
                      reg::kTypeBinary, {1});
  }
  ListDevice("0000", longKey);
  ListDevice("0001", shortKey);
  ASSERT_EQ(128u, ("Enum\\" + longKey).size());
  ASSERT_EQ(127u, ("Enum\\" + shortKey).size());
  std::string before = registry.Dump(reg::kLocalMachine);

  journal.changedCount = 0;
  EXPECT_TRUE(journal.Scan(true));
  EXPECT_EQ(1, journal.changedCount) << "only the device whose path fits is journalled";
  EXPECT_EQ(std::vector<std::uint8_t>{1},
            Value(reg::kLocalMachine, "Enum\\" + longKey, "AutoInsertNotification"));
  journal.Restore();
  EXPECT_EQ(0, journal.changedCount);
  EXPECT_EQ(before, registry.Dump(reg::kLocalMachine));
}

}  // namespace
}  // namespace qx
