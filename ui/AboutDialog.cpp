#include "ui/AboutDialog.h"

#include "ui/SessionEndFilter.h"

namespace qx {

void AboutDialog::OnOpen(DialogWindow& window) {
  window.SetCaption(Caption());
  window.SetControlText(kFirmwareVersionId, firmwareVersion_);
  window.SetControlText(kModelId, model_);
  window.SetControlText(kLogId, logText_);
}

void AboutDialog::SetLogLocation(const std::string& location) {
  logText_ = location.empty() ? std::string()
                              : FormatNumbered(Text(TextId::LogLocation, language_), location);
}

void AboutDialog::OnCommand(int commandId, DialogWindow& window) {
  if (ended_) return;
  if (commandId == kIdOk || commandId == kIdCancel) {
    ended_ = true;
    result_ = commandId;
    window.End(commandId);
  }
}

}  // namespace qx
