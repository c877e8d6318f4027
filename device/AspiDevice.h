#pragma once
// The ASPI transport (Windows 95/98/ME): every command goes to the ASPI manager as
// a request block in locked memory with its own staging area and completion event.
// On the NT family the object loads nothing and every command answers 0xE4.
//
// The loaded manager, the adapter count, the in-use table and the drive list belong
// to the object rather than to the module: the program has exactly one, inside the
// device facade, and tests get a fresh manager with every object.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/AspiRequest.h"
#include "device/Inquiry.h"
#include "device/ScsiTransport.h"
#include "platform/Platform.h"
#include "platform/System.h"
#include "text/TextCatalogue.h"

namespace qx {

// What a host adapter inquiry hands out.
struct HostAdapterInfo {
  std::uint8_t scsiId = 0;
  std::uint8_t managerId[16] = {};
  std::uint8_t identifier[16] = {};
  std::uint8_t unique[16] = {};
};

class AspiDevice : public ScsiTransport {
 public:
  static constexpr int kDriveSlots = aspi::kMaxAdapters * aspi::kMaxTargets;  // 49
  // How long ExecuteOnce sleeps on the completion event at a time, so that the
  // whole-second time-out is still noticed promptly.
  static constexpr std::uint32_t kWaitSliceMs = 100;
  // How long a withdrawn request gets to acknowledge the withdrawal.
  static constexpr std::uint32_t kAbortGraceMs = 2000;
  // How long a command of the update may take before it is given up.
  static constexpr std::uint32_t kCommandTimeoutSeconds = 3600;
  static constexpr std::uint32_t kHostAdapterInquirySeconds = 10;
  // Window messages dispatched after each slice of the inquiry's wait, at most.
  static constexpr int kPumpPassesPerSlice = 64;
  static constexpr std::uint32_t kDiscoveryInquirySeconds = 10;

  // Loads the manager on Windows 95/98/ME; tells the user by message box when the
  // system or the manager cannot be used.
  explicit AspiDevice(const Platform& platform);
  ~AspiDevice() override;
  AspiDevice(const AspiDevice&) = delete;
  AspiDevice& operator=(const AspiDevice&) = delete;

  // Lists every drive behind the manager's adapters (at most 7) whose INQUIRY product
  // is the target model; returns the count. 0 and the list untouched without a manager.
  std::uint8_t ScanDrives() override;
  // A copy of entry `index`; empty for an index outside the list.
  std::string GetDriveEntry(int index) const override;
  // Takes adapter and target from the entry's text; LUN 0.
  void SelectDrive(std::uint8_t index) override;
  // The manager's final SRB_Status (0x00 when still pending at the time-out), or the
  // transport's own refusals: 0xE4 no manager, 0xFD in use or no event, 0xFE no
  // memory, 0xE6 more data than the staging area holds, 0x81/0x82 an address outside
  // the tables. Any result but 0x01 rewrites lastMessage.
  CommandStatus ExecuteOnce(std::uint8_t* cdb, std::uint8_t length,
                            std::uint32_t timeoutSeconds) override;

  // SRB_Status of the inquiry (0x01 when `info` was filled), or what
  // SendASPI32Command refused it with at once; 0xE4 without a manager, 0x00 when it
  // did not complete within 10 s, 0xFD when no event could be made to wait on.
  CommandStatus HostAdapterInquiry(std::uint8_t adapter, HostAdapterInfo* info);

  bool Loaded() const { return loaded; }
  // Whether the manager loaded and how many host adapters it reported, or what
  // stopped it, for the update log.
  const std::string& LoadReport() const { return loadReport; }
  int HostAdapterCount() const { return hostAdapterCount; }
  std::uint8_t HostAdapterNumber() const { return hostAdapterNumber; }
  std::uint8_t TargetId() const { return targetId; }
  std::uint8_t HostAdapterStatus() const { return hostAdapterStatus; }
  std::uint8_t TargetStatus() const { return targetStatus; }
  std::uint32_t SenseLength() const { return senseLength; }
  // Every drive gets at most what one staging area holds.
  static constexpr std::uint32_t MaxTransferLength() { return aspi::kMaxTransferLength; }
  // Requests the manager never gave back; their memory is left to it.
  std::size_t AbandonedRequests() const { return abandoned.size(); }

 protected:
  std::uint32_t CommandTimeout() const override { return kCommandTimeoutSeconds; }
  void SetCommandName(const std::string& name) override { commandName = name; }

 private:
  // A request block with its staging area, in locked global memory.
  struct Request {
    SysHandle memory = 0;
    AspiExecRequest* block = nullptr;
    SysHandle event = 0;
  };
  // An inquiry block the manager never completed.
  struct AbandonedInquiry {
    std::unique_ptr<SrbHaInquiry> block;
  };

  CommandStatus Execute(const std::uint8_t* cdb, std::uint8_t length, std::uint32_t timeoutSeconds);
  // Sleeps on `event` a slice at a time until it is signalled, `status` (when given)
  // leaves SS_PENDING, or `timeoutSeconds` whole seconds have passed since `start`;
  // with `pumpMessages` the thread's window messages are dispatched between slices.
  // True when the request completed.
  bool WaitForCompletion(SysHandle event, const std::uint8_t* status, std::int64_t start,
                         std::uint32_t timeoutSeconds, bool pumpMessages);
  bool Withdraw(Request& request);
  void Release(Request& request);
  void ReclaimAbandoned();
  void ComposeMessage(CommandStatus result);
  std::string ErrorDetail(Language language) const;
  // A message box of the catalogue's text, in the system's language.
  void ShowMessage(TextId id);

  Platform platform;
  AspiManager* manager = nullptr;
  bool libraryLoaded = false;
  bool loaded = false;
  int hostAdapterCount = 0;
  std::string loadReport = "not loaded";
  std::uint8_t hostAdapterNumber = 0;
  std::uint8_t targetId = 0;

  int inUse[aspi::kMaxAdapters][aspi::kMaxTargets] = {};
  std::array<std::string, kDriveSlots> entries;
  std::uint8_t entryCount = 0;
  // The scan's INQUIRY data; a member so the transfer buffer never dangles after a scan.
  std::uint8_t scanBuffer[inquiry::kAllocationLength] = {};
  std::unique_ptr<SrbHaInquiry> inquiryBlock;
  std::vector<Request> abandoned;
  std::vector<AbandonedInquiry> abandonedInquiries;
};

}  // namespace qx
