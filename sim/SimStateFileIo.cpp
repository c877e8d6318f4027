// The file side of the state file, apart from the text side so that code without
// the stream library (the simulated-drive driver) can parse and format states.
#include "sim/SimStateFile.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace qx {

bool LoadSimStateFile(const std::string& path, std::vector<SimDriveEntry>* drives,
                      std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string why;
  if (!ParseSimState(text.str(), drives, &why)) {
    if (error) *error = path + ": " + why;
    return false;
  }
  return true;
}

bool SaveSimStateFile(const std::string& path, const std::vector<SimDriveEntry>& drives,
                      std::string* error) {
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << FormatSimState(drives);
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      if (error) *error = "cannot write " + temporary;
      return false;
    }
  }
  // Replacing an existing file by rename is not possible on every system.
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(path.c_str());
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
      if (error) *error = "cannot replace " + path;
      return false;
    }
  }
  return true;
}

}  // namespace qx
