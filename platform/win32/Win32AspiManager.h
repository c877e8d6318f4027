#pragma once
// The real ASPI manager: "wnaspi32.dll" and the kernel and user calls its requests need.
#include "platform/AspiManager.h"

namespace qx {

class Win32AspiManager : public AspiManager {
 public:
  Win32AspiManager() = default;
  ~Win32AspiManager() override;
  Win32AspiManager(const Win32AspiManager&) = delete;
  Win32AspiManager& operator=(const Win32AspiManager&) = delete;

  AspiLoadResult Load() override;
  void Unload() override;
  std::uint32_t GetSupportInfo() override;
  std::uint32_t SendCommand(void* srb) override;
  SysHandle CreateEvent() override;
  std::uint32_t WaitForSingleObject(SysHandle event, std::uint32_t milliseconds) override;
  bool ResetEvent(SysHandle event) override;
  bool CloseHandle(SysHandle event) override;
  SysHandle GlobalAlloc(std::uint32_t flags, std::uint32_t bytes) override;
  void* GlobalLock(SysHandle memory) override;
  bool GlobalUnlock(SysHandle memory) override;
  SysHandle GlobalFree(SysHandle memory) override;
  bool PumpMessage() override;
  std::int64_t Time() override;

 private:
  using SupportInfoProc = unsigned long(__cdecl*)();
  using SendCommandProc = unsigned long(__cdecl*)(void*);

  void* library = nullptr;  // HMODULE
  SupportInfoProc supportInfo = nullptr;
  SendCommandProc sendCommand = nullptr;
};

}  // namespace qx
