#pragma once
#include <cstdint>

namespace qx {

using ThreadRef = std::uintptr_t;  // 0 means none
using ThreadProc = std::uint32_t (*)(void* argument);

namespace thread {
constexpr std::uint32_t kStillActive = 259;
constexpr std::uint32_t kResumeFailed = 0xFFFFFFFFu;
}  // namespace thread

// Clock and threads. The host side runs them on a virtual clock, so that the
// worker's two minutes of waits take no real time and every run is repeatable.
class Threads {
 public:
  virtual ~Threads() = default;
  // A thread created suspended at normal priority; 0 on failure.
  virtual ThreadRef CreateSuspended(ThreadProc procedure, void* argument) = 0;
  // DuplicateHandle within this process, THREAD_ALL_ACCESS, inheritable, same access.
  virtual bool DuplicateHandle(ThreadRef thread, ThreadRef* duplicate) = 0;
  // ResumeThread: the previous suspend count, or 0xFFFFFFFF.
  virtual std::uint32_t ResumeThread(ThreadRef thread) = 0;
  // GetExitCodeThread: 259 while the thread runs.
  virtual bool GetExitCodeThread(ThreadRef handle, std::uint32_t* exitCode) = 0;
  virtual void CloseHandle(ThreadRef handle) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // The C runtime's time(): whole seconds.
  virtual std::int64_t Time() = 0;
};

}  // namespace qx
