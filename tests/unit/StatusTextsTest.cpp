// The code tables and their lookups.
#include <gtest/gtest.h>

#include <string>

#include "RecordingPassThroughPort.h"
#include "device/StatusTexts.h"

namespace qx {
namespace {

TEST(StatusTexts, SearchStopsAtTheFirstZeroCode) {
  const CodeRecord table[] = {{0x05, "five"}, {0x00, "end"}, {0x07, "never reached"}};
  EXPECT_STREQ("five", FindCodeRecord(table, 0x05)->text);
  EXPECT_EQ(&table[1], FindCodeRecord(table, 0x07));
  EXPECT_EQ(&table[1], FindCodeRecord(table, 0x00));
  const CodeRecord zeroFirst[] = {{0x00, "zero"}, {0x00, "end"}};
  EXPECT_EQ(&zeroFirst[0], FindCodeRecord(zeroFirst, 0x00));
}

TEST(StatusTexts, AspiStatusEndsOnTimeoutForZeroAndUnknownCodes) {
  EXPECT_EQ("Faild Initailize.", AspiStatusText(0xE4));
  EXPECT_EQ("Buffer size is too big.", AspiStatusText(0xE6));
  EXPECT_EQ("Timeout.", AspiStatusText(0x00));
  EXPECT_EQ("Timeout.", AspiStatusText(0x33));
}

TEST(StatusTexts, HostAdapterStatusFormatsUnknownCodesIncludingZero) {
  EXPECT_EQ("Selection timeout.", HostAdapterStatusText(0x11));
  EXPECT_EQ("Phase Error.", HostAdapterStatusText(0x14));
  EXPECT_EQ("Unknown Ha status:20", HostAdapterStatusText(0x20));
  EXPECT_EQ("Unknown Ha status:00", HostAdapterStatusText(0x00));
}

TEST(StatusTexts, EachTransportHasItsOwnTargetTable) {
  EXPECT_EQ("Queue Full.", TargetStatusText(0x28, TargetTable::PassThrough));
  EXPECT_EQ("Unknown Target status:28", TargetStatusText(0x28, TargetTable::Aspi));
  EXPECT_EQ("Reservation Conflict.", TargetStatusText(0x18, TargetTable::PassThrough));
  EXPECT_EQ("Request Conflict.", TargetStatusText(0x18, TargetTable::Aspi));
  EXPECT_EQ("Unknown Target status:00", TargetStatusText(0x00, TargetTable::PassThrough));
}

TEST(StatusTexts, LookupsKeepTheirFormattedTextsApart) {
  const std::string ha = HostAdapterStatusText(0x21);
  const std::string target = TargetStatusText(0x41, TargetTable::Aspi);
  EXPECT_EQ("Unknown Ha status:21", ha);
  EXPECT_EQ("Unknown Target status:41", target);
  EXPECT_EQ("Unknown Ha status:21", HostAdapterStatusText(0x21));
}

TEST(StatusTexts, AspiStatusBoxBeepsAndShowsTheStatusText) {
  devicetest::DeviceTestSystem system;
  ShowAspiStatus(system, 0xE6);
  ShowAspiStatus(system, 0x33);
  ASSERT_EQ(2u, system.beeps.size());
  EXPECT_EQ(0x30u, system.beeps[0]);
  ASSERT_EQ(2u, system.boxes.size());
  EXPECT_EQ("Aspi Error : Buffer size is too big.", system.boxes[0].text);
  EXPECT_EQ("Aspi Error : Timeout.", system.boxes[1].text);
  EXPECT_EQ(0x30u, system.boxes[0].flags);  // OK button, exclamation icon
  EXPECT_EQ(0u, system.boxes[0].owner);
  EXPECT_EQ("Firmware Update Utility", system.boxes[0].caption);
}

}  // namespace
}  // namespace qx
