// The fault matrix: one clean update in the start after the utility's own restart,
// then the same update again for every command that run sends and every way that
// command can fail. Each row checks that the user is told, that the settings end
// restored (or stay journalled and come back at the next start), that nothing is
// restored or restarted while the worker runs, and that the exit code, status line
// and end code are what the rules of the program give for that failure. The
// expected outcome of a row is derived from where the command sits in the run and
// how it fails, never from what the program did.
//
// Alone, with its table:  unit_tests --gtest_filter='FaultMatrix.*'
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "FaultMatrixRig.h"
#include "device/Sense.h"
#include "device/ScsiTransport.h"
#include "device/VendorPage.h"
#include "text/TextCatalogue.h"

namespace qx {
namespace {

using namespace faultmatrix;
using Names = std::vector<std::string>;

const std::string kNotFound =
    "Target CD-Drive not found, The Update applies to VELMORA DVD-ROM QX-M4471 CD-Drives "
    "Only.\r\nIf you insert a drive, please restart the computer and retry the update operation.";
const std::string kUpdateFailed = "Update Failed.";
const std::string kUpdateComplete = "Update Complete.";
const std::string kNotSupport = "Not Support.";

constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint64_t kPortTimeoutMs = 200000;  // a request the drive never completes
constexpr std::uint64_t kWatchTimeoutMs = 300000;  // the 100th event of the 3 s timer

// ---------------------------------------------------------------------------
// Ways to fail

enum class Way { Check, UnitAttentionOnce, NotReady, EndlessUnitAttention, Hang, OpenFails,
                 Refused, PortMaximum };

struct Failure {
  Way way;
  std::uint8_t key = 0, asc = 0, ascq = 0;
  std::string name;
};

Failure CheckCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, const char* what) {
  char name[48];
  std::snprintf(name, sizeof name, "CHECK %02X/%02X/%02X %s", key, asc, ascq, what);
  return {Way::Check, key, asc, ascq, name};
}

std::vector<Failure> Failures() {
  return {
      CheckCondition(0x1, 0x18, 0x00, "RECOVERED"),
      CheckCondition(sense::kNotReady, 0x3A, 0x00, "NOT READY"),
      CheckCondition(sense::kMediumError, 0x11, 0x00, "MEDIUM"),
      CheckCondition(sense::kHardwareError, sense::kInternalTargetFailure.asc, 0x00, "HARDWARE"),
      CheckCondition(sense::kIllegalRequest, sense::kInvalidFieldInCdb.asc, 0x00, "ILLEGAL REQ"),
      {Way::UnitAttentionOnce, sense::kUnitAttention, sense::kPowerOnReset.asc,
       sense::kPowerOnReset.ascq, "CHECK 06/29/00 UA once"},
      CheckCondition(0x7, 0x27, 0x00, "DATA PROTECT"),
      CheckCondition(0x8, 0x00, 0x05, "BLANK CHECK"),
      CheckCondition(0x9, 0x80, 0x00, "VENDOR"),
      CheckCondition(0xA, 0x00, 0x00, "COPY ABORTED"),
      CheckCondition(sense::kAbortedCommand, 0x47, 0x00, "ABORTED CMD"),
      CheckCondition(0xC, 0x00, 0x00, "EQUAL"),
      CheckCondition(0xD, 0x21, 0x00, "VOL OVERFLOW"),
      CheckCondition(0xE, 0x1D, 0x00, "MISCOMPARE"),
      {Way::NotReady, sense::kNotReady, sense::kBecomingReady.asc, sense::kBecomingReady.ascq,
       "NOT READY 04/01 every try"},
      {Way::EndlessUnitAttention, sense::kUnitAttention, sense::kPowerOnReset.asc,
       sense::kPowerOnReset.ascq, "endless unit attention"},
      {Way::Hang, 0, 0, 0, "never completes"},
      {Way::OpenFails, 0, 0, 0, "open fails (error 2)"},
      {Way::Refused, 0, 0, 0, "request refused (87)"},
  };
}

// ---------------------------------------------------------------------------
// The commands of the clean run

enum class Stage { StartupScan, StartupCapabilities, StartupRead, StartupCheck, DialogScan,
                   DialogCapabilities, Selection, StartCheck, WorkerUnchecked, WorkerPage,
                   Confirmation };

struct Command {
  PortEvent event;
  Stage stage = Stage::StartupScan;
  int occurrence = 0;  // of commands the drive tells apart by opcode and page
  std::string name;
};

std::string PageName(std::uint8_t function, std::uint8_t argument) {
  using namespace vendorpage;
  if (function == function::kIdentify) return "identify";
  if (function == function::kOpen) return argument == kOpenFirst ? "open 1" : "open 2";
  if (function == function::kData) {
    return argument == kClosing ? "close" : "data " + std::to_string(argument);
  }
  return "page ?";
}

std::string OpcodeName(const PortEvent& e) {
  if (e.capabilities) return "GET CAPABILITIES";
  switch (e.opcode) {
    case opcode::kInquiry: return "INQUIRY";
    case opcode::kRead10: return "READ(10)";
    case opcode::kReceiveDiagnosticResults: return "RECEIVE DIAG";
    case opcode::kSendDiagnostic: return "SEND DIAG " + PageName(e.function, e.argument);
    case opcode::kPreventAllowMediumRemoval: return "PREVENT/ALLOW";
    case opcode::kStartStopUnit: return "START/STOP";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "opcode %02X", e.opcode);
      return text;
    }
  }
}

