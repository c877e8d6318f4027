// Drives that answer whatever the input says. The whole start-up (or the main dialog
// alone) runs over a pass-through port, or over an ASPI manager, whose every answer -
// status, sense, INQUIRY data, identify reply, short or refused transfers, requests
// that complete late or never - comes from the fuzz input. The seam aborts the moment
// a firmware data page reaches a drive that has not, in its latest answers, named our
// model, the image's revision family and the image's drive code.
//
// Input layout (every field reads as zero past the end of the input):
//   byte 0      run flags: bits 0-1 number of drives - 1 (at most 3), bit 2 code page
//               932, bit 3 the main dialog alone (no start-up, no drive check),
//               bits 4-5 the main dialog's script (see Script), bit 6 Windows 98: the
//               drives sit behind the ASPI manager instead of the pass-through port
//   ASPI only   two bytes (see AspiConfig)
//   per drive   address (pass-through: letter, mod 26; ASPI: adapter in bits 4-6,
//               target in bits 0-2), drive type (< 0x80 is CD-ROM, else its low 3
//               bits), capability answer (see DecodeCapabilities), 44 bytes of INQUIRY
//               data, 16 bytes of identify reply
//   then        one answer per request, in the order they are sent (see Answer);
//               once the input runs out every request is answered GOOD from the
//               drive's own data.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/UpdateApp.h"
#include "device/AspiRequest.h"
#include "device/Inquiry.h"
#include "device/PassThroughDevice.h"
#include "platform/PassThroughRequest.h"
#include "device/ScsiDevice.h"
#include "device/Sense.h"
#include "device/VendorPage.h"
#include "platform/AspiManager.h"
#include "platform/PassThroughPort.h"
#include "sim/SimMachine.h"
#include "ui/MainDialog.h"
#include "update/DownloadWorker.h"
#include "update/ImageTable.h"
#include "update/VersionCheck.h"

namespace {

using namespace qx;

constexpr std::size_t kInquirySize = inquiry::kAllocationLength;
constexpr std::size_t kReplySize = vendorpage::kIdentifyReplyLength;
constexpr std::size_t kSenseSize = passthrough::kSenseLength;
constexpr int kMaxDrives = 3;

constexpr std::uint8_t kOpInquiry = opcode::kInquiry;
constexpr std::uint8_t kOpReceiveDiagnostic = opcode::kReceiveDiagnosticResults;
constexpr std::uint8_t kOpSendDiagnostic = opcode::kSendDiagnostic;

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
  std::uint8_t Byte() { return pos < size ? data[pos++] : 0; }
  bool Exhausted() const { return pos >= size; }
  void Bytes(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = Byte();
  }

 private:
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
};

// The plain images as the worker must send them, to tell that a data page carries
// the chosen image, whole.
const std::vector<std::uint8_t>& PlainImage(int index) {
  static const std::array<std::vector<std::uint8_t>, kImageCount> plain = [] {
    std::array<std::vector<std::uint8_t>, kImageCount> images;
    const ImageTable& table = BuiltInImages();
    for (int i = 0; i < kImageCount; ++i) {
      images[i].assign(kImageSize, 0);
      Unscramble(table.Image(i).storedBytes, *table.unscrambleTable, images[i].data(), kImageSize);
    }
    return images;
  }();
  return plain[index];
}

bool Tracing() { return std::getenv("QX_FUZZ_TRACE") != nullptr; }

struct FuzzDrive {
  char letter = 'E';        // pass-through
  std::uint8_t adapter = 0;  // ASPI
  std::uint8_t target = 0;
  std::uint32_t driveType = passthrough::kDriveTypeCdrom;
  bool capabilitiesFail = false;
  std::uint32_t maxTransfer = 0x10000;
  std::uint8_t inquiry[kInquirySize] = {};
  std::uint8_t reply[kReplySize] = {};

  // What the program was last told by this drive: the data of its latest INQUIRY
  // (valid only when that INQUIRY succeeded) and the reply of an identify exchange
  // that followed it (valid only when both of its commands succeeded).
  bool inquiryValid = false;
  std::uint8_t lastInquiry[kInquirySize] = {};
  bool identifyPageTaken = false;
  bool replyValid = false;
  std::uint8_t lastReply[kReplySize] = {};

  std::string Name() const {
    char text[8];
    if (letter != 0) {
      std::snprintf(text, sizeof text, "%c:", letter);
    } else {
      std::snprintf(text, sizeof text, "%u:%u", adapter, target);
    }
    return text;
  }
};

