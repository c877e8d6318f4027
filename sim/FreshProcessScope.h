#pragma once
// The program's state that outlives any one object: the drive tables of the last
// pass-through scan and the image the checks chose. A run in a test process starts
// from them as a fresh process would, and leaves them so for whatever runs next.
#include "device/PassThroughDevice.h"
#include "update/VersionCheck.h"

namespace qx {

class FreshProcessScope {
 public:
  FreshProcessScope() { Reset(); }
  ~FreshProcessScope() { Reset(); }
  FreshProcessScope(const FreshProcessScope&) = delete;
  FreshProcessScope& operator=(const FreshProcessScope&) = delete;

  static void Reset() {
    selectedImageIndex = 0;
    PassThroughDevice::ResetTables();
  }
};

}  // namespace qx