const char* PhaseName(Phase phase) {
  switch (phase) {
    case Phase::StartUp: return "start-up";
    case Phase::Dialog: return "dialog";
    case Phase::UpdateStart: return "start check";
    case Phase::Worker: return "worker";
  }
  return "?";
}

int KindOf(const PortEvent& e) {
  if (e.opcode != opcode::kSendDiagnostic) return e.opcode;
  return (e.opcode << 16) | (e.function << 8) | e.argument;
}

std::vector<Command> Classify(const std::vector<PortEvent>& events) {
  std::vector<Command> commands;
  std::map<int, int> seen;
  std::map<Phase, int> inquiries;
  for (const PortEvent& e : events) {
    Command c;
    c.event = e;
    c.name = std::string(PhaseName(e.phase)) + " " + OpcodeName(e);
    if (e.capabilities) {
      c.stage = e.phase == Phase::StartUp ? Stage::StartupCapabilities : Stage::DialogCapabilities;
      commands.push_back(c);
      continue;
    }
    c.occurrence = ++seen[KindOf(e)];
    // The start-up and the dialog each scan first: their first INQUIRY is the scan's.
    const bool scan = (e.phase == Phase::StartUp || e.phase == Phase::Dialog) &&
                      e.opcode == opcode::kInquiry && ++inquiries[e.phase] == 1;
    switch (e.phase) {
      case Phase::StartUp:
        c.stage = scan ? Stage::StartupScan
                       : e.opcode == opcode::kRead10 ? Stage::StartupRead : Stage::StartupCheck;
        break;
      case Phase::Dialog:
        c.stage = scan ? Stage::DialogScan : Stage::Selection;
        break;
      case Phase::UpdateStart:
        c.stage = Stage::StartCheck;
        break;
      case Phase::Worker:
        // The worker sends no INQUIRY: one in this phase is the dialog's, asking the
        // drive for its revision once the worker has ended.
        c.stage = e.opcode == opcode::kSendDiagnostic ? Stage::WorkerPage
                  : e.opcode == opcode::kInquiry      ? Stage::Confirmation
                                                      : Stage::WorkerUnchecked;
        break;
    }
    if (scan) c.name += " (scan)";
    if (c.stage == Stage::Confirmation) c.name = "confirm " + OpcodeName(e);
    commands.push_back(c);
  }
  return commands;
}

