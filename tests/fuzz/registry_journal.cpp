// Fuzzes the change journal over whatever the registry may hold: the platform
// family, a journal someone else left (or tampered with) under the utility's key,
// and values of every type and size under every key the journal reads. It runs the
// journal as the program does across its restart (Scan without and with apply,
// then Restore, then the removal of the utility's keys when nothing is left) and
// stops hard on the first broken promise:
//   - Scan without apply writes nothing, and finds a change needed exactly when
//     some row of the journal's table (app/ChangeJournalRules.h), read here as its
//     comments state it, asks for one on this machine;
//   - Scan with apply writes only the settings the table's rows cover, only their
//     fixed new values, each after a complete record of the value it replaces, and
//     only records of its own, never one that was already there;
//   - each record the scan writes keeps the setting's found type and bytes (when
//     it is of a type such settings are kept in), written before its "Value";
//   - Restore writes only those settings, only a value some record of its row's
//     type holds (the found form when the record keeps one that agrees with its
//     "Value", bounded as the scan reads; the record's own form otherwise),
//     deletes only records, each after its value went back (or a record cut
//     short), and counts exactly the records it leaves;
//   - a setting the scan changed ends exactly as it was, type and bytes (in the
//     meaning its rule reads, when it was of another type), or its record is
//     still there;
//   - the removal of the utility's keys deletes below its own key and nowhere else;
//   - no buffer handed across the registry seam is smaller than the size handed
//     with it. The program never sees the registry's own storage: every read copies
//     into its buffer, so a read past a value is a read past that buffer (or past a
//     text the system peeks one byte beyond on NT), which AddressSanitizer sees.
//
// Input: one flag byte, optional budgets and "Changed", then operations that fill
// the registry (see Decoder). registry_journal_seeds.py writes the seed corpus.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/ChangeJournal.h"
#include "app/ChangeJournalRules.h"
#include "app/ProfileStore.h"
#include "app/RestartResume.h"
#include "platform/AsciiText.h"
#include "platform/Forwarding.h"
#include "platform/host/HostSystem.h"
#include "platform/host/MemoryRegistry.h"
#include "platform/host/VirtualThreads.h"

namespace qx {
namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void Violation(const std::string& what) {
  std::fprintf(stderr, "registry_journal: %s\n", what.c_str());
  std::abort();
}

#define REQUIRE(cond, what)             \
  do {                                  \
    if (!(cond)) Violation(what);       \
  } while (false)

// --- The registry seam, checked --------------------------------------------

// Forwards every call to the in-memory registry, after making sure that each
// buffer the program hands over is as large as it says.
class CheckedRegistry : public ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;

  RegStatus QueryValue(RegKey key, const char* name, std::uint32_t* type, std::uint8_t* data,
                       std::uint32_t* size) override {
    if (data != nullptr && size != nullptr) Addressable(data, *size, "QueryValue buffer");
    return inner.QueryValue(key, name, type, data, size);
  }
  RegStatus SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                     std::uint32_t size) override {
    if (data != nullptr) Addressable(data, size, "SetValue data");
    return inner.SetValue(key, name, type, data, size);
  }
  RegStatus EnumKey(RegKey key, std::uint32_t index, char* name,
                    std::uint32_t* nameLength) override {
    if (name != nullptr && nameLength != nullptr) Addressable(name, *nameLength, "EnumKey buffer");
    return inner.EnumKey(key, index, name, nameLength);
  }

 private:
  static void Addressable(const void* p, std::uint32_t size, const char* what) {
    if (size == 0) return;
    if (__asan_region_is_poisoned(const_cast<void*>(p), size) != nullptr) {
      Violation(std::string(what) + " is smaller than the size handed with it");
    }
  }
};

// --- Names and paths --------------------------------------------------------

const char kApplication[] = "qxupdate";
const char kJournalPath[] = "Software\\Velmora_ODD\\qxupdate\\Change";
const char kProfilePath[] = "Software\\Velmora_ODD\\qxupdate";

using ascii::Upper;

std::vector<std::string> Split(const std::string& path) { return ascii::Split(path, "\\"); }

// The key a path names, as the registry resolves it: empty components dropped,
// case folded.
std::string KeyId(const std::string& root, const std::string& path) {
  std::string id = root;
  for (const std::string& part : Split(path)) id += "\\" + Upper(part);
  return id;
}

struct Setting {
  std::string key;   // KeyId
  std::string name;  // upper case
  bool operator<(const Setting& o) const {
    return key != o.key ? key < o.key : name < o.name;
  }
};

std::string Describe(const Setting& s) { return s.key + " \"" + s.name + "\""; }

std::string TextOf(const Bytes& data) {
  std::string text;
  for (std::uint8_t b : data) {
    if (b == 0) break;
    text.push_back(static_cast<char>(b));
  }
  return text;
}

// A number read with a 4-byte buffer: a shorter value leaves the rest zero.
bool NumberOf(const Bytes& data, std::uint32_t* number) {
  if (data.size() > 4) return false;
  std::uint8_t b[4] = {0, 0, 0, 0};
  std::copy(data.begin(), data.end(), b);
  *number = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
            static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
  return true;
}

// --- The settings the journal's rules cover ---------------------------------

enum class Kind { Flag, Number, Text };

struct Rule {
  Kind kind;
  std::uint32_t journalType;
  std::uint32_t newNumber;  // Flag and Number
};

// A row of the journal's table read as its comments state it, never through the
// program's code, so that a fault in the program's reading of it shows.
Rule RuleOf(const journal::Rule& row) {
  switch (row.reading) {
    case journal::Reading::Flag: return {Kind::Flag, 3, 0};
    case journal::Reading::Number: return {Kind::Number, 4, row.limit};
    case journal::Reading::DmaDetection: break;
  }
  return {Kind::Text, 1, 0};
}

bool IsNtRow(const journal::Rule& row) { return row.family == journal::Family::Nt; }

// Reads the registry directly (never through the program's code) to list every
// setting that a scan of this machine could change, with the rule for it.
class Coverage {
 public:
  Coverage(MemoryRegistry& registry, bool nt) : registry(registry), nt(nt) {}

