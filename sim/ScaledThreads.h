#pragma once
// Runs the program's fixed waits faster: every Sleep is divided by a factor, so the
// simulated program goes through the worker's two minutes of waits in seconds.
// Sleep(0) stays a bare yield. Threads and their exit codes pass straight through.
#include <cstdint>

#include "platform/Forwarding.h"

namespace qx {

class ScaledThreads : public ForwardingThreads {
 public:
  ScaledThreads(Threads& inner, std::uint32_t divisor)
      : ForwardingThreads(inner), waitDivisor(divisor == 0 ? 1 : divisor) {}

  std::uint32_t Divisor() const { return waitDivisor; }
  // The scaled length of a wait: 0 stays 0, any other wait lasts at least 1 ms.
  std::uint32_t Scale(std::uint32_t milliseconds) const;

  void Sleep(std::uint32_t milliseconds) override { inner.Sleep(Scale(milliseconds)); }

 private:
  std::uint32_t waitDivisor;
};

}  // namespace qx
