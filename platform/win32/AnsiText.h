#pragma once
#include <string>

namespace qx {

// The core keeps its texts in UTF-8; the ANSI calls want the system's ANSI code page
// (Shift-JIS under 932). Characters the code page lacks become '?'. Both conversions
// leave GetLastError as it was, so a caller can convert between a failing call and
// its error report.
std::string ToAnsi(const std::string& utf8);
std::string FromAnsi(const std::string& ansi);

}  // namespace qx
