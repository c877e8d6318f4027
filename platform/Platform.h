#pragma once
// The seams between the portable core and the operating system. The core talks to
// these interfaces only; the build links the Win32 implementations (platform/win32)
// or the host ones (platform/host: in-memory registry, simulated drives, virtual clock).

namespace qx {

class System;
class Registry;
class PassThroughPort;
class AspiManager;
class Threads;
class LogFile;

// One bundle handed to every part of the core that needs the system. Not owned.
struct Platform {
  System* system = nullptr;
  Registry* registry = nullptr;
  PassThroughPort* passThroughPort = nullptr;
  AspiManager* aspiManager = nullptr;  // may stay null until the ASPI transport needs it
  Threads* threads = nullptr;
  LogFile* logFile = nullptr;  // null: no update log is kept
};

}  // namespace qx
