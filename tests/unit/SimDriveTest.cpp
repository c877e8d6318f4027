#include "sim/SimDrive.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/FirmwareGenerator.h"
#include "sim/FirmwareLayout.h"
#include "sim/SimStateFile.h"

namespace qx {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A plain image laid out as the drive expects: magic, model, family, version,
// a body, and the CRC trailer.
Bytes MakeImage(char family, const char* version) {
  Bytes image(firmware::kPlainSize, 0);
  std::memcpy(&image[firmware::kMagicOffset], firmware::kMagic, 4);
  std::memcpy(&image[firmware::kModelOffset], firmware::kModel, firmware::kModelLength);
  image[firmware::kFamilyOffset] = static_cast<std::uint8_t>(family);
  std::memcpy(&image[firmware::kVersionOffset], version, firmware::kVersionLength);
  for (std::size_t i = firmware::kBodyOffset; i < firmware::kTrailerOffset; ++i)
    image[i] = static_cast<std::uint8_t>(i * 31 + 7);
  const std::uint32_t crc = firmware::Crc32(image.data(), firmware::kTrailerOffset);
  for (int i = 0; i < 4; ++i) image[firmware::kTrailerOffset + i] = std::uint8_t(crc >> (8 * i));
  return image;
}

class Host {
 public:
  explicit Host(SimDrive& drive) : drive(drive) {}

  SimCommandResult Run(Bytes cdb, Bytes* data = nullptr,
                       DataDirection direction = DataDirection::Unspecified) {
    return drive.Execute(cdb.data(), cdb.size(), data ? data->data() : nullptr,
                         data ? static_cast<std::uint32_t>(data->size()) : 0, direction);
  }
  // SEND DIAGNOSTIC with the page as its parameter list.
  SimCommandResult Send(Bytes page) {
    const std::size_t n = page.size();
    return Run({0x1D, 0, 0, std::uint8_t(n >> 8), std::uint8_t(n), 0}, &page, DataDirection::Out);
  }
  SimCommandResult Header(std::uint8_t function, std::uint8_t argument) {
    return Send({0x88, 0, 0, 4, 0, function, argument, 0});
  }
  SimCommandResult DataPage(const Bytes& image, std::uint8_t n) {
    Bytes page = {0x88, 0, 0x80, 0x04, 0, 0xC0, n, 0};
    page.insert(page.end(), image.begin() + (n - 1) * 32768, image.begin() + n * 32768);
    return Send(page);
  }
  // Clears the power-on unit attention.
  void Settle() { Run({0x00, 0, 0, 0, 0, 0}); }
  // Both opening pages, the four data pages and the closing page; the status of
  // the first page that is not GOOD, or of the closing page.
  SimCommandResult Download(const Bytes& image) {
    SimCommandResult r = Header(0xF0, 0x00);
    if (r.status == 0) r = Header(0xF0, 0xFF);
    for (std::uint8_t n = 1; n <= 4 && r.status == 0; ++n) r = DataPage(image, n);
    if (r.status == 0) r = Header(0xC0, 0x00);
    return r;
  }
  Bytes Identify() {
    Bytes reply(16, 0xEE);
    EXPECT_EQ(Header(0x40, 0x00).status, 0);
    EXPECT_EQ(Run({0x1C, 0, 0, 0, 16, 0}, &reply, DataDirection::In).status, 0);
    return reply;
  }

  SimDrive& drive;
};

void ExpectCheck(const SimCommandResult& r, std::uint8_t key, std::uint8_t asc,
                 std::uint8_t ascq = 0) {
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.status, 0x02);
  EXPECT_EQ(r.senseLength, 18u);
  EXPECT_EQ(r.sense[0], 0x70);
  EXPECT_EQ(r.SenseKey(), key);
  EXPECT_EQ(r.Asc(), asc);
  EXPECT_EQ(r.Ascq(), ascq);
}