// The drive's fault rule for one failure of one command: from this command of its
// kind on, every try fails.
std::string Rule(const Command& c, const Failure& f) {
  char text[96];
  if (c.event.opcode == opcode::kSendDiagnostic) {
    std::snprintf(text, sizeof text, "send:func=%02X:arg=%02X:from=%d", c.event.function,
                  c.event.argument, c.occurrence);
  } else {
    std::snprintf(text, sizeof text, "%02x:from=%d", c.event.opcode, c.occurrence);
  }
  std::string rule = text;
  switch (f.way) {
    case Way::Check:
      std::snprintf(text, sizeof text, ":sense=%02X/%02X/%02X", f.key, f.asc, f.ascq);
      return rule + text;
    case Way::UnitAttentionOnce: return rule + ":sense=06/29/00:times=1";
    case Way::NotReady: return rule + ":notready";
    case Way::EndlessUnitAttention: return rule + ":ua=forever";
    case Way::Hang: return rule + ":hang";
    default: return "";
  }
}

// ---------------------------------------------------------------------------
// Outcomes

enum class Settings { Restored, JournalledThenRestored, Lost };

struct Outcome {
  int exitCode = 0;
  StartupEnd end = StartupEnd::NotRun;
  int endCode = -1;             // -1: the main dialog was not shown
  std::string status;           // the status line when the outcome was reported
  std::string deviceMessage;    // expected: a prefix of the first message box
  Names boxes;                  // the message boxes after the device's message
  Names notices;                // message dialogs after the close-applications notice
  int beeps = 0;
  int workerExit = -1;          // -1: no worker was started
  bool timedOut = false;        // the dialog gave up while the worker still ran
  std::string revision;
  Settings settings = Settings::Restored;
};

Outcome Success() {
  Outcome o;
  o.end = StartupEnd::RestoredRestart;
  o.endCode = 1;  // the journal is not empty: the settings go back and the machine restarts
  o.status = kUpdateComplete;
  o.notices = {"Start", "End"};
  o.workerExit = 0;
  o.revision = "1009";
  return o;
}

Outcome NotFound() {
  Outcome o;
  o.end = StartupEnd::DriveNotFound;
  o.boxes = {kNotFound};
  o.revision = "1005";
  // The start ends before the update, so it puts back what the earlier start
  // changed and removes its keys and resume entry at once, without a restart.
  o.settings = Settings::Restored;
  return o;
}

Outcome NotSupported(int beeps) {
  Outcome o;
  o.end = StartupEnd::RestoredRestart;
  o.endCode = 1;  // CANCEL with a journal: the restart notice's OK
  o.status = kNotSupport;
  o.notices = {"Cancel"};
  o.beeps = beeps;
  o.revision = "1005";
  return o;
}

Outcome StartRefused(const std::string& deviceMessage) {
  Outcome o = NotSupported(0);
  o.status = kUpdateFailed;
  o.deviceMessage = deviceMessage;
  o.boxes = {kUpdateFailed};
  return o;
}

Outcome WorkerFailed(bool timedOut, int workerExit) {
  Outcome o;
  o.end = StartupEnd::RestoredRestart;
  o.endCode = 1;
  o.status = kUpdateFailed;
  // After a time-out the box warns that the drive may still be writing.
  o.boxes = {timedOut ? kUpdateFailed + "\r\n" + Text(TextId::TimedOutAdvice, Language::English)
                      : kUpdateFailed};
  o.notices = {"Start", "Cancel"};
  o.workerExit = workerExit;
  o.timedOut = timedOut;
  o.revision = workerExit == 0 ? "1009" : "1005";
  return o;
}

// Every page was accepted but the drive never said which revision it runs now: the
// update counts as failed, although the drive did take the image.
Outcome NotConfirmed() {
  Outcome o = WorkerFailed(false, 0);
  o.boxes = {FormatNumbered(Text(TextId::NoAnswerAfterUpdate, Language::English), "", "1009"),
             kUpdateFailed};
  return o;
}

