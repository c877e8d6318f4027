// The Win32 views of the message and terms dialogs, shown for real: another thread
// plays the user and the system against the open window, as the robot does from
// outside, and the answers must come back through the dialog procedure.
#include <gtest/gtest.h>

#include "platform/win32/Win32Api.h"

#include <functional>
#include <string>

#include "device/ScsiDevice.h"
#include "platform/Platform.h"
#include "platform/win32/AnsiText.h"
#include "winapp/Win32DialogHost.h"
#include "winapp/Win32DialogViews.h"
#include "winapp/Win32MainDialogView.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/Win32Threads.h"

namespace qx {
namespace {

// Windows need a display; under Wine without X there is none and these tests skip.
bool CanShowWindows() {
  HWND probe = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 ::GetModuleHandleA(nullptr), nullptr);
  if (probe == nullptr) return false;
  ::DestroyWindow(probe);
  return true;
}

struct Poke {
  DWORD dialogThread = 0;
  std::function<void(HWND)> play;
  bool found = false;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter) {
  char className[16] = {};
  ::GetClassNameA(window, className, sizeof className);
  if (std::string(className) != "#32770" || !::IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(parameter) = window;
  return FALSE;
}

DWORD WINAPI PlayUser(LPVOID parameter) {
  auto* poke = static_cast<Poke*>(parameter);
  for (int i = 0; i < 500; ++i) {
    HWND dialog = nullptr;
    ::EnumThreadWindows(poke->dialogThread, FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog != nullptr) {
      poke->found = true;
      poke->play(dialog);
      return 0;
    }
    ::Sleep(10);
  }
  return 1;
}

// Runs `show` (a modal dialog) on this thread while `play` acts on its window.
int ShowWhile(const std::function<int()>& show, std::function<void(HWND)> play) {
  Poke poke;
  poke.dialogThread = ::GetCurrentThreadId();
  poke.play = std::move(play);
  HANDLE player = ::CreateThread(nullptr, 0, PlayUser, &poke, 0, nullptr);
  const int result = show();
  ::WaitForSingleObject(player, 10000);
  ::CloseHandle(player);
  EXPECT_TRUE(poke.found) << "the dialog never appeared";
  return result;
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam) {
  DWORD_PTR answer = 0xBAD;
  ::SendMessageTimeoutA(window, message, wParam, 0, SMTO_BLOCK, 5000, &answer);
  return static_cast<LRESULT>(answer);
}

// A key as the user presses it: to the focus, through the dialog's own message loop.
void PressKey(HWND dialog, WPARAM key) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  HWND target = dialog;
  if (::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info) &&
      info.hwndFocus != nullptr) {
    target = info.hwndFocus;
  }
  ::PostMessageA(target, WM_KEYDOWN, key, 1);
  ::PostMessageA(target, WM_KEYUP, key, 1 | (3u << 30));
}

std::string Caption(HWND window) {
  char text[256] = {};
  ::GetWindowTextA(window, text, sizeof text);
  return FromAnsi(text);
}

struct Answers {
  LRESULT queryEndSession = 0xBAD, endSession = 0xBAD, power = 0xBAD, suspend = 0xBAD,
          standby = 0xBAD;
  bool openAfterEscape = false;
  std::string caption, text;
  int focusId = 0;
};

void AskEverything(HWND dialog, int textId, Answers* a) {
  a->caption = Caption(dialog);
  char text[512] = {};
  ::GetDlgItemTextA(dialog, textId, text, sizeof text);
  a->text = FromAnsi(text);
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info)) {
    a->focusId = ::GetDlgCtrlID(info.hwndFocus);
  }
  a->queryEndSession = Ask(dialog, WM_QUERYENDSESSION, 0);
  a->endSession = Ask(dialog, WM_ENDSESSION, 0);
  a->power = Ask(dialog, WM_POWER, 1);
  a->suspend = Ask(dialog, WM_POWERBROADCAST, 0);
  a->standby = Ask(dialog, WM_POWERBROADCAST, 1);
  // Escape reaches the dialog as the cancel command.
  Ask(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
  Ask(dialog, WM_CLOSE, 0);
  a->openAfterEscape = ::IsWindow(dialog) != FALSE && ::IsWindowVisible(dialog) != FALSE;
}

