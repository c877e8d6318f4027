#include "sim/SimPassThroughPort.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "PassThroughBlock.h"
#include "device/PassThroughDevice.h"
#include "platform/Platform.h"
#include "sim/FirmwareGenerator.h"
#include "sim/FreshProcessScope.h"

namespace qx {
namespace {

using Block = PassThroughBlock;

const std::vector<std::uint8_t> kInquiry = {0x12, 0, 0, 0, 44, 0};
const std::vector<std::uint8_t> kTestUnitReady = {0x00, 0, 0, 0, 0, 0};

class SimPassThroughPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port.AddDrive('E');
    port.AddOtherDrive('C', drivetype::kFixed);
    port.AddUnopenableDrive('F', win32error::kAccessDenied);
    SimDriveConfig other;
    other.product = "DVD-ROM OTHER";
    port.AddDrive('g', other);
  }
  // Opens, sends one block and closes, as the transport does.
  bool Send(char letter, Block& block) {
    const char path[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
    const PortHandle h = port.Open(path);
    EXPECT_NE(h, kInvalidPortHandle);
    std::uint32_t returned = 0;
    const bool ok = port.SendPassThrough(h, block.get(), &returned);
    const std::uint32_t error = port.GetLastError();
    port.Close(h);
    lastError = error;
    return ok;
  }

  SimPassThroughPort port;
  std::uint32_t lastError = 0;
};

TEST_F(SimPassThroughPortTest, LettersTypesAndOpening) {
  EXPECT_EQ(port.GetDriveType("E:"), drivetype::kCdrom);
  EXPECT_EQ(port.GetDriveType("e:\\"), drivetype::kCdrom);
  EXPECT_EQ(port.GetDriveType("G:"), drivetype::kCdrom);
  EXPECT_EQ(port.GetDriveType("F:"), drivetype::kCdrom);
  EXPECT_EQ(port.GetDriveType("C:"), drivetype::kFixed);
  EXPECT_EQ(port.GetDriveType("D:"), drivetype::kNoRootDir);
  EXPECT_EQ(port.GetDriveType("E"), drivetype::kNoRootDir);

  EXPECT_EQ(port.Open("\\\\.\\F:"), kInvalidPortHandle);
  EXPECT_EQ(port.GetLastError(), win32error::kAccessDenied);
  EXPECT_EQ(port.Open("\\\\.\\D:"), kInvalidPortHandle);
  EXPECT_EQ(port.GetLastError(), win32error::kFileNotFound);
  EXPECT_EQ(port.Open("E:"), kInvalidPortHandle);

  const PortHandle e = port.Open("\\\\.\\E:");
  const PortHandle c = port.Open("\\\\.\\C:");
  ASSERT_NE(e, kInvalidPortHandle);
  ASSERT_NE(c, kInvalidPortHandle);
  EXPECT_NE(e, c);
  EXPECT_EQ(port.OpenHandles(), 2u);
  // A fixed disc opens but is no CD drive to talk SCSI to here.
  Block block(kTestUnitReady, passthrough::kDataUnspecified, 0);
  EXPECT_FALSE(port.SendPassThrough(c, block.get(), nullptr));
  EXPECT_EQ(port.GetLastError(), win32error::kInvalidFunction);
  port.Close(e);
  port.Close(c);
  EXPECT_EQ(port.OpenHandles(), 0u);
  EXPECT_FALSE(port.SendPassThrough(e, block.get(), nullptr)) << "a closed handle";
  EXPECT_EQ(port.GetLastError(), win32error::kInvalidHandle);
}

TEST_F(SimPassThroughPortTest, CarriesDataStatusAndSenseThroughTheBlock) {
  Block inquiry(kInquiry, passthrough::kDataIn, 44);
  ASSERT_TRUE(Send('E', inquiry));
  EXPECT_EQ(inquiry.spt().ScsiStatus, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry.Data()) + 8, 24),
            "VELMORA DVD-ROM QX-M4471");
  Block other(kInquiry, passthrough::kDataIn, 44);
  ASSERT_TRUE(Send('G', other));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(other.Data()) + 16, 16), "DVD-ROM OTHER   ");

  // The first command after power-on meets the unit attention; the sense lands
  // at SenseInfoOffset and nothing past its 18 bytes is touched.
  Block tur(kTestUnitReady, passthrough::kDataUnspecified, 0);
  std::memset(tur.get()->senseData, 0xEE, sizeof tur.get()->senseData);
  ASSERT_TRUE(Send('E', tur));
  EXPECT_EQ(tur.spt().ScsiStatus, 2);
  EXPECT_EQ(tur.spt().SenseInfoLength, 18);
  EXPECT_EQ(tur.get()->senseData[0], 0x70);
  EXPECT_EQ(tur.get()->senseData[2], 0x06);
  EXPECT_EQ(tur.get()->senseData[12], 0x29);
  EXPECT_EQ(tur.get()->senseData[18], 0xEE);

  ASSERT_EQ(port.Requests().size(), 3u);
  const SimPortRequest& r = port.Requests()[2];
  EXPECT_EQ(r.letter, 'E');
  EXPECT_EQ(r.cdb, kTestUnitReady);
  EXPECT_TRUE(r.accepted);
  EXPECT_EQ(r.scsiStatus, 2);
  EXPECT_EQ(port.OpenHandles(), 0u);
}