// What the transport makes of a failure: whether the command fails at all after the
// device's own retries, and the message it leaves.
struct Effect {
  bool fails = true;
  std::string message;
  bool resetSense = false;  // ASC 29 still in the sense after the last try
  bool hang = false;
};

Effect EffectOf(const Failure& f) {
  Effect e;
  char text[64];
  switch (f.way) {
    case Way::Check:
    case Way::NotReady:
    case Way::EndlessUnitAttention:
      std::snprintf(text, sizeof text, " %02X-%02X (", f.asc, f.ascq);
      e.message = text;
      e.resetSense = f.way == Way::EndlessUnitAttention;
      return e;
    case Way::UnitAttentionOnce:
      e.fails = false;  // the device sends it again and the second try passes
      return e;
    case Way::Hang:
      e.hang = true;
      e.message = "Error opening . Error: 121\n";
      return e;
    case Way::OpenFails:
      e.message = "Get Handle Error: 2\n";
      return e;
    case Way::Refused:
    case Way::PortMaximum:
      e.message = "Error opening . Error: 87\n";
      return e;
  }
  return e;
}

// When the worker's failing page starts, from the worker's own fixed waits.
std::uint64_t PageStartMs(const PortEvent& e) {
  if (e.function == vendorpage::function::kOpen) {
    return e.argument == vendorpage::kOpenFirst ? 122000 : 125000;
  }
  return 125500;
}

Outcome Expected(const Command& c, const Failure& f) {
  const Effect e = EffectOf(f);
  if (!e.fails) return Success();
  switch (c.stage) {
    case Stage::StartupScan:
    case Stage::StartupCheck:
      return NotFound();  // the only drive is left out of the check
    case Stage::StartupCapabilities:
      // Without a maximum the entry's data commands are all refused; a refused
      // query leaves the default maximum, which carries a page.
      return f.way == Way::OpenFails ? NotFound() : Success();
    case Stage::StartupRead:
      // The READ's own result does not count; only a reset that never stops
      // reporting keeps the check reading, until it gives the drive up.
      return e.resetSense ? NotFound() : Success();
    case Stage::DialogScan:
      // An empty list leaves no drive to ask; the check ends as after a failed
      // INQUIRY, beep included.
      return NotSupported(1);
    case Stage::DialogCapabilities:
      return f.way == Way::OpenFails ? NotSupported(1) : Success();
    case Stage::Selection:
      return NotSupported(c.event.opcode == opcode::kInquiry ? 1 : 0);
    case Stage::StartCheck:
      return StartRefused(e.message);
    case Stage::WorkerUnchecked: {
      // The unlock's and the eject's results are ignored: the update goes on, later
      // by a port time-out when the command never completes.
      if (!e.hang) return Success();
      const bool timedOut = kPortTimeoutMs + 127500 > kWatchTimeoutMs;
      return timedOut ? WorkerFailed(true, 0) : Success();
    }
    case Stage::WorkerPage: {
      const std::uint64_t endMs = PageStartMs(c.event) + (e.hang ? kPortTimeoutMs : 0);
      return WorkerFailed(endMs > kWatchTimeoutMs, 1);
    }
    case Stage::Confirmation:
      // The drive is asked again after a pause: a failure at the port strikes one
      // request or one open only, while the drive's rules strike every later try.
      return f.way == Way::OpenFails || f.way == Way::Refused ? Success() : NotConfirmed();
  }
  return Outcome();
}

// ---------------------------------------------------------------------------
// Running one row

struct Observed {
  Outcome outcome;
  std::string firstBox;
  int writes = 0;
  int writesWhileWorkerRuns = 0;
  int restartsWhileWorkerRuns = 0;
  int restarts = 0;
  std::vector<PortEvent> events;
};

const char* SettingsName(Settings s) {
  switch (s) {
    case Settings::Restored: return "restored";
    case Settings::JournalledThenRestored: return "journalled; next start restores";
    case Settings::Lost: return "NOT RESTORED";
  }
  return "?";
}

using Arm = std::function<void(Machine&)>;