// Capability answer byte: 0 and 1 the common 64 KiB, 2 a refused request, 3 zero,
// 4 a 4 KiB port, 5 exactly one data page, 6 one byte less, 7 far more than 128 KiB.
void DecodeCapabilities(std::uint8_t code, FuzzDrive* drive) {
  static const std::uint32_t kLimits[] = {0x10000, 0x10000, 0,       0,
                                          0x1000,  32776,   32775,   0x40000};
  drive->capabilitiesFail = (code & 7) == 2;
  drive->maxTransfer = kLimits[code & 7];
}

// What a drive answers to one request.
struct Answer {
  bool refused = false;          // pass-through: the port driver refuses it
  std::uint32_t error = 0;       // ...with this error
  std::uint8_t aspiStatus = 0;   // ASPI: the SRB_Status a refusal ends with
  std::uint8_t haStatus = 0;     // ASPI: SRB_HaStat of a refusal
  std::uint8_t status = 0;       // SCSI status
  bool haveSense = false;
  std::uint8_t sense[kSenseSize] = {};
  enum class Completion { Now, Late, Never } completion = Completion::Now;  // ASPI
  // A unit attention: the device layer sends the same command again at once.
  bool UnitAttention() const {
    return !refused && status != 0 && haveSense && sense::IsUnitAttention(sense::KeyOf(sense));
  }
};

// The drives, the answers the input gives them, the record of every command they
// got and the rule every data page is held to.
//
// Answer for one request: a control byte c, then what its action reads.
//   c & 7 = 0  GOOD with the drive's own data
//           1  CHECK CONDITION, fixed sense with key, ASC, ASCQ from the next 3 bytes
//           2  the next byte as SCSI status, no sense; the drive's data too when c & 8
//           3  GOOD, but only the first (next byte) bytes of the drive's data; when
//              c & 8 all of it, with the byte at (next byte) replaced by the one after
//           4  GOOD with (next byte) bytes of data taken from the input itself
//           5  refused: pass-through, the port driver fails the request with the next
//              byte as error; ASPI, the next two bytes are SRB_Status and SRB_HaStat
//           6  the next byte as status and the next 24 bytes as raw sense; data when c & 8
//           7  UNIT ATTENTION, power-on reset (29/00)
//   ASPI only: c & 0x10 the request is left pending and completes at the first wait;
//   c & 0x30 = 0x30 it never completes.
class Drives {
 public:
  Drives(Input& input, std::vector<FuzzDrive>& drives) : input(input), drives(drives) {}

  FuzzDrive* FindLetter(char letter) {
    for (FuzzDrive& drive : drives) {
      if (drive.letter == letter) return &drive;
    }
    return nullptr;
  }
  FuzzDrive* FindAddress(std::uint8_t adapter, std::uint8_t target) {
    for (FuzzDrive& drive : drives) {
      if (drive.letter == 0 && drive.adapter == adapter && drive.target == target) return &drive;
    }
    return nullptr;
  }

