#include "app/ChangeJournal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>

namespace qx {

namespace {

// Key paths and subkey names never grow past this, as the system's own tools
// format them.
constexpr std::size_t kPathCapacity = 512;
constexpr std::uint32_t kTextBytes = 128;
constexpr std::uint32_t kNumberBytes = 4;
constexpr std::uint32_t kHardwareKeyBytes = 512;
constexpr std::uint32_t kValueNameBytes = 512;

// A record's copy of the setting as it was found: its stored type (REG_DWORD) and
// its bytes (REG_BINARY), both written before "Value".
const char kFoundType[] = "Found_Type";
const char kFoundData[] = "Found_Data";

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// The components of path below prefix, or false when path does not lie below it.
bool Below(const std::string& path, const std::string& prefix, std::vector<std::string>* parts) {
  parts->clear();
  if (path.size() <= prefix.size() + 1 || !EqualNoCase(path.substr(0, prefix.size()), prefix) ||
      path[prefix.size()] != '\\') {
    return false;
  }
  std::string rest = path.substr(prefix.size() + 1);
  std::size_t start = 0;
  for (;;) {
    std::size_t end = rest.find('\\', start);
    std::string part = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty()) return false;
    parts->push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return true;
}

// A record name back to its number: optional leading spaces, then digits only.
// Every name RecordName can make comes back, up to the largest int, so that no
// record the scan could name is ever taken for one without a number.
bool ParseRecordName(const char* name, int* number) {
  const char* p = name;
  while (*p == ' ') ++p;
  if (*p == '\0') return false;
  long long value = 0;
  for (; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > std::numeric_limits<int>::max()) return false;
  }
  *number = static_cast<int>(value);
  return true;
}

bool IsScsiName(const std::string& name) {
  return name.compare(0, sizeof journal::kScsiPrefix - 1, journal::kScsiPrefix) == 0;
}

std::uint32_t LittleEndian(const std::uint8_t* bytes, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size && i < 4; ++i) {
    value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
  }
  return value;
}

// Whether a value found with this type and size is kept, and so put back, in its
// own form. Only the types such settings are stored in, and never more bytes than
// the record's own kind is read with; any other is put back in the record's form.
// A text row keeps a text type, a flag or number row a binary or number type: a
// record that says otherwise was not written by a scan of this row.
bool KeepsFoundForm(std::uint32_t recordType, std::uint32_t foundType, std::size_t size) {
  const bool text = recordType == reg::kTypeString;
  switch (foundType) {
    case 1:  // REG_SZ
    case 2:  // REG_EXPAND_SZ
    case 7:  // REG_MULTI_SZ
      if (!text) return false;
      break;
    case reg::kTypeBinary:
    case reg::kTypeDword:
      if (text) return false;
      break;
    default:
      return false;
  }
  return size <= (text ? kTextBytes : kNumberBytes);
}