TEST_F(SimPassThroughPortTest, RefusesMalformedRequestsBeforeTheDrive) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> cdb;
    std::uint8_t dataIn;
    std::uint32_t length;
    void (*spoil)(Block&);
    std::uint32_t error = win32error::kInvalidParameter;
  };
  const Case cases[] = {
      {"out for a command that reads", kInquiry, passthrough::kDataOut, 44, nullptr},
      {"in for a command that writes", {0x1D, 0, 0, 0, 8, 0}, passthrough::kDataIn, 8, nullptr},
      {"no buffer", kInquiry, passthrough::kDataIn, 44,
       [](Block& b) { b.spt().DataBuffer = nullptr; }},
      {"odd buffer", kInquiry, passthrough::kDataIn, 44,
       [](Block& b) { b.spt().DataBuffer = b.Data() + 1; }},
      {"above the maximum transfer", {0x28, 0, 0, 0, 0, 16, 0, 0, 33, 0}, passthrough::kDataIn,
       65537, nullptr},
      {"wrong structure length", kInquiry, passthrough::kDataIn, 44,
       [](Block& b) { b.spt().Length = 40; }},
      // 44 is right only where the structure is 44 bytes: a 64-bit build must
      // state its own, wider size (a 64-bit system calls the 32-bit one another
      // revision), and a 32-bit one may not claim the wider size.
      {"the other build's structure length", kInquiry, passthrough::kDataIn, 44,
       [](Block& b) { b.spt().Length = sizeof(ScsiPassThroughDirect) == 44 ? 56 : 44; },
       sizeof(ScsiPassThroughDirect) == 44 ? win32error::kInvalidParameter
                                           : win32error::kRevisionMismatch},
      {"sense outside the block", kInquiry, passthrough::kDataIn, 44,
       [](Block& b) { b.spt().SenseInfoOffset = sizeof(PassThroughRequest) - 8; }},
      {"sense over the structure", kInquiry, passthrough::kDataIn, 44,
       [](Block& b) { b.spt().SenseInfoOffset = 8; }},
      {"sense longer than the block holds", kInquiry, passthrough::kDataIn, 44,
       [](Block& b) {
         b.spt().SenseInfoOffset = sizeof(PassThroughRequest) - 16;
         b.spt().SenseInfoLength = 24;
       }},
      {"unknown direction", kInquiry, 3, 44, nullptr},
      {"no direction for a command that reads", kInquiry, passthrough::kDataUnspecified, 44,
       nullptr},
      {"no direction for a command that writes", {0x1D, 0, 0, 0, 8, 0},
       passthrough::kDataUnspecified, 8, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Block block(c.cdb, c.dataIn, c.length);
    if (c.spoil) c.spoil(block);
    EXPECT_FALSE(Send('E', block));
    EXPECT_EQ(lastError, c.error);
    ASSERT_FALSE(port.Requests().empty());
    EXPECT_FALSE(port.Requests().back().accepted);
  }
  EXPECT_TRUE(port.Drive('E')->Log().empty()) << "nothing may reach the drive";
  EXPECT_TRUE(port.Drive('E')->UnitAttentionPending());
}

