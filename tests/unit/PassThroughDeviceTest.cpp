// One pass-through request at a time: the request block, the length checks, the
// in-use guard, the failure messages and what the caller's buffer receives.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "RecordingPassThroughPort.h"
#include "device/PassThroughDevice.h"
#include "platform/PassThroughRequest.h"
#include "sim/FreshProcessScope.h"

namespace qx {
namespace {

using devicetest::Answer;
using devicetest::CheckCondition;
using devicetest::InquiryData;
using devicetest::Request;
using Bytes = std::vector<std::uint8_t>;

// Counts the attempts the retry rule makes.
class CountingDevice : public PassThroughDevice {
 public:
  using PassThroughDevice::PassThroughDevice;
  int attempts = 0;
  CommandStatus ExecuteOnce(std::uint8_t* cdb, std::uint8_t length,
                            std::uint32_t timeoutSeconds) override {
    ++attempts;
    return PassThroughDevice::ExecuteOnce(cdb, length, timeoutSeconds);
  }
};

class PassThroughDeviceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(0, port.openHandles) << "a handle was left open";
    for (std::uint8_t i = 0; i < PassThroughDevice::kSlotCount; ++i) {
      EXPECT_EQ(0, PassThroughDevice::InUseFlag(i)) << "slot " << int(i);
    }
  }
  // Lists one target drive on E: with the given maximum and selects it.
  void ListDriveE(std::uint32_t maxTransfer) {
    devicetest::FakeDrive& e = port.Drive('E');
    e.inquiry = InquiryData(5, "VELMORA ", "DVD-ROM QX-M4471", "1009");
    e.maxTransfer = maxTransfer;
    ASSERT_EQ(1, device.ScanDrives());
    ASSERT_EQ(maxTransfer < 0x20000 ? maxTransfer : 0x20000u, device.MaxTransferLength(0));
    device.SelectDrive(0);
    port.requests.clear();
    port.opened.clear();
  }
  const Request& Only() {
    EXPECT_EQ(1u, port.requests.size());
    return port.requests.back();
  }
  FreshProcessScope fresh;
  devicetest::RecordingPassThroughPort port;
  devicetest::DeviceTestSystem system;
  Platform platform{&system, nullptr, &port, nullptr, nullptr};
  CountingDevice device{platform};
};

TEST_F(PassThroughDeviceTest, InquiryFillsEveryFieldOfTheRequestBlock) {
  ListDriveE(0x10000);
  Bytes data(44, 0xEE);
  device.SetBuffer(data.data(), 44);
  ASSERT_EQ(status::kGood, device.Inquiry(44));
  const Request& r = Only();
  EXPECT_EQ("\\\\.\\E:", r.path);
  // 44 in the shipped 32-bit build (pinned there at compile time); the size of the
  // build's own structure everywhere, since a 64-bit port refuses the 32-bit size.
  EXPECT_EQ(sizeof(ScsiPassThroughDirect), r.spt.Length);
  EXPECT_EQ(0, r.spt.ScsiStatus);
  EXPECT_EQ(0, r.spt.PathId);
  EXPECT_EQ(1, r.spt.TargetId);
  EXPECT_EQ(0, r.spt.Lun);
  EXPECT_EQ(6, r.spt.CdbLength);
  EXPECT_EQ(24, r.spt.SenseInfoLength);
  EXPECT_EQ(1, r.spt.DataIn);
  EXPECT_EQ(44u, r.spt.DataTransferLength);
  EXPECT_EQ(200u, r.spt.TimeOutValue);
  EXPECT_EQ(offsetof(PassThroughRequest, senseData), r.spt.SenseInfoOffset);
  const std::uint8_t cdb[16] = {0x12, 0, 0, 0, 0x2C, 0};
  EXPECT_EQ(0, std::memcmp(cdb, r.spt.Cdb, 16));
  // The data starts on the first 16-byte boundary past the staging start.
  const std::ptrdiff_t into = r.dataOffset - std::ptrdiff_t(offsetof(PassThroughRequest, staging));
  EXPECT_GE(into, 1);
  EXPECT_LE(into, 16);
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(r.spt.DataBuffer);
  const std::uintptr_t staging = start - std::uintptr_t(into);
  EXPECT_EQ((staging + 16) & ~std::uintptr_t(15), start);
  // The block is zeroed before the caller's bytes go in, and those bytes do go in.
  EXPECT_EQ(Bytes(44, 0xEE), r.dataOut);
  EXPECT_EQ(InquiryData(5, "VELMORA ", "DVD-ROM QX-M4471", "1009"), data);
}

