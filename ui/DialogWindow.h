#pragma once
#include <cstddef>
#include <string>

namespace qx {

// The open window of a dialog, as its logic sees it. The Win32 view implements it over
// the real dialog (SetWindowText, SetDlgItemText, EnableWindow, EndDialog ...); the
// scripted host view over a table of control texts. The logic tells the window what
// to show and when to end; the view tells the logic what the user did.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;

  virtual void SetCaption(const std::string& text) = 0;
  virtual void SetControlText(int controlId, const std::string& text) = 0;
  // The text the control holds now (what the user or the system left in it).
  virtual std::string ControlText(int controlId) const = 0;
  virtual void EnableControl(int controlId, bool enabled) = 0;
  // The standard "no more than N characters" prompt of a failed read-back check; the
  // control keeps the focus and the dialog stays open.
  virtual void ShowTooLongPrompt(int controlId, std::size_t maxChars) = 0;
  // Ends the modal loop; the modal call returns `result`.
  virtual void End(int result) = 0;
};

// Counts characters, not bytes, of a UTF-8 text: the limits of the dialogs' text
// exchange are in characters.
std::size_t CharacterCount(const std::string& utf8);

}  // namespace qx
