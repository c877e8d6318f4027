#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/ChangeJournal.h"
#include "app/ProfileStore.h"
#include "platform/host/MemoryRegistry.h"

namespace qx {
namespace {

const char kAtapiPort[] = "SYSTEM\\CurrentControlSet\\Services\\atapi\\Parameters\\Port0";
const char kHdcClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96A}";
const char kIdeChannel[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96A}\\0001";
const char kCdrom[] = "SYSTEM\\CurrentControlSet\\Services\\Cdrom";
const char kHdc9x[] = "System\\CurrentControlSet\\Services\\Class\\hdc\\0000";
const char kJournal[] = "software\\Velmora_ODD\\qxupdate\\Change";

std::vector<std::uint8_t> Bytes(std::initializer_list<std::uint8_t> list) { return list; }

std::vector<std::uint8_t> Text128(const std::string& text) {
  std::vector<std::uint8_t> data(128, 0);
  std::memcpy(data.data(), text.data(), text.size());
  return data;
}

class JournalTest : public ::testing::Test {
 protected:
  explicit JournalTest(RegistryFlavor flavor = RegistryFlavor::Nt)
      : registry(flavor), profile(registry, "qxupdate"),
        journal(registry, profile, flavor == RegistryFlavor::Nt) {}

  struct Record {
    std::string subKey, valueName;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> value;
    std::uint32_t valueType = 0;
  };
  bool ReadRecord(int number, Record* record) {
    std::string path = std::string(kJournal) + "\\" + ChangeJournal::RecordName(number);
    std::vector<std::uint8_t> data;
    if (!registry.GetValue(reg::kCurrentUser, path, "SubKey_Name", nullptr, &data)) return false;
    record->subKey = reinterpret_cast<const char*>(data.data());
    registry.GetValue(reg::kCurrentUser, path, "Value_Name", nullptr, &data);
    record->valueName = reinterpret_cast<const char*>(data.data());
    registry.GetValue(reg::kCurrentUser, path, "Value_Type", nullptr, &data);
    record->type = data[0];
    registry.GetValue(reg::kCurrentUser, path, "Value", &record->valueType, &record->value);
    return true;
  }
  std::vector<std::uint8_t> Machine(const std::string& path, const std::string& name,
                                    std::uint32_t* type = nullptr) {
    std::vector<std::uint8_t> data;
    registry.GetValue(reg::kLocalMachine, path, name, type, &data);
    return data;
  }
  void Timing(const char* name, std::uint32_t value) {
    registry.PutDword(reg::kLocalMachine, kIdeChannel, name, value);
  }

