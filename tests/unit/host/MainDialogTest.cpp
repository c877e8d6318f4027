// The main dialog's logic played through the scripted view against simulated drives
// on the virtual clock: its states, its end codes and what it refuses.
#include "ui/MainDialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "StartupRig.h"
#include "update/UpdateLog.h"

namespace qx {
namespace {

using startuptest::Machine;
using Names = std::vector<std::string>;

struct Showing {
  int result = 0;
  int endCode = 0;
  const MainDialogRecord* record = nullptr;
};

// The main dialog writing the machine's update log, as the start-up hands it over.
struct LoggedDialog {
  LoggedDialog(Machine& m, Language language)
      : log(&m.logFile, m.threads), dialog(*m.device, m.threads, language) {
    dialog.SetLog(&log);
  }
  UpdateLog log;
  MainDialog dialog;
};

Showing Show(Machine& m, MainDialog& dialog, MainScript script) {
  m.device->SetUsePassThrough(true);
  m.mainView.Queue(std::move(script));
  Showing s;
  s.result = dialog.Show(m.mainView);
  s.endCode = dialog.EndCode();
  s.record = &m.mainView.Shown().back();
  return s;
}

int SentPages(const SimDrive& drive) {
  int n = 0;
  for (const SimCommandRecord& r : drive.Log()) {
    if (r.cdb[0] == 0x1D && r.parameters[5] != 0x40) ++n;
  }
  return n;
}

TEST(MainDialogOpen, OneTargetDriveIsListedSelectedAndOffered) {
  Machine m;
  m.AddDrive('E', "1005");
  MainDialog dialog(*m.device, m.threads, Language::English);
  Showing s = Show(m, dialog, {});
  const MainDialogRecord& r = *s.record;
  EXPECT_EQ(s.result, -1);  // no script: still open
  ASSERT_EQ(r.driveList.size(), 1u);
  EXPECT_EQ(r.driveList[0].size(), 29u);
  EXPECT_EQ(r.driveList[0].substr(0, 5), "E:   ");
  EXPECT_EQ(r.selection, 0);
  EXPECT_EQ(r.statusHistory, (Names{"Scan Complete.", "Not Support.", " "}));
  EXPECT_TRUE(r.UpdateStartEnabled());
  EXPECT_EQ(r.caption, "Firmware Update Utility Ver.5.2.0 for  DVD-ROM QX-M4471");
  EXPECT_EQ(r.menuAbout, "About");
  EXPECT_EQ(r.systemMenu, Names{"&About Corvell..."});
  EXPECT_EQ(r.controls.at(maindlg::kTargetLabelId), "CD-Drive");
  EXPECT_EQ(r.imageVersion, "1009");
  EXPECT_EQ(r.currentRevision, "1005");
  EXPECT_EQ(r.progressHigh, 100);
  EXPECT_EQ(r.progressHistory, std::vector<int>{0});
  EXPECT_EQ(r.waitCursorDepth, 0);
  EXPECT_FALSE(dialog.Finished());
  EXPECT_FALSE(dialog.Busy());
}

TEST(MainDialogOpen, AnEmptyListOffersNothing) {
  Machine m;
  MainDialog dialog(*m.device, m.threads, Language::English);
  Showing s = Show(m, dialog, {MainStep::Press(maindlg::kUpdateStartId)});
  EXPECT_TRUE(s.record->driveList.empty());
  EXPECT_EQ(s.record->selection, -1);
  EXPECT_EQ(s.record->Status(), "Not Support.");
  EXPECT_FALSE(s.record->UpdateStartEnabled());
  // The click reached the handler anyway: nothing may start.
  EXPECT_TRUE(m.dialogs.Shown().empty());
  EXPECT_EQ(s.endCode, 0);
}

TEST(MainDialogOpen, JapaneseLabelsAfterTheFirstPaint) {
  Machine m;
  m.AddDrive('E', "1009");
  MainDialog dialog(*m.device, m.threads, Language::Japanese);
  Showing s = Show(m, dialog, {});
  const MainDialogRecord& r = *s.record;
  EXPECT_EQ(r.controls.at(maindlg::kUpdateStartId), "アップデート開始");
  EXPECT_EQ(r.controls.at(maindlg::kCancelId), "中止");
  EXPECT_EQ(r.menuAbout, "バージョン情報");
  EXPECT_EQ(r.controls.at(maindlg::kTargetLabelId), "CD ドライブ");
  EXPECT_EQ(r.Status(), "ファームウェアのアップデートは不要です。");
  EXPECT_FALSE(r.UpdateStartEnabled());
  EXPECT_EQ(r.caption, "Firmware Update Utility Ver.5.2.0 for  DVD-ROM QX-M4471");
}

TEST(MainDialogOpen, SelectingAnotherDriveChecksItAgain) {
  Machine m;
  m.AddDrive('E', "1009");
  m.AddDrive('F', "1005");
  m.AddDrive('G', "1309");
  MainDialog dialog(*m.device, m.threads, Language::English);
  bool offered = false;
  Showing s = Show(m, dialog, {MainStep::Select(1), MainStep::Call([&] {
                                 offered = m.mainView.Shown().back().UpdateStartEnabled();
                                 EXPECT_EQ(m.mainView.Shown().back().currentRevision, "1005");
                               }),
                               MainStep::Select(2), MainStep::Press(maindlg::kUpdateStartId)});
  EXPECT_TRUE(offered);
  // The drive picked last is not offered the update: what the one before left goes.
  EXPECT_EQ(s.record->statusHistory,
            (Names{"Scan Complete.", "Not Support.", "Unnecessary Firmware Update Drive.",
                   "Not Support.", " ", "Not Support.", "Not support firmware."}));
  EXPECT_FALSE(s.record->UpdateStartEnabled());
  EXPECT_EQ(s.record->imageVersion, "");
  EXPECT_EQ(s.record->currentRevision, "1309");
  EXPECT_TRUE(m.dialogs.Shown().empty()) << "Update Start must not start after that";
}

TEST(MainDialogClose, EscapeAndCloseRequestsLeaveItOpen) {
  Machine m;
  m.AddDrive('E', "1005");
  MainDialog dialog(*m.device, m.threads, Language::English);
  dialog.SetChangedCount(2);
  Showing s = Show(m, dialog,
                   {MainStep::Press(kIdCancel), MainStep::Close(), MainStep::Close()});
  EXPECT_FALSE(s.record->ended);
  EXPECT_FALSE(dialog.Finished());
  // With settings to put back every close request asks, and its answer is kept.
  EXPECT_EQ(m.DialogNames(), (Names{"Cancel", "Cancel"}));
  EXPECT_EQ(s.endCode, 1);
  EXPECT_TRUE(s.record->refusedWhileOpen);
}

TEST(MainDialogClose, CancelEndCodesFollowTheJournal) {
  for (int changed : {0, 3}) {
    Machine m;
    m.AddDrive('E', "1005");
    MainDialog dialog(*m.device, m.threads, Language::English);
    dialog.SetChangedCount(changed);
    Showing s = Show(m, dialog, {MainStep::Press(maindlg::kCancelId)});
    EXPECT_EQ(s.result, 1);
    EXPECT_EQ(s.endCode, changed == 0 ? 2 : 1) << changed;
    EXPECT_EQ(m.DialogNames(), changed == 0 ? Names{} : Names{"Cancel"}) << changed;
    EXPECT_TRUE(dialog.Finished());
    EXPECT_TRUE(s.record->refusedWhileOpen);
    EXPECT_TRUE(s.record->releasedAfterEnd);
  }
}

TEST(MainDialogClose, TheFilterHoldsTheSessionOnlyUntilFinished) {
  Machine m;
  m.AddDrive('E', "1005");
  MainDialog dialog(*m.device, m.threads, Language::English);
  m.mainView.SetProbeSessionEnd(false);
  Showing s = Show(m, dialog,
                   {MainStep::Send(winmsg::kQueryEndSession, 0),
                    MainStep::Send(winmsg::kPowerBroadcast, winmsg::kPbtApmQueryStandby),
                    MainStep::Send(winmsg::kPower, 0), MainStep::Press(maindlg::kCancelId)});
  ASSERT_EQ(s.record->filtered.size(), 3u);
  EXPECT_TRUE(s.record->filtered[0].handled);
  EXPECT_EQ(s.record->filtered[1].result, winmsg::kBroadcastQueryDeny);
  EXPECT_FALSE(s.record->filtered[2].handled);  // WM_POWER other than a suspend request
  EXPECT_FALSE(dialog.FilterMessage(winmsg::kQueryEndSession, 0).handled);
}

TEST(MainDialogAbout, MenuAndSystemMenuShowTheAboutBox) {
  Machine m;
  m.AddDrive('E', "1005");
  MainDialog dialog(*m.device, m.threads, Language::English);
  bool closeHandled = true;
  Show(m, dialog, {MainStep::Press(maindlg::kAboutCommandId), MainStep::SysCommand(0x10),
                   MainStep::SysCommand(0x13),
                   MainStep::Call([&] { closeHandled = dialog.OnSysCommand(0xF060); })});
  EXPECT_EQ(m.DialogNames(), (Names{"About", "About", "About"}));
  EXPECT_FALSE(closeHandled);  // SC_CLOSE goes to default processing
  EXPECT_EQ(m.dialogs.Shown()[0].controls.at(AboutDialog::kLogId), "");  // no log, no line
}

TEST(MainDialogAbout, TheAboutBoxSaysWhereTheLogIsInTheUsersLanguage) {
  for (Language language : {Language::English, Language::Japanese}) {
    Machine m;
    m.AddDrive('E', "1005");
    LoggedDialog logged(m, language);
    MainDialog& dialog = logged.dialog;
    Show(m, dialog, {MainStep::Press(maindlg::kAboutCommandId)});
    EXPECT_EQ(m.dialogs.Shown()[0].controls.at(AboutDialog::kLogId),
              (language == Language::English ? "Update log: " : "アップデートログ: ") +
                  m.logFile.location);
  }
}

TEST(MainDialogUpdate, SuccessEndsWithTheEndNoticeAndTheJournalDecidesTheCode) {
  for (int changed : {0, 1}) {
    Machine m;
    SimDrive& drive = m.AddDrive('E', "1005");
    MainDialog dialog(*m.device, m.threads, Language::English);
    dialog.SetChangedCount(changed);
    Showing s = Show(m, dialog, {MainStep::UpdateIfEnabled()});
    const MainDialogRecord& r = *s.record;
    EXPECT_EQ(s.result, 1);
    EXPECT_EQ(s.endCode, changed == 0 ? 2 : 1) << changed;
    EXPECT_EQ(m.DialogNames(), (Names{"Start", "End"}));
    EXPECT_EQ(r.progressHistory.front(), 0);
    EXPECT_EQ(r.progressHistory[1], 2);
    EXPECT_EQ(r.progressHistory.back(), 100);
    // The bar follows the clock up to 94 and never beyond before the end.
    for (std::size_t i = 1; i + 1 < r.progressHistory.size(); ++i) {
      EXPECT_LE(r.progressHistory[i], 94);
    }
    EXPECT_EQ(r.statusHistory.back(), "Update Complete.");
    EXPECT_EQ(drive.Revision(), "1009");
    EXPECT_EQ(SentPages(drive), 7);
    EXPECT_EQ(r.waitCursorDepth, 0);
    EXPECT_FALSE(m.mainView.Loop().HasTimer(download::kTimerId));
    EXPECT_TRUE(r.releasedAfterEnd);
  }
}

// The update ejects the disc of the drive it writes: a program started from that disc
// would lose the pages it has not loaded yet, in the middle of the flash.
TEST(MainDialogUpdate, UpdateStartIsRefusedWhenTheProgramRunsFromTheDriveToBeWritten) {
  for (Language language : {Language::English, Language::Japanese}) {
    Machine m;
    SimDrive& e = m.AddDrive('E', "1005");
    SimDrive& f = m.AddDrive('F', "1005");
    LoggedDialog logged(m, language);
    MainDialog& dialog = logged.dialog;
    dialog.SetProgramFile("e:\\qxupdate.exe", drivetype::kCdrom);
    Showing s = Show(m, dialog, {MainStep::Press(maindlg::kUpdateStartId)});
    EXPECT_EQ(m.Messages(), Names{Text(TextId::ProgramOnTargetDrive, language)});
    EXPECT_TRUE(m.dialogs.Shown().empty());  // no Start notice
    EXPECT_EQ(SentPages(e), 0);
    // Nothing happened: the user can still leave, with the journal as it decides.
    EXPECT_TRUE(s.record->UpdateStartEnabled());
    EXPECT_FALSE(s.record->disabled.count(maindlg::kCancelId) &&
                 s.record->disabled.at(maindlg::kCancelId));
    EXPECT_EQ(s.endCode, 0);
    EXPECT_NE(m.logFile.text.find("update refused: the program runs from E:, the drive to be "
                                  "updated"),
              std::string::npos)
        << m.logFile.text;

    // From E: the same program may update F:.
    m.mainView.Queue({MainStep::Select(1), MainStep::UpdateIfEnabled()});
    m.system.messageBoxes.clear();
    MainDialog other(*m.device, m.threads, language);
    other.SetProgramFile("E:\\qxupdate.exe", drivetype::kCdrom);
    EXPECT_EQ(other.Show(m.mainView), 1);
    EXPECT_EQ(SentPages(f), 7);
    EXPECT_EQ(SentPages(e), 0);
  }

  // Windows 95/98/ME: an ASPI address names no drive letter, so a program on any
  // CD-ROM drive may be on the one to be written, and a program on the hard disk is not.
  for (std::uint32_t driveType : {drivetype::kCdrom, drivetype::kFixed}) {
    SimMachine windows98({RegistryFlavor::Windows9x, nullptr, std::string()});
    windows98.system.version = VersionInfo{4, 10, sys::kPlatformWindows, 2222, " A "};
    windows98.system.modulePath = "D:\\QXUPDATE\\QXUPDATE.EXE";
    windows98.system.driveTypes["D:\\"] = driveType;
    SimDrive& drive = windows98.AddAspiDrive(1, 0);
    UpdateApp app(windows98.platform, windows98.Device(), windows98.Views(), "QXUPDATE");
    windows98.mainView.Queue({MainStep::UpdateIfEnabled(), MainStep::Press(maindlg::kCancelId)});
    app.InitInstance();
    app.ExitInstance();
    const bool refused = driveType == drivetype::kCdrom;
    EXPECT_EQ(windows98.system.messageBoxes.empty(), !refused);
    if (refused) {
      EXPECT_EQ(windows98.system.messageBoxes[0].text,
                Text(TextId::ProgramOnTargetDrive, Language::English));
    }
    EXPECT_EQ(SentPages(drive), refused ? 0 : 7) << driveType;
  }
}

TEST(MainDialogUpdate, WhileUpdatingEverythingIsLockedAndTheCursorWaits) {
  Machine m;
  m.AddDrive('E', "1005");
  MainDialog dialog(*m.device, m.threads, Language::English);
  Showing s = Show(m, dialog,
                   {MainStep::Press(maindlg::kUpdateStartId),
                    MainStep::Press(maindlg::kUpdateStartId), MainStep::Press(maindlg::kCancelId),
                    MainStep::Select(0)});
  const MainDialogRecord& r = *s.record;
  EXPECT_TRUE(dialog.Busy());
  EXPECT_TRUE(dialog.OnSetCursor());
  EXPECT_FALSE(r.ended);
  EXPECT_EQ(r.Status(), "Now Updating...");
  EXPECT_TRUE(r.disabled.at(maindlg::kUpdateStartId));
  EXPECT_TRUE(r.disabled.at(maindlg::kCancelId));
  EXPECT_TRUE(r.disabled.at(maindlg::kDriveListId));
  EXPECT_EQ(m.DialogNames(), Names{"Start"});  // one start, no cancel notice
  EXPECT_EQ(s.endCode, 1);
  EXPECT_EQ(r.waitCursorDepth, 1);
}

TEST(MainDialogUpdate, AFailedUpdateLeavesOnlyCancel) {
  for (Language language : {Language::English, Language::Japanese}) {
    Machine m;
    SimDrive& drive = m.AddDrive('E', "1005");
    ASSERT_TRUE(drive.Faults().Add("send:page=3:status=02:sense=05/26/00"));
    MainDialog dialog(*m.device, m.threads, language);
    Showing s = Show(m, dialog,
                     {MainStep::Press(maindlg::kUpdateStartId), MainStep::RunUntilIdle(),
                      MainStep::Press(maindlg::kUpdateStartId), MainStep::Select(0)});
    const MainDialogRecord& r = *s.record;
    EXPECT_FALSE(r.ended);
    EXPECT_FALSE(dialog.Busy());
    EXPECT_EQ(r.Status(), Text(TextId::UpdateFailedStatus, language));
    EXPECT_EQ(m.Messages(), Names{Text(TextId::UpdateFailedBox, language)});
    EXPECT_EQ(r.progressHistory.back(), 0);
    EXPECT_FALSE(r.disabled.at(maindlg::kCancelId));
    EXPECT_TRUE(r.disabled.at(maindlg::kUpdateStartId));
    EXPECT_TRUE(r.disabled.at(maindlg::kDriveListId));
    EXPECT_EQ(m.DialogNames(), Names{"Start"});
    EXPECT_EQ(SentPages(drive), 5);  // two opening pages, data pages 1 to 3
    EXPECT_EQ(r.waitCursorDepth, 0);
  }
}

// INQUIRYs the drive answered or refused after it accepted the closing page.
int InquiriesAfterTheClosingPage(const SimDrive& drive) {
  int n = -1;
  for (const SimCommandRecord& r : drive.Log()) {
    if (r.cdb[0] == 0x1D && r.parameters[5] == 0xC0 && r.parameters[6] == 0x00) n = 0;
    if (r.cdb[0] == 0x12 && n >= 0) ++n;
  }
  return n;
}

// Every page accepted is not yet an update: the drive is asked which revision it runs.
// One that kept its old firmware, or never answers, fails the update and says why in
// the user's language, with where the log is; the image is not sent a second time.
TEST(MainDialogConfirm, ADriveWithoutTheNewRevisionFailsTheUpdate) {
  for (const char* fault : {"send:page=close:keeprev", "send:page=close:settle=forever"}) {
    for (Language language : {Language::English, Language::Japanese}) {
      SCOPED_TRACE(fault);
      const bool kept = std::string(fault).find("keeprev") != std::string::npos;
      Machine m;
      SimDrive& drive = m.AddDrive('E', "1005");
      ASSERT_TRUE(drive.Faults().Add(fault));
      LoggedDialog logged(m, language);
      MainDialog& dialog = logged.dialog;
      Showing s = Show(m, dialog,
                       {MainStep::Press(maindlg::kUpdateStartId), MainStep::RunUntilIdle(),
                        MainStep::Press(maindlg::kUpdateStartId)});
      const MainDialogRecord& r = *s.record;
      EXPECT_FALSE(r.ended);
      EXPECT_EQ(r.Status(), Text(TextId::UpdateFailedStatus, language));
      const std::string why =
          FormatNumbered(Text(kept ? TextId::RevisionNotConfirmed : TextId::NoAnswerAfterUpdate,
                              language),
                         kept ? "1005" : "", "1009") +
          "\r\n" + FormatNumbered(Text(TextId::LogLocation, language), m.logFile.location);
      EXPECT_EQ(m.Messages(), (Names{why, Text(TextId::UpdateFailedBox, language)}));
      EXPECT_EQ(r.progressHistory.back(), 0);
      EXPECT_FALSE(r.disabled.at(maindlg::kCancelId));
      EXPECT_EQ(m.DialogNames(), Names{"Start"});
      EXPECT_EQ(SentPages(drive), 7);
      EXPECT_EQ(drive.Revision(), kept ? "1005" : "1009");
      // Kept: every try answered with the old revision. Still restarting: every try,
      // each repeated by the device.
      EXPECT_EQ(InquiriesAfterTheClosingPage(drive),
                kept ? download::kConfirmTries : download::kConfirmTries * 7);
      EXPECT_EQ(r.waitCursorDepth, 0);
      EXPECT_NE(m.logFile.text.find(kept ? "update failed: the drive reports revision 1005, 1009 "
                                           "was expected"
                                         : "update failed: the drive did not answer"),
                std::string::npos)
          << m.logFile.text;
    }
  }
}

// A drive that reports more unit attentions after its restart than the device repeats
// one INQUIRY for is asked again, and then confirms the new revision.
TEST(MainDialogConfirm, ADriveStillRestartingIsAskedAgainUntilItAnswers) {
  Machine m;
  SimDrive& drive = m.AddDrive('E', "1005");
  ASSERT_TRUE(drive.Faults().Add("send:page=close:settle=9"));
  LoggedDialog logged(m, Language::English);
  MainDialog& dialog = logged.dialog;
  Showing s = Show(m, dialog, {MainStep::UpdateIfEnabled()});
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(m.DialogNames(), (Names{"Start", "End"}));
  EXPECT_EQ(s.record->statusHistory.back(), "Update Complete.");
  EXPECT_TRUE(m.Messages().empty());
  EXPECT_EQ(InquiriesAfterTheClosingPage(drive), 10);  // 7 refused, then 2 refused and 1 answer
  const std::string& text = m.logFile.text;
  const std::size_t refused =
      text.find("command 12 INQUIRY (after the update) -> 04 sense 06/29/00");
  ASSERT_NE(refused, std::string::npos) << text;
  EXPECT_NE(text.find("command 12 INQUIRY (after the update) -> 01", refused), std::string::npos);
  EXPECT_NE(text.find("update complete: the drive reports revision 1009"), std::string::npos);
}

// Just after its restart a drive may still report the revision it ran before: it is
// asked again, not failed at its first answer.
TEST(MainDialogConfirm, AnOldRevisionJustAfterTheClosingPageIsAskedAgain) {
  Machine m;
  SimDrive& drive = m.AddDrive('E', "1005");
  ASSERT_TRUE(drive.Faults().Add("send:page=close:oldrev=2"));
  LoggedDialog logged(m, Language::English);
  MainDialog& dialog = logged.dialog;
  Showing s = Show(m, dialog, {MainStep::UpdateIfEnabled()});
  EXPECT_EQ(m.DialogNames(), (Names{"Start", "End"}));
  EXPECT_TRUE(m.Messages().empty());
  EXPECT_EQ(s.record->statusHistory.back(), "Update Complete.");
  EXPECT_EQ(InquiriesAfterTheClosingPage(drive), 3);
  EXPECT_NE(m.logFile.text.find("the drive reports revision 1005, 1009 expected: asked again"),
            std::string::npos)
      << m.logFile.text;
}

// A drive that hangs once written holds each INQUIRY for the port's whole time-out
// (200 s). The window must not wait with it: it goes back to its messages, says the
// drive is being checked, refuses the end of the session, and fails the update within
// the check's bound, after which no further try goes out.
TEST(MainDialogConfirm, ADriveThatHangsAfterThePagesNeverHoldsTheWindow) {
  Machine m;
  SimDrive& drive = m.AddDrive('E', "1005");
  ASSERT_TRUE(drive.Faults().Add("inquiry:afterclose:hang"));
  std::uint64_t closedAtMs = 0, failedAtMs = 0;
  drive.SetObserver([&](const SimCommandRecord& r) {
    if (r.cdb[0] == 0x1D && r.parameters[5] == 0xC0 && r.parameters[6] == 0x00) {
      closedAtMs = m.threads.NowMs();
    }
  });
  m.mainView.SetLog([&](const std::string& line) {
    if (line == "STATUS \"Update Failed.\"" && failedAtMs == 0) failedAtMs = m.threads.NowMs();
  });
  LoggedDialog logged(m, Language::English);
  MainDialog& dialog = logged.dialog;
  m.mainView.SetProbeSessionEnd(false);
  const std::string checking = Text(TextId::CheckingDrive, Language::English);
  bool busyWhileAsking = false, refusedWhileAsking = false;
  Showing s = Show(
      m, dialog,
      {MainStep::Press(maindlg::kUpdateStartId), MainStep::Call([&] {
         const MainDialogRecord& r = m.mainView.Shown().back();
         m.mainView.Loop().RunUntil(
             [&] { return InquiriesAfterTheClosingPage(drive) >= 1 && r.Status() == checking; },
             m.threads.NowMs() + 3600000);
         busyWhileAsking = dialog.Busy() && r.Status() == checking;
         refusedWhileAsking = dialog.FilterMessage(winmsg::kQueryEndSession, 0).handled;
       }),
       MainStep::RunUntilIdle(), MainStep::Press(maindlg::kCancelId)});
  EXPECT_TRUE(busyWhileAsking);
  EXPECT_TRUE(refusedWhileAsking);
  ASSERT_NE(failedAtMs, 0u);
  EXPECT_LE(failedAtMs - closedAtMs, 32000u);
  EXPECT_EQ(m.Messages(),
            (Names{FormatNumbered(Text(TextId::NoAnswerAfterUpdate, Language::English), "",
                                  "1009") +
                       "\r\n" +
                       FormatNumbered(Text(TextId::LogLocation, Language::English),
                                      m.logFile.location),
                   "Update Failed."}));
  // CANCEL waited for the one try under way; none followed it.
  EXPECT_TRUE(s.record->ended);
  EXPECT_FALSE(dialog.WorkerAlive());
  EXPECT_EQ(InquiriesAfterTheClosingPage(drive), 1);
  EXPECT_NE(m.logFile.text.find("the drive did not answer after the update within 27 s"),
            std::string::npos)
      << m.logFile.text;
  EXPECT_NE(m.logFile.text.find("the check was given up"), std::string::npos);
}

// The worker's steps reach the log while it runs, not once it has ended: a data page
// the drive takes long over is in the log, named, while it is being written.
TEST(MainDialogUpdate, TheLogNamesThePageBeingWrittenWhileTheWorkerRuns) {
  Machine m;
  SimDrive& drive = m.AddDrive('E', "1005");
  ASSERT_TRUE(drive.Faults().Add("send:page=3:delay=20000"));
  LoggedDialog logged(m, Language::English);
  MainDialog& dialog = logged.dialog;
  std::string lastLineDuringPage3;
  Show(m, dialog,
       {MainStep::Press(maindlg::kUpdateStartId), MainStep::Call([&] {
          // Pages 1 and 2 are in; page 3 takes the drive 20 s. Ten seconds into it:
          m.mainView.Loop().RunUntil([&] { return SentPages(drive) >= 4; }, 3600000);
          m.mainView.Loop().RunUntil([] { return false; }, m.threads.NowMs() + 10000);
          const std::string& text = m.logFile.text;
          const std::size_t end = text.size() - 1;
          lastLineDuringPage3 = text.substr(text.rfind('\n', end - 1) + 1);
        }),
        MainStep::RunUntilIdle()});
  EXPECT_NE(lastLineDuringPage3.find("writing page C0 03 of 4"), std::string::npos)
      << lastLineDuringPage3;
}

TEST(MainDialogUpdate, CancelAfterAFailureEndsWithTwo) {
  Machine m;
  SimDrive& drive = m.AddDrive('E', "1005");
  ASSERT_TRUE(drive.Faults().Add("send:page=open1:status=02"));
  MainDialog dialog(*m.device, m.threads, Language::English);
  Showing s = Show(m, dialog, {MainStep::UpdateIfEnabled()});
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.endCode, 2);
  EXPECT_FALSE(dialog.WorkerAlive());
}

TEST(MainDialogStartFailure, DeviceRefusalShowsTheDeviceMessageFirst) {
  for (Language language : {Language::English, Language::Japanese}) {
    Machine m;
    SimDrive& drive = m.AddDrive('E', "1005");
    MainDialog dialog(*m.device, m.threads, language);
    // The selection check passed; the start check's identify fails.
    Showing s = Show(m, dialog,
                     {MainStep::Call([&] {
                        drive.Faults().Add("send:page=identify:status=02:sense=05/24/00");
                      }),
                      MainStep::Press(maindlg::kUpdateStartId)});
    std::vector<std::string> messages = m.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], Text(TextId::ErrorPrefix, language) + m.device->GetLastMessage());
    EXPECT_FALSE(m.device->GetLastMessage().empty());
    EXPECT_EQ(messages[1], Text(TextId::UpdateFailedBox, language));
    EXPECT_TRUE(m.dialogs.Shown().empty());  // no Start notice
    EXPECT_EQ(s.record->Status(), Text(TextId::UpdateFailedStatus, language));
    EXPECT_FALSE(s.record->disabled.at(maindlg::kCancelId));
    EXPECT_EQ(SentPages(drive), 0);
    EXPECT_EQ(s.endCode, 1);
  }
}

