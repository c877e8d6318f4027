// The letter walk of the pass-through transport and the maxima it records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingPassThroughPort.h"
#include "device/PassThroughDevice.h"
#include "device/ScsiDevice.h"
#include "sim/FreshProcessScope.h"

namespace qx {
namespace {

using devicetest::CheckCondition;
using devicetest::InquiryData;

class PassThroughScanTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(0, port.openHandles); }
  devicetest::FakeDrive& Target(char letter, const char* vendor = "VELMORA ",
                                const char* revision = "1009") {
    devicetest::FakeDrive& drive = port.Drive(letter);
    drive.inquiry = InquiryData(5, vendor, "DVD-ROM QX-M4471", revision);
    return drive;
  }

  FreshProcessScope fresh;
  devicetest::RecordingPassThroughPort port;
  devicetest::DeviceTestSystem system;
  Platform platform{&system, nullptr, &port, nullptr, nullptr};
  PassThroughDevice device{platform};
};

TEST_F(PassThroughScanTest, NoCdLettersSendsNothing) {
  port.Drive('C').driveType = 3;  // fixed
  port.Drive('D').driveType = 4;  // remote
  EXPECT_EQ(0, device.ScanDrives());
  ASSERT_EQ(26u, port.driveTypeQueries.size());
  for (int i = 0; i < 26; ++i) {
    EXPECT_EQ(std::string(1, static_cast<char>('A' + i)) + ":", port.driveTypeQueries[i]);
  }
  EXPECT_TRUE(port.opened.empty());
  EXPECT_TRUE(port.requests.empty());
  EXPECT_EQ(PassThroughDevice::kProbeSlot, device.DriveIndex());
}

TEST_F(PassThroughScanTest, TwoTargetsAreListedInLetterOrderWithTheirMaxima) {
  port.Drive('C').driveType = 3;
  Target('G', "VELMORA ", "1709").capabilitiesFail = true;
  Target('E').maxTransfer = 0x40000;
  EXPECT_EQ(2, device.ScanDrives());
  EXPECT_EQ("E:   VELMORA DVD-ROM QX-M44711009", device.GetDriveEntry(0));
  EXPECT_EQ("G:   VELMORA DVD-ROM QX-M44711709", device.GetDriveEntry(1));
  EXPECT_EQ(0x20000u, device.MaxTransferLength(0));
  EXPECT_EQ(0x10000u, device.MaxTransferLength(1));
  EXPECT_EQ((std::vector<std::string>{"E:", "G:"}), port.capabilityQueries);

  ASSERT_EQ(2u, port.requests.size());
  EXPECT_EQ("\\\\.\\E:", port.requests[0].path);
  EXPECT_EQ("\\\\.\\G:", port.requests[1].path);
  for (const devicetest::Request& r : port.requests) {
    EXPECT_EQ((std::vector<std::uint8_t>{0x12, 0, 0, 0, 0x2C, 0}), r.cdb());
    EXPECT_EQ(44u, r.spt.DataTransferLength);
  }
  // The scan leaves the device on the probe slot; the caller selects a drive.
  EXPECT_EQ(PassThroughDevice::kProbeSlot, device.DriveIndex());
  EXPECT_EQ("Z:", device.GetDriveEntry(PassThroughDevice::kProbeSlot));
  EXPECT_EQ("", device.GetDriveEntry(26));
}

TEST_F(PassThroughScanTest, OnlyOpticalTypesWithTheExactProductAreListed) {
  port.Drive('D').inquiry = InquiryData(0, "VELMORA ", "DVD-ROM QX-M4471", "1009");
  port.Drive('E').inquiry = InquiryData(5, "VELMORA ", "DVD-ROM QX-M4470", "1009");
  port.Drive('F').inquiry = InquiryData(5, "VELMORA ", "DVD-ROM", "1009");
  port.Drive('F').inquiry[23] = 0;  // a zero byte inside the product field
  port.Drive('F').inquiry[24] = 'Q';
  port.Drive('H').inquiry = InquiryData(5, "VELMORA ", "dvd-rom qx-m4471", "1009");
  port.Drive('I').inquiry = InquiryData(0x84, "VELMORA ", "DVD-ROM QX-M4471", "1009");
  port.Drive('J').inquiry = InquiryData(4, "OTHER   ", "DVD-ROM QX-M4471", "0001");
  port.Drive('K').inquiry = InquiryData(7, "VELMORA ", "DVD-ROM QX-M4471", "1009");
  port.Drive('L').inquiry = InquiryData(0x25, "VELMORA ", "DVD-ROM QX-M4471", "1009");
  EXPECT_EQ(4, device.ScanDrives());
  // Only the low five bits are the type: 0x84 is type 4, 0x25 type 5 with qualifier 1.
  EXPECT_EQ("I:   VELMORA DVD-ROM QX-M44711009", device.GetDriveEntry(0));
  EXPECT_EQ("J:   OTHER   DVD-ROM QX-M44710001", device.GetDriveEntry(1));
  EXPECT_EQ("K:   VELMORA DVD-ROM QX-M44711009", device.GetDriveEntry(2));
  EXPECT_EQ("L:   VELMORA DVD-ROM QX-M44711009", device.GetDriveEntry(3));
  EXPECT_EQ((std::vector<std::string>{"I:", "J:", "K:", "L:"}), port.capabilityQueries);
}