  std::map<Setting, Rule> Settings() {
    std::map<Setting, Rule> out;
    for (const journal::Rule& row : journal::kRules) {
      if (IsNtRow(row) != nt) continue;
      for (const std::string& path : KeysOf(row)) {
        out[{KeyId("HKLM", path), Upper(row.value)}] = RuleOf(row);
      }
    }
    return out;
  }

  // What Restore may write: every setting a scan of this machine could change, and
  // for a SCSI device's rows the setting of every SCSI entry below the row's key as
  // well, listed by the configuration manager or not: a record made while the drive
  // was there must go back after it was unplugged. The record carries the path back
  // in fewer than kRecordPathBytes characters. Any case of the prefix is allowed
  // here; the program's own test is stricter, never wider.
  std::map<Setting, Rule> RestoreAllowed() {
    std::map<Setting, Rule> out = Settings();
    for (const journal::Rule& row : journal::kRules) {
      if (IsNtRow(row) != nt || row.place != journal::Place::ScsiDevice) continue;
      const std::string prefix = journal::kScsiPrefix;
      for (const std::string& bus : Children(reg::kLocalMachine, row.key)) {
        if (Upper(bus).compare(0, prefix.size(), prefix) != 0) continue;
        std::vector<std::string> pending{std::string(row.key) + "\\" + bus};
        while (!pending.empty()) {
          const std::string path = pending.back();
          pending.pop_back();
          if (path.size() < journal::kRecordPathBytes) {
            out.insert({{KeyId("HKLM", path), Upper(row.value)}, RuleOf(row)});
          }
          for (const std::string& child : Children(reg::kLocalMachine, path)) {
            pending.push_back(path + "\\" + child);
          }
        }
      }
    }
    return out;
  }

  // The settings on this machine whose rows ask for a change, and the settings of
  // the rows that go with the row before them, each with the setting it goes with.
  std::set<Setting> Asked(std::map<Setting, Setting>* followers) {
    std::set<Setting> asked;
    const std::size_t rows = sizeof journal::kRules / sizeof journal::kRules[0];
    for (std::size_t i = 0; i < rows; ++i) {
      const journal::Rule& row = journal::kRules[i];
      if (IsNtRow(row) != nt) continue;
      for (const std::string& path : KeysOf(row)) {
        Setting setting{KeyId("HKLM", path), Upper(row.value)};
        Bytes data;
        if (row.when == journal::When::PreviousJournalled) {
          // Never asks for a change of its own.
          (*followers)[setting] = {setting.key, Upper(journal::kRules[i - 1].value)};
        } else if (!(row.when == journal::When::PreviousUnread &&
                     Read(path, journal::kRules[i - 1], &data)) &&
                   Read(path, row, &data) && Needs(row, data)) {
          asked.insert(setting);
        }
      }
    }
    return asked;
  }

  // The keys below HKEY_LOCAL_MACHINE where a row's setting is.
  std::vector<std::string> KeysOf(const journal::Rule& row) {
    std::vector<std::string> keys;
    const std::string key = row.key;
    switch (row.place) {
      case journal::Place::Key:
        if (registry.KeyExists(reg::kLocalMachine, key)) keys.push_back(key);
        break;
      case journal::Place::Subkey:
        for (const std::string& child : Children(reg::kLocalMachine, key)) {
          keys.push_back(key + "\\" + child);
        }
        break;
      case journal::Place::DiscControllerInstance:
        for (const std::string& cls : Children(reg::kLocalMachine, key)) {
          std::string classPath = key + "\\" + cls;
          std::string className;
          if (!Text(reg::kLocalMachine, classPath, "Class", 128, &className) ||
              className != journal::kDiscControllerClass) {
            continue;
          }
          for (const std::string& instance : Children(reg::kLocalMachine, classPath)) {
            keys.push_back(classPath + "\\" + instance);
          }
        }
        break;
      case journal::Place::ScsiDevice:
        for (const std::string& device : Children(reg::kDynData, journal::kDeviceList)) {
          std::string hardwareKey;
          const std::string prefix = journal::kScsiPrefix;
          if (!Text(reg::kDynData, std::string(journal::kDeviceList) + "\\" + device,
                    "HardWareKey", 512, &hardwareKey) ||
              hardwareKey.compare(0, prefix.size(), prefix) != 0) {
            continue;
          }
          std::string path = key + "\\" + hardwareKey;
          if (path.size() < journal::kRecordPathBytes &&
              registry.KeyExists(reg::kLocalMachine, path)) {
            keys.push_back(path);
          }
        }
        break;
    }
    return keys;
  }

  // Subkey names whose full path stays within the 512-character buffers the
  // journal formats its paths into.
  std::vector<std::string> Children(RegKey root, const std::string& path) {
    std::vector<std::string> names;
    RegKey key = 0;
    if (registry.OpenKey(root, path.c_str(), reg::kKeyRead, &key) != reg::kSuccess) return names;
    for (std::uint32_t i = 0;; ++i) {
      char name[1024];
      std::uint32_t length = sizeof name;
      if (registry.EnumKey(key, i, name, &length) != reg::kSuccess) break;
      if (path.size() + 1 + length < 512) names.emplace_back(name, length);
    }
    registry.CloseKey(key);
    return names;
  }

 private:
  bool Text(RegKey root, const std::string& path, const char* name, std::size_t max,
            std::string* text) {
    Bytes data;
    if (!registry.GetValue(root, path, name, nullptr, &data) || data.size() > max) return false;
    *text = TextOf(data);
    return true;
  }

  // A row's value as the scan reads it: four bytes at most, or 128 for a text.
  bool Read(const std::string& path, const journal::Rule& row, Bytes* data) {
    std::size_t bound = row.reading == journal::Reading::DmaDetection ? 128 : 4;
    return registry.GetValue(reg::kLocalMachine, path, row.value, nullptr, data) &&
           data->size() <= bound;
  }

