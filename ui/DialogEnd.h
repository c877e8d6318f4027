#pragma once
#include <cstdint>

#include "ui/DialogWindow.h"
#include "ui/SessionEndFilter.h"

namespace qx {

// How the utility's small modal dialogs end, kept in one place. A button press first
// lets the session end (Closing), even when a read-back check then keeps the dialog
// open; Finish ends the window with the command the modal call returns. Until a
// button was pressed the dialog holds off log-off, shutdown and sleep.
class DialogEnd {
 public:
  bool Closing() const { return closing; }
  bool Ended() const { return ended; }
  int Result() const { return result; }

  FilterAnswer FilterMessage(unsigned message, std::uintptr_t wParam) const {
    return FilterSessionEnd(message, wParam, closing);
  }

 protected:
  void BeginClosing() { closing = true; }
  void Finish(int command, DialogWindow& window) {
    closing = true;
    ended = true;
    result = command;
    window.End(command);
  }

 private:
  bool closing = false;
  bool ended = false;
  int result = 0;
};

}  // namespace qx
