#pragma once
// One set of registry cases, run against the in-memory registry natively and
// against the real registry under Wine. Include it in exactly one test file of a
// build, then instantiate RegistryConformance with a factory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/ChangeJournal.h"
#include "app/ProfileStore.h"
#include "app/RegistryKey.h"
#include "platform/Registry.h"

namespace qx {

using RegistryFactory = std::unique_ptr<Registry> (*)();

class RegistryConformance : public ::testing::TestWithParam<RegistryFactory> {
 protected:
  static constexpr const char* kScratch = "Software\\QxRegistryConformance";

  void SetUp() override {
    registryUnderTest = GetParam()();
    RemoveScratch();
    ASSERT_EQ(reg::kSuccess, registryUnderTest->CreateKey(reg::kCurrentUser, kScratch, 0,
                                                  reg::kKeyAllAccess, &scratchKey, nullptr));
  }
  void TearDown() override {
    if (scratchKey != 0) registryUnderTest->CloseKey(scratchKey);
    RemoveScratch();
    // Keys made below HKEY_LOCAL_MACHINE, deepest first: the real registry keeps
    // nothing of a test.
    for (auto it = machineKeys.rbegin(); it != machineKeys.rend(); ++it) {
      registryUnderTest->DeleteKey(reg::kLocalMachine, it->c_str());
    }
  }
  // Opens a key below HKEY_LOCAL_MACHINE, making what is missing and noting it for
  // removal.
  RegKey MakeMachineKey(const std::string& path) {
    RegKey key = 0;
    for (std::size_t end = path.find('\\');; end = path.find('\\', end + 1)) {
      std::string part = path.substr(0, end);
      std::uint32_t disposition = 0;
      if (key != 0) registryUnderTest->CloseKey(key);
      key = 0;
      EXPECT_EQ(reg::kSuccess, registryUnderTest->CreateKey(reg::kLocalMachine, part.c_str(), 0,
                                                    reg::kKeyAllAccess, &key, &disposition));
      if (disposition == reg::kCreatedNewKey) machineKeys.push_back(part);
      if (end == std::string::npos) return key;
    }
  }
  void RemoveScratch() {
    RegistryKey software(*registryUnderTest);
    if (software.Open(reg::kCurrentUser, "Software") == reg::kSuccess) {
      software.DeleteTree("QxRegistryConformance");
    }
  }
  RegKey MakeKey(const char* path) {
    RegKey key = 0;
    EXPECT_EQ(reg::kSuccess,
              registryUnderTest->CreateKey(scratchKey, path, 0, reg::kKeyAllAccess, &key, nullptr));
    return key;
  }
  void MakeAndClose(const char* path) { registryUnderTest->CloseKey(MakeKey(path)); }
  bool Exists(const char* path) {
    RegKey key = 0;
    if (registryUnderTest->OpenKey(scratchKey, path, reg::kKeyRead, &key) != reg::kSuccess) return false;
    registryUnderTest->CloseKey(key);
    return true;
  }
  std::vector<std::string> Enumerate(RegKey key) {
    std::vector<std::string> names;
    for (std::uint32_t i = 0;; ++i) {
      char name[256];
      std::uint32_t length = sizeof name;
      RegStatus status = registryUnderTest->EnumKey(key, i, name, &length);
      if (status != reg::kSuccess) {
        EXPECT_EQ(reg::kNoMoreItems, status);
        break;
      }
      EXPECT_EQ(std::strlen(name), length);
      names.push_back(name);
    }
    return names;
  }

