#pragma once
// The update log: one plain-text line per event (lines end in \n; the Win32 file
// writes them as CR LF), each with its time, in the file the
// LogFile seam names. Runs append to the same file, so the start before a restart
// and the start after it tell one story; the oldest runs go first when it grows too
// large. Nothing here can fail the caller: a log that cannot be written is skipped.
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/CommandStatus.h"

namespace qx {

class LogFile;
class Threads;
class ScsiDevice;

class UpdateLog {
 public:
  // Before a run begins, older runs are dropped until the file is below this size.
  static constexpr std::size_t kKeptBytes = 48 * 1024;
  // Every run begins with a line that starts so (after the time).
  static constexpr char kRunMark[] = "==== ";

  // `file` may be null: then nothing is written.
  UpdateLog(LogFile* file, Threads& threads) : file(file), threads(threads) {}

  // Trims the file to kKeptBytes and writes the run's first line.
  void BeginRun(const std::string& title);
  void Write(const std::string& text);
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

 private:
  LogFile* file;
  Threads& threads;
};

// "04 sense 05/26/00": the status and the sense of the device's last command.
std::string StatusText(CommandStatus result, ScsiDevice& device);

}  // namespace qx
