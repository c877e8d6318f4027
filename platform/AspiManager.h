#pragma once
#include <cstdint>

#include "platform/System.h"

namespace qx {

namespace aspiwin {
constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 0x102;
constexpr std::uint32_t kGmemMoveableZeroInit = 0x42;  // GMEM_MOVEABLE | GMEM_ZEROINIT
}  // namespace aspiwin

// Which parts of "wnaspi32.dll" were found.
struct AspiLoadResult {
  bool library = false;      // LoadLibraryA succeeded
  bool supportInfo = false;  // "GetASPI32SupportInfo" found
  bool sendCommand = false;  // "SendASPI32Command" found
};

// The ASPI manager and the few system calls its requests need: events, locked
// global memory, one pass of the message pump and the clock. Thin: the system's
// own results. The simulated side runs on a clock it controls.
class AspiManager {
 public:
  virtual ~AspiManager() = default;

  // LoadLibraryA("wnaspi32.dll"), then GetProcAddress for both entry points.
  virtual AspiLoadResult Load() = 0;
  // FreeLibrary, when Load found the library.
  virtual void Unload() = 0;
  // GetASPI32SupportInfo(); only after Load found it.
  virtual std::uint32_t GetSupportInfo() = 0;
  // SendASPI32Command(block): SS_PENDING (0) while the request is under way.
  virtual std::uint32_t SendCommand(void* srb) = 0;

  // CreateEventA(no attributes, auto-reset, not signalled, no name); 0 on failure.
  virtual SysHandle CreateEvent() = 0;
  // WaitForSingleObject: kWaitObject0 when signalled, kWaitTimeout otherwise.
  virtual std::uint32_t WaitForSingleObject(SysHandle event, std::uint32_t milliseconds) = 0;
  virtual bool ResetEvent(SysHandle event) = 0;
  virtual bool CloseHandle(SysHandle event) = 0;

  // GlobalAlloc / GlobalLock / GlobalUnlock / GlobalFree; 0 or null on failure.
  virtual SysHandle GlobalAlloc(std::uint32_t flags, std::uint32_t bytes) = 0;
  virtual void* GlobalLock(SysHandle memory) = 0;
  virtual bool GlobalUnlock(SysHandle memory) = 0;
  virtual SysHandle GlobalFree(SysHandle memory) = 0;

  // PeekMessageA(any window, all messages, PM_REMOVE) and, if one came,
  // TranslateMessage and DispatchMessageA. True when a message was dispatched.
  virtual bool PumpMessage() = 0;
  // The C runtime's time(): whole seconds.
  virtual std::int64_t Time() = 0;
};

}  // namespace qx
