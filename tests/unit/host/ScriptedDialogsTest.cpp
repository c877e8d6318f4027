#include <gtest/gtest.h>

#include "sim/ScriptedDialogs.h"

namespace qx {
namespace {

using A = ScriptAction;

TEST(ScriptedDialogs, ProbesShowRefusalUntilAButtonAndReleaseAfter) {
  ScriptedDialogs dialogs;
  std::vector<std::string> log;
  dialogs.SetLog([&](const std::string& line) { log.push_back(line); });
  dialogs.Queue({A::Press(kIdCancel), A::Send(winmsg::kQueryEndSession, 0),
                 A::Press(MessageDialog::kCancelButtonId), A::Press(kIdOk)});
  MessageDialog reboot(MessageDialogKind::Reboot, Language::English);
  reboot.SetText(Text(TextId::RebootConfirm, Language::English));
  EXPECT_EQ(reboot.Show(dialogs), 2);

  ASSERT_EQ(dialogs.Shown().size(), 1u);
  const ShownDialog& shown = dialogs.Shown()[0];
  EXPECT_EQ(shown.templateId, 140);
  EXPECT_EQ(shown.caption, "Firmware Update Utility");
  EXPECT_EQ(shown.controls.at(105), Text(TextId::RebootConfirm, Language::English));
  EXPECT_TRUE(shown.refusedWhileOpen);
  EXPECT_TRUE(shown.releasedAfterEnd);
  // The query the script sent after Escape was still refused.
  bool sawScripted = false;
  for (std::size_t i = 5; i < shown.filtered.size(); ++i) {
    if (shown.filtered[i].message == winmsg::kQueryEndSession) {
      sawScripted = true;
      EXPECT_TRUE(shown.filtered[i].handled);
      break;
    }
  }
  EXPECT_TRUE(sawScripted);
  EXPECT_EQ(log, std::vector<std::string>{"DIALOG Reboot en -> 2"});
}

TEST(ScriptedDialogs, EscapeOnlyLeavesTheDialogWaiting) {
  ScriptedDialogs dialogs;
  dialogs.Queue({A::Press(kIdCancel)});
  MessageDialog warning(MessageDialogKind::Warning, Language::Japanese);
  EXPECT_EQ(warning.Show(dialogs), -1);
  const ShownDialog& shown = dialogs.Shown().at(0);
  EXPECT_FALSE(shown.ended);
  EXPECT_TRUE(shown.refusedWhileOpen);
  EXPECT_FALSE(shown.releasedAfterEnd);
  EXPECT_EQ(shown.templateId, 135);
}

TEST(ScriptedDialogs, OversizedControlTextKeepsItOpenWithAPrompt) {
  ScriptedDialogs dialogs;
  dialogs.Queue({A::Edit(113, std::string(2001, 'x')), A::Press(kIdOk),
                 A::Edit(113, std::string(2000, 'x')), A::Press(kIdOk)});
  MessageDialog start(MessageDialogKind::Start, Language::English);
  EXPECT_EQ(start.Show(dialogs), 1);
  EXPECT_EQ(dialogs.Shown().at(0).tooLongPrompts, 1);
}

TEST(ScriptedDialogs, TermsRelabelledOnPaintAndAnsweredInOrder) {
  ScriptedDialogs dialogs;
  std::vector<std::string> log;
  dialogs.SetLog([&](const std::string& line) { log.push_back(line); });
  dialogs.Queue({A::Paint(), A::Press(TermsDialog::kNotAgreeId)});
  dialogs.SetAnswerByDefault(true);

  TermsDialog first(Language::Japanese);
  first.SetModelName("DVD-ROM QX-M4471");
  EXPECT_EQ(first.Show(dialogs), 2);
  TermsDialog second(Language::English);  // queue empty: answered with Agree
  second.SetModelName("DVD-ROM QX-M4471");
  EXPECT_EQ(second.Show(dialogs), 1);

  const ShownDialog& ja = dialogs.Shown().at(0);
  EXPECT_EQ(ja.caption, "Firmware Update Utility For  DVD-ROM QX-M4471");
  EXPECT_EQ(ja.controls.at(1), "合意する");
  EXPECT_EQ(ja.controls.at(2), "合意しない");
  EXPECT_TRUE(ja.refusedWhileOpen);
  EXPECT_TRUE(ja.releasedAfterEnd);
  const ShownDialog& en = dialogs.Shown().at(1);
  EXPECT_EQ(en.controls.at(1), "Agree");
  EXPECT_EQ(en.controls.at(1004), second.TermsText());
  EXPECT_EQ(log, (std::vector<std::string>{"TERMS ja -> 2", "TERMS en -> 1"}));
}

TEST(ScriptedDialogs, EnterRightAfterOpeningDeclines) {
  ScriptedDialogs dialogs;
  dialogs.Queue({A::Enter()});
  dialogs.Queue({A::Enter()});
  dialogs.Queue({A::Enter()});
  MessageDialog reboot(MessageDialogKind::Reboot, Language::Japanese);
  EXPECT_EQ(reboot.Show(dialogs), 2);  // CANCEL has the focus
  TermsDialog terms(Language::English);
  EXPECT_EQ(terms.Show(dialogs), 2);  // Not Agree is the default
  MessageDialog end(MessageDialogKind::End, Language::English);
  EXPECT_EQ(end.Show(dialogs), 1);  // OK is the only button
}

TEST(ScriptedDialogs, WithoutScriptOrDefaultNothingIsAnswered) {
  ScriptedDialogs dialogs;
  AboutDialog about(Language::English);
  EXPECT_EQ(about.Show(dialogs), -1);
  dialogs.SetAnswerByDefault(true);
  AboutDialog again(Language::English);
  EXPECT_EQ(again.Show(dialogs), 1);
  EXPECT_EQ(dialogs.Shown().at(1).controls.at(AboutDialog::kModelId), "DVD-ROM QX-M4471");
}

}  // namespace
}  // namespace qx