// Whether found bytes say what the record's "Value" says, read as its rule reads
// them: a copy that disagrees is none the record may be trusted with.
bool SameAsRecorded(std::uint32_t recordType, const std::vector<std::uint8_t>& bytes,
                    const std::string& oldText, std::uint32_t oldNumber) {
  switch (recordType) {
    case reg::kTypeString: {
      std::size_t length = 0;
      while (length < bytes.size() && bytes[length] != 0) ++length;
      return oldText.size() == length &&
             std::equal(oldText.begin(), oldText.end(), bytes.begin(),
                        [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
    }
    case reg::kTypeBinary:
      return !bytes.empty() && bytes[0] == (oldNumber & 0xFF);
    default:
      return LittleEndian(bytes.data(), bytes.size()) == oldNumber;
  }
}

}  // namespace

ChangeJournal::ChangeJournal(Registry& registry, ProfileStore& profile, bool isNtFamily)
    : registry(registry), profile(profile), isNtFamily(isNtFamily) {}

std::string ChangeJournal::RecordName(int number) {
  char name[16];
  std::snprintf(name, sizeof name, "%3d", number);
  return name;
}

std::string ChangeJournal::RecordSection(int number) { return "Change\\" + RecordName(number); }

std::string ChangeJournal::JournalPath() const {
  return "Software\\" + profile.registryKeyName() + "\\" + profile.applicationName() +
         "\\Change";
}

template <typename Visit>
void ChangeJournal::ForEachSubKey(RegKey root, const std::string& path, Visit visit) {
  RegistryKey parent(registry);
  if (parent.Open(root, path.c_str(), reg::kKeyRead) != reg::kSuccess) return;
  for (std::uint32_t index = 0;; ++index) {
    char name[kPathCapacity];
    if (parent.EnumSubKey(index, name, sizeof name) != reg::kSuccess) break;
    std::string child = path + "\\" + name;
    if (child.size() >= kPathCapacity) continue;
    visit(child);
  }
}

bool ChangeJournal::Scan(bool apply) {
  applying = apply;
  changeNeeded = false;
  settingsChanged = 0;
  if (applying) {
    // A crash between journalling and storing "Changed" leaves records the stored
    // count does not cover: number on past every record already there, so that no
    // record holding an original value is ever overwritten.
    int last = std::max(std::max(changedCount, HighestRecordNumber()), 0);
    // With no number left above every record, a new one could not be put in its
    // place among them: nothing is journalled, so nothing is changed.
    nextNumber = last == std::numeric_limits<int>::max() ? kNoNumber : last + 1;
  }
  const journal::Family family = isNtFamily ? journal::Family::Nt : journal::Family::Windows9x;
  const journal::Rule* const end = std::end(journal::kRules);
  for (const journal::Rule* group = std::begin(journal::kRules); group != end;) {
    // The rows of one place and key, looked at together on each key found there.
    const journal::Rule* groupEnd = group + 1;
    while (groupEnd != end && groupEnd->family == group->family &&
           groupEnd->place == group->place && std::strcmp(groupEnd->key, group->key) == 0) {
      ++groupEnd;
    }
    if (group->family == family) {
      ForEachSettingKey(*group, [&](RegistryKey& key, const std::string& path) {
        RuleOutcome previous;
        for (const journal::Rule* rule = group; rule != groupEnd; ++rule) {
          previous = ApplyRule(key, path, *rule, previous);
        }
      });
    }
    group = groupEnd;
  }
  return changeNeeded;
}

int ChangeJournal::HighestRecordNumber() {
  int highest = 0;
  RegistryKey journal(registry);
  if (journal.Open(reg::kCurrentUser, JournalPath().c_str(), reg::kKeyRead) != reg::kSuccess) {
    return highest;
  }
  for (std::uint32_t index = 0;; ++index) {
    char name[kPathCapacity];
    if (journal.EnumSubKey(index, name, sizeof name) != reg::kSuccess) break;
    int number = 0;
    if (ParseRecordName(name, &number)) highest = std::max(highest, number);
  }
  return highest;
}

RegStatus ChangeJournal::ReadFound(RegistryKey& key, const char* name, std::uint32_t maxBytes,
                                   FoundValue* found) {
  // One byte more than handed over: NT terminates a text read when there is room.
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(maxBytes) + 1, 0);
  std::uint32_t size = maxBytes;
  std::uint32_t type = 0;
  RegStatus status = registry.QueryValue(key.Handle(), name, &type, buffer.data(), &size);
  if (status != reg::kSuccess) return status;
  found->type = type;
  found->bytes.assign(buffer.begin(), buffer.begin() + std::min(size, maxBytes));
  return status;
}

bool ChangeJournal::Journal(const std::string& path, const char* valueName, std::uint32_t type,
                            const std::string& oldText, std::uint32_t oldNumber,
                            const FoundValue& found) {
  if (nextNumber == kNoNumber) return false;
  int number = nextNumber;
  nextNumber = number == std::numeric_limits<int>::max() ? kNoNumber : number + 1;
  changedCount = number;
  std::string section = RecordSection(number);
  if (!profile.WriteString(section, "SubKey_Name", path)) return false;
  if (!profile.WriteString(section, "Value_Name", valueName)) return false;
  if (!profile.WriteInt(section, "Value_Type", static_cast<int>(type))) return false;
  // The found form goes in before "Value": a record counts as complete only with
  // "Value", so one cut short never holds half of it.
  if (KeepsFoundForm(type, found.type, found.bytes.size())) {
    if (!profile.WriteInt(section, kFoundType, static_cast<int>(found.type))) return false;
    if (!profile.WriteBinary(section, kFoundData, found.bytes)) return false;
  }
  if (type == reg::kTypeString) return profile.WriteString(section, "Value", oldText);
  return profile.WriteInt(section, "Value", static_cast<int>(oldNumber));
}

