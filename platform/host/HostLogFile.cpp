#include "platform/host/HostLogFile.h"

#include <fstream>
#include <sstream>

namespace qx {

bool HostLogFile::Read(std::string* out) {
  if (fails) return false;
  if (!diskPath.empty()) {
    std::ifstream in(diskPath, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
  }
  *out = text;
  return true;
}

bool HostLogFile::Replace(const std::string& newText) {
  if (fails) return false;
  text = newText;
  if (diskPath.empty()) return true;
  std::ofstream out(diskPath, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out << newText);
}

bool HostLogFile::Append(const std::string& more) {
  if (fails) return false;
  text += more;
  if (diskPath.empty()) return true;
  std::ofstream out(diskPath, std::ios::binary | std::ios::app);
  return static_cast<bool>(out << more);
}

}  // namespace qx
