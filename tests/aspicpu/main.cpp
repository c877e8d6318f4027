// aspicpu.exe: how much processor time the ASPI transport spends while one command
// takes five seconds to complete. It loads "wnaspi32.dll" through the real manager
// seam (under Wine: the simulated one beside it, told to answer the command after a
// 5000 ms delay), runs the command through AspiDevice and reads its own user and
// kernel time around it. Exit 0 when that time is under a tenth of the wait.
//
//   aspicpu [--spin]   --spin polls the request's event with a zero time-out
//                      instead, and exits 0 when the measurement shows that busy
//                      wait over the limit. Under Wine most of such a poll is
//                      spent in the wine server, another process, so it shows as
//                      part of the wait rather than all of it.
// A busy wait gets only the share of a processor the machine gives it: on a loaded
// machine it shows as less. So each run also measures that share with a busy loop of
// its own, before and after: the busy wait is judged by what it would show with a
// whole processor, and where the share is too small for a busy wait to show at all,
// a run that cannot tell says so and counts as skipped (exit 77).
//   aspicpu --inquiry  measures a whole drive scan instead, over an adapter whose
//                      host adapter inquiry takes five seconds to complete (no
//                      event: the transport has to wait for its status); exit 0
//                      when the scan's processor time is at most 2 % of it.
// Needs Windows 95/98/ME, or Wine in that mode: on the NT family nothing is loaded.
#include "platform/win32/Win32Api.h"
#undef CreateEvent

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "device/AspiDevice.h"
#include "device/AspiRequest.h"
#include "platform/Platform.h"
#include "platform/win32/Win32AspiManager.h"
#include "platform/win32/Win32System.h"

namespace {

constexpr std::uint32_t kDelayMs = 5000;
constexpr double kLimit = 0.10;
constexpr double kInquiryLimit = 0.02;
// Below this share the measurement cannot be trusted: each poll waits for the wine
// server to be scheduled too, so the polled wait falls faster than the share (40 % of
// the wait at a 60 % share, 12 % at 32 %, 1.4 % at 23 %).
constexpr double kLeastShare = 0.4;
constexpr int kSkipped = 77;

std::uint64_t ProcessTime100ns() {
  FILETIME creation, exit, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return 0;
  const auto value = [](const FILETIME& t) {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return value(kernel) + value(user);
}

// The share of a processor a busy thread of this process gets now: processor time
// over wall time while it counts for half a second.
double ProcessorShare() {
  const std::uint64_t cpuBefore = ProcessTime100ns();
  const DWORD wallBefore = GetTickCount();
  volatile std::uint32_t sink = 0;
  while (GetTickCount() - wallBefore < 500) {
    for (std::uint32_t i = 0; i < 100000; ++i) sink = sink + i;
  }
  const DWORD wallMs = GetTickCount() - wallBefore;
  return static_cast<double>(ProcessTime100ns() - cpuBefore) / 10000.0 / wallMs;
}

// Says whether a wait measured where a busy thread gets SHARE of a processor means
// anything.
bool Measurable(double share) {
  if (share >= kLeastShare) return true;
  std::printf("aspicpu: skipped: the machine is too busy to tell a real wait from a busy one "
              "(a busy thread got %.0f %% of a processor, %.0f %% needed)\n",
              share * 100.0, kLeastShare * 100.0);
  return false;
}

std::string BesideProgram(const char* name) {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length);
  const std::size_t slash = folder.find_last_of("\\/");
  folder.erase(slash == std::string::npos ? 0 : slash + 1);
  return folder + name;
}

// The busy wait the transport must not do: the same command, polled.
int Spin(qx::AspiManager& manager, std::uint8_t* status) {
  qx::SrbExecScsiCmd block;
  std::memset(&block, 0, sizeof block);
  std::uint8_t data[44] = {};
  const qx::SysHandle event = manager.CreateEvent();
  block.SRB_Cmd = qx::aspi::kExecScsiCmd;
  block.SRB_HaId = 1;
  block.SRB_Flags = qx::aspi::kFlagEventNotify | qx::aspi::kFlagDirIn;
  block.SRB_BufLen = sizeof data;
  block.SRB_BufPointer = data;
  block.SRB_SenseLen = qx::aspi::kSenseLength;
  block.SRB_CDBLen = 6;
  block.SRB_PostProc = event;
  block.CDBByte[0] = 0x12;
  block.CDBByte[4] = sizeof data;
  if (manager.SendCommand(&block) == qx::aspi::kStatusPending) {
    while (manager.WaitForSingleObject(event, 0) != qx::aspiwin::kWaitObject0) {
    }
  }
  manager.CloseHandle(event);
  *status = block.SRB_Status;
  return 0;
}

// The scan over an adapter whose inquiry answers after kDelayMs.
int MeasureInquiry(qx::AspiDevice& device) {
  const double shareBefore = ProcessorShare();
  const std::uint64_t cpuBefore = ProcessTime100ns();
  const DWORD wallBefore = GetTickCount();
  const int drives = device.ScanDrives();
  const DWORD wallMs = GetTickCount() - wallBefore;
  const double cpuMs = static_cast<double>(ProcessTime100ns() - cpuBefore) / 10000.0;
  const double fraction = wallMs > 0 ? cpuMs / wallMs : 1.0;
  std::printf("wait: a scan whose host adapter inquiry takes %lu ms; %d drive(s) found\n",
              static_cast<unsigned long>(kDelayMs), drives);
  std::printf("wall time: %lu ms\n", static_cast<unsigned long>(wallMs));
  std::printf("processor time (user + kernel): %.1f ms\n", cpuMs);
  std::printf("fraction: %.2f %% (limit %.0f %%)\n", fraction * 100.0, kInquiryLimit * 100.0);
  if (drives != 1 || wallMs + 100 < kDelayMs) {
    std::printf("aspicpu: the scan did not wait out the inquiry and find the drive\n");
    return 1;
  }
  if (fraction > kInquiryLimit) return 1;
  const double share = (shareBefore + ProcessorShare()) / 2;
  std::printf("share of a processor a busy thread got: %.0f %%\n", share * 100.0);
  return Measurable(share) ? 0 : kSkipped;
}

}  // namespace

