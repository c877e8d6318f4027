#include "sim/PersistentSimPort.h"

#include <fstream>
#include <utility>
#include <vector>

namespace qx {

PersistentSimPort::PersistentSimPort(std::string path) : statePath(std::move(path)) {
  std::vector<SimDriveEntry> entries;
  if (!std::ifstream(statePath).good()) {
    SimDriveEntry drive;
    drive.address = "E";
    entries.push_back(drive);
    AddDrives(entries, &loadError);
    SaveIfChanged();
    return;
  }
  if (!LoadSimStateFile(statePath, &entries, &loadError)) return;
  if (!AddDrives(entries, &loadError)) return;
  // What the file says is what is saved: rewriting it unchanged would only reorder it.
  savedText = FormatSimState(DriveStates());
}

bool PersistentSimPort::SendPassThrough(PortHandle handle, PassThroughRequest* block,
                                        std::uint32_t* bytesReturned) {
  const bool accepted = SimPassThroughPort::SendPassThrough(handle, block, bytesReturned);
  SaveIfChanged();
  return accepted;
}

void PersistentSimPort::SaveIfChanged() {
  const std::vector<SimDriveEntry> drives = DriveStates();
  const std::string text = FormatSimState(drives);
  if (text == savedText) return;
  std::string why;
  if (!SaveSimStateFile(statePath, drives, &why)) {
    loadError = why;
    return;
  }
  savedText = text;
  ++saveCount;
}

}  // namespace qx
