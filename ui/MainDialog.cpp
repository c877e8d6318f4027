#include "ui/MainDialog.h"

#include "device/ScsiDevice.h"
#include "update/UpdateLog.h"

namespace qx {

namespace {

// The worker's start record: one for the whole process, filled before the thread
// exists and still valid after the dialog that started it is gone.
DownloadRequest downloadRequest;

// Stands between the version check and the window, so that the dialog itself knows
// whether the check left Update Start enabled: a click that reaches a disabled
// button's handler all the same must not start anything.
class CheckView : public VersionCheckView {
 public:
  CheckView(MainDialogWindow& window, bool* updateStartEnabled)
      : window(window), updateStartEnabled(updateStartEnabled) {}

  int DriveSelection() override { return window.DriveSelection(); }
  void SetStatus(const std::string& text) override { window.SetStatus(text); }
  void EnableUpdateStart(bool enabled) override {
    *updateStartEnabled = enabled;
    window.EnableUpdateStart(enabled);
  }
  void SetCurrentRevision(const std::string& text) override { window.SetCurrentRevision(text); }
  void SetImageVersion(const std::string& text) override { window.SetImageVersion(text); }
  void Beep() override { window.Beep(); }
  void ShowMessage(const std::string& text) override { window.ShowMessage(text); }

