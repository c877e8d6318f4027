// Inputs the drive-answers fuzzer found, replayed as plain scripts: a drive behind a
// scripted pass-through port, the main dialog over it on the virtual clock, and what
// reached the drive.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "RecordingPassThroughPort.h"
#include "device/PassThroughDevice.h"
#include "device/ScsiDevice.h"
#include "platform/Platform.h"
#include "platform/host/HostSystem.h"
#include "sim/FreshProcessScope.h"
#include "sim/ScriptedDialogs.h"
#include "sim/ScriptedMainDialog.h"
#include "platform/host/VirtualThreads.h"
#include "ui/MainDialog.h"
#include "update/VersionCheck.h"

namespace qx {
namespace {

using devicetest::Answer;
using devicetest::InquiryData;

Answer Inquiry(const char* product, const char* revision = "1005") {
  Answer answer;
  answer.dataIn = InquiryData(5, "VELMORA ", product, revision);
  return answer;
}

Answer IdentifyReply(const char* code = "is", std::uint8_t letter = 'A') {
  Answer answer;
  answer.dataIn.assign(16, 0);
  answer.dataIn[6] = static_cast<std::uint8_t>(code[0]);
  answer.dataIn[7] = static_cast<std::uint8_t>(code[1]);
  answer.dataIn[15] = letter;
  return answer;
}

// One drive at E:, the main dialog opened over it and Update Start pressed when the
// selection check enables it.
struct DialogRun {
  DialogRun() {
    device.SetUsePassThrough(true);
    dialogs.SetAnswerByDefault(true);
    port.Drive('E').inquiry = InquiryData(5, "VELMORA ", "DVD-ROM QX-M4471", "1005");
  }

  const MainDialogRecord& Run() {
    mainView.Queue({MainStep::UpdateIfEnabled()});
    MainDialog dialog(device, threads, Language::English);
    dialog.Show(mainView);
    return mainView.Shown().back();
  }

  // The data pages of the firmware transfer that reached the drive.
  int DataPages() const {
    int pages = 0;
    for (const devicetest::Request& r : port.requests) {
      if (r.spt.Cdb[0] == 0x1D && r.dataOut.size() > 6 && r.dataOut[5] == 0xC0 &&
          r.dataOut[6] != 0) {
        ++pages;
      }
    }
    return pages;
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& box : system.messageBoxes) texts.push_back(box.text);
    return texts;
  }

