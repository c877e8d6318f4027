#pragma once
// The command line of updatesim.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/SimDrive.h"

namespace qx {

struct SimDriveOption {
  std::string address;  // "E" on nt, "1:0" on 9x
  SimDriveConfig config;
  std::uint32_t openError = 0;  // nt: opening the drive fails with this system error
};

struct UpdateSimOptions {
  bool nt = true;
  std::uint32_t major = 0;  // 0: 5 on nt, 4 on 9x
  bool japanese = false;
  enum class Power { Ac, Battery, Unknown, Fail } power = Power::Ac;
  std::string exe = "qxupdate";
  std::vector<SimDriveOption> drives;
  bool settingsNeedChange = true;
  bool termsAgree = true;
  bool rebootOk = true;
  enum class Main { Update, Cancel, Close } main = Main::Update;
  std::string stateFile;
  // The update log's file; empty: FILE.log beside --state FILE, or none at all.
  std::string logFile;
  std::vector<std::string> faults;
};

// False with a reason in *error; the drives default to one target drive when none
// is given.
bool ParseUpdateSimOptions(int argc, char** argv, UpdateSimOptions* options, std::string* error);

const char* UpdateSimUsage();

}  // namespace qx