// The settings the journal changes and the utility's own traces, as a user's
// machine would show them: a text value up to its end, whatever filler follows.
// A first start on a machine whose settings already suit the update reads its
// profile on the way to the main dialog, which creates the profile key; an end code
// of 2 then leaves it: that start is compared without it.
std::string MachineState(Machine& m, bool withProfile = true) {
  std::string state;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  if (m.registry.GetValue(reg::kLocalMachine, kCdromKey, "Autorun", &type, &data) &&
      data.size() == 4) {
    state += "Autorun=" + std::to_string(data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24);
  }
  if (m.registry.GetValue(reg::kLocalMachine, kAtapiKey, "DriverParameter", &type, &data)) {
    state += " DriverParameter=\"";
    for (std::uint8_t b : data) {
      if (b == 0) break;
      state += static_cast<char>(b);
    }
    state += '"';
  }
  if (withProfile && m.registry.KeyExists(reg::kCurrentUser, "Software\\Velmora_ODD")) {
    state += " profile";
  }
  if (m.registry.GetValue(reg::kCurrentUser, kRunKey, "qxupdate", &type, &data)) state += " resume";
  return state;
}

enum class Start {
  Resumed,  // the start after the utility's own restart, with a journal
  First,    // a first start on a machine whose settings already suit the update
};

// Prepares the machine (first start, settings changed, restart), arms the fault,
// runs the resumed start through Update Start, and, when the settings are still
// changed after it, one more start whose CANCEL must restore them. With
// Start::First, the fault is armed for the first start itself instead.
Observed RunWhole(const Arm& arm, Start start = Start::Resumed) {
  Observed seen;
  Machine m;
  SimDrive& drive = m.AddDrive("1005");
  const bool withProfile = start == Start::Resumed;
  if (start == Start::Resumed) {
    m.SettingsInTheWay();
  } else {
    m.SettingsAlreadyRight();
    // The power-on attention would add a retry the resumed start never sees.
    std::uint8_t testUnitReady[6] = {};
    drive.Execute(testUnitReady, 6, nullptr, 0, DataDirection::Unspecified);
  }
  const std::string original = MachineState(m, withProfile);
  if (start == Start::Resumed) {
    m.Run();
    if (m.app->End() != StartupEnd::Prepared) {
      ADD_FAILURE() << "the first start did not prepare the machine";
      return seen;
    }
  }

  m.faultPort.Reset();
  m.writes = m.writesWhileWorkerRuns = m.restarts = m.restartsWhileWorkerRuns = 0;
  const std::size_t boxesBefore = m.system.messageBoxes.size();
  const std::size_t dialogsBefore = m.dialogs.Shown().size();
  const std::size_t beepsBefore = m.system.beeps.size();
  const WorkerTrace* workerBefore = m.threads.LastWorker();
  if (arm) arm(m);

  bool captured = false;
  std::string capturedStatus;
  bool workerAliveAtOutcome = false;
  m.mainView.Queue({
      MainStep::Call([&] { m.faultPort.SetPhase(Phase::UpdateStart); }),
      MainStep::Press(maindlg::kUpdateStartId),
      MainStep::RunUntilIdle(),
      MainStep::Call([&] {
        captured = true;
        capturedStatus = m.mainView.Shown().back().Status();
        workerAliveAtOutcome = !m.clock.AllEnded();
      }),
      MainStep::Press(maindlg::kCancelId),
  });
  const std::size_t mainBefore = m.mainView.Shown().size();

  Outcome& o = seen.outcome;
  o.exitCode = m.Run();
  o.end = m.app->End();
  if (m.mainView.Shown().size() > mainBefore) {
    o.endCode = m.app->mainEndCode;
    o.status = captured ? capturedStatus : m.mainView.Shown().back().Status();
  }
  for (std::size_t i = boxesBefore; i < m.system.messageBoxes.size(); ++i) {
    o.boxes.push_back(m.system.messageBoxes[i].text);
  }
  for (std::size_t i = dialogsBefore; i < m.dialogs.Shown().size(); ++i) {
    const std::string& name = m.dialogs.Shown()[i].name;
    if (name != "Warning" && name != "Terms") o.notices.push_back(name);
  }
  o.beeps = static_cast<int>(m.system.beeps.size() - beepsBefore);
  const WorkerTrace* worker = m.threads.LastWorker();
  if (worker != nullptr && worker != workerBefore) {
    o.workerExit = worker->ended ? static_cast<int>(worker->exitCode.load()) : 259;
  }
  o.timedOut = workerAliveAtOutcome;
  o.revision = m.Drive().Revision();
  seen.writes = m.writes;
  seen.writesWhileWorkerRuns = m.writesWhileWorkerRuns;
  seen.restartsWhileWorkerRuns = m.restartsWhileWorkerRuns;
  seen.restarts = m.restarts;
  seen.events = m.faultPort.Events();

  if (MachineState(m, withProfile) == original) {
    o.settings = Settings::Restored;
  } else {
    // The next start, with the drive answering again, must find the journal and
    // its resume entry and put everything back.
    m.Drive().Faults().Clear();
    m.faultPort.Reset();
    m.port.SetMaxTransfer('E', 0x10000);
    m.mainView.Queue({MainStep::Press(maindlg::kCancelId)});
    m.Run();
    o.settings = MachineState(m, withProfile) == original ? Settings::JournalledThenRestored
                                                          : Settings::Lost;
  }
  return seen;
}

