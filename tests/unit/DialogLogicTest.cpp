#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ui/AboutDialog.h"
#include "ui/MessageDialog.h"
#include "ui/SessionEndFilter.h"
#include "ui/TermsDialog.h"

namespace qx {
namespace {

// A window that keeps what the logic shows, like a dialog on screen would.
class FakeWindow : public DialogWindow {
 public:
  void SetCaption(const std::string& text) override { caption = text; }
  void SetControlText(int id, const std::string& text) override { controls[id] = text; }
  std::string ControlText(int id) const override {
    auto it = controls.find(id);
    return it == controls.end() ? std::string() : it->second;
  }
  void EnableControl(int id, bool enabled) override { enabledState[id] = enabled; }
  void ShowTooLongPrompt(int, std::size_t maxChars) override { promptedMax = maxChars; }
  void End(int result) override {
    ++ends;
    endResult = result;
  }

  std::string caption = "(unset)";
  std::map<int, std::string> controls;
  std::map<int, bool> enabledState;
  std::size_t promptedMax = 0;
  int ends = 0;
  int endResult = -1;
};

constexpr MessageDialogKind kAllKinds[] = {MessageDialogKind::Warning, MessageDialogKind::Start,
                                           MessageDialogKind::End, MessageDialogKind::Cancel,
                                           MessageDialogKind::Reboot};
constexpr Language kBothLanguages[] = {Language::English, Language::Japanese};

// True when every session-end query gets refused with its proper answer.
template <typename Dialog>
::testing::AssertionResult RefusesSessionEnd(const Dialog& dialog) {
  struct Case {
    unsigned message;
    std::uintptr_t wParam;
    std::intptr_t answer;
  };
  const Case cases[] = {{winmsg::kQueryEndSession, 0, 0},
                        {winmsg::kQueryEndSession, 1, 0},
                        {winmsg::kEndSession, 1, 0},
                        {winmsg::kPower, winmsg::kPwrSuspendRequest, winmsg::kPwrFail},
                        {winmsg::kPowerBroadcast, 0, winmsg::kBroadcastQueryDeny},
                        {winmsg::kPowerBroadcast, 1, winmsg::kBroadcastQueryDeny}};
  for (const Case& c : cases) {
    FilterAnswer a = dialog.FilterMessage(c.message, c.wParam);
    if (!a.handled || a.result != c.answer) {
      return ::testing::AssertionFailure() << "message 0x" << std::hex << c.message
                                           << " wParam " << c.wParam << " not refused";
    }
  }
  return ::testing::AssertionSuccess();
}

template <typename Dialog>
::testing::AssertionResult PassesEverything(const Dialog& dialog) {
  for (unsigned m : {winmsg::kQueryEndSession, winmsg::kEndSession, winmsg::kPower,
                     winmsg::kPowerBroadcast}) {
    for (std::uintptr_t w : {0u, 1u}) {
      if (dialog.FilterMessage(m, w).handled) {
        return ::testing::AssertionFailure() << "message 0x" << std::hex << m << " still held";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(SessionEndFilter, OnlyTheSleepAndEndQueriesAreHeld) {
  // Notifications that merely report a power change must reach default processing.
  EXPECT_FALSE(FilterSessionEnd(winmsg::kPower, 2, false).handled);  // PWR_SUSPENDRESUME
  EXPECT_FALSE(FilterSessionEnd(winmsg::kPowerBroadcast, 2, false).handled);
  EXPECT_FALSE(FilterSessionEnd(winmsg::kPowerBroadcast, 7, false).handled);
  EXPECT_FALSE(FilterSessionEnd(winmsg::kClose, 0, false).handled);
  EXPECT_FALSE(FilterSessionEnd(0x0111 /* command */, 2, false).handled);
  EXPECT_FALSE(FilterSessionEnd(winmsg::kQueryEndSession, 0, true).handled);
  EXPECT_FALSE(FilterSessionEnd(winmsg::kPowerBroadcast, 0, true).handled);
  const FilterAnswer held = FilterSessionEnd(winmsg::kPowerBroadcast, 1, false);
  EXPECT_TRUE(held.handled);
  EXPECT_EQ(held.result, 0x424D5144);
}

TEST(MessageDialog, TemplatesAndTextControlsPerKindAndLanguage) {
  struct Row {
    MessageDialogKind kind;
    int en, enText, ja, jaText;
  };
  const Row rows[] = {{MessageDialogKind::Warning, 132, 102, 135, 108},
                      {MessageDialogKind::Cancel, 133, 109, 134, 110},
                      {MessageDialogKind::End, 136, 111, 137, 112},
                      {MessageDialogKind::Start, 138, 113, 139, 114},
                      {MessageDialogKind::Reboot, 140, 105, 141, 106}};
  for (const Row& r : rows) {
    MessageDialog en(r.kind, Language::English);
    MessageDialog ja(r.kind, Language::Japanese);
    EXPECT_EQ(en.TemplateId(), r.en) << KindName(r.kind);
    EXPECT_EQ(en.TextControlId(), r.enText) << KindName(r.kind);
    EXPECT_EQ(ja.TemplateId(), r.ja) << KindName(r.kind);
    EXPECT_EQ(ja.TextControlId(), r.jaText) << KindName(r.kind);
  }
}

TEST(MessageDialog, OpensWithItsTextAndAnEnglishCaptionInBothLanguages) {
  for (MessageDialogKind kind : kAllKinds) {
    for (Language language : kBothLanguages) {
      MessageDialog dialog(kind, language);
      FakeWindow window;
      dialog.OnOpen(window);
      EXPECT_EQ(window.caption, "Firmware Update Utility");
      EXPECT_EQ(window.controls[dialog.TextControlId()], dialog.GetText());
      EXPECT_EQ(dialog.InitialFocusId(), kind == MessageDialogKind::Reboot ? 1006 : 1);
    }
  }
  MessageDialog reboot(MessageDialogKind::Reboot, Language::Japanese);
  FakeWindow window;
  reboot.OnOpen(window);
  EXPECT_EQ(window.controls.at(106), "");  // nobody set a text: the control stays empty
  EXPECT_EQ(reboot.CancelLabel(), "キャンセル");
  EXPECT_EQ(MessageDialog(MessageDialogKind::Warning, Language::Japanese).GetText(),
            "ファームウェアのアップデートを行う前にアプリケーションを全て終了して下さい。");
  EXPECT_EQ(MessageDialog(MessageDialogKind::Cancel, Language::English).GetText(),
            "The system must now restart.");
}

TEST(MessageDialog, EscapeLeavesItOpenAndStillRefusing) {
  for (MessageDialogKind kind : kAllKinds) {
    MessageDialog dialog(kind, Language::English);
    FakeWindow window;
    dialog.OnOpen(window);
    EXPECT_TRUE(RefusesSessionEnd(dialog)) << KindName(kind);
    dialog.OnCommand(kIdCancel, window);
    dialog.OnCommand(kIdCancel, window);
    EXPECT_EQ(window.ends, 0) << KindName(kind);
    EXPECT_FALSE(dialog.Ended());
    EXPECT_TRUE(RefusesSessionEnd(dialog)) << KindName(kind);
  }
}

TEST(MessageDialog, OkEndsWithOneAndReleasesTheSession) {
  for (MessageDialogKind kind : kAllKinds) {
    MessageDialog dialog(kind, Language::Japanese);
    FakeWindow window;
    dialog.OnOpen(window);
    dialog.OnCommand(kIdOk, window);
    EXPECT_EQ(window.ends, 1);
    EXPECT_EQ(window.endResult, 1);
    EXPECT_EQ(dialog.Result(), 1);
    EXPECT_TRUE(PassesEverything(dialog)) << KindName(kind);
    dialog.OnCommand(kIdOk, window);  // a late click must not end it twice
    EXPECT_EQ(window.ends, 1);
  }
}

TEST(MessageDialog, CancelButtonOnlyOnRebootAndItGivesTwo) {
  MessageDialog reboot(MessageDialogKind::Reboot, Language::English);
  reboot.SetText(Text(TextId::RebootConfirm, Language::English));
  FakeWindow window;
  reboot.OnOpen(window);
  // CANCEL does not read the text back: even an oversized control text cannot hold it.
  window.controls[105] = std::string(2500, 'x');
  reboot.OnCommand(MessageDialog::kCancelButtonId, window);
  EXPECT_EQ(window.endResult, 2);
  EXPECT_EQ(window.promptedMax, 0u);
  EXPECT_TRUE(PassesEverything(reboot));

  MessageDialog start(MessageDialogKind::Start, Language::English);
  FakeWindow startWindow;
  start.OnOpen(startWindow);
  start.OnCommand(MessageDialog::kCancelButtonId, startWindow);  // no such button there
  EXPECT_EQ(startWindow.ends, 0);
  EXPECT_TRUE(RefusesSessionEnd(start));
}

TEST(MessageDialog, ReadBackCheckAllowsTwoThousandCharactersAndNoMore) {
  MessageDialog dialog(MessageDialogKind::Reboot, Language::English);
  dialog.SetText(std::string(2001, 'a'));
  FakeWindow window;
  dialog.OnOpen(window);
  dialog.OnCommand(kIdOk, window);
  EXPECT_EQ(window.ends, 0);
  EXPECT_EQ(window.promptedMax, 2000u);
  EXPECT_TRUE(dialog.Closing());  // the button press has already released the session
  window.controls[105] = std::string(2000, 'a');
  dialog.OnCommand(kIdOk, window);
  EXPECT_EQ(window.endResult, 1);

  // Characters, not bytes: 2000 Japanese characters are 6000 bytes of UTF-8.
  std::string japanese;
  for (int i = 0; i < 2000; ++i) japanese += "ア";
  MessageDialog ja(MessageDialogKind::Reboot, Language::Japanese);
  ja.SetText(japanese);
  FakeWindow jaWindow;
  ja.OnOpen(jaWindow);
  ja.OnCommand(kIdOk, jaWindow);
  EXPECT_EQ(jaWindow.endResult, 1);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
    lines.push_back(text.substr(start, pos - start));
  }
  lines.push_back(text.substr(start));  // what follows the last line end
  return lines;
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
    ++n;
  }
  return n;
}

TEST(TermsDialog, EnglishTextNamesTheModelTwice) {
  TermsDialog dialog(Language::English);
  const std::string& text = dialog.TermsText();
  EXPECT_EQ(Occurrences(text, "DVD-ROM QX-M4471"), 2u);
  EXPECT_EQ(Occurrences(text, "%"), 0u);
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);  // no bare line feeds
  EXPECT_EQ(Occurrences(text, "\n"), Occurrences(text, "\r\n"));
  const std::vector<std::string> lines = Lines(text);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front(),
            " Please read this instruction carefully before using this program. You may use "
            "this program only on condition that you accept all of the terms set forth below. "
            "If you accept them, click \"Agree\" button to proceed.");
  EXPECT_EQ(lines[lines.size() - 2],
            "  Windows is registered trademark of Microsoft Corporation in the United States "
            "and/or other countries.");
  EXPECT_EQ(lines.back(), "");  // the text ends with exactly one line end
  EXPECT_NE(text.find("\r\n1) This program is for use only with the \"DVD-ROM QX-M4471\".  It "
                      "cannot be used with any other model.\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\n5) Verify that no media is installed in the \"DVD-ROM QX-M4471\".\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\n\r\n[Instructions]\r\n"), std::string::npos);
}

TEST(TermsDialog, JapaneseTextNamesTheModelOnce) {
  TermsDialog dialog(Language::Japanese);
  const std::string& text = dialog.TermsText();
  EXPECT_EQ(Occurrences(text, "DVD-ROM QX-M4471"), 1u);
  EXPECT_NE(text.find("1) 本プログラムは\"DVD-ROM QX-M4471\" 専用です。"), std::string::npos);
  EXPECT_EQ(Occurrences(text, "\n"), Occurrences(text, "\r\n"));
  const std::vector<std::string> lines = Lines(text);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines.front(),
            "本プログラムをご使用になる前に、必ず注意事項をお読み下さい。本プログラムは以下の条件に"
            "合意頂ける場合にのみご利用頂くことができます。以下の条件に合意頂ける場合には"
            "\"合意する\"をクリックしてご利用下さい。");
  EXPECT_EQ(lines[1], "1) 本プログラムの全部又は一部を複製又は頒布することを禁止致します。");
  EXPECT_EQ(lines[lines.size() - 3],
            "  Windows は、米国Microsoft Corporation の米国及びその他の国における登録商標です。");
  EXPECT_EQ(lines[lines.size() - 2], "");  // two line ends close the text
  EXPECT_EQ(lines.back(), "");
  EXPECT_NE(text.find("当社"), std::string::npos);
}

TEST(TermsDialog, TitleAndJapaneseButtonsAppearOnPaint) {
  TermsDialog dialog(Language::Japanese);
  dialog.SetModelName("DVD-ROM QX-M4471");
  FakeWindow window;
  dialog.OnOpen(window);
  EXPECT_EQ(window.controls.at(1004), dialog.TermsText());
  EXPECT_EQ(window.caption, "(unset)");
  dialog.OnPaint(window);
  EXPECT_EQ(window.caption, "Firmware Update Utility For  DVD-ROM QX-M4471");
  EXPECT_EQ(window.controls.at(1), "合意する");
  EXPECT_EQ(window.controls.at(2), "合意しない");

  TermsDialog english(Language::English);
  FakeWindow englishWindow;
  english.OnPaint(englishWindow);
  EXPECT_EQ(englishWindow.caption, "Firmware Update Utility For  ");  // no model set yet
  EXPECT_EQ(englishWindow.controls.count(1), 0u);  // the template's labels stay
}

TEST(TermsDialog, AgreeGivesOneAndEverythingElseTwo) {
  TermsDialog agree(Language::English);
  FakeWindow window;
  agree.OnOpen(window);
  EXPECT_TRUE(RefusesSessionEnd(agree));
  agree.OnCommand(TermsDialog::kAgreeId, window);
  EXPECT_EQ(window.endResult, 1);
  EXPECT_EQ(window.promptedMax, 0u);  // the whole text passes the read-back check
  EXPECT_TRUE(PassesEverything(agree));

  // Not Agree, Escape and the close box all arrive as command 2.
  TermsDialog decline(Language::Japanese);
  FakeWindow declineWindow;
  decline.OnOpen(declineWindow);
  decline.OnCommand(0x0466, declineWindow);  // an unrelated command changes nothing
  EXPECT_EQ(declineWindow.ends, 0);
  EXPECT_TRUE(RefusesSessionEnd(decline));
  decline.OnCommand(TermsDialog::kNotAgreeId, declineWindow);
  EXPECT_EQ(declineWindow.endResult, 2);
  EXPECT_TRUE(decline.Closing());
  EXPECT_TRUE(PassesEverything(decline));
}

TEST(TermsDialog, BothTextsFitTheTwoThousandCharacterControl) {
  for (Language language : kBothLanguages) {
    TermsDialog dialog(language);
    EXPECT_LE(CharacterCount(dialog.TermsText()), TermsDialog::kMaxTextChars);
  }
}

TEST(AboutDialog, ShowsTheModelAndAnEmptyFirmwareVersion) {
  AboutDialog about(Language::Japanese);
  FakeWindow window;
  window.controls[AboutDialog::kFirmwareVersionId] = "stale";
  about.OnOpen(window);
  EXPECT_EQ(window.caption, "About  Firmware Update Utility");
  EXPECT_EQ(window.controls.at(1005), "DVD-ROM QX-M4471");
  EXPECT_EQ(window.controls.at(1004), "");
  EXPECT_EQ(about.VersionText(), "Ver.5.2.0");
  EXPECT_NE(about.NoticeText().find("2005"), std::string::npos);
  EXPECT_NE(about.NoticeText().find("VELMORA"), std::string::npos);
  about.OnCommand(kIdOk, window);
  EXPECT_EQ(window.endResult, 1);
  AboutDialog escaped(Language::English);
  FakeWindow escapedWindow;
  escaped.OnCommand(kIdCancel, escapedWindow);
  EXPECT_EQ(escapedWindow.endResult, 2);
}

}  // namespace
}  // namespace qx