  // Holds the request to the rule, then decides the answer and puts the drive's data
  // into `data` (`length` bytes, what the request moves).
  Answer Take(FuzzDrive& drive, const std::uint8_t* cdb, std::uint8_t* data,
              std::uint32_t length) {
    Sent sent;
    sent.drive = drive.Name();
    std::memcpy(sent.cdb, cdb, sizeof sent.cdb);
    sent.length = length;
    if (data != nullptr) std::memcpy(sent.head, data, std::min<std::size_t>(length, 8));
    log.push_back(sent);

    const std::uint8_t opcode = cdb[0];
    if (opcode == kOpSendDiagnostic) CheckPage(drive, data, length);

    Answer answer;
    const std::uint8_t control = input.Exhausted() ? 0 : input.Byte();
    if ((control & 0x30) == 0x30) {
      answer.completion = Answer::Completion::Never;
    } else if (control & 0x10) {
      answer.completion = Answer::Completion::Late;
    }
    switch (control & 7) {
      case 0:
        PutOwnData(drive, opcode, data, length, length);
        break;
      case 1:
        answer.status = scsi::kStatusCheckCondition;
        answer.haveSense = true;
        answer.sense[0] = sense::kCurrentFixed;
        answer.sense[sense::kKeyOffset] = input.Byte();
        answer.sense[sense::kAdditionalLengthOffset] = 10;
        answer.sense[sense::kAscOffset] = input.Byte();
        answer.sense[sense::kAscqOffset] = input.Byte();
        break;
      case 2:
        answer.status = input.Byte();
        if (control & 8) PutOwnData(drive, opcode, data, length, length);
        break;
      case 3:
        if (control & 8) {
          // One byte of its own data otherwise: the drive changes a single answer.
          PutOwnData(drive, opcode, data, length, length);
          const std::uint8_t at = input.Byte();
          const std::uint8_t value = input.Byte();
          if (length != 0 && opcode != kOpSendDiagnostic) data[at % length] = value;
        } else {
          PutOwnData(drive, opcode, data, length, input.Byte());
        }
        break;
      case 4: {
        const std::size_t n = input.Byte();
        for (std::size_t i = 0; i < n; ++i) {
          const std::uint8_t b = input.Byte();
          if (i < length && opcode != kOpSendDiagnostic) data[i] = b;
        }
        break;
      }
      case 5:
        answer.refused = true;
        answer.error = input.Byte();
        answer.aspiStatus = static_cast<std::uint8_t>(answer.error);
        answer.haStatus = input.Byte();
        break;
      case 6:
        answer.status = input.Byte();
        answer.haveSense = true;
        input.Bytes(answer.sense, sizeof answer.sense);
        if (control & 8) PutOwnData(drive, opcode, data, length, length);
        break;
      case 7:
        answer.status = scsi::kStatusCheckCondition;
        answer.haveSense = true;
        answer.sense[0] = sense::kCurrentFixed;
        answer.sense[sense::kKeyOffset] = sense::kUnitAttention;
        answer.sense[sense::kAdditionalLengthOffset] = 10;
        answer.sense[sense::kAscOffset] = sense::kPowerOnReset.asc;
        break;
    }
    return answer;
  }

  // What the program now knows of the drive, once the request has ended as `good`
  // (what the transport reports to the program) with the data in `data`.
  void Finish(FuzzDrive& drive, const std::uint8_t* cdb, const std::uint8_t* data,
              std::uint32_t length, bool good, bool repeated) {
    if (!log.empty()) log.back().outcome = good ? "good" : repeated ? "unit attention" : "failed";
    switch (cdb[0]) {
      case kOpInquiry:
        drive.inquiryValid = good;
        std::memset(drive.lastInquiry, 0, sizeof drive.lastInquiry);
        if (good) std::memcpy(drive.lastInquiry, data, std::min<std::size_t>(length, kInquirySize));
        // An identify exchange counts only after the INQUIRY it belongs to.
        drive.identifyPageTaken = false;
        drive.replyValid = false;
        break;
      case kOpSendDiagnostic:
        if (length >= vendorpage::kHeaderSize && data[0] == vendorpage::kPageCode &&
            data[vendorpage::kFunctionOffset] == vendorpage::function::kIdentify) {
          drive.identifyPageTaken = good;
          drive.replyValid = false;
        }
        break;
      case kOpReceiveDiagnostic:
        drive.replyValid = good && drive.identifyPageTaken;
        // A unit attention is answered by sending the same request again: the
        // repeat's reply still answers the identify page.
        if (!repeated) drive.identifyPageTaken = false;
        std::memset(drive.lastReply, 0, sizeof drive.lastReply);
        if (drive.replyValid) {
          std::memcpy(drive.lastReply, data, std::min<std::size_t>(length, kReplySize));
        }
        break;
      default:
        break;
    }
  }

  void Print() const {
    for (const Sent& s : log) {
      std::fprintf(stderr, "%s %02X %02X %02X %02X %02X %02X len=%u", s.drive.c_str(), s.cdb[0],
                   s.cdb[1], s.cdb[2], s.cdb[3], s.cdb[4], s.cdb[5], s.length);
      if (s.cdb[0] == kOpSendDiagnostic) {
        std::fprintf(stderr, " param=");
        for (std::uint8_t b : s.head) std::fprintf(stderr, "%02X", b);
      }
      std::fprintf(stderr, " -> %s\n", s.outcome);
    }
    std::fprintf(stderr, "data pages: %d, image %d\n", dataPages, selectedImageIndex);
  }

  std::mutex mutex;  // the worker's commands come from its own thread

 private:
  struct Sent {
    std::string drive;
    std::uint8_t cdb[16];
    std::uint32_t length = 0;
    std::uint8_t head[8] = {};
    const char* outcome = "pending";
  };

