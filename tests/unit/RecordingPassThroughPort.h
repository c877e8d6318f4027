#pragma once
// A pass-through port for the device tests: drives by letter, each answering from a
// script or with its INQUIRY data, and a record of every call the device makes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/PassThroughRequest.h"
#include "platform/PassThroughPort.h"
#include "platform/host/HostSystem.h"
#include "platform/System.h"

namespace qx {
namespace devicetest {

// What the port does with one pass-through request.
struct Answer {
  bool refuse = false;           // DeviceIoControl fails with `error`
  std::uint32_t error = 0;
  std::uint8_t scsiStatus = 0;   // written to ScsiStatus
  std::vector<std::uint8_t> sense;   // written to the sense area
  std::vector<std::uint8_t> dataIn;  // written to the data buffer
};

inline Answer CheckCondition(std::uint8_t senseKey, std::uint8_t asc, std::uint8_t ascq) {
  Answer answer;
  answer.scsiStatus = 0x02;
  answer.sense.assign(18, 0);
  answer.sense[0] = 0x70;
  answer.sense[2] = senseKey;
  answer.sense[7] = 10;
  answer.sense[12] = asc;
  answer.sense[13] = ascq;
  return answer;
}

struct FakeDrive {
  std::uint32_t driveType = passthrough::kDriveTypeCdrom;
  std::uint32_t openError = 0;    // nonzero: Open fails with this error...
  int opensBeforeFailure = 0;     // ...after this many successful opens
  bool capabilitiesFail = false;
  std::uint32_t maxTransfer = 0x10000;
  std::vector<std::uint8_t> inquiry;  // the answer to INQUIRY when no script is queued
  std::deque<Answer> script;          // answers for the next requests, in order
  bool repeatLast = false;            // the last scripted answer stays for ever
  int opens = 0;
};

// A copy of one request as it reached the port.
struct Request {
  std::string path;
  ScsiPassThroughDirect spt;
  std::ptrdiff_t dataOffset = 0;  // DataBuffer from the start of the block
  std::vector<std::uint8_t> dataOut;  // DataTransferLength bytes at DataBuffer
  std::vector<std::uint8_t> cdb() const {
    return std::vector<std::uint8_t>(spt.Cdb, spt.Cdb + spt.CdbLength);
  }
};

inline std::vector<std::uint8_t> InquiryData(std::uint8_t type, const char* vendor,
                                             const char* product, const char* revision) {
  std::vector<std::uint8_t> data(44, 0);
  data[0] = type;
  data[4] = 31;
  std::memcpy(&data[8], vendor, std::strlen(vendor) < 8 ? std::strlen(vendor) : 8);
  std::memcpy(&data[16], product, std::strlen(product) < 16 ? std::strlen(product) : 16);
  std::memcpy(&data[32], revision, std::strlen(revision) < 4 ? std::strlen(revision) : 4);
  return data;
}

class RecordingPassThroughPort : public PassThroughPort {
 public:
  std::map<char, FakeDrive> drives;
  std::vector<Request> requests;
  std::vector<std::string> driveTypeQueries;
  std::vector<std::string> opened;
  std::vector<std::string> capabilityQueries;
  std::map<std::uint32_t, std::string> systemTexts;  // FormatMessage fails for others
  std::uint32_t formatMessageError = 317;
  std::uint32_t formatMessageSize = 0;  // the size the caller offered
  std::uint32_t lastError = 0;
  int openHandles = 0;
  int closes = 0;

  FakeDrive& Drive(char letter) { return drives[letter]; }

  std::uint32_t GetDriveType(const char* rootName) override {
    driveTypeQueries.push_back(rootName);
    auto it = drives.find(rootName[0]);
    return it == drives.end() ? 1u : it->second.driveType;  // 1: no root directory
  }

