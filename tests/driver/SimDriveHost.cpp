// The simulated drive inside the driver: the same SimDrive and state-file text as
// every other test uses, held once for the driver's one device.
#include "SimDriveHost.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "sim/SimDrive.h"
#include "sim/SimStateFile.h"

namespace {

struct Held {
  qx::SimDriveEntry entry;
  qx::SimDrive drive;
  explicit Held(const qx::SimDriveEntry& e) : entry(e), drive(e.config) {}
};

Held* held = nullptr;

size_t CopyOut(const std::string& text, char* buffer, size_t size) {
  if (buffer != nullptr && size > 0) {
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return text.size();
}

qx::DataDirection FromDataIn(uint8_t dataIn) {
  switch (dataIn) {
    case 0:
      return qx::DataDirection::Out;
    case 1:
      return qx::DataDirection::In;
    default:
      return qx::DataDirection::Unspecified;
  }
}

}  // namespace

extern "C" int SimHostLoad(const char* text, size_t length, SimHostDrive* drive, char* error,
                           size_t errorSize) {
  std::vector<qx::SimDriveEntry> entries;
  std::string why;
  if (!qx::ParseSimState(std::string(text, length), &entries, &why)) {
    CopyOut(why, error, errorSize);
    return 0;
  }
  for (const qx::SimDriveEntry& e : entries) {
    if (e.address.size() != 1) continue;
    delete held;
    held = new Held(e);
    if (!held->drive.ConfigError().empty()) {
      CopyOut("fault: " + held->drive.ConfigError(), error, errorSize);
      return 0;
    }
    held->drive.SetSleepHook([](std::uint32_t ms) { SimHostSleep(ms); });
    drive->letter = e.address[0];
    drive->maxTransfer = e.maxTransfer;
    drive->capabilitiesFail = e.capabilitiesFail ? 1 : 0;
    drive->openError = e.openError;
    return 1;
  }
  CopyOut("no drive-letter section", error, errorSize);
  return 0;
}

extern "C" void SimHostExecute(const uint8_t* cdb, uint8_t cdbLength, uint8_t* data,
                               uint32_t length, uint8_t dataIn, SimHostResult* result) {
  // Only the last command's record is of use here; kept whole, the log would grow
  // for the driver's whole life.
  held->drive.ClearLog();
  const qx::SimCommandResult r =
      held->drive.Execute(cdb, cdbLength, data, length, FromDataIn(dataIn));
  result->completed = r.completed ? 1 : 0;
  result->status = r.status;
  std::memcpy(result->sense, r.sense.data(), sizeof result->sense);
  result->senseLength = r.senseLength;
  result->transferred = r.transferred;
}

extern "C" void SimHostReset(void) {
  if (held != nullptr) held->drive.Reset();
}

extern "C" size_t SimHostState(char* buffer, size_t size) {
  if (held == nullptr) return CopyOut(std::string(), buffer, size);
  qx::SimDriveEntry now = held->entry;
  now.config = held->drive.CurrentConfig();
  return CopyOut(qx::FormatSimState({now}), buffer, size);
}

extern "C" size_t SimHostLastCommand(char* buffer, size_t size) {
  if (held == nullptr || held->drive.Log().empty()) return CopyOut(std::string(), buffer, size);
  return CopyOut(qx::FormatSimCommand(held->drive.Log().back()), buffer, size);
}
