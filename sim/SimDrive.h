#pragma once
// A simulated "DVD-ROM QX-M4471": the drive's side of every exchange, independent
// of the transport that carries it. The pass-through port and the ASPI manager
// hand it a CDB with a data buffer and turn its answer into their own results.
//
// What it models: INQUIRY, TEST UNIT READY, READ(10), PREVENT ALLOW MEDIUM
// REMOVAL, START STOP UNIT with a tray and a medium, the unit attention pending
// after power-on or reset, the unit attention (28/00) and the NOT READY while
// becoming ready (04/01) that follow a medium change, and the vendor diagnostic page 0x88 (the identify
// exchange and the firmware download, which it checks before it takes a new
// revision). A fault plan (SimFaultPlan.h) bends the answers for tests.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/Inquiry.h"
#include "device/ScsiTransport.h"
#include "device/Sense.h"
#include "device/VendorPage.h"
#include "sim/FirmwareLayout.h"
#include "sim/SimFaultPlan.h"

namespace qx {

struct SimDriveConfig {
  std::string vendor = inquiry::kVendor;      // INQUIRY bytes 8-15, blank-padded
  std::string product = inquiry::kProduct;    // bytes 16-31
  std::string revision = "1005";              // bytes 32-35
  std::uint8_t deviceType = inquiry::kTypeCdDvd;  // peripheral device type, byte 0
  std::string driveCode = "is";              // identify reply bytes 6-7
  std::uint8_t letter = 0x41;                // identify reply byte 15
  bool mediumPresent = true;
  bool trayOpen = false;
  std::string fault;  // a fault plan in the syntax of SimFaultPlan.h
};

struct SimCommandResult {
  bool completed = true;  // false: the command never completes (a hang fault)
  std::uint8_t status = 0;
  std::array<std::uint8_t, 24> sense{};  // fixed format; zero when there is none
  std::uint32_t senseLength = 0;         // 0 or 18
  std::uint32_t transferred = 0;         // data bytes that moved, either way
  // Bytes the drive's data phase asked to move. More than the host offered is an
  // overrun (the adapter cut the phase short); less is an underrun, the ordinary
  // short reply of a drive that had less to say than the buffer holds.
  std::uint32_t requested = 0;

  bool Overrun(std::uint32_t offered) const { return requested > offered; }

  std::uint8_t SenseKey() const { return sense::KeyOf(this->sense.data()); }
  std::uint8_t Asc() const { return this->sense[sense::kAscOffset]; }
  std::uint8_t Ascq() const { return this->sense[sense::kAscqOffset]; }
};

// One command as the drive saw it, for tests and transcripts.
struct SimCommandRecord {
  std::array<std::uint8_t, 16> cdb{};
  std::uint8_t cdbLength = 0;
  std::uint32_t length = 0;  // the transfer length the host offered
  DataDirection direction = DataDirection::Unspecified;
  std::array<std::uint8_t, 8> parameters{};  // start of an outgoing parameter list
  std::uint8_t parameterCount = 0;           // how many of them are valid
  std::uint32_t delayMs = 0;
  bool completed = true;
  std::uint8_t status = 0;
  std::uint8_t senseKey = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  std::uint32_t transferred = 0;
};

// "12 00 00 00 2C 00 len=44 in -> 00", then " sense=05/24/00" after a CHECK
// CONDITION, " param=88 00 ..." for an outgoing list, " delay=N", or "-> hang".
std::string FormatSimCommand(const SimCommandRecord& record);

class SimDrive {
 public:
  using SleepHook = std::function<void(std::uint32_t milliseconds)>;
  using Observer = std::function<void(const SimCommandRecord&)>;

  enum class DownloadState { Idle, Opened, Armed, Receiving, Complete };
  static constexpr std::uint32_t kBlockSize = 2048;
  static constexpr std::uint32_t kCapacityBlocks = 2295104;  // a single-layer disc

  // Powers on: a unit attention is pending. A fault text that does not parse
  // is left out; ConfigError says why.
  explicit SimDrive(const SimDriveConfig& config = SimDriveConfig());

  // Executes one CDB. `data` holds `length` bytes: filled by the drive for a
  // command that reads, taken from it for one that writes. `direction` is what
  // the host announced; Unspecified lets the command decide. Never fails itself:
  // the drive's answer is in the result.
  SimCommandResult Execute(const std::uint8_t* cdb, std::size_t cdbLength, std::uint8_t* data,
                           std::uint32_t length, DataDirection direction);

  // A bus reset or power cycle: forgets a download under way and the identify
  // reply, allows removal again, and makes a unit attention pending.
  void Reset();

