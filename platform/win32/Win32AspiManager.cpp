#include "platform/win32/Win32Api.h"
// Our seam names the event call after the system's; keep the macro from renaming it.
#undef CreateEvent

#include "platform/win32/Win32AspiManager.h"

#include <ctime>

namespace qx {

namespace {
HMODULE Module(void* library) { return static_cast<HMODULE>(library); }
HANDLE Handle(SysHandle handle) { return reinterpret_cast<HANDLE>(handle); }
HGLOBAL Memory(SysHandle handle) { return reinterpret_cast<HGLOBAL>(handle); }
}  // namespace

Win32AspiManager::~Win32AspiManager() { Unload(); }

AspiLoadResult Win32AspiManager::Load() {
  AspiLoadResult result;
  if (library == nullptr) library = LoadLibraryA("wnaspi32.dll");
  if (library == nullptr) return result;
  result.library = true;
  // The exports are plain C functions; the casts go through FARPROC's generic form.
  supportInfo = reinterpret_cast<SupportInfoProc>(
      reinterpret_cast<void*>(GetProcAddress(Module(library), "GetASPI32SupportInfo")));
  sendCommand = reinterpret_cast<SendCommandProc>(
      reinterpret_cast<void*>(GetProcAddress(Module(library), "SendASPI32Command")));
  result.supportInfo = supportInfo != nullptr;
  result.sendCommand = sendCommand != nullptr;
  return result;
}

void Win32AspiManager::Unload() {
  if (library == nullptr) return;
  FreeLibrary(Module(library));
  library = nullptr;
  supportInfo = nullptr;
  sendCommand = nullptr;
}

std::uint32_t Win32AspiManager::GetSupportInfo() {
  return supportInfo != nullptr ? static_cast<std::uint32_t>(supportInfo()) : 0;
}

std::uint32_t Win32AspiManager::SendCommand(void* srb) {
  // 0xE4: what the manager itself answers before it is initialised.
  return sendCommand != nullptr ? static_cast<std::uint32_t>(sendCommand(srb)) : 0xE4;
}

SysHandle Win32AspiManager::CreateEvent() {
  return reinterpret_cast<SysHandle>(CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

std::uint32_t Win32AspiManager::WaitForSingleObject(SysHandle event, std::uint32_t milliseconds) {
  return ::WaitForSingleObject(Handle(event), milliseconds);
}

bool Win32AspiManager::ResetEvent(SysHandle event) { return ::ResetEvent(Handle(event)) != FALSE; }

bool Win32AspiManager::CloseHandle(SysHandle event) { return ::CloseHandle(Handle(event)) != FALSE; }

SysHandle Win32AspiManager::GlobalAlloc(std::uint32_t flags, std::uint32_t bytes) {
  return reinterpret_cast<SysHandle>(::GlobalAlloc(flags, bytes));
}

void* Win32AspiManager::GlobalLock(SysHandle memory) { return ::GlobalLock(Memory(memory)); }

bool Win32AspiManager::GlobalUnlock(SysHandle memory) {
  return ::GlobalUnlock(Memory(memory)) != FALSE;
}

SysHandle Win32AspiManager::GlobalFree(SysHandle memory) {
  return reinterpret_cast<SysHandle>(::GlobalFree(Memory(memory)));
}

bool Win32AspiManager::PumpMessage() {
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  TranslateMessage(&message);
  DispatchMessageA(&message);
  return true;
}

std::int64_t Win32AspiManager::Time() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace qx
