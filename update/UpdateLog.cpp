#include "update/UpdateLog.h"

#include <cstdio>

#include "device/ScsiDevice.h"
#include "platform/LogFile.h"
#include "platform/Threads.h"

namespace qx {

namespace {

// Days since 1970-01-01 to a civil date (the proleptic Gregorian calendar).
void CivilDate(std::int64_t days, int* year, int* month, int* day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  *day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  *month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  *year = static_cast<int>(yearOfEra + era * 400 + (*month <= 2 ? 1 : 0));
}

}  // namespace

std::string UpdateLog::TimeText(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int year = 0, month = 0, day = 0;
  CivilDate(days, &year, &month, &day);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day,
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

std::string UpdateLog::DropOldestRuns(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  const std::size_t cut = text.size() - limit;  // at least this much must go
  // A run begins at a line holding the mark just after the time.
  const std::string mark = std::string(" ") + kRunMark;
  std::size_t line = 0;
  while (line < text.size()) {
    std::size_t end = text.find('\n', line);
    end = end == std::string::npos ? text.size() : end + 1;
    constexpr std::size_t kTimeLength = 19;  // "2005-12-01 00:00:00"
    if (line >= cut && end - line > kTimeLength + mark.size() &&
        text.compare(line + kTimeLength, mark.size(), mark) == 0) {
      return text.substr(line);
    }
    line = end;
  }
  // No run begins late enough: keep the newest whole lines.
  std::size_t keep = text.find('\n', cut - 1);
  return keep == std::string::npos ? std::string() : text.substr(keep + 1);
}

std::string UpdateLog::OneLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  bool broken = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      broken = true;
      continue;
    }
    if (broken && !line.empty()) line += ' ';
    broken = false;
    line += c;
  }
  return line;
}

void UpdateLog::BeginRun(const std::string& title) {
  holding = false;
  if (file == nullptr) {
    held.clear();
    return;
  }
  std::string tail;
  std::uint64_t size = 0;
  // Room for this run: it is kept whole, the older ones make way for it.
  if (file->ReadTail(kTrimReadBytes, &tail, &size) && size > kKeptBytes) {
    if (size > tail.size()) {
      // The part read may begin inside a line; that line goes with the rest.
      const std::size_t end = tail.find('\n');
      tail.erase(0, end == std::string::npos ? tail.size() : end + 1);
    }
    file->Replace(DropOldestRuns(tail, kKeptBytes));
  }
  const std::int64_t now = threads.Time();
  Put(held.empty() || held.front().seconds > now ? now : held.front().seconds,
      kRunMark + title + ", times in UTC", LogText::SystemAnsi);
  for (const HeldLine& line : held) Put(line.seconds, line.text, line.encoding);
  held.clear();
}

void UpdateLog::Write(const std::string& text) { Put(threads.Time(), text, LogText::Utf8); }

void UpdateLog::WriteSystemText(const std::string& text) {
  Put(threads.Time(), text, LogText::SystemAnsi);
}

void UpdateLog::WriteAt(std::int64_t seconds, const std::string& text) {
  Put(seconds, text, LogText::Utf8);
}

void UpdateLog::Put(std::int64_t seconds, const std::string& text, LogText encoding) {
  if (file == nullptr) return;
  if (holding) {
    held.push_back(HeldLine{seconds, text, encoding});
    return;
  }
  file->Append(TimeText(seconds) + " " + OneLine(text) + "\n", encoding);
}

void UpdateLog::Command(const std::string& what, CommandStatus result, ScsiDevice& device) {
  Write("command " + what + " -> " + StatusText(result, device));
}

std::string UpdateLog::Location() const { return file != nullptr ? file->Location() : ""; }

std::string StatusText(CommandStatus result, ScsiDevice& device) {
  char text[32];
  if (result == status::kGood) {
    std::snprintf(text, sizeof text, "%02X", result);
    return text;
  }
  const SenseRecord& sense =
      device.UsePassThrough() ? device.PassThrough().Sense() : device.Aspi().Sense();
  std::snprintf(text, sizeof text, "%02X sense %02X/%02X/%02X", result, sense.SenseKey(),
                sense.Asc(), sense.Ascq());
  return text;
}

}  // namespace qx
