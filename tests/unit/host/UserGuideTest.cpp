#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "StartupRig.h"
#include "device/AspiDevice.h"
#include "device/StatusTexts.h"
#include "platform/PassThroughRequest.h"
#include "text/TextCatalogue.h"
#include "ui/MainDialog.h"
#include "update/DownloadWorker.h"
#include "update/UpdateLog.h"

namespace qx {
namespace {

// The user guides (docs/guide-*.txt, shipped in the package) must explain every
// message the program can show, in their own language: a message added to the
// program without a line in the guides fails here, naming the text to add.
//
// A guide's entry for a message quotes it whole, in "..." (English) or 「...」
// (Japanese), from the first column of a line; a message quoted only inside running
// text has no entry. Blanks and line ends inside the quotes are free, so the guide
// can wrap a long message; "%s" reads as the model name the program puts there, and
// a number the program fills in ("%d", "%02X") is written as a word in angle
// brackets, such as <number> or <番号>.

struct Guide {
  const char* path;  // relative to the source tree
  Language language;
  const char* open;
  const char* close;
};

const Guide kGuides[] = {
    {"docs/guide-en.txt", Language::English, "\"", "\""},
    {"docs/guide-ja.txt", Language::Japanese, "「", "」"},
};

// Catalogue texts that are no message: names and captions, the labels of buttons and
// menus, the terms (the guides describe that window), the About box, a prefix the
// program puts before a device message, the label between a command's name and its
// status, and the blank a status line is cleared with.
// Every other text, including one added later, must be in the guides.
const std::set<TextId> kNotMessages = {
    TextId::Caption,         TextId::ModelName,         TextId::RebootNotice,
    TextId::OkButton,        TextId::CancelButton,      TextId::TermsText,
    TextId::TermsTitle,      TextId::AgreeButton,       TextId::NotAgreeButton,
    TextId::MainCaption,     TextId::DriveLabel,        TextId::UpdateStartButton,
    TextId::MainCancelButton, TextId::AboutMenu,        TextId::AboutSystemMenu,
    TextId::ErrorPrefix,     TextId::StatusBlank,       TextId::AboutCaption,
    TextId::AboutProduct,    TextId::AboutVersion,      TextId::AboutFirmLabel,
    TextId::AboutNotice,     TextId::StatusLabel,
};

std::string ReadSource(const std::string& relative) {
  std::ifstream in(std::string(QX_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string WithoutBlanks(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (!Blank(c)) out += c;
  }
  return out;
}

// A guide without its blanks, knowing which of its characters began a line.
struct GuideText {
  std::string stripped;
  std::vector<bool> startsLine;  // per character of `stripped`

  explicit GuideText(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (Blank(text[i])) continue;
      stripped += text[i];
      startsLine.push_back(i == 0 || text[i - 1] == '\n');
    }
  }
};

// The enumerators of TextId in order, read from its header, so that a failure names
// the text's id; numbers stand in should the header ever not read as expected.
std::vector<std::string> TextIdNames() {
  const std::string header = ReadSource("text/TextCatalogue.h");
  std::vector<std::string> names;
  std::size_t at = header.find("enum class TextId {");
  const std::size_t end = header.find("};", at);
  if (at != std::string::npos && end != std::string::npos) {
    std::istringstream body(header.substr(at, end - at));
    std::string line;
    std::getline(body, line);
    while (std::getline(body, line)) {
      line = line.substr(0, line.find("//"));
      std::string name;
      for (char c : line) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') name += c;
      }
      if (!name.empty() && name != "Count") names.push_back("TextId::" + name);
    }
  }
  if (names.size() != kTextIdCount) {
    names.clear();
    for (std::size_t i = 0; i < kTextIdCount; ++i) names.push_back("text " + std::to_string(i));
  }
  return names;
}

// The fixed parts of a message between the numbers the program fills in.
std::vector<std::string> FixedParts(const std::string& message) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '%' && i + 1 < message.size()) {
      std::size_t j = i + 1;
      while (j < message.size() && std::isdigit(static_cast<unsigned char>(message[j]))) ++j;
      if (j < message.size() && (message[j] == 'd' || message[j] == 'X')) {
        parts.emplace_back();
        i = j;
        continue;
      }
      // "%1", "%2": a text the program fills in where the language puts it (the blanks
      // around it are gone by now, so a letter may follow at once).
      if (j > i + 1) {
        parts.emplace_back();
        i = j - 1;
        continue;
      }
    }
    parts.back() += message[i];
  }
  return parts;
}