TEST(SimDrive, UnitAttentionIsReportedOnceAndNotByInquiry) {
  SimDrive drive;
  Host host(drive);
  Bytes data(44, 0);
  EXPECT_EQ(host.Run({0x12, 0, 0, 0, 44, 0}, &data, DataDirection::In).status, 0);
  EXPECT_TRUE(drive.UnitAttentionPending());
  ExpectCheck(host.Run({0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}), 0x6, 0x29);
  EXPECT_EQ(host.Run({0x00, 0, 0, 0, 0, 0}).status, 0);
  drive.Reset();
  ExpectCheck(host.Run({0x00, 0, 0, 0, 0, 0}), 0x6, 0x29);
  EXPECT_EQ(host.Run({0x00, 0, 0, 0, 0, 0}).status, 0);
}

TEST(SimDrive, InquiryHonoursAllocationLengthAndConfiguration) {
  SimDriveConfig config;
  config.revision = "1709";
  config.deviceType = 0;
  SimDrive drive(config);
  Host host(drive);
  Bytes data(44, 0xCC);
  SimCommandResult r = host.Run({0x12, 0, 0, 0, 5, 0}, &data, DataDirection::In);
  EXPECT_EQ(r.transferred, 5u);
  EXPECT_EQ(data[0], 0x00);
  EXPECT_EQ(data[4], 91);
  EXPECT_EQ(data[5], 0xCC) << "bytes past the allocation length must stay untouched";

  r = host.Run({0x12, 0, 0, 0, 44, 0}, &data, DataDirection::In);
  EXPECT_EQ(r.transferred, 44u);
  EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 36), "VELMORA DVD-ROM QX-M44711709");
  ExpectCheck(host.Run({0x12, 1, 0, 0, 44, 0}, &data, DataDirection::In), 0x5, 0x24);
  ExpectCheck(host.Run({0x12, 0, 0, 0, 44, 0}, &data, DataDirection::Out), 0xB, 0x4B);
}

TEST(SimDrive, IdentifyReplyCarriesCodeAndLetter) {
  SimDriveConfig config;
  config.driveCode = "is";
  config.letter = 0x00;
  SimDrive drive(config);
  Host host(drive);
  host.Settle();
  Bytes reply(16, 0);
  ExpectCheck(host.Run({0x1C, 0, 0, 0, 16, 0}, &reply, DataDirection::In), 0x5, 0x2C);
  reply = host.Identify();
  EXPECT_EQ(reply[6], 'i');
  EXPECT_EQ(reply[7], 's');
  EXPECT_EQ(reply[15], 0x00);
  ExpectCheck(host.Send({0x88, 0, 0, 4, 0, 0x40, 0x01, 0}), 0x5, 0x26);
}

TEST(SimDrive, ValidImageTakesNewRevisionOnlyAtTheClosingPage) {
  SimDriveConfig config;
  config.letter = 0x00;
  SimDrive drive(config);
  Host host(drive);
  host.Settle();
  const Bytes image = MakeImage('0', "1009");
  EXPECT_EQ(host.Header(0xF0, 0x00).status, 0);
  EXPECT_EQ(host.Header(0xF0, 0xFF).status, 0);
  for (std::uint8_t n = 1; n <= 4; ++n) EXPECT_EQ(host.DataPage(image, n).status, 0) << int(n);
  EXPECT_EQ(drive.Revision(), "1005");
  EXPECT_EQ(drive.Download(), SimDrive::DownloadState::Complete);
  EXPECT_EQ(host.Header(0xC0, 0x00).status, 0);
  EXPECT_EQ(drive.Revision(), "1009");
  EXPECT_GE(drive.Letter(), 0x20);
  EXPECT_LT(drive.Letter(), 0x7F);
  EXPECT_EQ(drive.UpdatesTaken(), 1);
  // New microcode is announced, then INQUIRY shows it.
  ExpectCheck(host.Run({0x00, 0, 0, 0, 0, 0}), 0x6, 0x3F, 0x01);
  Bytes data(44, 0);
  host.Run({0x12, 0, 0, 0, 44, 0}, &data, DataDirection::In);
  EXPECT_EQ(std::string(data.begin() + 32, data.begin() + 36), "1009");
}

