#pragma once
// Simulated drives kept in a state file: loaded when the program starts, and saved
// again after every request that left a drive different (a new revision after an
// update, the tray opened by an eject), so the state survives the program being
// ended by the restart it asks for.
#include <cstdint>
#include <string>

#include "sim/SimPassThroughPort.h"

namespace qx {

// It is the simulated port itself, with every request that reaches a drive followed
// by a save.
class PersistentSimPort : public SimPassThroughPort {
 public:
  // `path` names the state file. A missing file gives the one drive a fresh machine
  // would have (E:, revision 1005), written out at once so it can be edited.
  explicit PersistentSimPort(std::string path);

  // False with a reason when the file could not be read, did not parse, or a save
  // failed; the port then carries the drives it could load (possibly none).
  bool Ok() const { return loadError.empty(); }
  const std::string& Error() const { return loadError; }
  int Saves() const { return saveCount; }

  // Writes the drives' state if it changed since the last save.
  void SaveIfChanged();

  bool SendPassThrough(PortHandle handle, PassThroughRequest* block,
                       std::uint32_t* bytesReturned) override;

 private:
  std::string statePath;
  std::string savedText;  // the text last written or read
  std::string loadError;
  int saveCount = 0;
};

}  // namespace qx
