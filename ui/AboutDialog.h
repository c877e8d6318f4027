#pragma once
#include <string>

#include "res/resource.h"
#include "ui/DialogEnd.h"
#include "ui/DialogWindow.h"
#include "text/TextCatalogue.h"

namespace qx {

class AboutDialog;

// Shows the About box modally from kTemplateId: OnOpen once, OnCommand for OK and for
// Escape or the close box (id 2).
class AboutDialogView {
 public:
  virtual ~AboutDialogView() = default;
  virtual int RunModal(AboutDialog& dialog) = 0;
};

class AboutDialog : public DialogEnd {
 public:
  static constexpr int kTemplateId = IDD_ABOUTBOX;
  static constexpr int kFirmwareVersionId = IDC_ABOUTFIRMVERSION;  // hidden, always empty
  static constexpr int kModelId = IDC_ABOUTMODEL;
  static constexpr int kLogId = IDC_ABOUTLOG;  // where the update log is, in the user's language

  explicit AboutDialog(Language language) : language(language) {}

  // The box has one layout and speaks English in both languages, but for the line that
  // says where the update log is: that one the user must be able to read.
  const std::string& Caption() const { return Text(TextId::AboutCaption, Language::English); }
  const std::string& ProductText() const { return Text(TextId::AboutProduct, Language::English); }
  const std::string& VersionText() const { return Text(TextId::AboutVersion, Language::English); }
  const std::string& NoticeText() const { return Text(TextId::AboutNotice, Language::English); }
  const std::string& FirmwareVersionText() const { return firmwareVersion; }
  const std::string& ModelText() const { return model; }
  // Empty when there is no log to point to.
  void SetLogLocation(const std::string& location);
  const std::string& LogText() const { return logText; }
  Language GetLanguage() const { return language; }

  int Show(AboutDialogView& view) { return view.RunModal(*this); }

  void OnOpen(DialogWindow& window);
  void OnCommand(int commandId, DialogWindow& window);

 private:
  Language language;
  std::string firmwareVersion;
  std::string model = Text(TextId::ModelName, Language::English);
  std::string logText;
};

}  // namespace qx
