#pragma once
// A simulated NT machine for the fault matrix: the whole restart cycle of the
// utility over one simulated drive, with a port in front of the simulated one that
// numbers every open and every request (so one chosen command can be made to fail
// at the port) and records which part of the run sent each; a watch on the worker
// thread; and a record of every registry write and restart request, with whether a
// worker was running at that moment.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Forwarding.h"
#include "sim/SimMachine.h"

namespace qx {
namespace faultmatrix {

// The part of the run a command belongs to. The worker phase begins when the
// caution notice before the worker closes.
enum class Phase { StartUp, Dialog, UpdateStart, Worker };

// One thing the program asked of the port: a SCSI request or a capability query.
struct PortEvent {
  bool capabilities = false;
  Phase phase = Phase::StartUp;
  int openOrdinal = 0;     // the Open (from 1) whose handle carried it
  int requestOrdinal = 0;  // the request (from 1) of its sort: SCSI or capability
  std::uint8_t opcode = 0;
  std::uint8_t function = 0;  // SEND DIAGNOSTIC page bytes 5 and 6
  std::uint8_t argument = 0;
  bool refused = false;  // refused here, by a fault switch
};

// Forwards to the simulated port and adds the switches it lacks: the n-th open
// fails, or the n-th request (SCSI or capability) is refused by the "driver".
class FaultPort : public ForwardingPassThroughPort {
 public:
  using ForwardingPassThroughPort::ForwardingPassThroughPort;

  void Reset() {
    opens = scsiRequests = capabilityRequests = 0;
    failOpenAt = refuseScsiAt = refuseCapabilitiesAt = 0;
    events.clear();
  }
  void FailOpen(int ordinal, std::uint32_t error) {
    failOpenAt = ordinal;
    openError = error;
  }
  void RefuseScsi(int ordinal, std::uint32_t error) {
    refuseScsiAt = ordinal;
    refuseError = error;
  }
  void RefuseCapabilities(int ordinal, std::uint32_t error) {
    refuseCapabilitiesAt = ordinal;
    refuseError = error;
  }
  void SetPhase(Phase p) { phase = static_cast<int>(p); }
  const std::vector<PortEvent>& Events() const { return events; }

  std::uint32_t GetDriveType(const char* rootName) override {
    ownError = false;
    return inner.GetDriveType(rootName);
  }
  PortHandle Open(const char* path) override {
    ownError = false;
    ++opens;
    if (opens == failOpenAt) {
      Fail(openError);
      return kInvalidPortHandle;
    }
    const PortHandle handle = inner.Open(path);
    if (handle != kInvalidPortHandle) openOf[handle] = opens;
    return handle;
  }
  bool SendPassThrough(PortHandle handle, PassThroughRequest* block,
                       std::uint32_t* bytesReturned) override {
    ownError = false;
    PortEvent event = NewEvent(handle);
    event.requestOrdinal = ++scsiRequests;
    const ScsiPassThroughDirect& spt = block->spt;
    event.opcode = spt.Cdb[0];
    if (event.opcode == 0x1D && spt.DataTransferLength >= 8 && spt.DataBuffer != nullptr) {
      const auto* page = static_cast<const std::uint8_t*>(spt.DataBuffer);
      event.function = page[5];
      event.argument = page[6];
    }
    event.refused = event.requestOrdinal == refuseScsiAt;
    events.push_back(event);
    if (event.refused) {
      Fail(refuseError);
      return false;
    }
    return inner.SendPassThrough(handle, block, bytesReturned);
  }
  bool GetCapabilities(PortHandle handle, IoScsiCapabilities* capabilities,
                       std::uint32_t* bytesReturned) override {
    ownError = false;
    PortEvent event = NewEvent(handle);
    event.capabilities = true;
    event.requestOrdinal = ++capabilityRequests;
    event.refused = event.requestOrdinal == refuseCapabilitiesAt;
    events.push_back(event);
    if (event.refused) {
      Fail(refuseError);
      return false;
    }
    return inner.GetCapabilities(handle, capabilities, bytesReturned);
  }
  void Close(PortHandle handle) override {
    ownError = false;
    openOf.erase(handle);
    inner.Close(handle);
  }
  // The error of a refusal made here, until the next call reaches the inner port.
  std::uint32_t GetLastError() override { return ownError ? lastError : inner.GetLastError(); }
  bool FormatMessage(std::uint32_t error, std::uint32_t size, std::string* text) override {
    ownError = false;
    return inner.FormatMessage(error, size, text);
  }

 private:
  void Fail(std::uint32_t error) {
    ownError = true;
    lastError = error;
  }
  PortEvent NewEvent(PortHandle handle) {
    PortEvent event;
    event.phase = static_cast<Phase>(phase.load());
    auto it = openOf.find(handle);
    event.openOrdinal = it == openOf.end() ? 0 : it->second;
    return event;
  }

