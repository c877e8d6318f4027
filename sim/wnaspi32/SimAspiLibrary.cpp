// wnaspi32.dll over simulated drives, so that a program under Wine's Windows 98 mode
// talks to a drive through the ASPI manager's two entry points for real.
//
// The drives come from a state file (sim/SimStateFile.h) beside the DLL, named after
// it ("wnaspi32.ini"), or from the file QXASPI_STATE names. Sections "adapter:target"
// ("1:0") are drives; other sections are kept but not used. A missing file gives one
// drive behind adapter 1, target 0, and is written out. The drives' state goes back
// to the file after every command that changed it, so a drive updated before a
// restart still has its new revision afterwards. Every command is also appended to
// the log beside the state file ("wnaspi32.log").
//
// A command request runs on the drive at once, but its outcome is handed back by a
// thread of this library after the drive's delay (a "delay=MS" fault): the caller
// really waits on its completion event, and a "hang" fault never completes until
// SC_ABORT_SRB withdraws it. Each such thread holds a reference on the library, so
// a caller that frees it with a request outstanding does not pull the code from
// under the thread. The host adapter inquiry is answered at once unless
// QXASPI_INQUIRY_DELAY_MS names a delay: it then stays pending that long, as an
// adapter that has to be woken first does, and completes without an event (the
// inquiry has none).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "device/AspiRequest.h"
#include "sim/SimAspiExchange.h"
#include "sim/SimDrive.h"
#include "sim/SimStateFile.h"

namespace qx {
namespace {

constexpr std::uint8_t kStatusAborted = 0x02;       // SS_ABORTED
constexpr std::uint8_t kStatusInvalidAdapter = 0x81;
constexpr std::uint8_t kStatusInvalidSrb = 0xE0;
constexpr std::uint8_t kStatusNotInitialised = 0xE4;
constexpr std::uint8_t kAdapterScsiId = 7;

void PutText(std::uint8_t* field, const char* text) {
  std::memset(field, ' ', 16);
  std::memcpy(field, text, std::min<std::size_t>(std::strlen(text), 16));
}

bool ParseAddress(const std::string& address, std::uint8_t* adapter, std::uint8_t* target) {
  unsigned a = 0, t = 0;
  char tail = 0;
  if (std::sscanf(address.c_str(), "%u:%u%c", &a, &t, &tail) != 2 || a > 255 || t > 255) return false;
  *adapter = static_cast<std::uint8_t>(a);
  *target = static_cast<std::uint8_t>(t);
  return true;
}

// The outcome of one pending command, written to its block when it falls due.
struct Completion {
  SrbExecScsiCmd* block = nullptr;
  HANDLE wake = nullptr;   // set by SC_ABORT_SRB
  HANDLE notify = nullptr; // the caller's event, when it asked for one
  DWORD delayMs = 0;
  bool never = false;
  bool withdrawn = false;
  std::uint8_t status = 0;
  std::uint8_t hostAdapterStatus = 0;
  std::uint8_t targetStatus = 0;
  std::vector<std::uint8_t> sense;
  std::vector<std::uint8_t> data;  // copied to the caller's buffer: commands that read
};

// A host adapter inquiry answered late (QXASPI_INQUIRY_DELAY_MS).
struct SlowInquiry {
  SrbHaInquiry* block;
  DWORD delayMs;
};

struct Drive {
  std::size_t entry = 0;  // index into Library::entries
  std::uint8_t adapter = 0;
  std::uint8_t target = 0;
  std::unique_ptr<SimDrive> drive;
};

class Library {
 public:
  Library() { InitializeCriticalSection(&lock); }
  ~Library() { DeleteCriticalSection(&lock); }

  void SetModule(HMODULE module) { dllModule = module; }
  DWORD SupportInfo();
  DWORD Send(void* block);

 private:
  class Guard {
   public:
    explicit Guard(CRITICAL_SECTION& section) : heldSection(section) { EnterCriticalSection(&heldSection); }
    ~Guard() { LeaveCriticalSection(&heldSection); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    CRITICAL_SECTION& heldSection;
  };

