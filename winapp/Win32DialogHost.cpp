#include "winapp/Win32DialogHost.h"

#include <vector>

#include "platform/win32/AnsiText.h"
#include "text/TextCatalogue.h"

namespace qx {

bool AnswersThroughReturnValue(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

namespace {

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* handler = reinterpret_cast<Win32DialogHandler*>(lParam);
    ::SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(handler));
    return handler->OnInit(dialog) ? TRUE : FALSE;
  }
  auto* handler = reinterpret_cast<Win32DialogHandler*>(::GetWindowLongPtrA(dialog, DWLP_USER));
  if (handler == nullptr) return FALSE;  // messages before WM_INITDIALOG (WM_SETFONT ...)
  LRESULT answer = 0;
  if (!handler->OnMessage(dialog, message, wParam, lParam, &answer)) return FALSE;
  // For these the dialog manager takes the procedure's own return value as the
  // answer and ignores DWLP_MSGRESULT: the icon of a drag query, the brush of a
  // colour query, the comparison or item index of a list.
  if (AnswersThroughReturnValue(message)) return static_cast<INT_PTR>(answer);
  // For every other message the return value only says "handled"; the answer (0 to
  // refuse WM_QUERYENDSESSION, the deny code of a power query) goes through
  // DWLP_MSGRESULT, or the dialog manager answers 1 and the refusal is lost.
  ::SetWindowLongPtrA(dialog, DWLP_MSGRESULT, static_cast<LONG_PTR>(answer));
  return TRUE;
}

}  // namespace

int RunTemplateDialog(int templateId, HWND owner, Win32DialogHandler& handler) {
  const INT_PTR result =
      ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), owner,
                        DialogProc, reinterpret_cast<LPARAM>(&handler));
  return static_cast<int>(result);
}

bool AnswerSessionEnd(const FilterAnswer& filter, LRESULT* answer) {
  if (!filter.handled) return false;
  *answer = static_cast<LRESULT>(filter.result);
  return true;
}

std::string WindowTextUtf8(HWND window) {
  if (window == nullptr) return std::string();
  const int length = ::GetWindowTextLengthA(window);
  if (length <= 0) return std::string();
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = ::GetWindowTextA(window, buffer.data(), length + 1);
  return FromAnsi(std::string(buffer.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0));
}

void SetWindowTextUtf8(HWND window, const std::string& text) {
  if (window == nullptr) return;
  const std::string ansi = ToAnsi(text);
  const int length = ::GetWindowTextLengthA(window);
  if (length == static_cast<int>(ansi.size())) {
    std::vector<char> buffer(ansi.size() + 1, '\0');
    ::GetWindowTextA(window, buffer.data(), static_cast<int>(buffer.size()));
    if (ansi == buffer.data()) return;
  }
  ::SetWindowTextA(window, ansi.c_str());
}

void Win32DialogWindow::SetCaption(const std::string& text) { SetWindowTextUtf8(handle, text); }

void Win32DialogWindow::SetControlText(int controlId, const std::string& text) {
  SetWindowTextUtf8(::GetDlgItem(handle, controlId), text);
}

std::string Win32DialogWindow::ControlText(int controlId) const {
  return WindowTextUtf8(::GetDlgItem(handle, controlId));
}

void Win32DialogWindow::EnableControl(int controlId, bool enabled) {
  HWND control = ::GetDlgItem(handle, controlId);
  if (control != nullptr) ::EnableWindow(control, enabled ? TRUE : FALSE);
}

bool Win32DialogWindow::ControlEnabled(int controlId) const {
  HWND control = ::GetDlgItem(handle, controlId);
  return control != nullptr && ::IsWindowEnabled(control) != FALSE;
}

void Win32DialogWindow::ShowTooLongPrompt(int controlId, std::size_t maxChars) {
  const std::string text =
      "Please enter no more than " + std::to_string(maxChars) + " characters.";
  ::MessageBoxA(handle, text.c_str(),
                ToAnsi(Text(TextId::Caption, Language::English)).c_str(),
                MB_OK | MB_ICONEXCLAMATION);
  HWND control = ::GetDlgItem(handle, controlId);
  if (control != nullptr) ::SetFocus(control);
}

void Win32DialogWindow::End(int result) { ::EndDialog(handle, result); }

}  // namespace qx
