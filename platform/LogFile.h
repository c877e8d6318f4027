#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qx {

// What the bytes of a text handed to the log are.
enum class LogText {
  Utf8,        // the program's own texts: the catalogue, the device's messages
  SystemAnsi,  // what the system gave in its ANSI code page: registry values, file names
};

// The file the update log lives in (%TEMP%\qxupdate.log on Windows). The file holds
// the system's ANSI code page throughout, as Notepad reads it. It is used only when
// it is a plain file with one link: a link planted under its name in a shared TEMP
// folder would make an administrator's run trim someone else's file. Every call may
// fail; the caller carries on regardless, since a log must never change an update.
class LogFile {
 public:
  virtual ~LogFile() = default;
  // The file's last `maxBytes` bytes (all of it when it is no larger) and in *size
  // its whole size; false when there is none or it cannot be read.
  virtual bool ReadTail(std::size_t maxBytes, std::string* text, std::uint64_t* size) = 0;
  // Replaces the whole file with `text`, bytes as they are (the file's own, as
  // ReadTail gave them).
  virtual bool Replace(const std::string& text) = 0;
  // Adds `text` at the end, creating the file when there is none. A UTF-8 text is
  // converted to the ANSI code page (a character it lacks becomes '?'); a system
  // text is written as it is.
  virtual bool Append(const std::string& text, LogText encoding) = 0;
  // Where the file is, as the user would type it (UTF-8); empty when not known.
  virtual std::string Location() = 0;
};

}  // namespace qx
