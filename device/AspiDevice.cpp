#include "device/AspiDevice.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "device/Inquiry.h"
#include "device/StatusTexts.h"
#include "platform/AspiManager.h"
#include "text/TextCatalogue.h"

namespace qx {

namespace {

// The manager writes the status from its own context while we look.
std::uint8_t ReadStatus(const std::uint8_t& status) {
  return *static_cast<const volatile std::uint8_t*>(&status);
}

std::uint8_t FlagsFor(std::uint8_t opcodeByte) {
  switch (DirectionOf(opcodeByte)) {
    case DataDirection::Out:
      return aspi::kFlagEventNotify | aspi::kFlagDirOut;
    case DataDirection::In:
      return aspi::kFlagEventNotify | aspi::kFlagDirIn;
    default:
      return aspi::kFlagEventNotify;
  }
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[128];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

}  // namespace

AspiDevice::AspiDevice(const Platform& platform)
    : platform(platform), manager(platform.aspiManager) {
  VersionInfo version;
  if (platform.system == nullptr || !platform.system->GetVersion(&version)) {
    loadReport = "not loaded: the version query failed";
    ShowMessage(TextId::OsInfoError);
    return;
  }
  // The NT family reaches drives by pass-through; it needs no manager.
  if (version.platformId != sys::kPlatformWindows) {
    loadReport = "not used on the NT family";
    return;
  }
  if (manager == nullptr) {
    ShowMessage(TextId::AspiInitFail);
    return;
  }
  const AspiLoadResult found = manager->Load();
  libraryLoaded = found.library;
  if (!found.library || !found.supportInfo) {
    loadReport = found.library ? "wnaspi32.dll has no GetASPI32SupportInfo"
                               : "wnaspi32.dll could not be loaded";
    ShowMessage(TextId::AspiInitFail);
    return;
  }
  const std::uint32_t support = manager->GetSupportInfo();
  if (aspi::SupportStatus(support) != aspi::kStatusComplete) {
    loadReport = Format("wnaspi32.dll loaded, but GetASPI32SupportInfo answered status %02X",
                        aspi::SupportStatus(support));
    ShowMessage(TextId::AspiInitFail);
    return;
  }
  hostAdapterCount = aspi::SupportAdapterCount(support);
  if (!found.sendCommand) {
    loadReport = "wnaspi32.dll has no SendASPI32Command";
    ShowMessage(TextId::AspiInitFail);
    return;
  }
  loaded = true;
  loadReport = Format("wnaspi32.dll loaded, %d host adapter(s)", hostAdapterCount);
}

AspiDevice::~AspiDevice() {
  ReclaimAbandoned();
  // Requests the manager still holds keep their memory: the process is ending, and
  // freeing it under the manager would be worse than leaking it.
  if (libraryLoaded) manager->Unload();
}

void AspiDevice::ShowMessage(TextId id) {
  if (platform.system == nullptr) return;
  const Language language = TextLanguage(platform.system);
  platform.system->MessageBox(0, Text(id, language), Text(TextId::Caption, language),
                              sys::kMbOk);
}

CommandStatus AspiDevice::ExecuteOnce(std::uint8_t* cdb, std::uint8_t length,
                                      std::uint32_t timeoutSeconds) {
  ReclaimAbandoned();
  const CommandStatus result = Execute(cdb, length, timeoutSeconds);
  if (result != status::kGood) ComposeMessage(result);
  return result;
}

CommandStatus AspiDevice::Execute(const std::uint8_t* cdb, std::uint8_t length,
                                  std::uint32_t timeoutSeconds) {
  if (!loaded) return status::kNotInitialised;
  // An address from a malformed entry must not index past the in-use table.
  if (hostAdapterNumber >= aspi::kMaxAdapters) return status::kInvalidHostAdapter;
  if (targetId >= aspi::kMaxTargets) return status::kNoDevice;
  if (length == 0 || length > sizeof(SrbExecScsiCmd{}.CDBByte)) return status::kInvalidSrb;
  if (transferLength > 0 && transferBuffer == nullptr) return status::kInvalidSrb;
  if (transferLength > aspi::kMaxTransferLength) return status::kBufferTooBig;

  // Another command (from the worker, or re-entered) may change the address while
  // this one waits; the in-use entry is the one this request set.
  const std::uint8_t adapter = hostAdapterNumber;
  const std::uint8_t target = targetId;
  const InUseScope busy(inUse[adapter][target]);
  if (!busy.Taken()) return status::kInUse;

  Request request;
  request.event = manager->CreateEvent();
  if (request.event == 0) return status::kInUse;
  request.memory = manager->GlobalAlloc(aspiwin::kGmemMoveableZeroInit, sizeof(AspiExecRequest));
  if (request.memory != 0) {
    request.block = static_cast<AspiExecRequest*>(manager->GlobalLock(request.memory));
    if (request.block == nullptr) manager->GlobalFree(request.memory);
  }
  if (request.block == nullptr) {
    manager->CloseHandle(request.event);
    return status::kNoMemory;
  }

  std::uint8_t* data = AlignedDataStart(request.block->staging);
  if (transferLength > 0) std::memcpy(data, transferBuffer, transferLength);

  SrbExecScsiCmd& srb = request.block->srb;
  srb.SRB_Cmd = aspi::kExecScsiCmd;
  srb.SRB_HaId = adapter;
  srb.SRB_Flags = FlagsFor(cdb[0]);
  srb.SRB_Target = target;
  srb.SRB_Lun = lun;
  srb.SRB_BufLen = transferLength;
  srb.SRB_BufPointer = data;
  srb.SRB_SenseLen = aspi::kSenseLength;
  srb.SRB_CDBLen = length;
  srb.SRB_PostProc = request.event;
  std::memcpy(srb.CDBByte, cdb, length);

  const std::uint32_t sent = manager->SendCommand(&srb);
  const std::int64_t start = manager->Time();
  const bool pending = (sent & 0xFF) == aspi::kStatusPending;
  if (pending) WaitForCompletion(request.event, nullptr, start, timeoutSeconds, false);

  CommandStatus result = ReadStatus(srb.SRB_Status);
  // A manager that refuses at once may say so only in its return value.
  if (!pending && result == aspi::kStatusPending) result = static_cast<CommandStatus>(sent);
  hostAdapterStatus = srb.SRB_HaStat;
  targetStatus = srb.SRB_TargStat;
  senseLength = sense::LengthOf(srb.SenseArea);
  std::memcpy(senseRecord.bytes, srb.SenseArea, sizeof senseRecord.bytes);

  if (pending && result == status::kPending && !Withdraw(request)) {
    // The manager may still write the block, the staging area and signal the event:
    // none of them may be freed or reused until it lets go of the request.
    abandoned.push_back(request);
    return result;
  }
  if (transferLength > 0) std::memcpy(transferBuffer, data, transferLength);
  Release(request);
  return result;
}

bool AspiDevice::WaitForCompletion(SysHandle event, const std::uint8_t* status,
                                   std::int64_t start, std::uint32_t timeoutSeconds,
                                   bool pumpMessages) {
  // Sleeping on the event, a slice at a time, leaves the processor to everyone else
  // and still ends within a slice of the time-out.
  for (;;) {
    if (status != nullptr && ReadStatus(*status) != aspi::kStatusPending) return true;
    const std::int64_t elapsed = manager->Time() - start;
    if (elapsed >= static_cast<std::int64_t>(timeoutSeconds)) break;
    const std::int64_t remainingMs = (static_cast<std::int64_t>(timeoutSeconds) - elapsed) * 1000;
    const std::uint32_t slice =
        static_cast<std::uint32_t>(std::min<std::int64_t>(remainingMs, kWaitSliceMs));
    if (manager->WaitForSingleObject(event, slice) == aspiwin::kWaitObject0) {
      manager->ResetEvent(event);
      return true;
    }
    if (pumpMessages) {
      // What queued up during the slice; bounded, so that a flood of messages
      // cannot hold the wait past its time-out.
      for (int passes = 0; passes < kPumpPassesPerSlice && manager->PumpMessage(); ++passes) {
      }
    }
  }
  return status != nullptr && ReadStatus(*status) != aspi::kStatusPending;
}

bool AspiDevice::Withdraw(Request& request) {
  SrbExecScsiCmd& srb = request.block->srb;
  SrbAbort abort = {};
  abort.SRB_Cmd = aspi::kAbortSrb;
  abort.SRB_HaId = srb.SRB_HaId;
  abort.SRB_ToAbort = &srb;
  manager->SendCommand(&abort);
  for (std::uint32_t waited = 0; ReadStatus(srb.SRB_Status) == aspi::kStatusPending &&
                                 waited < kAbortGraceMs;
       waited += kWaitSliceMs) {
    manager->WaitForSingleObject(request.event, kWaitSliceMs);
  }
  return ReadStatus(srb.SRB_Status) != aspi::kStatusPending;
}

void AspiDevice::Release(Request& request) {
  manager->GlobalUnlock(request.memory);
  manager->GlobalFree(request.memory);
  manager->CloseHandle(request.event);
  request = Request();
}

void AspiDevice::ReclaimAbandoned() {
  for (auto it = abandoned.begin(); it != abandoned.end();) {
    if (ReadStatus(it->block->srb.SRB_Status) == aspi::kStatusPending) {
      ++it;
      continue;
    }
    Release(*it);
    it = abandoned.erase(it);
  }
  for (auto it = abandonedInquiries.begin(); it != abandonedInquiries.end();) {
    if (ReadStatus(it->block->SRB_Status) == aspi::kStatusPending) {
      ++it;
    } else {
      it = abandonedInquiries.erase(it);
    }
  }
}

void AspiDevice::ComposeMessage(CommandStatus result) {
  const Language language = TextLanguage(platform.system);
  std::string text = commandName + Text(TextId::StatusLabel, language);
  TextId id = TextId::AspiOtherStatus;
  switch (result) {
    case status::kError: lastMessage = text + ErrorDetail(language); return;
    case status::kPending: id = TextId::AspiTimeout; break;
    case status::kAborted: id = TextId::AspiAborted; break;
    case status::kAbortFailed: id = TextId::AspiAbortFailed; break;
    case status::kInvalidHostAdapter: id = TextId::AspiInvalidHa; break;
    case status::kNoDevice: id = TextId::NoDevice; break;
    case status::kInvalidSrb: id = TextId::AspiInvalidSrb; break;
    case status::kNotInitialised: id = TextId::AspiNotInitialised; break;
    case status::kBusy: id = TextId::AspiBusy; break;
    case status::kInUse: id = TextId::AspiTargetBusy; break;
    case status::kNoMemory: id = TextId::AspiNoMemory; break;
    case status::kDataCompareError: id = TextId::AspiDataCompare; break;
    default:
      lastMessage = text + Text(id, language);
      if (platform.system != nullptr) ShowAspiStatus(*platform.system, result);
      return;
  }
  lastMessage = text + Text(id, language);
}

std::string AspiDevice::ErrorDetail(Language language) const {
  if (hostAdapterStatus != 0) return HostAdapterStatusText(hostAdapterStatus);
  if (targetStatus == 0) return Text(TextId::ScsiError, language);
  std::string text = TargetStatusText(targetStatus, TargetTable::Aspi);
  // Only 14 sense bytes come back here, so the sense key stands in the last place.
  if (targetStatus == scsi::kStatusCheckCondition) {
    text += Format(" %02X-%02X (%02X)", senseRecord.Asc(), senseRecord.Ascq(),
                   senseRecord.SenseKey());
  }
  return text;
}

CommandStatus AspiDevice::HostAdapterInquiry(std::uint8_t adapter, HostAdapterInfo* info) {
  if (!inquiryBlock) inquiryBlock.reset(new SrbHaInquiry());
  SrbHaInquiry& block = *inquiryBlock;
  block = SrbHaInquiry();
  block.SRB_Cmd = aspi::kHostAdapterInquiry;
  block.SRB_HaId = adapter;
  if (!loaded) return status::kNotInitialised;

  ReclaimAbandoned();
  // The inquiry has no completion event of its own: the wait sleeps on this one,
  // which nothing signals.
  struct SleepEvent {
    AspiManager& manager;
    SysHandle handle;
    ~SleepEvent() {
      if (handle != 0) manager.CloseHandle(handle);
    }
  } sleepEvent{*manager, manager->CreateEvent()};
  if (sleepEvent.handle == 0) return status::kInUse;
  const std::uint32_t sent = manager->SendCommand(&block);
  const std::int64_t start = manager->Time();
  if ((sent & 0xFF) != aspi::kStatusPending) {
    // Finished or refused at once. A manager that refuses may say so only in its
    // return value and leave SRB_Status at 0: waiting for it would wait for nothing.
    const CommandStatus answered = ReadStatus(block.SRB_Status);
    if (answered == aspi::kStatusPending) return static_cast<CommandStatus>(sent);
  } else {
    // The inquiry is answered from the manager's tables and signals nothing; sleep
    // in slices and look at its status between them, keeping the window alive.
    WaitForCompletion(sleepEvent.handle, &block.SRB_Status, start, kHostAdapterInquirySeconds,
                      true);
  }

  if (ReadStatus(block.SRB_Status) == aspi::kStatusPending) {
    SrbAbort abort = {};
    abort.SRB_Cmd = aspi::kAbortSrb;
    abort.SRB_HaId = adapter;
    abort.SRB_ToAbort = &block;
    manager->SendCommand(&abort);
    if (ReadStatus(block.SRB_Status) == aspi::kStatusPending) {
      // Still the manager's: the next inquiry gets a block of its own.
      abandonedInquiries.push_back(AbandonedInquiry{std::move(inquiryBlock)});
      return status::kPending;
    }
  }
  const CommandStatus result = ReadStatus(block.SRB_Status);
  if (result == status::kGood && info != nullptr) {
    info->scsiId = block.HA_SCSI_ID;
    std::memcpy(info->managerId, block.HA_ManagerId, sizeof info->managerId);
    std::memcpy(info->identifier, block.HA_Identifier, sizeof info->identifier);
    std::memcpy(info->unique, block.HA_Unique, sizeof info->unique);
  }
  return result;
}

std::uint8_t AspiDevice::ScanDrives() {
  scanNotes.clear();
  if (!loaded) {
    scanNotes.push_back("no drive looked at: the ASPI manager is " + loadReport);
    return 0;
  }
  entryCount = 0;
  // The tables hold 7 adapters; a manager that reports more gets the first 7 looked at.
  const int adapters = std::min<int>(hostAdapterCount, aspi::kMaxAdapters);
  for (int adapter = 0; adapter < adapters; ++adapter) {
    HostAdapterInfo info;
    const CommandStatus inquired = HostAdapterInquiry(static_cast<std::uint8_t>(adapter), &info);
    if (inquired != status::kGood) {
      scanNotes.push_back(Format("host adapter %d: its inquiry answered status %02X; the scan "
                                 "ends here", adapter, inquired));
      break;
    }
    for (std::uint8_t target = 0; target < aspi::kMaxTargets; ++target) {
      if (target == info.scsiId) continue;  // the adapter itself
      hostAdapterNumber = static_cast<std::uint8_t>(adapter);
      targetId = target;
      lun = 0;

      // Clears a pending unit attention that would otherwise fail the INQUIRY.
      TestUnitReady();
      std::memset(scanBuffer, 0, sizeof scanBuffer);
      SetBuffer(scanBuffer, inquiry::kAllocationLength);
      std::uint8_t cdb[6] = {opcode::kInquiry, 0, 0, 0, inquiry::kAllocationLength, 0};
      SetCommandName("Inquiry");
      const CommandStatus result = ExecuteCdb6(cdb, kDiscoveryInquirySeconds);

      std::string text;
      if (result == status::kGood &&
          inquiry::IsOpticalType(scanBuffer[inquiry::kDeviceTypeOffset])) {
        text = inquiry::FieldText(scanBuffer + inquiry::kVendorOffset,
                                  inquiry::kDescriptionLength);
      }
      // Vendor, product and revision as the list shows them: the product starts where
      // it does in the INQUIRY data only when nothing before it ended early.
      const std::string description =
          Format("%16.28s", text.c_str()).substr(0, inquiry::kDescriptionLength);
      constexpr std::size_t kProductInDescription = inquiry::kVendorLength;
      if (result == status::kGood &&
          description.size() >= kProductInDescription + inquiry::kProductLength &&
          description.compare(kProductInDescription, inquiry::kProductLength, inquiry::kProduct) ==
              0) {
        entries[entryCount] = Format("%d:%d: %s", adapter, target, description.c_str());
        ++entryCount;
        scanNotes.push_back(Format("%d:%d: listed", adapter, target));
      } else if (result != status::kGood) {
        scanNotes.push_back(Format("%d:%d: no answer to INQUIRY (status %02X, host adapter "
                                   "status %02X, target status %02X)",
                                   adapter, target, result, hostAdapterStatus, targetStatus));
      } else if (!inquiry::IsOpticalType(scanBuffer[inquiry::kDeviceTypeOffset])) {
        scanNotes.push_back(Format("%d:%d: peripheral device type %d, not a CD or DVD device",
                                   adapter, target,
                                   scanBuffer[inquiry::kDeviceTypeOffset] & 0x1F));
      } else {
        scanNotes.push_back(Format("%d:%d: \"%s\", not the target model", adapter, target,
                                   description.c_str()));
      }
    }
  }
  return entryCount;
}

std::string AspiDevice::GetDriveEntry(int index) const {
  if (index < 0 || index >= kDriveSlots) return std::string();
  return entries[index];
}

void AspiDevice::SelectDrive(std::uint8_t index) {
  const std::string entry = GetDriveEntry(index);
  // An empty or malformed entry gives an address outside the tables, which every
  // command then refuses.
  hostAdapterNumber = entry.size() > 0 ? static_cast<std::uint8_t>(entry[0] - '0') : 0xFF;
  targetId = entry.size() > 2 ? static_cast<std::uint8_t>(entry[2] - '0') : 0xFF;
  lun = 0;
}

}  // namespace qx
