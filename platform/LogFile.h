#pragma once
#include <string>

namespace qx {

// The file the update log lives in (%TEMP%\qxupdate.log on Windows). Every call may
// fail; the caller carries on regardless, since a log must never change an update.
class LogFile {
 public:
  virtual ~LogFile() = default;
  // The whole file; false when there is none or it cannot be read.
  virtual bool Read(std::string* text) = 0;
  // Replaces the whole file with `text`.
  virtual bool Replace(const std::string& text) = 0;
  // Adds `text` at the end, creating the file when there is none.
  virtual bool Append(const std::string& text) = 0;
  // Where the file is, as the user would type it; empty when not known.
  virtual std::string Location() = 0;
};

}  // namespace qx