  static bool Needs(const journal::Rule& row, const Bytes& data) {
    std::uint32_t n = 0;
    switch (row.reading) {
      case journal::Reading::Flag:
        return !data.empty() && data[0] != 0;
      case journal::Reading::Number:
        return NumberOf(data, &n) && n > row.limit;
      case journal::Reading::DmaDetection: {
        std::string text = TextOf(data);
        std::size_t hex = text.find("0x");
        std::size_t at = hex == std::string::npos ? 1 : hex + 2;
        return at >= text.size() || text[at] != '0';
      }
    }
    return false;
  }

  MemoryRegistry& registry;
  bool nt;
};

// The value a rule looks at, for comparing before and after.
bool Meaning(Kind kind, const Bytes& data, std::string* out) {
  switch (kind) {
    case Kind::Flag:
      if (data.empty()) return false;
      *out = std::to_string(data[0]);
      return true;
    case Kind::Number: {
      std::uint32_t n = 0;
      if (!NumberOf(data, &n)) return false;
      *out = std::to_string(n);
      return true;
    }
    case Kind::Text:
      *out = TextOf(data);
      return true;
  }
  return false;
}

// --- Journal records, read raw ----------------------------------------------

struct Record {
  std::string keyName;  // the record's subkey name
  bool complete = false;
  bool hasSubKeys = false;
  Setting target;
  std::uint32_t type = 0;
  Bytes value;
  bool valueReadable = false;  // Value fits the buffer its type is read with
  // "Found_Type" and "Found_Data": the setting's type and bytes as the scan found
  // them, usable when both are there in their own types and fit the record's kind.
  bool foundUsable = false;
  std::uint32_t foundType = 0;
  Bytes foundData;
};

// The types a setting is put back in exactly as found, and the bytes its kind is
// read with at most.
bool KeptType(std::uint32_t type) {
  return type == 1 || type == 2 || type == 3 || type == 4 || type == 7;
}
std::size_t KindBound(std::uint32_t recordType) { return recordType == 1 ? 128 : 4; }

std::map<std::string, Record> ReadJournal(MemoryRegistry& registry) {
  std::map<std::string, Record> records;
  Coverage lister(registry, true);
  for (const std::string& name : lister.Children(reg::kCurrentUser, kJournalPath)) {
    std::string path = std::string(kJournalPath) + "\\" + name;
    Record r;
    r.keyName = name;
    r.hasSubKeys = !lister.Children(reg::kCurrentUser, path).empty();
    Bytes subKey, valueName, type;
    bool a = registry.GetValue(reg::kCurrentUser, path, "SubKey_Name", nullptr, &subKey);
    bool b = registry.GetValue(reg::kCurrentUser, path, "Value_Name", nullptr, &valueName);
    bool c = registry.GetValue(reg::kCurrentUser, path, "Value_Type", nullptr, &type);
    bool d = registry.GetValue(reg::kCurrentUser, path, "Value", nullptr, &r.value);
    r.complete = a && b && c && d;
    r.target = {KeyId("HKLM", TextOf(subKey)), Upper(TextOf(valueName))};
    NumberOf(type, &r.type);
    r.valueReadable = r.type == 1 ? r.value.size() <= 129 : r.value.size() <= 4;
    std::uint32_t foundTypeType = 0, foundDataType = 0;
    Bytes foundType;
    if (registry.GetValue(reg::kCurrentUser, path, "Found_Type", &foundTypeType, &foundType) &&
        registry.GetValue(reg::kCurrentUser, path, "Found_Data", &foundDataType, &r.foundData) &&
        foundTypeType == 4 && foundType.size() == 4 && foundDataType == 3 &&
        NumberOf(foundType, &r.foundType) && KeptType(r.foundType) &&
        r.foundData.size() <= KindBound(r.type)) {
      // And it says what "Value" says, as the record's rule reads both.
      std::uint32_t n = 0, m = 0;
      switch (r.type) {
        case 1: r.foundUsable = TextOf(r.foundData) == TextOf(r.value); break;
        case 3:
          r.foundUsable = !r.foundData.empty() && NumberOf(r.value, &n) &&
                          r.foundData[0] == (n & 0xFF);
          break;
        default:
          r.foundUsable = NumberOf(r.value, &n) && NumberOf(r.foundData, &m) && n == m;
          break;
      }
    }
    records[Upper(name)] = r;
  }
  return records;
}

