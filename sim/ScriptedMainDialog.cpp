#include "sim/ScriptedMainDialog.h"

#include <utility>

namespace qx {

namespace {

// The window side of one showing: keeps what the logic put on screen.
class RecordingMainWindow : public MainDialogWindow {
 public:
  RecordingMainWindow(MainDialogRecord& record, HostMessageLoop& loop, System& system,
                      ScriptedDialogs& dialogs, std::function<void(const std::string&)>& log)
      : record(record), loop(loop), system(system), dialogs(dialogs), log(log) {}

  // What the checks show: the status line, Update Start, the hidden fields, beeps, boxes
  int DriveSelection() override { return record.selection; }
  void SetStatus(const std::string& text) override {
    record.controls[maindlg::kStatusId] = text;
    record.statusHistory.push_back(text);
    Log("STATUS \"" + text + "\"");
  }
  void EnableUpdateStart(bool enabled) override {
    record.disabled[maindlg::kUpdateStartId] = !enabled;
  }
  void SetCurrentRevision(const std::string& text) override { record.currentRevision = text; }
  void SetImageVersion(const std::string& text) override { record.imageVersion = text; }
  void Beep() override {
    ++record.beeps;
    system.MessageBeep(sys::kBeepStandard);
  }
  void ShowMessage(const std::string& text) override {
    system.MessageBox(ScriptedMainDialog::kWindow, text, Text(TextId::Caption, Language::English),
                      sys::kMbOk);
  }

  // DownloadMonitorView
  void BeginWaitCursor() override { ++record.waitCursorDepth; }
  bool SetTimer(std::uint32_t timerId, std::uint32_t periodMs) override {
    return loop.SetTimer(timerId, periodMs);
  }
  void KillTimer(std::uint32_t timerId) override { loop.KillTimer(timerId); }
  void SetProgress(int position) override {
    record.progressHistory.push_back(position);
    Log("PROGRESS " + std::to_string(position));
  }
  void Refresh() override {}

  // MainDialogWindow
  void SetCaption(const std::string& text) override { record.caption = text; }
  void AppendSystemMenuItem(unsigned, const std::string& text) override {
    record.systemMenu.push_back(text);
  }
  void SetMenuItemText(int, const std::string& text) override { record.menuAbout = text; }
  void SetControlText(int controlId, const std::string& text) override {
    record.controls[controlId] = text;
  }
  void EnableControl(int controlId, bool enabled) override {
    record.disabled[controlId] = !enabled;
  }
  void SetProgressRange(int low, int high) override {
    record.progressLow = low;
    record.progressHigh = high;
  }
  void ClearDriveList() override {
    record.driveList.clear();
    record.selection = -1;
  }
  void AddDriveEntry(const std::string& text) override { record.driveList.push_back(text); }
  void SelectDriveEntry(int index) override {
    record.selection = index >= 0 && index < static_cast<int>(record.driveList.size()) ? index : -1;
  }
  void EndWaitCursor() override { --record.waitCursorDepth; }
  MessageDialogView& Notices() override { return dialogs; }
  AboutDialogView& AboutBox() override { return dialogs; }
  void EndDialog(int result) override {
    record.ended = true;
    record.result = result;
  }
  void PumpMessages() override { ++record.messagePumps; }

 private:
  void Log(const std::string& line) {
    if (log) log(line);
  }

  MainDialogRecord& record;
  HostMessageLoop& loop;
  System& system;
  ScriptedDialogs& dialogs;
  std::function<void(const std::string&)>& log;
};

}  // namespace

const std::string& MainDialogRecord::Status() const {
  static const std::string kEmpty;
  auto it = controls.find(maindlg::kStatusId);
  return it == controls.end() ? kEmpty : it->second;
}

bool MainDialogRecord::UpdateStartEnabled() const {
  auto it = disabled.find(maindlg::kUpdateStartId);
  return it != disabled.end() && !it->second;  // the template starts it disabled
}

ScriptedMainDialog::ScriptedMainDialog(VirtualThreads& threads, System& system,
                                       ScriptedDialogs& dialogs)
    : threads(threads), system(system), dialogs(dialogs), loop(threads) {}

int ScriptedMainDialog::RunModal(MainDialog& dialog) {
  shown.emplace_back();
  MainDialogRecord& record = shown.back();
  // The template's own labels until the first paint.
  record.controls[maindlg::kUpdateStartId] = Text(TextId::UpdateStartButton, Language::English);
  record.controls[maindlg::kCancelId] = Text(TextId::MainCancelButton, Language::English);
  record.disabled[maindlg::kUpdateStartId] = true;

  RecordingMainWindow window(record, loop, system, dialogs, log);
  loop.SetTimerHandler([&](std::uint32_t timerId) { dialog.OnTimer(timerId); });

  auto filter = [&](unsigned message, std::uintptr_t wParam) {
    return dialog.FilterMessage(message, wParam);
  };
  auto runUntilIdle = [&] {
    loop.RunUntil([&] { return record.ended || (!dialog.Busy() && !dialog.WaitingForWorker()); },
                   threads.NowMs() + clockLimitMs);
  };
  auto pressCancel = [&] {
    dialog.OnCommand(maindlg::kCancelId);
    if (dialog.WaitingForWorker()) runUntilIdle();
  };

  MainScript script;
  if (!scripts.empty()) {
    script = std::move(scripts.front());
    scripts.pop_front();
  }

  dialog.OnInitDialog(window);
  dialog.OnPaint();
  if (probeSessionEnd) record.refusedWhileOpen = ProbeSessionEnd(record, filter, true);

  for (const MainStep& step : script) {
    if (record.ended) break;
    switch (step.type) {
      case MainStep::Type::Press:
        if (step.value == maindlg::kCancelId) {
          pressCancel();
        } else {
          dialog.OnCommand(step.value);
        }
        break;
      case MainStep::Type::SysCommand:
        dialog.OnSysCommand(static_cast<unsigned>(step.value));
        break;
      case MainStep::Type::Select:
        window.SelectDriveEntry(step.value);
        dialog.OnSelectionChange();
        break;
      case MainStep::Type::Close:
        dialog.OnClose();
        break;
      case MainStep::Type::Paint:
        dialog.OnPaint();
        break;
      case MainStep::Type::Send:
        SendThroughFilter(record, filter, step.message, step.wParam);
        break;
      case MainStep::Type::RunUntilIdle:
        runUntilIdle();
        break;
      case MainStep::Type::UpdateIfEnabled:
        if (record.UpdateStartEnabled()) {
          dialog.OnCommand(maindlg::kUpdateStartId);
          runUntilIdle();
        }
        if (!record.ended) pressCancel();
        break;
      case MainStep::Type::Call:
        if (step.call) step.call();
        break;
    }
  }
  if (probeSessionEnd && record.ended) {
    record.releasedAfterEnd = ProbeSessionEnd(record, filter, false);
  }

  loop.SetTimerHandler(nullptr);
  record.endCode = dialog.EndCode();
  if (record.ended && log) log("ENDCODE " + std::to_string(record.endCode));
  return record.result;
}

}  // namespace qx
