#include "winapp/Win32Program.h"

#include "platform/win32/Win32Api.h"

#include <commctrl.h>

#include "app/UpdateApp.h"
#include "device/ScsiDevice.h"
#include "platform/Platform.h"
#include "winapp/Win32DialogViews.h"
#include "platform/win32/Win32LogFile.h"
#include "winapp/Win32MainDialogView.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32System.h"

namespace qx {

std::string ModulePath() {
  char path[1024] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return std::string();
  return std::string(path, length);
}

std::string ApplicationNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

int RunUpdateProgram(const ProgramParts& parts) {
  // The progress bar's window class lives in the common controls.
  ::InitCommonControls();

  Win32System system;
  Win32Registry registry;
  Win32LogFile logFile;
  Platform platform;
  platform.logFile = &logFile;
  platform.system = &system;
  platform.registry = &registry;
  platform.passThroughPort = parts.passThroughPort;
  platform.aspiManager = parts.aspiManager;
  platform.threads = parts.threads;

  // The one device, built before the start-up runs and gone after the exit routine.
  ScsiDevice device(platform);

  Win32MessageDialogView notices;  // the start-up's notices have no owner window
  Win32TermsDialogView terms;
  Win32MainDialogView mainDialog(parts.timerDivisor);
  UpdateAppViews views;
  views.notices = &notices;
  views.terms = &terms;
  views.mainDialog = &mainDialog;

  UpdateApp app(platform, device, views, ApplicationNameOf(ModulePath()));
  app.InitInstance();
  return app.ExitInstance();
}

}  // namespace qx
