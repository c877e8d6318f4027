#pragma once
// The main dialog answered from a script on the virtual clock, for native runs of
// the start-up and for tests. It plays the same events the Win32 view sends (the
// first paint, button commands, the close request, timer events, window messages)
// against the real dialog logic and records what the logic put on screen.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/System.h"
#include "sim/ScriptedDialogs.h"
#include "platform/host/VirtualThreads.h"
#include "ui/MainDialog.h"

namespace qx {

struct MainStep {
  enum class Type {
    Press,          // a button or menu command (1006, 1007, 2, 32772)
    SysCommand,     // a system-menu command
    Select,         // the user picks drive `value` in the list
    Close,          // WM_CLOSE
    Paint,
    Send,           // a window message through the dialog's filter
    RunUntilIdle,   // let the clock run until the update is no longer under way
    UpdateIfEnabled,  // press Update Start when it is enabled, wait for the outcome,
                      // then press CANCEL unless the dialog has ended
    Call,           // run `call` while the window is open (tests look and poke)
  };
  Type type = Type::Press;
  int value = 0;
  unsigned message = 0;
  std::uintptr_t wParam = 0;
  std::function<void()> call;

  static MainStep Press(int id) { return {Type::Press, id, 0, 0, {}}; }
  static MainStep SysCommand(int id) { return {Type::SysCommand, id, 0, 0, {}}; }
  static MainStep Select(int index) { return {Type::Select, index, 0, 0, {}}; }
  static MainStep Close() { return {Type::Close, 0, 0, 0, {}}; }
  static MainStep Paint() { return {Type::Paint, 0, 0, 0, {}}; }
  static MainStep Send(unsigned message, std::uintptr_t wParam) {
    return {Type::Send, 0, message, wParam, {}};
  }
  static MainStep RunUntilIdle() { return {Type::RunUntilIdle, 0, 0, 0, {}}; }
  static MainStep UpdateIfEnabled() { return {Type::UpdateIfEnabled, 0, 0, 0, {}}; }
  static MainStep Call(std::function<void()> call) {
    return {Type::Call, 0, 0, 0, std::move(call)};
  }
};

using MainScript = std::vector<MainStep>;

// What the dialog showed during one showing.
struct MainDialogRecord {
  std::string caption;
  std::map<int, std::string> controls;  // static texts and button labels by id
  std::map<int, bool> disabled;         // id -> true when the logic disabled it
  std::vector<std::string> driveList;
  int selection = -1;
  std::vector<std::string> statusHistory;
  std::vector<int> progressHistory;
  int progressLow = 0;
  int progressHigh = 0;
  std::string currentRevision;  // hidden field 1004
  std::string imageVersion;     // hidden field 1005
  std::string menuAbout;        // text of menu item 32772
  std::vector<std::string> systemMenu;
  int waitCursorDepth = 0;
  int beeps = 0;
  int messagePumps = 0;  // passes of the message pump the logic asked for
  std::vector<FilterRecord> filtered;
  bool refusedWhileOpen = false;
  bool releasedAfterEnd = false;
  bool ended = false;
  int result = -1;  // -1: the script ran out while the dialog was still open
  int endCode = 0;

  const std::string& Status() const;
  bool UpdateStartEnabled() const;
};

class ScriptedMainDialog : public MainDialogView {
 public:
  // Plain message boxes go to `system` (owned by the dialog window), the notices and
  // the About box to `dialogs`.
  ScriptedMainDialog(VirtualThreads& threads, System& system, ScriptedDialogs& dialogs);

  // One script per showing; without one the dialog is left open (result -1).
  void Queue(MainScript script) { scripts.push_back(std::move(script)); }
  // Off: no extra session-end queries, only those the script sends.
  void SetProbeSessionEnd(bool on) { probeSessionEnd = on; }
  HostMessageLoop& Loop() { return loop; }
  // Hears "STATUS "text"", "PROGRESS n" and "ENDCODE n" as they happen.
  void SetLog(std::function<void(const std::string&)> listener) { log = std::move(listener); }
  // How far the clock may run while the script waits for the worker.
  void SetClockLimitMs(std::uint64_t limit) { clockLimitMs = limit; }

  const std::vector<MainDialogRecord>& Shown() const { return shown; }

  int RunModal(MainDialog& dialog) override;

  static constexpr WindowRef kWindow = 0x5102;

 private:
  VirtualThreads& threads;
  System& system;
  ScriptedDialogs& dialogs;
  HostMessageLoop loop;
  std::deque<MainScript> scripts;
  std::vector<MainDialogRecord> shown;
  std::function<void(const std::string&)> log;
  bool probeSessionEnd = true;
  std::uint64_t clockLimitMs = 24ull * 3600 * 1000;
};

}  // namespace qx
