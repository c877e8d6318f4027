#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "device/StatusTexts.h"
#include "text/TextCatalogue.h"

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

}  // namespace
}  // namespace qx