template <typename Visit>
void ChangeJournal::ForEachSettingKey(const journal::Rule& rule, Visit visit) {
  auto open = [&](const std::string& path) {
    RegistryKey key(registry);
    if (key.Open(reg::kLocalMachine, path.c_str()) == reg::kSuccess) visit(key, path);
  };
  switch (rule.place) {
    case journal::Place::Key:
      open(rule.key);
      return;
    case journal::Place::Subkey:
      ForEachSubKey(reg::kLocalMachine, rule.key, open);
      return;
    case journal::Place::DiscControllerInstance:
      ForEachSubKey(reg::kLocalMachine, rule.key,
                    [&](const std::string& classPath) {
                      if (IsDiscControllerClass(classPath)) {
                        ForEachSubKey(reg::kLocalMachine, classPath, open);
                      }
                    });
      return;
    case journal::Place::ScsiDevice:
      ForEachSubKey(reg::kDynData, journal::kDeviceList,
                    [&](const std::string& devicePath) {
                      std::string path;
                      if (ScsiDevicePath(rule.key, devicePath, &path)) open(path);
                    });
      return;
  }
}

ChangeJournal::RuleOutcome ChangeJournal::ApplyRule(RegistryKey& key, const std::string& path,
                                                    const journal::Rule& rule,
                                                    RuleOutcome previous) {
  RuleOutcome outcome;
  if (rule.when == journal::When::PreviousUnread && previous.read) return outcome;
  if (rule.when == journal::When::PreviousJournalled && !previous.journalled) return outcome;
  const bool isText = rule.reading == journal::Reading::DmaDetection;
  FoundValue found;
  if (ReadFound(key, rule.value, isText ? kTextBytes : kNumberBytes, &found) != reg::kSuccess) {
    return outcome;
  }
  outcome.read = true;
  std::string text;
  std::uint32_t number = 0;
  bool change = false;
  switch (rule.reading) {
    case journal::Reading::Flag:
      number = found.bytes.empty() ? 0 : found.bytes[0];
      change = number != 0;
      break;
    case journal::Reading::Number:
      // A shorter value leaves the rest zero.
      number = LittleEndian(found.bytes.data(), found.bytes.size());
      change = number > rule.limit;
      break;
    case journal::Reading::DmaDetection: {
      // The text ends at its first zero, or with the bytes read.
      text.assign(found.bytes.begin(), found.bytes.end());
      text.resize(std::strlen(text.c_str()));
      std::size_t hex = text.find("0x");
      std::size_t at = hex == std::string::npos ? 1 : hex + 2;
      change = !(at < text.size() && text[at] == '0');
      break;
    }
  }
  if (!change && rule.when != journal::When::PreviousJournalled) return outcome;
  changeNeeded = true;
  if (!applying ||
      !Journal(path, rule.value, journal::RecordType(rule.reading), text, number, found)) {
    return outcome;
  }
  outcome.journalled = true;
  // The record reaches the disk before the setting changes: the two live in
  // different hives, and a power cut could keep the change and lose its record.
  registry.FlushKey(reg::kCurrentUser);
  switch (rule.reading) {
    case journal::Reading::Flag: {
      const std::uint8_t off = 0;
      Count(key.SetValue(rule.value, reg::kTypeBinary, &off, 1));
      break;
    }
    case journal::Reading::Number:
      Count(key.SetDword(rule.limit, rule.value));
      break;
    case journal::Reading::DmaDetection: {
      char fixed[kTextBytes] = {};
      std::memcpy(fixed, journal::kDmaOff, sizeof journal::kDmaOff);
      Count(key.SetValue(rule.value, reg::kTypeString, fixed, sizeof fixed));
      break;
    }
  }
  return outcome;
}

bool ChangeJournal::ScsiDevicePath(const char* enumKey, const std::string& devicePath,
                                   std::string* path) {
  RegistryKey device(registry);
  if (device.Open(reg::kDynData, devicePath.c_str()) != reg::kSuccess) return false;
  std::string hardwareKey;
  if (device.QueryText(&hardwareKey, "HardWareKey", kHardwareKeyBytes) != reg::kSuccess) {
    return false;
  }
  if (!IsScsiName(hardwareKey)) return false;
  *path = std::string(enumKey) + "\\" + hardwareKey;
  // A device whose path a record cannot carry back could be changed but never put
  // back, so it is left alone.
  return path->size() < journal::kRecordPathBytes;
}

