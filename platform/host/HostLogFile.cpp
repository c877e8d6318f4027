#include "platform/host/HostLogFile.h"

#include <iconv.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace qx {

bool HostLogFile::DiskFileUsable() const {
  struct stat status;
  if (::lstat(diskPath.c_str(), &status) != 0) return errno == ENOENT;  // made on first write
  return S_ISREG(status.st_mode) && status.st_nlink == 1;
}

bool HostLogFile::ReadTail(std::size_t maxBytes, std::string* out, std::uint64_t* size) {
  if (fails) return false;
  if (!diskPath.empty()) {
    if (!DiskFileUsable()) return false;
    std::ifstream in(diskPath, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
  }
  *size = text.size();
  *out = text.size() > maxBytes ? text.substr(text.size() - maxBytes) : text;
  return true;
}

bool HostLogFile::Replace(const std::string& newText) {
  if (fails) return false;
  if (diskPath.empty()) {
    text = newText;
    return true;
  }
  if (!DiskFileUsable()) return false;
  text = newText;
  std::ofstream out(diskPath, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out << newText);
}

bool HostLogFile::Append(const std::string& more, LogText encoding) {
  if (fails) return false;
  const std::string bytes =
      encoding == LogText::Utf8 && codePage ? ToCodePage(more, codePage()) : more;
  if (diskPath.empty()) {
    text += bytes;
    return true;
  }
  if (!DiskFileUsable()) return false;
  text += bytes;
  std::ofstream out(diskPath, std::ios::binary | std::ios::app);
  return static_cast<bool>(out << bytes);
}

std::string HostLogFile::ToCodePage(const std::string& utf8, int codePage) {
  const std::string name = "CP" + std::to_string(codePage);
  iconv_t cd = ::iconv_open(name.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
  std::string out;
  std::string input = utf8;
  char* in = input.data();
  std::size_t inLeft = input.size();
  char buffer[256];
  while (inLeft > 0) {
    char* to = buffer;
    std::size_t toLeft = sizeof buffer;
    const std::size_t done = ::iconv(cd, &in, &inLeft, &to, &toLeft);
    out.append(buffer, sizeof buffer - toLeft);
    if (done != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    // A character the code page lacks (or a byte that is no UTF-8): '?', as Windows
    // writes it, and on past the whole character.
    out += '?';
    std::size_t skip = 1;
    while (skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
    in += skip;
    inLeft -= skip;
  }
  ::iconv_close(cd);
  return out;
}

}  // namespace qx