  MemoryRegistry registry;
  ProfileStore profile;
  ChangeJournal journal;
};

class Journal9xTest : public JournalTest {
 protected:
  Journal9xTest() : JournalTest(RegistryFlavor::Windows9x) {}
};

TEST(ChangeJournalNames, RecordNamesArePaddedToThreeCharacters) {
  EXPECT_EQ("  9", ChangeJournal::RecordName(9));
  EXPECT_EQ(" 10", ChangeJournal::RecordName(10));
  EXPECT_EQ(" 99", ChangeJournal::RecordName(99));
  EXPECT_EQ("100", ChangeJournal::RecordName(100));
  EXPECT_EQ("999", ChangeJournal::RecordName(999));
  EXPECT_EQ("1000", ChangeJournal::RecordName(1000));
  EXPECT_EQ("Change\\  1", ChangeJournal::RecordSection(1));
}

TEST_F(JournalTest, NumberingContinuesFromTheCountAcrossEveryWidth) {
  for (int start : {8, 9, 98, 99, 998, 999}) {
    MemoryRegistry machine;
    ProfileStore store(machine, "qxupdate");
    ChangeJournal j(machine, store, true);
    machine.PutDword(reg::kLocalMachine, kCdrom, "Autorun", 1);
    machine.PutString(reg::kLocalMachine, kAtapiPort, "DriverParameter", "DmaDetectionLevel = 0x1;");
    j.changedCount = start;
    EXPECT_TRUE(j.Scan(true));
    EXPECT_EQ(start + 2, j.changedCount);
    for (int n : {start + 1, start + 2}) {
      std::string key = std::string(kJournal) + "\\" + ChangeJournal::RecordName(n);
      EXPECT_TRUE(machine.KeyExists(reg::kCurrentUser, key)) << "'" << key << "'";
    }
    EXPECT_FALSE(machine.KeyExists(reg::kCurrentUser, std::string(kJournal) + "\\" +
                                                          ChangeJournal::RecordName(start)));
  }
}

TEST_F(JournalTest, DriverParameterIsJudgedByTheCharacterAfterHex) {
  struct Case {
    const char* text;
    bool needsChange;
  } cases[] = {
      {"DmaDetectionLevel = 0x1;", true}, {"DmaDetectionLevel = 0x0;", false},
      {"a0b", false},  // no "0x": the character at index 1
      {"a1b", true},   {"x", true},
      {"", true},      {"DmaDetectionLevel = 0x", true},
  };
  for (const Case& c : cases) {
    registry.PutString(reg::kLocalMachine, kAtapiPort, "DriverParameter", c.text);
    EXPECT_EQ(c.needsChange, journal.Scan(false)) << c.text;
  }
  registry.PutString(reg::kLocalMachine, kAtapiPort, "DriverParameter", "DmaDetectionLevel = 0x1;");
  ASSERT_TRUE(journal.Scan(true));
  Record record;
  ASSERT_TRUE(ReadRecord(1, &record));
  EXPECT_EQ(kAtapiPort, record.subKey);
  EXPECT_EQ("DriverParameter", record.valueName);
  EXPECT_EQ(1u, record.type);
  EXPECT_EQ(reg::kTypeString, record.valueType);
  EXPECT_STREQ("DmaDetectionLevel = 0x1;", reinterpret_cast<const char*>(record.value.data()));
  std::uint32_t type = 0;
  EXPECT_EQ(Text128("DmaDetectionLevel = 0x0;"), Machine(kAtapiPort, "DriverParameter", &type));
  EXPECT_EQ(reg::kTypeString, type);
  EXPECT_FALSE(journal.Scan(false));

  // Back as it was found: the text and its zero, not the fixed 128 bytes.
  journal.Restore();
  EXPECT_EQ(0, journal.changedCount);
  const std::string found = "DmaDetectionLevel = 0x1;";
  EXPECT_EQ(std::vector<std::uint8_t>(found.c_str(), found.c_str() + found.size() + 1),
            Machine(kAtapiPort, "DriverParameter", &type));
  EXPECT_EQ(reg::kTypeString, type);
}

TEST_F(JournalTest, DriverParameterFillingItsBufferIsReadNoFurther) {
  // 128 letters and no zero: the text ends at the buffer, and "0x" straddling the
  // end must not be found in whatever lies beyond.
  std::vector<std::uint8_t> full(128, 'a');
  full[126] = '0';
  full[127] = 'x';
  registry.PutValue(reg::kLocalMachine, kAtapiPort, "DriverParameter", reg::kTypeString, full);
  ASSERT_TRUE(journal.Scan(true));
  Record record;
  ASSERT_TRUE(ReadRecord(1, &record));
  EXPECT_EQ(129u, record.value.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(full.data()), 128),
            reinterpret_cast<const char*>(record.value.data()));
  // The journal holds it with its zero, 129 bytes: it must still go back, as the
  // same 128 letters, with no zero the system could add after them.
  journal.Restore();
  EXPECT_EQ(0, journal.changedCount);
  EXPECT_FALSE(ReadRecord(1, &record));
  EXPECT_EQ(full, Machine(kAtapiPort, "DriverParameter"));

  // One byte longer: cannot be read within 128 bytes, so it is left alone.
  full.push_back('0');
  registry.PutValue(reg::kLocalMachine, kAtapiPort, "DriverParameter", reg::kTypeString, full);
  EXPECT_FALSE(journal.Scan(false));
}

