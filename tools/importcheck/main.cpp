// importcheck: refuses a program that imports anything outside an allow-list.
//
//   importcheck --allow LIST [--require DLL!Function]... PROGRAM...
//   importcheck --list PROGRAM...
//
// LIST holds one DLL!Function per line ('#' starts a comment). DLL names match
// without regard to case, function names exactly. Exit 0 when every import of
// every program is allowed and every --require is present in each program,
// 1 when not, 2 when a file cannot be read or parsed.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "PeImports.h"

namespace {

using qx::importcheck::Import;
using qx::importcheck::ImportTable;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Key(const std::string& dll, const std::string& function) {
  return Lower(dll) + "!" + function;
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// "DLL!Function" into its lookup key; false when the line has no '!'.
bool ParseEntry(const std::string& entry, std::string* key) {
  const auto bang = entry.find('!');
  if (bang == std::string::npos || bang == 0 || bang + 1 == entry.size()) return false;
  *key = Key(entry.substr(0, bang), entry.substr(bang + 1));
  return true;
}

bool ReadAllowList(const std::string& path, std::set<std::string>* allowed) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "importcheck: cannot read %s\n", path.c_str());
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const auto hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line = Trim(line);
    if (line.empty()) continue;
    std::string key;
    if (!ParseEntry(line, &key)) {
      std::fprintf(stderr, "importcheck: %s:%d: expected DLL!Function\n", path.c_str(), number);
      return false;
    }
    allowed->insert(key);
  }
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: importcheck --allow LIST [--require DLL!Function]... PROGRAM...\n"
               "       importcheck --list PROGRAM...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string allowPath;
  bool listOnly = false;
  std::vector<std::string> required;
  std::vector<std::string> programs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--allow" && i + 1 < argc) {
      allowPath = argv[++i];
    } else if (arg == "--require" && i + 1 < argc) {
      required.push_back(argv[++i]);
    } else if (arg == "--list") {
      listOnly = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage();
    } else {
      programs.push_back(arg);
    }
  }
  if (programs.empty() || (allowPath.empty() && !listOnly)) return Usage();

  std::set<std::string> allowed;
  if (!listOnly && !ReadAllowList(allowPath, &allowed)) return 2;
  std::vector<std::string> requiredKeys;
  for (const std::string& entry : required) {
    std::string key;
    if (!ParseEntry(entry, &key)) return Usage();
    requiredKeys.push_back(key);
  }

  int result = 0;
  for (const std::string& program : programs) {
    std::vector<std::uint8_t> data;
    ImportTable table;
    std::string error;
    if (!ReadFile(program, &data)) {
      std::fprintf(stderr, "importcheck: cannot read %s\n", program.c_str());
      return 2;
    }
    if (!qx::importcheck::ReadImports(data, &table, &error)) {
      std::fprintf(stderr, "importcheck: %s: %s\n", program.c_str(), error.c_str());
      return 2;
    }
    if (listOnly) {
      for (const Import& import : table.imports) {
        std::printf("%s!%s\n", import.dll.c_str(), import.function.c_str());
      }
      for (const std::string& dll : table.delayLoadedDlls) std::printf("%s (delay-loaded)\n", dll.c_str());
      continue;
    }
    std::set<std::string> present;
    int refused = 0;
    for (const Import& import : table.imports) {
      const std::string key = Key(import.dll, import.function);
      present.insert(key);
      if (allowed.count(key) == 0) {
        std::printf("%s: not allowed: %s!%s\n", program.c_str(), import.dll.c_str(),
                    import.function.c_str());
        ++refused;
      }
    }
    for (const std::string& dll : table.delayLoadedDlls) {
      std::printf("%s: not allowed: delay-loaded %s\n", program.c_str(), dll.c_str());
      ++refused;
    }
    for (std::size_t i = 0; i < requiredKeys.size(); ++i) {
      if (present.count(requiredKeys[i]) == 0) {
        std::printf("%s: missing required import %s\n", program.c_str(), required[i].c_str());
        ++refused;
      }
    }
    if (table.imports.empty()) {
      std::printf("%s: no imports found\n", program.c_str());
      ++refused;
    }
    if (refused == 0) {
      std::printf("%s: all %u imports allowed\n", program.c_str(),
                  static_cast<unsigned>(table.imports.size()));
    } else {
      result = 1;
    }
  }
  return result;
}