// A port takes a short reply or a cut one without complaint: the request succeeds
// and DataTransferLength says how much moved.
TEST_F(SimPassThroughPortTest, UnderrunAndOverrunSucceedWithWhatMoved) {
  Block tur(kTestUnitReady, passthrough::kDataUnspecified, 0);
  ASSERT_TRUE(Send('E', tur));  // the power-on unit attention
  Block under(kInquiry, passthrough::kDataIn, 96);
  std::memset(under.Data(), 0xCC, 96);
  ASSERT_TRUE(Send('E', under));
  EXPECT_EQ(under.spt().ScsiStatus, 0);
  EXPECT_EQ(under.spt().DataTransferLength, 44u);
  EXPECT_EQ(under.Data()[44], 0xCC);
  Block over({0x12, 0, 0, 0, 96, 0}, passthrough::kDataIn, 44);
  ASSERT_TRUE(Send('E', over));
  EXPECT_EQ(over.spt().ScsiStatus, 0);
  EXPECT_EQ(over.spt().DataTransferLength, 44u);
  // A command without a data phase moves nothing, whatever the block offers.
  Block none({0x1E, 0, 0, 0, 0, 0}, passthrough::kDataIn, 16);
  ASSERT_TRUE(Send('E', none));
  EXPECT_EQ(none.spt().ScsiStatus, 0);
  EXPECT_EQ(none.spt().DataTransferLength, 0u);
}

// The port gives up at the block's own TimeOutValue, not at a fixed one.
TEST_F(SimPassThroughPortTest, TimeOutValueOfTheBlockBoundsEveryRequest) {
  std::uint64_t clock = 0;
  port.SetSleepHook([&](std::uint32_t ms) { clock += ms; });
  ASSERT_TRUE(port.Drive('E')->Faults().Add("inquiry:delay=5000"));
  Block slow(kInquiry, passthrough::kDataIn, 44);
  slow.spt().TimeOutValue = 2;
  EXPECT_FALSE(Send('E', slow));
  EXPECT_EQ(lastError, win32error::kSemaphoreTimeout);
  EXPECT_EQ(clock, 2000u);
  Block patient(kInquiry, passthrough::kDataIn, 44);
  patient.spt().TimeOutValue = 5;
  EXPECT_TRUE(Send('E', patient));
  EXPECT_EQ(clock, 7000u);

  port.Drive('E')->Faults().Clear();
  ASSERT_TRUE(port.Drive('E')->Faults().Add("inquiry:hang"));
  Block stuck(kInquiry, passthrough::kDataIn, 44);
  stuck.spt().TimeOutValue = 30;
  EXPECT_FALSE(Send('E', stuck));
  EXPECT_EQ(lastError, win32error::kSemaphoreTimeout);
  EXPECT_EQ(clock, 37000u);
  // Outside a request the drive's delays pass whole.
  port.Drive('E')->Faults().Clear();
  ASSERT_TRUE(port.Drive('E')->Faults().Add("tur:delay=250000"));
  const std::uint8_t cdb[6] = {};
  port.Drive('E')->Execute(cdb, 6, nullptr, 0, DataDirection::Unspecified);
  EXPECT_EQ(clock, 287000u);
}

