#pragma once
// The update log: one plain-text line per event (lines end in \n; the Win32 file
// writes them as CR LF), each with its UTC time, in the file the
// LogFile seam names. Runs append to the same file, so the start before a restart
// and the start after it tell one story; the oldest runs go first when it grows too
// large. Nothing here can fail the caller: a log that cannot be written is skipped.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/LogFile.h"

#include "device/CommandStatus.h"

namespace qx {

class LogFile;
class Threads;
class ScsiDevice;

class UpdateLog {
 public:
  // Before a run begins, older runs are dropped until the file is below this size.
  static constexpr std::size_t kKeptBytes = 48 * 1024;
  // A log is trimmed from this much of its end, so that one of any size is trimmed
  // without being read whole.
  static constexpr std::size_t kTrimReadBytes = 2 * kKeptBytes;
  // Every run begins with a line that starts so (after the time).
  static constexpr char kRunMark[] = "==== ";

  // `file` may be null: then nothing is written. With `holdUntilRun`, lines written
  // before BeginRun are held and follow the run's first line; a run that never
  // begins leaves the file untouched.
  UpdateLog(LogFile* file, Threads& threads, bool holdUntilRun = false)
      : file(file), threads(threads), holding(holdUntilRun) {}

  // Trims the file to kKeptBytes and writes the run's first line (which says that
  // the times are UTC), then whatever was held. `title` is in the system's ANSI code
  // page: it carries the program's file name.
  void BeginRun(const std::string& title);
  // One event, on one line: line breaks inside `text` (a system message ends in
  // CR LF) are joined. `text` is UTF-8.
  void Write(const std::string& text);
  // The same for a text in the system's ANSI code page (registry values, file names).
  void WriteSystemText(const std::string& text);
  // A line whose event happened at `seconds` (a step the worker noted earlier).
  void WriteAt(std::int64_t seconds, const std::string& text);
  // One device command: its name, the status and, after a failure, the sense.
  void Command(const std::string& what, CommandStatus result, ScsiDevice& device);
  std::string Location() const;

  // "2005-12-01 00:00:00", the UTC time of `seconds` since 1970.
  static std::string TimeText(std::int64_t seconds);
  // `text` without its oldest runs, so that it is at most `limit` bytes; a single
  // run larger than that loses its oldest lines.
  static std::string DropOldestRuns(const std::string& text, std::size_t limit);
  // `text` on one line: each run of CR and LF inside it becomes one blank, and
  // none is left at either end.
  static std::string OneLine(const std::string& text);

 private:
  struct HeldLine {
    std::int64_t seconds;
    std::string text;
    LogText encoding;
  };
  void Put(std::int64_t seconds, const std::string& text, LogText encoding);

  LogFile* file;
  Threads& threads;
  bool holding;
  std::vector<HeldLine> held;
};

// "04 sense 05/26/00": the status and the sense of the device's last command.
std::string StatusText(CommandStatus result, ScsiDevice& device);

}  // namespace qx
