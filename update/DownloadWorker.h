#pragma once
// The worker that verifies the chosen image and sends it to the drive, and the
// main dialog's side of it: starting the thread and watching it with a timer.
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "device/VendorPage.h"
#include "platform/Threads.h"
#include "update/ImageTable.h"

namespace qx {

class ScsiDevice;
class UpdateLog;

// The worker's start record. One for the whole process, filled before the thread
// exists and left valid after it ends.
struct DownloadRequest {
  std::uint8_t driveIndex = 0;
  ScsiDevice* device = nullptr;
  Threads* threads = nullptr;          // the clock the fixed waits run on
  const ImageTable* images = nullptr;  // null: the images built into the program
  // What the worker did, with the time of each step, for the update log. Written by
  // the worker only; read only once it has ended.
  std::vector<std::pair<std::int64_t, std::string>> trace;
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
// times, with this pause between, before it counts as not answering.
constexpr int kConfirmTries = 5;
constexpr std::uint32_t kConfirmPauseMs = 2000;
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

// After the worker's success: identifies the drive once more with INQUIRY (each try
// repeated by the device on unit attention, as a drive that has just restarted
// reports 29/00 or 3F/01) and leaves the revision it reports in *revision. False
// when no try was answered. Each try goes to `log` when there is one.
bool ReadRevisionAfterUpdate(ScsiDevice& device, Threads& threads, std::uint8_t driveIndex,
                             UpdateLog* log, std::string* revision);

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

 private:
  MonitorOutcome Finish(MonitorOutcome outcome);

  Threads& threads;
  DownloadMonitorView& view;
  State state = State::Idle;
  int monitorTicks = 0;
  ThreadRef workerThread = 0;  // the thread object; unused once resumed
  ThreadRef workerHandle = 0;  // our duplicate, through which the exit code is read
  std::uint32_t lastExitCode = thread::kStillActive;
  bool resumed = false;  // a thread never resumed stays suspended and sends nothing
};

}  // namespace qx
