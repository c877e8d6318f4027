#include "winapp/Win32MainDialogView.h"

#include "platform/win32/Win32Api.h"

#include <commctrl.h>

#include "platform/System.h"
#include "platform/win32/AnsiText.h"
#include "winapp/Win32DialogHost.h"

namespace qx {
namespace {

class MainWindow : public MainDialogWindow, public Win32DialogHandler {
 public:
  MainWindow(MainDialog& logic, std::uint32_t timerDivisor)
      : logic(logic), timerDivisor(timerDivisor) {}

  // --- Win32DialogHandler ---------------------------------------------------
  bool OnInit(HWND dialog) override {
    Attach(dialog);
    icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(maindlg::kIconId));
    ::SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    logic.OnInitDialog(*this);
    return true;
  }

  bool OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM,
                 LRESULT* answer) override {
    Attach(dialog);
    if (AnswerSessionEnd(logic.FilterMessage(message, wParam), answer)) return true;
    switch (message) {
      case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (id == maindlg::kDriveListId) {
          if (code == CBN_SELCHANGE) logic.OnSelectionChange();
          return code == CBN_SELCHANGE;
        }
        if (code != BN_CLICKED) return false;  // also 0 for menu items and keys
        logic.OnCommand(id);
        return true;
      }
      case WM_SYSCOMMAND:
        if (!logic.OnSysCommand(static_cast<unsigned>(wParam))) return false;
        *answer = 0;
        return true;
      case WM_CLOSE:
        logic.OnClose();
        *answer = 0;
        return true;
      case WM_TIMER:
        logic.OnTimer(static_cast<std::uint32_t>(wParam));
        return false;  // every timer event still gets default processing
      case WM_SETCURSOR:
        if (!logic.OnSetCursor()) return false;
        ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
        // Handled: the control under the mouse must not put its arrow back.
        *answer = TRUE;
        return true;
      case WM_PAINT:
        logic.OnPaint();
        if (::IsIconic(dialog)) {
          PaintIcon(dialog);
          *answer = 0;
          return true;
        }
        return false;
      case WM_QUERYDRAGICON:
        *answer = reinterpret_cast<LRESULT>(icon);
        return true;
      default:
        return false;
    }
  }

  // --- MainDialogWindow -----------------------------------------------------
  void SetCaption(const std::string& text) override { window.SetCaption(text); }

  void AppendSystemMenuItem(unsigned commandId, const std::string& text) override {
    HMENU menu = ::GetSystemMenu(window.Handle(), FALSE);
    if (menu == nullptr) return;
    ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(menu, MF_STRING, commandId, ToAnsi(text).c_str());
  }

  void SetMenuItemText(int commandId, const std::string& text) override {
    HMENU menu = ::GetMenu(window.Handle());
    if (menu == nullptr) return;
    const std::string ansi = ToAnsi(text);
    char current[128] = {};
    ::GetMenuStringA(menu, static_cast<UINT>(commandId), current, sizeof current, MF_BYCOMMAND);
    if (ansi == current) return;
    // MF_HELP keeps the item at the right end of the bar, where the template put it.
    ::ModifyMenuA(menu, static_cast<UINT>(commandId), MF_BYCOMMAND | MF_STRING | MF_HELP,
                  static_cast<UINT_PTR>(commandId), ansi.c_str());
    ::DrawMenuBar(window.Handle());
  }

  void SetControlText(int controlId, const std::string& text) override {
    window.SetControlText(controlId, text);
  }
  void EnableControl(int controlId, bool enabled) override {
    window.EnableControl(controlId, enabled);
  }
  void SetProgressRange(int low, int high) override {
    Send(maindlg::kProgressId, PBM_SETRANGE, 0, MAKELPARAM(low, high));
  }
  void ClearDriveList() override { Send(maindlg::kDriveListId, CB_RESETCONTENT, 0, 0); }
  void AddDriveEntry(const std::string& text) override {
    const std::string ansi = ToAnsi(text);
    Send(maindlg::kDriveListId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ansi.c_str()));
  }
  void SelectDriveEntry(int index) override {
    Send(maindlg::kDriveListId, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  void EndWaitCursor() override {
    ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));  // IDC_ARROW
  }
  MessageDialogView& Notices() override {
    notices.SetOwner(reinterpret_cast<WindowRef>(window.Handle()));
    return notices;
  }
  AboutDialogView& AboutBox() override {
    about.SetOwner(reinterpret_cast<WindowRef>(window.Handle()));
    return about;
  }
  void EndDialog(int result) override { window.End(result); }
  void PumpMessages() override {
    MSG message;
    // A WM_QUIT is left where it is, for the modal loop that runs after this wait.
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) && message.message != WM_QUIT) {
      if (!::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) break;
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
  }

  // --- What the checks show ------------------------------------------------
  int DriveSelection() override {
    return static_cast<int>(Send(maindlg::kDriveListId, CB_GETCURSEL, 0, 0));
  }
  void SetStatus(const std::string& text) override {
    window.SetControlText(maindlg::kStatusId, text);
    Refresh();
  }
  void EnableUpdateStart(bool enabled) override {
    window.EnableControl(maindlg::kUpdateStartId, enabled);
  }
  void SetCurrentRevision(const std::string& text) override {
    window.SetControlText(maindlg::kCurrentRevisionId, text);
  }
  void SetImageVersion(const std::string& text) override {
    window.SetControlText(maindlg::kImageVersionId, text);
  }
  void Beep() override { ::MessageBeep(sys::kBeepStandard); }
  void ShowMessage(const std::string& text) override {
    ::MessageBoxA(window.Handle(), ToAnsi(text).c_str(),
                  ToAnsi(Text(TextId::Caption, Language::English)).c_str(), MB_OK);
  }

  // --- DownloadMonitorView --------------------------------------------------
  void BeginWaitCursor() override {
    ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
  }
  bool SetTimer(std::uint32_t timerId, std::uint32_t periodMs) override {
    UINT period = periodMs / timerDivisor;
    if (period == 0) period = 1;
    return ::SetTimer(window.Handle(), timerId, period, nullptr) != 0;
  }
  void KillTimer(std::uint32_t timerId) override { ::KillTimer(window.Handle(), timerId); }
  void SetProgress(int position) override {
    Send(maindlg::kProgressId, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }
  void Refresh() override {
    ::RedrawWindow(window.Handle(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  }

 private:
  void Attach(HWND dialog) { window.Attach(dialog); }

  LRESULT Send(int controlId, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendDlgItemMessageA(window.Handle(), controlId, message, wParam, lParam);
  }

  void PaintIcon(HWND dialog) {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(dialog, &paint);
    RECT client;
    ::GetClientRect(dialog, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, icon);
    ::EndPaint(dialog, &paint);
  }

  MainDialog& logic;
  std::uint32_t timerDivisor;
  Win32DialogWindow window;
  Win32MessageDialogView notices;
  Win32AboutDialogView about;
  HICON icon = nullptr;
};

}  // namespace

int Win32MainDialogView::RunModal(MainDialog& dialog) {
  MainWindow window(dialog, timerDivisor);
  return RunTemplateDialog(maindlg::kTemplateId, nullptr, window);
}

}  // namespace qx
