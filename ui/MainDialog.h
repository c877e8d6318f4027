#pragma once
// The main dialog's logic: the drive list, the status line, Update Start and the
// worker it starts, CANCEL, and the end code the start-up reads when it closes.
// The window itself is a view (Win32 over template 102, or a scripted host view);
// the view tells the logic what happened and the logic tells the view what to show.
#include <cstdint>
#include <memory>
#include <string>

#include "res/resource.h"
#include "ui/AboutDialog.h"
#include "ui/MessageDialog.h"
#include "ui/SessionEndFilter.h"
#include "text/TextCatalogue.h"
#include "update/DownloadWorker.h"
#include "update/ImageTable.h"
#include "update/UpdateLog.h"
#include "update/VersionCheck.h"

namespace qx {

class ScsiDevice;
class MainDialog;

namespace maindlg {
constexpr int kTemplateId = IDD_MAIN;
constexpr int kIconId = IDR_MAINFRAME;
constexpr int kMenuId = IDR_MAINMENU;
constexpr int kNotesId = IDC_NOTES;          // static, always empty
constexpr int kTargetLabelId = IDC_TARGET;   // "CD-Drive"
constexpr int kStatusId = IDC_NOWSTATUS;     // the status line
constexpr int kDriveListId = IDC_DRIVELIST;
constexpr int kCurrentRevisionId = IDC_CURRENTVERSION;  // hidden
constexpr int kImageVersionId = IDC_IMAGEVERSION;       // hidden
constexpr int kUpdateStartId = IDC_UPDATESTART;
constexpr int kCancelId = IDC_CANCELBUTTON;
constexpr int kProgressId = IDC_PROGRESS;
constexpr int kAboutCommandId = IDM_ABOUT;           // menu item
constexpr unsigned kAboutSysCommand = IDM_ABOUTBOX;  // system-menu item
constexpr unsigned kSysCommandMask = 0xFFF0;
// While a worker that outlived its time-out is still writing, CANCEL waits for it on
// this timer before the dialog may end.
constexpr std::uint32_t kWorkerWaitTimerId = IDT_WORKERWAIT;
constexpr std::uint32_t kWorkerWaitPeriodMs = 1000;
// Without that timer the wait pumps the window's messages this often.
constexpr std::uint32_t kWorkerWaitPumpMs = 50;
}  // namespace maindlg

// The open main dialog window, as its logic sees it; the wait cursor, timers, the
// progress bar and Refresh come from DownloadMonitorView.
class MainDialogWindow : public DownloadMonitorView {
 public:
  // The drive list's current selection, negative when the list is empty.
  virtual int DriveSelection() = 0;
  // The status line; the dialog is refreshed with it.
  virtual void SetStatus(const std::string& text) = 0;
  virtual void EnableUpdateStart(bool enabled) = 0;
  // The hidden fields: the drive's revision (1004) and the applying image's version (1005).
  virtual void SetCurrentRevision(const std::string& text) = 0;
  virtual void SetImageVersion(const std::string& text) = 0;
  // MessageBeep with the standard sound.
  virtual void Beep() = 0;
  // A message box owned by the dialog, with the utility's caption and OK only.
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void SetCaption(const std::string& text) = 0;
  // Adds a separator and then the item to the window's system menu.
  virtual void AppendSystemMenuItem(unsigned commandId, const std::string& text) = 0;
  virtual void SetMenuItemText(int commandId, const std::string& text) = 0;
  // Static texts and button labels.
  virtual void SetControlText(int controlId, const std::string& text) = 0;
  // CANCEL and the drive list (Update Start goes through EnableUpdateStart).
  virtual void EnableControl(int controlId, bool enabled) = 0;
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void ClearDriveList() = 0;
  virtual void AddDriveEntry(const std::string& text) = 0;
  virtual void SelectDriveEntry(int index) = 0;
  virtual void EndWaitCursor() = 0;
  // The notices and the About box, owned by this window.
  virtual MessageDialogView& Notices() = 0;
  virtual AboutDialogView& AboutBox() = 0;
  // Ends the modal loop; the modal call returns `result`.
  virtual void EndDialog(int result) = 0;
  // Dispatches every message waiting for this thread's windows, so that a wait
  // without a timer still paints and answers the system.
  virtual void PumpMessages() = 0;
};

// Runs the dialog modally: creates the window from template 102, sets icon 128 as
// its large and small icon, calls OnInitDialog once, then forwards the events below
// until the logic ends the window, and returns the result it ended with.
class MainDialogView {
 public:
  virtual ~MainDialogView() = default;
  virtual int RunModal(MainDialog& dialog) = 0;
};

class MainDialog {
 public:
  static constexpr int kEndLeaveSystem = 2;  // endCode: do not restore, do not restart

