#pragma once
#include <string>

#include "platform/LogFile.h"

namespace qx {

// The update log at %TEMP%\qxupdate.log, through the ANSI file calls Windows 98 SE
// has. Each call opens and closes the file, so nothing stays open across a restart
// and a half-written log is never held back. Lines are written with CR LF, in the
// system's ANSI code page.
class Win32LogFile : public LogFile {
 public:
  Win32LogFile();
  // A log at `ansiPath` instead (in the ANSI code page).
  explicit Win32LogFile(std::string ansiPath) : path(std::move(ansiPath)) {}

  bool ReadTail(std::size_t maxBytes, std::string* text, std::uint64_t* size) override;
  bool Replace(const std::string& text) override;
  bool Append(const std::string& text, LogText encoding) override;
  std::string Location() override;

 private:
  bool Write(const std::string& text, bool append);

  std::string path;  // in the ANSI code page; empty when TEMP is unknown
};

}  // namespace qx
