#pragma once
// The whole run of the utility: the start-up routine checks the platform, the power
// source and the single-instance lock, pauses the screen saver, looks for a drive
// that needs the update, and then either ends with a message, prepares the system
// and restarts it, or shows the main dialog and restores the system afterwards.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/System.h"
#include "ui/MainDialog.h"
#include "ui/MessageDialog.h"
#include "ui/TermsDialog.h"
#include "update/ImageTable.h"

namespace qx {

class ScsiDevice;
class RestartResume;
class ProfileStore;
class ChangeJournal;
class LoggedRegistry;
class UpdateLog;

// The dialogs' views. Not owned. `notices` shows the Reboot and Warning notices
// without an owner window.
struct UpdateAppViews {
  MessageDialogView* notices = nullptr;
  TermsDialogView* terms = nullptr;
  MainDialogView* mainDialog = nullptr;
};

// Where a start-up ended, for the tests and the transcript; the program itself
// only ever returns false.
enum class StartupEnd {
  NotRun,
  VersionQueryFailed,
  UnknownPlatform,
  PowerQueryFailed,
  NotOnAcPower,
  SecondInstance,
  DriveNotFound,
  FirmwareCurrent,
  TermsDeclined,
  RebootCancelled,
  Prepared,         // settings changed and journalled, restart requested
  PreparationFailed,  // none of the settings could be changed: told so, no restart
  UnsupportedSystem,  // Windows Vista or later: told which systems, nothing touched
  LeftAsIs,         // main dialog ended with 2: nothing restored, no restart
  RestoredRestart,  // main dialog ended otherwise: journal restored, restart requested
};

const char* StartupEndName(StartupEnd end);

// The drive check's verdict over every candidate drive.
struct DriveCheckResult {
  bool updateNeeded = false;
  bool firmwareCurrent = false;
  int driveIndex = -1;  // the drive that needs the update, still selected
};

class UpdateApp {
 public:
  // A drive that keeps reporting a unit attention is given this many READs before
  // it is left out of the check.
  static constexpr int kMaxUnitAttentionReads = 20;
  static constexpr std::uint32_t kModulePathSize = 1020;
  static constexpr std::uint32_t kDriveBufferSize = 3000;
  // Windows Vista's major version: from it on the utility does not run.
  static constexpr std::uint32_t kFirstRefusedNtMajor = 6;

  // `applicationName` is the executable's file name without its extension: it names
  // the profile key and the resume value.
  UpdateApp(const Platform& platform, ScsiDevice& device, UpdateAppViews views,
            std::string applicationName, const ImageTable& images = BuiltInImages());
  ~UpdateApp();

  // The start-up routine. Always false: the process ends when it returns.
  bool InitInstance();
  // The exit routine: releases the single-instance mutex. Returns the exit code 0.
  int ExitInstance();

  // The drive check over the device's candidate drives.
  DriveCheckResult CheckDrives();

  // --- What the run left, for the tests -------------------------------------
  StartupEnd End() const { return end; }
  int changedCount = 0;
  bool isNtFamily = false;
  SysHandle instanceMutex = 0;
  std::uint32_t screenSaverActive = 0;
  int codePage = 0;
  int mainEndCode = -1;  // the main dialog's end code, -1 when it was not shown
  // The step of the start-up the run is in, by its function's name.
  const char* step = "";

 private:
  // The start-up's steps, in their order; those that return false ended the run.
  void ReadCodePage();
  bool DetectPlatform();
  bool CheckPower();
  bool TakeInstanceLock();
  void BeginLog();
  void PauseScreenSaver();
  bool CheckForUpdate();
  void TakeResumeEntry();
  bool AskTerms();
  bool PrepareOrUpdate();
  void Enter(const char* stepName);
  // Windows 2000 and later: a global mutex, and the power check.
  bool ModernNt() const { return isNtFamily && majorVersion >= 5; }

  bool Finish(StartupEnd how);
  bool RefusedAsTooNew(const VersionInfo& version);
  void RestoreScreenSaver();
  void RestoreLeftoverJournal();
  // False when the module path gave no application name: the profile key would be
  // the maker's key itself, shared with other programs, so the registry is not
  // touched at all then.
  bool HasName() const { return !applicationName.empty(); }
  bool ProfileKeyExists();
  std::string ProfileKeyPath() const;
  void RestoreJournal(RestartResume& restart, ChangeJournal& journal, bool makerKeyPreexisted);
  void Yield();
  void ShowPlainMessage(const std::string& text);
  bool PreparationPath(RestartResume& restart, ProfileStore& profile, ChangeJournal& journal,
                       bool noResumeEntry, bool makerKeyPreexisted);
  bool MainPath(RestartResume& restart, ProfileStore& profile, ChangeJournal& journal,
                bool makerKeyPreexisted);
  // One drive of the check: false when it is skipped; otherwise *updateNeeded says
  // whether it is older than its image.
  bool CheckOneDrive(int index, bool* updateNeeded);
  void LogStart(const VersionInfo& version);
  void RequestRestart(RestartResume& restart, const char* why);

  Platform platform;
  ScsiDevice& device;
  UpdateAppViews views;
  std::string applicationName;
  const ImageTable& images;
  Language language = Language::English;
  std::uint32_t majorVersion = 0;
  std::string modulePath;
  bool resumed = false;        // the resume entry was there, and is now gone
  bool noResumeEntry = false;  // none can be written
  StartupEnd end = StartupEnd::NotRun;
  std::unique_ptr<UpdateLog> log;
  std::unique_ptr<LoggedRegistry> loggedRegistry;  // takes platform.registry's place
};

}  // namespace qx
