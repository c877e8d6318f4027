#include "platform/host/VirtualThreads.h"

#include <limits>

namespace qx {

namespace {
// The worker a thread is running, so that Sleep knows whose clock rule applies.
thread_local void* currentWorker = nullptr;
}  // namespace

VirtualThreads::VirtualThreads(std::int64_t epochSeconds) : epochSeconds(epochSeconds) {}

VirtualThreads::~VirtualThreads() {
  // A worker left sleeping would wait forever for a clock nobody moves.
  for (;;) {
    std::uint64_t wake = 0;
    if (!NextWakeTime(&wake)) break;
    AdvanceTo(wake);
  }
  for (auto& worker : workers) {
    if (worker->thread.joinable()) worker->thread.join();
  }
}

VirtualThreads::Worker* VirtualThreads::Lookup(ThreadRef handle) {
  auto found = handles.find(handle);
  return found == handles.end() ? nullptr : found->second;
}

ThreadRef VirtualThreads::CreateSuspended(ThreadProc procedure, void* argument) {
  std::lock_guard<std::mutex> hold(mutex);
  if (createFails || procedure == nullptr) return 0;
  auto worker = std::make_unique<Worker>();
  worker->procedure = procedure;
  worker->argument = argument;
  ThreadRef handle = nextHandle++;
  handles[handle] = worker.get();
  workers.push_back(std::move(worker));
  return handle;
}

bool VirtualThreads::DuplicateHandle(ThreadRef thread, ThreadRef* duplicate) {
  std::lock_guard<std::mutex> hold(mutex);
  Worker* worker = Lookup(thread);
  if (duplicateFails || worker == nullptr || duplicate == nullptr) return false;
  *duplicate = nextHandle++;
  handles[*duplicate] = worker;
  return true;
}

std::uint32_t VirtualThreads::ResumeThread(ThreadRef thread) {
  std::unique_lock<std::mutex> lock(mutex);
  ++resumeCalls;
  Worker* worker = Lookup(thread);
  if (worker == nullptr || resumeMode == ResumeMode::Fails) return thread::kResumeFailed;
  if (resumeMode == ResumeMode::CountStaysHigh) return 2;
  std::uint32_t previous = worker->suspendCount;
  if (previous == 0) return 0;
  worker->suspendCount = previous - 1;
  if (worker->suspendCount == 0 && worker->state == State::Suspended) {
    worker->state = State::Running;
    worker->thread = std::thread(&VirtualThreads::WorkerMain, this, worker);
    // Run the worker up to its first Sleep (or its end) before the owner goes on,
    // so the interleaving never depends on the host's scheduler.
    changed.wait(lock, [this] { return IdleLocked(); });
  }
  return previous;
}

void VirtualThreads::WorkerMain(Worker* worker) {
  currentWorker = worker;
  std::uint32_t code = worker->procedure(worker->argument);
  std::lock_guard<std::mutex> hold(mutex);
  worker->exitCode = code;
  worker->state = State::Ended;
  changed.notify_all();
}

bool VirtualThreads::GetExitCodeThread(ThreadRef handle, std::uint32_t* exitCode) {
  std::lock_guard<std::mutex> hold(mutex);
  Worker* worker = Lookup(handle);
  if (worker == nullptr || exitCode == nullptr) return false;
  *exitCode = worker->state == State::Ended ? worker->exitCode : thread::kStillActive;
  return true;
}

void VirtualThreads::CloseHandle(ThreadRef handle) {
  std::lock_guard<std::mutex> hold(mutex);
  handles.erase(handle);
}

void VirtualThreads::Sleep(std::uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(mutex);
  auto* worker = static_cast<Worker*>(currentWorker);
  sleeps.push_back({worker != nullptr, milliseconds, nowMs});
  if (worker == nullptr) {
    // The owner's own wait: time passes for everybody while it sleeps.
    std::uint64_t target = nowMs + milliseconds;
    changed.wait(lock, [this] { return IdleLocked(); });
    for (;;) {
      std::uint64_t next = target;
      for (auto& other : workers) {
        if (other->state == State::Sleeping && other->wakeMs < next) next = other->wakeMs;
      }
      StepTo(next, lock);
      if (next == target) break;
    }
    return;
  }
  if (milliseconds == 0) return;
  worker->wakeMs = nowMs + milliseconds;
  worker->state = State::Sleeping;
  changed.notify_all();
  changed.wait(lock, [this, worker] { return nowMs >= worker->wakeMs; });
  worker->state = State::Running;
}

std::int64_t VirtualThreads::Time() {
  std::lock_guard<std::mutex> hold(mutex);
  return epochSeconds + static_cast<std::int64_t>(nowMs / 1000);
}

std::uint64_t VirtualThreads::NowMs() const {
  std::lock_guard<std::mutex> hold(mutex);
  return nowMs;
}

bool VirtualThreads::IdleLocked() const {
  for (const auto& worker : workers) {
    if (worker->state == State::Running) return false;
    // Woken but not yet back from its wait: it is about to run.
    if (worker->state == State::Sleeping && nowMs >= worker->wakeMs) return false;
  }
  return true;
}

void VirtualThreads::WaitUntilIdle() {
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [this] { return IdleLocked(); });
}

