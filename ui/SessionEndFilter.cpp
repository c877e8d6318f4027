#include "ui/SessionEndFilter.h"

namespace qx {

FilterAnswer FilterSessionEnd(unsigned message, std::uintptr_t wParam, bool closing) {
  if (closing) return {};
  switch (message) {
    case winmsg::kQueryEndSession:
    case winmsg::kEndSession:
      return {true, 0};
    case winmsg::kPower:
      if (wParam == winmsg::kPwrSuspendRequest) return {true, winmsg::kPwrFail};
      return {};
    case winmsg::kPowerBroadcast:
      if (wParam == winmsg::kPbtApmQuerySuspend || wParam == winmsg::kPbtApmQueryStandby) {
        return {true, winmsg::kBroadcastQueryDeny};
      }
      return {};
    default:
      return {};
  }
}

}  // namespace qx