// Whether `text` has an entry that quotes `message` whole.
bool Quotes(const GuideText& text, const Guide& how, const std::string& message) {
  const std::string& guide = text.stripped;
  const std::string model = Text(TextId::ModelName, Language::English);
  std::vector<std::string> parts = FixedParts(WithoutBlanks(FormatText(message, model)));
  parts.front() = how.open + parts.front();
  parts.back() += how.close;
  for (std::size_t at = guide.find(parts.front()); at != std::string::npos;
       at = guide.find(parts.front(), at + 1)) {
    if (!text.startsLine[at]) continue;
    std::size_t pos = at + parts.front().size();
    bool whole = true;
    for (std::size_t i = 1; i < parts.size() && whole; ++i) {
      // A number in the guide: '<', a word, '>'.
      std::size_t endOfWord = guide.find('>', pos);
      whole = pos < guide.size() && guide[pos] == '<' && endOfWord != std::string::npos &&
              guide.compare(endOfWord + 1, parts[i].size(), parts[i]) == 0;
      if (whole) pos = endOfWord + 1 + parts[i].size();
    }
    if (whole) return true;
  }
  return false;
}

// "\r\n" as the two characters a reader can copy into the guide's quotes.
std::string Visible(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

TEST(UserGuide, QuotesEveryMessageOfTheCatalogueInItsLanguage) {
  const std::vector<std::string> names = TextIdNames();
  for (const Guide& guide : kGuides) {
    const GuideText text(ReadSource(guide.path));
    ASSERT_FALSE(text.stripped.empty()) << guide.path << " not found";
    for (std::size_t i = 0; i < kTextIdCount; ++i) {
      const TextId id = static_cast<TextId>(i);
      if (kNotMessages.count(id) != 0) continue;
      const std::string& message = Text(id, guide.language);
      EXPECT_TRUE(Quotes(text, guide, message))
          << guide.path << " has no line for " << names[i] << ": quote it as " << guide.open
          << Visible(message) << guide.close
          << " from the first column of a line (line breaks and blanks inside are free), then"
             " say what it means and what to do";
    }
  }
}

// The device layer's own texts reach the user in English inside an error box, in
// either language; the guides explain each.
TEST(UserGuide, QuotesEveryStatusTextOfTheDeviceLayer) {
  std::set<std::string> texts;
  for (int code = 0; code < 256; ++code) {
    const auto byte = static_cast<std::uint8_t>(code);
    texts.insert(AspiStatusText(byte));
    texts.insert(HostAdapterStatusText(byte));
    texts.insert(TargetStatusText(byte, TargetTable::Aspi));
    texts.insert(TargetStatusText(byte, TargetTable::PassThrough));
  }
  // The texts for codes no table knows carry the code: one entry each, with the code
  // as a number in the guide (0xAB is in no table).
  std::set<std::string> messages;
  const std::vector<std::string> unknown = {HostAdapterStatusText(0xAB),
                                            TargetStatusText(0xAB, TargetTable::Aspi)};
  for (const std::string& text : texts) {
    bool carriesCode = false;
    for (const std::string& pattern : unknown) {
      carriesCode |= text.size() == pattern.size() &&
                     text.compare(0, text.size() - 2, pattern, 0, pattern.size() - 2) == 0;
    }
    if (!carriesCode && !text.empty()) messages.insert(text);
  }
  for (std::string pattern : unknown) messages.insert(pattern.replace(pattern.size() - 2, 2, "%02X"));

  for (const Guide& guide : kGuides) {
    const GuideText text(ReadSource(guide.path));
    ASSERT_FALSE(text.stripped.empty()) << guide.path << " not found";
    for (const std::string& message : messages) {
      EXPECT_TRUE(Quotes(text, guide, message))
          << guide.path << " has no line for the device text: quote it as " << guide.open
          << message << guide.close << " from the first column of a line, then say what it means";
    }
  }
}

// --- The figures the guides give ------------------------------------------------
// A guide that promises a two-minute wait where the program waits three sends the
// user to the power switch too early. So each duration, percentage and path a guide
// states, and the program fixes, is read from the guide and compared with the
// program's constants, or with what the program does on the simulated machine. A
// statement reworded so that its pattern no longer finds it fails too: reword the
// pattern with it.

struct Measured {
  int settleSeconds = 0;  // from the eject to the first opening page
  int firstStep = 0;      // the bar's first step, in percent
  int fastEnd = 0;        // the bar's last position before 100, the drive answering at once
  int slowEnd = 0;        // ... the drive's pages taking 2 s longer
};

// One update on the simulated machine; records the eject and the first page after it.
std::vector<int> RunUpdate(const std::string& fault, std::uint64_t* ejectMs,
                           std::uint64_t* firstPageMs) {
  startuptest::Machine m;
  SimDrive& drive = m.AddDrive('E', "1005");
  if (!fault.empty()) {
    EXPECT_TRUE(drive.Faults().Add(fault)) << fault;
  }
  bool ejected = false;
  bool paged = false;
  drive.SetObserver([&](const SimCommandRecord& record) {
    if (record.cdb[0] == 0x1B && !ejected) {
      ejected = true;
      *ejectMs = m.clock.NowMs();
    } else if (record.cdb[0] == 0x1D && ejected && !paged) {
      paged = true;
      *firstPageMs = m.clock.NowMs();
    }
  });
  m.device->SetUsePassThrough(true);
  MainDialog dialog(*m.device, m.threads, Language::English);
  m.mainView.Queue({MainStep::UpdateIfEnabled()});
  dialog.Show(m.mainView);
  EXPECT_EQ(drive.Revision(), "1009") << fault;
  return m.mainView.Shown().back().progressHistory;
}

int LastBefore100(const std::vector<int>& progress) {
  return progress.size() >= 2 && progress.back() == 100 ? progress[progress.size() - 2] : -1;
}

Measured Measure() {
  Measured m;
  std::uint64_t eject = 0;
  std::uint64_t firstPage = 0;
  const std::vector<int> fast = RunUpdate("", &eject, &firstPage);
  m.settleSeconds = static_cast<int>((firstPage - eject) / 1000);
  m.firstStep = fast.size() >= 3 ? fast[2] - fast[1] : -1;
  m.fastEnd = LastBefore100(fast);
  std::uint64_t unused = 0;
  std::uint64_t unusedPage = 0;
  m.slowEnd = LastBefore100(RunUpdate("send:page=close:delay=2000", &unused, &unusedPage));
  return m;
}

// The numbers a pattern's groups capture at its first match; empty when none.
std::vector<int> Captured(const std::string& text, const std::string& pattern) {
  std::smatch match;
  std::vector<int> numbers;
  if (!std::regex_search(text, match, std::regex(pattern))) return numbers;
  for (std::size_t i = 1; i < match.size(); ++i) numbers.push_back(std::stoi(match[i].str()));
  return numbers;
}

TEST(UserGuide, DurationsAndPercentagesAreTheProgramsOwn) {
  const Measured measured = Measure();
  const int timerSeconds = static_cast<int>(download::kTimerPeriodMs / 1000);
  struct Claim {
    const char* what;
    const char* english;
    const char* japanese;
    std::vector<int> expected;
  };
  const Claim claims[] = {
      {"the wait for the drive after the eject", R"(waits (\d+) seconds)",
       R"(準備のため\s*(\d+)\s*秒)", {measured.settleSeconds}},
      {"the bar's step and the timer", R"(moves (\d+) percent every (\d+) seconds)",
       R"((\d+)\s*秒ごとに\s*(\d+)%)", {measured.firstStep, timerSeconds}},
      {"where a normal update leaves the bar", R"(about (\d+) or (\d+)\s+percent)",
       R"(約\s*(\d+)〜(\d+)%)", {measured.fastEnd, measured.slowEnd}},
      {"the highest the bar goes before the end", R"(at (\d+) percent at most)",
       R"(最大\s*(\d+)%)", {2 * download::kLastProgressTick}},
      {"the update's time-out", R"(not ended after (\d+) minutes)", R"((\d+)\s*分たっても)",
       {static_cast<int>(download::kTimeoutTick * download::kTimerPeriodMs / 60000)}},
      {"the longest wait for a silent drive on 2000/XP", R"(at most about (\d+)\s+seconds)",
       R"(最大約\s*(\d+)\s*秒)", {static_cast<int>(passthrough::kPortTimeoutSeconds)}},
      {"the longest wait for a silent drive on 98/Me", R"(at most about (\d+)\s+minutes)",
       R"(最大約\s*(\d+)\s*分)", {static_cast<int>(AspiDevice::kCommandTimeoutSeconds / 60)}},
      {"the size the log is kept below", R"((\d+) KB)", R"((\d+) KB)",
       {static_cast<int>(UpdateLog::kKeptBytes / 1024)}},
  };
  // The figures themselves must make sense, or the comparison proves nothing.
  EXPECT_GT(measured.settleSeconds, 0);
  EXPECT_GT(measured.fastEnd, 0);
  EXPECT_GT(measured.slowEnd, measured.fastEnd);
  for (const Guide& guide : kGuides) {
    const std::string text = ReadSource(guide.path);
    for (const Claim& claim : claims) {
      const char* pattern = guide.language == Language::English ? claim.english : claim.japanese;
      const std::vector<int> said = Captured(text, pattern);
      ASSERT_FALSE(said.empty()) << guide.path << " no longer says " << claim.what
                                 << " in the words /" << pattern << "/";
      std::vector<int> expected = claim.expected;
      // The Japanese guide names the timer before the step.
      if (guide.language == Language::Japanese && expected.size() == 2 &&
          std::string(claim.what) == "the bar's step and the timer") {
        std::swap(expected[0], expected[1]);
      }
      EXPECT_EQ(said, expected) << guide.path << ": " << claim.what << " (/" << pattern << "/)";
    }
  }
}

// The log's file name, and the registry keys the guides send the user to.
TEST(UserGuide, PathsAreTheProgramsOwn) {
  const std::string logSource = ReadSource("platform/win32/Win32LogFile.cpp");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(logSource, match, std::regex(R"re(kFileName\[\] = "([^"]+)")re")))
      << "platform/win32/Win32LogFile.cpp names its file no longer as kFileName";
  const std::string logName = match[1].str();

  // The keys a preparation leaves, on the simulated machine.
  startuptest::Machine m;
  m.AddDrive('E', "1005");
  m.SettingsInTheWay();
  ASSERT_EQ(m.Run(), StartupEnd::Prepared);

  for (const Guide& guide : kGuides) {
    const std::string text = ReadSource(guide.path);
    const std::regex logFile(R"(([A-Za-z0-9_]+\.log)\b)");
    int logs = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), logFile);
         it != std::sregex_iterator(); ++it, ++logs) {
      EXPECT_EQ((*it)[1].str(), logName) << guide.path << ": the update log's name";
    }
    EXPECT_GT(logs, 0) << guide.path << " names no log file";
    const std::regex key(R"(HKEY_CURRENT_USER\\([A-Za-z0-9_\\]+))");
    int keys = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), key);
         it != std::sregex_iterator(); ++it, ++keys) {
      EXPECT_TRUE(m.registry.KeyExists(reg::kCurrentUser, (*it)[1].str()))
          << guide.path << ": a preparation leaves no key HKEY_CURRENT_USER\\" << (*it)[1].str();
    }
    EXPECT_GT(keys, 0) << guide.path << " names no registry key";
  }
}

}  // namespace
}  // namespace qx