TEST_F(JournalTest, MasterTimingFollowsTheUserLimitThenTheMode) {
  registry.PutString(reg::kLocalMachine, kHdcClassKey, "Class", "hdc");
  Timing("UserMasterDeviceTimingModeAllowed", 31);
  Timing("MasterDeviceTimingMode", 0x1F);
  EXPECT_FALSE(journal.Scan(false)) << "the user's limit of 31 rules the master side";
  Timing("UserMasterDeviceTimingModeAllowed", 32);
  ASSERT_TRUE(journal.Scan(true));
  EXPECT_EQ(1, journal.changedCount);
  Record record;
  ASSERT_TRUE(ReadRecord(1, &record));
  EXPECT_EQ(kIdeChannel, record.subKey);
  EXPECT_EQ("UserMasterDeviceTimingModeAllowed", record.valueName);
  EXPECT_EQ(Bytes({32, 0, 0, 0}), record.value);
  EXPECT_EQ(Bytes({31, 0, 0, 0}), Machine(kIdeChannel, "UserMasterDeviceTimingModeAllowed"));
  EXPECT_EQ(Bytes({0x1F, 0, 0, 0}), Machine(kIdeChannel, "MasterDeviceTimingMode"));
}

TEST_F(JournalTest, TimingModeAbove16IsLoweredAndItsAllowedValueJournalled) {
  registry.PutString(reg::kLocalMachine, kHdcClassKey, "Class", "hdc");
  Timing("MasterDeviceTimingMode", 16);
  Timing("MasterDeviceTimingModeAllowed", 0xFFFF);
  EXPECT_FALSE(journal.Scan(false));
  Timing("SlaveDeviceTimingMode", 17);
  Timing("SlaveDeviceTimingModeAllowed", 5);  // journalled whatever it holds
  ASSERT_TRUE(journal.Scan(true));
  EXPECT_EQ(2, journal.changedCount);
  Record mode, allowed;
  ASSERT_TRUE(ReadRecord(1, &mode));
  ASSERT_TRUE(ReadRecord(2, &allowed));
  EXPECT_EQ("SlaveDeviceTimingMode", mode.valueName);
  EXPECT_EQ(Bytes({17, 0, 0, 0}), mode.value);
  EXPECT_EQ("SlaveDeviceTimingModeAllowed", allowed.valueName);
  EXPECT_EQ(Bytes({5, 0, 0, 0}), allowed.value);
  EXPECT_EQ(Bytes({16, 0, 0, 0}), Machine(kIdeChannel, "SlaveDeviceTimingMode"));
  EXPECT_EQ(Bytes({31, 0, 0, 0}), Machine(kIdeChannel, "SlaveDeviceTimingModeAllowed"));
  EXPECT_EQ(Bytes({0xFF, 0xFF, 0, 0}), Machine(kIdeChannel, "MasterDeviceTimingModeAllowed"));

  journal.Restore();
  EXPECT_EQ(0, journal.changedCount);
  EXPECT_EQ(Bytes({17, 0, 0, 0}), Machine(kIdeChannel, "SlaveDeviceTimingMode"));
  EXPECT_EQ(Bytes({5, 0, 0, 0}), Machine(kIdeChannel, "SlaveDeviceTimingModeAllowed"));
}

TEST_F(JournalTest, OnlyControllerClassesNamedExactlyHdcCount) {
  registry.PutString(reg::kLocalMachine, kHdcClassKey, "Class", "HDC");
  Timing("MasterDeviceTimingMode", 32);
  EXPECT_FALSE(journal.Scan(false));
  registry.PutString(reg::kLocalMachine, kHdcClassKey, "Class", "hdc");
  EXPECT_TRUE(journal.Scan(false));
}

