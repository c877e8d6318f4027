// robot.exe: waits for the utility's windows, reads them, presses their buttons and
// asks them the session-end and power queries, as a script says (see Script.h).
//   robot.exe STEP [STEP...]      one step per argument
//   robot.exe -f SCRIPT           one step per line of a UTF-8 file
// Exit code: 0 all expectations held, 1 one failed, 2 the script is wrong.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Robot.h"
#include "Script.h"

namespace {

std::string Utf8(const wchar_t* wide) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> lines;
  for (int i = 1; i < count; ++i) {
    const std::string argument = Utf8(arguments[i]);
    if (argument == "-f" && i + 1 < count) {
      std::ifstream file(arguments[++i]);
      if (!file) {
        std::fprintf(stderr, "robot: cannot read %s\n", Utf8(arguments[i]).c_str());
        return 2;
      }
      for (std::string line; std::getline(file, line);) lines.push_back(line);
    } else {
      lines.push_back(argument);
    }
  }
  ::LocalFree(arguments);
  std::vector<robot::Step> steps;
  std::string error;
  if (!robot::ParseScript(lines, &steps, &error)) {
    std::fprintf(stderr, "robot: %s\n", error.c_str());
    return 2;
  }
  return robot::Play(steps);
}