 private:
  MainDialogWindow& window;
  bool* updateStartEnabled;
};

}  // namespace

MainDialog::MainDialog(ScsiDevice& device, Threads& threads, Language language,
                       const ImageTable& images)
    : device(device), threads(threads), language(language), images(images) {}

MainDialog::~MainDialog() = default;

void MainDialog::OnInitDialog(MainDialogWindow& openWindow) {
  window = &openWindow;
  monitor = std::make_unique<DownloadMonitor>(threads, openWindow);

  window->SetControlText(maindlg::kNotesId, "");
  window->SetControlText(maindlg::kTargetLabelId, T(TextId::DriveLabel));
  window->SetControlText(maindlg::kStatusId, "");

  const std::string& aboutItem = T(TextId::AboutSystemMenu);
  if (!aboutItem.empty()) window->AppendSystemMenuItem(maindlg::kAboutSysCommand, aboutItem);
  window->SetMenuItemText(maindlg::kAboutCommandId, T(TextId::AboutMenu));
  window->SetProgressRange(0, 100);
  window->SetProgress(0);
  window->SetImageVersion("");
  listEnabled = true;
  cancelEnabled = true;

  Scan();

  caption = FormatText(T(TextId::MainCaption), T(TextId::ModelName));
  window->SetCaption(caption);
}

void MainDialog::Scan() {
  window->BeginWaitCursor();
  int remembered = window->DriveSelection();
  window->ClearDriveList();
  int count = device.ScanDrives();
  for (int i = 0; i < count; ++i) window->AddDriveEntry(device.GetDriveEntry(i).substr(0, 29));
  if (count != 0) {
    // A selection the new list no longer has would leave nothing selected.
    window->SelectDriveEntry(remembered >= 0 && remembered < count ? remembered : 0);
  }
  window->SetStatus(T(TextId::ScanComplete));
  RunSelectionCheck();
  window->EndWaitCursor();
}

void MainDialog::RunSelectionCheck() {
  CheckView view(*window, &updateStartEnabled);
  VersionCheck(device, view, language, images).SelectionCheck();
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

void MainDialog::UpdateStart() {
  if (!updateStartEnabled || busy || finished || updateStarted) return;
  updateStarted = true;

  MessageDialog startNotice[] = {MessageDialog(MessageDialogKind::Start, Language::English),
                                 MessageDialog(MessageDialogKind::Start, Language::Japanese)};

  selectedImageIndex = 0;
  updateStartEnabled = false;
  window->EnableUpdateStart(false);
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

  CheckView view(*window, &updateStartEnabled);
  StartVerdict verdict = VersionCheck(device, view, language, images).StartCheck();
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

  startNotice[language == Language::Japanese ? 1 : 0].Show(window->Notices());

  waitCursor = true;  // the monitor begins it first thing
  if (!monitor->Start(&downloadRequest)) {
    Log("update failed: the worker could not be started");
    StartFailure(false);
    return;
  }
  busy = true;
  window->SetStatus(T(TextId::NowUpdating));
}

void MainDialog::StartFailure(bool deviceRefusal) {
  busy = false;
  if (deviceRefusal) window->ShowMessage(T(TextId::ErrorPrefix) + device.GetLastMessage());
  window->SetStatus(T(TextId::UpdateFailedStatus));
  window->SetProgress(0);
  window->Refresh();
  window->ShowMessage(T(TextId::UpdateFailedBox));
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
    if (waitingForWorker && !WorkerAlive()) {
      window->KillTimer(maindlg::kWorkerWaitTimerId);
      FinishCancel();
    }
    return;
  }
  HandleOutcome(monitor->Step(timerId));
}

void MainDialog::HandleOutcome(MonitorOutcome outcome) {
  if (outcome == MonitorOutcome::NotOurs || outcome == MonitorOutcome::Running) return;
  busy = false;
  // The worker has ended (unless it timed out): what it noted may be read now. After
  // a time-out that waits until CANCEL has seen the worker end.
  if (outcome != MonitorOutcome::TimedOut) WriteWorkerTrace();
  traceDue = outcome == MonitorOutcome::TimedOut;
  switch (outcome) {
    case MonitorOutcome::Succeeded:
      ConfirmUpdate();
      return;
    case MonitorOutcome::Failed:
      Log("update failed: worker exit code " + std::to_string(monitor->LastExitCode()));
      ShowFailure(std::string(), true);
      return;
    case MonitorOutcome::TimedOut:
      Log("update failed: the worker did not end within the time allowed");
      ShowFailure(std::string(), false);
      return;
    default:
      return;
  }
}

// Every page was accepted; only the drive can say whether it runs the new firmware.
// A drive that kept its old revision, or does not answer, has not been updated: that
// is a failure, and the image is not sent again on our own.
void MainDialog::ConfirmUpdate() {
  const std::string expected = images.Image(selectedImageIndex).versionText;
  std::string reported;
  const bool answered =
      ReadRevisionAfterUpdate(device, threads, downloadRequest.driveIndex, log, &reported);
  if (!answered || reported != expected) {
    Log(answered ? "update failed: the drive reports revision " + reported + ", " + expected +
                       " was expected"
                 : "update failed: the drive did not answer after the update, " + expected +
                       " was expected");
    std::string reason = FormatNumbered(
        T(answered ? TextId::RevisionNotConfirmed : TextId::NoAnswerAfterUpdate), reported,
        expected);
    if (log != nullptr && !log->Location().empty()) {
      reason += "\r\n" + FormatNumbered(T(TextId::LogLocation), log->Location());
    }
    ShowFailure(reason, true);
    return;
  }
  Log("update complete: the drive reports revision " + reported);

  MessageDialog endNotice[] = {MessageDialog(MessageDialogKind::End, Language::English),
                               MessageDialog(MessageDialogKind::End, Language::Japanese)};
  // The monitor has already moved the bar to 100.
  window->SetStatus(T(TextId::UpdateComplete));
  EndWaitCursor();
  endNotice[language == Language::Japanese ? 1 : 0].Show(window->Notices());
  if (changedCount == 0) endCode = kEndLeaveSystem;
  EndWith(1);
}

// The failure path after the worker: `reason`, when there is one, in a box of its own
// before "Update Failed.".
void MainDialog::ShowFailure(const std::string& reason, bool resetProgress) {
  window->SetStatus(T(TextId::UpdateFailedStatus));
  if (!reason.empty()) window->SetProgress(0);
  window->Refresh();
  if (!reason.empty()) window->ShowMessage(reason);
  window->ShowMessage(T(TextId::UpdateFailedBox));
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
  MessageDialog cancelNotice[] = {MessageDialog(MessageDialogKind::Cancel, Language::English),
                                  MessageDialog(MessageDialogKind::Cancel, Language::Japanese)};
  endCode = kEndLeaveSystem;
  if (changedCount != 0) {
    endCode = cancelNotice[language == Language::Japanese ? 1 : 0].Show(window->Notices());
  }
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
  window->SetStatus(T(TextId::WaitingForWorker));
  window->BeginWaitCursor();
  waitCursor = true;
  if (window->SetTimer(maindlg::kWorkerWaitTimerId, maindlg::kWorkerWaitPeriodMs)) return;
  // Without a timer there is no way to come back later: wait here.
  while (WorkerAlive()) threads.Sleep(maindlg::kWorkerWaitPeriodMs);
  FinishCancel();
}

void MainDialog::WriteWorkerTrace() {
  if (log == nullptr) return;
  for (const auto& step : downloadRequest.trace) log->WriteAt(step.first, step.second);
}

void MainDialog::FinishCancel() {
  if (traceDue && !WorkerAlive()) {
    traceDue = false;
    Log("the worker that outlived its time-out has ended; what it did:");
    WriteWorkerTrace();
  }
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
  window->SetControlText(maindlg::kUpdateStartId, T(TextId::UpdateStartButton));
  window->SetControlText(maindlg::kCancelId, T(TextId::MainCancelButton));
}

FilterAnswer MainDialog::FilterMessage(unsigned message, std::uintptr_t wParam) const {
  return FilterSessionEnd(message, wParam, finished);
}

bool MainDialog::WorkerAlive() const { return monitor != nullptr && monitor->WorkerAlive(); }

}  // namespace qx
