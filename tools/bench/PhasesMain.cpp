// qxphases: one whole update on a simulated machine, on the virtual clock, the way
// the main dialog runs it: the scan, the two version checks, then the worker
// (unscramble and verify, the pages) watched by its monitor's timer. Each phase
// ends with a callgrind dump named after it, and every command the simulated drive
// carries out gets a dump of its own, so that
//
//   valgrind --tool=callgrind qxphases
//
// splits the instructions into what the program did in each phase and what the
// simulated drive did for it. The worker's two minutes of fixed waits pass on the
// virtual clock: they cost no instructions beyond the clock's own bookkeeping.
// Run natively, the dumps are no-ops and the program prints what each phase did.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(__has_include)
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define QX_HAVE_CALLGRIND 1
#endif
#endif
#ifndef QX_HAVE_CALLGRIND
#define CALLGRIND_DUMP_STATS_AT(name) ((void)(name))
#endif

#include "platform/Forwarding.h"
#include "sim/SimMachine.h"
#include "update/DownloadWorker.h"
#include "update/ImageTable.h"
#include "update/VersionCheck.h"

namespace qx {
namespace {

enum class Phase { Setup, Scan, Check, UnscrambleVerify, Pages, Count };

const char* const kPhaseNames[] = {"setup", "scan", "check", "unscramble+verify", "pages"};
// The dump names: what the program did in a phase, and what the simulated drive did.
const char* const kProgramDumps[] = {"program:setup", "program:scan", "program:check",
                                     "program:unscramble+verify", "program:pages"};
const char* const kDriveDumps[] = {"drive:setup", "drive:scan", "drive:check",
                                   "drive:unscramble+verify", "drive:pages"};

constexpr int kPhaseCount = static_cast<int>(Phase::Count);

// Where the run is, what each phase sent to the drive and how much virtual time it took.
class PhaseMarks {
 public:
  explicit PhaseMarks(VirtualThreads& clock) : clock(clock) {}

  Phase Current() const { return current; }

  // Closes the current phase (its cost goes into its dump) and opens `next`.
  void Switch(Phase next) {
    CALLGRIND_DUMP_STATS_AT(kProgramDumps[Index(current)]);
    std::uint64_t now = clock.NowMs();
    virtualMs[Index(current)] += now - openedAtMs;
    openedAtMs = now;
    current = next;
  }

  // Around one command carried out by the simulated drive.
  void BeforeDrive() { CALLGRIND_DUMP_STATS_AT(kProgramDumps[Index(current)]); }
  void AfterDrive() {
    CALLGRIND_DUMP_STATS_AT(kDriveDumps[Index(current)]);
    ++commands[Index(current)];
  }

  int Commands(Phase phase) const { return commands[Index(phase)]; }
  std::uint64_t VirtualMs(Phase phase) const { return virtualMs[Index(phase)]; }

 private:
  static int Index(Phase phase) { return static_cast<int>(phase); }

  VirtualThreads& clock;
  Phase current = Phase::Setup;
  std::uint64_t openedAtMs = 0;
  int commands[kPhaseCount] = {};
  std::uint64_t virtualMs[kPhaseCount] = {};
};

// The simulated port, with the drive's share of each command kept apart. The
// worker's first command also ends its unscramble-and-verify phase: everything it
// did before it spoke to the drive was that.
class MarkingPort : public ForwardingPassThroughPort {
 public:
  MarkingPort(SimPassThroughPort& inner, PhaseMarks& marks)
      : ForwardingPassThroughPort(inner), marks(marks) {}

  bool SendPassThrough(PortHandle handle, PassThroughRequest* block,
                       std::uint32_t* bytesReturned) override {
    if (marks.Current() == Phase::UnscrambleVerify) marks.Switch(Phase::Pages);
    marks.BeforeDrive();
    bool accepted = inner.SendPassThrough(handle, block, bytesReturned);
    marks.AfterDrive();
    return accepted;
  }

 private:
  PhaseMarks& marks;
};

// The virtual clock, with the worker's first instruction marked: what the monitor's
// start cost until then is part of the pages phase, the worker's own start is not.
class MarkingThreads : public ForwardingThreads {
 public:
  MarkingThreads(VirtualThreads& inner, PhaseMarks& marks) : ForwardingThreads(inner), marks(marks) {}

  ThreadRef CreateSuspended(ThreadProc procedure, void* argument) override {
    workerProcedure = procedure;
    workerArgument = argument;
    return inner.CreateSuspended(&MarkingThreads::WorkerEntry, this);
  }

 private:
  static std::uint32_t WorkerEntry(void* self) {
    auto* threads = static_cast<MarkingThreads*>(self);
    threads->marks.Switch(Phase::UnscrambleVerify);
    return threads->workerProcedure(threads->workerArgument);
  }