std::string OneLine(const std::string& text, std::size_t width) {
  std::string out;
  for (char ch : text) out += (ch == '\r' || ch == '\n') ? ' ' : ch;
  if (out.size() > width) out = out.substr(0, width - 2) + "..";
  return out;
}

std::string Told(const Outcome& o) {
  std::string told;
  for (const std::string& box : o.boxes) told += (told.empty() ? "box \"" : " + box \"") + box + "\"";
  for (const std::string& notice : o.notices) {
    if (notice == "Start" || notice == "Cancel") continue;  // not about the outcome
    told += (told.empty() ? "" : " + ") + notice + " notice";
  }
  if (o.beeps) told += (told.empty() ? "" : " + ") + std::string("beep");
  return told.empty() ? "-" : told;
}

std::string WorkerText(const Outcome& o) {
  if (o.workerExit < 0) return "-";
  return std::to_string(o.workerExit) + (o.timedOut ? " (after time-out)" : "");
}

void PrintRow(std::ostream& out, const std::string& command, const std::string& failure,
              const Outcome& o) {
  char line[512];
  std::snprintf(line, sizeof line, "| %-30s | %-27s | %-3s | %-16s | %-44s | %-18s | %d | %s |",
                command.c_str(), failure.c_str(),
                o.endCode < 0 ? "-" : std::to_string(o.endCode).c_str(),
                o.status.empty() ? "-" : OneLine(o.status, 16).c_str(), OneLine(Told(o), 44).c_str(),
                WorkerText(o).c_str(), o.exitCode, SettingsName(o.settings));
  out << line << '\n';
}

