#pragma once
// The whole utility as a Windows program: the seams, the one device, the dialogs'
// views and the start-up and exit routines. The product runs it over the real
// pass-through port; the simulated program over simulated drives.
#include <cstdint>
#include <string>

#include "platform/AspiManager.h"
#include "platform/PassThroughPort.h"
#include "platform/Threads.h"

namespace qx {

struct ProgramParts {
  PassThroughPort* passThroughPort = nullptr;
  AspiManager* aspiManager = nullptr;
  Threads* threads = nullptr;
  // Divides the main dialog's timer periods (1 for the product).
  std::uint32_t timerDivisor = 1;
};

// Runs the start-up routine and then the exit routine; returns the exit code.
int RunUpdateProgram(const ProgramParts& parts);

// The running executable's full path, empty when the system cannot say.
std::string ModulePath();
// The file name of `path` without folder and extension: "C:\x\qxupdate.exe" -> "qxupdate".
std::string ApplicationNameOf(const std::string& path);

}  // namespace qx
