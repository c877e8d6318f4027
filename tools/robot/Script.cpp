#include "Script.h"

#include <cstdlib>
#include <map>
#include <sstream>

namespace robot {
namespace {

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return s.substr(b, e - b);
}

// How many leading number words each verb takes, and whether it needs a text after them.
struct Shape {
  int numbers;
  bool text;
};

const std::map<std::string, Shape>& Verbs() {
  static const std::map<std::string, Shape> verbs = {
      {"wait", {0, true}},      {"waitid", {1, true}},     {"timeout", {1, false}},
      {"caption", {0, true}},   {"text", {1, false}},      {"contains", {1, true}},
      {"enabled", {1, false}},  {"disabled", {1, false}},  {"click", {1, false}},
      {"command", {1, false}},  {"key", {0, true}},        {"close", {0, false}},
      {"query", {1, false}},    {"endsession", {1, false}}, {"power", {1, false}},
      {"broadcast", {2, false}}, {"refuses", {0, false}},  {"progress", {2, false}},
      {"waitprogress", {1, false}}, {"gone", {0, false}},  {"none", {0, true}},
      {"shot", {0, true}},      {"sleep", {1, false}},     {"echo", {0, false}},
      {"systext", {2, false}},
  };
  return verbs;
}

}  // namespace

bool ParseNumber(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (end == nullptr || *end != '\0') return false;
  *value = v;
  return true;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char c = text[i + 1];
      if (c == 'r') { out += '\r'; ++i; continue; }
      if (c == 'n') { out += '\n'; ++i; continue; }
      if (c == '\\') { out += '\\'; ++i; continue; }
    }
    out += text[i];
  }
  return out;
}

bool ParseScript(const std::vector<std::string>& lines, std::vector<Step>* steps,
                 std::string* error) {
  steps->clear();
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::string line = Trim(lines[n]);
    if (line.empty() || line[0] == '#') continue;
    Step step;
    step.line = static_cast<int>(n + 1);
    const std::size_t space = line.find_first_of(" \t");
    step.verb = line.substr(0, space);
    const std::string after = space == std::string::npos ? "" : Trim(line.substr(space + 1));
    std::istringstream words(after);
    for (std::string w; words >> w;) step.words.push_back(w);
    auto fail = [&](const std::string& why) {
      *error = "line " + std::to_string(step.line) + ": " + why;
      return false;
    };
    const auto verb = Verbs().find(step.verb);
    if (verb == Verbs().end()) return fail("unknown step '" + step.verb + "'");
    const Shape shape = verb->second;
    if (static_cast<int>(step.words.size()) < shape.numbers) return fail("too few numbers");
    for (int i = 0; i < shape.numbers; ++i) {
      long long v = 0;
      if (!ParseNumber(step.words[static_cast<std::size_t>(i)], &v)) {
        return fail("not a number: '" + step.words[static_cast<std::size_t>(i)] + "'");
      }
    }
    // The text is what follows the leading numbers, kept with its inner blanks.
    std::string rest = after;
    for (int i = 0; i < shape.numbers; ++i) {
      const std::size_t at = rest.find_first_of(" \t");
      rest = at == std::string::npos ? "" : Trim(rest.substr(at));
    }
    step.rest = Unescape(rest);
    if (shape.text && step.rest.empty()) return fail("'" + step.verb + "' needs a text");
    if (step.verb == "key" && step.rest != "escape" && step.rest != "enter") {
      return fail("key is escape or enter");
    }
    steps->push_back(step);
  }
  return true;
}

}  // namespace robot
