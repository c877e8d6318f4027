// The code tables and their lookups.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <thread>

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

// Every record of every table, as users and support know the texts: misspellings
// ("Faild Initailize.", "Busfree ditect.") and capitals ("Invalid HA.") included.
// A record lost, reordered behind the end record or retyped shows here.
TEST(StatusTexts, EveryRecordOfEveryTable) {
  struct Row {
    std::uint8_t code;
    const char* text;
  };
  const Row aspi[] = {
      {0x02, "Aborted."},          {0x04, "Error."},
      {0x81, "Invalid HA."},       {0x82, "No Device."},
      {0xE0, "Invalid SRB."},      {0xE4, "Faild Initailize."},
      {0xE5, "ASPI is busy."},     {0xE6, "Buffer size is too big."},
      {0x00, "Timeout."},
  };
  for (const Row& r : aspi) {
    SCOPED_TRACE(r.code);
    EXPECT_EQ(r.text, AspiStatusText(r.code));
  }
  const Row hostAdapter[] = {
      {0x11, "Selection timeout."},
      {0x12, "Overrun or Underrun."},
      {0x13, "Busfree ditect."},
      {0x14, "Phase Error."},
  };
  for (const Row& r : hostAdapter) {
    SCOPED_TRACE(r.code);
    EXPECT_EQ(r.text, HostAdapterStatusText(r.code));
  }
  const Row aspiTarget[] = {
      {0x02, "Check Condition."},
      {0x08, "Target Busy."},
      {0x18, "Request Conflict."},
  };
  for (const Row& r : aspiTarget) {
    SCOPED_TRACE(r.code);
    EXPECT_EQ(r.text, TargetStatusText(r.code, TargetTable::Aspi));
  }
  const Row passThroughTarget[] = {
      {0x02, "Check Condition."},
      {0x04, "Condition Met."},
      {0x08, "Target Busy."},
      {0x10, "Intermediate."},
      {0x14, "Intermediate-Condition Met."},
      {0x18, "Reservation Conflict."},
      {0x22, "Command Terminated."},
      {0x28, "Queue Full."},
  };
  for (const Row& r : passThroughTarget) {
    SCOPED_TRACE(r.code);
    EXPECT_EQ(r.text, TargetStatusText(r.code, TargetTable::PassThrough));
  }
  // Nothing beyond these: every other code falls through to the end record.
  for (int code = 1; code < 0x100; ++code) {
    SCOPED_TRACE(code);
    const auto listed = [code](const Row* begin, const Row* end) {
      for (const Row* r = begin; r != end; ++r)
        if (r->code == code) return true;
      return false;
    };
    char text[64];
    if (!listed(std::begin(aspi), std::end(aspi))) {
      EXPECT_EQ("Timeout.", AspiStatusText(code));
    }
    if (!listed(std::begin(hostAdapter), std::end(hostAdapter))) {
      std::snprintf(text, sizeof text, "Unknown Ha status:%02X", code);
      EXPECT_EQ(text, HostAdapterStatusText(code));
    }
    std::snprintf(text, sizeof text, "Unknown Target status:%02X", code);
    if (!listed(std::begin(aspiTarget), std::end(aspiTarget))) {
      EXPECT_EQ(text, TargetStatusText(code, TargetTable::Aspi));
    }
    if (!listed(std::begin(passThroughTarget), std::end(passThroughTarget))) {
      EXPECT_EQ(text, TargetStatusText(code, TargetTable::PassThrough));
    }
  }
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

// The worker formats these while the dialog's thread may too; each caller must get
// the text of its own code, never one half written by the other.
TEST(StatusTexts, TwoThreadsFormattingAtOnceEachGetTheirOwnText) {
  auto formatMany = [](std::uint8_t first, int* wrong) {
    for (int i = 0; i < 20000; ++i) {
      const std::uint8_t code = static_cast<std::uint8_t>(first + (i & 0x0F));
      char ha[64], target[64];
      std::snprintf(ha, sizeof ha, "Unknown Ha status:%02X", code);
      std::snprintf(target, sizeof target, "Unknown Target status:%02X", code);
      if (HostAdapterStatusText(code) != ha) ++*wrong;
      if (TargetStatusText(code, TargetTable::Aspi) != target) ++*wrong;
    }
  };
  int wrongA = 0, wrongB = 0;
  std::thread a(formatMany, 0x40, &wrongA);
  std::thread b(formatMany, 0xB0, &wrongB);
  a.join();
  b.join();
  EXPECT_EQ(wrongA, 0);
  EXPECT_EQ(wrongB, 0);
}

TEST(StatusTexts, AspiStatusBoxBeepsAndShowsTheStatusText) {
  devicetest::DeviceTestSystem system;
  ShowAspiStatus(system, 0xE6);
  ShowAspiStatus(system, 0x33);
  ASSERT_EQ(2u, system.beeps.size());
  EXPECT_EQ(0x30u, system.beeps[0]);
  ASSERT_EQ(2u, system.messageBoxes.size());
  EXPECT_EQ("Aspi Error : Buffer size is too big.", system.messageBoxes[0].text);
  EXPECT_EQ("Aspi Error : Timeout.", system.messageBoxes[1].text);
  EXPECT_EQ(0x30u, system.messageBoxes[0].flags);  // OK button, exclamation icon
  EXPECT_EQ(0u, system.messageBoxes[0].owner);
  EXPECT_EQ("Firmware Update Utility", system.messageBoxes[0].caption);
}

}  // namespace
}  // namespace qx
