#pragma once

#include <iconv.h>

#include <string>

namespace qx {

// Converts with iconv; false when some byte sequence has no place in the target code
// page or is no text of the source one. The Japanese texts reach Windows and the log
// as code page 932, so the tests check them on the trip there and back.
inline bool ConvertText(const char* to, const char* from, const std::string& in,
                        std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string input = in;
  std::string buffer(in.size() * 4 + 16, '\0');
  char* inPtr = input.data();
  std::size_t inLeft = input.size();
  char* outPtr = buffer.data();
  std::size_t outLeft = buffer.size();
  const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1) || inLeft != 0) return false;
  out.assign(buffer.data(), buffer.size() - outLeft);
  return true;
}

}  // namespace qx