void ExpectRow(const Outcome& want, const Observed& seen) {
  const Outcome& got = seen.outcome;
  // Whatever happened, the user hears of it: a message box, or the dialog's status line.
  EXPECT_TRUE(!got.boxes.empty() || !got.status.empty()) << "the user was told nothing";
  EXPECT_EQ(got.exitCode, want.exitCode);
  EXPECT_EQ(StartupEndName(got.end), std::string(StartupEndName(want.end)));
  EXPECT_EQ(got.endCode, want.endCode);
  EXPECT_EQ(got.status, want.status);
  Names boxes = got.boxes;
  if (!want.deviceMessage.empty()) {
    // The device's own message comes first, then the failure.
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.front().rfind(want.deviceMessage, 0), 0u)
        << "device message \"" << boxes.front() << "\" should begin \"" << want.deviceMessage
        << "\"";
    boxes.erase(boxes.begin());
  }
  EXPECT_EQ(boxes, want.boxes);
  EXPECT_EQ(got.notices, want.notices);
  EXPECT_EQ(got.beeps, want.beeps);
  EXPECT_EQ(got.workerExit, want.workerExit);
  EXPECT_EQ(got.timedOut, want.timedOut);
  EXPECT_EQ(got.revision, want.revision);
  EXPECT_EQ(SettingsName(got.settings), std::string(SettingsName(want.settings)));
  EXPECT_EQ(seen.writesWhileWorkerRuns, 0) << "registry written while the worker ran";
  EXPECT_EQ(seen.restartsWhileWorkerRuns, 0) << "restart requested while the worker ran";
  // The start that restores ends with exactly one restart request, after its writes.
  EXPECT_EQ(seen.restarts, want.end == StartupEnd::RestoredRestart ? 1 : 0);
  if (want.end == StartupEnd::RestoredRestart) {
    EXPECT_GT(seen.writes, 0);
  }
}

std::vector<Command> CleanCommands(Start start) {
  Observed clean = RunWhole(nullptr, start);
  return Classify(clean.events);
}

// Arms one failure of one command: at the port for the ways that belong to it,
// otherwise as a rule of the drive.
Arm ArmFor(const Command& c, const Failure& f) {
  return [c, f](Machine& m) {
    if (f.way == Way::OpenFails) {
      m.faultPort.FailOpen(c.event.openOrdinal, kErrorFileNotFound);
    } else if (f.way == Way::Refused && c.event.capabilities) {
      m.faultPort.RefuseCapabilities(c.event.requestOrdinal, kErrorInvalidParameter);
    } else if (f.way == Way::Refused) {
      m.faultPort.RefuseScsi(c.event.requestOrdinal, kErrorInvalidParameter);
    } else if (f.way == Way::PortMaximum) {
      m.port.SetMaxTransfer('E', 32768);
    } else {
      ASSERT_TRUE(m.Drive().Faults().Add(Rule(c, f))) << Rule(c, f);
    }
  };
}

// A first start whose settings needed no change has no journal: every way through
// the main dialog ends with 2, so nothing is restored and nothing restarts, and a
// start that ends early has changed nothing at all.
Outcome ForFirstStart(Outcome o) {
  if (o.end == StartupEnd::RestoredRestart) {
    o.end = StartupEnd::LeftAsIs;
    o.endCode = 2;
    Names notices;
    for (const std::string& n : o.notices) {
      if (n != "Cancel") notices.push_back(n);
    }
    o.notices = notices;
  }
  o.settings = Settings::Restored;
  return o;
}

const char* kTableHeader =
    "| command                        | failure                     | end | status line      "
    "| user told                                    | worker exit        | exit | settings |\n";

// Runs every command of the clean run against every failure `wanted` picks, checks
// each row and prints the table.
void RunMatrix(Start start, const std::function<bool(const Failure&)>& wanted) {
  const std::vector<Command> commands = CleanCommands(start);
  ASSERT_FALSE(commands.empty());
  std::vector<Failure> failures;
  for (const Failure& f : Failures()) {
    if (wanted(f)) failures.push_back(f);
  }
  // A port whose largest transfer is below one data page cannot carry the image:
  // the row sits with the first data page.
  failures.push_back({Way::PortMaximum, 0, 0, 0, "port maximum 32768 < page"});

  std::ostringstream table;
  table << kTableHeader;
  std::map<std::string, int> tally;
  int rows = 0;
  for (const Command& c : commands) {
    for (const Failure& f : failures) {
      const bool portWay = f.way == Way::OpenFails || f.way == Way::Refused;
      if (c.event.capabilities && !portWay) continue;  // not a SCSI command
      const bool firstDataPage = c.stage == Stage::WorkerPage &&
                                 c.event.function == vendorpage::function::kData &&
                                 c.event.argument == 1;
      if (f.way == Way::PortMaximum && !firstDataPage) continue;
      SCOPED_TRACE(c.name + " / " + f.name);
      Outcome want = f.way == Way::PortMaximum ? WorkerFailed(false, 1) : Expected(c, f);
      if (start == Start::First) want = ForFirstStart(want);
      const Observed seen = RunWhole(ArmFor(c, f), start);
      ExpectRow(want, seen);
      PrintRow(table, c.name, f.name, seen.outcome);
      ++tally[seen.outcome.status.empty() ? StartupEndName(seen.outcome.end)
                                          : seen.outcome.status];
      ++rows;
    }
  }

  std::cout << "\nFault matrix, " << (start == Start::Resumed ? "resumed start" : "first start")
            << ": " << rows << " rows\n"
            << table.str() << "outcomes:";
  for (const auto& [status, count] : tally) std::cout << " \"" << status << "\" " << count << ";";
  std::cout << '\n';
}

