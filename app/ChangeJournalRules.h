#pragma once
// The system settings the change journal turns off before a transfer, one row per
// setting: the platform family it belongs to, where its keys are, its value's name,
// how the value found there is judged and what replaces it. Scan walks the rows in
// order, which is the order the records are numbered in; rows next to each other
// with the same place and key are looked at together, key by key. Restore writes a
// value back only when some row of the running family names its key, its name and
// the record's type.
#include <cstdint>

#include "platform/Registry.h"

namespace qx {
namespace journal {

enum class Family : std::uint8_t { Windows9x, Nt };

// Where the keys holding a setting are, below HKEY_LOCAL_MACHINE.
enum class Place : std::uint8_t {
  // `key` itself.
  Key,
  // Each subkey of `key`.
  Subkey,
  // Each subkey of each subkey of `key` whose text value "Class" is exactly
  // kDiscControllerClass.
  DiscControllerInstance,
  // "<key>\<HardWareKey>" for each entry of kDeviceList (under HKEY_DYN_DATA) whose
  // "HardWareKey" text begins with kScsiPrefix, when the path is shorter than
  // kRecordPathBytes. Restore takes any such path below `key`, listed or not: a
  // drive unplugged since it was journalled must still get its settings back.
  ScsiDevice,
};

// How the value found is read and judged, and what replaces it.
enum class Reading : std::uint8_t {
  // Four bytes whatever its type; a change is needed when the first is not 0. The
  // record keeps that byte as REG_BINARY; the setting becomes one REG_BINARY byte 0.
  Flag,
  // Four bytes whatever its type, little endian, a shorter value leaving the rest 0;
  // a change is needed above `limit`, unsigned. The record keeps the number as
  // REG_DWORD; the setting becomes `limit` as REG_DWORD.
  Number,
  // A text of at most 128 bytes; a change is needed unless the character after its
  // first "0x" (the one at index 1 when there is none) is '0'. The record keeps the
  // text as REG_SZ; the setting becomes kDmaOff as REG_SZ of 128 bytes.
  DmaDetection,
};

// Whether a row is looked at, by what became of the row just before it on the same
// key.
enum class When : std::uint8_t {
  Always,
  // Only when the previous row's value could not be read.
  PreviousUnread,
  // Only when the previous row was journalled; then this one is journalled and set
  // whatever it holds.
  PreviousJournalled,
};

struct Rule {
  Family family;
  Place place;
  const char* key;
  const char* value;
  Reading reading;
  std::uint32_t limit;  // Number only
  When when;
};

// The type of a record's "Value", which is also the type the setting is put back in
// when the record keeps no found form.
constexpr std::uint32_t RecordType(Reading reading) {
  return reading == Reading::Flag     ? reg::kTypeBinary
         : reading == Reading::Number ? reg::kTypeDword
                                      : reg::kTypeString;
}

constexpr char kDeviceList[] = "Config Manager\\Enum";
constexpr char kScsiPrefix[] = "SCSI";
constexpr char kDiscControllerClass[] = "hdc";
constexpr char kDmaOff[] = "DmaDetectionLevel = 0x0;";
// A record's "SubKey_Name" is read back in this many bytes with its zero.
constexpr std::uint32_t kRecordPathBytes = 128;

constexpr char kHdc9x[] = "System\\CurrentControlSet\\Services\\Class\\hdc";
constexpr char kScsiAdapter9x[] = "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter";
constexpr char kAtapiParameters[] = "SYSTEM\\CurrentControlSet\\Services\\atapi\\Parameters";
constexpr char kControlClass[] = "SYSTEM\\CurrentControlSet\\Control\\Class";
constexpr char kCdrom[] = "SYSTEM\\CurrentControlSet\\Services\\Cdrom";

// Short names, so that each row fits on one line of the table below.
constexpr Family k9x = Family::Windows9x;
constexpr Family kNt = Family::Nt;
constexpr Place kKey = Place::Key;
constexpr Place kSubkey = Place::Subkey;
constexpr Place kIdeChannel = Place::DiscControllerInstance;
constexpr Place kScsiDevice = Place::ScsiDevice;
constexpr Reading kFlag = Reading::Flag;
constexpr Reading kNumber = Reading::Number;
constexpr Reading kDma = Reading::DmaDetection;
constexpr When kAlways = When::Always;
constexpr When kUnread = When::PreviousUnread;
constexpr When kWith = When::PreviousJournalled;

constexpr Rule kRules[] = {
    {k9x, kScsiDevice, "Enum", "AutoInsertNotification", kFlag, 0, kAlways},
    {k9x, kScsiDevice, "Enum", "DMACurrentlyUsed", kFlag, 0, kAlways},
    {k9x, kSubkey, kHdc9x, "AutoInsertNotificationDrive0", kFlag, 0, kAlways},
    {k9x, kSubkey, kHdc9x, "AutoInsertNotificationDrive1", kFlag, 0, kAlways},
    {k9x, kSubkey, kHdc9x, "IDEDMADRIVE0", kFlag, 0, kAlways},
    {k9x, kSubkey, kHdc9x, "IDEDMADRIVE1", kFlag, 0, kAlways},
    {k9x, kSubkey, kScsiAdapter9x, "AutoInsertNotificationDrive0", kFlag, 0, kAlways},
    {k9x, kSubkey, kScsiAdapter9x, "AutoInsertNotificationDrive1", kFlag, 0, kAlways},
    {k9x, kSubkey, kScsiAdapter9x, "IDEDMADRIVE0", kFlag, 0, kAlways},
    {k9x, kSubkey, kScsiAdapter9x, "IDEDMADRIVE1", kFlag, 0, kAlways},

    {kNt, kSubkey, kAtapiParameters, "DriverParameter", kDma, 0, kAlways},
    // The user's own limit rules its side; the mode is looked at only without it,
    // and the mode's allowed value goes down with the mode.
    {kNt, kIdeChannel, kControlClass, "UserMasterDeviceTimingModeAllowed", kNumber, 31, kAlways},
    {kNt, kIdeChannel, kControlClass, "MasterDeviceTimingMode", kNumber, 16, kUnread},
    {kNt, kIdeChannel, kControlClass, "MasterDeviceTimingModeAllowed", kNumber, 31, kWith},
    {kNt, kIdeChannel, kControlClass, "UserSlaveDeviceTimingModeAllowed", kNumber, 31, kAlways},
    {kNt, kIdeChannel, kControlClass, "SlaveDeviceTimingMode", kNumber, 16, kUnread},
    {kNt, kIdeChannel, kControlClass, "SlaveDeviceTimingModeAllowed", kNumber, 31, kWith},
    {kNt, kKey, kCdrom, "Autorun", kNumber, 0, kAlways},
};

}  // namespace journal
}  // namespace qx