  // The drive's own answer: its INQUIRY data or identify reply, `limit` bytes at most.
  static void PutOwnData(const FuzzDrive& drive, std::uint8_t opcode, std::uint8_t* data,
                         std::uint32_t length, std::uint32_t limit) {
    const std::uint8_t* source = nullptr;
    std::size_t size = 0;
    if (opcode == kOpInquiry) {
      source = drive.inquiry;
      size = sizeof drive.inquiry;
    } else if (opcode == kOpReceiveDiagnostic) {
      source = drive.reply;
      size = sizeof drive.reply;
    }
    const std::size_t n = std::min<std::size_t>({size, length, limit});
    if (n != 0) std::memcpy(data, source, n);
  }

  // The rule: a data page (function C0 with a page number) may reach only a drive
  // whose latest INQUIRY named our model and a revision of the image's generation and
  // family, and whose identify reply since then carried the image's drive code; and
  // the page must carry that image's bytes.
  void CheckPage(const FuzzDrive& drive, const std::uint8_t* data, std::uint32_t length) {
    using namespace vendorpage;
    if (length < kHeaderSize || data[0] != kPageCode || data[kFunctionOffset] != function::kData ||
        data[kArgumentOffset] == kClosing) {
      return;
    }
    ++dataPages;
    const int index = selectedImageIndex;
    if (index < 0 || index >= kImageCount) Violation(drive, "no image chosen");
    const FirmwareImage& image = BuiltInImages().Image(index);
    if (!drive.inquiryValid) Violation(drive, "its latest INQUIRY failed");
    if (std::memcmp(drive.lastInquiry + inquiry::kProductOffset, inquiry::kProduct,
                    inquiry::kProductLength) != 0) {
      Violation(drive, "its INQUIRY names another product");
    }
    // Revision "1" followed by the family: the generation and family the images are for.
    if (drive.lastInquiry[inquiry::kRevisionOffset] != '1' ||
        static_cast<char>(drive.lastInquiry[inquiry::kRevisionOffset + 1]) !=
            image.versionText[1]) {
      Violation(drive, "its revision is not of the image's generation and family");
    }
    if (!drive.replyValid) Violation(drive, "no identify reply since its INQUIRY");
    if (inquiry::FieldText(drive.lastReply + kDriveCodeOffset, kDriveCodeLength) !=
        image.driveCode) {
      Violation(drive, "its identify reply carries another drive code");
    }
    const int page = data[kArgumentOffset];
    if (page > image.blockCount || length != kHeaderSize + kPageDataSize) {
      Violation(drive, "a page that is not one of the image's");
    }
    if (std::memcmp(data + kHeaderSize, PlainImage(index).data() + (page - 1) * kPageDataSize,
                    kPageDataSize) != 0) {
      Violation(drive, "the page does not carry the chosen image");
    }
  }

  [[noreturn]] void Violation(const FuzzDrive& drive, const char* what) const {
    if (Tracing()) Print();
    std::fprintf(stderr, "drive_answers: data page sent to %s %s\n", drive.Name().c_str(), what);
    std::abort();
  }

  Input& input;
  std::vector<FuzzDrive>& drives;
  std::vector<Sent> log;
  int dataPages = 0;
};

class FuzzPort : public PassThroughPort {
 public:
  explicit FuzzPort(Drives& drives) : drives(drives) {}

  std::uint32_t GetDriveType(const char* rootName) override {
    FuzzDrive* drive = drives.FindLetter(rootName[0]);
    return drive == nullptr ? 1u : drive->driveType;
  }

  PortHandle Open(const char* path) override {
    const std::string text(path);
    if (text.size() != 6 || text.compare(0, 4, "\\\\.\\") != 0 || text[5] != ':') {
      lastError = 123;
      return kInvalidPortHandle;
    }
    if (text[4] == 0 || drives.FindLetter(text[4]) == nullptr) {
      lastError = 2;
      return kInvalidPortHandle;
    }
    return static_cast<PortHandle>(static_cast<unsigned char>(text[4]));
  }

