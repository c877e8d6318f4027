#include "ui/TermsDialog.h"

namespace qx {

TermsDialog::TermsDialog(Language language)
    : language(language),
      // The text names the model the utility serves, not whatever the caller later puts
      // in the title.
      termsText(FormatText(Text(TextId::TermsText, language),
                            Text(TextId::ModelName, Language::English))) {}

std::string TermsDialog::Title() const {
  return Text(TextId::TermsTitle, Language::English) + modelName;
}

void TermsDialog::OnOpen(DialogWindow& window) {
  window.SetControlText(kTextControlId, termsText);
}

void TermsDialog::OnPaint(DialogWindow& window) {
  window.SetCaption(Title());
  if (language == Language::Japanese) {
    window.SetControlText(kAgreeId, AgreeLabel());
    window.SetControlText(kNotAgreeId, NotAgreeLabel());
  }
}

void TermsDialog::OnCommand(int commandId, DialogWindow& window) {
  if (Ended()) return;
  if (commandId == kAgreeId) {
    BeginClosing();
    const std::string readBack = window.ControlText(kTextControlId);
    if (CharacterCount(readBack) > kMaxTextChars) {
      window.ShowTooLongPrompt(kTextControlId, kMaxTextChars);
      return;
    }
    Finish(kAgree, window);
  } else if (commandId == kNotAgreeId) {
    Finish(kNotAgree, window);
  }
}

}  // namespace qx