  void InitialiseLocked();
  DWORD HostAdapterInquiry(SrbHaInquiry& srb);
  DWORD Execute(SrbExecScsiCmd& srb);
  DWORD Abort(SrbAbort& srb);
  void Deliver(Completion& completion);
  void SaveIfChanged();
  void Log(const std::string& line);
  static DWORD WINAPI CompletionThread(void* parameter);
  static DWORD WINAPI InquiryThread(void* parameter);

  CRITICAL_SECTION lock;
  HMODULE dllModule = nullptr;
  std::string modulePath;
  bool initialised = false;
  std::string initError;
  std::string statePath;
  std::string logPath;
  std::vector<SimDriveEntry> entries;
  std::vector<Drive> drives;
  std::uint8_t adapterCount = 0;
  DWORD inquiryDelayMs = 0;
  std::string savedState;
  std::list<Completion*> pendingCompletions;
};

Library g_library;

void Library::InitialiseLocked() {
  if (initialised) return;
  initialised = true;
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(dllModule, path, sizeof path);
  modulePath.assign(path, length < sizeof path ? length : 0);

  // The process's own environment, not the C runtime's copy of it, so a program may
  // choose the file just before it loads us.
  char chosen[MAX_PATH] = {};
  const DWORD chosenLength = GetEnvironmentVariableA("QXASPI_STATE", chosen, sizeof chosen);
  if (chosenLength > 0 && chosenLength < sizeof chosen) {
    statePath = chosen;
  } else {
    statePath = modulePath;
    const std::size_t dot = statePath.find_last_of('.');
    const std::size_t slash = statePath.find_last_of("\\/");
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) statePath.erase(dot);
    statePath += ".ini";
  }
  char delay[16] = {};
  const DWORD delayLength = GetEnvironmentVariableA("QXASPI_INQUIRY_DELAY_MS", delay, sizeof delay);
  if (delayLength > 0 && delayLength < sizeof delay) inquiryDelayMs = std::strtoul(delay, nullptr, 10);
  logPath = statePath;
  const std::size_t dot = logPath.find_last_of('.');
  const std::size_t slash = logPath.find_last_of("\\/");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) logPath.erase(dot);
  logPath += ".log";