int main(int argc, char** argv) {
  const bool spin = argc > 1 && std::strcmp(argv[1], "--spin") == 0;
  const bool inquiry = argc > 1 && std::strcmp(argv[1], "--inquiry") == 0;

  // The manager reads its drives and delays when it is loaded. For a command the
  // scan's INQUIRY is the drive's first and the measured one its second.
  const std::string state = BesideProgram("aspicpu-drives.ini");
  if (inquiry) {
    std::ofstream(state) << "[1:0]\n";
    SetEnvironmentVariableA("QXASPI_INQUIRY_DELAY_MS", std::to_string(kDelayMs).c_str());
  } else {
    std::ofstream(state) << "[1:0]\nfault = inquiry:nth=2:delay=" << kDelayMs << "\n";
  }
  SetEnvironmentVariableA("QXASPI_STATE", state.c_str());

  qx::Win32System system;
  qx::Win32AspiManager manager;
  qx::Platform platform;
  platform.system = &system;
  platform.aspiManager = &manager;
  qx::AspiDevice device(platform);
  if (!device.Loaded()) {
    std::printf("aspicpu: no ASPI manager loaded (not Windows 95/98/ME mode, or no wnaspi32.dll)\n");
    return 2;
  }
  if (inquiry) return MeasureInquiry(device);
  if (device.ScanDrives() < 1) {
    std::printf("aspicpu: no drive found behind the manager's adapters\n");
    return 2;
  }
  std::printf("drive: %s\n", device.GetDriveEntry(0).c_str());
  device.SelectDrive(0);

  std::uint8_t data[44] = {};
  std::uint8_t cdb[6] = {0x12, 0, 0, 0, sizeof data, 0};
  const double shareBefore = ProcessorShare();
  const std::uint64_t cpuBefore = ProcessTime100ns();
  const DWORD wallBefore = GetTickCount();
  std::uint8_t status = 0;
  if (spin) {
    Spin(manager, &status);
  } else {
    device.SetBuffer(data, sizeof data);
    status = static_cast<std::uint8_t>(device.ExecuteOnce(cdb, sizeof cdb, 30));
  }
  const DWORD wallMs = GetTickCount() - wallBefore;
  const double cpuMs = static_cast<double>(ProcessTime100ns() - cpuBefore) / 10000.0;
  const double fraction = wallMs > 0 ? cpuMs / wallMs : 1.0;

  std::printf("wait: %s, status 0x%02X\n", spin ? "polled with a zero time-out" : "AspiDevice", status);
  std::printf("wall time: %lu ms\n", static_cast<unsigned long>(wallMs));
  std::printf("processor time (user + kernel): %.1f ms\n", cpuMs);
  std::printf("fraction: %.2f %% (limit %.0f %%)\n", fraction * 100.0, kLimit * 100.0);
  if (status != qx::aspi::kStatusComplete || wallMs + 100 < kDelayMs) {
    std::printf("aspicpu: the command did not take its %lu ms and succeed\n",
                static_cast<unsigned long>(kDelayMs));
    return 1;
  }
  const double share = (shareBefore + ProcessorShare()) / 2;
  std::printf("share of a processor a busy thread got: %.0f %%\n", share * 100.0);
  if (spin) {
    const double whole = share > 0 ? fraction / share : fraction;
    std::printf("fraction with a whole processor: %.2f %%\n", whole * 100.0);
    if (whole >= kLimit) return 0;
    return Measurable(share) ? 1 : kSkipped;
  }
  if (fraction >= kLimit) return 1;
  return Measurable(share) ? 0 : kSkipped;
}
