#include "sim/ScaledThreads.h"

namespace qx {

std::uint32_t ScaledThreads::Scale(std::uint32_t milliseconds) const {
  if (milliseconds == 0) return 0;
  const std::uint32_t scaled = milliseconds / waitDivisor;
  return scaled == 0 ? 1 : scaled;
}

}  // namespace qx