TEST(SimDrive, RefusesPagesOutOfOrder) {
  SimDrive drive;
  Host host(drive);
  host.Settle();
  const Bytes image = MakeImage('0', "1009");

  // A data page before the opening pages.
  ExpectCheck(host.DataPage(image, 1), 0x5, 0x2C);
  // The second opening page without the first.
  ExpectCheck(host.Header(0xF0, 0xFF), 0x5, 0x2C);

  // Page 3 after page 1 ends the session: page 2 is refused afterwards too.
  ASSERT_EQ(host.Header(0xF0, 0x00).status, 0);
  ASSERT_EQ(host.Header(0xF0, 0xFF).status, 0);
  ASSERT_EQ(host.DataPage(image, 1).status, 0);
  ExpectCheck(host.DataPage(image, 3), 0x5, 0x2C);
  EXPECT_EQ(drive.Download(), SimDrive::DownloadState::Idle);
  ExpectCheck(host.DataPage(image, 2), 0x5, 0x2C);

  // A closing page after three of four pages.
  ASSERT_EQ(host.Header(0xF0, 0x00).status, 0);
  ASSERT_EQ(host.Header(0xF0, 0xFF).status, 0);
  for (std::uint8_t n = 1; n <= 3; ++n) ASSERT_EQ(host.DataPage(image, n).status, 0);
  ExpectCheck(host.Header(0xC0, 0x00), 0x5, 0x2C);
  EXPECT_EQ(drive.Revision(), "1005");
  EXPECT_EQ(drive.UpdatesTaken(), 0);

  // A page number past the image.
  ASSERT_EQ(host.Header(0xF0, 0x00).status, 0);
  ASSERT_EQ(host.Header(0xF0, 0xFF).status, 0);
  Bytes page5 = {0x88, 0, 0x80, 0x04, 0, 0xC0, 5, 0};
  page5.resize(32776);
  ExpectCheck(host.Send(page5), 0x5, 0x26);

  // After all that, a clean run still works.
  EXPECT_EQ(host.Download(image).status, 0);
  EXPECT_EQ(drive.Revision(), "1009");
}

TEST(SimDrive, BadImagesLeaveTheOldFirmware) {
  struct Case {
    const char* name;
    Bytes image;
    firmware::ImageCheck why;
  };
  Bytes corrupted = MakeImage('0', "1009");
  corrupted[70000] ^= 0x01;
  Bytes badModel = MakeImage('0', "1009");
  badModel[firmware::kModelOffset + 15] = '2';
  const Case cases[] = {
      {"corrupted body", corrupted, firmware::ImageCheck::BadTrailer},
      {"other family", MakeImage('7', "1709"), firmware::ImageCheck::WrongFamily},
      {"other model", badModel, firmware::ImageCheck::WrongModel},
      {"still scrambled", firmware::Scramble(MakeImage('0', "1009")),
       firmware::ImageCheck::BadMagic},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.image.size(), firmware::kPlainSize);
    SimDrive drive;
    Host host(drive);
    host.Settle();
    ExpectCheck(host.Download(c.image), 0x5, 0x26, 0x02);
    EXPECT_EQ(drive.LastImageCheck(), c.why);
    EXPECT_EQ(drive.Revision(), "1005");
    EXPECT_EQ(drive.Letter(), 0x41);
    EXPECT_EQ(drive.Download(), SimDrive::DownloadState::Idle);
  }
}