TEST(MainDialogStartFailure, AWorkerLeftRunningIsWaitedForOnCancel) {
  Machine m;
  SimDrive& drive = m.AddDrive('E', "1005");
  // The thread is running when the timer cannot be set; with no timer at all the
  // wait for it falls back to sleeping.
  m.mainView.Loop().SetTimerFails(true);
  MainDialog dialog(*m.device, m.threads, Language::English);
  Showing s = Show(m, dialog,
                   {MainStep::Press(maindlg::kUpdateStartId), MainStep::Press(maindlg::kCancelId)});
  EXPECT_EQ(m.Messages(), Names{"Update Failed."});
  EXPECT_TRUE(s.record->ended);
  EXPECT_EQ(s.endCode, 2);
  EXPECT_FALSE(dialog.WorkerAlive());
  EXPECT_EQ(SentPages(drive), 7);  // the write ran to its end before the dialog did
  EXPECT_EQ(s.record->statusHistory.back(), "Waiting for the update to end...");
  // The wait without a timer still keeps the window alive: the worker's 127.5 s of
  // waits and its pages pass with the messages pumped at least every 50 ms.
  EXPECT_GE(s.record->messagePumps, 127500 / 50);
}

TEST(MainDialogStartFailure, AThreadThatCannotStartIsAStartFailure) {
  Machine m;
  SimDrive& drive = m.AddDrive('E', "1005");
  m.threads.SetResumeMode(VirtualThreads::ResumeMode::CountStaysHigh);
  MainDialog dialog(*m.device, m.threads, Language::English);
  Showing s = Show(m, dialog, {MainStep::UpdateIfEnabled()});
  EXPECT_EQ(m.threads.ResumeCalls(), 11);
  EXPECT_EQ(m.Messages(), Names{"Update Failed."});
  // A thread never resumed sends nothing, so CANCEL need not wait for it.
  EXPECT_TRUE(s.record->ended);
  EXPECT_EQ(SentPages(drive), 0);
  EXPECT_EQ(s.endCode, 2);
}