void ExpectAllRefused(const Answers& a) {
  EXPECT_EQ(a.queryEndSession, 0);
  EXPECT_EQ(a.endSession, 0);
  EXPECT_EQ(a.power, -1);
  EXPECT_EQ(a.suspend, 0x424D5144);
  EXPECT_EQ(a.standby, 0x424D5144);
}

class Win32DialogViewsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CanShowWindows()) GTEST_SKIP() << "no display to show windows on";
  }
  Win32MessageDialogView notices;
  Win32TermsDialogView terms;
};

TEST_F(Win32DialogViewsTest, NoticeRefusesSessionEndAndEscapeUntilOk) {
  MessageDialog dialog(MessageDialogKind::Warning, Language::English);
  Answers a;
  const int result = ShowWhile([&] { return dialog.Show(notices); },
                               [&](HWND d) {
                                 AskEverything(d, dialog.TextControlId(), &a);
                                 ::PostMessageA(::GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
                               });
  EXPECT_EQ(result, 1);
  ExpectAllRefused(a);
  EXPECT_TRUE(a.openAfterEscape);
  EXPECT_EQ(a.caption, "Firmware Update Utility");
  EXPECT_EQ(a.text, "Please Close ALL applications before applying firmware update.");
  EXPECT_EQ(a.focusId, IDOK);
  EXPECT_TRUE(dialog.Closing());
}

TEST_F(Win32DialogViewsTest, RebootEnterChoosesCancel) {
  MessageDialog dialog(MessageDialogKind::Reboot, Language::Japanese);
  dialog.SetText("再起動します。\r\nよろしいですか");
  Answers a;
  const int result = ShowWhile([&] { return dialog.Show(notices); },
                               [&](HWND d) {
                                 AskEverything(d, dialog.TextControlId(), &a);
                                 PressKey(d, VK_RETURN);
                               });
  EXPECT_EQ(result, 2);
  ExpectAllRefused(a);
  EXPECT_TRUE(a.openAfterEscape);
  EXPECT_EQ(a.focusId, MessageDialog::kCancelButtonId);
  EXPECT_EQ(dialog.TemplateId(), 141);
  // Only where the code page can carry it does the Japanese text survive the ANSI call.
  if (ToAnsi("再") != "?") {
    EXPECT_EQ(a.text, "再起動します。\r\nよろしいですか");
  }
}

TEST_F(Win32DialogViewsTest, ACancelIdTheNoticeLacksDoesNothing) {
  // A command reaches the dialog whether or not its button is there or enabled; only
  // the restart confirmation has a CANCEL to answer it.
  MessageDialog dialog(MessageDialogKind::End, Language::English);
  const int result = ShowWhile([&] { return dialog.Show(notices); },
                               [&](HWND d) {
                                 Ask(d, WM_COMMAND, MAKEWPARAM(MessageDialog::kCancelButtonId,
                                                               BN_CLICKED));
                                 ::PostMessageA(::GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
                               });
  EXPECT_EQ(result, 1) << "End has no CANCEL: its id must not end the dialog with 2";
}

TEST_F(Win32DialogViewsTest, TermsEnterChoosesNotAgreeAndTitleNamesTheModel) {
  TermsDialog dialog(Language::English);
  dialog.SetModelName("DVD-ROM QX-M4471");
  std::string caption;
  LRESULT query = 0xBAD;
  const int result = ShowWhile([&] { return dialog.Show(terms); },
                               [&](HWND d) {
                                 ::UpdateWindow(d);
                                 Ask(d, WM_NULL, 0);
                                 caption = Caption(d);
                                 query = Ask(d, WM_QUERYENDSESSION, 0);
                                 PressKey(d, VK_RETURN);
                               });
  EXPECT_EQ(result, 2);
  EXPECT_EQ(query, 0);
  EXPECT_EQ(caption, "Firmware Update Utility For  DVD-ROM QX-M4471");
  EXPECT_TRUE(dialog.Closing());
}

TEST_F(Win32DialogViewsTest, TermsTextIsLimitedTo2000Characters) {
  // The template's edit takes at most 2000 characters; the control's own default
  // would be 32767.
  TermsDialog dialog(Language::English);
  LRESULT limit = 0;
  ShowWhile([&] { return dialog.Show(terms); },
            [&](HWND d) {
              limit = ::SendDlgItemMessageA(d, TermsDialog::kTextControlId, EM_GETLIMITTEXT, 0, 0);
              ::PostMessageA(::GetDlgItem(d, IDCANCEL), BM_CLICK, 0, 0);
            });
  EXPECT_EQ(limit, 2000);
}

// The dialog manager takes the answer to these from the procedure's return value
// and ignores DWLP_MSGRESULT: answered through DWLP_MSGRESULT they came back as 1
// (or 0), and a minimised main window was dragged without its icon.
class AnsweringHandler : public Win32DialogHandler {
 public:
  bool OnInit(HWND) override { return true; }
  bool OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM, LRESULT* answer) override {
    switch (message) {
      case WM_QUERYDRAGICON: *answer = reinterpret_cast<LRESULT>(icon); return true;
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLORDLG: *answer = reinterpret_cast<LRESULT>(brush); return true;
      case WM_VKEYTOITEM:
      case WM_CHARTOITEM: *answer = -2; return true;
      case WM_COMPAREITEM: *answer = -1; return true;
      case WM_QUERYENDSESSION: *answer = 0; return true;
      case WM_COMMAND:
        if (LOWORD(wParam) != IDOK) return false;
        ::EndDialog(dialog, 1);
        return true;
      default: return false;
    }
  }
  HICON icon = ::LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
  HBRUSH brush = static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH));
};