  if (GetFileAttributesA(statePath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    SimDriveEntry drive;
    drive.address = "1:0";
    entries.push_back(drive);
  } else if (!LoadSimStateFile(statePath, &entries, &initError)) {
    Log("init: " + initError);
    return;
  }

  adapterCount = 1;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    Drive drive;
    if (!ParseAddress(entries[i].address, &drive.adapter, &drive.target)) continue;
    if (drive.adapter >= aspi::kMaxAdapters * 2 || drive.target >= 16) {
      initError = "drive " + entries[i].address + ": no such adapter or target";
      Log("init: " + initError);
      return;
    }
    drive.entry = i;
    drive.drive.reset(new SimDrive(entries[i].config));
    if (!drive.drive->ConfigError().empty()) {
      initError = "drive " + entries[i].address + ": " + drive.drive->ConfigError();
      Log("init: " + initError);
      return;
    }
    adapterCount = std::max<std::uint8_t>(adapterCount, drive.adapter + 1);
    drives.push_back(std::move(drive));
  }
  // A fresh file is written at once, so it can be edited; a loaded one is rewritten
  // only once a drive changes.
  if (GetFileAttributesA(statePath.c_str()) != INVALID_FILE_ATTRIBUTES) savedState = FormatSimState(entries);
  SaveIfChanged();
}

DWORD Library::SupportInfo() {
  Guard guard(lock);
  InitialiseLocked();
  if (!initError.empty()) return DWORD(kStatusNotInitialised) << 8;
  return (DWORD(aspi::kStatusComplete) << 8) | adapterCount;
}

DWORD Library::Send(void* block) {
  if (block == nullptr) return kStatusInvalidSrb;
  Guard guard(lock);
  InitialiseLocked();
  std::uint8_t* bytes = static_cast<std::uint8_t*>(block);
  if (!initError.empty()) return bytes[1] = kStatusNotInitialised;
  switch (bytes[0]) {
    case aspi::kHostAdapterInquiry:
      return HostAdapterInquiry(*static_cast<SrbHaInquiry*>(block));
    case aspi::kExecScsiCmd:
      return Execute(*static_cast<SrbExecScsiCmd*>(block));
    case aspi::kAbortSrb:
      return Abort(*static_cast<SrbAbort*>(block));
    default:
      return bytes[1] = kStatusInvalidSrb;
  }
}

DWORD Library::HostAdapterInquiry(SrbHaInquiry& srb) {
  if (srb.SRB_HaId >= adapterCount) return srb.SRB_Status = kStatusInvalidAdapter;
  srb.HA_Count = adapterCount;
  srb.HA_SCSI_ID = kAdapterScsiId;
  PutText(srb.HA_ManagerId, "QX SIM MANAGER");
  PutText(srb.HA_Identifier, "QX SIM ADAPTER");
  std::memset(srb.HA_Unique, 0, sizeof srb.HA_Unique);
  srb.HA_Rsvd1 = 0;
  if (inquiryDelayMs == 0) return srb.SRB_Status = aspi::kStatusComplete;
  // The status is written by a thread of ours once the delay has passed; it holds a
  // reference on the library meanwhile.
  const HMODULE reference = LoadLibraryA(modulePath.c_str());
  std::unique_ptr<SlowInquiry> slow(new SlowInquiry{&srb, inquiryDelayMs});
  srb.SRB_Status = aspi::kStatusPending;
  HANDLE thread = reference != nullptr
                      ? CreateThread(nullptr, 0, &Library::InquiryThread, slow.get(), 0, nullptr)
                      : nullptr;
  if (thread == nullptr) {
    if (reference != nullptr) FreeLibrary(reference);
    return srb.SRB_Status = aspi::kStatusComplete;
  }
  slow.release();
  CloseHandle(thread);
  Log("inquiry " + std::to_string(srb.SRB_HaId) + " pending " + std::to_string(inquiryDelayMs) +
      " ms");
  return aspi::kStatusPending;
}

DWORD WINAPI Library::InquiryThread(void* parameter) {
  SlowInquiry* slow = static_cast<SlowInquiry*>(parameter);
  Sleep(slow->delayMs);
  HMODULE module = g_library.dllModule;
  MemoryBarrier();
  *static_cast<volatile std::uint8_t*>(&slow->block->SRB_Status) = aspi::kStatusComplete;
  delete slow;
  FreeLibraryAndExitThread(module, 0);
  return 0;
}

DWORD Library::Execute(SrbExecScsiCmd& srb) {
  if (srb.SRB_HaId >= adapterCount) return srb.SRB_Status = kStatusInvalidAdapter;
  if (srb.SRB_CDBLen == 0 || srb.SRB_CDBLen > sizeof srb.CDBByte) return srb.SRB_Status = kStatusInvalidSrb;
  if (srb.SRB_BufLen > 0 && srb.SRB_BufPointer == nullptr) return srb.SRB_Status = kStatusInvalidSrb;

  std::unique_ptr<Completion> completion(new Completion);
  completion->block = &srb;
  if (srb.SRB_Flags & aspi::kFlagEventNotify) completion->notify = reinterpret_cast<HANDLE>(srb.SRB_PostProc);

  char address[16];
  std::snprintf(address, sizeof address, "%u:%u", srb.SRB_HaId, srb.SRB_Target);
  const auto found = std::find_if(drives.begin(), drives.end(), [&](const Drive& d) {
    return d.adapter == srb.SRB_HaId && d.target == srb.SRB_Target;
  });
  SimDrive* drive =
      found == drives.end() || srb.SRB_Target == kAdapterScsiId ? nullptr : found->drive.get();
  std::vector<std::uint8_t> data(srb.SRB_BufPointer, srb.SRB_BufPointer + srb.SRB_BufLen);
  if (drive != nullptr) drive->ClearLog();
  SimAspiExchange exchange = ExchangeAspiCommand(srb, drive, data.data());
  if (exchange.invalid) return srb.SRB_Status = exchange.status;
  completion->status = exchange.status;
  completion->hostAdapterStatus = exchange.hostAdapterStatus;
  completion->targetStatus = exchange.targetStatus;
  completion->sense = std::move(exchange.sense);
  completion->never = !exchange.completes;
  completion->delayMs = exchange.delayMs;
  if (drive != nullptr && !drive->Log().empty()) {
    Log(std::string(address) + " " + FormatSimCommand(drive->Log().back()));
    if (!(srb.SRB_Flags & aspi::kFlagDirOut)) completion->data = std::move(data);
    entries[found->entry].config = drive->CurrentConfig();
    SaveIfChanged();
  }

  // The outcome is handed back from a thread of ours, which keeps the library loaded
  // for as long as it may still write into the caller's block.
  completion->wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const HMODULE reference = LoadLibraryA(modulePath.c_str());
  HANDLE thread = nullptr;
  if (completion->wake != nullptr && reference != nullptr) {
    srb.SRB_Status = aspi::kStatusPending;
    thread = CreateThread(nullptr, 0, &Library::CompletionThread, completion.get(), 0, nullptr);
  }
  if (thread == nullptr) {
    // No thread to wait on: finish now, as a manager that completes at once would.
    if (reference != nullptr) FreeLibrary(reference);
    if (completion->wake != nullptr) CloseHandle(completion->wake);
    if (completion->never) return srb.SRB_Status = kStatusAborted;
    completion->notify = nullptr;
    Deliver(*completion);
    return srb.SRB_Status;
  }
  CloseHandle(thread);
  pendingCompletions.push_back(completion.release());
  return aspi::kStatusPending;
}

DWORD Library::Abort(SrbAbort& srb) {
  const auto found = std::find_if(pendingCompletions.begin(), pendingCompletions.end(), [&](const Completion* c) {
    return c->block == srb.SRB_ToAbort && !c->withdrawn;
  });
  if (found == pendingCompletions.end()) return srb.SRB_Status = kStatusInvalidSrb;
  Completion& completion = **found;
  completion.withdrawn = true;
  completion.status = kStatusAborted;
  completion.hostAdapterStatus = 0;
  completion.targetStatus = 0;
  completion.sense.clear();
  completion.data.clear();  // nothing reaches the caller's buffer
  Deliver(completion);
  SetEvent(completion.wake);
  Log("abort");
  return srb.SRB_Status = aspi::kStatusComplete;
}

void Library::Deliver(Completion& completion) {
  SrbExecScsiCmd& srb = *completion.block;
  srb.SRB_HaStat = completion.hostAdapterStatus;
  srb.SRB_TargStat = completion.targetStatus;
  std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
  if (!completion.sense.empty()) std::memcpy(srb.SenseArea, completion.sense.data(), completion.sense.size());
  if (!completion.data.empty()) std::memcpy(srb.SRB_BufPointer, completion.data.data(), completion.data.size());
  // The status goes last, so a caller polling it finds everything else in place.
  MemoryBarrier();
  *static_cast<volatile std::uint8_t*>(&srb.SRB_Status) = completion.status;
  if (completion.notify != nullptr) SetEvent(completion.notify);
}

DWORD WINAPI Library::CompletionThread(void* parameter) {
  Completion* completion = static_cast<Completion*>(parameter);
  WaitForSingleObject(completion->wake, completion->never ? INFINITE : completion->delayMs);
  Library& library = g_library;
  HMODULE module = library.dllModule;
  {
    Guard guard(library.lock);
    if (!completion->withdrawn) library.Deliver(*completion);
    library.pendingCompletions.remove(completion);
  }
  CloseHandle(completion->wake);
  delete completion;
  FreeLibraryAndExitThread(module, 0);
  return 0;
}

void Library::SaveIfChanged() {
  const std::string text = FormatSimState(entries);
  if (text == savedState) return;
  std::string why;
  if (!SaveSimStateFile(statePath, entries, &why)) {
    Log("save: " + why);
    return;
  }
  savedState = text;
}

void Library::Log(const std::string& line) {
  if (logPath.empty()) return;
  if (std::FILE* file = std::fopen(logPath.c_str(), "a")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

}  // namespace
}  // namespace qx

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    qx::g_library.SetModule(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

DWORD __cdecl GetASPI32SupportInfo(void) { return qx::g_library.SupportInfo(); }

DWORD __cdecl SendASPI32Command(void* srb) { return qx::g_library.Send(srb); }

}  // extern "C"
