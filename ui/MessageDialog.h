#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "res/resource.h"
#include "ui/DialogEnd.h"
#include "ui/DialogWindow.h"
#include "ui/SessionEndFilter.h"
#include "text/TextCatalogue.h"

namespace qx {

// The five notices that matter too much for a plain message box.
enum class MessageDialogKind { Warning, Start, End, Cancel, Reboot };

const char* KindName(MessageDialogKind kind);

class MessageDialog;

// Shows a message dialog modally. The Win32 view creates the window from TemplateId(),
// calls OnOpen, passes every button command to OnCommand and every message through
// FilterMessage, and returns the result once the logic has ended the window. Escape and
// WM_CLOSE arrive as command 2, which the logic ignores. A view made for an owner
// window shows its dialogs owned by it.
class MessageDialogView {
 public:
  virtual ~MessageDialogView() = default;
  virtual int RunModal(MessageDialog& dialog) = 0;
};

class MessageDialog : public DialogEnd {
 public:
  static constexpr int kCancelButtonId = IDC_REBOOTCANCEL;  // Reboot only; Escape's id 2 is ignored
  static constexpr std::size_t kMaxTextChars = 2000;

  MessageDialog(MessageDialogKind kind, Language language);

  MessageDialogKind Kind() const { return kind; }
  Language GetLanguage() const { return language; }
  int TemplateId() const;
  int TextControlId() const;
  bool HasCancelButton() const { return kind == MessageDialogKind::Reboot; }
  // The control that takes the focus first and is the default button, so answers Enter.
  int InitialFocusId() const { return HasCancelButton() ? kCancelButtonId : kIdOk; }
  const std::string& Caption() const;
  // Label of the Reboot notice's CANCEL button in this language.
  const std::string& CancelLabel() const;

  const std::string& GetText() const { return noticeText; }
  void SetText(const std::string& text) { noticeText = text; }

  // Returns the command that ended the dialog: 1 for OK, 2 for CANCEL.
  int Show(MessageDialogView& view) { return view.RunModal(*this); }

  // Events from the view.
  void OnOpen(DialogWindow& window);
  void OnCommand(int commandId, DialogWindow& window);

 private:
  MessageDialogKind kind;
  Language language;
  std::string noticeText;
};

// Shows the notice of `kind` in the user's `language` through `view` and returns the
// command that ended it. `text`, when given, is shown in place of the kind's own.
int ShowNotice(MessageDialogKind kind, Language language, MessageDialogView& view,
               std::optional<TextId> text = std::nullopt);

}  // namespace qx