TEST_F(JournalTest, AutorunIsSwitchedOffAndScanWithoutApplyWritesNothing) {
  registry.PutDword(reg::kLocalMachine, kCdrom, "Autorun", 0);
  EXPECT_FALSE(journal.Scan(false));
  registry.PutDword(reg::kLocalMachine, kCdrom, "Autorun", 1);
  registry.PutString(reg::kLocalMachine, kHdcClassKey, "Class", "hdc");
  Timing("MasterDeviceTimingMode", 32);
  journal.changedCount = 4;
  std::string before = registry.Dump();
  std::size_t writes = registry.writeCount();
  EXPECT_TRUE(journal.Scan(false));
  EXPECT_EQ(before, registry.Dump());
  EXPECT_EQ(writes, registry.writeCount());
  EXPECT_EQ(4, journal.changedCount);
  EXPECT_EQ(0u, registry.openHandleCount());

  ASSERT_TRUE(journal.Scan(true));
  Record record;
  // Timing mode first (5, its allowed value is missing), then Autorun.
  ASSERT_TRUE(ReadRecord(5, &record));
  EXPECT_EQ("MasterDeviceTimingMode", record.valueName);
  ASSERT_TRUE(ReadRecord(6, &record));
  EXPECT_FALSE(ReadRecord(7, &record));
  EXPECT_EQ(kCdrom, record.subKey);
  EXPECT_EQ(Bytes({1, 0, 0, 0}), record.value);
  EXPECT_EQ(Bytes({0, 0, 0, 0}), Machine(kCdrom, "Autorun"));
  EXPECT_EQ(0u, registry.openHandleCount());
}

TEST_F(JournalTest, RestoreKeepsARecordWhoseSettingIsGoneAndCountsIt) {
  registry.PutDword(reg::kLocalMachine, kCdrom, "Autorun", 1);
  registry.PutString(reg::kLocalMachine, kAtapiPort, "DriverParameter", "DmaDetectionLevel = 0x1;");
  registry.PutString(reg::kLocalMachine, kHdcClassKey, "Class", "hdc");
  Timing("UserSlaveDeviceTimingModeAllowed", 40);
  journal.changedCount = 0;
  ASSERT_TRUE(journal.Scan(true));
  ASSERT_EQ(3, journal.changedCount);
  Record second;
  ASSERT_TRUE(ReadRecord(2, &second));
  RegKey key = 0;
  ASSERT_EQ(reg::kSuccess, registry.OpenKey(reg::kLocalMachine, second.subKey.c_str(),
                                            reg::kKeyAllAccess, &key));
  ASSERT_EQ(reg::kSuccess, registry.DeleteValue(key, second.valueName.c_str()));
  registry.CloseKey(key);

  journal.Restore();
  EXPECT_EQ(1, journal.changedCount);
  Record left;
  EXPECT_FALSE(ReadRecord(1, &left));
  EXPECT_TRUE(ReadRecord(2, &left));
  EXPECT_FALSE(ReadRecord(3, &left));
  EXPECT_EQ(Bytes({1, 0, 0, 0}), Machine(kCdrom, "Autorun"));
  const std::string found = "DmaDetectionLevel = 0x1;";
  EXPECT_EQ(std::vector<std::uint8_t>(found.c_str(), found.c_str() + found.size() + 1),
            Machine(kAtapiPort, "DriverParameter"));
  EXPECT_TRUE(registry.KeyExists(reg::kCurrentUser, kJournal));  // the key itself stays
  EXPECT_EQ(0u, registry.openHandleCount());
}

TEST_F(JournalTest, StaleCountNeverOverwritesARecordHoldingAnOriginal) {
  // A crash left records 1 and 2 behind before "Changed" was stored.
  profile.WriteString(ChangeJournal::RecordSection(1), "SubKey_Name", kCdrom);
  profile.WriteString(ChangeJournal::RecordSection(1), "Value_Name", "Autorun");
  profile.WriteInt(ChangeJournal::RecordSection(1), "Value_Type", 4);
  profile.WriteInt(ChangeJournal::RecordSection(1), "Value", 0x95);
  profile.WriteString(ChangeJournal::RecordSection(2), "SubKey_Name", "x");
  registry.PutDword(reg::kLocalMachine, kCdrom, "Autorun", 0);
  registry.PutString(reg::kLocalMachine, kAtapiPort, "DriverParameter", "0x3");
  journal.changedCount = 0;
  ASSERT_TRUE(journal.Scan(true));
  EXPECT_EQ(3, journal.changedCount);
  Record first, third;
  ASSERT_TRUE(ReadRecord(1, &first));
  EXPECT_EQ(Bytes({0x95, 0, 0, 0}), first.value);
  ASSERT_TRUE(ReadRecord(3, &third));
  EXPECT_EQ("DriverParameter", third.valueName);

  // The cut-short record 2 never led to a change: it is dropped, not counted.
  journal.Restore();
  EXPECT_EQ(0, journal.changedCount);
  EXPECT_EQ(Bytes({0x95, 0, 0, 0}), Machine(kCdrom, "Autorun"));
}

