// The start check's guard against the related model: a drive listed by the scan that
// identifies itself as that model when Update Start is pressed must not get our image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingPassThroughPort.h"
#include "device/PassThroughDevice.h"
#include "device/ScsiDevice.h"
#include "sim/FreshProcessScope.h"
#include "update/VersionCheck.h"

namespace qx {
namespace {

using devicetest::Answer;
using devicetest::InquiryData;

class StartCheckGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port.Drive('E').inquiry = InquiryData(5, "VELMORA ", "DVD-ROM QX-M4471", "1005");
    device.SetUsePassThrough(true);
    ASSERT_EQ(1, device.ScanDrives());
  }

  // The drive answers INQUIRY with `product` and `revision`, then the identify
  // exchange with drive code "is" and letter 'A'.
  StartVerdict Check(const char* product, const char* revision,
                     Language language = Language::English) {
    Answer inquiry;
    inquiry.dataIn = InquiryData(5, "VELMORA ", product, revision);
    Answer reply;
    reply.dataIn.assign(16, 0);
    reply.dataIn[6] = 'i';
    reply.dataIn[7] = 's';
    reply.dataIn[15] = 'A';
    port.Drive('E').script = {inquiry, Answer(), reply};
    port.requests.clear();
    messages.clear();
    selectedImageIndex = 1;
    StartCheckResult result = VersionCheck(device, language).StartCheck(0);
    if (!result.message.empty()) messages.push_back(result.message);
    return result.verdict;
  }

  FreshProcessScope fresh;
  devicetest::RecordingPassThroughPort port;
  devicetest::DeviceTestSystem system;
  Platform platform{&system, nullptr, &port, nullptr, nullptr};
  ScsiDevice device{platform};
  std::vector<std::string> messages;  // the message boxes the dialog is to show
};

TEST_F(StartCheckGuardTest, RelatedModelBelowRevision30IsRefusedBeforeTheIdentifyExchange) {
  // Product bytes 4-5 (INQUIRY bytes 20-21) are "10".
  for (const char* revision : {"1025", "1029", "1000"}) {
    SCOPED_TRACE(revision);
    EXPECT_EQ(StartVerdict::VersionRefusal, Check("ABCD10-T5160", revision));
    EXPECT_EQ(std::vector<std::string>{"Not Support Version."}, messages);
    EXPECT_EQ(1u, port.requests.size()) << "only the INQUIRY may reach the drive";
    EXPECT_EQ(0, selectedImageIndex);
  }
  EXPECT_EQ(StartVerdict::VersionRefusal,
            Check("ABCD10-T5160", "1025", Language::Japanese));
  EXPECT_EQ(std::vector<std::string>{"サポートしないファームウェアです。"}, messages);
}

TEST_F(StartCheckGuardTest, GuardNeedsAllThreeConditions) {
  // Where the guard stays quiet, a product other than ours is still refused, but by the
  // model check after it: "Not Support.", not the guard's "Not Support Version.".
  const struct {
    const char* product;
    const char* revision;
  } cases[] = {
      {"ABCD10-T5160", "1030"},  // revision 30 and above
      {"ABCD10-T5160", "1099"},
      {"ABCD11-T5160", "1025"},  // INQUIRY byte 21 is not '0'
      {"ABCD00-T5160", "1025"},  // INQUIRY byte 20 is not '1'
      {"ABCD10-T5161", "1025"},  // another product
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.product) + " " + c.revision);
    EXPECT_EQ(StartVerdict::VersionRefusal, Check(c.product, c.revision));
    EXPECT_EQ(std::vector<std::string>{"Not Support."}, messages);
    EXPECT_EQ(1u, port.requests.size());
    EXPECT_EQ(0, selectedImageIndex);
  }
  EXPECT_EQ(StartVerdict::Pass, Check("DVD-ROM QX-M4471", "1005"));
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(3u, port.requests.size());
  EXPECT_EQ(0, selectedImageIndex);
}

}  // namespace
}  // namespace qx
