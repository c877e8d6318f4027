#include "ui/TermsDialog.h"

namespace qx {

TermsDialog::TermsDialog(Language language)
    : language_(language),
      // The text names the model the utility serves, not whatever the caller later puts
      // in the title.
      termsText_(FormatText(Text(TextId::TermsText, language),
                            Text(TextId::ModelName, Language::English))) {}

std::string TermsDialog::Title() const {
  return Text(TextId::TermsTitle, Language::English) + modelName_;
}

void TermsDialog::OnOpen(DialogWindow& window) {
  window.SetControlText(kTextControlId, termsText_);
}

void TermsDialog::OnPaint(DialogWindow& window) {
  window.SetCaption(Title());
  if (language_ == Language::Japanese) {
    window.SetControlText(kAgreeId, AgreeLabel());
    window.SetControlText(kNotAgreeId, NotAgreeLabel());
  }
}

void TermsDialog::OnCommand(int commandId, DialogWindow& window) {
  if (ended_) return;
  if (commandId == kAgreeId) {
    closing_ = true;
    const std::string readBack = window.ControlText(kTextControlId);
    if (CharacterCount(readBack) > kMaxTextChars) {
      window.ShowTooLongPrompt(kTextControlId, kMaxTextChars);
      return;
    }
    Finish(kAgree, window);
  } else if (commandId == kNotAgreeId) {
    closing_ = true;
    Finish(kNotAgree, window);
  }
}

FilterAnswer TermsDialog::FilterMessage(unsigned message, std::uintptr_t wParam) const {
  return FilterSessionEnd(message, wParam, closing_);
}

void TermsDialog::Finish(int result, DialogWindow& window) {
  ended_ = true;
  result_ = result;
  window.End(result);
}

}  // namespace qx
