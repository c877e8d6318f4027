#include "winapp/Win32DialogViews.h"

#include "winapp/Win32DialogHost.h"

namespace qx {
namespace {

HWND AsWindow(WindowRef window) { return reinterpret_cast<HWND>(window); }

// The command a button press, Enter or Escape delivers; 0 for notifications that are
// not a click (focus changes, edit notifications).
int ClickedCommand(WPARAM wParam) {
  const int code = HIWORD(wParam);
  if (code != BN_CLICKED && code != 0) return 0;
  return LOWORD(wParam);
}

// The part every dialog of the utility shares: the session-end rule first, then
// button commands; the close box and WM_CLOSE count as the cancel command (id 2),
// which is what the dialog manager would have made of them.
template <class Logic>
class LogicHandler : public Win32DialogHandler {
 public:
  explicit LogicHandler(Logic& logic) : logic(logic) {}

  bool OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                 LRESULT* answer) override {
    (void)lParam;
    window.Attach(dialog);
    if (AnswerSessionEnd(Filter(message, wParam), answer)) return true;
    switch (message) {
      case WM_COMMAND: {
        const int command = ClickedCommand(wParam);
        if (command == 0) return false;
        logic.OnCommand(command, window);
        return true;
      }
      case WM_CLOSE:
        logic.OnCommand(kIdCancel, window);
        return true;
      case WM_PAINT:
        OnPaint();
        return false;  // the default painting still runs
      default:
        return false;
    }
  }

 protected:
  virtual FilterAnswer Filter(unsigned message, WPARAM wParam) {
    (void)message;
    (void)wParam;
    return FilterAnswer();
  }
  virtual void OnPaint() {}

  Logic& logic;
  Win32DialogWindow window;
};

class MessageHandler : public LogicHandler<MessageDialog> {
 public:
  using LogicHandler::LogicHandler;
  bool OnInit(HWND dialog) override {
    window.Attach(dialog);
    logic.OnOpen(window);
    // The first tab stop takes the focus: OK, or CANCEL on the restart confirmation,
    // which is also the default button there.
    HWND focus = ::GetDlgItem(dialog, logic.InitialFocusId());
    if (focus == nullptr) return true;
    ::SetFocus(focus);
    return false;
  }

 protected:
  FilterAnswer Filter(unsigned message, WPARAM wParam) override {
    return logic.FilterMessage(message, wParam);
  }
};

class TermsHandler : public LogicHandler<TermsDialog> {
 public:
  using LogicHandler::LogicHandler;
  bool OnInit(HWND dialog) override {
    window.Attach(dialog);
    // The template's limit for the terms; without it the control holds 32767.
    ::SendDlgItemMessageA(dialog, TermsDialog::kTextControlId, EM_LIMITTEXT,
                          TermsDialog::kMaxTextChars, 0);
    logic.OnOpen(window);
    // Not Agree is the first tab stop; the text must not start selected either.
    HWND notAgree = ::GetDlgItem(dialog, TermsDialog::kNotAgreeId);
    if (notAgree == nullptr) return true;
    ::SetFocus(notAgree);
    return false;
  }

 protected:
  FilterAnswer Filter(unsigned message, WPARAM wParam) override {
    return logic.FilterMessage(message, wParam);
  }
  void OnPaint() override { logic.OnPaint(window); }
};

class AboutHandler : public LogicHandler<AboutDialog> {
 public:
  using LogicHandler::LogicHandler;
  bool OnInit(HWND dialog) override {
    window.Attach(dialog);
    logic.OnOpen(window);
    return true;
  }
};

}  // namespace

int Win32MessageDialogView::RunModal(MessageDialog& dialog) {
  MessageHandler handler(dialog);
  return RunTemplateDialog(dialog.TemplateId(), AsWindow(ownerWindow), handler);
}

int Win32TermsDialogView::RunModal(TermsDialog& dialog) {
  TermsHandler handler(dialog);
  return RunTemplateDialog(TermsDialog::kTemplateId, AsWindow(ownerWindow), handler);
}

int Win32AboutDialogView::RunModal(AboutDialog& dialog) {
  AboutHandler handler(dialog);
  return RunTemplateDialog(AboutDialog::kTemplateId, AsWindow(ownerWindow), handler);
}

}  // namespace qx
