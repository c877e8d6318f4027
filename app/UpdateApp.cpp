#include "app/UpdateApp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/ChangeJournal.h"
#include "app/LoggedRegistry.h"
#include "app/ProfileStore.h"
#include "app/RegistryKey.h"
#include "app/RestartResume.h"
#include "device/Inquiry.h"
#include "device/ScsiDevice.h"
#include "device/VendorPage.h"
#include "platform/AsciiText.h"
#include "platform/Threads.h"
#include "update/UpdateLog.h"
#include "update/VersionCheck.h"

namespace qx {

using namespace inquiry;

namespace {

constexpr char kMutexNameGlobal[] = "Global\\MERIDO";
constexpr char kMutexNameLocal[] = "MERIDO";
constexpr char kMakerKeyName[] = "Velmora_ODD";
constexpr std::size_t kEntryVendorOffset = 5;  // in the drive list text

constexpr std::uint8_t kAcOffline = 0;  // 1 on AC power, 255 unknown

constexpr std::uint32_t kReadLength = 2048;
constexpr std::uint32_t kReadBlock = 16;
}  // namespace

const char* StartupEndName(StartupEnd end) {
  switch (end) {
    case StartupEnd::NotRun: return "NotRun";
    case StartupEnd::VersionQueryFailed: return "VersionQueryFailed";
    case StartupEnd::UnknownPlatform: return "UnknownPlatform";
    case StartupEnd::PowerQueryFailed: return "PowerQueryFailed";
    case StartupEnd::NotOnAcPower: return "NotOnAcPower";
    case StartupEnd::SecondInstance: return "SecondInstance";
    case StartupEnd::DriveNotFound: return "DriveNotFound";
    case StartupEnd::FirmwareCurrent: return "FirmwareCurrent";
    case StartupEnd::TermsDeclined: return "TermsDeclined";
    case StartupEnd::RebootCancelled: return "RebootCancelled";
    case StartupEnd::Prepared: return "Prepared";
    case StartupEnd::PreparationFailed: return "PreparationFailed";
    case StartupEnd::UnsupportedSystem: return "UnsupportedSystem";
    case StartupEnd::LeftAsIs: return "LeftAsIs";
    case StartupEnd::RestoredRestart: return "RestoredRestart";
  }
  return "?";
}

UpdateApp::UpdateApp(const Platform& platform, ScsiDevice& device, UpdateAppViews views,
                     std::string applicationName, const ImageTable& images)
    : platform(platform),
      device(device),
      views(views),
      applicationName(std::move(applicationName)),
      images(images),
      // Held until this copy holds the single-instance lock (see InitInstance).
      log(std::make_unique<UpdateLog>(platform.logFile, *platform.threads, true)) {
  if (platform.logFile != nullptr && platform.registry != nullptr) {
    loggedRegistry = std::make_unique<LoggedRegistry>(
        *platform.registry, *log, std::string("HKCU\\Software\\") + kMakerKeyName);
    this->platform.registry = loggedRegistry.get();
  }
}

UpdateApp::~UpdateApp() = default;

bool UpdateApp::Finish(StartupEnd how) {
  end = how;
  log->Write(std::string("end: ") + StartupEndName(how) +
             (mainEndCode >= 0 ? ", main dialog end code " + std::to_string(mainEndCode) : ""));
  return false;
}

void UpdateApp::RequestRestart(RestartResume& restart, const char* why) {
  Enter(__func__);
  // What this start wrote reaches the disk before the system goes down.
  platform.registry->FlushKey(reg::kCurrentUser);
  platform.registry->FlushKey(reg::kLocalMachine);
  log->Write(std::string("restart requested: ") + why);
  std::string failure;
  log->Write(restart.RestartSystem(isNtFamily, &failure)
                 ? "the system accepted the restart request"
                 : "the restart request failed: " + failure);
}

void UpdateApp::LogStart(const VersionInfo& version) {
  // Windows 98 SE says " A ".
  const std::string servicePack = ascii::Trim(version.servicePack);
  char text[160];
  std::snprintf(text, sizeof text, "platform %s %u.%u build %u%s%s (%s), code page %d (%s)",
                version.platformId == sys::kPlatformNt ? "Windows NT family"
                                                       : "Windows 95/98/ME",
                static_cast<unsigned>(version.majorVersion),
                static_cast<unsigned>(version.minorVersion),
                static_cast<unsigned>(version.buildNumber),
                servicePack.empty() ? "" : ", ", servicePack.c_str(),
                isNtFamily ? "SCSI pass-through" : "ASPI", codePage,
                language == Language::Japanese ? "Japanese" : "English");
  log->Write(text);
  if (!isNtFamily) log->Write("ASPI manager: " + device.Aspi().LoadReport());
}

// From Windows Vista on, the system starts the resume value of the Run key without
// administrator rights: the start after the restart could neither reach the drive nor
// put the settings back. So such a system is told where the utility runs and left
// alone, before the registry or a drive is touched.
bool UpdateApp::RefusedAsTooNew(const VersionInfo& version) {
  if (version.platformId != sys::kPlatformNt || version.majorVersion < kFirstRefusedNtMajor) {
    return false;
  }
  ShowPlainMessage(Text(TextId::UnsupportedSystem, language));
  return true;
}

void UpdateApp::Yield() { platform.threads->Sleep(0); }

void UpdateApp::RestoreScreenSaver() {
  if (screenSaverActive == 1) platform.system->SetScreenSaverActive(1);
}

void UpdateApp::ShowPlainMessage(const std::string& text) {
  platform.system->MessageBox(0, text, Text(TextId::Caption, language), sys::kMbOk);
}

// The start-up routine, one named step after another; each step that ends the run
// says how (Finish) and returns false.
bool UpdateApp::InitInstance() {
  ReadCodePage();
  if (!DetectPlatform()) return false;
  if (!CheckPower()) return false;
  if (!TakeInstanceLock()) return false;
  BeginLog();
  PauseScreenSaver();
  if (!CheckForUpdate()) return false;
  TakeResumeEntry();
  if (!AskTerms()) return false;
  return PrepareOrUpdate();
}

void UpdateApp::Enter(const char* stepName) { step = stepName; }

void UpdateApp::ReadCodePage() {
  Enter(__func__);
  codePage = platform.system->CodePage();
  language = LanguageFor(codePage);
}

bool UpdateApp::DetectPlatform() {
  Enter(__func__);
  VersionInfo version;
  if (!platform.system->GetVersion(&version)) return Finish(StartupEnd::VersionQueryFailed);
  if (version.platformId == sys::kPlatformWindows) {
    isNtFamily = false;
  } else if (version.platformId == sys::kPlatformNt) {
    isNtFamily = true;
  } else {
    return Finish(StartupEnd::UnknownPlatform);
  }
  majorVersion = version.majorVersion;
  LogStart(version);
  if (RefusedAsTooNew(version)) return Finish(StartupEnd::UnsupportedSystem);
  device.SetUsePassThrough(isNtFamily);
  return true;
}

bool UpdateApp::CheckPower() {
  Enter(__func__);
  if (isNtFamily && !ModernNt()) return true;
  std::uint8_t acLine = 0;
  if (!platform.system->GetPowerStatus(&acLine)) return Finish(StartupEnd::PowerQueryFailed);
  log->Write("power: AC line status " + std::to_string(acLine) +
             (acLine == 1 ? " (on AC power)" : acLine == kAcOffline ? " (on battery)" : " (unknown)"));
  // Desktops without power management report 255 (unknown): they run on mains.
  if (acLine == kAcOffline) {
    ShowPlainMessage(Text(TextId::AcPowerRequired, language));
    return Finish(StartupEnd::NotOnAcPower);
  }
  return true;
}

bool UpdateApp::TakeInstanceLock() {
  Enter(__func__);
  std::uint32_t lastError = 0;
  instanceMutex =
      platform.system->CreateMutex(ModernNt() ? kMutexNameGlobal : kMutexNameLocal, &lastError);
  if (instanceMutex == 0 || lastError == sys::kErrorAlreadyExists) {
    return Finish(StartupEnd::SecondInstance);
  }
  return true;
}

// Only the copy that holds the lock writes the log (what came before is held): a
// second copy started during an update would otherwise trim the first one's log and
// write its own run into the middle of it.
void UpdateApp::BeginLog() {
  Enter(__func__);
  log->BeginRun(applicationName + " " + Text(TextId::AboutVersion, Language::English) + " for " +
                kModelName);
}

void UpdateApp::PauseScreenSaver() {
  Enter(__func__);
  System& system = *platform.system;
  screenSaverActive = 0;
  if (!system.GetScreenSaverActive(&screenSaverActive)) screenSaverActive = 0;
  if (screenSaverActive == 1) system.SetScreenSaverActive(0);
}

bool UpdateApp::CheckForUpdate() {
  Enter(__func__);
  DriveCheckResult check = CheckDrives();
  if (check.updateNeeded) return true;
  if (check.firmwareCurrent) {
    ShowPlainMessage(Text(TextId::FirmwareCurrent, language));
  } else {
    ShowPlainMessage(FormatText(Text(TextId::TargetNotFound, language),
                                Text(TextId::ModelName, language)));
  }
  RestoreLeftoverJournal();
  RestoreScreenSaver();
  return Finish(check.firmwareCurrent ? StartupEnd::FirmwareCurrent : StartupEnd::DriveNotFound);
}

void UpdateApp::TakeResumeEntry() {
  Enter(__func__);
  RestartResume restart(*platform.registry, *platform.system, *platform.threads, kMakerKeyName);
  char path[kModulePathSize] = {};
  std::uint32_t pathLength = platform.system->GetModuleFileName(path, kModulePathSize);
  if (pathLength == 0 || pathLength >= kModulePathSize || applicationName.empty()) {
    noResumeEntry = true;
  } else {
    RestartResume::ResumeState state = restart.TakeResumeEntry(applicationName);
    resumed = state.resumed;
    noResumeEntry = state.noResumeEntry;
  }
  log->Write(resumed ? "started again after the restart (resume entry found and removed)"
                     : noResumeEntry ? "no resume entry can be written" : "first start");
  modulePath.assign(path, noResumeEntry ? 0 : pathLength);
}

bool UpdateApp::AskTerms() {
  Enter(__func__);
  if (resumed) return true;
  TermsDialog terms(language);
  terms.SetModelName(Text(TextId::ModelName, Language::English));
  if (terms.Show(*views.terms) == TermsDialog::kNotAgree) {
    RestoreScreenSaver();
    return Finish(StartupEnd::TermsDeclined);
  }
  log->Write("terms accepted");
  return true;
}

bool UpdateApp::PrepareOrUpdate() {
  Enter(__func__);
  RestartResume restart(*platform.registry, *platform.system, *platform.threads, kMakerKeyName);
  // The application name names every key of the utility's own; without one there
  // is none, and nothing of the registry's is touched (see HasName).
  bool makerKeyPreexisted = HasName() && restart.ReadMakerKeyFlag(applicationName);

  ProfileStore profile(*platform.registry, applicationName);
  ChangeJournal journal(*platform.registry, profile, isNtFamily);
  if (journal.Scan(false)) return PreparationPath(restart, profile, journal, noResumeEntry,
                                                  makerKeyPreexisted);
  return MainPath(restart, profile, journal, makerKeyPreexisted);
}

bool UpdateApp::PreparationPath(RestartResume& restart, ProfileStore& profile,
                                ChangeJournal& journal, bool noResumeEntry,
                                bool makerKeyPreexisted) {
  Enter(__func__);
  if (!HasName()) {
    // No journal can be kept, so no setting may be changed: say so at once.
    ShowPlainMessage(Text(TextId::PreparationFailed, language));
    RestoreScreenSaver();
    return Finish(StartupEnd::PreparationFailed);
  }
  const TextId confirm = noResumeEntry ? TextId::RebootConfirmNoResume : TextId::RebootConfirm;
  if (ShowNotice(MessageDialogKind::Reboot, language, *views.notices, confirm) == kIdCancel) {
    RestoreScreenSaver();
    return Finish(StartupEnd::RebootCancelled);
  }

  const bool profileExisted = ProfileKeyExists();
  profile.SetRegistryKeyName(kMakerKeyName);
  changedCount = profile.GetInt("", "Changed", 0);
  // A profile key this start made says at once whether the maker's key was there
  // before: the flag then reaches the disk with the first record, and a stop later
  // cannot leave the maker's key looking like the user's own.
  if (!profileExisted) restart.WriteMakerKeyFlag(applicationName, makerKeyPreexisted);
  journal.changedCount = changedCount;
  journal.Scan(true);
  if (journal.settingsChanged == 0 && journal.RecordCount() > 0) {
    // An earlier start changed settings and journalled them, and this one can add
    // nothing (the profile can no longer be written): its Run value is gone, so
    // nothing would ever put them back. They go back now, as when no update is
    // left to make, and the user is told so.
    RestoreJournal(restart, journal, makerKeyPreexisted);
    if (changedCount == 0) restart.TakeResumeEntry(applicationName);
    ShowPlainMessage(Text(TextId::SettingsRestored, language));
    RestoreScreenSaver();
    return Finish(StartupEnd::PreparationFailed);
  }
  if (journal.settingsChanged == 0) {
    // Nothing could be journalled (the profile is not writable, the record numbers
    // are used up), so nothing was changed: a restart would bring the utility back
    // to the same settings and the same restart, for ever. Say so and stop, the
    // Run key and the flag untouched; a profile this start created goes again.
    if (!profileExisted) {
      restart.RemoveUtilityKeys(applicationName, makerKeyPreexisted, isNtFamily);
      Yield();
    }
    ShowPlainMessage(Text(TextId::PreparationFailed, language));
    RestoreScreenSaver();
    return Finish(StartupEnd::PreparationFailed);
  }
  changedCount = journal.changedCount;
  profile.WriteInt("", "Changed", changedCount);
  Yield();
  if (!noResumeEntry) restart.WriteResumeEntry(applicationName, modulePath);
  if (profileExisted) restart.WriteMakerKeyFlag(applicationName, makerKeyPreexisted);
  RestoreScreenSaver();
  RequestRestart(restart, "the changed settings take effect, then the update resumes");
  return Finish(StartupEnd::Prepared);
}

bool UpdateApp::MainPath(RestartResume& restart, ProfileStore& profile, ChangeJournal& journal,
                         bool makerKeyPreexisted) {
  Enter(__func__);
  profile.SetRegistryKeyName(kMakerKeyName);
  // Records a stored count does not cover are a journal all the same.
  changedCount = HasName() ? std::max(profile.GetInt("", "Changed", 0), journal.RecordCount()) : 0;

  MainDialog dialog(device, *platform.threads, language, images);

  ShowNotice(MessageDialogKind::Warning, language, *views.notices);

  dialog.SetChangedCount(changedCount);
  dialog.SetLog(log.get());
  char path[kModulePathSize] = {};
  const std::uint32_t length = platform.system->GetModuleFileName(path, kModulePathSize);
  const char root[4] = {path[0], ':', '\\', '\0'};
  dialog.SetProgramFile(length < kModulePathSize ? std::string(path, length) : std::string(),
                        length >= 2 ? platform.system->GetDriveType(root) : 0);
  log->Write("main dialog, " + std::to_string(changedCount) + " journalled setting(s)");
  dialog.Show(*views.mainDialog);
  mainEndCode = dialog.EndCode();

  // The dialog only ends once its worker has; should a view end it some other way,
  // the settings still wait until the drive is no longer being written.
  while (dialog.WorkerAlive()) platform.threads->Sleep(maindlg::kWorkerWaitPeriodMs);

  StartupEnd how = StartupEnd::LeftAsIs;
  if (mainEndCode != MainDialog::kEndLeaveSystem) {
    RestoreJournal(restart, journal, makerKeyPreexisted);
    RestoreScreenSaver();
    RequestRestart(restart, "the journalled settings are restored");
    how = StartupEnd::RestoredRestart;
  }
  RestoreScreenSaver();
  return Finish(how);
}

void UpdateApp::RestoreJournal(RestartResume& restart, ChangeJournal& journal,
                               bool makerKeyPreexisted) {
  Enter(__func__);
  if (!HasName()) return;
  journal.changedCount = changedCount;
  journal.Restore();
  changedCount = journal.changedCount;
  Yield();
  if (changedCount == 0) {
    restart.RemoveUtilityKeys(applicationName, makerKeyPreexisted, isNtFamily);
  }
  Yield();
}

bool UpdateApp::ProfileKeyExists() {
  RegistryKey profileKey(*platform.registry);
  return profileKey.Open(reg::kCurrentUser, ProfileKeyPath().c_str(), reg::kKeyRead) ==
         reg::kSuccess;
}

std::string UpdateApp::ProfileKeyPath() const {
  return std::string("Software\\") + kMakerKeyName + "\\" + applicationName;
}

// An earlier start changed the settings and restarted, and this one ends before the
// update: the drive has gone, or no longer needs it. Nothing else would ever put the
// settings back (DMA would stay off for good), and the Run entry would bring this
// message up at every start. So the journal is restored here, and once it is empty
// the utility's keys and its Run entry go. No restart: the settings take effect at
// the next one, which the not-found message asks for anyway. A machine that holds
// no journal is not written to at all, not even to create the profile key.
void UpdateApp::RestoreLeftoverJournal() {
  Enter(__func__);
  if (!HasName()) return;
  std::uint32_t recorded = 0;
  {
    RegistryKey profileKey(*platform.registry);
    const std::string path = ProfileKeyPath();
    if (profileKey.Open(reg::kCurrentUser, path.c_str(), reg::kKeyRead) != reg::kSuccess) return;
    if (profileKey.QueryDword(&recorded, "Changed") != reg::kSuccess) recorded = 0;
  }
  ProfileStore profile(*platform.registry, applicationName);
  profile.SetRegistryKeyName(kMakerKeyName);
  ChangeJournal journal(*platform.registry, profile, isNtFamily);
  // Whether there is a journal is up to its records: a stop after the first
  // setting changed and before "Changed" was stored leaves records it does not count.
  if (recorded == 0 && journal.RecordCount() == 0) return;
  RestartResume restart(*platform.registry, *platform.system, *platform.threads, kMakerKeyName);
  const bool makerKeyPreexisted = restart.ReadMakerKeyFlag(applicationName);
  changedCount = profile.GetInt("", "Changed", 0);
  RestoreJournal(restart, journal, makerKeyPreexisted);
  if (changedCount == 0) restart.TakeResumeEntry(applicationName);
}

int UpdateApp::ExitInstance() {
  if (instanceMutex != 0) platform.system->ReleaseMutex(instanceMutex);
  return 0;
}

DriveCheckResult UpdateApp::CheckDrives() {
  DriveCheckResult result;
  int count = device.ScanDrives();
  for (const std::string& note : device.ScanNotes()) log->Write("scan: " + note);
  for (int i = 0; i < count; ++i) {
    bool updateNeeded = false;
    if (!CheckOneDrive(i, &updateNeeded)) continue;
    if (updateNeeded) {
      result.updateNeeded = true;
      result.driveIndex = i;
      break;
    }
    result.firmwareCurrent = true;
  }
  return result;
}

bool UpdateApp::CheckOneDrive(int index, bool* updateNeeded) {
  std::string entry = device.GetDriveEntry(index);
  // The address, vendor and product as the drive list shows them.
  const std::string shown = entry.substr(0, 29);
  auto skip = [&](const std::string& why) {
    log->Write("drive " + shown + ": " + why + ", skipped");
    return false;
  };
  if (entry.size() < kEntryVendorOffset + kVendorLength ||
      entry.compare(kEntryVendorOffset, kVendorLength, kVendor) != 0) {
    return skip("another vendor");
  }
  device.SelectDrive(static_cast<std::uint8_t>(index));

  std::uint8_t buffer[kDriveBufferSize];
  // Let pending unit attentions pass. A drive that never stops reporting one would
  // hold the utility here for good, so it gets a fixed number of READs and is then
  // left out like any drive that does not answer.
  bool settled = false;
  for (int reads = 0; reads < kMaxUnitAttentionReads && !settled; ++reads) {
    std::memset(buffer, 0, sizeof buffer);
    device.SetBuffer(buffer, kReadLength);
    device.Read10(kReadBlock, 1, false, false);
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    device.GetSenseCodes(&asc, &ascq);
    settled = !sense::AnnouncesResetOrMediumChange(asc);
  }
  if (!settled) return skip("unit attention without end");

  std::memset(buffer, 0, sizeof buffer);
  device.SetBuffer(buffer, kAllocationLength);
  CommandStatus inquiry = device.Inquiry(kAllocationLength);
  if (inquiry != status::kGood) return skip("INQUIRY " + StatusText(inquiry, device));

  char revision[kRevisionLength + 1] = {};
  std::memcpy(revision, buffer + kRevisionOffset, kRevisionLength);
  std::string product = FieldText(buffer + kProductOffset, kProductLength);
  log->Write("drive " + shown + ": vendor \"" + FieldText(buffer + kVendorOffset, kVendorLength) +
             "\" product \"" + product + "\" revision \"" + revision + "\"");
  if (product.find(kProduct) == std::string::npos) return skip("another product");
  if (revision[0] != '1' || FirstCandidate(revision[1]) == kNoImage) {
    return skip("a revision no image is for");
  }

  vendorpage::IdentifyReply reply;
  vendorpage::IdentifyStep failed = vendorpage::IdentifyStep::Page;
  CommandStatus identify = vendorpage::Identify(device, buffer, &reply, &failed);
  if (identify != status::kGood) {
    return skip(std::string(failed == vendorpage::IdentifyStep::Page ? "identify page "
                                                                     : "identify reply ") +
                StatusText(identify, device));
  }

  std::string driveCode = reply.driveCode;
  std::int8_t letter = RevisionLetter(reply.letter);
  int imageIndex = FindImage(revision[1], driveCode, images);
  if (imageIndex == kNoImage) return skip("drive code \"" + driveCode + "\" fits no image");

  const FirmwareImage& image = images.Image(imageIndex);
  const std::string fits = "image " + std::to_string(imageIndex) + " (version " +
                           image.versionText + ") fits family " + revision[1] + " and code " +
                           driveCode + ": ";
  switch (Judge(revision, letter, image)) {
    case Verdict::UpdateApplies:
      log->Write("drive " + shown + ": " + fits + "the drive is older, update needed");
      *updateNeeded = true;
      return true;
    case Verdict::Current:
      log->Write("drive " + shown + ": " + fits + "the drive is current");
      *updateNeeded = false;
      return true;
    case Verdict::NoNumber:
      return skip("a revision without a number");  // not one we support
  }
  return false;
}

}  // namespace qx