TEST(SimDrive, RefusesWrongLengthsAndHeaders) {
  SimDrive drive;
  Host host(drive);
  host.Settle();
  Bytes page = {0x88, 0, 0, 4, 0, 0x40, 0, 0};
  // The CDB announces 8 bytes and the host holds 16: the drive takes its 8 (an
  // underrun the transport reports); holding 4, the host runs out part-way.
  Bytes sixteen = page;
  sixteen.resize(16);
  SimCommandResult under = host.Run({0x1D, 0, 0, 0, 8, 0}, &sixteen, DataDirection::Out);
  EXPECT_EQ(under.status, 0);
  EXPECT_EQ(under.transferred, 8u);
  EXPECT_FALSE(under.Overrun(16));
  Bytes four(page.begin(), page.begin() + 4);
  SimCommandResult over = host.Run({0x1D, 0, 0, 0, 8, 0}, &four, DataDirection::Out);
  ExpectCheck(over, 0x5, 0x1A);
  EXPECT_TRUE(over.Overrun(4));
  // The page length disagrees with the list.
  ExpectCheck(host.Send({0x88, 0, 0, 8, 0, 0x40, 0, 0}), 0x5, 0x1A);
  // A data page with a header-only length.
  ASSERT_EQ(host.Header(0xF0, 0x00).status, 0);
  ASSERT_EQ(host.Header(0xF0, 0xFF).status, 0);
  ExpectCheck(host.Header(0xC0, 0x01), 0x5, 0x1A);
  // Another page code, with the field pointer on byte 0 of the list.
  SimCommandResult r = host.Send({0x87, 0, 0, 4, 0, 0x40, 0, 0});
  ExpectCheck(r, 0x5, 0x26);
  EXPECT_EQ(r.sense[15], 0x80);
  EXPECT_EQ(r.sense[17], 0);
  ExpectCheck(host.Send({0x88, 0, 0, 4, 0, 0x33, 0, 0}), 0x5, 0x26);
  // PF set in the CDB: the field pointer names CDB byte 1.
  r = host.Run({0x1D, 0x10, 0, 0, 8, 0}, &page, DataDirection::Out);
  ExpectCheck(r, 0x5, 0x24);
  EXPECT_EQ(r.sense[15], 0xC0);
  EXPECT_EQ(r.sense[17], 1);
  ExpectCheck(host.Run({0xA8, 0, 0, 0, 0, 0}), 0x5, 0x20);
  ExpectCheck(host.Run({0x00, 0x20, 0, 0, 0, 0}), 0x5, 0x25);
}

// What the drive offers against what the host holds: the transports report an
// overrun only where the drive had more to move than the buffer took.
TEST(SimDrive, ReportsWhatItsDataPhaseAskedForBesideWhatMoved) {
  SimDrive drive;
  Host host(drive);
  host.Settle();
  struct Case {
    const char* name;
    Bytes cdb;
    std::uint32_t buffer;
    std::uint32_t requested;
    std::uint32_t transferred;
  };
  const Case cases[] = {
      {"INQUIRY as the program sends it", {0x12, 0, 0, 0, 44, 0}, 44, 44, 44},
      {"INQUIRY of 44 into a larger buffer", {0x12, 0, 0, 0, 44, 0}, 96, 44, 44},
      {"INQUIRY asking past its 96 bytes", {0x12, 0, 0, 0, 200, 0}, 200, 96, 96},
      {"INQUIRY of 96 into 44 bytes", {0x12, 0, 0, 0, 96, 0}, 44, 96, 44},
      {"READ of one block into half a block", {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}, 1024, 2048,
       1024},
      {"READ of two blocks into four", {0x28, 0, 0, 0, 0, 16, 0, 0, 2, 0}, 8192, 4096, 4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data(c.buffer, 0xCC);
    const SimCommandResult r = host.Run(c.cdb, &data, DataDirection::In);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.requested, c.requested);
    EXPECT_EQ(r.transferred, c.transferred);
    EXPECT_EQ(r.Overrun(c.buffer), c.requested > c.buffer);
    if (c.transferred < c.buffer) {
      EXPECT_EQ(data[c.transferred], 0xCC);
    }
  }
}