TEST_F(SimPassThroughPortTest, HangFailsAfterThePortTimeoutOnTheVirtualClock) {
  std::uint64_t clock = 0;
  port.SetSleepHook([&](std::uint32_t ms) { clock += ms; });
  ASSERT_TRUE(port.Drive('E')->Faults().Add("inquiry:hang"));
  Block inquiry(kInquiry, passthrough::kDataIn, 44);
  EXPECT_FALSE(Send('E', inquiry));
  EXPECT_EQ(lastError, win32error::kSemaphoreTimeout);
  EXPECT_EQ(clock, 200000u);

  // A drive added after the hook was set sleeps through it as well.
  SimDrive& late = port.AddDrive('H');
  ASSERT_TRUE(late.Faults().Add("read10:delay=1500"));
  Block read(std::vector<std::uint8_t>{0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}, passthrough::kDataIn,
             2048);
  EXPECT_TRUE(Send('H', read));
  EXPECT_EQ(clock, 201500u);
  EXPECT_EQ(port.OpenHandles(), 0u);
}

TEST_F(SimPassThroughPortTest, CapabilitiesPerLetter) {
  port.SetMaxTransfer('G', 262144);
  port.FailCapabilities('E', win32error::kInvalidFunction);
  IoScsiCapabilities caps;
  std::uint32_t returned = 0;

  PortHandle h = port.Open("\\\\.\\G:");
  ASSERT_TRUE(port.GetCapabilities(h, &caps, &returned));
  EXPECT_EQ(caps.MaximumTransferLength, 262144u);
  EXPECT_EQ(returned, 24u);
  port.Close(h);

  h = port.Open("\\\\.\\E:");
  EXPECT_FALSE(port.GetCapabilities(h, &caps, &returned));
  EXPECT_EQ(port.GetLastError(), win32error::kInvalidFunction);
  port.Close(h);

  port.SetMaxTransfer('E', 0x8000);
  h = port.Open("\\\\.\\E:");
  ASSERT_TRUE(port.GetCapabilities(h, &caps, &returned));
  EXPECT_EQ(caps.MaximumTransferLength, 0x8000u);
  // Exactly the maximum passes; the 32776-byte data page would not.
  Block page({0x1D, 0, 0, 0x80, 0x08, 0}, passthrough::kDataOut, 32776);
  EXPECT_FALSE(port.SendPassThrough(h, page.get(), &returned));
  EXPECT_EQ(port.GetLastError(), win32error::kInvalidParameter);
  Block read({0x28, 0, 0, 0, 0, 16, 0, 0, 16, 0}, passthrough::kDataIn, 0x8000);
  EXPECT_TRUE(port.SendPassThrough(h, read.get(), &returned));
  port.Close(h);
}

TEST_F(SimPassThroughPortTest, FormatMessageKnowsAFewErrors) {
  std::string text;
  EXPECT_TRUE(port.FormatMessage(5, 80, &text));
  EXPECT_EQ(text, "Access is denied.\r\n");
  EXPECT_TRUE(port.FormatMessage(121, 80, &text));
  EXPECT_FALSE(port.FormatMessage(4242, 80, &text));
  EXPECT_EQ(port.GetLastError(), win32error::kMessageNotFound);
  EXPECT_FALSE(port.FormatMessage(5, 5, &text));
  EXPECT_EQ(port.GetLastError(), win32error::kInsufficientBuffer);
}