// What Restore may write for a record: the setting as found, when the record
// keeps it usably; otherwise its old value in the record's form (*exact false).
bool ExpectedRestoreWrite(const Record& r, std::uint32_t* type, Bytes* data,
                          bool* exact = nullptr) {
  if (!r.complete || !r.valueReadable) return false;
  if (exact != nullptr) *exact = false;
  if (r.type != 1 && r.type != 3 && r.type != 4) return false;
  if (r.type == 1 && TextOf(r.value).size() > 128) return false;
  if (r.foundUsable) {
    if (exact != nullptr) *exact = true;
    *type = r.foundType;
    *data = r.foundData;
    return true;
  }
  std::uint32_t n = 0;
  switch (r.type) {
    case 1: {
      std::string text = TextOf(r.value);
      if (text.size() > 128) return false;
      *type = 1;
      *data = Bytes(128, 0);
      std::copy(text.begin(), text.end(), data->begin());
      return true;
    }
    case 3:
      NumberOf(r.value, &n);
      *type = 3;
      *data = Bytes{static_cast<std::uint8_t>(n & 0xFF)};
      return true;
    case 4:
      NumberOf(r.value, &n);
      *type = 4;
      *data = Bytes{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                    static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
      return true;
    default:
      return false;
  }
}

// Text written with a data length of 128: the text, then anything. NT keeps a
// zero that follows the 128 bytes when they hold none.
bool Text128(const Bytes& written) {
  return written.size() == 128 || (written.size() == 129 && written[128] == 0);
}
bool SameText128(const Bytes& written, const Bytes& expected) {
  return Text128(written) && TextOf(written) == TextOf(expected);
}

// --- Decoding the input into a machine --------------------------------------

class Decoder {
 public:
  Decoder(const std::uint8_t* data, std::size_t size) : cursor(data), inputEnd(data + size) {}
  bool More() const { return cursor < inputEnd; }
  std::uint8_t Byte() { return cursor < inputEnd ? *cursor++ : 0; }
  std::uint32_t U32() {
    std::uint32_t v = Byte();
    v |= static_cast<std::uint32_t>(Byte()) << 8;
    v |= static_cast<std::uint32_t>(Byte()) << 16;
    v |= static_cast<std::uint32_t>(Byte()) << 24;
    return v;
  }
  Bytes Take(std::size_t n) {
    Bytes out;
    out.reserve(n);
    std::uint8_t last = 'A';
    for (std::size_t i = 0; i < n; ++i) {
      // Past the input's end, big values repeat their last byte.
      if (cursor < inputEnd) last = *cursor++;
      out.push_back(last);
    }
    return out;
  }
  std::string Raw(std::size_t n) {
    Bytes b = Take(n);
    return std::string(b.begin(), b.end());
  }

  // A key name: one of the names machines really have, or raw bytes.
  std::string Instance() {
    static const char* const kPool[] = {"0000", "0001", "Port0", "Port1",
                                        "{4D36E96A-E325-11CE-BFC1-08002BE10318}",
                                        "{4D36E965-E325-11CE-BFC1-08002BE10318}", "0002", "a"};
    std::uint8_t k = Byte();
    if (k < 8) return kPool[k];
    std::string name = Raw(k - 8);
    for (char& c : name) {
      if (c == '\\' || c == '\0') c = '_';
    }
    return name.empty() ? "_" : name;
  }
  std::string HardwareKey() {
    static const char* const kPool[] = {"SCSI\\CDROM&VEN_VELMORA&PROD_DVD-ROM\\1&2",
                                        "SCSI\\X",
                                        "scsi\\lower",
                                        "SCSIDISK",
                                        "ESDI\\DISK",
                                        "SCSI",
                                        "SCSI\\X\\",
                                        "SCSI\\\\X"};
    std::uint8_t k = Byte();
    if (k < 8) return kPool[k];
    return Raw(k - 8);
  }
  // A path below HKEY_LOCAL_MACHINE, mostly where the journal looks.
  std::string KeyPath() {
    std::uint8_t t = Byte();
    std::string path;
    switch ((t & 0x7F) % 12) {
      case 0: path = "SYSTEM\\CurrentControlSet\\Services\\atapi\\Parameters\\" + Instance(); break;
      case 1: path = "SYSTEM\\CurrentControlSet\\Control\\Class\\" + Instance(); break;
      case 2:
        path = "SYSTEM\\CurrentControlSet\\Control\\Class\\" + Instance();
        path += "\\" + Instance();
        break;
      case 3: path = "SYSTEM\\CurrentControlSet\\Services\\Cdrom"; break;
      case 4: path = "Enum\\" + HardwareKey(); break;
      case 5: path = "System\\CurrentControlSet\\Services\\Class\\hdc\\" + Instance(); break;
      case 6: path = "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter\\" + Instance(); break;
      case 7: path = "SYSTEM\\CurrentControlSet\\Services\\atapi\\Parameters"; break;
      case 8: path = "System\\CurrentControlSet\\Services\\Class\\hdc"; break;
      case 9: path = "SOFTWARE\\Elsewhere\\" + Instance(); break;
      case 10: path = Raw(Byte()); break;
      default:
        path = "Enum\\" + HardwareKey();
        path += "\\" + Instance();
        break;
    }
    if (t & 0x80) path = ascii::Lower(path);
    return path;
  }
  std::string ValueName() {
    static const char* const kPool[] = {
        "AutoInsertNotification", "DMACurrentlyUsed", "AutoInsertNotificationDrive0",
        "AutoInsertNotificationDrive1", "IDEDMADRIVE0", "IDEDMADRIVE1", "DriverParameter",
        "Class", "UserMasterDeviceTimingModeAllowed", "MasterDeviceTimingMode",
        "MasterDeviceTimingModeAllowed", "UserSlaveDeviceTimingModeAllowed",
        "SlaveDeviceTimingMode", "SlaveDeviceTimingModeAllowed", "Autorun", "HardWareKey", ""};
    constexpr std::uint8_t kCount = sizeof kPool / sizeof kPool[0];
    std::uint8_t k = Byte();
    std::string name;
    if ((k & 0x7F) < kCount) {
      name = kPool[k & 0x7F];
    } else {
      name = Raw((k & 0x7F) - kCount);
      for (char& c : name) {
        if (c == '\0') c = '_';
      }
    }
    if (k & 0x80) name = Upper(name);
    return name;
  }
  // A value: its type and its bytes, as texts, numbers, key paths or raw bytes.
  void Value(std::uint32_t* type, Bytes* data) {
    static const std::uint32_t kTypes[] = {1, 3, 4, 0, 2, 7, 11};
    static const char* const kTexts[] = {"DmaDetectionLevel = 0x1;", "DmaDetectionLevel = 0x0;",
                                         "hdc", "HDC", "0x", "x0", "", "SCSI\\X"};
    std::uint8_t m = Byte();
    *type = (m & 7) == 7 ? U32() : kTypes[m & 7];
    bool terminate = (m & 0x20) == 0;
    switch ((m >> 3) & 3) {
      case 0: {
        static const std::uint32_t kSizes[] = {0,   1,   2,   3,   4,   5,   127,  128,
                                               129, 130, 255, 256, 511, 512, 513, 4096};
        std::uint8_t c = Byte();
        *data = Take(c < 0xF0 ? c : kSizes[c - 0xF0]);
        return;
      }
      case 1: {
        std::string text = kTexts[Byte() & 7];
        data->assign(text.begin(), text.end());
        break;
      }
      case 2: {
        *data = Take(4);
        return;
      }
      default: {
        std::string text = KeyPath();
        data->assign(text.begin(), text.end());
        break;
      }
    }
    if (terminate) data->push_back(0);
  }
  std::string RecordName() {
    std::uint8_t r = Byte();
    if (r < 0xE0) return ChangeJournal::RecordName(r);
    switch (r & 7) {
      case 0: return ChangeJournal::RecordName(static_cast<int>(U32()));
      case 1: return "1000000005";
      case 2: return "2147483647";
      case 3: return "0005";
      case 4: return " 5";
      case 5: return "abc";
      case 6: return "99999999999";
      default: {
        std::string name = Raw(Byte() & 0x3F);
        for (char& c : name) {
          if (c == '\\' || c == '\0') c = '_';
        }
        return name.empty() ? "_" : name;
      }
    }
  }

 private:
  const std::uint8_t* cursor;
  const std::uint8_t* inputEnd;
};

struct Options {
  bool nt = true;
  bool scanBudget = false;
  std::size_t scanBudgetWrites = 0;
  bool restoreBudget = false;
  std::size_t restoreBudgetWrites = 0;
  bool anyProtected = false;
  bool makerKeyPreexisted = false;
  std::set<Setting> seededRecordTargets;  // settings named by a record before the run
};

// The input: a flag byte (1: Windows 95/98/ME, else NT; 2: the scan's writes stop
// after the next byte's count; 4: the first restore's likewise; 8: "Changed" as the
// next four bytes; 16: "Changed" as any value; 32: "Software\Velmora_ODD" was there
// before the utility), then operations until the end, each
// an operation byte whose low seven bits modulo 6 pick: a value under
// HKEY_LOCAL_MACHINE, a configuration-manager device, a journal record (a name, a
// mask of the fields present and how each is made, the fields; with the top bit of
// the operation byte, a found form after them), an empty key, a setting's key made
// read-only, a record made undeletable.
std::unique_ptr<MemoryRegistry> Build(Decoder& in, Options* options) {
  Options& o = *options;
  std::uint8_t flags = in.Byte();
  o.nt = (flags & 1) == 0;
  auto owner =
      std::make_unique<MemoryRegistry>(o.nt ? RegistryFlavor::Nt : RegistryFlavor::Windows9x);
  MemoryRegistry& registry = *owner;
  if (flags & 2) {
    o.scanBudget = true;
    o.scanBudgetWrites = in.Byte();
  }
  if (flags & 4) {
    o.restoreBudget = true;
    o.restoreBudgetWrites = in.Byte();
  }
  o.makerKeyPreexisted = (flags & 32) != 0;
  if (flags & 8) registry.PutDword(reg::kCurrentUser, kProfilePath, "Changed", in.U32());
  if (flags & 16) {
    std::uint32_t type = 0;
    Bytes data;
    in.Value(&type, &data);
    registry.PutValue(reg::kCurrentUser, kProfilePath, "Changed", type, data);
  }
  while (in.More()) {
    std::uint8_t op = in.Byte();
    switch ((op & 0x7F) % 6) {
      case 0: {  // a value under HKEY_LOCAL_MACHINE
        std::string path = in.KeyPath();
        std::string name = in.ValueName();
        std::uint32_t type = 0;
        Bytes data;
        in.Value(&type, &data);
        registry.PutValue(reg::kLocalMachine, path, name, type, data);
        break;
      }
      case 1: {  // a device of the configuration manager
        std::string path = "Config Manager\\Enum\\" + in.Instance();
        std::uint32_t type = 1;
        Bytes data;
        if (op & 0x80) {
          in.Value(&type, &data);
        } else {
          std::string text = in.HardwareKey();
          data.assign(text.begin(), text.end());
          data.push_back(0);
        }
        registry.PutValue(reg::kDynData, path, "HardWareKey", type, data);
        break;
      }
      case 2: {  // a journal record, whole or in part
        std::string path = std::string(kJournalPath) + "\\" + in.RecordName();
        std::uint8_t mask = in.Byte();
        registry.PutKey(reg::kCurrentUser, path);
        static const char* const kFields[] = {"SubKey_Name", "Value_Name", "Value_Type", "Value"};
        Bytes valueData;
        for (int f = 0; f < 4; ++f) {
          if ((mask & (1 << f)) == 0) continue;
          std::uint32_t type = f >= 2 ? reg::kTypeDword : reg::kTypeString;
          Bytes data;
          if (mask & (0x10 << (f & 1))) {
            in.Value(&type, &data);
          } else if (f == 0) {
            std::string text = in.KeyPath();
            data.assign(text.begin(), text.end());
            data.push_back(0);
          } else if (f == 1) {
            std::string text = in.ValueName();
            data.assign(text.begin(), text.end());
            data.push_back(0);
          } else {
            std::uint8_t n = in.Byte();
            data = Bytes{n, 0, 0, 0};
            if (f == 3 && (mask & 0x40)) {  // a text after all
              type = 1;
              std::string text = in.Raw(n % 160);
              data.assign(text.begin(), text.end());
              data.push_back(0);
            }
          }
          registry.PutValue(reg::kCurrentUser, path, kFields[f], type, data);
          if (f == 3) valueData = data;
        }
        if (mask & 0x80) registry.PutKey(reg::kCurrentUser, path + "\\" + in.Instance());
        if (op & 0x80) {
          // The found form: bit 0 "Found_Type", bit 1 "Found_Data"; bit 2 a type
          // made by Value(), else a number from a pool; bit 3 data made by Value(),
          // bit 4 the bytes "Value" was stored with, else raw bytes as REG_BINARY.
          std::uint8_t found = in.Byte();
          if (found & 1) {
            static const std::uint32_t kFoundTypes[] = {1, 2, 3, 4, 7, 0, 6, 0xFFFFFFFF};
            std::uint32_t type = reg::kTypeDword;
            Bytes data;
            if (found & 4) {
              in.Value(&type, &data);
            } else {
              std::uint32_t t = kFoundTypes[in.Byte() & 7];
              data = Bytes{static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(t >> 8),
                           static_cast<std::uint8_t>(t >> 16), static_cast<std::uint8_t>(t >> 24)};
            }
            registry.PutValue(reg::kCurrentUser, path, "Found_Type", type, data);
          }
          if (found & 2) {
            std::uint32_t type = reg::kTypeBinary;
            Bytes data;
            if (found & 8) {
              in.Value(&type, &data);
            } else if (found & 16) {
              data = valueData;
            } else {
              data = in.Take(in.Byte() % 140);
            }
            registry.PutValue(reg::kCurrentUser, path, "Found_Data", type, data);
          }
        }
        break;
      }
      case 3:  // a key and nothing in it
        registry.PutKey(reg::kLocalMachine, in.KeyPath());
        break;
      case 4: {  // a setting's key the program may not write
        std::string path = in.KeyPath();
        registry.SetKeyProtected(reg::kLocalMachine, path, true);
        o.anyProtected = true;
        break;
      }
      default: {  // a record the program may not delete
        std::string path = std::string(kJournalPath) + "\\" + in.RecordName();
        registry.SetKeyProtected(reg::kCurrentUser, path, true);
        o.anyProtected = true;
        break;
      }
    }
  }
  for (const auto& entry : ReadJournal(registry)) o.seededRecordTargets.insert(entry.second.target);
  return owner;
}

// --- The run ------------------------------------------------------------------

struct Log {
  std::vector<RegistryWrite> writes;
};

void Watch(MemoryRegistry& registry, Log* log) {
  registry.SetWriteObserver([log](const RegistryWrite& w) { log->writes.push_back(w); });
}

bool IsPrefixKey(const std::string& id, const std::string& of) {
  return of == id || (of.size() > id.size() && of.compare(0, id.size(), id) == 0 &&
                      of[id.size()] == '\\');
}

// The parent's KeyId and the last component of a written key path.
void SplitLast(const std::string& keyPath, std::string* parent, std::string* last) {
  std::vector<std::string> parts = Split(keyPath);
  *last = parts.empty() ? std::string() : Upper(parts.back());
  std::string id;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) id += (i ? "\\" : "") + Upper(parts[i]);
  *parent = id;
}