// A real drive refuses a CDB with a reserved bit set, or of a length its opcode
// does not have, with ILLEGAL REQUEST and a field pointer on the byte.
TEST(SimDrive, RefusesReservedBitsAndWrongCdbLengthsOfEveryCommand) {
  struct Case {
    const char* name;
    Bytes cdb;
    int field;
  };
  const Case cases[] = {
      {"TEST UNIT READY byte 2", {0x00, 0, 0x01, 0, 0, 0}, 2},
      {"TEST UNIT READY link bit", {0x00, 0, 0, 0, 0, 0x01}, 5},
      {"INQUIRY byte 1 bit 2", {0x12, 0x04, 0, 0, 44, 0}, 1},
      {"INQUIRY byte 3", {0x12, 0, 0, 0x01, 44, 0}, 3},
      {"START STOP UNIT power condition", {0x1B, 0, 0, 0, 0x31, 0}, 4},
      {"START STOP UNIT byte 3", {0x1B, 0, 0, 0x80, 0x02, 0}, 3},
      {"RECEIVE DIAGNOSTIC RESULTS byte 2", {0x1C, 0, 0x88, 0, 16, 0}, 2},
      {"SEND DIAGNOSTIC byte 2", {0x1D, 0, 0x01, 0, 8, 0}, 2},
      {"SEND DIAGNOSTIC control byte", {0x1D, 0, 0, 0, 8, 0x04}, 5},
      {"PREVENT ALLOW persistent", {0x1E, 0, 0, 0, 0x02, 0}, 4},
      {"PREVENT ALLOW byte 2", {0x1E, 0, 0x10, 0, 0x01, 0}, 2},
      {"READ(10) byte 6", {0x28, 0, 0, 0, 0, 16, 0x01, 0, 1, 0}, 6},
      {"READ(10) byte 1 bit 1", {0x28, 0x02, 0, 0, 0, 16, 0, 0, 1, 0}, 1},
      {"READ(10) control byte", {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0x02}, 9},
      {"INQUIRY in ten bytes", {0x12, 0, 0, 0, 44, 0, 0, 0, 0, 0}, 6},
      {"READ(10) in six bytes", {0x28, 0, 0, 0, 0, 16}, 6},
      {"TEST UNIT READY in twelve bytes", Bytes(12, 0), 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimDrive drive;
    Host host(drive);
    Bytes data(2048, 0);
    const DataDirection direction = SimDrive::CommandDirection(c.cdb[0]);
    const SimCommandResult r = host.Run(c.cdb, &data, direction);
    ExpectCheck(r, 0x5, 0x24);
    EXPECT_EQ(r.sense[15], 0xC0) << "a field pointer into the CDB";
    EXPECT_EQ(r.sense[17], c.field);
    EXPECT_EQ(r.transferred, 0u);
  }
  // The bits the commands do take pass: FUA and DPO, Immed, Start with LoEj,
  // Prevent, and the vendor bits of the control byte.
  SimDrive drive;
  Host host(drive);
  host.Settle();
  Bytes block(2048);
  EXPECT_EQ(host.Run({0x28, 0x18, 0, 0, 0, 16, 0, 0, 1, 0xC0}, &block, DataDirection::In).status,
            0);
  EXPECT_EQ(host.Run({0x1B, 0x01, 0, 0, 0x01, 0}).status, 0);
  EXPECT_EQ(host.Run({0x1E, 0, 0, 0, 0x01, 0}).status, 0);
  EXPECT_EQ(host.Run({0x1E, 0, 0, 0, 0x00, 0}).status, 0);
}

// Closing the tray on a disc is a medium change: the next command learns of it
// (28/00, which the start-up's READ loop waits out), and the drive then needs a
// moment to become ready (04/01) before it reads.
TEST(SimDrive, MediumChangeRaisesUnitAttentionThenBecomingReady) {
  const Bytes read = {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0};
  Bytes block(2048);
  {
    SCOPED_TRACE("tray closed by START STOP UNIT");
    SimDrive drive;
    Host host(drive);
    host.Settle();
    ASSERT_EQ(host.Run({0x1B, 0, 0, 0, 0x02, 0}).status, 0);
    ASSERT_TRUE(drive.TrayOpen());
    ExpectCheck(host.Run(read, &block, DataDirection::In), 0x2, 0x3A, 0x02);
    ASSERT_EQ(host.Run({0x1B, 0, 0, 0, 0x03, 0}).status, 0);
    EXPECT_FALSE(drive.TrayOpen());
    ExpectCheck(host.Run(read, &block, DataDirection::In), 0x6, 0x28);
    for (int i = 0; i < SimDrive::kBecomingReadyAnswers; ++i)
      ExpectCheck(host.Run(read, &block, DataDirection::In), 0x2, 0x04, 0x01);
    EXPECT_EQ(host.Run(read, &block, DataDirection::In).status, 0);
  }
  {
    SCOPED_TRACE("tray closed by hand; INQUIRY neither reports nor waits");
    SimDrive drive;
    Host host(drive);
    host.Settle();
    drive.SetTrayOpen(true);
    drive.SetTrayOpen(false);
    Bytes data(44);
    EXPECT_EQ(host.Run({0x12, 0, 0, 0, 44, 0}, &data, DataDirection::In).status, 0);
    ExpectCheck(host.Run({0x00, 0, 0, 0, 0, 0}), 0x6, 0x28);
    ExpectCheck(host.Run({0x00, 0, 0, 0, 0, 0}), 0x2, 0x04, 0x01);
    // START UNIT without Immed answers once the drive has spun up.
    EXPECT_EQ(host.Run({0x1B, 0, 0, 0, 0x01, 0}).status, 0);
    EXPECT_EQ(host.Run(read, &block, DataDirection::In).status, 0);
  }
  {
    SCOPED_TRACE("a disc put into an empty drive; a pending reset attention stays first");
    SimDriveConfig config;
    config.mediumPresent = false;
    SimDrive drive(config);
    Host host(drive);
    drive.InsertMedium(true);
    ExpectCheck(host.Run(read, &block, DataDirection::In), 0x6, 0x29);
    ExpectCheck(host.Run(read, &block, DataDirection::In), 0x2, 0x04, 0x01);
  }
  {
    SCOPED_TRACE("a closed tray without a disc changes nothing");
    SimDriveConfig config;
    config.mediumPresent = false;
    config.trayOpen = true;
    SimDrive drive(config);
    Host host(drive);
    host.Settle();
    drive.SetTrayOpen(false);
    ExpectCheck(host.Run(read, &block, DataDirection::In), 0x2, 0x3A, 0x01);
  }
}

TEST(SimDrive, TrayMediumAndRemovalPrevention) {
  SimDrive drive;
  Host host(drive);
  host.Settle();
  Bytes block(2048, 0);
  SimCommandResult r = host.Run({0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}, &block, DataDirection::In);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.transferred, 2048u);
  EXPECT_EQ(block[3], 16);

  EXPECT_EQ(host.Run({0x1E, 0, 0, 0, 1, 0}).status, 0);
  ExpectCheck(host.Run({0x1B, 0, 0, 0, 2, 0}), 0x5, 0x53, 0x02);
  EXPECT_FALSE(drive.TrayOpen());
  EXPECT_EQ(host.Run({0x1E, 0, 0, 0, 0, 0}).status, 0);
  EXPECT_EQ(host.Run({0x1B, 0, 0, 0, 2, 0}).status, 0);
  EXPECT_TRUE(drive.TrayOpen());
  ExpectCheck(host.Run({0x00, 0, 0, 0, 0, 0}), 0x2, 0x3A, 0x02);
  ExpectCheck(host.Run({0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}, &block, DataDirection::In), 0x2,
              0x3A, 0x02);
  EXPECT_EQ(host.Run({0x1B, 0, 0, 0, 3, 0}).status, 0);
  ExpectCheck(host.Run({0x00, 0, 0, 0, 0, 0}), 0x6, 0x28);
  EXPECT_EQ(host.Run({0x1B, 0, 0, 0, 1, 0}).status, 0);
  EXPECT_EQ(host.Run({0x00, 0, 0, 0, 0, 0}).status, 0);
  drive.InsertMedium(false);
  ExpectCheck(host.Run({0x00, 0, 0, 0, 0, 0}), 0x2, 0x3A, 0x01);
  drive.InsertMedium(true);
  ExpectCheck(host.Run({0x00, 0, 0, 0, 0, 0}), 0x6, 0x28);
  EXPECT_EQ(host.Run({0x1B, 0, 0, 0, 1, 0}).status, 0);
  ExpectCheck(host.Run({0x28, 0, 0xFF, 0, 0, 0, 0, 0, 1, 0}, &block, DataDirection::In), 0x5,
              0x21);
}