  PhaseMarks& marks;
  ThreadProc workerProcedure = nullptr;
  void* workerArgument = nullptr;
};

// The monitor's window: its timer on the message loop of the virtual clock.
class MonitorView : public DownloadMonitorView {
 public:
  explicit MonitorView(HostMessageLoop& loop) : loop(loop) {}
  void BeginWaitCursor() override {}
  bool SetTimer(std::uint32_t timerId, std::uint32_t periodMs) override {
    return loop.SetTimer(timerId, periodMs);
  }
  void KillTimer(std::uint32_t timerId) override { loop.KillTimer(timerId); }
  void SetProgress(int position) override { progress = position; }
  void Refresh() override {}

  int progress = 0;

 private:
  HostMessageLoop& loop;
};

int Fail(const std::string& why) {
  std::fprintf(stderr, "qxphases: %s\n", why.c_str());
  return 1;
}

int Run(const std::vector<std::string>& faults) {
  // A machine with a hard disc, a CD drive of another model and the target drive,
  // which runs a revision the first image replaces.
  SimMachine machine;
  VirtualThreads& clock = machine.clock;
  machine.port.AddOtherDrive('C', 3);
  SimDriveConfig other;
  other.vendor = "OTHERCO ";
  other.product = "CD-ROM XR-20    ";
  other.revision = "2.01";
  machine.AddDrive('D', other);
  SimDriveConfig target;
  target.revision = "1005";
  SimDrive& drive = machine.AddDrive('E', target);
  std::string error;
  for (const std::string& fault : faults) {
    if (!drive.Faults().Add(fault, &error)) return Fail("--fault " + fault + ": " + error);
  }
  const std::string before = drive.Revision();

  PhaseMarks marks(clock);
  MarkingThreads threads(clock, marks);
  MarkingPort port(machine.port, marks);
  machine.platform.passThroughPort = &port;
  machine.platform.threads = &threads;
  ScsiDevice& device = machine.Device();
  device.SetUsePassThrough(true);

  marks.Switch(Phase::Scan);
  int count = device.ScanDrives();

  marks.Switch(Phase::Check);
  // Drive 0 selected, as the dialog's list has it.
  VersionCheck check(device, Language::English);
  const SelectionInquiry inquiry = check.InquireSelection(0);
  const SelectionDecision selection = check.DecideSelection();
  const StartCheckResult start = check.StartCheck(0);

  // The monitor's start and its timer events until the outcome are the pages phase;
  // the worker marks its own unscramble and verify from the inside.
  marks.Switch(Phase::Pages);
  MonitorOutcome outcome = MonitorOutcome::NotOurs;
  DownloadRequest request;
  bool started = false;
  if (count >= 1 && selection.updateStart && start.verdict == StartVerdict::Pass) {
    HostMessageLoop loop(clock);
    MonitorView monitorView(loop);
    DownloadMonitor monitor(threads, monitorView);
    loop.SetTimerHandler([&](std::uint32_t timerId) {
      MonitorOutcome step = monitor.Step(timerId);
      if (step != MonitorOutcome::Running && step != MonitorOutcome::NotOurs) outcome = step;
    });
    request.driveIndex = 0;
    request.device = &device;
    request.threads = &threads;
    started = monitor.Start(&request);
    if (started) {
      loop.RunUntil([&] { return outcome != MonitorOutcome::NotOurs; }, 3600000);
    }
  }
  marks.Switch(Phase::Setup);  // the rest is taking the machine down
  // A worker the monitor gave up on still holds the device: let it finish first.
  machine.RunClockOut();

  std::printf("%-18s %8s %12s\n", "phase", "commands", "virtual ms");
  for (Phase phase : {Phase::Scan, Phase::Check, Phase::UnscrambleVerify, Phase::Pages}) {
    std::printf("%-18s %8d %12llu\n", kPhaseNames[static_cast<int>(phase)], marks.Commands(phase),
                static_cast<unsigned long long>(marks.VirtualMs(phase)));
  }
  std::printf("drives found: %d\n", count);
  std::printf("drive revision: %s -> %s\n", before.c_str(), drive.Revision().c_str());

  if (count != 1) return Fail("the scan found " + std::to_string(count) + " drives, not 1");
  if (!selection.updateStart) {
    return Fail("the selection check offered no update: " +
                selection.status.value_or(inquiry.status));
  }
  if (start.verdict != StartVerdict::Pass) return Fail("the start check refused: " + start.message);
  if (!started) return Fail("the worker did not start");
  if (outcome != MonitorOutcome::Succeeded) return Fail("the update did not succeed");
  const FirmwareImage& image = BuiltInImages().Image(selectedImageIndex);
  if (drive.Revision() != image.versionText) {
    return Fail("the drive runs " + drive.Revision() + ", not " + image.versionText);
  }
  return 0;
}

}  // namespace
}  // namespace qx

int main(int argc, char** argv) {
  std::vector<std::string> faults;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--fault") == 0 && i + 1 < argc) {
      faults.push_back(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: qxphases [--fault RULE]...\n");
      return 2;
    }
  }
  return qx::Run(faults);
}