bool VirtualThreads::NextWakeTime(std::uint64_t* wakeMs) {
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [this] { return IdleLocked(); });
  bool any = false;
  std::uint64_t earliest = std::numeric_limits<std::uint64_t>::max();
  for (const auto& worker : workers) {
    if (worker->state == State::Sleeping && worker->wakeMs < earliest) {
      earliest = worker->wakeMs;
      any = true;
    }
  }
  if (any && wakeMs != nullptr) *wakeMs = earliest;
  return any;
}

void VirtualThreads::StepTo(std::uint64_t ms, std::unique_lock<std::mutex>& lock) {
  if (ms > nowMs) nowMs = ms;
  changed.notify_all();
  changed.wait(lock, [this] { return IdleLocked(); });
}

void VirtualThreads::AdvanceTo(std::uint64_t targetMs) {
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [this] { return IdleLocked(); });
  while (nowMs < targetMs) {
    std::uint64_t next = targetMs;
    for (auto& worker : workers) {
      if (worker->state == State::Sleeping && worker->wakeMs < next) next = worker->wakeMs;
    }
    StepTo(next, lock);
  }
}

bool VirtualThreads::AllEnded() {
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [this] { return IdleLocked(); });
  for (const auto& worker : workers) {
    if (worker->state == State::Sleeping) return false;
  }
  return true;
}

std::vector<VirtualThreads::SleepRecord> VirtualThreads::Sleeps() {
  std::lock_guard<std::mutex> hold(mutex);
  return sleeps;
}

bool HostMessageLoop::SetTimer(std::uint32_t timerId, std::uint32_t periodMs) {
  if (timerFails || periodMs == 0) return false;
  timers[timerId] = Timer{periodMs, threads.NowMs() + periodMs};
  return true;
}

bool HostMessageLoop::KillTimer(std::uint32_t timerId) { return timers.erase(timerId) != 0; }

bool HostMessageLoop::RunUntil(const std::function<bool()>& done, std::uint64_t limitMs) {
  for (;;) {
    threads.WaitUntilIdle();
    if (done()) return true;
    std::uint64_t wake = 0;
    bool workerWakes = threads.NextWakeTime(&wake);
    std::uint32_t timerId = 0;
    std::uint64_t due = std::numeric_limits<std::uint64_t>::max();
    for (const auto& entry : timers) {
      if (entry.second.dueMs < due) {
        due = entry.second.dueMs;
        timerId = entry.first;
      }
    }
    bool timerDue = !timers.empty();
    if (!workerWakes && !timerDue) return false;
    if (workerWakes && (!timerDue || wake <= due)) {
      if (wake > limitMs) return false;
      threads.AdvanceTo(wake);
      continue;
    }
    if (due > limitMs) return false;
    threads.AdvanceTo(due);
    timers[timerId].dueMs = due + timers[timerId].periodMs;
    if (handler) handler(timerId);
  }
}

}  // namespace qx
