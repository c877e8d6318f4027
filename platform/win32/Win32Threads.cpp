#include "platform/win32/Win32Threads.h"

#include "platform/win32/Win32Api.h"

#include <memory>

namespace qx {
namespace {

constexpr DWORD kThreadAllAccess = 0x1F03FF;

// The procedure and its argument, handed to the new thread, which takes ownership.
struct ThreadStart {
  ThreadProc procedure;
  void* argument;
};

DWORD WINAPI ThreadEntry(LPVOID parameter) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  return start->procedure(start->argument);
}

HANDLE AsHandle(ThreadRef thread) { return reinterpret_cast<HANDLE>(thread); }

// 100 ns ticks from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ull;
constexpr std::uint64_t kTicksPerSecond = 10000000ull;

}  // namespace

ThreadRef Win32Threads::CreateSuspended(ThreadProc procedure, void* argument) {
  if (procedure == nullptr) return 0;
  auto start = std::make_unique<ThreadStart>(ThreadStart{procedure, argument});
  DWORD id = 0;
  // A new thread runs at normal priority unless told otherwise. Windows 98 wants
  // somewhere to write the id.
  HANDLE thread = ::CreateThread(nullptr, 0, ThreadEntry, start.get(), CREATE_SUSPENDED, &id);
  if (thread == nullptr) return 0;
  start.release();  // the thread owns it now
  return reinterpret_cast<ThreadRef>(thread);
}

bool Win32Threads::DuplicateHandle(ThreadRef thread, ThreadRef* duplicate) {
  HANDLE copy = nullptr;
  const HANDLE process = ::GetCurrentProcess();
  if (!::DuplicateHandle(process, AsHandle(thread), process, &copy, kThreadAllAccess, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return false;
  }
  *duplicate = reinterpret_cast<ThreadRef>(copy);
  return true;
}

std::uint32_t Win32Threads::ResumeThread(ThreadRef thread) {
  return ::ResumeThread(AsHandle(thread));
}

bool Win32Threads::GetExitCodeThread(ThreadRef handle, std::uint32_t* exitCode) {
  DWORD code = 0;
  if (!::GetExitCodeThread(AsHandle(handle), &code)) return false;
  *exitCode = code;
  return true;
}

void Win32Threads::CloseHandle(ThreadRef handle) {
  if (handle != 0) ::CloseHandle(AsHandle(handle));
}

void Win32Threads::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

// The same count as the runtime's time(), read from the system clock: time() in this
// 32-bit build is msvcrt's 32-bit one, which runs out in 2038.
std::int64_t Win32Threads::Time() {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<std::int64_t>((ticks - kUnixEpochTicks) / kTicksPerSecond);
}

}  // namespace qx
