// The download worker and its monitor against a simulated drive on the virtual clock.
#include "update/DownloadWorker.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "SimDriveRig.h"
#include "sim/FreshProcessScope.h"
#include "platform/host/VirtualThreads.h"
#include "update/VersionCheck.h"

namespace qx {
namespace {

using flowtest::Rig;
using Page = std::array<std::uint8_t, 8>;

struct Sent {
  std::uint64_t atMs;
  SimCommandRecord record;
};

// Records every command the drive receives with the virtual time it arrived at.
void Watch(Rig& rig, VirtualThreads& threads, std::vector<Sent>* sent) {
  rig.drive.SetObserver([&threads, sent](const SimCommandRecord& record) {
    sent->push_back({threads.NowMs(), record});
  });
  // The drive's own delays pass on the same clock.
  rig.drive.SetSleepHook([&threads](std::uint32_t ms) { threads.Sleep(ms); });
}

std::vector<std::uint8_t> Cdb(const SimCommandRecord& record) {
  return std::vector<std::uint8_t>(record.cdb.begin(), record.cdb.begin() + record.cdbLength);
}

struct MonitorView : DownloadMonitorView {
  explicit MonitorView(HostMessageLoop& loop) : loop(loop) {}
  HostMessageLoop& loop;
  std::vector<int> progress;
  int waitCursors = 0;
  int refreshes = 0;
  void BeginWaitCursor() override { ++waitCursors; }
  bool SetTimer(std::uint32_t id, std::uint32_t periodMs) override {
    return loop.SetTimer(id, periodMs);
  }
  void KillTimer(std::uint32_t id) override { loop.KillTimer(id); }
  void SetProgress(int position) override { progress.push_back(position); }
  void Refresh() override { ++refreshes; }
};

// Starts the worker through the monitor and feeds it timer events until an outcome.
struct WatchedRun {
  MonitorOutcome outcome = MonitorOutcome::NotOurs;
  std::vector<int> progress;
  int events = 0;
  std::uint64_t endedAtMs = 0;
};

WatchedRun RunWatched(VirtualThreads& threads, DownloadRequest& request) {
  HostMessageLoop loop(threads);
  MonitorView view(loop);
  DownloadMonitor monitor(threads, view);
  WatchedRun run;
  loop.SetTimerHandler([&](std::uint32_t id) {
    ++run.events;
    MonitorOutcome outcome = monitor.Step(id);
    if (outcome != MonitorOutcome::Running) run.outcome = outcome;
  });
  EXPECT_TRUE(monitor.Start(&request));
  EXPECT_EQ(view.waitCursors, 1);
  EXPECT_TRUE(loop.RunUntil([&] { return run.outcome != MonitorOutcome::NotOurs; }, 1000000));
  EXPECT_FALSE(loop.HasTimer(download::kTimerId));
  EXPECT_EQ(monitor.Step(download::kTimerId), MonitorOutcome::NotOurs);  // no longer watched
  run.progress = view.progress;
  run.endedAtMs = threads.NowMs();
  return run;
}

// Each worker test starts with image 0 chosen and no drive tables, whatever ran
// before it. (Named as the suite; the worker itself is qx::DownloadWorker here.)
class DownloadWorker : public ::testing::Test {
  FreshProcessScope fresh;
};

TEST_F(DownloadWorker, FullRunSendsThePagesInOrderWithItsWaitsAndUpdatesTheDrive) {
  Rig rig;  // revision 1005, family 0
  std::vector<Sent> sent;
  VirtualThreads threads;
  Watch(rig, threads, &sent);
  DownloadRequest request{0, rig.device.get(), &threads, nullptr};

  WatchedRun run = RunWatched(threads, request);
  EXPECT_EQ(run.outcome, MonitorOutcome::Succeeded);
  EXPECT_EQ(rig.drive.Revision(), "1009");
  EXPECT_EQ(rig.drive.UpdatesTaken(), 1);
  EXPECT_TRUE(rig.drive.TrayOpen());

  // Unlock, eject, the seven pages, then the INQUIRY that finds the new revision.
  ASSERT_EQ(sent.size(), 10u);
  EXPECT_EQ(sent[9].record.cdb[0], 0x12);
  EXPECT_EQ(sent[9].atMs, 127500u);
  EXPECT_TRUE(request.revisionAnswered);
  EXPECT_EQ(request.revision, "1009");
  EXPECT_EQ(Cdb(sent[0].record), (std::vector<std::uint8_t>{0x1E, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Cdb(sent[1].record), (std::vector<std::uint8_t>{0x1B, 0, 0, 0, 2, 0}));
  EXPECT_EQ(sent[1].atMs, 0u);
  const std::vector<std::uint8_t> headerOnly{0x1D, 0, 0, 0, 8, 0};
  const std::vector<std::uint8_t> dataPage{0x1D, 0, 0, 0x80, 8, 0};
  struct Expected {
    std::vector<std::uint8_t> cdb;
    std::uint32_t length;
    Page page;
    std::uint64_t atMs;
  };
  const Expected pages[] = {
      {headerOnly, 8, {0x88, 0, 0x00, 0x04, 0, 0xF0, 0x00, 0}, 122000},
      {headerOnly, 8, {0x88, 0, 0x00, 0x04, 0, 0xF0, 0xFF, 0}, 125000},
      {dataPage, 32776, {0x88, 0, 0x80, 0x04, 0, 0xC0, 1, 0}, 125500},
      {dataPage, 32776, {0x88, 0, 0x80, 0x04, 0, 0xC0, 2, 0}, 125500},
      {dataPage, 32776, {0x88, 0, 0x80, 0x04, 0, 0xC0, 3, 0}, 125500},
      {dataPage, 32776, {0x88, 0, 0x80, 0x04, 0, 0xC0, 4, 0}, 125500},
      {headerOnly, 8, {0x88, 0, 0x00, 0x04, 0, 0xC0, 0x00, 0}, 125500},
  };
  for (int i = 0; i < 7; ++i) {
    const SimCommandRecord& record = sent[i + 2].record;
    EXPECT_EQ(Cdb(record), pages[i].cdb) << i;
    EXPECT_EQ(record.length, pages[i].length) << i;
    EXPECT_EQ(record.parameters, pages[i].page) << i;
    EXPECT_EQ(record.status, 0) << i;
    EXPECT_EQ(sent[i + 2].atMs, pages[i].atMs) << i;
  }

  std::vector<std::uint32_t> workerSleeps;
  for (const auto& sleep : threads.Sleeps()) {
    if (sleep.onWorker) workerSleeps.push_back(sleep.milliseconds);
  }
  EXPECT_EQ(workerSleeps, (std::vector<std::uint32_t>{2000, 60000, 60000, 3000, 500, 2000}));

  // The worker ends at 127.5 s; the 43rd event (129 s) finds it ended. The bar
  // went 2, 4, ... 86 and then to 100.
  EXPECT_EQ(run.events, 43);
  EXPECT_EQ(run.endedAtMs, 129000u);
  std::vector<int> expected;
  for (int position = 2; position <= 86; position += 2) expected.push_back(position);
  expected.push_back(100);
  EXPECT_EQ(run.progress, expected);
}

TEST_F(DownloadWorker, SlowDriveTimesOutAtTheHundredthEventWithTheBarHeldAt94) {
  Rig rig;
  std::vector<Sent> sent;  // outlives the threads: the observer writes to it
  VirtualThreads threads;
  Watch(rig, threads, &sent);
  ASSERT_TRUE(rig.drive.Faults().Add("send:page=2:delay=400000"));
  DownloadRequest request{0, rig.device.get(), &threads, nullptr};

  WatchedRun run = RunWatched(threads, request);
  EXPECT_EQ(run.outcome, MonitorOutcome::TimedOut);
  EXPECT_EQ(run.events, 100);
  EXPECT_EQ(run.endedAtMs, 300000u);
  ASSERT_EQ(run.progress.size(), 48u);  // 2, then 46 steps to 94, then 0
  for (std::size_t i = 0; i + 1 < run.progress.size(); ++i) {
    EXPECT_EQ(run.progress[i], 2 * static_cast<int>(i + 1));
  }
  EXPECT_EQ(run.progress.back(), 0);
  // The time-out does not stop the worker: it goes on to finish the update.
  threads.AdvanceTo(600000);
  EXPECT_TRUE(threads.AllEnded());
  EXPECT_EQ(rig.drive.Revision(), "1009");
}

// Runs the worker on this thread: its waits then move the clock themselves.
std::uint32_t RunDirect(Rig& rig, VirtualThreads& threads, const ImageTable* images = nullptr) {
  DownloadRequest request{0, rig.device.get(), &threads, images};
  return qx::DownloadWorker::Run(&request);
}

TEST_F(DownloadWorker, FailedDataPageStopsThereAndTheMonitorReportsFailure) {
  Rig rig;
  std::vector<Sent> sent;  // outlives the threads: the observer writes to it
  VirtualThreads threads;
  Watch(rig, threads, &sent);
  ASSERT_TRUE(rig.drive.Faults().Add("send:page=3:sense=04/44/00"));
  DownloadRequest request{0, rig.device.get(), &threads, nullptr};

  WatchedRun run = RunWatched(threads, request);
  EXPECT_EQ(run.outcome, MonitorOutcome::Failed);
  EXPECT_EQ(run.progress.back(), 0);
  ASSERT_FALSE(sent.empty());
  const SimCommandRecord& last = sent.back().record;
  EXPECT_EQ(last.parameters[5], 0xC0);
  EXPECT_EQ(last.parameters[6], 3);  // neither page 4 nor the closing page followed
  EXPECT_EQ(rig.drive.Revision(), "1005");
}

TEST_F(DownloadWorker, ChangedStoredByteIsCaughtByExactlyOneLaneBeforeAnyCommand) {
  const ImageTable& builtIn = BuiltInImages();
  const FirmwareImage& original = builtIn.Image(0);
  std::vector<std::uint8_t> stored(original.storedBytes, original.storedBytes + kImageSize);
  stored[70000] ^= 0x01;
  FirmwareImage damaged = original;
  damaged.storedBytes = stored.data();
  ImageTable table{{&damaged, builtIn.records[1]}, builtIn.unscrambleTable};

  std::vector<std::uint8_t> plain(kImageSize);
  Unscramble(stored.data(), *table.unscrambleTable, plain.data(), kImageSize);
  std::array<std::uint32_t, 13> sums = LaneSums(plain.data(), kImageSize);
  int differing = 0;
  for (int lane = 0; lane < 13; ++lane) differing += sums[lane] != original.checksumRow[lane];
  EXPECT_EQ(differing, 1);

  Rig rig;
  VirtualThreads threads;
  EXPECT_EQ(RunDirect(rig, threads, &table), download::kExitFailure);
  EXPECT_TRUE(rig.drive.Log().empty());
  EXPECT_TRUE(threads.Sleeps().empty());
  EXPECT_FALSE(rig.drive.TrayOpen());

  // The untouched table passes the same check (and the whole update).
  EXPECT_EQ(RunDirect(rig, threads, &builtIn), download::kExitSuccess);
}

TEST_F(DownloadWorker, DriveRefusesTheImageSentWithoutUnscrambling) {
  const ImageTable& builtIn = BuiltInImages();
  const FirmwareImage& original = builtIn.Image(0);
  // An identity table sends the stored bytes as they are; a row computed over them
  // lets them past the worker's own check, so only the drive can notice.
  std::array<std::uint8_t, 256> identity{};
  for (int i = 0; i < 256; ++i) identity[i] = static_cast<std::uint8_t>(i);
  FirmwareImage scrambled = original;
  std::array<std::uint32_t, 13> sums = LaneSums(original.storedBytes, kImageSize);
  for (int lane = 0; lane < 13; ++lane) scrambled.checksumRow[lane] = sums[lane];
  ImageTable table{{&scrambled, builtIn.records[1]}, &identity};

  Rig rig;
  VirtualThreads threads;
  EXPECT_EQ(RunDirect(rig, threads, &table), download::kExitFailure);
  EXPECT_EQ(rig.drive.Revision(), "1005");
  EXPECT_NE(rig.drive.LastImageCheck(), firmware::ImageCheck::Ok);
  EXPECT_EQ(rig.drive.UpdatesTaken(), 0);
}

TEST_F(DownloadWorker, TransportTooNarrowForADataPageIsRefusedBeforeTheEject) {
  Rig rig(SimDriveConfig(), 32768);  // room for the data but not its header
  VirtualThreads threads;
  EXPECT_EQ(RunDirect(rig, threads), download::kExitFailure);
  EXPECT_TRUE(rig.drive.Log().empty());
  EXPECT_FALSE(rig.drive.TrayOpen());
  EXPECT_TRUE(threads.Sleeps().empty());

  Rig wideEnough(SimDriveConfig(), download::kBlockSize);
  EXPECT_EQ(RunDirect(wideEnough, threads), download::kExitSuccess);
}

TEST_F(DownloadWorker, FamilySevenImageGoesToAFamilySevenDrive) {
  SimDriveConfig config;
  config.revision = "1702";
  Rig rig(config);
  VirtualThreads threads;
  selectedImageIndex = 1;
  EXPECT_EQ(RunDirect(rig, threads), download::kExitSuccess);
  EXPECT_EQ(rig.drive.Revision(), "1709");

  // The other family's image is one the drive will not take.
  Rig other(config);
  selectedImageIndex = 0;
  EXPECT_EQ(RunDirect(other, threads), download::kExitFailure);
  EXPECT_EQ(other.drive.Revision(), "1702");
}

struct StartFixture {
  StartFixture() : loop(threads), view(loop), monitor(threads, view) {}
  VirtualThreads threads;
  HostMessageLoop loop;
  MonitorView view;
  DownloadMonitor monitor;
  DownloadRequest request{0, nullptr, nullptr, nullptr};  // ends at once with 1
};

TEST(DownloadMonitor, ResumeThatNeverBringsTheCountDownFailsOnTheEleventhCall) {
  StartFixture f;
  f.threads.SetResumeMode(VirtualThreads::ResumeMode::CountStaysHigh);
  EXPECT_FALSE(f.monitor.Start(&f.request));
  EXPECT_EQ(f.threads.ResumeCalls(), 11);
  EXPECT_FALSE(f.loop.HasTimer(download::kTimerId));
  EXPECT_EQ(f.view.progress, std::vector<int>{2});
  EXPECT_EQ(f.monitor.MonitorTicks(), 1);
}

TEST(DownloadMonitor, EveryOtherStartFailure) {
  {
    StartFixture f;
    f.threads.SetResumeMode(VirtualThreads::ResumeMode::Fails);
    EXPECT_FALSE(f.monitor.Start(&f.request));
    EXPECT_EQ(f.threads.ResumeCalls(), 1);
  }
  {
    StartFixture f;
    f.threads.SetCreateFails(true);
    EXPECT_FALSE(f.monitor.Start(&f.request));
    EXPECT_EQ(f.threads.ResumeCalls(), 0);
  }
  {
    StartFixture f;
    f.threads.SetDuplicateFails(true);
    EXPECT_FALSE(f.monitor.Start(&f.request));
    EXPECT_EQ(f.threads.ResumeCalls(), 0);  // a thread we cannot watch is never started
  }
  {
    StartFixture f;
    f.loop.SetTimerFails(true);
    EXPECT_FALSE(f.monitor.Start(&f.request));
    EXPECT_EQ(f.monitor.CurrentState(), DownloadMonitor::State::Idle);
    EXPECT_EQ(f.monitor.Step(download::kTimerId), MonitorOutcome::NotOurs);
  }
}

TEST(DownloadMonitor, OtherTimersPassUntouchedAndAWorkerFailureEndsTheWatch) {
  StartFixture f;
  ASSERT_TRUE(f.monitor.Start(&f.request));
  f.threads.WaitUntilIdle();
  EXPECT_EQ(f.monitor.Step(108), MonitorOutcome::NotOurs);
  EXPECT_EQ(f.view.progress, std::vector<int>{2});
  EXPECT_EQ(f.monitor.Step(download::kTimerId), MonitorOutcome::Failed);
  EXPECT_EQ(f.monitor.LastExitCode(), 1u);
  EXPECT_EQ(f.view.progress, (std::vector<int>{2, 0}));
  EXPECT_EQ(f.monitor.CurrentState(), DownloadMonitor::State::Done);
}

}  // namespace
}  // namespace qx
