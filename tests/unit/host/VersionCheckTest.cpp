// The selection and start checks against a simulated drive.
#include "update/VersionCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimDriveRig.h"

namespace qx {
namespace {

using flowtest::Rig;

SimDriveConfig Drive(const std::string& revision, std::uint8_t letter = 'A',
                     const std::string& code = "is") {
  SimDriveConfig config;
  config.revision = revision;
  config.letter = letter;
  config.driveCode = code;
  return config;
}

// Both steps of one selection check and what the dialog shows at the end of them.
struct Outcome {
  SelectionInquiry inquiry;
  SelectionDecision decision;
  std::string status;  // the second step's status, or the first's where it sets none
  bool updateStart;
  std::string imageVersion;
};

Outcome Check(ScsiDevice& device, int selection = 0, Language language = Language::English) {
  VersionCheck check(device, language);
  Outcome outcome;
  outcome.inquiry = check.InquireSelection(selection);
  outcome.decision = check.DecideSelection();
  outcome.status = outcome.decision.status.value_or(outcome.inquiry.status);
  outcome.updateStart = outcome.decision.updateStart;
  outcome.imageVersion = outcome.decision.imageVersion;
  return outcome;
}

Outcome Select(const SimDriveConfig& config) {
  Rig rig(config);
  EXPECT_EQ(rig.driveCount, 1);
  Outcome outcome = Check(*rig.device);
  EXPECT_TRUE(outcome.inquiry.answered);
  return outcome;
}

TEST(SelectionCheck, OffersTheUpdateOnlyToAnOlderOrUnletteredDrive) {
  selectedImageIndex = 1;
  Outcome older = Select(Drive("1005"));
  EXPECT_EQ(older.inquiry.status, "Not Support.");  // while the drive is identified
  EXPECT_EQ(older.status, " ");
  EXPECT_TRUE(older.updateStart);
  EXPECT_EQ(older.imageVersion, "1009");
  EXPECT_EQ(older.inquiry.currentRevision, "1005");
  EXPECT_EQ(selectedImageIndex, 0);

  Outcome family7 = Select(Drive("1705"));
  EXPECT_TRUE(family7.updateStart);
  EXPECT_EQ(family7.imageVersion, "1709");
  EXPECT_EQ(selectedImageIndex, 1);

  const std::string unnecessary = "Unnecessary Firmware Update Drive.";
  for (std::uint8_t letter : {std::uint8_t('A'), std::uint8_t('a'), std::uint8_t(' ')}) {
    Outcome same = Select(Drive("1009", letter));
    EXPECT_EQ(same.status, unnecessary) << int(letter);
    EXPECT_FALSE(same.updateStart) << int(letter);
    EXPECT_EQ(same.imageVersion, "1009");
  }
  for (std::uint8_t letter : {std::uint8_t(0x00), std::uint8_t(0x1F), std::uint8_t(0x80)}) {
    Outcome same = Select(Drive("1009", letter));
    EXPECT_EQ(same.status, " ") << int(letter);
    EXPECT_TRUE(same.updateStart) << int(letter);
  }
  Outcome newer = Select(Drive("1012", 0x00));
  EXPECT_EQ(newer.status, unnecessary);
  EXPECT_FALSE(newer.updateStart);
}

TEST(SelectionCheck, RefusesDrivesItCannotMatch) {
  Outcome family3 = Select(Drive("1309"));
  EXPECT_EQ(family3.status, "Not support firmware.");
  EXPECT_FALSE(family3.updateStart);
  EXPECT_EQ(family3.imageVersion, "");

  Outcome series2 = Select(Drive("2009"));
  EXPECT_EQ(series2.status, "Not Support.");
  EXPECT_FALSE(series2.decision.status) << "the first step's status stays, not shown again";
  EXPECT_FALSE(series2.updateStart);

  Outcome upperCode = Select(Drive("1005", 'A', "IS"));
  EXPECT_EQ(upperCode.decision.status, "Not Support.");
  EXPECT_FALSE(upperCode.updateStart);
  EXPECT_EQ(upperCode.imageVersion, "");
}

TEST(SelectionCheck, RevisionWithoutANumberIsNotSupportedEitherWay) {
  for (const char* revision : {"10AB", "10 5", "100x", "10-1"}) {
    for (std::uint8_t letter : {std::uint8_t(0x00), std::uint8_t('Z')}) {
      Outcome outcome = Select(Drive(revision, letter));
      EXPECT_EQ(outcome.status, "Not support firmware.") << revision << " " << int(letter);
      EXPECT_FALSE(outcome.updateStart) << revision;
    }
  }
}

TEST(SelectionCheck, FailedInquiryBeepsAndSendsNothingMore) {
  SimDriveConfig config = Drive("1005");
  Rig rig(config);
  rig.drive.Faults().Add("inquiry:sense=04/44/00");
  Outcome outcome = Check(*rig.device);
  EXPECT_FALSE(outcome.inquiry.answered);  // the dialog beeps
  EXPECT_EQ(outcome.status, "Not Support.");
  EXPECT_FALSE(outcome.updateStart);
  EXPECT_EQ(outcome.inquiry.currentRevision, "");
  for (const SimCommandRecord& record : rig.drive.Log()) EXPECT_EQ(record.cdb[0], 0x12);
}

TEST(SelectionCheck, FailedIdentifyLeavesNotSupport) {
  Rig rig(Drive("1005"));
  rig.drive.Faults().Add("receive:sense=05/24/00");
  Outcome outcome = Check(*rig.device);
  EXPECT_EQ(outcome.status, "Not Support.");
  EXPECT_FALSE(outcome.updateStart);
  EXPECT_EQ(outcome.imageVersion, "");
}

TEST(SelectionCheck, EmptyDriveListAddressesNoDrive) {
  Rig rig(Drive("1005"));
  Outcome outcome = Check(*rig.device, -1);
  EXPECT_EQ(outcome.status, "Not Support.");
  EXPECT_FALSE(outcome.updateStart);
  EXPECT_FALSE(outcome.inquiry.answered);
  EXPECT_TRUE(rig.drive.Log().empty());
}

TEST(SelectionCheck, SpeaksJapaneseWhenAsked) {
  Rig rig(Drive("1012"));
  Outcome outcome = Check(*rig.device, 0, Language::Japanese);
  EXPECT_EQ(outcome.status, "ファームウェアのアップデートは不要です。");
}

struct StartResult {
  StartVerdict verdict;
  std::vector<std::string> messages;
  std::vector<SimCommandRecord> log;
};

StartResult Start(const SimDriveConfig& config, const char* fault = nullptr) {
  Rig rig(config);
  if (fault != nullptr) {
    EXPECT_TRUE(rig.drive.Faults().Add(fault));
  }
  selectedImageIndex = 1;
  StartCheckResult result = VersionCheck(*rig.device, Language::English).StartCheck(0);
  std::vector<std::string> messages;
  if (!result.message.empty()) messages.push_back(result.message);
  return {result.verdict, messages, rig.drive.Log()};
}

TEST(StartCheck, PassesAndSelectsTheFamilysImage) {
  StartResult zero = Start(Drive("1005"));
  EXPECT_EQ(zero.verdict, StartVerdict::Pass);
  EXPECT_EQ(selectedImageIndex, 0);
  EXPECT_TRUE(zero.messages.empty());
  // INQUIRY, identify page, identify reply.
  ASSERT_EQ(zero.log.size(), 3u);
  EXPECT_EQ(zero.log[1].parameterCount, 8);
  EXPECT_EQ(zero.log[1].parameters, (std::array<std::uint8_t, 8>{0x88, 0, 0, 4, 0, 0x40, 0, 0}));
  EXPECT_EQ(zero.log[2].cdb[0], 0x1C);
  EXPECT_EQ(zero.log[2].length, 16u);

  EXPECT_EQ(Start(Drive("1705")).verdict, StartVerdict::Pass);
  EXPECT_EQ(selectedImageIndex, 1);
}

TEST(StartCheck, DeviceRefusalsShowNoMessageOfTheirOwn) {
  StartResult inquiry = Start(Drive("1005"), "inquiry:sense=04/44/00");
  EXPECT_EQ(inquiry.verdict, StartVerdict::DeviceRefusal);
  EXPECT_TRUE(inquiry.messages.empty());
  EXPECT_EQ(selectedImageIndex, 0);

  StartResult identify = Start(Drive("1005"), "send:page=identify:sense=05/26/00");
  EXPECT_EQ(identify.verdict, StartVerdict::DeviceRefusal);
  StartResult reply = Start(Drive("1005"), "receive:sense=05/24/00");
  EXPECT_EQ(reply.verdict, StartVerdict::DeviceRefusal);
  EXPECT_TRUE(reply.messages.empty());
}

TEST(StartCheck, VersionRefusalsSayWhy) {
  StartResult family = Start(Drive("1309"));
  EXPECT_EQ(family.verdict, StartVerdict::VersionRefusal);
  EXPECT_EQ(family.messages, std::vector<std::string>{"Not Support Version."});
  EXPECT_EQ(selectedImageIndex, 0);

  StartResult code = Start(Drive("1005", 'A', "IS"));
  EXPECT_EQ(code.verdict, StartVerdict::VersionRefusal);
  EXPECT_EQ(code.messages, std::vector<std::string>{"Not Support."});

  // The applicability decision itself, with the selection check's words.
  StartResult noNumber = Start(Drive("10AB"));
  EXPECT_EQ(noNumber.verdict, StartVerdict::VersionRefusal);
  EXPECT_EQ(noNumber.messages, std::vector<std::string>{"Not support firmware."});
  EXPECT_EQ(selectedImageIndex, 0);
  for (const char* revision : {"1012", "1009", "1710"}) {
    SCOPED_TRACE(revision);
    StartResult current = Start(Drive(revision));
    EXPECT_EQ(current.verdict, StartVerdict::VersionRefusal);
    EXPECT_EQ(current.messages, std::vector<std::string>{"Unnecessary Firmware Update Drive."});
    EXPECT_EQ(selectedImageIndex, 0);
  }
  // At the image's number only a letter below the threshold still needs it.
  EXPECT_EQ(Start(Drive("1009", 0x00)).verdict, StartVerdict::Pass);
}

}  // namespace
}  // namespace qx
