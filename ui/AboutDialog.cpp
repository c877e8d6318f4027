#include "ui/AboutDialog.h"

#include "ui/SessionEndFilter.h"

namespace qx {

void AboutDialog::OnOpen(DialogWindow& window) {
  window.SetCaption(Caption());
  window.SetControlText(kFirmwareVersionId, firmwareVersion);
  window.SetControlText(kModelId, model);
  window.SetControlText(kLogId, logText);
}

void AboutDialog::SetLogLocation(const std::string& location) {
  logText = location.empty() ? std::string()
                              : FormatNumbered(Text(TextId::LogLocation, language), location);
}

void AboutDialog::OnCommand(int commandId, DialogWindow& window) {
  if (Ended()) return;
  if (commandId == kIdOk || commandId == kIdCancel) Finish(commandId, window);
}

}  // namespace qx
