#pragma once
// The worker that verifies the chosen image and sends it to the drive, and the
// main dialog's side of it: starting the thread and watching it with a timer.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "res/resource.h"
#include "device/VendorPage.h"
#include "platform/Threads.h"
#include "update/ImageTable.h"

namespace qx {

class ScsiDevice;

// What the worker did, step by step with the time of each, for the update log. The
// worker adds steps as it goes; the dialog's thread writes out the new ones at each
// timer event, so the log of a run cut off in the middle of the pages ends near the
// page being written, and the log file keeps one writer. One writer, one reader, no
// lock: a step is complete before the count that publishes it moves past it.
class WorkerSteps {
 public:
  // Far more steps than one run notes; any beyond it are dropped.
  static constexpr std::size_t kCapacity = 64;
  struct Step {
    std::int64_t seconds = 0;
    std::string text;
  };

  // The worker's side.
  void Add(std::int64_t seconds, const std::string& text);
  // The reader's side: steps [0, Count()) are complete and never change again.
  std::size_t Count() const { return count.load(std::memory_order_acquire); }
  const Step& At(std::size_t index) const { return steps[index]; }
  // Only while no worker runs on it.
  void Clear() { count.store(0, std::memory_order_release); }

 private:
  std::array<Step, kCapacity> steps;
  std::atomic<std::size_t> count{0};
};

// The worker's start record. One for the whole process, filled before the thread
// exists and left valid after it ends.
struct DownloadRequest {
  std::uint8_t driveIndex = 0;
  ScsiDevice* device = nullptr;
  Threads* threads = nullptr;          // the clock the fixed waits run on
  const ImageTable* images = nullptr;  // null: the images built into the program
  WorkerSteps trace{};
  // Set by the worker once every page is accepted and it asks the drive for its
  // revision; read by the dialog at each timer event.
  std::atomic<bool> checking{false};
  // Set by the dialog when it no longer waits for the check: no further tries.
  std::atomic<bool> stopChecking{false};
  // The check's answer, written by the worker and read only once it has ended: whether
  // any try was answered, and the revision the last answer reported.
  bool revisionAnswered = false;
  std::string revision{};
};

namespace download {
constexpr std::uint32_t kExitSuccess = 0;
constexpr std::uint32_t kExitFailure = 1;
// One data page: its header and one page of image data.
constexpr std::uint32_t kBlockSize = vendorpage::kHeaderSize + vendorpage::kDataSize;
constexpr std::uint32_t kTimerId = IDT_MONITOR;
constexpr std::uint32_t kTimerPeriodMs = 3000;
constexpr int kMaxResumeCalls = 10;
constexpr int kLastProgressTick = 47;  // the bar follows the ticks below 48 (94 %)
constexpr int kTimeoutTick = 100;
// After the update the drive restarts on its new firmware: it is asked this many
// times, with this pause between, until it reports the new revision.
constexpr int kConfirmTries = 5;
constexpr std::uint32_t kConfirmPauseMs = 2000;
// The dialog waits this many timer events (27 s) from the first one that finds the
// worker checking; a drive still silent then has not answered. With the 2 s after the
// closing page and one period before the check is seen, the check ends 32 s after the
// last page when the timer keeps time, whatever the transport's own time-out; the guide
// promises 35 s, which leaves a loaded machine's late timer events some room.
constexpr int kConfirmTicks = 9;
}  // namespace download

// The 13 lane sums of a plain image: byte k adds to sum k mod 13.
std::array<std::uint32_t, 13> LaneSums(const std::uint8_t* plain, std::uint32_t size);

// plain[b + i] = stored[b + table[i]] in every 256-byte block b.
void Unscramble(const std::uint8_t* stored, const std::array<std::uint8_t, 256>& table,
                std::uint8_t* plain, std::uint32_t size);

class DownloadWorker {
 public:
  // The thread procedure: `request` is the DownloadRequest. 0 when the image was
  // verified and every page accepted; 1 for any failure.
  static std::uint32_t Run(void* request);
};

// After the closing page: identifies the drive with INQUIRY (each try repeated by the
// device on unit attention, as a drive that has just restarted reports 29/00 or 3F/01)
// until it reports `expected`, the tries run out or the dialog stops the check. Leaves
// its answer in the request; notes each try in its trace.
void ConfirmRevision(DownloadRequest& request, const std::string& expected);

// What the start-and-watch protocol needs of the main dialog.
class DownloadMonitorView {
 public:
  virtual ~DownloadMonitorView() = default;
  virtual void BeginWaitCursor() = 0;
  // SetTimer on the dialog's window, no callback; false for the system's 0.
  virtual bool SetTimer(std::uint32_t timerId, std::uint32_t periodMs) = 0;
  virtual void KillTimer(std::uint32_t timerId) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void Refresh() = 0;
};

enum class MonitorOutcome {
  NotOurs,    // another timer, or nothing is being watched: pass the event on
  Running,
  Succeeded,
  Failed,
  TimedOut,   // the worker may still be running; it is no longer watched
  // Every page was accepted but the drive did not answer the check in time; the
  // worker makes no further try and is no longer watched.
  CheckTimedOut,
};

class DownloadMonitor {
 public:
  enum class State { Idle, Watching, Done };

  DownloadMonitor(Threads& threads, DownloadMonitorView& view) : threads(threads), view(view) {}
  ~DownloadMonitor();
  DownloadMonitor(const DownloadMonitor&) = delete;
  DownloadMonitor& operator=(const DownloadMonitor&) = delete;

  // Starts the worker on `request` and the timer that watches it. False for a start
  // failure; a thread already resumed is not stopped by it.
  bool Start(DownloadRequest* request);

  // One timer event. On an outcome the timer is gone and the bar shows 100 or 0.
  MonitorOutcome Step(std::uint32_t timerId);

  State CurrentState() const { return state; }
  int MonitorTicks() const { return monitorTicks; }
  std::uint32_t LastExitCode() const { return lastExitCode; }
  // True while a worker this monitor resumed has not ended, even after a time-out
  // or a start failure that left it running.
  bool WorkerAlive() const;
  // True once a timer event has found the worker asking the drive for its revision.
  bool Checking() const { return checkTicks > 0; }

 private:
  MonitorOutcome Finish(MonitorOutcome outcome);

  Threads& threads;
  DownloadMonitorView& view;
  State state = State::Idle;
  int monitorTicks = 0;
  int checkTicks = 0;  // timer events that found the worker checking
  DownloadRequest* request = nullptr;
  ThreadRef workerThread = 0;  // the thread object; unused once resumed
  ThreadRef workerHandle = 0;  // our duplicate, through which the exit code is read
  std::uint32_t lastExitCode = thread::kStillActive;
  bool resumed = false;  // a thread never resumed stays suspended and sends nothing
};

}  // namespace qx