bool ChangeJournal::IsDiscControllerClass(const std::string& classPath) {
  RegistryKey cls(registry);
  if (cls.Open(reg::kLocalMachine, classPath.c_str()) != reg::kSuccess) return false;
  std::string className;
  return cls.QueryText(&className, "Class", kTextBytes) == reg::kSuccess &&
         className == journal::kDiscControllerClass;
}

bool ChangeJournal::IsSettingKey(const journal::Rule& rule, const std::string& path) {
  std::vector<std::string> parts;
  switch (rule.place) {
    case journal::Place::Key:
      return EqualNoCase(path, rule.key);
    case journal::Place::Subkey:
      return Below(path, rule.key, &parts) && parts.size() == 1;
    case journal::Place::DiscControllerInstance:
      // As the scan finds it: an instance of a disc controllers' class only.
      return Below(path, rule.key, &parts) && parts.size() == 2 &&
             IsDiscControllerClass(std::string(rule.key) + "\\" + parts[0]);
    case journal::Place::ScsiDevice:
      // The entry of a SCSI device, as the scan names it. Whether the configuration
      // manager lists the device now does not matter: a drive unplugged before this
      // start must still get its flags back, or they stay off for good.
      return Below(path, rule.key, &parts) && IsScsiName(parts[0]) &&
             path.size() < journal::kRecordPathBytes;
  }
  return false;
}

bool ChangeJournal::IsJournalledSetting(const std::string& path, const std::string& valueName,
                                        std::uint32_t type) {
  const journal::Family family = isNtFamily ? journal::Family::Nt : journal::Family::Windows9x;
  for (const journal::Rule& rule : journal::kRules) {
    if (rule.family == family && journal::RecordType(rule.reading) == type &&
        EqualNoCase(valueName, rule.value) && IsSettingKey(rule, path)) {
      return true;
    }
  }
  return false;
}

bool ChangeJournal::ReadKeptForm(RegistryKey& record, std::uint32_t type,
                                 const std::string& oldText, std::uint32_t oldNumber,
                                 FoundValue* kept) {
  std::uint32_t storedType = 0;
  std::uint8_t typeBytes[4] = {0, 0, 0, 0};
  std::uint32_t size = sizeof typeBytes;
  if (registry.QueryValue(record.Handle(), kFoundType, &storedType, typeBytes, &size) !=
          reg::kSuccess ||
      storedType != reg::kTypeDword || size != sizeof typeBytes) {
    return false;
  }
  // Read no more than the record's kind could ever have kept: a larger copy fails
  // the read and the record goes back in its own form.
  std::uint32_t bound = type == reg::kTypeString ? kTextBytes : kNumberBytes;
  if (ReadFound(record, kFoundData, bound, kept) != reg::kSuccess ||
      kept->type != reg::kTypeBinary) {
    return false;
  }
  kept->type = LittleEndian(typeBytes, sizeof typeBytes);
  return KeepsFoundForm(type, kept->type, kept->bytes.size()) &&
         SameAsRecorded(type, kept->bytes, oldText, oldNumber);
}

