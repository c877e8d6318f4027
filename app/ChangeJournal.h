#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/ChangeJournalRules.h"
#include "app/ProfileStore.h"
#include "app/RegistryKey.h"

namespace qx {

// Finds the system settings that would disturb a firmware transfer (DMA, transfer
// timing, auto-insert notification, autorun), changes them, and keeps each old value
// as a numbered record in the profile's "Change" section so that Restore can put it
// back after the update.
class ChangeJournal {
 public:
  ChangeJournal(Registry& registry, ProfileStore& profile, bool isNtFamily);

  // True when at least one setting needs a change. With apply false nothing is
  // written; with apply true every such setting is journalled, then changed, and
  // changedCount ends at the last record number used.
  bool Scan(bool apply);
  // Puts back every record it can and deletes it; changedCount ends at the number
  // of records left in the journal.
  void Restore();
  // How many records the journal holds, whatever the stored count says: a stop
  // between the first record and "Changed" leaves records it does not count.
  int RecordCount();

  // Record names: "%3d" of the number.
  static std::string RecordName(int number);
  // "Change\%3d".
  static std::string RecordSection(int number);

  int changedCount = 0;
  // Settings the last Scan(true) journalled and then wrote: 0 when it changed
  // nothing, so that a restart would change nothing either.
  int settingsChanged = 0;

  // A setting's value as the scan read it: its stored type and every byte of it.
  struct FoundValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
  };

 private:
  template <typename Visit>
  void ForEachSubKey(RegKey root, const std::string& path, Visit visit);
  // Visits every key, open for writing, that holds the rule's setting.
  template <typename Visit>
  void ForEachSettingKey(const journal::Rule& rule, Visit visit);
  // What became of one rule on one key; the next rule on the key may depend on it.
  struct RuleOutcome {
    bool read = false;
    bool journalled = false;
  };
  RuleOutcome ApplyRule(RegistryKey& key, const std::string& path, const journal::Rule& rule,
                        RuleOutcome previous);
  // Writes one record; true only when all of its values were stored, which is the
  // only case in which the setting itself may be changed. Beside the old value in
  // the record's own form it keeps the value's stored type and bytes, so that the
  // setting goes back exactly as it was found.
  bool Journal(const std::string& path, const char* valueName, std::uint32_t type,
               const std::string& oldText, std::uint32_t oldNumber, const FoundValue& found);
  // Reads a value as it is stored, at most maxBytes of it.
  RegStatus ReadFound(RegistryKey& key, const char* name, std::uint32_t maxBytes,
                      FoundValue* found);
  // The found form a record keeps, when it holds one that agrees with its "Value".
  bool ReadKeptForm(RegistryKey& record, std::uint32_t type, const std::string& oldText,
                    std::uint32_t oldNumber, FoundValue* kept);
  // Counts a setting whose new value the registry took.
  void Count(RegStatus written) {
    if (written == reg::kSuccess) ++settingsChanged;
  }
  int HighestRecordNumber();
  std::string JournalPath() const;
  // Whether a record names a setting that Scan itself changes on this platform.
  bool IsJournalledSetting(const std::string& path, const std::string& valueName,
                           std::uint32_t type);
  // Whether the key at path is one the scan would find the rule's setting in.
  bool IsSettingKey(const journal::Rule& rule, const std::string& path);
  // The "<enumKey>\<hardware key>" path of a configuration-manager entry whose
  // hardware key names a SCSI device; false for any other entry.
  bool ScsiDevicePath(const char* enumKey, const std::string& devicePath, std::string* path);
  // Whether the class key's "Class" text is exactly the disc controllers' class.
  bool IsDiscControllerClass(const std::string& classPath);
  enum class RestoreResult { Restored, Kept, Discarded };
  RestoreResult RestoreRecord(RegistryKey& journal, const std::string& name);

  Registry& registry;
  ProfileStore& profile;
  bool isNtFamily;
  bool applying = false;
  bool changeNeeded = false;
  // The next record number; kNoNumber once the numbers are used up.
  static constexpr int kNoNumber = 0;
  int nextNumber = 1;
};

}  // namespace qx
