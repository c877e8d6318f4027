#pragma once
// Simulated drives kept in a state file: loaded when the program starts, and saved
// again after every request that left a drive different (a new revision after an
// update, the tray opened by an eject), so the state survives the program being
// ended by the restart it asks for.
#include <cstdint>
#include <string>

#include "sim/SimPassThroughPort.h"

namespace qx {

class PersistentSimPort : public PassThroughPort {
 public:
  // `path` names the state file. A missing file gives the one drive a fresh machine
  // would have (E:, revision 1005), written out at once so it can be edited.
  explicit PersistentSimPort(std::string path);

  // False with a reason when the file could not be read, did not parse, or a save
  // failed; the port then carries the drives it could load (possibly none).
  bool Ok() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  int Saves() const { return saves_; }

  SimPassThroughPort& Port() { return port_; }
  // Writes the drives' state if it changed since the last save.
  void SaveIfChanged();

  std::uint32_t GetDriveType(const char* rootName) override { return port_.GetDriveType(rootName); }
  PortHandle Open(const char* path) override { return port_.Open(path); }
  bool SendPassThrough(PortHandle handle, PassThroughRequest* block,
                       std::uint32_t* bytesReturned) override;
  bool GetCapabilities(PortHandle handle, IoScsiCapabilities* capabilities,
                       std::uint32_t* bytesReturned) override {
    return port_.GetCapabilities(handle, capabilities, bytesReturned);
  }
  void Close(PortHandle handle) override { port_.Close(handle); }
  std::uint32_t GetLastError() override { return port_.GetLastError(); }
  std::uint32_t FormatMessage(std::uint32_t error, char* buffer, std::uint32_t size) override {
    return port_.FormatMessage(error, buffer, size);
  }

 private:
  std::string path_;
  SimPassThroughPort port_;
  std::string saved_;  // the text last written or read
  std::string error_;
  int saves_ = 0;
};

}  // namespace qx