TEST_F(JournalTest, RestoreWritesOnlySettingsTheScanChanges) {
  registry.PutString(reg::kLocalMachine, "SOFTWARE\\Run", "evil", "old");
  registry.PutDword(reg::kLocalMachine, kCdrom, "NotAutorun", 7);
  registry.PutValue(reg::kLocalMachine, kHdc9x, "IDEDMADRIVE0", reg::kTypeBinary, {0});
  const std::string belowPort = std::string(kAtapiPort) + "\\Device";
  registry.PutString(reg::kLocalMachine, belowPort, "DriverParameter", "old");
  struct Forged {
    const char* path;
    const char* name;
    int type;
  } forged[] = {
      {"SOFTWARE\\Run", "evil", 1},
      {kCdrom, "NotAutorun", 4},
      {kCdrom, "Autorun", 1},          // right setting, wrong type
      {kHdc9x, "IDEDMADRIVE0", 3},     // the other platform's rule
      {"SYSTEM\\CurrentControlSet\\Services\\atapi\\Parameters", "DriverParameter", 1},
      {belowPort.c_str(), "DriverParameter", 1},  // deeper than the scan looks
  };
  int n = 1;
  for (const Forged& f : forged) {
    std::string section = ChangeJournal::RecordSection(n++);
    profile.WriteString(section, "SubKey_Name", f.path);
    profile.WriteString(section, "Value_Name", f.name);
    profile.WriteInt(section, "Value_Type", f.type);
    if (f.type == 1) {
      profile.WriteString(section, "Value", "C:\\payload.exe");
    } else {
      profile.WriteInt(section, "Value", 1);
    }
  }
  // The right setting, but with an old text longer than the scan ever reads (no
  // zero in it), and one with a type the scan never journals.
  registry.PutString(reg::kLocalMachine, kAtapiPort, "DriverParameter", "DmaDetectionLevel = 0x0;");
  for (int type : {1, 2}) {
    std::string section = ChangeJournal::RecordSection(n++);
    profile.WriteString(section, "SubKey_Name", kAtapiPort);
    profile.WriteString(section, "Value_Name", "DriverParameter");
    profile.WriteInt(section, "Value_Type", type);
    registry.PutValue(reg::kCurrentUser, std::string(kJournal) + "\\" + ChangeJournal::RecordName(n - 1),
                      "Value", reg::kTypeString, std::vector<std::uint8_t>(129, 'b'));
  }
  std::string machine = registry.Dump(reg::kLocalMachine);
  journal.changedCount = 8;
  journal.Restore();
  EXPECT_EQ(8, journal.changedCount);
  EXPECT_EQ(machine, registry.Dump(reg::kLocalMachine));
}

