#pragma once
// A set of simulated drives kept in a small text file, so that a drive's
// revision after an update survives the utility's restart.
//
//   # comment (also ';')
//   [E]                      one section per drive address: a drive letter for
//                            the pass-through port, "adapter:target" ("1:0")
//                            for the ASPI manager
//   vendor = "VELMORA "      quoted to keep blanks; unquoted values are trimmed
//   product = "DVD-ROM QX-M4471"
//   revision = 1005
//   letter = 0x41            hexadecimal byte, or one character: A
//   code = is                drive code of the identify reply
//   type = 5                 peripheral device type
//   medium = yes             yes or no
//   tray = closed            open or closed
//   fault = send:page=3:status=02:sense=05/26/00
//   drivetype = 5            pass-through only: the system's drive type (3 fixed)
//   openerror = 5            pass-through only: opening the drive fails so
//   maxtransfer = 65536      pass-through only: capability answer, or "fail"
//
// Keys missing from a section keep the defaults of SimDriveConfig and SimDriveEntry.
// A loaded drive starts as if just powered on: a unit attention is pending and
// the counters of its fault rules start afresh.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/SimDrive.h"

namespace qx {

struct SimDriveEntry {
  std::string address;  // "E", "1:0"
  SimDriveConfig config;
  std::uint32_t driveType = 5;          // DRIVE_CDROM
  std::uint32_t openError = 0;          // 0: the drive opens
  bool capabilitiesFail = false;        // the capability request is refused
  std::uint32_t maxTransfer = 0x10000;  // MaximumTransferLength reported
};

// Parses the text of a state file; false with "line N: why" in *error.
bool ParseSimState(const std::string& text, std::vector<SimDriveEntry>* drives,
                   std::string* error);
// The text that ParseSimState reads back into the same entries.
std::string FormatSimState(const std::vector<SimDriveEntry>& drives);

// File forms; false with a reason when the file cannot be read or written.
// Saving writes a new file beside the old one and then replaces it, so a crash
// never leaves half a state behind.
bool LoadSimStateFile(const std::string& path, std::vector<SimDriveEntry>* drives,
                      std::string* error);
bool SaveSimStateFile(const std::string& path, const std::vector<SimDriveEntry>& drives,
                      std::string* error);

}  // namespace qx