  MainDialog(ScsiDevice& device, Threads& threads, Language language,
             const ImageTable& images = BuiltInImages());
  ~MainDialog();
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  void SetChangedCount(int count) { changedCount = count; }
  // Where the program's own file is: its path (ANSI code page, as the system gave it)
  // and the drive type of its root. Update Start is refused when that may be the
  // drive to be written.
  void SetProgramFile(const std::string& path, std::uint32_t driveType) {
    programPath = path;
    programDriveType = driveType;
  }
  // The update log, or null for none; not owned.
  void SetLog(UpdateLog* updateLog) { log = updateLog; }
  int ChangedCount() const { return changedCount; }
  Language GetLanguage() const { return language; }

  int Show(MainDialogView& view) { return view.RunModal(*this); }

  // --- Events from the view -----------------------------------------------
  void OnInitDialog(MainDialogWindow& window);
  // CBN_SELCHANGE of the drive list.
  void OnSelectionChange();
  // WM_COMMAND from buttons and the menu: 1006, 1007, 2 (Escape), 32772.
  void OnCommand(int commandId);
  // WM_SYSCOMMAND; false: give it default processing.
  bool OnSysCommand(unsigned commandId);
  // WM_CLOSE: the close step only; the dialog stays open.
  void OnClose();
  // WM_TIMER; every timer event goes on to default processing afterwards.
  void OnTimer(std::uint32_t timerId);
  // WM_SETCURSOR; true: the wait cursor is showing, answer 0 without default processing.
  bool OnSetCursor() const { return busy || waitingForWorker; }
  // WM_PAINT, before default painting (the view draws the icon when minimised).
  void OnPaint();
  // Applied to every message before default processing.
  FilterAnswer FilterMessage(unsigned message, std::uintptr_t wParam) const;

  // --- State ---------------------------------------------------------------
  int EndCode() const { return endCode; }
  bool Finished() const { return finished; }
  bool Busy() const { return busy; }
  // CANCEL was pressed while a worker was still writing; the dialog ends when it does.
  bool WaitingForWorker() const { return waitingForWorker; }
  // True while a worker thread this dialog started has not ended, watched or not.
  bool WorkerAlive() const;
  const std::string& Caption() const { return caption; }

 private:
  void Scan();
  void RunSelectionCheck();
  // Update Start as the logic itself enabled it: handlers check that, not the window,
  // so a click that reaches a disabled button's handler all the same starts nothing.
  void EnableUpdateStart(bool enabled);
  void ShowAbout();
  void UpdateStart();
  // The program's drive ("E:") when the update of drive `selection` would eject the
  // disc the program runs from; empty otherwise.
  std::string ProgramOnTarget(int selection) const;
  void StartFailure(bool deviceRefusal);
  void HandleOutcome(MonitorOutcome outcome);
  void ConfirmUpdate();
  void FailAfterPages(bool answered, const std::string& reported, const std::string& expected,
                      const std::string& when);
  void ShowFailure(const std::string& reason, bool resetProgress,
                   const std::string& failedBox = std::string());
  std::string WithLogLocation(const std::string& text) const;
  void Log(const std::string& text);
  // Writes the steps the worker has noted since the last call.
  void WriteWorkerTrace();
  void EndWaitCursor();
  void CloseStep();
  void CancelPressed();
  void FinishCancel();
  void EndWith(int result);
  // The text of `id` in the dialog's language.
  const std::string& Localized(TextId id) const { return Text(id, language); }

  ScsiDevice& device;
  Threads& threads;
  Language language;
  const ImageTable& images;
  MainDialogWindow* window = nullptr;
  std::unique_ptr<DownloadMonitor> monitor;
  UpdateLog* log = nullptr;
  std::size_t traceWritten = 0;  // the worker's steps already in the log
  bool checkingShown = false;

  int changedCount = 0;
  int endCode = 0;
  bool finished = false;
  bool busy = false;
  bool waitCursor = false;
  bool waitingForWorker = false;
  // What the logic itself enabled: handlers check these, not the window.
  bool updateStartEnabled = false;
  bool cancelEnabled = false;
  bool listEnabled = false;
  bool updateStarted = false;  // one start per dialog
  std::string caption;
  std::string programPath;
  std::uint32_t programDriveType = 0;
};

}  // namespace qx
