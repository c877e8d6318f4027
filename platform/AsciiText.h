#pragma once
// Small text helpers over plain ASCII, for the registry paths, the simulations'
// files and the fuzzers. No locale and no C runtime call: Windows 98's runtime must
// do for the product, and the answers must not change with the machine's settings.
#include <cstddef>
#include <string>
#include <vector>

namespace qx {
namespace ascii {

inline char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string Upper(std::string text) {
  for (char& c : text) c = Upper(c);
  return text;
}

inline std::string Lower(std::string text) {
  for (char& c : text) c = Lower(c);
  return text;
}

inline bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Without the blanks at either end.
inline std::string Trim(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// The runs of `text` between any of the characters of `separators`; empty runs are
// dropped, as the registry drops empty path components.
inline std::vector<std::string> Split(const std::string& text, const char* separators) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : text) {
    bool separator = false;
    for (const char* s = separators; *s != '\0'; ++s) separator = separator || c == *s;
    if (!separator) {
      current += c;
    } else if (!current.empty()) {
      parts.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

}  // namespace ascii
}  // namespace qx