void CheckScanWrites(const Log& log, const std::map<Setting, Rule>& covered,
                     const std::set<Setting>& asked,
                     const std::map<Setting, Setting>& followers,
                     const std::map<Setting, Bytes>& before,
                     const std::map<Setting, std::uint32_t>& typesBefore,
                     const std::map<std::string, Record>& recordsBefore, int countBefore,
                     int highestBefore, std::set<Setting>* changed) {
  const std::string journalId = KeyId("HKCU", kJournalPath);
  // Values of the records this scan writes, by record KeyId.
  std::map<std::string, std::map<std::string, RegistryWrite>> fresh;
  for (const RegistryWrite& w : log.writes) {
    std::string id = KeyId("", w.keyPath).substr(1);
    std::string parent, last;
    SplitLast(w.keyPath, &parent, &last);
    if (w.kind == RegistryWrite::Kind::CreateKey && id.compare(0, 5, "HKCU\\") == 0) {
      // The profile's keys on the way to the journal, and new records in it.
      if (IsPrefixKey(id, journalId)) continue;
      REQUIRE(parent == journalId && recordsBefore.count(last) == 0,
              "Scan created a key outside its journal: " + w.keyPath);
      continue;
    }
    if (w.kind == RegistryWrite::Kind::SetValue && parent == journalId) {
      REQUIRE(recordsBefore.count(last) == 0, "Scan wrote into a record it found: " + w.keyPath);
      std::string field = Upper(w.valueName);
      REQUIRE(field == "SUBKEY_NAME" || field == "VALUE_NAME" || field == "VALUE_TYPE" ||
                  field == "VALUE" || field == "FOUND_TYPE" || field == "FOUND_DATA",
              "Scan wrote an unknown record field: " + w.valueName);
      // "Value" completes a record: nothing of it may come after.
      REQUIRE(fresh[last].count("VALUE") == 0,
              "Scan wrote " + w.valueName + " after the record's Value: " + w.keyPath);
      // Numbered on from everything there: never at or below the count it was
      // given or a record it found.
      std::string digits = last;
      digits.erase(0, digits.find_first_not_of(' '));
      long long number = digits.empty() || digits.find_first_not_of("0123456789") !=
                                                   std::string::npos || digits.size() > 10
                             ? -1
                             : std::stoll(digits);
      REQUIRE(number > 0 && number > countBefore && number > highestBefore &&
                  ChangeJournal::RecordName(static_cast<int>(number)) == Split(w.keyPath).back(),
              "Scan named a record badly: '" + w.keyPath + "'");
      fresh[last][field] = w;
      continue;
    }
    REQUIRE(w.kind == RegistryWrite::Kind::SetValue && id.compare(0, 5, "HKLM\\") == 0,
            "Scan made a write of another kind or root: " + DescribeRegistryWrite(w));
    Setting s{id, Upper(w.valueName)};
    auto rule = covered.find(s);
    REQUIRE(rule != covered.end(), "Scan wrote a setting no rule covers: " + Describe(s));
    REQUIRE(changed->insert(s).second, "Scan wrote one setting twice: " + Describe(s));
    auto follows = followers.find(s);
    REQUIRE(asked.count(s) != 0 ||
                (follows != followers.end() && changed->count(follows->second) != 0),
            "Scan changed a setting its rule does not ask to change: " + Describe(s));
    const Rule& r = rule->second;
    std::uint32_t number = 0;
    switch (r.kind) {
      case Kind::Flag:
        REQUIRE(w.type == 3 && w.data == Bytes{0}, "flag not set to one byte 0: " + Describe(s));
        break;
      case Kind::Number:
        REQUIRE(w.type == 4 && NumberOf(w.data, &number) && w.data.size() == 4 &&
                    number == r.newNumber,
                "number not set to its limit: " + Describe(s));
        break;
      case Kind::Text:
        REQUIRE(w.type == 1 && Text128(w.data) &&
                    TextOf(w.data) == journal::kDmaOff,
                "DMA detection not switched off as it should be: " + Describe(s));
        break;
    }
    // A complete record of the old value must already be in the journal.
    auto it = covered.find(s);
    std::string old;
    auto was = before.find(s);
    REQUIRE(was != before.end() && Meaning(it->second.kind, was->second, &old),
            "Scan changed a value it could not have read: " + Describe(s));
    bool recorded = false;
    for (const auto& rec : fresh) {
      const auto& f = rec.second;
      if (f.count("SUBKEY_NAME") + f.count("VALUE_NAME") + f.count("VALUE_TYPE") +
              f.count("VALUE") != 4) {
        continue;
      }
      if (KeyId("HKLM", TextOf(f.at("SUBKEY_NAME").data)) != s.key ||
          Upper(TextOf(f.at("VALUE_NAME").data)) != s.name) {
        continue;
      }
      std::uint32_t type = 0;
      NumberOf(f.at("VALUE_TYPE").data, &type);
      std::string kept;
      Kind asKind = type == 1 ? Kind::Text : type == 3 ? Kind::Flag : Kind::Number;
      if (type != r.journalType || !Meaning(asKind, f.at("VALUE").data, &kept) || kept != old) {
        continue;
      }
      // The found form, whenever the setting is of a type kept as found.
      std::uint32_t foundType = typesBefore.at(s);
      if (KeptType(foundType)) {
        auto ft = f.find("FOUND_TYPE");
        auto fd = f.find("FOUND_DATA");
        REQUIRE(ft != f.end() && fd != f.end() && ft->second.type == 4 &&
                    ft->second.data == (Bytes{static_cast<std::uint8_t>(foundType), 0, 0, 0}) &&
                    fd->second.type == 3 && fd->second.data == was->second,
                "Scan's record does not keep the setting as found: " + Describe(s));
      } else {
        REQUIRE(f.count("FOUND_TYPE") == 0 && f.count("FOUND_DATA") == 0,
                "Scan kept a found form of a type it cannot put back: " + Describe(s));
      }
      recorded = true;
    }
    REQUIRE(recorded, "Scan changed a setting without a record of its old value: " + Describe(s));
  }
}

