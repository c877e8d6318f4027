#include "ui/MessageDialog.h"

#include <utility>

namespace qx {

namespace {

struct KindLayout {
  int englishTemplate;
  int englishTextControl;
  int japaneseTemplate;
  int japaneseTextControl;
  TextId initialText;
};

// Indexed by MessageDialogKind.
constexpr KindLayout kLayouts[] = {
    {IDD_WARNING, IDC_WARNING, IDD_WARNINGJ, IDC_WARNINGJ, TextId::WarningNotice},
    {IDD_START, IDC_START, IDD_STARTJ, IDC_STARTJ, TextId::StartNotice},
    {IDD_END, IDC_END, IDD_ENDJ, IDC_ENDJ, TextId::EndNotice},
    {IDD_CANCEL, IDC_CANCEL, IDD_CANCELJ, IDC_CANCELJ, TextId::CancelNotice},
    {IDD_REBOOT, IDC_REBOOT, IDD_REBOOTJ, IDC_REBOOTJ, TextId::RebootNotice},
};

const KindLayout& LayoutOf(MessageDialogKind kind) {
  return kLayouts[static_cast<int>(kind)];
}

}  // namespace

const char* KindName(MessageDialogKind kind) {
  switch (kind) {
    case MessageDialogKind::Warning: return "Warning";
    case MessageDialogKind::Start: return "Start";
    case MessageDialogKind::End: return "End";
    case MessageDialogKind::Cancel: return "Cancel";
    case MessageDialogKind::Reboot: return "Reboot";
  }
  return "?";
}

MessageDialog::MessageDialog(MessageDialogKind kind, Language language)
    : kind(kind), language(language), noticeText(Text(LayoutOf(kind).initialText, language)) {}

int MessageDialog::TemplateId() const {
  const KindLayout& layout = LayoutOf(kind);
  return language == Language::Japanese ? layout.japaneseTemplate : layout.englishTemplate;
}

int MessageDialog::TextControlId() const {
  const KindLayout& layout = LayoutOf(kind);
  return language == Language::Japanese ? layout.japaneseTextControl
                                          : layout.englishTextControl;
}

const std::string& MessageDialog::Caption() const {
  // The caption is English in both languages.
  return Text(TextId::Caption, Language::English);
}

const std::string& MessageDialog::CancelLabel() const {
  return Text(TextId::CancelButton, language);
}

void MessageDialog::OnOpen(DialogWindow& window) {
  window.SetControlText(TextControlId(), noticeText);
  window.SetCaption(Caption());
}

void MessageDialog::OnCommand(int commandId, DialogWindow& window) {
  if (Ended()) return;
  if (commandId == kIdOk) {
    BeginClosing();
    // The text goes back through the control as it came in; a text the control could
    // not have held keeps the dialog open with the standard prompt.
    std::string readBack = window.ControlText(TextControlId());
    if (CharacterCount(readBack) > kMaxTextChars) {
      window.ShowTooLongPrompt(TextControlId(), kMaxTextChars);
      return;
    }
    noticeText = std::move(readBack);
    Finish(kIdOk, window);
  } else if (commandId == kCancelButtonId && HasCancelButton()) {
    Finish(kIdCancel, window);
  }
  // Escape (id 2) and anything else: the notice must be answered with its buttons.
}

int ShowNotice(MessageDialogKind kind, Language language, MessageDialogView& view,
               std::optional<TextId> text) {
  MessageDialog notice(kind, language);
  if (text) notice.SetText(Text(*text, language));
  return notice.Show(view);
}

}  // namespace qx
