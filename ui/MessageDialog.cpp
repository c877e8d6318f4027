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
    {132, 102, 135, 108, TextId::WarningNotice},
    {138, 113, 139, 114, TextId::StartNotice},
    {136, 111, 137, 112, TextId::EndNotice},
    {133, 109, 134, 110, TextId::CancelNotice},
    {140, 105, 141, 106, TextId::RebootNotice},
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
  if (ended) return;
  if (commandId == kIdOk) {
    allowClose = true;
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
    allowClose = true;
    Finish(kIdCancel, window);
  }
  // Escape (id 2) and anything else: the notice must be answered with its buttons.
}

FilterAnswer MessageDialog::FilterMessage(unsigned message, std::uintptr_t wParam) const {
  return FilterSessionEnd(message, wParam, allowClose);
}

void MessageDialog::Finish(int command, DialogWindow& window) {
  ended = true;
  result = command;
  window.End(command);
}

int ShowNotice(MessageDialogKind kind, Language language, MessageDialogView& view,
               std::optional<TextId> text) {
  MessageDialog notice(kind, language);
  if (text) notice.SetText(Text(*text, language));
  return notice.Show(view);
}

}  // namespace qx