TEST_F(JournalTest, AFoundFormThatCannotBeTrustedGoesBackInTheRecordsOwnForm) {
  // A record of a text, complete in its four values, with a found form beside it
  // that is cut short, too large, of the wrong type, or says something else than
  // "Value": each goes back as the record's own 128-byte REG_SZ, nothing else.
  using Bytes8 = std::vector<std::uint8_t>;
  struct Found {
    const char* what;
    bool hasType;
    std::uint32_t typeType;
    Bytes8 type;
    bool hasData;
    std::uint32_t dataType;
    Bytes8 data;
  };
  const Bytes8 sz = {1, 0, 0, 0};
  const Bytes8 same = {'0', 'x', '1', 0};
  const Found cases[] = {
      {"type only", true, reg::kTypeDword, sz, false, 0, {}},
      {"data only", false, 0, {}, true, reg::kTypeBinary, same},
      {"data of 129 bytes", true, reg::kTypeDword, sz, true, reg::kTypeBinary, Bytes8(129, 'x')},
      {"data of 4096 bytes", true, reg::kTypeDword, sz, true, reg::kTypeBinary, Bytes8(4096, 0)},
      {"data stored as a text", true, reg::kTypeDword, sz, true, reg::kTypeString, same},
      {"type stored as a text", true, reg::kTypeString, {'1', 0}, true, reg::kTypeBinary, same},
      {"type of 2 bytes", true, reg::kTypeDword, {1, 0}, true, reg::kTypeBinary, same},
      {"a link type", true, reg::kTypeDword, {6, 0, 0, 0}, true, reg::kTypeBinary, same},
      {"a type out of range", true, reg::kTypeDword, {1, 0, 0, 0x80}, true, reg::kTypeBinary, same},
      {"another text", true, reg::kTypeDword, sz, true, reg::kTypeBinary, {'0', 'x', '9', 0}},
  };
  const std::string record = std::string(kJournal) + "\\" + ChangeJournal::RecordName(1);
  for (const Found& c : cases) {
    SCOPED_TRACE(c.what);
    registry.PutString(reg::kLocalMachine, kAtapiPort, "DriverParameter",
                       "DmaDetectionLevel = 0x0;");
    profile.WriteString(ChangeJournal::RecordSection(1), "SubKey_Name", kAtapiPort);
    profile.WriteString(ChangeJournal::RecordSection(1), "Value_Name", "DriverParameter");
    profile.WriteInt(ChangeJournal::RecordSection(1), "Value_Type", 1);
    profile.WriteString(ChangeJournal::RecordSection(1), "Value", "0x1");
    if (c.hasType) registry.PutValue(reg::kCurrentUser, record, "Found_Type", c.typeType, c.type);
    if (c.hasData) registry.PutValue(reg::kCurrentUser, record, "Found_Data", c.dataType, c.data);
    journal.changedCount = 1;
    journal.Restore();
    EXPECT_EQ(0, journal.changedCount);
    std::uint32_t type = 0;
    EXPECT_EQ(Text128("0x1"), Machine(kAtapiPort, "DriverParameter", &type));
    EXPECT_EQ(reg::kTypeString, type);
  }
  // The same record with a found form that agrees goes back as found.
  registry.PutString(reg::kLocalMachine, kAtapiPort, "DriverParameter", "DmaDetectionLevel = 0x0;");
  profile.WriteString(ChangeJournal::RecordSection(1), "SubKey_Name", kAtapiPort);
  profile.WriteString(ChangeJournal::RecordSection(1), "Value_Name", "DriverParameter");
  profile.WriteInt(ChangeJournal::RecordSection(1), "Value_Type", 1);
  profile.WriteInt(ChangeJournal::RecordSection(1), "Found_Type", 2);
  profile.WriteBinary(ChangeJournal::RecordSection(1), "Found_Data", {'0', 'x', '1', 0, 'z'});
  profile.WriteString(ChangeJournal::RecordSection(1), "Value", "0x1");
  journal.changedCount = 1;
  journal.Restore();
  std::uint32_t type = 0;
  EXPECT_EQ(Bytes({'0', 'x', '1', 0, 'z'}), Machine(kAtapiPort, "DriverParameter", &type));
  EXPECT_EQ(2u, type);
}

TEST_F(JournalTest, OneSettingJournalledTwiceEndsAtTheOldestValue) {
  registry.PutString(reg::kLocalMachine, kHdcClassKey, "Class", "hdc");
  Timing("MasterDeviceTimingMode", 20);
  Timing("MasterDeviceTimingModeAllowed", 63);
  ASSERT_TRUE(journal.Scan(true));
  // Between the starts the system puts the mode back, but not its allowed value:
  // the second scan journals the 31 it finds there.
  Timing("MasterDeviceTimingMode", 20);
  ASSERT_TRUE(journal.Scan(true));
  EXPECT_EQ(4, journal.changedCount);
  journal.Restore();
  EXPECT_EQ(0, journal.changedCount);
  EXPECT_EQ(Bytes({20, 0, 0, 0}), Machine(kIdeChannel, "MasterDeviceTimingMode"));
  EXPECT_EQ(Bytes({63, 0, 0, 0}), Machine(kIdeChannel, "MasterDeviceTimingModeAllowed"));
}

