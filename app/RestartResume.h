#pragma once
#include <string>

#include "platform/Registry.h"

namespace qx {

class System;
class Threads;

// The restart cycle's registry pieces and the restart itself. Registry writes are
// followed by a yield (Sleep(0)) as the rest of the start-up does.
class RestartResume {
 public:
  RestartResume(Registry& registry, System& system, Threads& threads,
                std::string makerKeyName = "Velmora_ODD");

  struct ResumeState {
    bool resumed = false;        // our entry was in the Run key (and is now gone)
    bool noResumeEntry = false;  // the Run key can be neither created nor opened
  };
  ResumeState TakeResumeEntry(const std::string& executableName);
  // Stores the module path under the executable name in the Run key; a path with
  // spaces is stored within double quotes, so that the system cannot take a prefix
  // of it for the program to start.
  void WriteResumeEntry(const std::string& executableName, const std::string& modulePath);
  bool ReadMakerKeyFlag(const std::string& applicationName);
  void WriteMakerKeyFlag(const std::string& applicationName, bool makerKeyPreexisted);
  void RemoveUtilityKeys(const std::string& applicationName, bool makerKeyPreexisted,
                         bool isNtFamily);
  // Asks for the shutdown privilege on the NT family, then for a restart. Returns
  // whether the system took the request; when it did not, *failure (when given) names
  // the call that failed and the system's error number.
  bool RestartSystem(bool isNtFamily, std::string* failure = nullptr);

  // The resume value as it is stored for a module path.
  static std::string ResumeCommand(const std::string& modulePath);

 private:
  void Yield();

  Registry& registry;
  System& system;
  Threads& threads;
  std::string makerKeyName;
};

extern const char kRunKeyPath[];

}  // namespace qx
