#pragma once
// A simulated ASPI manager: host adapters with simulated drives at (adapter, target),
// events, locked global memory and a clock it controls, so that time-outs of an hour
// pass in no real time.
//
// A command request completes in one of three ways: at once (SendCommand returns the
// final status), after a latency plus the drive's own delay on the virtual clock
// (SendCommand returns SS_PENDING and the event is set on completion), or never. The
// manager checks what a real one would silently trip over: a completion that would
// write into memory already unlocked or freed, an event already closed, a data
// pointer outside the request's memory.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/AspiManager.h"
#include "sim/SimAspiExchange.h"

namespace qx {

class SimDrive;

struct SimAdapter {
  std::uint8_t scsiId = 7;             // the adapter's own id on its bus
  std::uint8_t inquiryStatus = 0x01;   // SRB_Status its host adapter inquiry ends with
  bool inquiryNeverCompletes = false;  // the inquiry stays SS_PENDING
  std::uint32_t inquiryDelayMs = 0;    // the inquiry completes this long after it was sent
  // Nonzero: SendASPI32Command refuses the inquiry with this status in its return
  // value alone, leaving SRB_Status at 0, as some managers do.
  std::uint8_t inquiryRefusal = 0;
};

// One request block as the manager received it.
struct SimAspiRecord {
  std::uint8_t command = 0;  // SRB_Cmd
  std::uint8_t adapter = 0;
  std::uint8_t target = 0;
  std::uint8_t lun = 0;
  std::uint8_t flags = 0;
  std::uint8_t senseLength = 0;
  std::uint8_t cdbLength = 0;
  std::vector<std::uint8_t> cdb;
  std::uint32_t bufferLength = 0;
  bool bufferAligned = false;    // SRB_BufPointer on a 16-byte boundary
  bool blockInLockedMemory = false;
  bool eventSet = false;         // SRB_PostProc names a live event
  std::uint32_t returned = 0;    // what SendCommand returned
};

class SimAspiManager : public AspiManager {
 public:
  enum class Completion { Immediate, Pending, Never };

  SimAspiManager();
  ~SimAspiManager() override;

  // --- the simulated world ---
  // Which parts of the library Load finds.
  bool libraryPresent = true;
  bool supportInfoPresent = true;
  bool sendCommandPresent = true;
  // Bits 15-8 of GetASPI32SupportInfo; bits 7-0 are the adapter count.
  std::uint8_t supportStatus = 0x01;
  // The adapter count it reports; -1 reports the adapters configured.
  int reportedAdapterCount = -1;
  std::vector<SimAdapter> adapters;
  // How command requests complete, and after how long when pending.
  Completion completion = Completion::Pending;
  std::uint32_t latencyMs = 2;
  // Whether SC_ABORT_SRB withdraws a pending request (it then ends with 0x02).
  bool abortHonoured = true;
  // The next CreateEvent / GlobalAlloc calls fail this many times.
  int failEvents = 0;
  int failAllocations = 0;

  // Places a drive (not owned) at (adapter, target).
  void Attach(std::uint8_t adapter, std::uint8_t target, SimDrive* drive);
  // The next command request is refused at once with this SRB_Status.
  void RefuseNext(std::uint8_t srbStatus) { refusals.push_back(srbStatus); }
  // Called once, at the next WaitForSingleObject, before it waits: to send another
  // request while one is out.
  void OnNextWait(std::function<void()> hook) { nextWaitHook = std::move(hook); }
  // Ends every request that would never complete, as a late 0x02 (aborted).
  void ReleaseStuck();
  // Moves the clock on, completing what falls due.
  void Advance(std::uint32_t milliseconds);

  // --- what happened ---
  std::int64_t NowMs() const { return nowMs; }
  const std::vector<SimAspiRecord>& Log() const { return log; }
  void ClearLog() { log.clear(); }
  int loads = 0;
  int unloads = 0;
  int supportQueries = 0;
  int waits = 0;
  int zeroTimeoutWaits = 0;
  std::uint32_t longestWaitMs = 0;
  int pumpPasses = 0;
  int aborts = 0;
  // Completions that found their block unlocked or freed, or their event closed.
  int writesToReleasedMemory = 0;
  int signalsToClosedEvents = 0;
  int badDataPointers = 0;
  std::size_t PendingRequests() const { return pending.size(); }
  std::size_t LiveAllocations() const;
  std::size_t OpenEvents() const;

  // --- AspiManager ---
  AspiLoadResult Load() override;
  void Unload() override;
  std::uint32_t GetSupportInfo() override;
  std::uint32_t SendCommand(void* srb) override;
  SysHandle CreateEvent() override;
  std::uint32_t WaitForSingleObject(SysHandle event, std::uint32_t milliseconds) override;
  bool ResetEvent(SysHandle event) override;
  bool CloseHandle(SysHandle event) override;
  SysHandle GlobalAlloc(std::uint32_t flags, std::uint32_t bytes) override;
  void* GlobalLock(SysHandle memory) override;
  bool GlobalUnlock(SysHandle memory) override;
  SysHandle GlobalFree(SysHandle memory) override;
  bool PumpMessage() override;
  std::int64_t Time() override;

 private:
  struct Allocation {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::uint32_t size = 0;
    int locks = 0;
    bool freed = false;
  };
  struct Event {
    bool signalled = false;
    bool closed = false;
  };
  // A request the manager still holds, with the answer it will write.
  struct Pending {
    void* block = nullptr;
    bool inquiry = false;
    bool never = false;
    std::int64_t dueMs = 0;
    SysHandle event = 0;
    std::uint8_t status = 0;
    std::uint8_t hostAdapterStatus = 0;
    std::uint8_t targetStatus = 0;
    std::vector<std::uint8_t> sense;
    std::vector<std::uint8_t> data;
  };

  std::uint32_t HostAdapterInquiry(void* block);
  std::uint32_t Execute(void* block);
  std::uint32_t Abort(void* block);
  // The live, locked allocation holding [address, address + size), or null.
  const Allocation* LockedAllocationHolding(const void* address, std::size_t size) const;
  bool InReleasedMemory(const void* address, std::size_t size) const;
  void Finish(Pending& request);
  void Signal(SysHandle event);
  void CompleteDue();

  std::int64_t nowMs = 0;
  SysHandle nextHandle = 0x100;
  std::map<SysHandle, Allocation> allocations;
  std::map<SysHandle, Event> events;
  std::map<std::uint32_t, SimDrive*> drives;  // adapter * 256 + target
  std::vector<Pending> pending;
  std::vector<std::uint8_t> refusals;
  std::function<void()> nextWaitHook;
  std::vector<SimAspiRecord> log;
};

}  // namespace qx
