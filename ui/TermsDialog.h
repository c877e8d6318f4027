#pragma once
#include <cstdint>
#include <string>

#include "res/resource.h"
#include "ui/DialogEnd.h"
#include "ui/DialogWindow.h"
#include "ui/SessionEndFilter.h"
#include "text/TextCatalogue.h"

namespace qx {

class TermsDialog;

// Shows the terms modally: creates the window from kTemplateId, calls OnOpen, OnPaint
// on every paint, OnCommand for the buttons (Escape and the close box, WM_CLOSE, arrive
// as id 2, as the dialog manager sends them),
// FilterMessage for every message, and returns the result once the logic ended it.
class TermsDialogView {
 public:
  virtual ~TermsDialogView() = default;
  virtual int RunModal(TermsDialog& dialog) = 0;
};

class TermsDialog : public DialogEnd {
 public:
  static constexpr int kTemplateId = IDD_TERMS;
  static constexpr int kTextControlId = IDC_TERMSTEXT;
  static constexpr int kAgreeId = kIdOk;
  static constexpr int kNotAgreeId = kIdCancel;
  // Enter chooses Not Agree: accepting must be a deliberate click.
  static constexpr int kDefaultButtonId = kNotAgreeId;
  static constexpr std::size_t kMaxTextChars = 2000;

  static constexpr int kAgree = 1;
  static constexpr int kNotAgree = 2;

  explicit TermsDialog(Language language);

  Language GetLanguage() const { return language; }
  const std::string& TermsText() const { return termsText; }
  const std::string& ModelName() const { return modelName; }
  void SetModelName(const std::string& name) { modelName = name; }
  std::string Title() const;
  const std::string& AgreeLabel() const { return Text(TextId::AgreeButton, language); }
  const std::string& NotAgreeLabel() const { return Text(TextId::NotAgreeButton, language); }

  // 1 when the terms were accepted, 2 otherwise.
  int Show(TermsDialogView& view) { return view.RunModal(*this); }

  void OnOpen(DialogWindow& window);
  void OnPaint(DialogWindow& window);
  void OnCommand(int commandId, DialogWindow& window);

 private:
  Language language;
  std::string modelName;
  std::string termsText;
};

}  // namespace qx