  bool SendPassThrough(PortHandle handle, PassThroughRequest* block,
                       std::uint32_t* bytesReturned) override {
    std::lock_guard<std::mutex> lock(drives.mutex);
    FuzzDrive* drive = drives.FindLetter(static_cast<char>(handle));
    if (drive == nullptr) std::abort();  // a handle this port never gave out
    ScsiPassThroughDirect& spt = block->spt;
    auto* base = reinterpret_cast<std::uint8_t*>(block);
    auto* data = static_cast<std::uint8_t*>(spt.DataBuffer);
    const std::uint32_t length = spt.DataTransferLength;
    // The driver moves the data where the block says; outside the block is a fault.
    if (length != 0 && (data < block->staging || data + length > base + sizeof *block)) {
      std::abort();
    }
    const Answer answer = drives.Take(*drive, spt.Cdb, data, length);
    if (answer.refused) {
      lastError = answer.error;
    } else {
      spt.ScsiStatus = answer.status;
      if (answer.haveSense) {
        std::memcpy(base + spt.SenseInfoOffset, answer.sense,
                    std::min<std::size_t>(spt.SenseInfoLength, sizeof answer.sense));
      }
      if (bytesReturned != nullptr) *bytesReturned = sizeof *block;
    }
    drives.Finish(*drive, spt.Cdb, data, length, !answer.refused && answer.status == 0,
                  answer.UnitAttention());
    return !answer.refused;
  }

  bool GetCapabilities(PortHandle handle, IoScsiCapabilities* capabilities,
                       std::uint32_t* bytesReturned) override {
    FuzzDrive* drive = drives.FindLetter(static_cast<char>(handle));
    if (drive == nullptr) std::abort();
    if (drive->capabilitiesFail) {
      lastError = 1;
      return false;
    }
    capabilities->Length = sizeof *capabilities;
    capabilities->MaximumTransferLength = drive->maxTransfer;
    if (bytesReturned != nullptr) *bytesReturned = sizeof *capabilities;
    return true;
  }

  void Close(PortHandle) override {}
  std::uint32_t GetLastError() override { return lastError; }
  bool FormatMessage(std::uint32_t error, std::uint32_t size, std::string* text) override {
    // Some system texts fill the whole buffer.
    if ((error & 1) == 0 || size == 0) return false;
    text->assign(size, 'x');
    return true;
  }

 private:
  Drives& drives;
  std::uint32_t lastError = 0;
};

// ASPI configuration, two bytes:
//   c0: bits 0-3 the adapter count it reports, bit 4 GetASPI32SupportInfo reports a
//       failure, bit 5 the library is missing, bit 6 SendASPI32Command is missing,
//       bit 7 SC_ABORT_SRB is not honoured
//   c1: bits 0-2 the adapters' own SCSI id, bits 4-7 the first adapter whose host
//       adapter inquiry fails (none when at or above the count)
class FuzzAspi : public AspiManager {
 public:
  FuzzAspi(Drives& drives, std::uint8_t c0, std::uint8_t c1)
      : drives(drives),
        adapterCount(c0 & 0x0F),
        supportFails((c0 & 0x10) != 0),
        libraryMissing((c0 & 0x20) != 0),
        sendMissing((c0 & 0x40) != 0),
        abortIgnored((c0 & 0x80) != 0),
        ownId(c1 & 7),
        failingAdapter(c1 >> 4) {}

  AspiLoadResult Load() override {
    AspiLoadResult result;
    result.library = !libraryMissing;
    result.supportInfo = !libraryMissing;
    result.sendCommand = !libraryMissing && !sendMissing;
    return result;
  }
  void Unload() override {}
  std::uint32_t GetSupportInfo() override {
    return (supportFails ? 0xE8u : 0x01u) << 8 | adapterCount;
  }

  std::uint32_t SendCommand(void* block) override {
    std::lock_guard<std::mutex> lock(drives.mutex);
    auto* bytes = static_cast<std::uint8_t*>(block);
    switch (bytes[0]) {
      case aspi::kHostAdapterInquiry: {
        auto* inquiry = static_cast<SrbHaInquiry*>(block);
        if (inquiry->SRB_HaId >= adapterCount || inquiry->SRB_HaId >= failingAdapter) {
          inquiry->SRB_Status = 0x81;  // SS_INVALID_HA
          return inquiry->SRB_Status;
        }
        inquiry->HA_Count = adapterCount;
        inquiry->HA_SCSI_ID = ownId;
        inquiry->SRB_Status = aspi::kStatusComplete;
        return inquiry->SRB_Status;
      }
      case aspi::kExecScsiCmd:
        return Execute(*static_cast<SrbExecScsiCmd*>(block));
      case aspi::kAbortSrb: {
        auto* abort = static_cast<SrbAbort*>(block);
        auto it = pending.find(abort->SRB_ToAbort);
        if (it != pending.end() && !abortIgnored) {
          static_cast<SrbExecScsiCmd*>(it->first)->SRB_Status = 0x02;  // SS_ABORTED
          pending.erase(it);
        }
        abort->SRB_Status = aspi::kStatusComplete;
        return aspi::kStatusComplete;
      }
      default:
        bytes[1] = 0x80;  // SS_INVALID_CMD
        return 0x80;
    }
  }

