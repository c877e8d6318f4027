#pragma once
// The robot's script: one step per line (or per command-line argument).
//
//   wait CAPTION [| TEXT]     a visible window titled exactly CAPTION (with a control
//                             whose text contains TEXT) becomes the current window
//   waitid ID CAPTION         ... titled CAPTION and holding control ID
//   timeout MS                how long the waits wait from now on (default 20000)
//   caption TEXT              the current window's caption is exactly TEXT
//   text ID TEXT              control ID holds exactly TEXT
//   contains ID TEXT          control ID's text contains TEXT
//   systext ID N              control ID's text contains the system's own message
//                             text for error N (FormatMessageW, this locale)
//   enabled ID / disabled ID  control ID is (not) enabled
//   click ID                  posts BM_CLICK to control ID (works on disabled ones too)
//   command ID                posts WM_COMMAND ID to the window
//   key escape|enter          a key press at the window's focus, as a user would
//   close                     posts WM_CLOSE
//   query N                   WM_QUERYENDSESSION is answered N
//   endsession N              WM_ENDSESSION is answered N
//   power N                   WM_POWER PWR_SUSPENDREQUEST is answered N
//   broadcast W N             WM_POWERBROADCAST with wParam W is answered N
//   refuses                   the four queries above are all refused
//   progress LOW HIGH         the progress bar (1012) is between LOW and HIGH
//   waitprogress LOW          waits until the progress bar reaches LOW
//   gone                      waits until the current window is destroyed
//   none CAPTION              no window titled CAPTION exists (now)
//   shot FILE                 saves the current window as a BMP file
//   sleep MS
//   echo TEXT
//
// Numbers are decimal or 0x hexadecimal; N may be negative. "\r", "\n" and "\\"
// in a text stand for themselves; blank lines and lines starting with # are skipped.
#include <string>
#include <vector>

namespace robot {

struct Step {
  int line = 0;
  std::string verb;
  std::vector<std::string> words;  // the words after the verb
  std::string rest;                // everything after the verb, unescaped
};

// False with "line N: why" in *error for a step the robot does not know or whose
// arguments do not fit.
bool ParseScript(const std::vector<std::string>& lines, std::vector<Step>* steps,
                 std::string* error);
bool ParseNumber(const std::string& text, long long* value);
std::string Unescape(const std::string& text);

}  // namespace robot
