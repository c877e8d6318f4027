#include "update/DownloadWorker.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "device/Inquiry.h"
#include "device/ScsiDevice.h"
#include "update/UpdateLog.h"
#include "update/VersionCheck.h"

namespace qx {

namespace {

constexpr std::uint32_t kScrambleBlock = 256;
// One image and 16 bytes of slack that are never touched.
constexpr std::uint32_t kImageBufferSize = kImageSize + 16;

using namespace vendorpage;
static_assert(kPageDataSize == kDataSize, "an image page fills one data page");

// The fixed waits: the drive needs them to settle after the eject and between the
// opening pages; they are not polls, and they are not ours to shorten.
constexpr std::uint32_t kSettleWaitsMs[] = {2000, 60000, 60000};
constexpr std::uint32_t kAfterFirstOpenMs = 3000;
constexpr std::uint32_t kAfterSecondOpenMs = 500;
constexpr std::uint32_t kAfterClosingMs = 2000;

// Notes one step of the worker in its request's trace.
void Note(DownloadRequest& request, const std::string& text) {
  request.trace.Add(request.threads->Time(), text);
}

// "page C0 02": the function and argument of the page in `block`.
std::string PageName(const std::uint8_t* block) {
  char name[16];
  std::snprintf(name, sizeof name, "page %02X %02X", block[kFunctionOffset],
                block[kArgumentOffset]);
  return name;
}

// Notes a command that has just been sent: "1D page C0 01 -> 01".
CommandStatus NoteCommand(DownloadRequest& request, const char* what, CommandStatus result,
                          const std::uint8_t* page = nullptr) {
  std::string text = std::string("command ") + what;
  if (page != nullptr) text += " " + PageName(page).substr(5);
  Note(request, text + " -> " + StatusText(result, *request.device));
  return result;
}

// Writes a header-only page and sends it; true when the drive accepted it.
bool SendHeaderPage(DownloadRequest& request, std::uint8_t* block, std::uint8_t function,
                    std::uint8_t argument) {
  ScsiDevice& device = *request.device;
  device.SetBuffer(block, kHeaderSize);
  WriteHeader(block, kHeaderOnlyLength, function, argument);
  Note(request, "writing " + PageName(block));
  return NoteCommand(request, "1D SEND DIAGNOSTIC page", device.SendDiagnostic(0, kHeaderSize),
                     block) == status::kGood;
}

}  // namespace

std::array<std::uint32_t, 13> LaneSums(const std::uint8_t* plain, std::uint32_t size) {
  std::array<std::uint32_t, 13> sums{};
  for (std::uint32_t k = 0; k < size; ++k) sums[k % 13] += plain[k];
  return sums;
}

void Unscramble(const std::uint8_t* stored, const std::array<std::uint8_t, 256>& table,
                std::uint8_t* plain, std::uint32_t size) {
  for (std::uint32_t block = 0; block + kScrambleBlock <= size; block += kScrambleBlock) {
    for (std::uint32_t i = 0; i < kScrambleBlock; ++i) plain[block + i] = stored[block + table[i]];
  }
}

std::uint32_t DownloadWorker::Run(void* argument) {
  auto* request = static_cast<DownloadRequest*>(argument);
  if (request == nullptr || request->device == nullptr || request->threads == nullptr) {
    return download::kExitFailure;
  }
  ScsiDevice& device = *request->device;
  Threads& threads = *request->threads;
  request->checking.store(false);
  request->stopChecking.store(false);
  request->revisionAnswered = false;
  request->revision.clear();
  const ImageTable& images = request->images != nullptr ? *request->images : BuiltInImages();

  int index = selectedImageIndex;
  if (index < 0 || index >= kImageCount) return download::kExitFailure;
  const FirmwareImage& image = images.Image(index);
  // Pages beyond the image would send bytes that are not firmware.
  if (image.blockCount < 1 ||
      static_cast<std::uint32_t>(image.blockCount) * kPageDataSize > kImageSize) {
    return download::kExitFailure;
  }

  std::vector<std::uint8_t> plain(kImageBufferSize, 0);
  Unscramble(image.storedBytes, *images.unscrambleTable, plain.data(), kImageSize);

  // Verify the whole image before the drive hears a word: a damaged copy never leaves memory.
  std::array<std::uint32_t, 13> sums = LaneSums(plain.data(), kImageSize);
  for (int lane = 0; lane < kLaneCount; ++lane) {
    if (sums[lane] != image.checksumRow[lane]) {
      Note(*request, "image " + std::to_string(index) + " fails its check in lane " +
                         std::to_string(lane) + ": nothing is sent");
      return download::kExitFailure;
    }
  }

  device.SelectDrive(request->driveIndex);

  // A transport that cannot carry a whole data page would refuse the first one, after
  // the opening pages have put the drive into its download state. Find out now.
  if (device.MaxTransferLength(request->driveIndex) < download::kBlockSize) {
    Note(*request, "the transport cannot carry a data page: nothing is sent");
    return download::kExitFailure;
  }

  NoteCommand(*request, "1E PREVENT ALLOW MEDIUM REMOVAL allow",
              device.PreventAllowMediumRemoval(false));
  NoteCommand(*request, "1B START STOP UNIT eject", device.StartStopUnit(false, false, true));
  for (std::uint32_t wait : kSettleWaitsMs) threads.Sleep(wait);

  std::vector<std::uint8_t> block(download::kBlockSize, 0);
  if (!SendHeaderPage(*request, block.data(), function::kOpen, kOpenFirst)) {
    return download::kExitFailure;
  }
  threads.Sleep(kAfterFirstOpenMs);
  if (!SendHeaderPage(*request, block.data(), function::kOpen, kOpenSecond)) {
    return download::kExitFailure;
  }
  threads.Sleep(kAfterSecondOpenMs);

  device.SetBuffer(block.data(), download::kBlockSize);
  for (int page = 1; page <= image.blockCount; ++page) {
    WriteHeader(block.data(), kDataPageLength, function::kData, static_cast<std::uint8_t>(page));
    std::memcpy(block.data() + kHeaderSize,
                plain.data() + static_cast<std::uint32_t>(page - 1) * kPageDataSize, kPageDataSize);
    Note(*request, "writing " + PageName(block.data()) + " of " + std::to_string(image.blockCount));
    if (NoteCommand(*request, "1D SEND DIAGNOSTIC page",
                    device.SendDiagnostic(0, static_cast<std::uint16_t>(download::kBlockSize)),
                    block.data()) != status::kGood) {
      return download::kExitFailure;
    }
  }

  if (!SendHeaderPage(*request, block.data(), function::kData, kClosing)) {
    return download::kExitFailure;
  }
  threads.Sleep(kAfterClosingMs);
  // Asked here rather than on the dialog's thread: a drive that hangs after its new
  // firmware holds each INQUIRY for the transport's whole time-out.
  ConfirmRevision(*request, image.versionText);
  return download::kExitSuccess;
}

void ConfirmRevision(DownloadRequest& request, const std::string& expected) {
  ScsiDevice& device = *request.device;
  std::uint8_t buffer[inquiry::kAllocationLength] = {};
  request.checking.store(true);
  device.SelectDrive(request.driveIndex);
  for (int attempt = 1; attempt <= download::kConfirmTries; ++attempt) {
    if (attempt > 1) request.threads->Sleep(download::kConfirmPauseMs);
    if (request.stopChecking.load()) {
      Note(request, "the check was given up: no further try");
      return;
    }
    std::memset(buffer, 0, sizeof buffer);
    device.SetBuffer(buffer, sizeof buffer);
    if (NoteCommand(request, "12 INQUIRY (after the update)",
                    device.Inquiry(inquiry::kAllocationLength)) != status::kGood) {
      continue;
    }
    request.revision =
        inquiry::FieldText(buffer + inquiry::kRevisionOffset, inquiry::kRevisionLength);
    request.revisionAnswered = true;
    if (request.revision == expected) return;
    // Just after its restart a drive may still report what it ran before.
    Note(request, "the drive reports revision " + request.revision + ", " + expected +
                      " expected: asked again");
  }
}

void WorkerSteps::Add(std::int64_t seconds, const std::string& text) {
  const std::size_t next = count.load(std::memory_order_relaxed);
  if (next >= kCapacity) return;
  steps[next].seconds = seconds;
  steps[next].text = text;
  count.store(next + 1, std::memory_order_release);
}

DownloadMonitor::~DownloadMonitor() {
  if (workerHandle != 0) threads.CloseHandle(workerHandle);
  if (workerThread != 0) threads.CloseHandle(workerThread);
}

bool DownloadMonitor::WorkerAlive() const {
  ThreadRef handle = workerHandle != 0 ? workerHandle : workerThread;
  if (!resumed || handle == 0) return false;
  std::uint32_t code = 0;
  if (!threads.GetExitCodeThread(handle, &code)) return false;
  return code == thread::kStillActive;
}

bool DownloadMonitor::Start(DownloadRequest* startRequest) {
  view.BeginWaitCursor();
  view.SetProgress(2);
  monitorTicks = 1;
  checkTicks = 0;
  request = startRequest;
  lastExitCode = thread::kStillActive;

  workerThread = threads.CreateSuspended(&DownloadWorker::Run, request);
  if (workerThread == 0) return false;
  if (!threads.DuplicateHandle(workerThread, &workerHandle)) {
    workerHandle = 0;
    return false;
  }

  // A thread created suspended has a count of 1; a count that will not come down
  // means someone else holds it, and we give up rather than spin.
  for (int call = 1;; ++call) {
    std::uint32_t previous = threads.ResumeThread(workerThread);
    if (previous == thread::kResumeFailed || call > download::kMaxResumeCalls) return false;
    if (previous <= 1) {
      resumed = true;
      break;
    }
  }

  if (!view.SetTimer(download::kTimerId, download::kTimerPeriodMs)) return false;
  state = State::Watching;
  return true;
}

MonitorOutcome DownloadMonitor::Finish(MonitorOutcome outcome) {
  state = State::Done;
  view.KillTimer(download::kTimerId);
  view.SetProgress(outcome == MonitorOutcome::Succeeded ? 100 : 0);
  view.Refresh();
  return outcome;
}

MonitorOutcome DownloadMonitor::Step(std::uint32_t timerId) {
  if (timerId != download::kTimerId || state != State::Watching) return MonitorOutcome::NotOurs;

  std::uint32_t code = 0;
  // An exit code we cannot read is no proof of success.
  if (!threads.GetExitCodeThread(workerHandle, &code)) code = download::kExitFailure;
  lastExitCode = code;

  if (code == thread::kStillActive) {
    ++monitorTicks;
    if (monitorTicks <= download::kLastProgressTick) {
      view.SetProgress(2 * monitorTicks);
      view.Refresh();
    }
    // Once every page is accepted the write can no longer run too long; the check has
    // a bound of its own instead.
    if (request != nullptr && request->checking.load()) {
      if (++checkTicks <= download::kConfirmTicks) return MonitorOutcome::Running;
      request->stopChecking.store(true);
      return Finish(MonitorOutcome::CheckTimedOut);
    }
    if (monitorTicks > download::kTimeoutTick) return Finish(MonitorOutcome::TimedOut);
    return MonitorOutcome::Running;
  }
  return Finish(code == download::kExitSuccess ? MonitorOutcome::Succeeded : MonitorOutcome::Failed);
}

}  // namespace qx