  std::unique_ptr<Registry> registryUnderTest;
  RegKey scratchKey = 0;
  std::vector<std::string> machineKeys;
};

TEST_P(RegistryConformance, FailuresReportTheSystemsStatusCodes) {
  RegKey key = 12345;
  EXPECT_EQ(reg::kFileNotFound, registryUnderTest->OpenKey(scratchKey, "missing", reg::kKeyRead, &key));
  std::uint8_t data[4];
  std::uint32_t size = sizeof data;
  EXPECT_EQ(reg::kFileNotFound, registryUnderTest->QueryValue(scratchKey, "missing", nullptr, data, &size));
  EXPECT_EQ(reg::kFileNotFound, registryUnderTest->DeleteValue(scratchKey, "missing"));
  EXPECT_EQ(reg::kFileNotFound, registryUnderTest->DeleteKey(scratchKey, "missing"));
  char name[16];
  std::uint32_t length = sizeof name;
  EXPECT_EQ(reg::kNoMoreItems, registryUnderTest->EnumKey(scratchKey, 0, name, &length));
  EXPECT_EQ(reg::kInvalidHandle, registryUnderTest->CloseKey(0));
  size = sizeof data;
  EXPECT_EQ(reg::kInvalidHandle, registryUnderTest->QueryValue(0, "x", nullptr, data, &size));
}

TEST_P(RegistryConformance, CreateTellsNewFromExistingAndNamesIgnoreCase) {
  RegKey first = 0, second = 0;
  std::uint32_t disposition = 0;
  ASSERT_EQ(reg::kSuccess, registryUnderTest->CreateKey(scratchKey, "Mixed\\Case", 0, reg::kKeyAllAccess,
                                                &first, &disposition));
  EXPECT_EQ(reg::kCreatedNewKey, disposition);
  ASSERT_EQ(reg::kSuccess, registryUnderTest->CreateKey(scratchKey, "MIXED\\case", 0, reg::kKeyAllAccess,
                                                &second, &disposition));
  EXPECT_EQ(reg::kOpenedExistingKey, disposition);

  RegistryKey writer(*registryUnderTest);
  ASSERT_EQ(reg::kSuccess, writer.Open(scratchKey, "mixed\\CASE"));
  EXPECT_EQ(reg::kSuccess, writer.SetDword(0x01020304, "Value"));
  std::uint32_t read = 0;
  RegistryKey reader(*registryUnderTest);
  ASSERT_EQ(reg::kSuccess, reader.Open(scratchKey, "Mixed\\Case", reg::kKeyRead));
  EXPECT_EQ(reg::kSuccess, reader.QueryDword(&read, "VALUE"));
  EXPECT_EQ(0x01020304u, read);
  // Creation kept the first spelling.
  EXPECT_EQ(std::vector<std::string>{"Mixed"}, Enumerate(scratchKey));
  registryUnderTest->CloseKey(first);
  registryUnderTest->CloseKey(second);
}

TEST_P(RegistryConformance, FailedOpenOrCreateKeepsTheHeldKey) {
  MakeAndClose("held");
  RegistryKey key(*registryUnderTest);
  ASSERT_EQ(reg::kSuccess, key.Open(scratchKey, "held"));
  RegKey held = key.Handle();
  EXPECT_EQ(reg::kFileNotFound, key.Open(scratchKey, "not\\there"));
  EXPECT_EQ(held, key.Handle());
  // A name too long for a key cannot be created.
  std::string tooLong(300, 'k');
  EXPECT_NE(reg::kSuccess, key.Create(scratchKey, tooLong.c_str()));
  EXPECT_EQ(held, key.Handle());
  EXPECT_EQ(reg::kSuccess, key.SetDword(7, "still usable"));

  EXPECT_EQ(reg::kSuccess, key.Close());
  EXPECT_EQ(0u, key.Handle());
  EXPECT_EQ(reg::kSuccess, key.Close());  // closing a closed key does nothing
}

TEST_P(RegistryConformance, ReadOnlyKeyRefusesWrites) {
  MakeAndClose("ro");
  RegistryKey key(*registryUnderTest);
  ASSERT_EQ(reg::kSuccess, key.Open(scratchKey, "ro", reg::kKeyRead));
  EXPECT_EQ(reg::kAccessDenied, key.SetDword(1, "x"));
  EXPECT_EQ(reg::kAccessDenied, key.DeleteValue("x"));
}

TEST_P(RegistryConformance, SetStringStoresTheTerminatingZero) {
  RegistryKey key(*registryUnderTest);
  ASSERT_EQ(reg::kSuccess, key.Open(scratchKey, nullptr));
  ASSERT_EQ(reg::kSuccess, key.SetString("abc", "text"));
  std::uint32_t type = 0;
  std::uint8_t data[8];
  std::memset(data, 0xBD, sizeof data);
  std::uint32_t size = sizeof data;
  ASSERT_EQ(reg::kSuccess, registryUnderTest->QueryValue(scratchKey, "text", &type, data, &size));
  EXPECT_EQ(reg::kTypeString, type);
  EXPECT_EQ(4u, size);
  EXPECT_EQ(0, std::memcmp(data, "abc\0", 4));
  EXPECT_EQ(0xBD, data[4]);
}

TEST_P(RegistryConformance, SmallBufferGetsMoreDataAndTheNeededSize) {
  const std::uint8_t bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_EQ(reg::kSuccess,
            registryUnderTest->SetValue(scratchKey, "blob", reg::kTypeBinary, bytes, sizeof bytes));
  std::uint8_t data[4];
  std::uint32_t size = sizeof data;
  std::uint32_t type = 0;
  EXPECT_EQ(reg::kMoreData, registryUnderTest->QueryValue(scratchKey, "blob", &type, data, &size));
  EXPECT_EQ(10u, size);
  EXPECT_EQ(reg::kTypeBinary, type);
  size = 0;
  EXPECT_EQ(reg::kSuccess, registryUnderTest->QueryValue(scratchKey, "blob", nullptr, nullptr, &size));
  EXPECT_EQ(10u, size);

  // QueryDword reads whatever is there, up to four bytes, and no more.
  RegistryKey key(*registryUnderTest);
  ASSERT_EQ(reg::kSuccess, key.Open(scratchKey, nullptr));
  std::uint32_t value = 0;
  EXPECT_EQ(reg::kMoreData, key.QueryDword(&value, "blob"));
  const std::uint8_t one = 1;
  ASSERT_EQ(reg::kSuccess, key.SetValue("flag", reg::kTypeBinary, &one, 1));
  EXPECT_EQ(reg::kSuccess, key.QueryDword(&value, "flag"));
  EXPECT_EQ(1u, value);
}

TEST_P(RegistryConformance, TextsAreReadWithinTheirBoundEvenWithoutAZero) {
  RegistryKey key(*registryUnderTest);
  ASSERT_EQ(reg::kSuccess, key.Open(scratchKey, nullptr));
  // Eight letters, no terminating zero, in an eight-byte buffer: nothing past it
  // may be touched, and the text read must stop at its end.
  const char source[] = "ABCDEFGHX";  // stored without the X: no zero behind it
  ASSERT_EQ(reg::kSuccess, key.SetValue("full", reg::kTypeString, source, 8));
  char buffer[12];
  std::uint32_t size = 0;
  ASSERT_EQ(reg::kSuccess, key.QueryString(nullptr, "full", &size));
  EXPECT_EQ(8u, size);
  // With room to spare the system terminates the text, without counting the zero.
  std::memset(buffer, 0x5A, sizeof buffer);
  size = sizeof buffer;
  ASSERT_EQ(reg::kSuccess, key.QueryString(buffer, "full", &size));
  EXPECT_EQ(8u, size);
  EXPECT_EQ(0, buffer[8]);
  EXPECT_EQ(0x5A, buffer[9]);
  std::memset(buffer, 0x5A, sizeof buffer);
  size = 8;
  ASSERT_EQ(reg::kSuccess, key.QueryString(buffer, "full", &size));
  EXPECT_EQ(8u, size);
  EXPECT_EQ(0, std::memcmp(buffer, "ABCDEFGH", 8));
  EXPECT_EQ(0x5A, buffer[8]);

  std::string text = "stale";
  EXPECT_EQ(reg::kSuccess, key.QueryText(&text, "full", 8));
  EXPECT_EQ("ABCDEFGH", text);
  EXPECT_EQ(reg::kMoreData, key.QueryText(&text, "full", 7));
  EXPECT_EQ("", text);
  // A text counted without its zero while one follows it gets the zero stored,
  // as the system does for callers who forgot to count it.
  ASSERT_EQ(reg::kSuccess, key.SetValue("forgot", reg::kTypeString, "xyz", 3));
  size = 0;
  ASSERT_EQ(reg::kSuccess, key.QueryString(nullptr, "forgot", &size));
  EXPECT_EQ(4u, size);
  ASSERT_EQ(reg::kSuccess, key.SetString("abc", "short"));
  EXPECT_EQ(reg::kSuccess, key.QueryText(&text, "short", 128));
  EXPECT_EQ("abc", text);
}

TEST_P(RegistryConformance, SubkeysEnumerateSortedWithoutCase) {
  for (const char* name : {"b", "C0", "  9", "A", " 10", "c1", "100", " 99"}) MakeAndClose(name);
  std::vector<std::string> expected = {"  9", " 10", " 99", "100", "A", "b", "C0", "c1"};
  EXPECT_EQ(expected, Enumerate(scratchKey));
}

TEST_P(RegistryConformance, EnumerationNeedsRoomForTheZero) {
  MakeAndClose("abcdef");
  char name[16];
  std::uint32_t length = 6;
  EXPECT_EQ(reg::kMoreData, registryUnderTest->EnumKey(scratchKey, 0, name, &length));
  length = 7;
  EXPECT_EQ(reg::kSuccess, registryUnderTest->EnumKey(scratchKey, 0, name, &length));
  EXPECT_EQ(6u, length);
  EXPECT_STREQ("abcdef", name);
}

TEST_P(RegistryConformance, KeyWithSubkeysCannotBeDeletedDirectly) {
  MakeAndClose("parent\\child");
  EXPECT_EQ(reg::kAccessDenied, registryUnderTest->DeleteKey(scratchKey, "parent"));
  EXPECT_TRUE(Exists("parent\\child"));
  EXPECT_EQ(reg::kSuccess, registryUnderTest->DeleteKey(scratchKey, "parent\\child"));
  EXPECT_EQ(reg::kSuccess, registryUnderTest->DeleteKey(scratchKey, "parent"));
  EXPECT_FALSE(Exists("parent"));
}

TEST_P(RegistryConformance, DeleteTreeRemovesThreeLevelsAndNothingElse) {
  MakeAndClose("tree\\one\\two\\three");
  MakeAndClose("tree\\one\\second");
  MakeAndClose("tree\\other");
  MakeAndClose("treeSibling");
  RegistryKey leaf(*registryUnderTest);
  ASSERT_EQ(reg::kSuccess, leaf.Open(scratchKey, "tree\\one\\two\\three"));
  ASSERT_EQ(reg::kSuccess, leaf.SetString("deep", "v"));
  leaf.Close();

  RegistryKey parent(*registryUnderTest);
  ASSERT_EQ(reg::kSuccess, parent.Open(scratchKey, nullptr));
  EXPECT_EQ(reg::kSuccess, parent.DeleteTree("tree"));
  EXPECT_FALSE(Exists("tree"));
  EXPECT_TRUE(Exists("treeSibling"));
  EXPECT_EQ(reg::kFileNotFound, parent.DeleteTree("tree"));
}

TEST_P(RegistryConformance, HandleOfADeletedKeyFailsButCloses) {
  RegKey doomed = MakeKey("doomed");
  ASSERT_EQ(reg::kSuccess, registryUnderTest->DeleteKey(scratchKey, "doomed"));
  const std::uint8_t one = 1;
  EXPECT_EQ(reg::kKeyDeleted, registryUnderTest->SetValue(doomed, "x", reg::kTypeBinary, &one, 1));
  std::uint8_t data[4];
  std::uint32_t size = sizeof data;
  EXPECT_EQ(reg::kKeyDeleted, registryUnderTest->QueryValue(doomed, "x", nullptr, data, &size));
  EXPECT_EQ(reg::kSuccess, registryUnderTest->CloseKey(doomed));
  // A key of the same name made afterwards is a different key.
  MakeAndClose("doomed");
  EXPECT_TRUE(Exists("doomed"));
}

TEST_P(RegistryConformance, ReadingTheProfileCreatesItsKeys) {
  // The profile lives at software\<key name>\<application>; put it in the scratch key.
  ProfileStore profile(*registryUnderTest, "qxapp", "QxRegistryConformance\\Maker");
  EXPECT_FALSE(Exists("Maker"));
  EXPECT_EQ(-7, profile.GetInt("", "Changed", -7));
  EXPECT_TRUE(Exists("Maker\\qxapp"));
  EXPECT_TRUE(profile.WriteInt("", "Changed", 3));
  EXPECT_EQ(3, profile.GetInt("", "Changed", -7));
  EXPECT_TRUE(profile.WriteString("Change\\  1", "Value_Name", "Autorun"));
  RegistryKey record(*registryUnderTest);
  ASSERT_EQ(reg::kSuccess, record.Open(scratchKey, "Maker\\qxapp\\Change\\  1"));
  std::string text;
  EXPECT_EQ(reg::kSuccess, record.QueryText(&text, "Value_Name", 128));
  EXPECT_EQ("Autorun", text);
  // A text where a number is expected reads as the default.
  EXPECT_EQ(5, profile.GetInt("Change\\  1", "Value_Name", 5));
}

TEST_P(RegistryConformance, RestorePutsEachSettingBackAsItWasFound) {
  using Bytes = std::vector<std::uint8_t>;
  auto text = [](const std::string& t, std::size_t size) {
    Bytes bytes(size, 0);
    std::copy(t.begin(), t.begin() + std::min(t.size(), size), bytes.begin());
    return bytes;
  };
  const std::string controller = "System\\CurrentControlSet\\Services\\Class\\hdc\\QxConformance";
  const std::string port = "SYSTEM\\CurrentControlSet\\Services\\atapi\\Parameters\\QxConformance";
  const std::string longText = "0x1" + std::string(124, 'a');
  struct Case {
    const char* what;
    bool nt;
    std::uint32_t type;  // the setting as it is found
    Bytes found;
    // Journalled by hand in the four-value form, the setting already changed: it
    // goes back as the record's own form, one REG_BINARY byte.
    bool fourValueRecord;
  };
  const Case cases[] = {
      {"flag, REG_BINARY of 1 byte", false, reg::kTypeBinary, {0x01}, false},
      {"flag, REG_BINARY of 4 bytes", false, reg::kTypeBinary, {0x01, 0x80, 0x00, 0xFF}, false},
      {"flag, REG_DWORD 0x101", false, reg::kTypeDword, {0x01, 0x01, 0x00, 0x00}, false},
      {"text, REG_SZ with its zero", true, reg::kTypeString,
       text("DmaDetectionLevel = 0x1;", 25), false},
      {"text, REG_SZ of 2 bytes, no zero", true, reg::kTypeString, text("x1", 2), false},
      {"text, REG_SZ of 128 bytes", true, reg::kTypeString, text(longText, 128), false},
      {"text, REG_EXPAND_SZ", true, 2, text("%SystemRoot%\\DmaDetectionLevel = 0x1;", 38), false},
      {"text, REG_EXPAND_SZ with filler", true, 2, text("DmaDetectionLevel = 0x2;", 100), false},
      {"four-value record of a flag", false, reg::kTypeBinary, {0x00}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string& path = c.nt ? port : controller;
    const char* name = c.nt ? "DriverParameter" : "IDEDMADRIVE0";
    RegKey target = MakeMachineKey(path);
    // One byte past the data that is no zero: nothing may take it for a terminator.
    Bytes seed(c.found);
    seed.push_back(0xBD);
    ASSERT_EQ(reg::kSuccess, registryUnderTest->SetValue(target, name, c.type, seed.data(),
                                                 static_cast<std::uint32_t>(c.found.size())));
    ProfileStore profile(*registryUnderTest, "qxapp", "QxRegistryConformance\\Maker");
    ChangeJournal journal(*registryUnderTest, profile, c.nt);
    if (c.fourValueRecord) {
      const std::string section = ChangeJournal::RecordSection(1);
      ASSERT_TRUE(profile.WriteString(section, "SubKey_Name", path));
      ASSERT_TRUE(profile.WriteString(section, "Value_Name", name));
      ASSERT_TRUE(profile.WriteInt(section, "Value_Type", reg::kTypeBinary));
      ASSERT_TRUE(profile.WriteInt(section, "Value", 1));
      journal.changedCount = 1;
    } else {
      ASSERT_TRUE(journal.Scan(true));
    }
    std::uint32_t type = 0;
    std::uint8_t data[256];
    std::uint32_t size = sizeof data;
    ASSERT_EQ(reg::kSuccess, registryUnderTest->QueryValue(target, name, &type, data, &size));
    if (!c.fourValueRecord) {
      EXPECT_NE(c.found, Bytes(data, data + size)) << "the scan changed nothing";
    }

    journal.Restore();
    EXPECT_EQ(0, journal.changedCount);
    std::memset(data, 0xBD, sizeof data);
    size = sizeof data;
    ASSERT_EQ(reg::kSuccess, registryUnderTest->QueryValue(target, name, &type, data, &size));
    EXPECT_EQ(c.fourValueRecord ? reg::kTypeBinary : c.type, type);
    EXPECT_EQ(c.fourValueRecord ? Bytes{0x01} : c.found, Bytes(data, data + size));
    registryUnderTest->CloseKey(target);
  }
}

}  // namespace qx
