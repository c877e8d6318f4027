#include "platform/host/VirtualThreads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace qx {
namespace {

struct Script {
  VirtualThreads* threads = nullptr;
  std::vector<std::uint32_t> sleeps;
  std::vector<std::uint64_t> wokeAt;
  std::uint32_t exitCode = 0;
};

std::uint32_t SleepAndRecord(void* argument) {
  auto* script = static_cast<Script*>(argument);
  for (std::uint32_t ms : script->sleeps) {
    script->threads->Sleep(ms);
    script->wokeAt.push_back(script->threads->NowMs());
  }
  return script->exitCode;
}

std::atomic<int> ranCount{0};
std::uint32_t CountRun(void*) {
  ++ranCount;
  return 7;
}

ThreadRef StartWorker(VirtualThreads& threads, Script& script) {
  ThreadRef thread = threads.CreateSuspended(&SleepAndRecord, &script);
  EXPECT_NE(thread, 0u);
  EXPECT_EQ(threads.ResumeThread(thread), 1u);
  return thread;
}

TEST(VirtualThreads, SuspendedThreadRunsOnlyWhenResumedAndReportsItsExitCode) {
  VirtualThreads threads;
  ranCount = 0;
  ThreadRef thread = threads.CreateSuspended(&CountRun, nullptr);
  ASSERT_NE(thread, 0u);
  ThreadRef duplicate = 0;
  ASSERT_TRUE(threads.DuplicateHandle(thread, &duplicate));
  EXPECT_NE(duplicate, thread);

  std::uint32_t code = 0;
  ASSERT_TRUE(threads.GetExitCodeThread(duplicate, &code));
  EXPECT_EQ(code, thread::kStillActive);
  EXPECT_EQ(ranCount.load(), 0);

  EXPECT_EQ(threads.ResumeThread(thread), 1u);
  EXPECT_EQ(threads.ResumeThread(thread), 0u);  // already running: nothing to undo
  threads.WaitUntilIdle();
  EXPECT_EQ(ranCount.load(), 1);
  // The duplicate stays readable after the original is closed.
  threads.CloseHandle(thread);
  ASSERT_TRUE(threads.GetExitCodeThread(duplicate, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_FALSE(threads.GetExitCodeThread(thread, &code));
}

TEST(VirtualThreads, OwnerSleepMovesTheClockThroughEveryWorkerWake) {
  VirtualThreads threads(1000);
  Script script{&threads, {1000, 1000}, {}, 3};
  StartWorker(threads, script);
  threads.Sleep(5500);
  EXPECT_EQ(script.wokeAt, (std::vector<std::uint64_t>{1000, 2000}));
  EXPECT_EQ(threads.NowMs(), 5500u);
  EXPECT_EQ(threads.Time(), 1005);  // whole seconds, rounded down

  std::vector<VirtualThreads::SleepRecord> sleeps = threads.Sleeps();
  ASSERT_EQ(sleeps.size(), 3u);
  // Resuming runs the worker to its first Sleep before the owner goes on.
  EXPECT_TRUE(sleeps[0].onWorker);
  EXPECT_FALSE(sleeps[1].onWorker);
  EXPECT_EQ(sleeps[1].milliseconds, 5500u);
  EXPECT_TRUE(sleeps[2].onWorker);
  EXPECT_EQ(sleeps[2].startMs, 1000u);
}

TEST(VirtualThreads, DestructionLetsASleepingWorkerFinish) {
  Script script;
  {
    VirtualThreads threads;
    script.threads = &threads;
    script.sleeps = {60000, 60000};
    StartWorker(threads, script);
  }
  EXPECT_EQ(script.wokeAt, (std::vector<std::uint64_t>{60000, 120000}));
}

TEST(HostMessageLoop, TimerEventsInterleaveWithWorkerWakesTheSameWayEveryRun) {
  auto run = [] {
    VirtualThreads threads;
    HostMessageLoop loop(threads);
    Script script{&threads, {2000, 4000, 3000}, {}, 0};
    ThreadRef thread = StartWorker(threads, script);
    std::vector<std::uint64_t> events;
    std::uint32_t codeAtEvent = thread::kStillActive;
    loop.SetTimerHandler([&](std::uint32_t id) {
      EXPECT_EQ(id, 107u);
      events.push_back(threads.NowMs());
      threads.GetExitCodeThread(thread, &codeAtEvent);
    });
    EXPECT_TRUE(loop.SetTimer(107, 3000));
    bool done = loop.RunUntil([&] { return codeAtEvent != thread::kStillActive; }, 100000);
    EXPECT_TRUE(done);
    // Worker wakes at 2000, 6000, 9000 (the end); the event at 9000 comes after it.
    EXPECT_EQ(events, (std::vector<std::uint64_t>{3000, 6000, 9000}));
    EXPECT_EQ(codeAtEvent, 0u);
    EXPECT_TRUE(loop.KillTimer(107));
    EXPECT_FALSE(loop.KillTimer(107));
    return events;
  };
  EXPECT_EQ(run(), run());
}

}  // namespace
}  // namespace qx
