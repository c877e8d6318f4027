#pragma once
#include "platform/Threads.h"

namespace qx {

// The Threads seam over kernel32: real threads, real sleeps, the wall clock.
class Win32Threads : public Threads {
 public:
  ThreadRef CreateSuspended(ThreadProc procedure, void* argument) override;
  bool DuplicateHandle(ThreadRef thread, ThreadRef* duplicate) override;
  std::uint32_t ResumeThread(ThreadRef thread) override;
  bool GetExitCodeThread(ThreadRef handle, std::uint32_t* exitCode) override;
  void CloseHandle(ThreadRef handle) override;
  void Sleep(std::uint32_t milliseconds) override;
  // Seconds since 1970-01-01 UTC, as the C runtime's time() counts them.
  std::int64_t Time() override;
};

}  // namespace qx
