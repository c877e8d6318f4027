#pragma once
// The Win32 views of the message dialogs, the terms and the About box: each shows its
// resource template modally and plays the window's events into the dialog's logic.
#include "platform/System.h"
#include "ui/AboutDialog.h"
#include "ui/MessageDialog.h"
#include "ui/TermsDialog.h"

namespace qx {

// Shows every message dialog owned by `owner` (0: no owner).
class Win32MessageDialogView : public MessageDialogView {
 public:
  explicit Win32MessageDialogView(WindowRef owner = 0) : ownerWindow(owner) {}
  void SetOwner(WindowRef owner) { ownerWindow = owner; }
  int RunModal(MessageDialog& dialog) override;

 private:
  WindowRef ownerWindow;
};

class Win32TermsDialogView : public TermsDialogView {
 public:
  explicit Win32TermsDialogView(WindowRef owner = 0) : ownerWindow(owner) {}
  int RunModal(TermsDialog& dialog) override;

 private:
  WindowRef ownerWindow;
};

class Win32AboutDialogView : public AboutDialogView {
 public:
  explicit Win32AboutDialogView(WindowRef owner = 0) : ownerWindow(owner) {}
  void SetOwner(WindowRef owner) { ownerWindow = owner; }
  int RunModal(AboutDialog& dialog) override;

 private:
  WindowRef ownerWindow;
};

}  // namespace qx