TEST(MainDialogTimeout, CancelWaitsForTheWorkerBeforeTheDialogEnds) {
  Machine m;
  SimDrive& drive = m.AddDrive('E', "1005");
  ASSERT_TRUE(drive.Faults().Add("send:page=1:delay=200000"));
  MainDialog dialog(*m.device, m.threads, Language::Japanese);
  dialog.SetChangedCount(1);
  m.mainView.SetProbeSessionEnd(false);
  const MainDialogRecord* r = nullptr;
  bool aliveAfterTimeout = false;
  int pagesAtTimeout = -1;
  bool waiting = false, finishedWhileWaiting = true, cursorWhileWaiting = false;
  bool refusedWhileWaiting = false;
  std::string statusWhileWaiting;
  Showing s = Show(
      m, dialog,
      {MainStep::Press(maindlg::kUpdateStartId), MainStep::RunUntilIdle(), MainStep::Call([&] {
         r = &m.mainView.Shown().back();
         aliveAfterTimeout = dialog.WorkerAlive();
         pagesAtTimeout = SentPages(drive);
         // CANCEL now: the dialog says what it waits for and holds the session meanwhile.
         dialog.OnCommand(maindlg::kCancelId);
         waiting = dialog.WaitingForWorker();
         finishedWhileWaiting = dialog.Finished();
         cursorWhileWaiting = dialog.OnSetCursor();
         statusWhileWaiting = r->Status();
         refusedWhileWaiting = dialog.FilterMessage(winmsg::kQueryEndSession, 0).handled;
         dialog.OnCommand(maindlg::kCancelId);  // again: no second Cancel notice
         dialog.OnClose();
       }),
       MainStep::RunUntilIdle()});
  EXPECT_TRUE(aliveAfterTimeout);
  EXPECT_LT(pagesAtTimeout, 7);
  EXPECT_TRUE(waiting);
  EXPECT_FALSE(finishedWhileWaiting);
  EXPECT_TRUE(cursorWhileWaiting);
  EXPECT_TRUE(refusedWhileWaiting);
  EXPECT_EQ(statusWhileWaiting, Text(TextId::WaitingForWorker, Language::Japanese));
  // After the time-out the failure box warns that the drive may still be writing.
  EXPECT_EQ(m.Messages(), Names{"アップデートに失敗しました。\r\n" +
                                Text(TextId::TimedOutAdvice, Language::Japanese)});
  EXPECT_EQ(m.DialogNames(), (Names{"Start", "Cancel"}));

  EXPECT_TRUE(s.record->ended);
  EXPECT_FALSE(dialog.WorkerAlive());
  EXPECT_EQ(SentPages(drive), 7);
  EXPECT_EQ(s.endCode, 1);
  EXPECT_FALSE(m.mainView.Loop().HasTimer(maindlg::kWorkerWaitTimerId));
  EXPECT_EQ(s.record->waitCursorDepth, 0);
}

}  // namespace
}  // namespace qx