  FreshProcessScope fresh;
  devicetest::RecordingPassThroughPort port;
  HostSystem system;
  // The clock comes after the device, so that a worker has ended before the device goes.
  Platform platform{&system, nullptr, &port, nullptr, &threads};
  ScsiDevice device{platform};
  ScriptedDialogs dialogs;
  VirtualThreads threads;
  ScriptedMainDialog mainView{threads, system, dialogs};
};

TEST(DriveAnswersRegression, DriveThatStaysOurModelIsUpdated) {
  // The replay's control: the same script with an unchanged INQUIRY sends the image.
  DialogRun run;
  run.port.Drive('E').script = {Inquiry("DVD-ROM QX-M4471"), Inquiry("DVD-ROM QX-M4471"),
                                Answer(), IdentifyReply(), Inquiry("DVD-ROM QX-M4471"),
                                Answer(), IdentifyReply()};
  // Once the script is spent, INQUIRY is the drive's answer after the update: the new
  // revision, which the dialog asks for before it calls the update complete.
  run.port.Drive('E').inquiry = InquiryData(5, "VELMORA ", "DVD-ROM QX-M4471", "1009");
  const MainDialogRecord& record = run.Run();
  EXPECT_EQ(4, run.DataPages());
  EXPECT_EQ(record.Status(), "Update Complete.");
}

TEST(DriveAnswersRegression, ModelChangedBeforeUpdateStartGetsNoImage) {
  // The selection check sees our model and offers the update; when Update Start is
  // pressed the drive on the same letter names another product (swapped, or answering
  // otherwise), still with the drive code "is". Nothing past the INQUIRY may reach it.
  for (const char* product : {"DVD-ROM QX-M4470", "CD-ROM CX-100", "ABCD10-T5160"}) {
    SCOPED_TRACE(product);
    DialogRun run;
    run.port.Drive('E').script = {Inquiry("DVD-ROM QX-M4471"), Inquiry("DVD-ROM QX-M4471"),
                                  Answer(), IdentifyReply(), Inquiry(product, "1035"),
                                  Answer(), IdentifyReply()};
    const MainDialogRecord& record = run.Run();
    EXPECT_EQ(0, run.DataPages());
    ASSERT_EQ(5u, run.port.requests.size()) << "the start check stops at its INQUIRY";
    EXPECT_EQ(run.port.requests.back().spt.Cdb[0], 0x12);
    EXPECT_EQ(run.Messages(), (std::vector<std::string>{"Not Support.", "Update Failed."}));
    EXPECT_EQ(record.Status(), "Update Failed.");
    EXPECT_EQ(0, selectedImageIndex);
  }
}

TEST(DriveAnswersRegression, ModelFieldCutShortAtStartIsNotOurModel) {
  // A zero byte inside the product field at the start check: the text before it is
  // not the model, however much of it matches.
  DialogRun run;
  Answer cut = Inquiry("DVD-ROM QX-M4471");
  cut.dataIn[16 + 15] = 0;
  run.port.Drive('E').script = {Inquiry("DVD-ROM QX-M4471"), Inquiry("DVD-ROM QX-M4471"),
                                Answer(), IdentifyReply(), cut, Answer(), IdentifyReply()};
  run.Run();
  EXPECT_EQ(0, run.DataPages());
  EXPECT_EQ(run.Messages(), (std::vector<std::string>{"Not Support.", "Update Failed."}));
}

TEST(DriveAnswersRegression, RevisionOfAnotherGenerationAtStartGetsNoImage) {
  // Revision 1005 at the selection check, "V004" or "2005" when Update Start is
  // pressed: the family character still picks image 0, but the drive no longer says
  // it runs firmware of the generation our images are for.
  for (const char* revision : {"V004", "2005", "0005"}) {
    SCOPED_TRACE(revision);
    DialogRun run;
    run.port.Drive('E').script = {Inquiry("DVD-ROM QX-M4471"), Inquiry("DVD-ROM QX-M4471"),
                                  Answer(), IdentifyReply(),
                                  Inquiry("DVD-ROM QX-M4471", revision), Answer(),
                                  IdentifyReply()};
    run.Run();
    EXPECT_EQ(0, run.DataPages());
    EXPECT_EQ(5u, run.port.requests.size()) << "the start check stops at its INQUIRY";
    EXPECT_EQ(run.Messages(), (std::vector<std::string>{"Not Support.", "Update Failed."}));
  }
}

TEST(DriveAnswersRegression, NewerRevisionOfTheSameGenerationAtStartGetsNoImage) {
  // Revision 1005 at the selection check; at Update Start the drive reports the
  // image's own revision with a letter at the threshold, or a newer one, of the same
  // family and drive code. It needs no image, and the older one must not reach it.
  struct Case {
    const char* revision;
    std::uint8_t letter;
  };
  for (const Case& c : {Case{"1009", 'A'}, Case{"1012", 'A'}, Case{"1099", 0}}) {
    SCOPED_TRACE(c.revision);
    DialogRun run;
    run.port.Drive('E').script = {Inquiry("DVD-ROM QX-M4471"), Inquiry("DVD-ROM QX-M4471"),
                                  Answer(), IdentifyReply(),
                                  Inquiry("DVD-ROM QX-M4471", c.revision), Answer(),
                                  IdentifyReply("is", c.letter)};
    const MainDialogRecord& record = run.Run();
    EXPECT_EQ(0, run.DataPages());
    EXPECT_EQ(7u, run.port.requests.size()) << "nothing after the identify exchange";
    EXPECT_EQ(run.Messages(), (std::vector<std::string>{"Unnecessary Firmware Update Drive.",
                                                        "Update Failed."}));
    EXPECT_EQ(record.Status(), "Update Failed.");
    EXPECT_EQ(0, selectedImageIndex);
  }
}

}  // namespace
}  // namespace qx
