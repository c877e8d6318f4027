#include <cstdio>

#include "RegistryConformanceCases.h"
#include "platform/host/MemoryRegistry.h"

namespace qx {
namespace {

std::unique_ptr<Registry> MakeNtMemoryRegistry() {
  return std::make_unique<MemoryRegistry>(RegistryFlavor::Nt);
}

INSTANTIATE_TEST_SUITE_P(MemoryNt, RegistryConformance, ::testing::Values(&MakeNtMemoryRegistry));

std::vector<std::string> SubKeys(MemoryRegistry& registry, RegKey root, const char* path) {
  std::vector<std::string> names;
  RegKey key = 0;
  if (registry.OpenKey(root, path, reg::kKeyRead, &key) != reg::kSuccess) return names;
  char name[256];
  for (std::uint32_t i = 0;; ++i) {
    std::uint32_t length = sizeof name;
    if (registry.EnumKey(key, i, name, &length) != reg::kSuccess) break;
    names.push_back(name);
  }
  registry.CloseKey(key);
  return names;
}

TEST(MemoryRegistry9x, EnumeratesInCreationOrderAndDeletesWholeSubtrees) {
  MemoryRegistry registry(RegistryFlavor::Windows9x);
  for (const char* name : {"b", "C0", "A", " 10", "  9"}) registry.PutKey(reg::kLocalMachine, std::string("x\\") + name);
  EXPECT_EQ((std::vector<std::string>{"b", "C0", "A", " 10", "  9"}),
            SubKeys(registry, reg::kLocalMachine, "x"));

  registry.PutDword(reg::kLocalMachine, "x\\b\\deep\\deeper", "v", 1);
  RegKey deeper = 0;
  ASSERT_EQ(reg::kSuccess, registry.OpenKey(reg::kLocalMachine, "x\\b\\deep\\deeper",
                                            reg::kKeyAllAccess, &deeper));
  RegKey x = 0;
  ASSERT_EQ(reg::kSuccess, registry.OpenKey(reg::kLocalMachine, "x", reg::kKeyAllAccess, &x));
  EXPECT_EQ(reg::kSuccess, registry.DeleteKey(x, "b"));
  EXPECT_FALSE(registry.KeyExists(reg::kLocalMachine, "x\\b"));
  EXPECT_EQ((std::vector<std::string>{"C0", "A", " 10", "  9"}),
            SubKeys(registry, reg::kLocalMachine, "x"));
  // A handle inside the removed subtree is dead too.
  EXPECT_EQ(reg::kKeyDeleted, registry.DeleteValue(deeper, "v"));
  registry.CloseKey(deeper);
  registry.CloseKey(x);
  EXPECT_EQ(0u, registry.openHandleCount());
}

TEST(MemoryRegistryTools, ObserverSeesEachWriteOnceAndBudgetStopsTheRest) {
  MemoryRegistry registry;
  std::vector<std::string> lines;
  registry.SetWriteObserver(
      [&](const RegistryWrite& write) { lines.push_back(DescribeRegistryWrite(write)); });
  RegistryKey key(registry);
  ASSERT_EQ(reg::kSuccess, key.Create(reg::kCurrentUser, "Software\\Velmora_ODD\\qxupdate"));
  ASSERT_EQ(reg::kSuccess, key.Create(reg::kCurrentUser, "Software\\Velmora_ODD\\qxupdate"));
  EXPECT_EQ(reg::kSuccess, key.SetDword(4, "Changed"));
  EXPECT_EQ(reg::kSuccess, key.SetString("C:\\a b.exe", "path"));
  const std::uint8_t zero = 0;
  EXPECT_EQ(reg::kSuccess, key.SetValue("flag", reg::kTypeBinary, &zero, 1));
  EXPECT_EQ(reg::kSuccess, key.DeleteValue("flag"));
  key.Close();
  RegistryKey parent(registry);
  ASSERT_EQ(reg::kSuccess, parent.Open(reg::kCurrentUser, "Software"));
  EXPECT_EQ(reg::kSuccess, parent.DeleteTree("Velmora_ODD"));
  std::vector<std::string> expected = {
      "REG CREATE HKCU\\Software",
      "REG CREATE HKCU\\Software\\Velmora_ODD",
      "REG CREATE HKCU\\Software\\Velmora_ODD\\qxupdate",
      "REG SET HKCU\\Software\\Velmora_ODD\\qxupdate \"Changed\" 4 4",
      "REG SET HKCU\\Software\\Velmora_ODD\\qxupdate \"path\" 1 \"C:\\a b.exe\" len=11",
      "REG SET HKCU\\Software\\Velmora_ODD\\qxupdate \"flag\" 3 00",
      "REG DELVALUE HKCU\\Software\\Velmora_ODD\\qxupdate \"flag\"",
      "REG DELKEY HKCU\\Software\\Velmora_ODD\\qxupdate",
      "REG DELKEY HKCU\\Software\\Velmora_ODD",
  };
  EXPECT_EQ(expected, lines);
  EXPECT_EQ(expected.size(), registry.writeCount());

  std::string before = registry.Dump();
  registry.SetWriteBudget(1);
  // The machine stops after making "one": "two" never comes.
  EXPECT_EQ(reg::kAccessDenied, key.Create(reg::kCurrentUser, "Software\\one\\two"));
  EXPECT_TRUE(registry.KeyExists(reg::kCurrentUser, "Software\\one"));
  EXPECT_FALSE(registry.KeyExists(reg::kCurrentUser, "Software\\one\\two"));
  EXPECT_NE(before, registry.Dump());
}

TEST(MemoryRegistryTools, DumpSurvivesASaveAndLoadWithOddNames) {
  MemoryRegistry registry(RegistryFlavor::Windows9x);
  registry.PutString(reg::kLocalMachine, "Enum\\SCSI\\odd [name]=%", "quote\"d\\", "t\x01x");
  registry.PutValue(reg::kDynData, "Config Manager\\Enum\\C29A0", "empty", reg::kTypeBinary, {});
  registry.PutKey(reg::kCurrentUser, "z");
  registry.PutKey(reg::kCurrentUser, "a");
  registry.PutDword(reg::kCurrentUser, "", "root value", 0xDEADBEEF);
  std::string file = ::testing::TempDir() + "qx-memory-registry.txt";
  ASSERT_TRUE(registry.SaveToFile(file));

  MemoryRegistry loaded(RegistryFlavor::Windows9x);
  ASSERT_TRUE(loaded.LoadFromFile(file));
  EXPECT_EQ(registry.Dump(), loaded.Dump());
  EXPECT_EQ((std::vector<std::string>{"z", "a"}), SubKeys(loaded, reg::kCurrentUser, ""));
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  ASSERT_TRUE(loaded.GetValue(reg::kLocalMachine, "enum\\scsi\\ODD [NAME]=%", "QUOTE\"D\\", &type,
                              &data));
  EXPECT_EQ(reg::kTypeString, type);
  EXPECT_EQ((std::vector<std::uint8_t>{'t', 1, 'x', 0}), data);
  std::remove(file.c_str());

  EXPECT_FALSE(loaded.Load("[HKXX\\a]\n"));
  EXPECT_FALSE(loaded.Load("[HKCU\\a]\n\"v\"=4:0G\n"));
  EXPECT_FALSE(loaded.Load("\"v\"=4:00\n"));
  EXPECT_EQ(registry.Dump(), loaded.Dump());  // a failed load leaves the tree alone
}

// A power cut keeps each hive as its last flush left it, whatever the other did;
// the set-up counts as on disk, and so does a loaded machine.
TEST(MemoryRegistryTools, APowerCutKeepsPerHiveWhatWasFlushed) {
  MemoryRegistry registry;
  registry.PutDword(reg::kLocalMachine, "s", "setting", 1);
  registry.PutKey(reg::kCurrentUser, "p");
  const std::string setUp = registry.Dump();
  auto write = [&](RegKey root, const char* path, std::uint32_t value) {
    RegKey key = 0;
    ASSERT_EQ(reg::kSuccess, registry.OpenKey(root, path, reg::kKeyAllAccess, &key));
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), 0, 0, 0};
    ASSERT_EQ(reg::kSuccess, registry.SetValue(key, "v", reg::kTypeDword, bytes, 4));
    registry.CloseKey(key);
  };
  write(reg::kCurrentUser, "p", 1);
  write(reg::kLocalMachine, "s", 0);
  registry.PowerCut();
  EXPECT_EQ(setUp, registry.Dump());
  EXPECT_EQ(0u, registry.openHandleCount());

