#pragma once
// The main dialog's window: template 102 with its logic in ui/MainDialog.
#include <cstdint>

#include "winapp/Win32DialogViews.h"
#include "ui/MainDialog.h"

namespace qx {

class Win32MainDialogView : public MainDialogView {
 public:
  // `divisor` shortens every timer period by that factor (1 for the product);
  // the simulated program runs its waits faster and its timer with them.
  explicit Win32MainDialogView(std::uint32_t divisor = 1)
      : timerDivisor(divisor == 0 ? 1 : divisor) {}
  int RunModal(MainDialog& dialog) override;

 private:
  std::uint32_t timerDivisor;
};

}  // namespace qx
