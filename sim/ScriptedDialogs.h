#pragma once
// Dialogs answered from a script, for native runs of the start-up and for tests. Each
// showing of any dialog takes the next script from the queue and plays it against the
// real dialog logic, through the same events the Win32 view sends: the first paint,
// button commands, window messages. Everything the logic shows is recorded.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ui/AboutDialog.h"
#include "ui/MessageDialog.h"
#include "ui/SessionEndFilter.h"
#include "ui/TermsDialog.h"

namespace qx {

struct ScriptAction {
  enum class Type { Press, Enter, Send, Paint, Edit };
  Type type = Type::Press;
  int controlId = 0;          // Press, Edit
  unsigned message = 0;       // Send
  std::uintptr_t wParam = 0;  // Send
  std::string text;           // Edit: what the control holds afterwards

  static ScriptAction Press(int id) { return {Type::Press, id, 0, 0, {}}; }
  // The Enter key: presses whichever button is the dialog's default.
  static ScriptAction Enter() { return {Type::Enter, 0, 0, 0, {}}; }
  static ScriptAction Send(unsigned message, std::uintptr_t wParam) {
    return {Type::Send, 0, message, wParam, {}};
  }
  static ScriptAction Paint() { return {Type::Paint, 0, 0, 0, {}}; }
  static ScriptAction Edit(int id, std::string text) {
    return {Type::Edit, id, 0, 0, std::move(text)};
  }
};

using DialogScript = std::vector<ScriptAction>;

// What one window message got from the dialog's filter.
struct FilterRecord {
  unsigned message = 0;
  std::uintptr_t wParam = 0;
  bool handled = false;
  std::intptr_t result = 0;
};

// One showing of a dialog, as the user would have seen it.
struct ShownDialog {
  std::string name;  // "Warning", "Start", "End", "Cancel", "Reboot", "Terms", "About"
  Language language = Language::English;
  int templateId = 0;
  std::string caption;
  std::map<int, std::string> controls;  // control id -> text, as last set
  std::map<int, bool> disabled;         // control id -> true when the logic disabled it
  std::vector<FilterRecord> filtered;   // every message sent, probes included
  int tooLongPrompts = 0;
  bool ended = false;
  int result = -1;  // -1: the script ran out while the dialog still waited

  // True when each of the four session-end queries was refused while the dialog waited.
  bool refusedWhileOpen = false;
  // True when none of them was refused any more after the dialog had ended.
  bool releasedAfterEnd = false;
};

// Sends one window message through a dialog's filter, recording it with its answer in
// the showing's record (a ShownDialog, or the main dialog's own).
template <typename Record, typename Filter>
FilterAnswer SendThroughFilter(Record& record, Filter& filter, unsigned message,
                               std::uintptr_t wParam) {
  FilterAnswer answer = filter(message, wParam);
  record.filtered.push_back({message, wParam, answer.handled, answer.result});
  return answer;
}

// Sends the four session-end queries the same way: true when every one was refused
// (expectRefused) or every one let through.
template <typename Record, typename Filter>
bool ProbeSessionEnd(Record& record, Filter& filter, bool expectRefused) {
  bool all = true;
  for (const SessionEndQuery& q : kSessionEndQueries) {
    if (SendThroughFilter(record, filter, q.message, q.wParam).handled != expectRefused) {
      all = false;
    }
  }
  return all;
}

class ScriptedDialogs : public MessageDialogView, public TermsDialogView, public AboutDialogView {
 public:
  // Scripts are taken in order, one per showing. With the queue empty a dialog is answered
  // with its first button (OK, Agree) when answerByDefault is on; otherwise it is left
  // waiting and counts as stuck (result -1).
  void Queue(DialogScript script) { scripts.push_back(std::move(script)); }
  void SetAnswerByDefault(bool on) { answerByDefault = on; }
  // Off: no extra session-end queries, only those the script sends.
  void SetProbeSessionEnd(bool on) { probeSessionEnd = on; }
  // Receives one line per showing, e.g. "DIALOG Reboot en -> 2", "TERMS ja -> 1".
  void SetLog(std::function<void(const std::string&)> log) { logSink = std::move(log); }

  const std::vector<ShownDialog>& Shown() const { return shownDialogs; }
  std::size_t PendingScripts() const { return scripts.size(); }

  int RunModal(MessageDialog& dialog) override;
  int RunModal(TermsDialog& dialog) override;
  int RunModal(AboutDialog& dialog) override;

 private:
  DialogScript NextScript(int defaultButton);
  void Log(const std::string& line);

  std::deque<DialogScript> scripts;
  std::vector<ShownDialog> shownDialogs;
  std::function<void(const std::string&)> logSink;
  bool answerByDefault = false;
  bool probeSessionEnd = true;
};

}  // namespace qx
