#include "sim/PersistentSimPort.h"

#include <fstream>
#include <utility>
#include <vector>

namespace qx {

PersistentSimPort::PersistentSimPort(std::string path) : path_(std::move(path)) {
  std::vector<SimDriveEntry> entries;
  if (!std::ifstream(path_).good()) {
    SimDriveEntry drive;
    drive.address = "E";
    entries.push_back(drive);
    AddDrives(entries, &error_);
    SaveIfChanged();
    return;
  }
  if (!LoadSimStateFile(path_, &entries, &error_)) return;
  if (!AddDrives(entries, &error_)) return;
  // What the file says is what is saved: rewriting it unchanged would only reorder it.
  saved_ = FormatSimState(DriveStates());
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
  if (text == saved_) return;
  std::string why;
  if (!SaveSimStateFile(path_, drives, &why)) {
    error_ = why;
    return;
  }
  saved_ = text;
  ++saves_;
}

}  // namespace qx
