#pragma once
// Runs the program's fixed waits faster: every Sleep is divided by a factor, so the
// simulated program goes through the worker's two minutes of waits in seconds.
// Sleep(0) stays a bare yield. Threads and their exit codes pass straight through.
#include <cstdint>

#include "platform/Threads.h"

namespace qx {

class ScaledThreads : public Threads {
 public:
  ScaledThreads(Threads& inner, std::uint32_t divisor)
      : inner_(inner), divisor_(divisor == 0 ? 1 : divisor) {}

  std::uint32_t Divisor() const { return divisor_; }
  // The scaled length of a wait: 0 stays 0, any other wait lasts at least 1 ms.
  std::uint32_t Scale(std::uint32_t milliseconds) const;

  ThreadRef CreateSuspended(ThreadProc procedure, void* argument) override {
    return inner_.CreateSuspended(procedure, argument);
  }
  bool DuplicateHandle(ThreadRef thread, ThreadRef* duplicate) override {
    return inner_.DuplicateHandle(thread, duplicate);
  }
  std::uint32_t ResumeThread(ThreadRef thread) override { return inner_.ResumeThread(thread); }
  bool GetExitCodeThread(ThreadRef handle, std::uint32_t* exitCode) override {
    return inner_.GetExitCodeThread(handle, exitCode);
  }
  void CloseHandle(ThreadRef handle) override { inner_.CloseHandle(handle); }
  void Sleep(std::uint32_t milliseconds) override { inner_.Sleep(Scale(milliseconds)); }
  std::int64_t Time() override { return inner_.Time(); }

 private:
  Threads& inner_;
  std::uint32_t divisor_;
};

}  // namespace qx
