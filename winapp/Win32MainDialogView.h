#pragma once
// The main dialog's window: template 102 with its logic in ui/MainDialog.
#include <cstdint>

#include "winapp/Win32DialogViews.h"
#include "ui/MainDialog.h"

namespace qx {

class Win32MainDialogView : public MainDialogView {
 public:
  // `timerDivisor` shortens every timer period by that factor (1 for the product);
  // the simulated program runs its waits faster and its timer with them.
  explicit Win32MainDialogView(std::uint32_t timerDivisor = 1)
      : timerDivisor_(timerDivisor == 0 ? 1 : timerDivisor) {}
  int RunModal(MainDialog& dialog) override;

 private:
  std::uint32_t timerDivisor_;
};

}  // namespace qx