TEST_F(PassThroughDeviceTest, DirectionAndLengthFollowTheCommand) {
  ListDriveE(0x10000);
  Bytes page(32776);
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const Bytes sentPage = page;
  device.SetBuffer(page.data(), static_cast<std::uint32_t>(page.size()));
  ASSERT_EQ(status::kGood, device.SendDiagnostic(0, 32776));
  EXPECT_EQ(0, port.requests[0].spt.DataIn);
  EXPECT_EQ(32776u, port.requests[0].spt.DataTransferLength);
  EXPECT_EQ(sentPage, port.requests[0].dataOut);

  Bytes reply(16, 0x5C);
  device.SetBuffer(reply.data(), 16);
  ASSERT_EQ(status::kGood, device.StartStopUnit(false, false, true));
  ASSERT_EQ(status::kGood, device.PreventAllowMediumRemoval(false));
  ASSERT_EQ(status::kGood, device.TestUnitReady());
  for (std::size_t i = 1; i <= 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(2, port.requests[i].spt.DataIn);
    EXPECT_EQ(0u, port.requests[i].spt.DataTransferLength);
  }
  EXPECT_EQ(Bytes(16, 0x5C), reply);
  ASSERT_EQ(status::kGood, device.ReceiveDiagnosticResults(16));
  EXPECT_EQ(1, port.requests[4].spt.DataIn);
  EXPECT_EQ(16u, port.requests[4].spt.DataTransferLength);

  Bytes block(2048);
  device.SetBuffer(block.data(), 2048);
  ASSERT_EQ(status::kGood, device.Read10(16, 1, false, false));
  EXPECT_EQ(1, port.requests[5].spt.DataIn);
  EXPECT_EQ(10, port.requests[5].spt.CdbLength);
  EXPECT_EQ((Bytes{0x28, 0, 0, 0, 0, 0x10, 0, 0, 1, 0}), port.requests[5].cdb());
  EXPECT_EQ(0, port.requests[5].spt.Cdb[10]);
}

TEST_F(PassThroughDeviceTest, DataInStopsAtTheTransferLength) {
  ListDriveE(0x10000);
  Answer answer;
  answer.dataIn = Bytes(64, 0xA5);
  port.Drive('E').script = {answer};
  Bytes buffer(20, 0x11);
  device.SetBuffer(buffer.data(), 16);
  ASSERT_EQ(status::kGood, device.ReceiveDiagnosticResults(16));
  EXPECT_EQ(Bytes(16, 0xA5), Bytes(buffer.begin(), buffer.begin() + 16));
  EXPECT_EQ(Bytes(4, 0x11), Bytes(buffer.begin() + 16, buffer.end()));
}

TEST_F(PassThroughDeviceTest, LengthEqualToTheMaximumPassesOneMoreIsRefused) {
  ListDriveE(4096);
  Bytes buffer(4097, 0x33);
  device.SetBuffer(buffer.data(), 4096);
  EXPECT_EQ(status::kGood, device.Read10(16, 2, false, false));
  EXPECT_EQ(1u, port.requests.size());

  device.SetBuffer(buffer.data(), 4097);
  device.attempts = 0;
  EXPECT_EQ(status::kBufferTooBig, device.Read10(16, 2, false, false));
  EXPECT_EQ("Buffer Too Big", device.GetLastMessage());
  EXPECT_EQ(1, device.attempts);
  EXPECT_EQ(1u, port.opened.size()) << "a refused transfer must not open the drive";

  // The refusal left the slot free: the next command is not taken for a busy drive.
  device.SetBuffer(buffer.data(), 44);
  EXPECT_EQ(status::kGood, device.Inquiry(44));
  EXPECT_EQ(2u, port.requests.size());
}

