#pragma once
// The update log's file for native runs: kept in memory, or in a real file when a
// path is given (updatesim keeps it beside its machine file, so a run after the
// restart appends to what the run before it wrote).
#include <string>

#include "platform/LogFile.h"

namespace qx {

class HostLogFile : public LogFile {
 public:
  // `diskPath` empty: the log lives in `text` only.
  explicit HostLogFile(std::string diskPath = std::string()) : diskPath(std::move(diskPath)) {}

  // The file as the program sees it (in memory unless there is a disk path).
  std::string text;
  // True: every call fails, as with a full disk or a TEMP folder that is not there.
  bool fails = false;
  std::string location = "C:\\WINDOWS\\TEMP\\qxupdate.log";

  bool Read(std::string* out) override;
  bool Replace(const std::string& newText) override;
  bool Append(const std::string& more) override;
  std::string Location() override { return location; }

 private:
  std::string diskPath;
};

}  // namespace qx
