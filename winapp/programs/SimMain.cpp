// qxupdate-sim.exe: the utility over simulated drives described by the file beside it
// (qxupdate-sim.ini, the simulated drives' state-file format), with its fixed waits
// and its timer shortened. For the tests under Wine and the demo; never shipped.
#include "platform/win32/Win32Api.h"

#include <cstdlib>
#include <string>

#include "platform/Forwarding.h"
#include "platform/win32/Win32AspiManager.h"
#include "platform/win32/Win32PassThroughPort.h"
#include "winapp/Win32Program.h"
#include "platform/win32/Win32Threads.h"
#include "sim/PersistentSimPort.h"
#include "sim/ScaledThreads.h"

namespace {

// The waits run this many times faster unless QXSIM_SCALE says otherwise: the worker's
// 127.5 s of sleeps take about three seconds, the 3 s timer 75 ms.
constexpr std::uint32_t kDefaultScale = 40;

std::uint32_t ScaleFromEnvironment() {
  const char* text = std::getenv("QXSIM_SCALE");
  if (text == nullptr || *text == '\0') return kDefaultScale;
  const long value = std::strtol(text, nullptr, 10);
  return value >= 1 && value <= 100000 ? static_cast<std::uint32_t>(value) : kDefaultScale;
}

std::string StatePath() {
  std::string path = qx::ModulePath();
  const std::size_t dot = path.find_last_of('.');
  const std::size_t slash = path.find_last_of("\\/");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.erase(dot);
  return path + ".ini";
}

// The simulated drives stand in for the hardware only: a refused request is
// described by the system's own message table, in the system's language, as the
// product's would be.
class SystemTextsPort : public qx::ForwardingPassThroughPort {
 public:
  using ForwardingPassThroughPort::ForwardingPassThroughPort;
  bool FormatMessage(std::uint32_t error, std::uint32_t size, std::string* text) override {
    ownError = !systemPort.FormatMessage(error, size, text);
    if (ownError) ownErrorCode = systemPort.GetLastError();
    return !ownError;
  }
  std::uint32_t GetLastError() override { return ownError ? ownErrorCode : inner.GetLastError(); }
  qx::PortHandle Open(const char* path) override {
    ownError = false;
    return inner.Open(path);
  }
  bool SendPassThrough(qx::PortHandle handle, qx::PassThroughRequest* block,
                       std::uint32_t* bytesReturned) override {
    ownError = false;
    return inner.SendPassThrough(handle, block, bytesReturned);
  }

 private:
  qx::Win32PassThroughPort systemPort;
  bool ownError = false;
  std::uint32_t ownErrorCode = 0;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::uint32_t scale = ScaleFromEnvironment();
  qx::Win32Threads realThreads;
  qx::ScaledThreads threads(realThreads, scale);

  qx::PersistentSimPort port(StatePath());
  if (!port.Ok()) {
    const std::string text = "qxupdate-sim: " + StatePath() + ": " + port.Error();
    ::MessageBoxA(nullptr, text.c_str(), "qxupdate-sim", MB_OK | MB_ICONERROR);
    return 3;
  }
  port.SetSleepHook([&threads](std::uint32_t ms) { threads.Sleep(ms); });

  // On Windows 95/98/ME the drives are reached through "wnaspi32.dll": under Wine the
  // simulated one beside this program (sim/wnaspi32), with drives of its own.
  qx::Win32AspiManager aspi;

  qx::ProgramParts parts;
  SystemTextsPort texts(port);
  parts.passThroughPort = &texts;
  parts.aspiManager = &aspi;
  parts.threads = &threads;
  parts.timerDivisor = scale;
  const int code = qx::RunUpdateProgram(parts);
  port.SaveIfChanged();
  return code;
}