TEST_F(PassThroughDeviceTest, TransferLargerThanTheStagingAreaIsNeverStaged) {
  ListDriveE(0x40000);  // the driver allows 131072
  // 36848 bytes always fit, whatever the block's alignment.
  Bytes fits(36848, 0x42);
  device.SetBuffer(fits.data(), 36848);
  EXPECT_EQ(status::kGood, device.SendDiagnostic(0, 36848));
  EXPECT_EQ(Bytes(36848, 0x42), port.requests.back().dataOut);

  for (std::uint32_t length : {36864u, 40000u, 131072u}) {
    SCOPED_TRACE(length);
    Bytes big(length, 0x24);
    port.opened.clear();
    device.SetBuffer(big.data(), length);
    EXPECT_EQ(status::kBufferTooBig, device.Read10(0, 1, false, false));
    EXPECT_EQ("Buffer Too Big", device.GetLastMessage());
    EXPECT_TRUE(port.opened.empty());
    EXPECT_EQ(Bytes(length, 0x24), big);
  }
}

TEST_F(PassThroughDeviceTest, BusySlotIsRefusedAtOnceAndStaysBusy) {
  ListDriveE(0x10000);
  // A unit attention left in the sense record by the previous command must not make
  // the refusal repeat.
  port.Drive('E').script = {CheckCondition(sense::kUnitAttention, 0x29, 0)};
  device.SetBuffer(nullptr, 0);
  device.TestUnitReady();
  port.opened.clear();
  port.Drive('E').script.clear();

  PassThroughDevice::InUseFlag(0) = 1;
  device.attempts = 0;
  Bytes data(44, 0x77);
  device.SetBuffer(data.data(), 44);
  EXPECT_EQ(status::kInUse, device.Inquiry(44));
  EXPECT_EQ("Inuse", device.GetLastMessage());
  EXPECT_EQ(1, device.attempts);
  EXPECT_TRUE(port.opened.empty());
  EXPECT_EQ(1, PassThroughDevice::InUseFlag(0));
  EXPECT_EQ(Bytes(44, 0x77), data);
  std::uint8_t asc = 0xFF, ascq = 0xFF;
  device.GetSenseCodes(&asc, &ascq);
  EXPECT_EQ(0, asc);
  EXPECT_EQ(0, ascq);
  PassThroughDevice::InUseFlag(0) = 0;
}

TEST_F(PassThroughDeviceTest, UnopenableDriveReportsTheRuntimeTextOnce) {
  ListDriveE(0x10000);
  port.Drive('E').openError = 5;
  device.attempts = 0;
  Bytes data(44, 0x66);
  device.SetBuffer(data.data(), 44);
  EXPECT_EQ(status::kError, device.Inquiry(44));
  EXPECT_EQ(std::string("Get Handle Error: 5\n") + std::strerror(5), device.GetLastMessage());
  EXPECT_EQ(1, device.attempts);
  EXPECT_TRUE(port.requests.empty());
  EXPECT_EQ(Bytes(44, 0x66), data);

  system.codePage = 932;
  EXPECT_EQ(status::kError, device.Inquiry(44));
  EXPECT_EQ(std::string("ハンドル取得に失敗しました: 5\n") + std::strerror(5),
            device.GetLastMessage());
}

TEST_F(PassThroughDeviceTest, RefusedRequestStillCopiesBackAndNamesTheError) {
  ListDriveE(0x10000);
  port.systemTexts[1117] = "The request could not be performed because of an I/O device error.\r\n";
  Answer refusal;
  refusal.refuse = true;
  refusal.error = 1117;
  refusal.dataIn = Bytes(8, 0xD0);  // the driver had written part of the data
  port.Drive('E').script = {refusal};
  Bytes data(16, 0x10);
  device.SetBuffer(data.data(), 16);
  device.attempts = 0;
  EXPECT_EQ(status::kError, device.ReceiveDiagnosticResults(16));
  EXPECT_EQ(1, device.attempts);
  EXPECT_EQ(80u, port.formatMessageSize);
  EXPECT_EQ(std::string("Error opening . Error: 1117\n") +
                "The request could not be performed because of an I/O device error.\r\n",
            device.GetLastMessage());
  Bytes expected(16, 0x10);
  std::fill(expected.begin(), expected.begin() + 8, 0xD0);
  EXPECT_EQ(expected, data);

  // A refusal whose own text the system cannot give.
  refusal.error = 31;
  refusal.dataIn.clear();
  port.Drive('E').script = {refusal};
  EXPECT_EQ(status::kError, device.ReceiveDiagnosticResults(16));
  EXPECT_EQ("Error opening . Error: 31\nFormat message failed.  Error: 317\n",
            device.GetLastMessage());
  EXPECT_EQ(expected, data) << "an untouched staging area gives the caller its own data back";
}