TEST_F(PassThroughScanTest, FailedInquirySkipsTheLetterAfterTheRetryRule) {
  Target('E').script = {CheckCondition(sense::kNotReady, 0x04, 0x01)};
  Target('F').script = {CheckCondition(sense::kUnitAttention, 0x29, 0),
                        CheckCondition(sense::kUnitAttention, 0x28, 0)};
  EXPECT_EQ(1, device.ScanDrives());
  EXPECT_EQ("F:   VELMORA DVD-ROM QX-M44711009", device.GetDriveEntry(0));
  EXPECT_EQ(4u, port.requests.size());
}

TEST_F(PassThroughScanTest, DriveThatCannotBeOpenedForItsMaximumStaysListedWithZero) {
  devicetest::FakeDrive& e = Target('E');
  e.openError = 32;
  e.opensBeforeFailure = 1;  // the INQUIRY gets through, the capability query does not
  Target('F').maxTransfer = 4096;
  EXPECT_EQ(2, device.ScanDrives());
  EXPECT_EQ(0u, device.MaxTransferLength(0));
  EXPECT_EQ(4096u, device.MaxTransferLength(1));

  // Every data command on it is then refused before the drive is opened.
  device.SelectDrive(0);
  std::uint8_t data[44] = {};
  device.SetBuffer(data, sizeof data);
  port.opened.clear();
  EXPECT_EQ(status::kBufferTooBig, device.Inquiry(44));
  EXPECT_TRUE(port.opened.empty());
}

TEST_F(PassThroughScanTest, QueryMaxTransferClampsAndReportsOpenFailures) {
  const struct {
    std::uint32_t reported;
    std::uint32_t stored;
  } cases[] = {{0x40000, 0x20000}, {0x20001, 0x20000}, {0x20000, 0x20000}, {0x1FFFF, 0x1FFFF},
               {4096, 4096}, {0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reported);
    PassThroughDevice::ResetTables();
    port.drives.clear();
    Target('E').maxTransfer = c.reported;
    ASSERT_EQ(1, device.ScanDrives());
    EXPECT_EQ(c.stored, device.MaxTransferLength(0));
    EXPECT_EQ(c.stored, device.QueryMaxTransfer(0));
  }
  port.Drive('E').openError = 2;
  port.Drive('E').opensBeforeFailure = 0;
  EXPECT_EQ(0u, device.QueryMaxTransfer(0));
  EXPECT_EQ(std::string("Get Handle Error: 2\n") + std::strerror(2), device.GetLastMessage());
  EXPECT_EQ(0u, device.QueryMaxTransfer(26)) << "slot 26 never holds a drive";
}

TEST_F(PassThroughScanTest, FacadeForwardsToTheChosenTransport) {
  Target('E').maxTransfer = 0x8000;
  ScsiDevice facade(platform);
  facade.SetUsePassThrough(true);
  ASSERT_EQ(1, facade.ScanDrives());
  EXPECT_EQ("E:   VELMORA DVD-ROM QX-M44711009", facade.GetDriveEntry(0));
  EXPECT_EQ(0x8000u, facade.MaxTransferLength(0));
  facade.SelectDrive(0);
  std::uint8_t data[44] = {};
  facade.SetBuffer(data, sizeof data);
  EXPECT_EQ(status::kGood, facade.Inquiry(44));
  EXPECT_EQ('V', data[8]);
  port.Drive('E').script = {CheckCondition(sense::kIllegalRequest, 0x24, 0)};
  EXPECT_EQ(status::kError, facade.Inquiry(44));
  std::uint8_t asc = 0, ascq = 0xFF;
  facade.GetSenseCodes(&asc, &ascq);
  EXPECT_EQ(0x24, asc);
  EXPECT_EQ(0x00, ascq);
  EXPECT_EQ(" 24-00 (00)", facade.GetLastMessage());

  facade.SetUsePassThrough(false);
  EXPECT_EQ(33008u, facade.MaxTransferLength(0));
}

}  // namespace
}  // namespace qx
