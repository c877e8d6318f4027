// The parts that make the simulated program: its scaled waits and its drives kept in
// a state file across the restart.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PassThroughBlock.h"
#include "sim/PersistentSimPort.h"
#include "sim/ScaledThreads.h"

namespace qx {
namespace {

class RecordingThreads : public Threads {
 public:
  std::vector<std::uint32_t> sleeps;
  ThreadRef created = 0;
  ThreadRef CreateSuspended(ThreadProc, void*) override { return created = 0x44; }
  bool DuplicateHandle(ThreadRef thread, ThreadRef* duplicate) override {
    *duplicate = thread + 1;
    return true;
  }
  std::uint32_t ResumeThread(ThreadRef) override { return 1; }
  bool GetExitCodeThread(ThreadRef, std::uint32_t* exitCode) override {
    *exitCode = thread::kStillActive;
    return true;
  }
  void CloseHandle(ThreadRef) override {}
  void Sleep(std::uint32_t milliseconds) override { sleeps.push_back(milliseconds); }
  std::int64_t Time() override { return 1234; }
};

TEST(ScaledThreadsTest, DividesWaitsButKeepsYieldsAndShortWaits) {
  RecordingThreads inner;
  ScaledThreads threads(inner, 40);
  threads.Sleep(0);       // a yield stays a yield, never a real wait
  threads.Sleep(1);       // a wait never becomes a yield
  threads.Sleep(39);
  threads.Sleep(60000);
  threads.Sleep(122000);
  EXPECT_EQ(inner.sleeps, (std::vector<std::uint32_t>{0, 1, 1, 1500, 3050}));
}

TEST(ScaledThreadsTest, PassesThreadsAndClockThrough) {
  RecordingThreads inner;
  ScaledThreads threads(inner, 0);  // no scaling rather than a division by zero
  EXPECT_EQ(threads.Divisor(), 1u);
  threads.Sleep(3000);
  EXPECT_EQ(inner.sleeps.back(), 3000u);
  const ThreadRef t = threads.CreateSuspended(nullptr, nullptr);
  EXPECT_EQ(t, inner.created);
  ThreadRef duplicate = 0;
  ASSERT_TRUE(threads.DuplicateHandle(t, &duplicate));
  EXPECT_EQ(duplicate, t + 1);
  std::uint32_t code = 0;
  ASSERT_TRUE(threads.GetExitCodeThread(duplicate, &code));
  EXPECT_EQ(code, thread::kStillActive);
  EXPECT_EQ(threads.Time(), 1234);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class PersistentSimPortTest : public ::testing::Test {
 protected:
  void TearDown() override { std::remove(path.c_str()); }
  bool Send(PersistentSimPort& port, char letter, std::vector<std::uint8_t> cdb,
            std::uint8_t dataIn = 2, std::uint32_t length = 0) {
    const char device[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
    const PortHandle handle = port.Open(device);
    if (handle == 0) return false;
    PassThroughBlock block(cdb, dataIn, length);
    std::uint32_t returned = 0;
    const bool ok = port.SendPassThrough(handle, block.get(), &returned);
    port.Close(handle);
    return ok;
  }
  // CTest runs these tests side by side, so each needs a file of its own.
  const std::string path = ::testing::TempDir() + "qx-persistent-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                           ".ini";
};

TEST_F(PersistentSimPortTest, MissingFileGivesOneOldDriveAndWritesIt) {
  std::remove(path.c_str());
  PersistentSimPort port(path);
  ASSERT_TRUE(port.Ok()) << port.Error();
  ASSERT_NE(port.Drive('E'), nullptr);
  EXPECT_EQ(port.Drive('E')->Revision(), "1005");
  EXPECT_EQ(port.Saves(), 1);
  EXPECT_NE(ReadFile(path).find("[E]"), std::string::npos);
}

TEST_F(PersistentSimPortTest, SavesAfterARequestThatChangedTheDriveOnly) {
  {
    std::ofstream(path) << "[F]\nrevision = 1709\ntray = closed\n";
  }
  PersistentSimPort port(path);
  ASSERT_TRUE(port.Ok()) << port.Error();
  ASSERT_NE(port.Drive('F'), nullptr);
  EXPECT_EQ(port.Drive('F')->Revision(), "1709");
  EXPECT_EQ(port.Saves(), 0) << "loading alone must not rewrite the file";

  // TEST UNIT READY changes nothing the file keeps (the first answer is the pending
  // unit attention, which the file does not hold either).
  Send(port, 'F', {0x00, 0, 0, 0, 0, 0});
  Send(port, 'F', {0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(port.Saves(), 0);

  // START STOP UNIT with LoEj opens the tray: that must survive a restart.
  ASSERT_TRUE(Send(port, 'F', {0x1B, 0, 0, 0, 0x02, 0}));
  ASSERT_TRUE(port.Drive('F')->TrayOpen());
  EXPECT_EQ(port.Saves(), 1);
  PersistentSimPort reloaded(path);
  ASSERT_TRUE(reloaded.Ok()) << reloaded.Error();
  ASSERT_NE(reloaded.Drive('F'), nullptr);
  EXPECT_TRUE(reloaded.Drive('F')->TrayOpen());
  EXPECT_EQ(reloaded.Drive('F')->Revision(), "1709");
}

TEST_F(PersistentSimPortTest, AFileThatDoesNotParseIsReportedNotReplaced) {
  const std::string broken = "[E]\nrevision = 1005\nfault = send:page=banana\n";
  {
    std::ofstream(path) << broken;
  }
  PersistentSimPort port(path);
  EXPECT_FALSE(port.Ok());
  EXPECT_FALSE(port.Error().empty());
  EXPECT_EQ(ReadFile(path), broken) << "a file the user must fix must not be overwritten";
}

}  // namespace
}  // namespace qx