void CheckRestoreWrites(const Log& log, const std::map<Setting, Rule>& covered,
                        const std::map<std::string, Record>& records) {
  const std::string journalId = KeyId("HKCU", kJournalPath);
  const RegistryWrite* previous = nullptr;
  for (const RegistryWrite& w : log.writes) {
    std::string id = KeyId("", w.keyPath).substr(1);
    if (w.kind == RegistryWrite::Kind::SetValue && id.compare(0, 5, "HKLM\\") == 0) {
      Setting s{id, Upper(w.valueName)};
      auto rule = covered.find(s);
      REQUIRE(rule != covered.end(), "Restore wrote a setting no rule covers: " + Describe(s));
      bool fromRecord = false;
      for (const auto& entry : records) {
        std::uint32_t type = 0;
        Bytes data;
        bool exact = false;
        // Only a record of the type its rule journals may put the setting back.
        if (entry.second.target.key != s.key || entry.second.target.name != s.name ||
            entry.second.type != rule->second.journalType ||
            !ExpectedRestoreWrite(entry.second, &type, &data, &exact)) {
          continue;
        }
        if (w.type == type &&
            (!exact && type == 1 ? SameText128(w.data, data) : w.data == data)) {
          fromRecord = true;
        }
      }
      REQUIRE(fromRecord, "Restore wrote a value no record holds: " + DescribeRegistryWrite(w));
    } else if (w.kind == RegistryWrite::Kind::DeleteKey) {
      std::string parent, last;
      SplitLast(w.keyPath, &parent, &last);
      REQUIRE(parent == journalId && records.count(last) != 0,
              "Restore deleted a key that is not a record: " + w.keyPath);
      const Record& r = records.at(last);
      if (r.complete) {
        std::uint32_t type = 0;
        Bytes data;
        bool exact = false;
        REQUIRE(previous != nullptr && previous->kind == RegistryWrite::Kind::SetValue &&
                    KeyId("", previous->keyPath).substr(1) == r.target.key &&
                    Upper(previous->valueName) == r.target.name &&
                    ExpectedRestoreWrite(r, &type, &data, &exact) && previous->type == type &&
                    (!exact || previous->data == data),
                "Restore deleted a record whose value did not go back: " + w.keyPath);
      }
    } else {
      Violation("Restore made a write it has no business making: " + DescribeRegistryWrite(w));
    }
    previous = &w;
  }
}