  std::atomic<int> phase{0};
  int opens = 0;
  int scsiRequests = 0;
  int capabilityRequests = 0;
  int failOpenAt = 0;
  int refuseScsiAt = 0;
  int refuseCapabilitiesAt = 0;
  std::uint32_t openError = 0;
  std::uint32_t refuseError = 0;
  bool ownError = false;
  std::uint32_t lastError = 0;
  std::map<PortHandle, int> openOf;
  std::vector<PortEvent> events;
};

// The worker's own exit code and its start and end on the virtual clock, taken
// around the thread procedure itself.
struct WorkerTrace {
  ThreadProc procedure = nullptr;
  void* argument = nullptr;
  VirtualThreads* clock = nullptr;
  std::atomic<bool> ended{false};
  std::atomic<std::uint32_t> exitCode{thread::kStillActive};
  std::atomic<std::uint64_t> startMs{0};
  std::atomic<std::uint64_t> endMs{0};

  static std::uint32_t Run(void* argument) {
    auto* trace = static_cast<WorkerTrace*>(argument);
    trace->startMs = trace->clock->NowMs();
    const std::uint32_t code = trace->procedure(trace->argument);
    trace->endMs = trace->clock->NowMs();
    trace->exitCode = code;
    trace->ended = true;
    return code;
  }
};

class TracingThreads : public ForwardingThreads {
 public:
  explicit TracingThreads(VirtualThreads& inner) : ForwardingThreads(inner), clock(inner) {}

  const WorkerTrace* LastWorker() const {
    return traces.empty() ? nullptr : traces.back().get();
  }

  ThreadRef CreateSuspended(ThreadProc procedure, void* argument) override {
    traces.push_back(std::make_unique<WorkerTrace>());
    WorkerTrace& trace = *traces.back();
    trace.procedure = procedure;
    trace.argument = argument;
    trace.clock = &clock;
    return inner.CreateSuspended(&WorkerTrace::Run, &trace);
  }

 private:
  VirtualThreads& clock;
  std::vector<std::unique_ptr<WorkerTrace>> traces;
};

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\run";
constexpr char kCdromKey[] = "SYSTEM\\CurrentControlSet\\Services\\Cdrom";
constexpr char kAtapiKey[] = "SYSTEM\\CurrentControlSet\\Services\\atapi\\Parameters\\Device0";

// The simulated machine with the fault port and the worker's watch in front of its
// own seams; it keeps no update log.
struct Machine : SimMachine {
  Machine() {
    platform.passThroughPort = &faultPort;
    platform.threads = &threads;
    platform.logFile = nullptr;
    Device();
    registry.PutKey(reg::kCurrentUser, kRunKey);
    dialogs.SetLog([this](const std::string& line) {
      if (line.rfind("DIALOG Warning", 0) == 0) faultPort.SetPhase(Phase::Dialog);
      if (line.rfind("DIALOG Start", 0) == 0) faultPort.SetPhase(Phase::Worker);
    });
    registry.SetWriteObserver([this](const RegistryWrite&) {
      ++writes;
      if (!clock.AllEnded()) ++writesWhileWorkerRuns;
    });
    system.listener = [this](const std::string& line) {
      if (line.rfind("RESTART ", 0) != 0) return;
      ++restarts;
      if (!clock.AllEnded()) ++restartsWhileWorkerRuns;
    };
  }
  // The wrappers below are gone before the machine is: no worker may outlive them.
  ~Machine() { RunClockOut(); }

  SimDrive& AddDrive(const std::string& revision) {
    SimDriveConfig config;
    config.revision = revision;
    return SimMachine::AddDrive('E', config);
  }
  SimDrive& Drive() { return *port.Drive('E'); }

  // Settings the change journal must change before the update, so the update
  // runs in the start after the utility's own restart.
  void SettingsInTheWay() {
    registry.PutDword(reg::kLocalMachine, kCdromKey, "Autorun", 1);
    registry.PutString(reg::kLocalMachine, kAtapiKey, "DriverParameter",
                       "DmaDetectionLevel = 0x1;");
  }

  void SettingsAlreadyRight() {
    registry.PutDword(reg::kLocalMachine, kCdromKey, "Autorun", 0);
    registry.PutString(reg::kLocalMachine, kAtapiKey, "DriverParameter",
                       "DmaDetectionLevel = 0x0;");
  }

  // One start of the program and its exit routine, as the framework runs them;
  // then the process ends. Returns the exit routine's result, the exit code.
  int Run() {
    faultPort.SetPhase(Phase::StartUp);
    app = std::make_unique<UpdateApp>(platform, *device, Views(), "qxupdate");
    app->InitInstance();
    const int exitCode = app->ExitInstance();
    if (app->instanceMutex != 0) system.CloseHandle(app->instanceMutex);
    // Nothing may still be talking to the drive once the process is gone.
    RunClockOut();
    return exitCode;
  }

  FaultPort faultPort{port};
  TracingThreads threads{clock};
  std::unique_ptr<UpdateApp> app;

  int writes = 0;
  int writesWhileWorkerRuns = 0;
  int restarts = 0;
  int restartsWhileWorkerRuns = 0;
};

}  // namespace faultmatrix
}  // namespace qx
