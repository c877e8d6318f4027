#pragma once
// The update log's file for native runs: kept in memory, or in a real file when a
// path is given (updatesim keeps it beside its machine file, so a run after the
// restart appends to what the run before it wrote).
#include <functional>
#include <utility>
#include <string>

#include "platform/LogFile.h"

namespace qx {

class HostLogFile : public LogFile {
 public:
  // `diskPath` empty: the log lives in `text` only.
  explicit HostLogFile(std::string diskPath = std::string()) : diskPath(std::move(diskPath)) {}

  // The file as the program sees it (in memory unless there is a disk path): its
  // bytes, in the code page below.
  std::string text;
  // True: every call fails, as with a full disk or a TEMP folder that is not there.
  bool fails = false;
  std::string location = "C:\\WINDOWS\\TEMP\\qxupdate.log";
  // The system's ANSI code page UTF-8 texts are written in (932 Shift-JIS, 1252 and
  // others through iconv's "CP<n>"); unset: they are kept as UTF-8.
  std::function<int()> codePage;

  bool ReadTail(std::size_t maxBytes, std::string* out, std::uint64_t* size) override;
  bool Replace(const std::string& newText) override;
  bool Append(const std::string& more, LogText encoding) override;
  std::string Location() override { return location; }

  // `utf8` in code page `codePage`; a character it lacks becomes '?'.
  static std::string ToCodePage(const std::string& utf8, int codePage);

 private:
  // False when the disk path names something other than a plain file of one link.
  bool DiskFileUsable() const;

  std::string diskPath;
};

}  // namespace qx