// ---------------------------------------------------------------------------

TEST(FaultMatrix, TheCleanUpdateSendsTheWholeSequenceAndRestoresTheMachine) {
  Observed clean = RunWhole(nullptr, Start::Resumed);
  ExpectRow(Success(), clean);
  Names sent;
  for (const Command& c : Classify(clean.events)) sent.push_back(c.name);
  EXPECT_EQ(sent, (Names{
                      "start-up INQUIRY (scan)",
                      "start-up GET CAPABILITIES",
                      "start-up READ(10)",
                      "start-up INQUIRY",
                      "start-up SEND DIAG identify",
                      "start-up RECEIVE DIAG",
                      "dialog INQUIRY (scan)",
                      "dialog GET CAPABILITIES",
                      "dialog INQUIRY",
                      "dialog SEND DIAG identify",
                      "dialog RECEIVE DIAG",
                      "start check INQUIRY",
                      "start check SEND DIAG identify",
                      "start check RECEIVE DIAG",
                      "worker PREVENT/ALLOW",
                      "worker START/STOP",
                      "worker SEND DIAG open 1",
                      "worker SEND DIAG open 2",
                      "worker SEND DIAG data 1",
                      "worker SEND DIAG data 2",
                      "worker SEND DIAG data 3",
                      "worker SEND DIAG data 4",
                      "worker SEND DIAG close",
                      "confirm INQUIRY",
                  }));
}

TEST(FaultMatrix, TheDriveKeepsFailingACommandFromItsChosenOccurrenceOn) {
  // The rule the matrix relies on: earlier commands of the kind pass, the chosen one
  // and every retry of it fail.
  SimDrive drive;
  ASSERT_TRUE(drive.Faults().Add("12:from=2:ua=forever"));
  std::uint8_t cdb[6] = {opcode::kInquiry, 0, 0, 0, 44, 0};
  std::uint8_t tur[6] = {};
  std::uint8_t data[44];
  drive.Execute(tur, 6, nullptr, 0, DataDirection::Unspecified);  // the power-on attention
  EXPECT_EQ(drive.Execute(cdb, 6, data, 44, DataDirection::In).status, 0);
  for (int attempt = 0; attempt < 3; ++attempt) {
    SimCommandResult r = drive.Execute(cdb, 6, data, 44, DataDirection::In);
    EXPECT_EQ(r.SenseKey(), sense::kUnitAttention);
    EXPECT_EQ(r.Asc(), sense::kPowerOnReset.asc);
  }
  std::vector<SimFaultRule> rules;
  std::string error;
  EXPECT_FALSE(ParseSimFaultRules("12:from=0:notready", &rules, &error));
}

TEST(FaultMatrix, EveryCommandAndEveryFailure) {
  RunMatrix(Start::Resumed, [](const Failure&) { return true; });
}

TEST(FaultMatrix, EveryCommandOfAFirstStartThatNeedsNoPreparation) {
  // The end code's other branch, over one failure of each sort.
  RunMatrix(Start::First, [](const Failure& f) {
    return f.way != Way::Check || f.key == 0x4;
  });
}

}  // namespace
}  // namespace qx