  SysHandle CreateEvent() override { return ++nextEvent; }
  std::uint32_t WaitForSingleObject(SysHandle event, std::uint32_t milliseconds) override {
    std::lock_guard<std::mutex> lock(drives.mutex);
    for (auto it = pending.begin(); it != pending.end(); ++it) {
      if (it->second.event != event || it->second.never) continue;
      Complete(it->second);
      pending.erase(it);
      return aspiwin::kWaitObject0;
    }
    // Nothing will come: let the clock run so that the caller's time-out ends it.
    nowSeconds += milliseconds / 1000 + 60;
    return aspiwin::kWaitTimeout;
  }
  bool ResetEvent(SysHandle) override { return true; }
  bool CloseHandle(SysHandle) override { return true; }

  SysHandle GlobalAlloc(std::uint32_t, std::uint32_t bytes) override {
    const SysHandle handle = ++nextMemory;
    memory[handle].assign(bytes, 0);
    return handle;
  }
  void* GlobalLock(SysHandle handle) override {
    auto it = memory.find(handle);
    return it == memory.end() ? nullptr : it->second.data();
  }
  bool GlobalUnlock(SysHandle) override { return true; }
  SysHandle GlobalFree(SysHandle handle) override {
    memory.erase(handle);
    return 0;
  }
  bool PumpMessage() override { return false; }
  std::int64_t Time() override { return nowSeconds; }

 private:
  struct Pending {
    SrbExecScsiCmd* srb = nullptr;
    FuzzDrive* drive = nullptr;
    Answer answer;
    SysHandle event = 0;
    bool never = false;
  };

  std::uint32_t Execute(SrbExecScsiCmd& srb) {
    std::uint8_t* data = srb.SRB_BufPointer;
    const std::uint32_t length = srb.SRB_BufLen;
    // The data must lie in memory the manager was given.
    if (length != 0 && !InsideAllocation(data, length)) std::abort();
    FuzzDrive* drive = drives.FindAddress(srb.SRB_HaId, srb.SRB_Target);
    if (drive == nullptr) {
      srb.SRB_HaStat = 0x11;  // selection time-out
      srb.SRB_Status = 0x04;  // SS_ERR
      return srb.SRB_Status;
    }
    Pending request;
    request.srb = &srb;
    request.drive = drive;
    request.answer = drives.Take(*drive, srb.CDBByte, data, length);
    request.event = srb.SRB_PostProc;
    if (request.answer.completion == Answer::Completion::Now) {
      Complete(request);
      return srb.SRB_Status;
    }
    request.never = request.answer.completion == Answer::Completion::Never;
    if (request.never) {
      // The program can never take this one as done.
      drives.Finish(*drive, srb.CDBByte, data, length, false, false);
    }
    srb.SRB_Status = aspi::kStatusPending;
    pending[&srb] = request;
    return aspi::kStatusPending;
  }

  void Complete(Pending& request) {
    SrbExecScsiCmd& srb = *request.srb;
    const Answer& answer = request.answer;
    if (answer.refused) {
      srb.SRB_HaStat = answer.haStatus;
      srb.SRB_Status = answer.aspiStatus == aspi::kStatusPending ? 0x04 : answer.aspiStatus;
    } else {
      srb.SRB_TargStat = answer.status;
      if (answer.haveSense) {
        std::memcpy(srb.SenseArea, answer.sense,
                    std::min<std::size_t>(sizeof srb.SenseArea, sizeof answer.sense));
      }
      srb.SRB_Status = answer.status == 0 ? aspi::kStatusComplete : 0x04;
    }
    drives.Finish(*request.drive, srb.CDBByte, srb.SRB_BufPointer, srb.SRB_BufLen,
                  srb.SRB_Status == aspi::kStatusComplete, answer.UnitAttention());
  }

