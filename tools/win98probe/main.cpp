// win98probe: a small GUI program built like the product (static runtime, the Win32
// seams, the core, the resources), so the import check has a real program to read
// before the utility itself links. Run it and it goes through the calls once: exit 0
// when every one answered sensibly, otherwise the number of the first that did not.
// "--message" also shows the caption in a message box.
#include "platform/win32/Win32Api.h"

#include <cstring>
#include <string>

#include "platform/win32/AnsiText.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/Win32Threads.h"
#include "res/resource.h"
#include "text/TextCatalogue.h"

namespace {

std::uint32_t Worker(void* argument) {
  return *static_cast<std::uint32_t*>(argument);
}

int Probe(bool showMessage) {
  qx::Win32System system;
  qx::Win32Threads threads;

  qx::VersionInfo version;
  if (!system.GetVersion(&version)) return 1;
  if (version.platformId != qx::sys::kPlatformWindows && version.platformId != qx::sys::kPlatformNt) {
    return 2;
  }
  std::uint8_t acLine = 0xEE;
  if (!system.GetPowerStatus(&acLine)) return 3;

  char path[1020];
  if (system.GetModuleFileName(path, sizeof path) == 0) return 4;

  std::uint32_t lastError = 0;
  const qx::SysHandle mutex = system.CreateMutex("QXPROBE", &lastError);
  if (mutex == 0) return 5;
  system.ReleaseMutex(mutex);
  system.CloseHandle(mutex);

  std::uint32_t active = 0;
  if (!system.GetScreenSaverActive(&active)) return 6;

  const qx::Language language = qx::LanguageFor(system.CodePage());
  const std::string caption = qx::ToAnsi(qx::Text(qx::TextId::Caption, language));
  if (caption.empty()) return 7;

  char about[64] = {};
  if (::LoadStringA(::GetModuleHandleA(nullptr), IDS_ABOUTBOX, about, sizeof about) <= 0 ||
      std::strcmp(about, "&About Corvell...") != 0) {
    return 8;
  }

  std::uint32_t expected = 42;
  const qx::ThreadRef thread = threads.CreateSuspended(Worker, &expected);
  if (thread == 0) return 9;
  qx::ThreadRef duplicate = 0;
  if (!threads.DuplicateHandle(thread, &duplicate)) return 10;
  if (threads.ResumeThread(thread) != 1) return 11;
  std::uint32_t exitCode = qx::thread::kStillActive;
  for (int i = 0; i < 500 && exitCode == qx::thread::kStillActive; ++i) {
    threads.Sleep(10);
    if (!threads.GetExitCodeThread(duplicate, &exitCode)) return 12;
  }
  threads.CloseHandle(duplicate);
  threads.CloseHandle(thread);
  if (exitCode != expected) return 13;
  if (threads.Time() < 1000000000) return 14;

  if (showMessage) {
    system.MessageBox(0, qx::Text(qx::TextId::Caption, language),
                      qx::Text(qx::TextId::Caption, language), qx::sys::kMbOk);
  }
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  return Probe(commandLine != nullptr && std::strstr(commandLine, "--message") != nullptr);
}
