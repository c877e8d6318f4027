#pragma once
#include <cstdint>

namespace qx {

// Window messages and answers the utility uses to hold off log-off, shutdown, suspend
// and standby while one of its dialogs waits for the user. The values are the
// platform's; they are spelled out here so the core stays free of system headers.
namespace winmsg {
constexpr unsigned kQueryEndSession = 0x0011;
constexpr unsigned kEndSession = 0x0016;
constexpr unsigned kClose = 0x0010;
constexpr unsigned kPower = 0x0048;
constexpr unsigned kPowerBroadcast = 0x0218;

constexpr std::uintptr_t kPwrSuspendRequest = 1;
constexpr std::uintptr_t kPbtApmQuerySuspend = 0;
constexpr std::uintptr_t kPbtApmQueryStandby = 1;

constexpr std::intptr_t kPwrFail = -1;
constexpr std::intptr_t kBroadcastQueryDeny = 0x424D5144;
}  // namespace winmsg

// Standard dialog command ids.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// What the filter decided about one message.
struct FilterAnswer {
  bool handled = false;      // true: answer with `result` and skip default processing
  std::intptr_t result = 0;
};

// Every query the filter holds off, as a dialog host asks them to check a dialog.
struct SessionEndQuery {
  unsigned message;
  std::uintptr_t wParam;
};
constexpr SessionEndQuery kSessionEndQueries[] = {
    {winmsg::kQueryEndSession, 0},
    {winmsg::kEndSession, 0},
    {winmsg::kPower, winmsg::kPwrSuspendRequest},
    {winmsg::kPowerBroadcast, winmsg::kPbtApmQuerySuspend},
    {winmsg::kPowerBroadcast, winmsg::kPbtApmQueryStandby},
};

// The one rule every dialog of the utility applies before default processing. While
// `closing` is false, queries that would end the session or put the machine to sleep
// are refused; once a button has ended the dialog nothing is held back any more.
FilterAnswer FilterSessionEnd(unsigned message, std::uintptr_t wParam, bool closing);

}  // namespace qx