TEST_F(Win32DialogViewsTest, AnswersThatAreTheReturnValueComeBackAsGiven) {
  AnsweringHandler handler;
  ASSERT_NE(handler.icon, nullptr);
  LRESULT dragIcon = 0, colour = 0, dialogColour = 0, key = 0, character = 0, compare = 0,
          endSession = 0xBAD;
  ShowWhile([&] { return RunTemplateDialog(132, nullptr, handler); },
            [&](HWND d) {
              dragIcon = Ask(d, WM_QUERYDRAGICON, 0);
              colour = Ask(d, WM_CTLCOLORSTATIC, 0);
              dialogColour = Ask(d, WM_CTLCOLORDLG, 0);
              key = Ask(d, WM_VKEYTOITEM, 0);
              character = Ask(d, WM_CHARTOITEM, 0);
              compare = Ask(d, WM_COMPAREITEM, 0);
              endSession = Ask(d, WM_QUERYENDSESSION, 0);
              ::PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            });
  EXPECT_EQ(dragIcon, reinterpret_cast<LRESULT>(handler.icon));
  EXPECT_EQ(colour, reinterpret_cast<LRESULT>(handler.brush));
  EXPECT_EQ(dialogColour, reinterpret_cast<LRESULT>(handler.brush));
  EXPECT_EQ(key, -2);
  EXPECT_EQ(character, -2);
  EXPECT_EQ(compare, -1);
  EXPECT_EQ(endSession, 0) << "the others still answer through DWLP_MSGRESULT";
}

TEST_F(Win32DialogViewsTest, MainDialogAnswersTheDragQueryWithItsIcon) {
  Win32System system;
  Win32Threads threads;
  Platform platform;
  platform.system = &system;
  platform.threads = &threads;
  ScsiDevice device(platform);  // no port: an empty drive list
  MainDialog dialog(device, threads, Language::English);
  Win32MainDialogView view;
  LRESULT dragIcon = 0, bigIcon = 0;
  const int result = ShowWhile([&] { return dialog.Show(view); },
                               [&](HWND d) {
                                 dragIcon = Ask(d, WM_QUERYDRAGICON, 0);
                                 bigIcon = Ask(d, WM_GETICON, ICON_BIG);
                                 ::PostMessageA(::GetDlgItem(d, maindlg::kCancelId), BM_CLICK,
                                                0, 0);
                               });
  EXPECT_EQ(result, 1);
  EXPECT_NE(bigIcon, 0);
  EXPECT_EQ(dragIcon, bigIcon);
}

TEST_F(Win32DialogViewsTest, TermsAgreeAcceptsAndReleasesTheSession) {
  TermsDialog dialog(Language::English);
  const int result = ShowWhile([&] { return dialog.Show(terms); },
                               [&](HWND d) {
                                 ::PostMessageA(::GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
                               });
  EXPECT_EQ(result, 1);
  // After its button the dialog holds nothing back any more.
  EXPECT_FALSE(dialog.FilterMessage(WM_QUERYENDSESSION, 0).handled);
}

}  // namespace
}  // namespace qx