TEST(SimPassThroughPortState, DrivesComeFromAndGoBackToTheStateFile) {
  std::vector<SimDriveEntry> entries;
  std::string error;
  ASSERT_TRUE(ParseSimState("[E]\nrevision = 1009\nletter = 0x00\nmaxtransfer = 131072\n"
                            "[C]\ndrivetype = 3\n"
                            "[F]\nopenerror = 2\n"
                            "[1:0]\nrevision = 1709\n",
                            &entries, &error))
      << error;
  SimPassThroughPort port;
  ASSERT_TRUE(port.AddDrives(entries, &error)) << error;
  ASSERT_NE(port.Drive('E'), nullptr);
  EXPECT_EQ(port.Drive('E')->Revision(), "1009");
  EXPECT_EQ(port.Drive('E')->Letter(), 0x00);
  EXPECT_EQ(port.GetDriveType("C:"), drivetype::kFixed);
  EXPECT_EQ(port.Open("\\\\.\\F:"), kInvalidPortHandle);
  EXPECT_EQ(port.GetLastError(), 2u);
  EXPECT_EQ(port.Drive('1'), nullptr) << "ASPI addresses are not letters";

  const std::vector<SimDriveEntry> states = port.DriveStates();
  ASSERT_EQ(states.size(), 3u);
  EXPECT_EQ(states[0].address, "C");
  EXPECT_EQ(states[1].address, "E");
  EXPECT_EQ(states[1].maxTransfer, 131072u);
  EXPECT_EQ(states[2].openError, 2u);

  entries[0].config.fault = "nonsense";
  SimPassThroughPort refusing;
  EXPECT_FALSE(refusing.AddDrives(entries, &error));
  EXPECT_NE(error.find("drive E"), std::string::npos) << error;
}


// The real transport over the simulated port: the scan lists only the target
// drive, and the generator's image goes through as the drive expects it.
TEST(SimPassThroughPortWithTransport, ScanAndUpdateThroughTheRealTransport) {
  FreshProcessScope fresh;
  SimPassThroughPort port;
  SimDriveConfig target;
  target.revision = "1005";
  port.AddDrive('E', target);
  port.AddOtherDrive('C', drivetype::kFixed);
  port.AddUnopenableDrive('F', win32error::kAccessDenied);
  SimDriveConfig disk;
  disk.deviceType = 0;
  port.AddDrive('G', disk);
  port.SetMaxTransfer('E', 262144);
  Platform platform;
  platform.passThroughPort = &port;
  PassThroughDevice device(platform);

  ASSERT_EQ(device.ScanDrives(), 1);
  EXPECT_EQ(device.GetDriveEntry(0).substr(0, 33), "E:   VELMORA DVD-ROM QX-M44711005");
  EXPECT_EQ(device.MaxTransferLength(0), 131072u);
  device.SelectDrive(0);

  std::vector<std::uint8_t> page(32776, 0);
  auto header = [&](std::uint8_t hi, std::uint8_t function, std::uint8_t argument) {
    const std::uint8_t h[8] = {0x88, 0, hi, 0x04, 0, function, argument, 0};
    std::memcpy(page.data(), h, 8);
  };
  const std::vector<std::uint8_t> image = firmware::GeneratePlainImage(0);
  ASSERT_EQ(image.size(), firmware::kPlainSize);
  device.SetBuffer(page.data(), 8);
  header(0, 0xF0, 0x00);
  EXPECT_EQ(device.SendDiagnostic(0, 8), status::kGood);  // after the unit attention's retry
  header(0, 0xF0, 0xFF);
  EXPECT_EQ(device.SendDiagnostic(0, 8), status::kGood);
  device.SetBuffer(page.data(), 32776);
  for (std::uint8_t n = 1; n <= 4; ++n) {
    header(0x80, 0xC0, n);
    std::memcpy(page.data() + 8, image.data() + (n - 1) * 32768, 32768);
    EXPECT_EQ(device.SendDiagnostic(0, 32776), status::kGood) << int(n);
  }
  device.SetBuffer(page.data(), 8);
  header(0, 0xC0, 0x00);
  EXPECT_EQ(device.SendDiagnostic(0, 8), status::kGood) << device.GetLastMessage();
  EXPECT_EQ(port.Drive('E')->Revision(), "1009");
  EXPECT_EQ(port.OpenHandles(), 0u);

  // A closing page out of turn comes back as the drive's sense, as text.
  EXPECT_EQ(device.SendDiagnostic(0, 8), status::kError);
  std::uint8_t asc = 0, ascq = 0;
  device.GetSenseCodes(&asc, &ascq);
  EXPECT_EQ(asc, 0x2C);
  EXPECT_EQ(device.GetLastMessage().substr(0, 7), " 2C-00 ");
}

}  // namespace
}  // namespace qx