  PortHandle Open(const char* path) override {
    opened.push_back(path);
    const std::string text(path);
    if (text.size() != 6 || text.compare(0, 4, "\\\\.\\") != 0 || text[5] != ':') {
      lastError = 123;  // ERROR_INVALID_NAME
      return kInvalidPortHandle;
    }
    auto it = drives.find(text[4]);
    if (it == drives.end()) {
      lastError = 2;
      return kInvalidPortHandle;
    }
    FakeDrive& drive = it->second;
    if (drive.openError != 0 && drive.opens >= drive.opensBeforeFailure) {
      lastError = drive.openError;
      return kInvalidPortHandle;
    }
    ++drive.opens;
    ++openHandles;
    return 0x100 + static_cast<PortHandle>(text[4]);
  }

  bool SendPassThrough(PortHandle handle, PassThroughRequest* block,
                       std::uint32_t* bytesReturned) override {
    FakeDrive& drive = drives[static_cast<char>(handle - 0x100)];
    Request request;
    request.path = std::string("\\\\.\\") + static_cast<char>(handle - 0x100) + ":";
    std::memcpy(&request.spt, &block->spt, sizeof request.spt);
    auto* base = reinterpret_cast<std::uint8_t*>(block);
    auto* data = static_cast<std::uint8_t*>(block->spt.DataBuffer);
    request.dataOffset = data - base;
    const bool inside = data >= block->staging &&
                        data + block->spt.DataTransferLength <= base + sizeof *block;
    if (inside) request.dataOut.assign(data, data + block->spt.DataTransferLength);
    requests.push_back(request);
    if (!inside) {
      lastError = 87;  // a real driver would fault; make the test fail loudly instead
      return false;
    }

    Answer answer;
    if (!drive.script.empty()) {
      answer = drive.script.front();
      if (!(drive.repeatLast && drive.script.size() == 1)) drive.script.pop_front();
    } else if (block->spt.Cdb[0] == 0x12) {
      answer.dataIn = drive.inquiry;
    }
    if (!answer.dataIn.empty()) {
      std::size_t n = answer.dataIn.size();
      if (n > block->spt.DataTransferLength) n = block->spt.DataTransferLength;
      std::memcpy(data, answer.dataIn.data(), n);
    }
    if (answer.refuse) {
      lastError = answer.error;
      return false;
    }
    block->spt.ScsiStatus = answer.scsiStatus;
    if (!answer.sense.empty()) {
      std::size_t n = answer.sense.size();
      if (n > block->spt.SenseInfoLength) n = block->spt.SenseInfoLength;
      std::memcpy(base + block->spt.SenseInfoOffset, answer.sense.data(), n);
    }
    if (bytesReturned != nullptr) *bytesReturned = sizeof *block;
    return true;
  }

  bool GetCapabilities(PortHandle handle, IoScsiCapabilities* capabilities,
                       std::uint32_t* bytesReturned) override {
    const char letter = static_cast<char>(handle - 0x100);
    capabilityQueries.push_back(std::string(1, letter) + ":");
    FakeDrive& drive = drives[letter];
    if (drive.capabilitiesFail) {
      lastError = 1;
      return false;
    }
    std::memset(capabilities, 0, sizeof *capabilities);
    capabilities->Length = sizeof *capabilities;
    capabilities->MaximumTransferLength = drive.maxTransfer;
    if (bytesReturned != nullptr) *bytesReturned = sizeof *capabilities;
    return true;
  }

  void Close(PortHandle) override {
    --openHandles;
    ++closes;
  }

  std::uint32_t GetLastError() override { return lastError; }

  bool FormatMessage(std::uint32_t error, std::uint32_t size, std::string* text) override {
    formatMessageSize = size;
    auto it = systemTexts.find(error);
    if (it == systemTexts.end()) {
      lastError = formatMessageError;
      return false;
    }
    *text = it->second.substr(0, size == 0 ? 0 : size - 1);
    return true;
  }
};

// The host system as the device layer's tests want it: Windows 98's version answer,
// but only for a test that asks for one (the query fails until then).
struct DeviceTestSystem : HostSystem {
  DeviceTestSystem() {
    version = {4, 10, sys::kPlatformWindows};
    versionQueryFails = true;
  }
};

}  // namespace devicetest
}  // namespace qx
