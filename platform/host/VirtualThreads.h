#pragma once
// Threads on a virtual clock. Workers are real threads, but their Sleep never
// waits for real time: a sleeping worker blocks until the clock reaches its wake
// time, and the clock moves only when the owner moves it, and only while every
// worker is blocked in Sleep or has ended. So two minutes of waits take no time
// and the same run always interleaves the same way.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Threads.h"

namespace qx {

class VirtualThreads : public Threads {
 public:
  // How ResumeThread behaves, for tests of the start protocol.
  enum class ResumeMode {
    Normal,            // counts down like the system's
    CountStaysHigh,    // always answers 2 and never lets the thread run
    Fails,             // always answers 0xFFFFFFFF
  };

  // One Sleep call: who slept, for how long, and when it began.
  struct SleepRecord {
    bool onWorker;
    std::uint32_t milliseconds;
    std::uint64_t startMs;
  };

  // The thread that constructs the object is the owner: its Sleep moves the clock.
  // `epochSeconds` is what Time() reports at clock zero.
  explicit VirtualThreads(std::int64_t epochSeconds = 1133395200);
  // Lets every started worker run to its end (moving the clock as needed) and joins it.
  ~VirtualThreads() override;
  VirtualThreads(const VirtualThreads&) = delete;
  VirtualThreads& operator=(const VirtualThreads&) = delete;

  ThreadRef CreateSuspended(ThreadProc procedure, void* argument) override;
  bool DuplicateHandle(ThreadRef thread, ThreadRef* duplicate) override;
  std::uint32_t ResumeThread(ThreadRef thread) override;
  bool GetExitCodeThread(ThreadRef handle, std::uint32_t* exitCode) override;
  void CloseHandle(ThreadRef handle) override;
  void Sleep(std::uint32_t milliseconds) override;
  std::int64_t Time() override;

  std::uint64_t NowMs() const;
  // Blocks until every worker is asleep, ended or not yet resumed.
  void WaitUntilIdle();
  // The earliest wake time of a sleeping worker; false when no worker sleeps.
  bool NextWakeTime(std::uint64_t* wakeMs);
  // Moves the clock forward to `targetMs`, stopping at every wake time on the
  // way so each worker runs (until it is idle again) at the moment it wakes.
  void AdvanceTo(std::uint64_t targetMs);
  // True when no worker has been resumed but not ended.
  bool AllEnded();

  // Failure injection.
  void SetCreateFails(bool fails) { createFails = fails; }
  void SetDuplicateFails(bool fails) { duplicateFails = fails; }
  void SetResumeMode(ResumeMode mode) { resumeMode = mode; }
  int ResumeCalls() const { return resumeCalls; }

  // Every Sleep so far, in the order of the clock.
  std::vector<SleepRecord> Sleeps();

 private:
  enum class State { Suspended, Running, Sleeping, Ended };
  struct Worker {
    ThreadProc procedure = nullptr;
    void* argument = nullptr;
    std::uint32_t suspendCount = 1;
    State state = State::Suspended;
    std::uint64_t wakeMs = 0;
    std::uint32_t exitCode = thread::kStillActive;
    std::thread thread;
  };

  Worker* Lookup(ThreadRef handle);
  void WorkerMain(Worker* worker);
  bool IdleLocked() const;
  // With the lock held: moves the clock to `ms` and waits for the woken workers.
  void StepTo(std::uint64_t ms, std::unique_lock<std::mutex>& lock);

  mutable std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t nowMs = 0;
  std::int64_t epochSeconds;
  std::vector<std::unique_ptr<Worker>> workers;
  std::map<ThreadRef, Worker*> handles;
  ThreadRef nextHandle = 0x100;
  std::vector<SleepRecord> sleeps;

  bool createFails = false;
  bool duplicateFails = false;
  ResumeMode resumeMode = ResumeMode::Normal;
  int resumeCalls = 0;
};

// The owner's message loop on the virtual clock: timers (SetTimer / KillTimer with
// a period) whose events are handed to one handler, as WM_TIMER would be.
class HostMessageLoop {
 public:
  using TimerHandler = std::function<void(std::uint32_t timerId)>;

  explicit HostMessageLoop(VirtualThreads& threads) : threads(threads) {}

  void SetTimerHandler(TimerHandler handler) { this->handler = std::move(handler); }
  // SetTimer: the first event falls one period from now. False (the system's 0)
  // when failure is injected.
  bool SetTimer(std::uint32_t timerId, std::uint32_t periodMs);
  bool KillTimer(std::uint32_t timerId);
  bool HasTimer(std::uint32_t timerId) const { return timers.count(timerId) != 0; }
  void SetTimerFails(bool fails) { timerFails = fails; }

  // Runs the clock: at each step the earlier of the next worker wake and the next
  // timer event (workers first when they coincide). Returns true as soon as `done`
  // says so after an event; false when nothing is left to happen or the clock
  // would pass `limitMs`.
  bool RunUntil(const std::function<bool()>& done, std::uint64_t limitMs);

 private:
  struct Timer {
    std::uint32_t periodMs;
    std::uint64_t dueMs;
  };

  VirtualThreads& threads;
  TimerHandler handler;
  std::map<std::uint32_t, Timer> timers;
  bool timerFails = false;
};

}  // namespace qx
