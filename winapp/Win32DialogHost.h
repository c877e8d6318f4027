#pragma once
// Modal dialogs over the resource templates, with their logic in ui/. The host runs
// DialogBoxParamA and hands every message to a handler; Win32DialogWindow is the
// logic's view of the open window.
#include "platform/win32/Win32Api.h"

#include <cstddef>
#include <string>

#include "ui/DialogWindow.h"
#include "ui/SessionEndFilter.h"

namespace qx {

class Win32DialogHandler {
 public:
  virtual ~Win32DialogHandler() = default;
  // WM_INITDIALOG. True lets the dialog manager put the focus on the first tab stop;
  // false when the handler placed the focus itself.
  virtual bool OnInit(HWND dialog) = 0;
  // Every later message. True when handled; *answer is then the message's result
  // (delivered through DWLP_MSGRESULT, or as the procedure's return value for the
  // messages AnswersThroughReturnValue names).
  virtual bool OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                         LRESULT* answer) = 0;
};

// The messages a dialog procedure answers with its own return value rather than
// through DWLP_MSGRESULT (WM_INITDIALOG's is the focus choice of OnInit).
bool AnswersThroughReturnValue(UINT message);

// Shows template `templateId` of this program modally, owned by `owner` (may be null).
// Returns what the handler ended it with, or -1 when the template could not be shown.
int RunTemplateDialog(int templateId, HWND owner, Win32DialogHandler& handler);

// Answers one message through the session-end rule, as the dialog procedure must:
// true when the filter took it and *answer holds the refusal.
bool AnswerSessionEnd(const FilterAnswer& filter, LRESULT* answer);

// The logic's handle on an open dialog. Texts go in and come out as UTF-8 and cross
// the system in the process's ANSI code page.
class Win32DialogWindow : public DialogWindow {
 public:
  explicit Win32DialogWindow(HWND dialog = nullptr) : handle(dialog) {}
  void Attach(HWND dialog) { handle = dialog; }
  HWND Handle() const { return handle; }

  void SetCaption(const std::string& text) override;
  void SetControlText(int controlId, const std::string& text) override;
  std::string ControlText(int controlId) const override;
  void EnableControl(int controlId, bool enabled) override;
  void ShowTooLongPrompt(int controlId, std::size_t maxChars) override;
  void End(int result) override;

  bool ControlEnabled(int controlId) const;

 private:
  HWND handle;
};

// Reads a window's text (ANSI) and returns it as UTF-8.
std::string WindowTextUtf8(HWND window);
// Sets a window's text from UTF-8, only when it differs: a text set again on every
// paint must not make the window paint again.
void SetWindowTextUtf8(HWND window, const std::string& text);

}  // namespace qx
