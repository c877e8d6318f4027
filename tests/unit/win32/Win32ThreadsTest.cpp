// The Threads seam against real threads.
#include <gtest/gtest.h>

#include "platform/win32/Win32Api.h"

#include "platform/win32/Win32Threads.h"

namespace qx {
namespace {

// Set by the worker when it runs; the test reads it only after the thread has
// been resumed and waited for, or while it is certainly still suspended.
struct Work {
  volatile LONG ran = 0;
  std::uint32_t exitCode = 0;
};

std::uint32_t RunWork(void* argument) {
  Work* work = static_cast<Work*>(argument);
  ::InterlockedExchange(const_cast<LONG*>(&work->ran), 1);
  return work->exitCode;
}

// Polls through the given handle until the thread has ended; false after 5 s.
bool WaitForExit(Win32Threads& threads, ThreadRef handle, std::uint32_t* exitCode) {
  for (int i = 0; i < 500; ++i) {
    if (!threads.GetExitCodeThread(handle, exitCode)) return false;
    if (*exitCode != thread::kStillActive) return true;
    threads.Sleep(10);
  }
  return false;
}

TEST(Win32Threads, SuspendedThreadRunsOnlyAfterResumeAndHandsBackItsExitCode) {
  Win32Threads threads;
  Work work;
  work.exitCode = 1;
  const ThreadRef thread = threads.CreateSuspended(RunWork, &work);
  ASSERT_NE(thread, 0u);

  ThreadRef duplicate = 0;
  ASSERT_TRUE(threads.DuplicateHandle(thread, &duplicate));
  ASSERT_NE(duplicate, 0u);
  EXPECT_NE(duplicate, thread);

  threads.Sleep(200);
  EXPECT_EQ(work.ran, 0);
  std::uint32_t exitCode = 0;
  ASSERT_TRUE(threads.GetExitCodeThread(duplicate, &exitCode));
  EXPECT_EQ(exitCode, thread::kStillActive);

  EXPECT_EQ(threads.ResumeThread(thread), 1u);  // it was suspended once
  // The thread object goes first: the exit code must still be readable through
  // the duplicate.
  threads.CloseHandle(thread);
  ASSERT_TRUE(WaitForExit(threads, duplicate, &exitCode));
  EXPECT_EQ(exitCode, 1u);
  EXPECT_EQ(work.ran, 1);
  threads.CloseHandle(duplicate);
}

TEST(Win32Threads, ResumeReportsThePreviousSuspendCount) {
  Win32Threads threads;
  Work work;
  work.exitCode = 0;
  const ThreadRef thread = threads.CreateSuspended(RunWork, &work);
  ASSERT_NE(thread, 0u);
  // Suspend twice more: the count goes 1 -> 3 and comes down one per resume.
  ASSERT_EQ(::SuspendThread(reinterpret_cast<HANDLE>(thread)), 1u);
  ASSERT_EQ(::SuspendThread(reinterpret_cast<HANDLE>(thread)), 2u);
  EXPECT_EQ(threads.ResumeThread(thread), 3u);
  EXPECT_EQ(threads.ResumeThread(thread), 2u);
  threads.Sleep(50);
  EXPECT_EQ(work.ran, 0);
  EXPECT_EQ(threads.ResumeThread(thread), 1u);
  std::uint32_t exitCode = thread::kStillActive;
  ASSERT_TRUE(WaitForExit(threads, thread, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(threads.ResumeThread(thread), 0u);  // a running or ended thread
  threads.CloseHandle(thread);
}

TEST(Win32Threads, BadHandlesFailInsteadOfAnswering) {
  Win32Threads threads;
  EXPECT_EQ(threads.CreateSuspended(nullptr, nullptr), 0u);
  ThreadRef duplicate = 0;
  EXPECT_FALSE(threads.DuplicateHandle(0, &duplicate));
  EXPECT_EQ(threads.ResumeThread(0), thread::kResumeFailed);
  std::uint32_t exitCode = 0;
  EXPECT_FALSE(threads.GetExitCodeThread(0, &exitCode));
}

TEST(Win32Threads, TimeFollowsTheSystemClockInSeconds) {
  Win32Threads threads;
  SYSTEMTIME now = {};
  ::GetSystemTime(&now);
  const std::int64_t seconds = threads.Time();
  // 2020-01-01 and 2200-01-01 as seconds since 1970: a clock off by a factor or
  // an epoch shows up here.
  EXPECT_GT(seconds, 1577836800);
  EXPECT_LT(seconds, 7258118400);
  // Whole days since 1970 agree with the calendar date the system reports.
  const std::int64_t day = seconds / 86400;
  const int year = now.wYear;
  std::int64_t days = 0;
  for (int y = 1970; y < year; ++y) days += (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)) ? 366 : 365;
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  for (int m = 1; m < now.wMonth; ++m) days += kMonthDays[m - 1] + (m == 2 && leap ? 1 : 0);
  days += now.wDay - 1;
  EXPECT_LE(day - days, 1);  // at most a midnight between the two reads
  EXPECT_GE(day - days, 0);
}

}  // namespace
}  // namespace qx