ChangeJournal::RestoreResult ChangeJournal::RestoreRecord(RegistryKey& journal,
                                                          const std::string& name) {
  RegistryKey record(registry);
  if (record.Open(journal.Handle(), name.c_str()) != reg::kSuccess) return RestoreResult::Kept;

  std::string path;
  std::string valueName;
  std::uint32_t type = 0;
  std::string oldText;
  std::uint32_t oldNumber = 0;
  RegStatus reads[4];
  reads[0] = record.QueryText(&path, "SubKey_Name", kTextBytes);
  reads[1] = record.QueryText(&valueName, "Value_Name", kValueNameBytes);
  reads[2] = record.QueryDword(&type, "Value_Type");
  // The old text was read with at most 128 bytes and journalled with its zero:
  // one that filled all 128 comes back as 129.
  reads[3] = type == reg::kTypeString ? record.QueryText(&oldText, "Value", kTextBytes + 1)
                                      : record.QueryDword(&oldNumber, "Value");
  // The four values are written in order and the setting only after the last of
  // them: a record that lacks one was cut short before its setting was touched,
  // so there is nothing to put back and it can go.
  for (RegStatus status : reads) {
    if (status == reg::kFileNotFound) {
      record.Close();
      return journal.DeleteSubKey(name.c_str()) == reg::kSuccess ? RestoreResult::Discarded
                                                                 : RestoreResult::Kept;
    }
  }
  for (RegStatus status : reads) {
    if (status != reg::kSuccess) return RestoreResult::Kept;
  }
  // The journal is the user's to write, the target is the machine's: only a
  // setting this journal itself changes is ever written back.
  if (!IsJournalledSetting(path, valueName, type)) return RestoreResult::Kept;
  if (oldText.size() > kTextBytes) return RestoreResult::Kept;  // never one the scan read

  RegistryKey target(registry);
  if (target.Open(reg::kLocalMachine, path.c_str()) != reg::kSuccess) return RestoreResult::Kept;
  std::uint8_t current[kValueNameBytes];
  std::uint32_t currentSize = sizeof current;
  if (registry.QueryValue(target.Handle(), valueName.c_str(), nullptr, current, &currentSize) !=
      reg::kSuccess) {
    return RestoreResult::Kept;
  }
  // A record that keeps the setting's found form puts back that type and those
  // bytes; one without it (written before records kept it) goes back in its own
  // form, as it always did.
  FoundValue kept;
  RegStatus written;
  if (ReadKeptForm(record, type, oldText, oldNumber, &kept)) {
    // The byte after the data is not zero, or NT would take it for a terminator
    // the caller forgot to count and store it with a text.
    std::vector<std::uint8_t> data(kept.bytes);
    data.push_back(0xFF);
    written = target.SetValue(valueName.c_str(), kept.type, data.data(),
                              static_cast<std::uint32_t>(kept.bytes.size()));
  } else if (type == reg::kTypeString) {
    // One byte beyond the 128 written stays zero: for a text that fills all 128,
    // the system looks at the byte after the data for a terminator it may keep.
    char fixed[kTextBytes + 1] = {};
    std::memcpy(fixed, oldText.data(), oldText.size());
    written = target.SetValue(valueName.c_str(), reg::kTypeString, fixed, kTextBytes);
  } else if (type == reg::kTypeBinary) {
    const std::uint8_t flag = static_cast<std::uint8_t>(oldNumber & 0xFF);
    written = target.SetValue(valueName.c_str(), reg::kTypeBinary, &flag, 1);
  } else {
    written = target.SetDword(oldNumber, valueName.c_str());
  }
  // A record whose value did not go back must not go: it is the only copy.
  if (written != reg::kSuccess) return RestoreResult::Kept;
  // Nor may it go before the value is on disk: a power cut could keep the
  // record's deletion and lose the value put back.
  registry.FlushKey(reg::kLocalMachine);
  target.Close();
  record.Close();
  return journal.DeleteSubKey(name.c_str()) == reg::kSuccess ? RestoreResult::Restored
                                                              : RestoreResult::Kept;
}

int ChangeJournal::RecordCount() {
  RegistryKey journal(registry);
  if (journal.Open(reg::kCurrentUser, JournalPath().c_str(), reg::kKeyRead) != reg::kSuccess) {
    return 0;
  }
  int count = 0;
  char name[kPathCapacity];
  while (journal.EnumSubKey(static_cast<std::uint32_t>(count), name, sizeof name) == reg::kSuccess) {
    ++count;
  }
  return count;
}

void ChangeJournal::Restore() {
  RegistryKey journal(registry);
  const RegStatus opened = journal.Open(reg::kCurrentUser, JournalPath().c_str(), reg::kKeyRead);
  // No journal key, no record: a stop while the utility's keys were being removed
  // leaves "Changed" without the records it counted.
  if (opened == reg::kFileNotFound) changedCount = 0;
  if (opened != reg::kSuccess) return;
  struct Entry {
    std::string name;
    int number;
    bool numbered;
  };
  std::vector<Entry> entries;
  for (std::uint32_t index = 0;; ++index) {
    char name[kPathCapacity];
    if (journal.EnumSubKey(index, name, sizeof name) != reg::kSuccess) break;
    Entry entry{name, 0, false};
    entry.numbered = ParseRecordName(name, &entry.number);
    entries.push_back(entry);
  }
  // Newest first: when one setting was journalled twice, the oldest record holds
  // the value from before the utility and must be the one written last.
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.numbered != b.numbered) return a.numbered;
    return a.numbered && a.number > b.number;
  });
  int kept = 0;
  for (const Entry& entry : entries) {
    if (RestoreRecord(journal, entry.name) == RestoreResult::Kept) ++kept;
  }
  changedCount = kept;
}

}  // namespace qx