TEST(SimDrive, FaultPlanFailsAChosenPageWithoutDisturbingTheDownload) {
  SimDrive drive;
  Host host(drive);
  host.Settle();
  ASSERT_TRUE(drive.Faults().Add("send:page=3:status=02:sense=05/26/00:times=1"));
  const Bytes image = MakeImage('0', "1009");
  ASSERT_EQ(host.Header(0xF0, 0x00).status, 0);
  ASSERT_EQ(host.Header(0xF0, 0xFF).status, 0);
  ASSERT_EQ(host.DataPage(image, 1).status, 0);
  ASSERT_EQ(host.DataPage(image, 2).status, 0);
  ExpectCheck(host.DataPage(image, 3), 0x5, 0x26);
  // The injected failure happened before the drive looked at the page.
  EXPECT_EQ(host.DataPage(image, 3).status, 0);
  EXPECT_EQ(host.DataPage(image, 4).status, 0);
  EXPECT_EQ(host.Header(0xC0, 0x00).status, 0);
  EXPECT_EQ(drive.Revision(), "1009");
}

TEST(SimDrive, FaultPlanUnitAttentionsNotReadyAndStatus) {
  SimDrive drive;
  Host host(drive);
  host.Settle();
  ASSERT_TRUE(drive.Faults().Add("read10:ua=forever tur:ua=2; inquiry:nth=2:status=08"));
  Bytes block(2048);
  for (int i = 0; i < 10; ++i)
    ExpectCheck(host.Run({0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}, &block, DataDirection::In), 0x6,
                0x29);
  ExpectCheck(host.Run({0x00, 0, 0, 0, 0, 0}), 0x6, 0x29);
  ExpectCheck(host.Run({0x00, 0, 0, 0, 0, 0}), 0x6, 0x29);
  EXPECT_EQ(host.Run({0x00, 0, 0, 0, 0, 0}).status, 0);
  Bytes data(44);
  EXPECT_EQ(host.Run({0x12, 0, 0, 0, 44, 0}, &data, DataDirection::In).status, 0);
  SimCommandResult busy = host.Run({0x12, 0, 0, 0, 44, 0}, &data, DataDirection::In);
  EXPECT_EQ(busy.status, 0x08);
  EXPECT_EQ(busy.senseLength, 0u);
  EXPECT_EQ(host.Run({0x12, 0, 0, 0, 44, 0}, &data, DataDirection::In).status, 0);

  drive.Faults().Clear();
  ASSERT_TRUE(drive.Faults().Add("tur:notready"));
  for (int i = 0; i < 3; ++i) ExpectCheck(host.Run({0x00, 0, 0, 0, 0, 0}), 0x2, 0x04, 0x01);
}

