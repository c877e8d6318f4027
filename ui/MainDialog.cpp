#include "ui/MainDialog.h"

#include "device/ScsiDevice.h"
#include "platform/AsciiText.h"
#include "platform/System.h"
#include "update/UpdateLog.h"

namespace qx {

namespace {

// The worker's start record: one for the whole process, filled before the thread
// exists and still valid after the dialog that started it is gone.
DownloadRequest downloadRequest;

}  // namespace

MainDialog::MainDialog(ScsiDevice& device, Threads& threads, Language language,
                       const ImageTable& images)
    : device(device), threads(threads), language(language), images(images) {}

MainDialog::~MainDialog() = default;

void MainDialog::OnInitDialog(MainDialogWindow& openWindow) {
  window = &openWindow;
  monitor = std::make_unique<DownloadMonitor>(threads, openWindow);

  window->SetControlText(maindlg::kNotesId, "");
  window->SetControlText(maindlg::kTargetLabelId, Localized(TextId::DriveLabel));
  window->SetControlText(maindlg::kStatusId, "");

  const std::string& aboutItem = Localized(TextId::AboutSystemMenu);
  if (!aboutItem.empty()) window->AppendSystemMenuItem(maindlg::kAboutSysCommand, aboutItem);
  window->SetMenuItemText(maindlg::kAboutCommandId, Localized(TextId::AboutMenu));
  window->SetProgressRange(0, 100);
  window->SetProgress(0);
  window->SetImageVersion("");
  listEnabled = true;
  cancelEnabled = true;

  Scan();

  caption = FormatText(Localized(TextId::MainCaption), Localized(TextId::ModelName));
  window->SetCaption(caption);
}

void MainDialog::Scan() {
  window->BeginWaitCursor();
  int remembered = window->DriveSelection();
  window->ClearDriveList();
  int count = device.ScanDrives();
  for (const std::string& note : device.ScanNotes()) Log("scan: " + note);
  for (int i = 0; i < count; ++i) window->AddDriveEntry(device.GetDriveEntry(i).substr(0, 29));
  if (count != 0) {
    // A selection the new list no longer has would leave nothing selected.
    window->SelectDriveEntry(remembered >= 0 && remembered < count ? remembered : 0);
  }
  window->SetStatus(Localized(TextId::ScanComplete));
  RunSelectionCheck();
  window->EndWaitCursor();
}

// The check's two screens in turn: the second step's commands go to the drive while
// the first one's status shows.
void MainDialog::RunSelectionCheck() {
  VersionCheck check(device, language, images);
  const SelectionInquiry inquiry = check.InquireSelection(window->DriveSelection());
  if (inquiry.answered) {
    window->SetCurrentRevision(inquiry.currentRevision);
  } else {
    window->Beep();
  }
  window->SetStatus(inquiry.status);
  EnableUpdateStart(false);
  window->SetImageVersion("");

  const SelectionDecision decision = check.DecideSelection();
  if (!decision.imageVersion.empty()) window->SetImageVersion(decision.imageVersion);
  if (decision.updateStart) EnableUpdateStart(true);
  if (decision.status) window->SetStatus(*decision.status);
}

void MainDialog::EnableUpdateStart(bool enabled) {
  updateStartEnabled = enabled;
  window->EnableUpdateStart(enabled);
}

void MainDialog::OnSelectionChange() {
  if (window == nullptr || !listEnabled || busy || finished) return;
  RunSelectionCheck();
}

void MainDialog::OnCommand(int commandId) {
  if (window == nullptr) return;
  switch (commandId) {
    case maindlg::kUpdateStartId:
      UpdateStart();
      return;
    case maindlg::kCancelId:
      CancelPressed();
      return;
    case maindlg::kAboutCommandId:
      ShowAbout();
      return;
    default:
      return;  // Escape's id 2 and anything else: the dialog stays as it is
  }
}

bool MainDialog::OnSysCommand(unsigned commandId) {
  if (window == nullptr || (commandId & maindlg::kSysCommandMask) != maindlg::kAboutSysCommand) {
    return false;
  }
  ShowAbout();
  return true;
}

void MainDialog::Log(const std::string& text) {
  if (log != nullptr) log->Write(text);
}

void MainDialog::ShowAbout() {
  AboutDialog about(language);
  if (log != nullptr) about.SetLogLocation(log->Location());
  about.Show(window->AboutBox());
}

// The worker ejects the disc of the drive it writes: a program started from that disc
// would lose the pages it has not loaded yet, in the middle of the flash. Through
// pass-through the drive has its letter. An ASPI address names no letter, so on
// Windows 95/98/ME any CD-ROM drive the program runs from may be the one: refusing
// there costs a copy to the hard disk, letting it pass may cost the drive.
std::string MainDialog::ProgramOnTarget(int selection) const {
  const char letter =
      programPath.size() >= 2 && programPath[1] == ':' ? ascii::Upper(programPath[0]) : 0;
  if (letter < 'A' || letter > 'Z') return std::string();  // unknown, or on a share
  const std::string drive = std::string(1, letter) + ":";
  if (!device.UsePassThrough()) return programDriveType == sys::kDriveCdrom ? drive : "";
  const std::string entry = device.GetDriveEntry(selection);
  return !entry.empty() && ascii::Upper(entry[0]) == letter ? drive : std::string();
}

void MainDialog::UpdateStart() {
  if (!updateStartEnabled || busy || finished || updateStarted) return;
  const std::string programDrive = ProgramOnTarget(window->DriveSelection());
  if (!programDrive.empty()) {
    // Nothing has been sent: the dialog stays as it was, for CANCEL.
    Log("update refused: the program runs from " + programDrive +
        (device.UsePassThrough() ? ", the drive to be updated"
                                 : ", a CD-ROM drive that may be the one to be updated"));
    window->ShowMessage(Localized(TextId::ProgramOnTargetDrive));
    return;
  }
  updateStarted = true;

  selectedImageIndex = 0;
  EnableUpdateStart(false);
  cancelEnabled = false;
  window->EnableControl(maindlg::kCancelId, false);
  listEnabled = false;
  window->EnableControl(maindlg::kDriveListId, false);

  endCode = 1;

  int selection = window->DriveSelection();
  downloadRequest.driveIndex = static_cast<std::uint8_t>(selection & 0xFF);
  downloadRequest.device = &device;
  downloadRequest.threads = &threads;
  downloadRequest.images = &images;

  const StartCheckResult check = VersionCheck(device, language, images).StartCheck(selection);
  if (!check.message.empty()) window->ShowMessage(check.message);
  const StartVerdict verdict = check.verdict;
  if (verdict != StartVerdict::Pass) {
    Log(verdict == StartVerdict::DeviceRefusal
            ? "update refused: the drive did not answer the start check: " + device.GetLastMessage()
            : "update refused: the start check does not support the drive");
    StartFailure(verdict == StartVerdict::DeviceRefusal);
    return;
  }
  Log("update start: drive " + device.GetDriveEntry(selection).substr(0, 29) + ", image " +
      std::to_string(selectedImageIndex) + " version " +
      images.Image(selectedImageIndex).versionText);

  ShowNotice(MessageDialogKind::Start, language, window->Notices());

  downloadRequest.trace.Clear();
  traceWritten = 0;
  waitCursor = true;  // the monitor begins it first thing
  if (!monitor->Start(&downloadRequest)) {
    Log("update failed: the worker could not be started");
    StartFailure(false);
    return;
  }
  busy = true;
  window->SetStatus(Localized(TextId::NowUpdating));
}

void MainDialog::StartFailure(bool deviceRefusal) {
  busy = false;
  if (deviceRefusal) window->ShowMessage(Localized(TextId::ErrorPrefix) + device.GetLastMessage());
  window->SetStatus(Localized(TextId::UpdateFailedStatus));
  window->SetProgress(0);
  window->Refresh();
  window->ShowMessage(Localized(TextId::UpdateFailedBox));
  cancelEnabled = true;
  window->EnableControl(maindlg::kCancelId, true);
  window->Refresh();
  if (waitCursor) {
    waitCursor = false;
    window->EndWaitCursor();
  }
}

void MainDialog::OnTimer(std::uint32_t timerId) {
  if (window == nullptr) return;
  if (timerId == maindlg::kWorkerWaitTimerId) {
    WriteWorkerTrace();
    if (waitingForWorker && !WorkerAlive()) {
      window->KillTimer(maindlg::kWorkerWaitTimerId);
      FinishCancel();
    }
    return;
  }
  const MonitorOutcome outcome = monitor->Step(timerId);
  // After the step: a worker it found ended has published every step it took.
  WriteWorkerTrace();
  HandleOutcome(outcome);
}

void MainDialog::HandleOutcome(MonitorOutcome outcome) {
  if (outcome == MonitorOutcome::NotOurs) return;
  if (outcome == MonitorOutcome::Running) {
    if (monitor->Checking() && !checkingShown) {
      checkingShown = true;
      window->SetStatus(Localized(TextId::CheckingDrive));
    }
    return;
  }
  busy = false;
  switch (outcome) {
    case MonitorOutcome::Succeeded:
      ConfirmUpdate();
      return;
    case MonitorOutcome::CheckTimedOut: {
      const std::uint32_t waited = download::kConfirmTicks * download::kTimerPeriodMs / 1000;
      FailAfterPages(false, std::string(), images.Image(selectedImageIndex).versionText,
                     " within " + std::to_string(waited) + " s");
      return;
    }
    case MonitorOutcome::Failed:
      Log("update failed: worker exit code " + std::to_string(monitor->LastExitCode()));
      ShowFailure(std::string(), true, WithLogLocation(Localized(TextId::UpdateFailedBox)));
      return;
    case MonitorOutcome::TimedOut:
      Log("update failed: the worker did not end within the time allowed");
      ShowFailure(std::string(), false,
                  WithLogLocation(Localized(TextId::UpdateFailedBox) + "\r\n" +
                                  Localized(TextId::TimedOutAdvice)));
      return;
    default:
      return;
  }
}

// Every page was accepted; only the drive can say whether it runs the new firmware.
// The worker has asked it. A drive that kept its old revision, or does not answer, has
// not been updated: that is a failure, and the image is not sent again on our own.
void MainDialog::ConfirmUpdate() {
  const std::string expected = images.Image(selectedImageIndex).versionText;
  const std::string reported = downloadRequest.revision;
  if (!downloadRequest.revisionAnswered || reported != expected) {
    FailAfterPages(downloadRequest.revisionAnswered, reported, expected, std::string());
    return;
  }
  Log("update complete: the drive reports revision " + reported);

  // The monitor has already moved the bar to 100.
  window->SetStatus(Localized(TextId::UpdateComplete));
  EndWaitCursor();
  ShowNotice(MessageDialogKind::End, language, window->Notices());
  if (changedCount == 0) endCode = kEndLeaveSystem;
  EndWith(1);
}

// Every page accepted, but the drive did not confirm the new revision: `when` says how
// long it was waited for, when it did not answer in time.
void MainDialog::FailAfterPages(bool answered, const std::string& reported,
                                const std::string& expected, const std::string& when) {
  Log(answered ? "update failed: the drive reports revision " + reported + ", " + expected +
                     " was expected"
               : "update failed: the drive did not answer after the update" + when + ", " +
                     expected + " was expected");
  ShowFailure(WithLogLocation(FormatNumbered(
                  Localized(answered ? TextId::RevisionNotConfirmed : TextId::NoAnswerAfterUpdate),
                  reported, expected)),
              true);
}

// `text` and, below it, where the update log is, for whoever the user asks for help.
std::string MainDialog::WithLogLocation(const std::string& text) const {
  if (log == nullptr || log->Location().empty()) return text;
  return text + "\r\n" + FormatNumbered(Localized(TextId::LogLocation), log->Location());
}

// The failure path after the worker: `reason`, when there is one, in a box of its own
// before the failure box (`failedBox`, or "Update Failed." alone).
void MainDialog::ShowFailure(const std::string& reason, bool resetProgress,
                             const std::string& failedBox) {
  window->SetStatus(Localized(TextId::UpdateFailedStatus));
  if (!reason.empty()) window->SetProgress(0);
  window->Refresh();
  if (!reason.empty()) window->ShowMessage(reason);
  window->ShowMessage(failedBox.empty() ? Localized(TextId::UpdateFailedBox) : failedBox);
  if (resetProgress) window->SetProgress(0);
  cancelEnabled = true;
  window->EnableControl(maindlg::kCancelId, true);
  window->Refresh();
  EndWaitCursor();
}

void MainDialog::EndWaitCursor() {
  if (!waitCursor) return;
  waitCursor = false;
  window->EndWaitCursor();
}

void MainDialog::CloseStep() {
  endCode = kEndLeaveSystem;
  if (changedCount != 0) endCode = ShowNotice(MessageDialogKind::Cancel, language, window->Notices());
}

void MainDialog::OnClose() {
  if (window == nullptr || finished || waitingForWorker) return;
  CloseStep();
}

void MainDialog::CancelPressed() {
  if (!cancelEnabled || busy || finished || waitingForWorker) return;
  CloseStep();
  if (!WorkerAlive()) {
    FinishCancel();
    return;
  }
  // A worker that outlived its time-out may be in the middle of the firmware write:
  // restoring the settings and restarting now could leave the drive without working
  // firmware. Its commands time out on their own, so waiting for it always ends.
  waitingForWorker = true;
  cancelEnabled = false;
  window->EnableControl(maindlg::kCancelId, false);
  window->SetStatus(Localized(TextId::WaitingForWorker));
  window->BeginWaitCursor();
  waitCursor = true;
  if (window->SetTimer(maindlg::kWorkerWaitTimerId, maindlg::kWorkerWaitPeriodMs)) return;
  // Without a timer there is no way to come back later: wait here, and keep the
  // window painted and answering the system meanwhile.
  while (WorkerAlive()) {
    window->PumpMessages();
    threads.Sleep(maindlg::kWorkerWaitPumpMs);
  }
  FinishCancel();
}

void MainDialog::WriteWorkerTrace() {
  const WorkerSteps& trace = downloadRequest.trace;
  const std::size_t published = trace.Count();
  for (; traceWritten < published; ++traceWritten) {
    if (log != nullptr) log->WriteAt(trace.At(traceWritten).seconds, trace.At(traceWritten).text);
  }
}

void MainDialog::FinishCancel() {
  WriteWorkerTrace();
  waitingForWorker = false;
  EndWaitCursor();
  EndWith(1);
}

void MainDialog::EndWith(int result) {
  finished = true;
  window->EndDialog(result);
}

void MainDialog::OnPaint() {
  if (window == nullptr || language != Language::Japanese) return;
  window->SetControlText(maindlg::kUpdateStartId, Localized(TextId::UpdateStartButton));
  window->SetControlText(maindlg::kCancelId, Localized(TextId::MainCancelButton));
}

FilterAnswer MainDialog::FilterMessage(unsigned message, std::uintptr_t wParam) const {
  return FilterSessionEnd(message, wParam, finished);
}

bool MainDialog::WorkerAlive() const { return monitor != nullptr && monitor->WorkerAlive(); }

}  // namespace qx