std::map<Setting, Bytes> Values(MemoryRegistry& registry, const std::map<Setting, Rule>& covered,
                                const std::map<Setting, std::string>& paths,
                                std::map<Setting, std::uint32_t>* types = nullptr) {
  std::map<Setting, Bytes> out;
  for (const auto& entry : covered) {
    Bytes data;
    std::uint32_t type = 0;
    std::string path = paths.at(entry.first);
    // Resolve a setting by the names in its KeyId (the case does not matter).
    if (registry.GetValue(reg::kLocalMachine, path, entry.first.name, &type, &data)) {
      out[entry.first] = data;
      if (types != nullptr) (*types)[entry.first] = type;
    }
  }
  return out;
}

std::map<Setting, std::string> PathsOf(const std::map<Setting, Rule>& covered) {
  std::map<Setting, std::string> out;
  for (const auto& entry : covered) out[entry.first] = entry.first.key.substr(5);
  return out;
}

int HighestNumber(const std::map<std::string, Record>& records) {
  int highest = 0;
  for (const auto& entry : records) {
    std::string digits = entry.second.keyName;
    digits.erase(0, digits.find_first_not_of(' '));
    if (digits.empty() || digits.size() > 10 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    long long n = std::stoll(digits);
    if (n <= 0x7FFFFFFF) highest = std::max(highest, static_cast<int>(n));
  }
  return highest;
}

void Run(const std::uint8_t* data, std::size_t size) {
  Decoder in(data, size);
  Options o;
  std::unique_ptr<MemoryRegistry> owner = Build(in, &o);
  MemoryRegistry& registry = *owner;
  const std::string dynData = registry.Dump(reg::kDynData);
  // QX_FUZZ_SHOW=1: print the machine an input makes, to read a finding.
  if (std::getenv("QX_FUZZ_SHOW") != nullptr) {
    std::fprintf(stderr, "%s family\n%s", o.nt ? "NT" : "95/98/ME", registry.Dump().c_str());
  }
  CheckedRegistry seam(registry);
  Coverage coverage(registry, o.nt);

  const std::map<Setting, Rule> covered = coverage.Settings();
  const std::map<Setting, Rule> restorable = coverage.RestoreAllowed();
  const std::map<Setting, std::string> paths = PathsOf(covered);
  std::map<Setting, std::uint32_t> originalTypes;
  const std::map<Setting, Bytes> original = Values(registry, covered, paths, &originalTypes);

  // First start: the scan without apply decides; it must leave everything alone.
  ProfileStore profile(seam, kApplication);
  ChangeJournal first(seam, profile, o.nt);
  std::string dump = registry.Dump();
  Log quiet;
  Watch(registry, &quiet);
  bool needed = first.Scan(false);
  registry.SetWriteObserver(nullptr);
  // A key the program may not write is one it cannot open to change either.
  std::map<Setting, Setting> followers;
  const std::set<Setting> asked = coverage.Asked(&followers);
  REQUIRE(!needed || !asked.empty(), "Scan found a change no rule asks for");
  REQUIRE(needed || asked.empty() || o.anyProtected, "Scan missed a change a rule asks for");
  REQUIRE(quiet.writes.empty(),
          "Scan without apply wrote: " + DescribeRegistryWrite(quiet.writes.front()));
  REQUIRE(registry.Dump() == dump, "Scan without apply changed the registry unseen");
  REQUIRE(first.changedCount == 0, "Scan without apply changed the count");

  std::set<Setting> changed;
  if (needed) {
    int count = profile.GetInt("", "Changed", 0);
    first.changedCount = count;
    const std::map<std::string, Record> recordsBefore = ReadJournal(registry);
    Log log;
    Watch(registry, &log);
    if (o.scanBudget) registry.SetWriteBudget(o.scanBudgetWrites);
    bool again = first.Scan(true);
    registry.SetWriteObserver(nullptr);
    REQUIRE(again, "Scan with apply disagrees with the scan without");
    CheckScanWrites(log, covered, asked, followers, original, originalTypes, recordsBefore,
                    count, HighestNumber(recordsBefore), &changed);
    // Under a budget the machine may stop before the count is stored, as it may
    // stop anywhere.
    profile.WriteInt("", "Changed", first.changedCount);
    registry.ClearWriteBudget();
    // Near the end of the numbers a scan may rightly refuse to journal.
    bool numbersLeft = std::max(count, HighestNumber(recordsBefore)) < 0x7FFFFFFF - 64;
    if (!o.scanBudget && !o.anyProtected && numbersLeft) {
      // After the restart nothing is left to change.
      ChangeJournal resumed(seam, profile, o.nt);
      REQUIRE(!resumed.Scan(false), "a setting still needs a change after the scan applied it");
    }
  }

  // Second start, after the restart: the restore.
  int finalCount = -1;
  for (int pass = 0; pass < 2; ++pass) {
    bool crash = pass == 0 && o.restoreBudget;
    if (pass == 1 && !o.restoreBudget) break;
    ChangeJournal second(seam, profile, o.nt);
    second.changedCount = profile.GetInt("", "Changed", 0);
    int countBefore = second.changedCount;
    const std::map<std::string, Record> records = ReadJournal(registry);
    bool journalThere = registry.KeyExists(reg::kCurrentUser, kJournalPath);
    Log log;
    Watch(registry, &log);
    if (crash) registry.SetWriteBudget(o.restoreBudgetWrites);
    second.Restore();
    registry.ClearWriteBudget();
    registry.SetWriteObserver(nullptr);
    CheckRestoreWrites(log, restorable, records);
    if (crash) continue;  // the count of a run cut short means nothing
    finalCount = second.changedCount;
    std::size_t left = ReadJournal(registry).size();
    if (journalThere) {
      REQUIRE(second.changedCount == static_cast<int>(left),
              "Restore's count differs from the records it left: " +
                  std::to_string(second.changedCount) + " for " + std::to_string(left));
    } else {
      REQUIRE(second.changedCount == countBefore, "Restore without a journal changed the count");
    }
  }

  // Every setting the scan changed is back as it was, unless its record is kept.
  std::map<Setting, std::uint32_t> afterTypes;
  const std::map<Setting, Bytes> after = Values(registry, covered, paths, &afterTypes);
  const std::map<std::string, Record> left = ReadJournal(registry);
  for (const Setting& s : changed) {
    if (o.seededRecordTargets.count(s) != 0) continue;  // an older record may rule
    Kind kind = covered.at(s).kind;
    std::string was, now;
    Meaning(kind, original.at(s), &was);
    auto it = after.find(s);
    if (KeptType(originalTypes.at(s))) {
      // Back exactly as found: the type and every byte.
      if (it != after.end() && afterTypes.at(s) == originalTypes.at(s) &&
          it->second == original.at(s)) {
        continue;
      }
    } else if (it != after.end() && Meaning(kind, it->second, &now) && now == was) {
      continue;
    }
    if (it != after.end()) Meaning(kind, it->second, &now);
    bool kept = false;
    for (const auto& entry : left) {
      const Record& r = entry.second;
      std::string held;
      Kind asKind = r.type == 1 ? Kind::Text : r.type == 3 ? Kind::Flag : Kind::Number;
      if (r.target.key == s.key && r.target.name == s.name && r.complete &&
          Meaning(asKind, r.value, &held) && held == was) {
        kept = true;
      }
    }
    REQUIRE(kept, "a changed setting is neither put back nor kept in the journal: " +
                      Describe(s) + " was " + was + " is " + now);
  }
  REQUIRE(registry.Dump(reg::kDynData) == dynData, "the configuration manager's list was written");

  // With nothing left to restore the utility removes its keys: those, and no more.
  if (finalCount != 0) return;
  HostSystem system;
  VirtualThreads threads;
  RestartResume restart(seam, system, threads);
  Log log;
  Watch(registry, &log);
  restart.RemoveUtilityKeys(kApplication, o.makerKeyPreexisted, o.nt);
  registry.SetWriteObserver(nullptr);
  const std::string ours = o.makerKeyPreexisted ? KeyId("HKCU", kProfilePath)
                                                : KeyId("HKCU", "Software\\Velmora_ODD");
  for (const RegistryWrite& w : log.writes) {
    REQUIRE(w.kind == RegistryWrite::Kind::DeleteKey &&
                IsPrefixKey(ours, KeyId("", w.keyPath).substr(1)),
            "removing the utility's keys wrote elsewhere: " + DescribeRegistryWrite(w));
  }
}

}  // namespace
}  // namespace qx

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qx::Run(data, size);
  return 0;
}