TEST_F(Journal9xTest, FlagsAreJournalledAsOneByteAndPutBackAsFound) {
  // Stored as a four-byte number, journalled as its first byte, changed to one
  // byte, and put back as the number it was.
  registry.PutDword(reg::kLocalMachine, kHdc9x, "IDEDMADRIVE0", 0x101);
  registry.PutValue(reg::kLocalMachine, kHdc9x, "IDEDMADRIVE1", reg::kTypeBinary, {0});
  registry.PutValue(reg::kLocalMachine, kHdc9x, "AutoInsertNotificationDrive0", reg::kTypeBinary,
                    {1, 2, 3, 4, 5});  // too long to read in four bytes: left alone
  ASSERT_TRUE(journal.Scan(true));
  EXPECT_EQ(1, journal.changedCount);
  Record record;
  ASSERT_TRUE(ReadRecord(1, &record));
  EXPECT_EQ(kHdc9x, record.subKey);
  EXPECT_EQ(3u, record.type);
  EXPECT_EQ(reg::kTypeDword, record.valueType);
  EXPECT_EQ(Bytes({1, 0, 0, 0}), record.value);
  std::uint32_t type = 0;
  EXPECT_EQ(Bytes({0}), Machine(kHdc9x, "IDEDMADRIVE0", &type));
  EXPECT_EQ(reg::kTypeBinary, type);
  EXPECT_FALSE(journal.Scan(false));

  journal.Restore();
  EXPECT_EQ(0, journal.changedCount);
  EXPECT_EQ(Bytes({1, 1, 0, 0}), Machine(kHdc9x, "IDEDMADRIVE0", &type));
  EXPECT_EQ(reg::kTypeDword, type);
}

TEST_F(Journal9xTest, DeviceEntriesCountOnlyWithAnUpperCaseScsiHardwareKey) {
  registry.PutString(reg::kDynData, "Config Manager\\Enum\\C29A1", "HardWareKey",
                     "scsi\\VELMORA_DVD-ROM\\LOWER");
  registry.PutValue(reg::kLocalMachine, "Enum\\scsi\\VELMORA_DVD-ROM\\LOWER",
                    "AutoInsertNotification", reg::kTypeBinary, {1});
  EXPECT_FALSE(journal.Scan(false));
  registry.PutString(reg::kDynData, "Config Manager\\Enum\\C29A0", "HardWareKey",
                     "SCSI\\VELMORA_DVD-ROM\\UPPER");
  const std::string device = "Enum\\SCSI\\VELMORA_DVD-ROM\\UPPER";
  registry.PutValue(reg::kLocalMachine, device, "AutoInsertNotification", reg::kTypeBinary, {1});
  registry.PutValue(reg::kLocalMachine, device, "DMACurrentlyUsed", reg::kTypeBinary, {0xFF});
  ASSERT_TRUE(journal.Scan(true));
  EXPECT_EQ(2, journal.changedCount);
  Record first, second;
  ASSERT_TRUE(ReadRecord(1, &first));
  ASSERT_TRUE(ReadRecord(2, &second));
  EXPECT_EQ(device, first.subKey);
  EXPECT_EQ("AutoInsertNotification", first.valueName);
  EXPECT_EQ("DMACurrentlyUsed", second.valueName);
  EXPECT_EQ(Bytes({0xFF, 0, 0, 0}), second.value);
  EXPECT_EQ(Bytes({1}), Machine("Enum\\scsi\\VELMORA_DVD-ROM\\LOWER", "AutoInsertNotification"));
  journal.Restore();
  EXPECT_EQ(0, journal.changedCount);
  EXPECT_EQ(Bytes({0xFF}), Machine(device, "DMACurrentlyUsed"));
}