TEST(SimDrive, FaultPlanDelaysThroughTheHookAndHangs) {
  SimDrive drive;
  Host host(drive);
  host.Settle();
  std::vector<std::uint32_t> sleeps;
  drive.SetSleepHook([&](std::uint32_t ms) { sleeps.push_back(ms); });
  ASSERT_TRUE(drive.Faults().Add("send:page=open2:delay=5000,inquiry:hang"));
  EXPECT_EQ(host.Header(0xF0, 0x00).status, 0);
  EXPECT_TRUE(sleeps.empty());
  EXPECT_EQ(host.Header(0xF0, 0xFF).status, 0);
  EXPECT_EQ(sleeps, std::vector<std::uint32_t>{5000});
  Bytes data(44, 0xAA);
  SimCommandResult r = host.Run({0x12, 0, 0, 0, 44, 0}, &data, DataDirection::In);
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(data[0], 0xAA);
  EXPECT_FALSE(drive.Log().back().completed);
  EXPECT_EQ(drive.Log()[drive.Log().size() - 2].delayMs, 5000u);
}

TEST(SimDrive, FaultTextsThatDoNotParseAddNothing) {
  for (const char* bad : {"bogus:hang", "send:page=x:hang", "tur", "inquiry:page=1:hang",
                          "read10:sense=05/24", "tur:ua=0", "tur:delay=-1"}) {
    SimFaultPlan plan;
    std::string error;
    EXPECT_FALSE(plan.Add(std::string("tur:hang ") + bad, &error)) << bad;
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(plan.Empty()) << bad;
  }
  SimDriveConfig config;
  config.fault = "nonsense";
  SimDrive drive(config);
  EXPECT_FALSE(drive.ConfigError().empty());
  EXPECT_TRUE(drive.Faults().Empty());
}