TEST_F(PassThroughDeviceTest, CheckConditionKeepsSenseAndShowsThreeBytes) {
  ListDriveE(0x10000);
  Answer answer = CheckCondition(sense::kIllegalRequest, 0x24, 0x00);
  answer.sense.resize(24, 0);
  answer.sense[7] = 16;
  answer.sense[19] = 0x5A;
  answer.dataIn = Bytes(8, 0xC3);
  port.Drive('E').script = {answer};
  Bytes data(16, 0);
  device.SetBuffer(data.data(), 16);
  EXPECT_EQ(status::kError, device.ReceiveDiagnosticResults(16));
  EXPECT_EQ(" 24-00 (5A)", device.GetLastMessage());
  std::uint8_t asc = 0xFF, ascq = 0xFF;
  device.GetSenseCodes(&asc, &ascq);
  EXPECT_EQ(0x24, asc);
  EXPECT_EQ(0x00, ascq);
  EXPECT_EQ(sense::kIllegalRequest, device.Sense().SenseKey());
  EXPECT_EQ(24u, device.SenseLength());
  EXPECT_EQ(2, device.TargetStatus());
  EXPECT_EQ(0xC3, data[0]);
  EXPECT_EQ(1u, port.requests.size());

  // The next GOOD command leaves nothing of it behind.
  EXPECT_EQ(status::kGood, device.ReceiveDiagnosticResults(16));
  EXPECT_EQ("", device.GetLastMessage());
  EXPECT_EQ(SenseRecord().bytes[0], device.Sense().bytes[0]);
  EXPECT_EQ(0, std::memcmp(SenseRecord().bytes, device.Sense().bytes, 14));
  EXPECT_EQ(8u, device.SenseLength());
  EXPECT_EQ(0, device.TargetStatus());
}

TEST_F(PassThroughDeviceTest, OtherTargetStatusesUseThePassThroughTable) {
  ListDriveE(0x10000);
  const struct {
    std::uint8_t scsiStatus;
    const char* text;
  } cases[] = {{0x08, "Target Busy."},
               {0x18, "Reservation Conflict."},
               {0x28, "Queue Full."},
               {0x40, "Unknown Target status:40"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Answer answer;
    answer.scsiStatus = c.scsiStatus;
    port.Drive('E').script = {answer};
    device.SetBuffer(nullptr, 0);
    EXPECT_EQ(status::kError, device.TestUnitReady());
    EXPECT_EQ(c.text, device.GetLastMessage());
    EXPECT_EQ(c.scsiStatus, device.TargetStatus());
  }
}

TEST_F(PassThroughDeviceTest, UnitAttentionIsRepeatedSevenTimesNotReadyOnce) {
  ListDriveE(0x10000);
  port.Drive('E').script = {CheckCondition(sense::kUnitAttention, 0x29, 0)};
  port.Drive('E').repeatLast = true;
  Bytes block(2048);
  device.SetBuffer(block.data(), 2048);
  EXPECT_EQ(status::kError, device.Read10(16, 1, false, false));
  EXPECT_EQ(7u, port.requests.size());
  EXPECT_EQ(" 29-00 (00)", device.GetLastMessage());

  port.requests.clear();
  port.Drive('E').script = {CheckCondition(sense::kNotReady, 0x3A, 0)};
  EXPECT_EQ(status::kError, device.Read10(16, 1, false, false));
  EXPECT_EQ(1u, port.requests.size());

  port.requests.clear();
  port.Drive('E').repeatLast = false;
  port.Drive('E').script = {CheckCondition(sense::kUnitAttention, 0x28, 0),
                            CheckCondition(sense::kUnitAttention, 0x29, 0), Answer()};
  EXPECT_EQ(status::kGood, device.Read10(16, 1, false, false));
  EXPECT_EQ(3u, port.requests.size());
}

}  // namespace
}  // namespace qx
