#pragma once
#include <string>
#include <vector>

#include "Script.h"

namespace robot {

// Plays the steps in order, printing one line per step. Returns 0 when every
// expectation held, 1 at the first that did not (after saying why).
int Play(const std::vector<Step>& steps);

}  // namespace robot