  void SetSleepHook(SleepHook hook) { sleepHook = std::move(hook); }
  void SetObserver(Observer callback) { observer = std::move(callback); }
  // Asked before each command; false: the command never reaches the drive, which
  // answers CHECK CONDITION without sense (a run stopped there sends nothing more).
  void SetGate(std::function<bool()> allow) { gate = std::move(allow); }
  SimFaultPlan& Faults() { return faults; }
  const std::string& ConfigError() const { return configError; }

  // The drive as it is now (revision after an update, tray, medium), in the
  // form the state file keeps. Its fault is the one it was configured with:
  // rules added through Faults() belong to this run only.
  SimDriveConfig CurrentConfig() const;
  const std::string& Revision() const { return config.revision; }
  std::uint8_t Letter() const { return config.letter; }
  bool TrayOpen() const { return config.trayOpen; }
  bool MediumPresent() const { return config.mediumPresent; }
  bool RemovalPrevented() const { return preventRemoval; }
  bool UnitAttentionPending() const { return unitAttentionPending; }
  DownloadState Download() const { return downloadState; }
  // Why the last closing page refused its image (Ok after an accepted one).
  firmware::ImageCheck LastImageCheck() const { return lastImageCheck; }
  int UpdatesTaken() const { return updatesTaken; }

  // A medium that arrives in a closed tray, or a tray that closes on a medium, is
  // a medium change: the next command that reports unit attentions gets 28/00, and
  // the next kBecomingReadyAnswers commands that need the medium get NOT READY 04/01.
  void InsertMedium(bool present);
  void SetTrayOpen(bool open);
  static constexpr int kBecomingReadyAnswers = 2;

  const std::vector<SimCommandRecord>& Log() const { return log; }
  void ClearLog() { log.clear(); }

  // The direction of the data phase of a command this drive knows; Unspecified
  // for commands without data and for unknown opcodes.
  static DataDirection CommandDirection(std::uint8_t opcode);

  // The command context, passed to the handlers of the dispatch table.
  struct Command {
    const std::uint8_t* cdb;
    std::uint8_t* data;
    std::uint32_t length;
    SimCommandResult* result;
  };

 private:
  using Handler = void (SimDrive::*)(Command&);
  struct Entry {
    std::uint8_t opcode;
    std::uint8_t cdbLength;
    DataDirection direction;  // Unspecified: no data phase
    bool reportsUnitAttention;
    Handler handler;
    // Per CDB byte, the bits that are reserved (or that this drive does not
    // support) and must be zero; the LUN bits of byte 1 are checked apart.
    std::uint8_t reserved[10];
  };
  static const Entry kCommands[];
  static const Entry* Find(std::uint8_t opcode);

  void TestUnitReady(Command& c);
  void Inquiry(Command& c);
  void StartStopUnit(Command& c);
  void ReceiveDiagnosticResults(Command& c);
  void SendDiagnostic(Command& c);
  void PreventAllowMediumRemoval(Command& c);
  void Read10(Command& c);

  // The pages of SEND DIAGNOSTIC.
  void DownloadPage(Command& c, const std::uint8_t* page, std::uint32_t length);
  void ClosingPage(Command& c);
  void AbandonDownload();

  bool CheckReady(Command& c);
  void MediumChanged();
  // CHECK CONDITION with fixed-format sense. A field pointer (0 or more) names the
  // offending byte of the CDB, or of the parameter list when inCdb is false.
  static void Fail(Command& c, std::uint8_t key, sense::Code code, int fieldPointer = -1,
                   bool inCdb = true);

  SimDriveConfig config;
  std::string configError;
  SimFaultPlan faults;
  SleepHook sleepHook;
  Observer observer;
  std::function<bool()> gate;
  std::vector<SimCommandRecord> log;

  bool unitAttentionPending = true;
  sense::Code pending = sense::kPowerOnReset;
  int becomingReady = 0;  // NOT READY 04/01 answers left before the medium is ready
  bool preventRemoval = false;
  bool identifyArmed = false;
  DownloadState downloadState = DownloadState::Idle;
  std::uint8_t nextPage = 1;
  std::vector<std::uint8_t> image;
  firmware::ImageCheck lastImageCheck = firmware::ImageCheck::Ok;
  int updatesTaken = 0;
  SimFaultEffect commandEffect;    // what the fault plan asked of the command under way
  std::uint32_t settleLeft = 0;    // unit attentions still due after new firmware
  std::uint32_t oldRevisionLeft = 0;  // INQUIRYs that still report the revision before it
  std::string oldRevision;
};

}  // namespace qx