  write(reg::kCurrentUser, "p", 1);
  EXPECT_EQ(reg::kSuccess, registry.FlushKey(reg::kCurrentUser));
  write(reg::kLocalMachine, "s", 0);
  write(reg::kCurrentUser, "p", 2);
  const std::string written = registry.Dump();
  registry.PowerCut({reg::kLocalMachine});  // HKLM's write-back finished, HKCU's did not
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  ASSERT_TRUE(registry.GetValue(reg::kCurrentUser, "p", "v", &type, &data));
  EXPECT_EQ(1, data[0]);
  ASSERT_TRUE(registry.GetValue(reg::kLocalMachine, "s", "v", &type, &data));
  EXPECT_EQ(0, data[0]);

  ASSERT_TRUE(registry.Load(written));
  registry.PowerCut();
  EXPECT_EQ(written, registry.Dump());
}

TEST(MemoryRegistryTools, DeleteTreeStopsAtAChildItCannotRemove) {
  MemoryRegistry registry;
  registry.PutKey(reg::kCurrentUser, "top\\a\\a1");
  registry.PutKey(reg::kCurrentUser, "top\\b\\locked");
  registry.PutKey(reg::kCurrentUser, "top\\c");
  registry.SetKeyProtected(reg::kCurrentUser, "top\\b\\locked", true);
  RegistryKey root(registry);
  ASSERT_EQ(reg::kSuccess, root.Open(reg::kCurrentUser, nullptr));
  EXPECT_EQ(reg::kAccessDenied, root.DeleteTree("top"));
  EXPECT_FALSE(registry.KeyExists(reg::kCurrentUser, "top\\a"));  // before the locked one
  EXPECT_TRUE(registry.KeyExists(reg::kCurrentUser, "top\\b\\locked"));
  EXPECT_TRUE(registry.KeyExists(reg::kCurrentUser, "top\\c"));  // after it: left alone
  root.Close();
  EXPECT_EQ(0u, registry.openHandleCount());
}

}  // namespace
}  // namespace qx