  bool InsideAllocation(const std::uint8_t* data, std::uint32_t length) const {
    for (const auto& entry : memory) {
      const std::uint8_t* start = entry.second.data();
      if (data >= start && data + length <= start + entry.second.size()) return true;
    }
    return false;
  }

  Drives& drives;
  std::uint8_t adapterCount;
  bool supportFails;
  bool libraryMissing;
  bool sendMissing;
  bool abortIgnored;
  std::uint8_t ownId;
  std::uint8_t failingAdapter;
  SysHandle nextEvent = 0;
  SysHandle nextMemory = 0x1000;
  std::map<SysHandle, std::vector<std::uint8_t>> memory;
  std::map<void*, Pending> pending;
  std::int64_t nowSeconds = 1133395200;
};

// The main dialog's script: bits 4-5 of the run flags.
//   0 press Update Start when enabled and wait for the outcome
//   1 pick the second drive first, then the same
//   2 pick the first drive again (a second selection check), then the same
//   3 press Update Start whatever its state, let the clock run, then CANCEL
MainScript Script(int variant) {
  switch (variant) {
    case 1:
      return {MainStep::Select(1), MainStep::UpdateIfEnabled()};
    case 2:
      return {MainStep::Select(0), MainStep::UpdateIfEnabled()};
    case 3:
      return {MainStep::Press(maindlg::kUpdateStartId), MainStep::RunUntilIdle(),
              MainStep::Press(maindlg::kCancelId)};
    default:
      return {MainStep::UpdateIfEnabled()};
  }
}

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\run";

void RunOnce(Input& input) {
  const std::uint8_t flags = input.Byte();
  const int driveCount = std::min((flags & 3) + 1, kMaxDrives);
  const bool japanese = (flags & 4) != 0;
  const bool dialogAlone = (flags & 8) != 0;
  const int scriptVariant = (flags >> 4) & 3;
  const bool viaAspi = (flags & 0x40) != 0;
  std::uint8_t aspiConfig[2] = {};
  if (viaAspi) input.Bytes(aspiConfig, sizeof aspiConfig);

  std::vector<FuzzDrive> list;
  for (int i = 0; i < driveCount; ++i) {
    FuzzDrive drive;
    const std::uint8_t address = input.Byte();
    if (viaAspi) {
      drive.letter = 0;
      drive.adapter = (address >> 4) & 7;
      drive.target = address & 7;
    } else {
      drive.letter = static_cast<char>('A' + address % 26);
    }
    const std::uint8_t type = input.Byte();
    drive.driveType = type < 0x80 ? passthrough::kDriveTypeCdrom : (type & 7);
    DecodeCapabilities(input.Byte(), &drive);
    input.Bytes(drive.inquiry, sizeof drive.inquiry);
    input.Bytes(drive.reply, sizeof drive.reply);
    bool taken = false;
    for (const FuzzDrive& other : list) {
      taken = taken || (viaAspi ? other.adapter == drive.adapter && other.target == drive.target
                                : other.letter == drive.letter);
    }
    if (!taken) list.push_back(drive);
  }

  // The fuzzed seams go before the machine: no worker may outlive them.
  Drives drives(input, list);
  FuzzPort port(drives);
  FuzzAspi manager(drives, aspiConfig[0], aspiConfig[1]);
  SimMachine machine;
  machine.platform.passThroughPort = &port;
  machine.platform.aspiManager = &manager;
  machine.platform.logFile = nullptr;
  machine.system.codePage = japanese ? 932 : 1252;
  if (viaAspi) machine.system.version = VersionInfo{4, 10, sys::kPlatformWindows};
  ScsiDevice& device = machine.Device();
  machine.mainView.SetProbeSessionEnd(false);
  machine.mainView.Queue(Script(scriptVariant));
  machine.registry.PutKey(reg::kCurrentUser, kRunKey);

  if (dialogAlone) {
    device.SetUsePassThrough(!viaAspi);
    MainDialog dialog(device, machine.clock, japanese ? Language::Japanese : Language::English);
    dialog.Show(machine.mainView);
    while (dialog.WorkerAlive()) machine.clock.Sleep(maindlg::kWorkerWaitPeriodMs);
  } else {
    UpdateApp app(machine.platform, device, machine.Views(), "qxupdate");
    app.InitInstance();
    app.ExitInstance();
  }
  machine.clock.WaitUntilIdle();
  if (Tracing()) drives.Print();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  RunOnce(input);
  return 0;
}
