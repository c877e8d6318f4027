#include "sim/SimAspiManager.h"

#include <algorithm>
#include <cstring>

#include "device/AspiRequest.h"
#include "device/CommandStatus.h"
#include "sim/SimDrive.h"

namespace qx {

namespace {

constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
constexpr std::uint32_t kZeroInit = 0x40;
// Memory handed out without GMEM_ZEROINIT is filled with this, so that a request
// relying on zeroed memory it did not ask for shows.
constexpr std::uint8_t kGarbage = 0xCD;


void PutText(std::uint8_t* field, const char* text) {
  std::memset(field, ' ', 16);
  std::memcpy(field, text, std::min<std::size_t>(std::strlen(text), 16));
}

std::uint32_t DriveKey(std::uint8_t adapter, std::uint8_t target) {
  return static_cast<std::uint32_t>(adapter) * 256u + target;
}

}  // namespace

SimAspiManager::SimAspiManager() : adapters(1) {}
SimAspiManager::~SimAspiManager() = default;

void SimAspiManager::Attach(std::uint8_t adapter, std::uint8_t target, SimDrive* drive) {
  drives[DriveKey(adapter, target)] = drive;
}

AspiLoadResult SimAspiManager::Load() {
  ++loads;
  AspiLoadResult result;
  result.library = libraryPresent;
  result.supportInfo = libraryPresent && supportInfoPresent;
  result.sendCommand = libraryPresent && sendCommandPresent;
  return result;
}

void SimAspiManager::Unload() { ++unloads; }

std::uint32_t SimAspiManager::GetSupportInfo() {
  ++supportQueries;
  const int count = reportedAdapterCount < 0 ? static_cast<int>(adapters.size()) : reportedAdapterCount;
  return (static_cast<std::uint32_t>(supportStatus) << 8) | (static_cast<std::uint32_t>(count) & 0xFF);
}

std::uint32_t SimAspiManager::SendCommand(void* srb) {
  switch (*static_cast<std::uint8_t*>(srb)) {
    case aspi::kHostAdapterInquiry:
      return HostAdapterInquiry(srb);
    case aspi::kExecScsiCmd:
      return Execute(srb);
    case aspi::kAbortSrb:
      return Abort(srb);
    default:
      static_cast<std::uint8_t*>(srb)[1] = status::kInvalidSrb;
      return status::kInvalidSrb;
  }
}

std::uint32_t SimAspiManager::HostAdapterInquiry(void* block) {
  SrbHaInquiry& inquiry = *static_cast<SrbHaInquiry*>(block);
  SimAspiRecord record;
  record.command = inquiry.SRB_Cmd;
  record.adapter = inquiry.SRB_HaId;
  if (inquiry.SRB_HaId >= adapters.size()) {
    inquiry.SRB_Status = status::kInvalidHostAdapter;
  } else {
    const SimAdapter& adapter = adapters[inquiry.SRB_HaId];
    if (adapter.inquiryRefusal != 0) {
      record.returned = adapter.inquiryRefusal;
      log.push_back(record);
      return adapter.inquiryRefusal;
    }
    if (adapter.inquiryNeverCompletes) {
      Pending stuck;
      stuck.block = block;
      stuck.inquiry = true;
      stuck.never = true;
      pending.push_back(stuck);
      inquiry.SRB_Status = aspi::kStatusPending;
    } else {
      const int count =
          reportedAdapterCount < 0 ? static_cast<int>(adapters.size()) : reportedAdapterCount;
      inquiry.HA_Count = static_cast<std::uint8_t>(count);
      inquiry.HA_SCSI_ID = adapter.scsiId;
      PutText(inquiry.HA_ManagerId, "SIMULATED ASPI");
      PutText(inquiry.HA_Identifier, "SIMULATED HBA");
      std::memset(inquiry.HA_Unique, 0, sizeof inquiry.HA_Unique);
      inquiry.HA_Unique[4] = 0x00;  // maximum transfer length, 64 KiB, little-endian
      inquiry.HA_Unique[5] = 0x00;
      inquiry.HA_Unique[6] = 0x01;
      inquiry.HA_Unique[7] = 0x00;
      if (adapter.inquiryDelayMs == 0) {
        inquiry.SRB_Status = adapter.inquiryStatus;
      } else {
        // The status goes last, when the answer falls due.
        Pending slow;
        slow.block = block;
        slow.inquiry = true;
        slow.dueMs = nowMs + adapter.inquiryDelayMs;
        slow.status = adapter.inquiryStatus;
        pending.push_back(slow);
        inquiry.SRB_Status = aspi::kStatusPending;
      }
    }
  }
  record.returned = inquiry.SRB_Status;
  log.push_back(record);
  return inquiry.SRB_Status;
}

std::uint32_t SimAspiManager::Execute(void* block) {
  SrbExecScsiCmd& srb = *static_cast<SrbExecScsiCmd*>(block);
  SimAspiRecord record;
  record.command = srb.SRB_Cmd;
  record.adapter = srb.SRB_HaId;
  record.target = srb.SRB_Target;
  record.lun = srb.SRB_Lun;
  record.flags = srb.SRB_Flags;
  record.senseLength = srb.SRB_SenseLen;
  record.cdbLength = srb.SRB_CDBLen;
  record.cdb.assign(srb.CDBByte, srb.CDBByte + std::min<std::size_t>(srb.SRB_CDBLen, 16));
  record.bufferLength = srb.SRB_BufLen;
  record.bufferAligned = reinterpret_cast<std::uintptr_t>(srb.SRB_BufPointer) % 16 == 0;
  record.blockInLockedMemory = LockedAllocationHolding(&srb, sizeof srb) != nullptr;
  const auto event = events.find(srb.SRB_PostProc);
  record.eventSet = event != events.end() && !event->second.closed;

  auto refuse = [&](std::uint8_t status) {
    srb.SRB_Status = status;
    record.returned = status;
    log.push_back(record);
    return static_cast<std::uint32_t>(status);
  };
  if (!refusals.empty()) {
    const std::uint8_t status = refusals.front();
    refusals.erase(refusals.begin());
    return refuse(status);
  }
  if (srb.SRB_HaId >= adapters.size()) return refuse(status::kInvalidHostAdapter);
  if (srb.SRB_CDBLen == 0 || srb.SRB_CDBLen > 16) return refuse(status::kInvalidSrb);
  if (srb.SRB_BufLen > 0 && LockedAllocationHolding(srb.SRB_BufPointer, srb.SRB_BufLen) == nullptr) {
    ++badDataPointers;
    return refuse(status::kInvalidSrb);
  }

  Pending request;
  request.block = block;
  request.event = (srb.SRB_Flags & aspi::kFlagEventNotify) ? srb.SRB_PostProc : 0;
  request.data.assign(srb.SRB_BufPointer, srb.SRB_BufPointer + srb.SRB_BufLen);
  std::uint32_t delayMs = 0;

  const auto found = drives.find(DriveKey(srb.SRB_HaId, srb.SRB_Target));
  const bool ownId = srb.SRB_Target == adapters[srb.SRB_HaId].scsiId;
  SimDrive* drive = found == drives.end() || ownId ? nullptr : found->second;
  SimAspiExchange exchange = ExchangeAspiCommand(srb, drive, request.data.data());
  if (exchange.invalid) return refuse(exchange.status);
  delayMs = exchange.delayMs;
  request.never = !exchange.completes;
  request.status = exchange.status;
  request.hostAdapterStatus = exchange.hostAdapterStatus;
  request.targetStatus = exchange.targetStatus;
  request.sense = std::move(exchange.sense);
  if (completion == Completion::Never) request.never = true;

  if (completion == Completion::Immediate && !request.never) {
    nowMs += delayMs;
    request.event = 0;  // the caller learns the outcome from the return value
    Finish(request);
    record.returned = request.status;
    log.push_back(record);
    return request.status;
  }
  request.dueMs = nowMs + latencyMs + delayMs;
  srb.SRB_Status = aspi::kStatusPending;
  pending.push_back(std::move(request));
  record.returned = aspi::kStatusPending;
  log.push_back(record);
  return aspi::kStatusPending;
}

std::uint32_t SimAspiManager::Abort(void* block) {
  ++aborts;
  SrbAbort& abort = *static_cast<SrbAbort*>(block);
  const auto found = std::find_if(pending.begin(), pending.end(),
                                  [&](const Pending& p) { return p.block == abort.SRB_ToAbort; });
  if (found == pending.end()) {
    abort.SRB_Status = status::kInvalidSrb;
  } else if (!abortHonoured) {
    abort.SRB_Status = status::kAbortFailed;
  } else {
    Pending request = std::move(*found);
    pending.erase(found);
    request.status = status::kAborted;
    request.hostAdapterStatus = 0;
    request.targetStatus = 0;
    request.sense.clear();
    request.data.clear();  // nothing moved
    Finish(request);
    abort.SRB_Status = aspi::kStatusComplete;
  }
  return abort.SRB_Status;
}

void SimAspiManager::Finish(Pending& request) {
  if (request.inquiry) {
    if (InReleasedMemory(request.block, sizeof(SrbHaInquiry))) {
      ++writesToReleasedMemory;
    } else {
      static_cast<SrbHaInquiry*>(request.block)->SRB_Status = request.status;
    }
    return;
  }
  SrbExecScsiCmd& srb = *static_cast<SrbExecScsiCmd*>(request.block);
  if (InReleasedMemory(&srb, sizeof srb)) {
    ++writesToReleasedMemory;
  } else {
    srb.SRB_HaStat = request.hostAdapterStatus;
    srb.SRB_TargStat = request.targetStatus;
    std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
    if (!request.sense.empty()) std::memcpy(srb.SenseArea, request.sense.data(), request.sense.size());
    if (!request.data.empty()) {
      if (InReleasedMemory(srb.SRB_BufPointer, request.data.size())) {
        ++writesToReleasedMemory;
      } else {
        std::memcpy(srb.SRB_BufPointer, request.data.data(), request.data.size());
      }
    }
    // The status goes last: a caller polling it sees everything else in place.
    srb.SRB_Status = request.status;
  }
  if (request.event != 0) Signal(request.event);
}

void SimAspiManager::Signal(SysHandle event) {
  const auto found = events.find(event);
  if (found == events.end() || found->second.closed) {
    ++signalsToClosedEvents;
    return;
  }
  found->second.signalled = true;
}

void SimAspiManager::CompleteDue() {
  for (;;) {
    auto next = pending.end();
    for (auto it = pending.begin(); it != pending.end(); ++it) {
      if (!it->never && it->dueMs <= nowMs && (next == pending.end() || it->dueMs < next->dueMs)) {
        next = it;
      }
    }
    if (next == pending.end()) return;
    Pending request = std::move(*next);
    pending.erase(next);
    Finish(request);
  }
}

void SimAspiManager::Advance(std::uint32_t milliseconds) {
  const std::int64_t end = nowMs + milliseconds;
  for (;;) {
    std::int64_t next = end + 1;
    for (const Pending& p : pending) {
      if (!p.never) next = std::min(next, p.dueMs);
    }
    if (next > end) break;
    nowMs = std::max(nowMs, next);
    CompleteDue();
  }
  nowMs = end;
}

void SimAspiManager::ReleaseStuck() {
  std::vector<Pending> stuck;
  for (auto it = pending.begin(); it != pending.end();) {
    if (it->never) {
      stuck.push_back(std::move(*it));
      it = pending.erase(it);
    } else {
      ++it;
    }
  }
  for (Pending& request : stuck) {
    request.status = status::kAborted;
    request.data.clear();
    Finish(request);
  }
}

SysHandle SimAspiManager::CreateEvent() {
  if (failEvents > 0) {
    --failEvents;
    return 0;
  }
  const SysHandle handle = nextHandle++;
  events[handle] = Event();
  return handle;
}

std::uint32_t SimAspiManager::WaitForSingleObject(SysHandle event, std::uint32_t milliseconds) {
  ++waits;
  if (milliseconds == 0) ++zeroTimeoutWaits;
  longestWaitMs = std::max(longestWaitMs, milliseconds);
  if (nextWaitHook) {
    std::function<void()> hook = std::move(nextWaitHook);
    nextWaitHook = nullptr;
    hook();
  }
  CompleteDue();
  // Even a poll takes a moment: a caller that spins on a zero time-out still sees
  // the clock move, and shows up as thousands of waits rather than as a hang.
  const std::int64_t end = nowMs + std::max<std::uint32_t>(milliseconds, 1);
  for (;;) {
    const auto found = events.find(event);
    if (found == events.end() || found->second.closed) return kWaitFailed;
    if (found->second.signalled) {
      found->second.signalled = false;  // auto-reset
      return aspiwin::kWaitObject0;
    }
    std::int64_t next = end + 1;
    for (const Pending& p : pending) {
      if (!p.never) next = std::min(next, p.dueMs);
    }
    if (next > end) {
      nowMs = end;
      return aspiwin::kWaitTimeout;
    }
    nowMs = std::max(nowMs, next);
    CompleteDue();
  }
}

bool SimAspiManager::ResetEvent(SysHandle event) {
  const auto found = events.find(event);
  if (found == events.end() || found->second.closed) return false;
  found->second.signalled = false;
  return true;
}

bool SimAspiManager::CloseHandle(SysHandle event) {
  const auto found = events.find(event);
  if (found == events.end() || found->second.closed) return false;
  found->second.closed = true;
  return true;
}

SysHandle SimAspiManager::GlobalAlloc(std::uint32_t flags, std::uint32_t bytes) {
  if (failAllocations > 0) {
    --failAllocations;
    return 0;
  }
  Allocation allocation;
  allocation.bytes.reset(new std::uint8_t[bytes == 0 ? 1 : bytes]);
  std::memset(allocation.bytes.get(), (flags & kZeroInit) ? 0 : kGarbage, bytes == 0 ? 1 : bytes);
  allocation.size = bytes;
  const SysHandle handle = nextHandle++;
  allocations[handle] = std::move(allocation);
  return handle;
}

void* SimAspiManager::GlobalLock(SysHandle memory) {
  const auto found = allocations.find(memory);
  if (found == allocations.end() || found->second.freed) return nullptr;
  ++found->second.locks;
  return found->second.bytes.get();
}

bool SimAspiManager::GlobalUnlock(SysHandle memory) {
  const auto found = allocations.find(memory);
  if (found == allocations.end() || found->second.freed || found->second.locks == 0) return false;
  --found->second.locks;
  return found->second.locks > 0;
}

SysHandle SimAspiManager::GlobalFree(SysHandle memory) {
  // Freed memory is kept (and marked), so a late write is counted, never a crash.
  const auto found = allocations.find(memory);
  if (found == allocations.end() || found->second.freed) return memory;
  found->second.freed = true;
  return 0;
}

bool SimAspiManager::PumpMessage() {
  ++pumpPasses;
  Advance(1);
  return false;
}

std::int64_t SimAspiManager::Time() { return nowMs / 1000; }

const SimAspiManager::Allocation* SimAspiManager::LockedAllocationHolding(const void* address,
                                                                          std::size_t size) const {
  const auto* at = static_cast<const std::uint8_t*>(address);
  for (const auto& entry : allocations) {
    const Allocation& a = entry.second;
    const std::uint8_t* begin = a.bytes.get();
    if (at >= begin && at < begin + a.size) {
      if (a.freed || a.locks == 0 || size > static_cast<std::size_t>(begin + a.size - at)) return nullptr;
      return &a;
    }
  }
  return nullptr;
}

bool SimAspiManager::InReleasedMemory(const void* address, std::size_t size) const {
  (void)size;
  const auto* at = static_cast<const std::uint8_t*>(address);
  for (const auto& entry : allocations) {
    const Allocation& a = entry.second;
    const std::uint8_t* begin = a.bytes.get();
    if (at >= begin && at < begin + a.size) return a.freed || a.locks == 0;
  }
  return false;
}

std::size_t SimAspiManager::LiveAllocations() const {
  return static_cast<std::size_t>(std::count_if(
      allocations.begin(), allocations.end(), [](const auto& entry) { return !entry.second.freed; }));
}

std::size_t SimAspiManager::OpenEvents() const {
  return static_cast<std::size_t>(std::count_if(
      events.begin(), events.end(), [](const auto& entry) { return !entry.second.closed; }));
}

}  // namespace qx