TEST(SimDrive, RecordsAndReportsEveryCommand) {
  SimDrive drive;
  Host host(drive);
  std::vector<std::string> seen;
  drive.SetObserver([&](const SimCommandRecord& r) { seen.push_back(FormatSimCommand(r)); });
  host.Settle();
  host.Header(0x40, 0x00);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "00 00 00 00 00 00 len=0 none -> 02 sense=06/29/00");
  EXPECT_EQ(seen[1], "1D 00 00 00 08 00 len=8 out -> 00 param=88 00 00 04 00 40 00 00");
  ASSERT_EQ(drive.Log().size(), 2u);
  EXPECT_EQ(drive.Log()[1].parameterCount, 8);
  EXPECT_EQ(drive.Log()[1].transferred, 8u);
}

TEST(SimStateFile, RoundTripKeepsEveryDriveAndTheRevisionAfterAnUpdate) {
  SimDrive updated;
  Host host(updated);
  host.Settle();
  ASSERT_EQ(host.Download(MakeImage('0', "1009")).status, 0);
  ASSERT_TRUE(updated.Faults().Add("tur:hang"));  // this run only: not saved

  std::vector<SimDriveEntry> drives(3);
  drives[0].address = "E";
  drives[0].config = updated.CurrentConfig();
  drives[1].address = "1:0";
  drives[1].config.vendor = "OTHER";
  drives[1].config.letter = 0x9F;
  drives[1].config.trayOpen = true;
  drives[1].config.mediumPresent = false;
  drives[1].config.fault = "send:page=2:delay=5000 tur:ua=3";
  drives[2].address = "G";
  drives[2].openError = 5;
  drives[2].capabilitiesFail = true;

  const std::string path = ::testing::TempDir() + "sim-state-test.ini";
  std::string error;
  ASSERT_TRUE(SaveSimStateFile(path, drives, &error)) << error;
  ASSERT_TRUE(SaveSimStateFile(path, drives, &error)) << "replacing an existing file: " << error;
  std::vector<SimDriveEntry> loaded;
  ASSERT_TRUE(LoadSimStateFile(path, &loaded, &error)) << error;
  std::remove(path.c_str());

  ASSERT_EQ(loaded.size(), 3u);
  EXPECT_EQ(loaded[0].config.revision, "1009");
  EXPECT_EQ(loaded[0].config.vendor, "VELMORA ");
  EXPECT_EQ(loaded[0].config.fault, "");
  EXPECT_EQ(loaded[1].address, "1:0");
  EXPECT_EQ(loaded[1].config.vendor, "OTHER");
  EXPECT_EQ(loaded[1].config.letter, 0x9F);
  EXPECT_TRUE(loaded[1].config.trayOpen);
  EXPECT_FALSE(loaded[1].config.mediumPresent);
  EXPECT_EQ(loaded[1].config.fault, "send:page=2:delay=5000 tur:ua=3");
  EXPECT_EQ(loaded[2].openError, 5u);
  EXPECT_TRUE(loaded[2].capabilitiesFail);
  EXPECT_EQ(FormatSimState(loaded), FormatSimState(drives));

  SimDrive restarted(loaded[0].config);
  Host again(restarted);
  again.Settle();
  Bytes reply = again.Identify();
  EXPECT_EQ(reply[15], 'A');
}

TEST(SimStateFile, ReportsTheLineOfAMistake) {
  const char* const bad[] = {
      "revision = 1005\n",                  // before a section
      "[E]\nrevision = 10050\n",            // too long
      "[E]\n[e]\n",                         // twice
      "[E]\nletter = 0x141\n",              // not a byte
      "[E]\nfault = send:page=x\n",         // bad fault
      "[E]\nmedium = perhaps\n",
      "[E]\ncolour = blue\n",
      "[EE]\n",
      "[E]\nvendor = \"VELMORA \n",
  };
  for (const char* text : bad) {
    std::vector<SimDriveEntry> drives;
    std::string error;
    EXPECT_FALSE(ParseSimState(text, &drives, &error)) << text;
    EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
  }
  std::vector<SimDriveEntry> drives;
  std::string error;
  ASSERT_TRUE(ParseSimState("# two drives\n[e]\nletter = a\ntype=0\n\n[0:1]\n; nothing\n",
                            &drives, &error))
      << error;
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0].address, "E");
  EXPECT_EQ(drives[0].config.letter, 'a');
  EXPECT_EQ(drives[0].config.deviceType, 0);
  EXPECT_EQ(drives[1].config.revision, "1005");
}

}  // namespace
}  // namespace qx
