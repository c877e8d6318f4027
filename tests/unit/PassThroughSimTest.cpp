// The pass-through transport against the simulated drive and port: the power-on
// unit attention, a refused eject and a request that never completes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "RecordingPassThroughPort.h"
#include "device/PassThroughDevice.h"
#include "sim/FreshProcessScope.h"
#include "sim/SimPassThroughPort.h"

namespace qx {
namespace {

class PassThroughSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port.SetSleepHook([this](std::uint32_t ms) { slept += ms; });
  }
  void TearDown() override {
    EXPECT_EQ(0u, port.OpenHandles());
  }

  FreshProcessScope fresh;
  SimPassThroughPort port;
  devicetest::DeviceTestSystem system;
  Platform platform{&system, nullptr, &port, nullptr, nullptr};
  PassThroughDevice device{platform};
  std::uint64_t slept = 0;
};

TEST_F(PassThroughSimTest, PowerOnUnitAttentionIsAbsorbedByTheRetry) {
  port.AddDrive('E');
  ASSERT_EQ(1, device.ScanDrives());
  device.SelectDrive(0);
  port.ClearRequests();
  std::uint8_t block[2048];
  device.SetBuffer(block, sizeof block);
  EXPECT_EQ(status::kGood, device.Read10(16, 1, false, false));
  ASSERT_EQ(2u, port.Requests().size());
  EXPECT_EQ(0x02, port.Requests()[0].scsiStatus);
  EXPECT_EQ(0x00, port.Requests()[1].scsiStatus);
  EXPECT_EQ("", device.GetLastMessage());

  port.Drive('E')->Faults().Add("read10:ua=forever");
  port.ClearRequests();
  EXPECT_EQ(status::kError, device.Read10(16, 1, false, false));
  EXPECT_EQ(7u, port.Requests().size());
}

TEST_F(PassThroughSimTest, EjectWhilePreventedReportsTheSense) {
  port.AddDrive('E');
  ASSERT_EQ(1, device.ScanDrives());
  device.SelectDrive(0);
  std::uint8_t reply[16] = {};
  device.SetBuffer(reply, sizeof reply);
  EXPECT_EQ(status::kGood, device.PreventAllowMediumRemoval(true));  // after the attention
  EXPECT_EQ(status::kError, device.StartStopUnit(false, false, true));
  std::uint8_t asc = 0, ascq = 0;
  device.GetSenseCodes(&asc, &ascq);
  EXPECT_EQ(0x53, asc);
  EXPECT_EQ(0x02, ascq);
  EXPECT_EQ(0, std::string(device.GetLastMessage()).find(" 53-02 ("));
  EXPECT_FALSE(port.Drive('E')->TrayOpen());

  EXPECT_EQ(status::kGood, device.PreventAllowMediumRemoval(false));
  EXPECT_EQ(status::kGood, device.StartStopUnit(false, false, true));
  EXPECT_TRUE(port.Drive('E')->TrayOpen());
}

TEST_F(PassThroughSimTest, RequestThatNeverCompletesFailsAfterThePortTimeOut) {
  port.AddDrive('E');
  ASSERT_EQ(1, device.ScanDrives());
  device.SelectDrive(0);
  port.Drive('E')->Faults().Add("receive:hang");
  std::uint8_t reply[16];
  std::memset(reply, 0xAB, sizeof reply);
  device.SetBuffer(reply, sizeof reply);
  slept = 0;
  EXPECT_EQ(status::kError, device.ReceiveDiagnosticResults(16));
  EXPECT_EQ(200000u, slept);
  EXPECT_EQ(
      "Error opening . Error: 121\nThe semaphore timeout period has expired.\r\n",
      device.GetLastMessage());
  EXPECT_EQ(0, PassThroughDevice::InUseFlag(0));
  // The next command goes through.
  EXPECT_EQ(status::kGood, device.Inquiry(16));
}

}  // namespace
}  // namespace qx