TEST_F(JournalTest, TheOtherPlatformsSettingsAreNotLookedAt) {
  registry.PutValue(reg::kLocalMachine, kHdc9x, "IDEDMADRIVE0", reg::kTypeBinary, {1});
  registry.PutValue(reg::kLocalMachine,
                    "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter\\0000",
                    "AutoInsertNotificationDrive0", reg::kTypeBinary, {1});
  EXPECT_FALSE(journal.Scan(true));
  EXPECT_FALSE(registry.KeyExists(reg::kCurrentUser, kJournal));
}

TEST_F(Journal9xTest, ControllerFlagsGoInTheirOrderAndAScanWithoutApplyWritesNothing) {
  const std::string device = "Enum\\SCSI\\VELMORA_DVD-ROM\\1";
  const std::string adapter = "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter\\0001";
  registry.PutString(reg::kDynData, "Config Manager\\Enum\\C29A0", "HardWareKey",
                     "SCSI\\VELMORA_DVD-ROM\\1");
  registry.PutValue(reg::kLocalMachine, device, "DMACurrentlyUsed", reg::kTypeBinary, {5});
  // Created out of the order in which they are examined.
  registry.PutValue(reg::kLocalMachine, kHdc9x, "IDEDMADRIVE1", reg::kTypeBinary, {1});
  registry.PutValue(reg::kLocalMachine, kHdc9x, "AutoInsertNotificationDrive0", reg::kTypeBinary,
                    {2});
  registry.PutValue(reg::kLocalMachine, adapter, "IDEDMADRIVE0", reg::kTypeBinary, {4});
  registry.PutValue(reg::kLocalMachine, adapter, "AutoInsertNotificationDrive1", reg::kTypeBinary,
                    {3});
  registry.PutValue(reg::kLocalMachine, adapter, "AutoInsertNotificationDrive0", reg::kTypeBinary,
                    {0});
  // The NT family's settings mean nothing here.
  registry.PutDword(reg::kLocalMachine, kCdrom, "Autorun", 1);
  registry.PutString(reg::kLocalMachine, kAtapiPort, "DriverParameter", "DmaDetectionLevel = 0x1;");

  const std::string before = registry.Dump();
  const std::string machineBefore = registry.Dump(reg::kLocalMachine);
  const std::size_t writes = registry.writeCount();
  journal.changedCount = 2;
  EXPECT_TRUE(journal.Scan(false));
  EXPECT_EQ(before, registry.Dump());
  EXPECT_EQ(writes, registry.writeCount());
  EXPECT_EQ(2, journal.changedCount);

  ASSERT_TRUE(journal.Scan(true));
  EXPECT_EQ(7, journal.changedCount);
  struct Expected {
    std::string path;
    const char* name;
    std::uint8_t old;
  } expected[] = {
      {device, "DMACurrentlyUsed", 5},
      {kHdc9x, "AutoInsertNotificationDrive0", 2},
      {kHdc9x, "IDEDMADRIVE1", 1},
      {adapter, "AutoInsertNotificationDrive1", 3},
      {adapter, "IDEDMADRIVE0", 4},
  };
  int number = 3;
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.name);
    Record record;
    ASSERT_TRUE(ReadRecord(number++, &record));
    EXPECT_EQ(e.path, record.subKey);
    EXPECT_EQ(e.name, record.valueName);
    EXPECT_EQ(3u, record.type);
    EXPECT_EQ(Bytes({e.old, 0, 0, 0}), record.value);
    std::uint32_t type = 0;
    EXPECT_EQ(Bytes({0}), Machine(e.path, e.name, &type));
    EXPECT_EQ(reg::kTypeBinary, type);
  }
  EXPECT_EQ(Bytes({1, 0, 0, 0}), Machine(kCdrom, "Autorun"));
  EXPECT_FALSE(journal.Scan(false));

  journal.Restore();
  EXPECT_EQ(0, journal.changedCount);
  EXPECT_EQ(machineBefore, registry.Dump(reg::kLocalMachine));
}

}  // namespace
}  // namespace qx
