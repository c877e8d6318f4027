// qxupdate.exe: the utility over the real drives.
#include "platform/win32/Win32Api.h"

#include "platform/win32/Win32AspiManager.h"
#include "platform/win32/Win32PassThroughPort.h"
#include "winapp/Win32Program.h"
#include "platform/win32/Win32Threads.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  qx::Win32PassThroughPort port;
  qx::Win32AspiManager aspi;
  qx::Win32Threads threads;
  qx::ProgramParts parts;
  parts.passThroughPort = &port;
  parts.aspiManager = &aspi;
  parts.threads = &threads;
  return qx::RunUpdateProgram(parts);
}
