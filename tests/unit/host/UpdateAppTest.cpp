// The start-up routine on a simulated machine: every way it can end, the drive
// check's verdicts, and the restart cycle around the main dialog.
#include "app/UpdateApp.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "IconvText.h"
#include "StartupRig.h"
#include "update/UpdateLog.h"

namespace qx {
namespace {

using startuptest::Machine;
using Names = std::vector<std::string>;

const std::string kNotFound =
    "Target CD-Drive not found, The Update applies to VELMORA DVD-ROM QX-M4471 CD-Drives "
    "Only.\r\nIf you insert a drive, please restart the computer and retry the update operation.";
const std::string kCurrent = "The firmware is current. The Update is not needed.";
const std::string kAcPower = "Try again after AC adapter connect the system.";

int CommandsWithOpcode(const SimDrive& drive, std::uint8_t opcode) {
  int n = 0;
  for (const SimCommandRecord& record : drive.Log()) n += record.cdb[0] == opcode ? 1 : 0;
  return n;
}

TEST(UpdateAppStart, SilentEndsLeaveNoTrace) {
  struct Case {
    const char* name;
    void (*setUp)(Machine&);
    StartupEnd expected;
  };
  const Case cases[] = {
      {"version query fails", [](Machine& m) { m.system.versionQueryFails = true; },
       StartupEnd::VersionQueryFailed},
      {"platform 0", [](Machine& m) { m.system.version.platformId = 0; },
       StartupEnd::UnknownPlatform},
      {"platform 3", [](Machine& m) { m.system.version.platformId = 3; },
       StartupEnd::UnknownPlatform},
      {"power query fails", [](Machine& m) { m.system.powerQueryFails = true; },
       StartupEnd::PowerQueryFailed},
      {"mutex not created", [](Machine& m) { m.system.mutexCreationFails = true; },
       StartupEnd::SecondInstance},
  };
  for (const Case& c : cases) {
    Machine m;
    m.AddDrive('E', "1005");
    c.setUp(m);
    EXPECT_EQ(m.Run(), c.expected) << c.name;
    EXPECT_FALSE(m.returned) << c.name;
    EXPECT_TRUE(m.system.messageBoxes.empty()) << c.name;
    EXPECT_TRUE(m.dialogs.Shown().empty()) << c.name;
    EXPECT_TRUE(m.system.screenSaverChanges.empty()) << c.name;
    EXPECT_EQ(m.registry.writeCount(), 0u) << c.name;
    EXPECT_TRUE(m.port.Drive('E')->Log().empty()) << c.name;
    EXPECT_EQ(m.logFile.text, "") << c.name;
  }
}

TEST(UpdateAppStart, OnlyAMachineOffMainsGetsTheAcMessage) {
  Machine battery;
  battery.AddDrive('E', "1005");
  battery.system.acLineStatus = 0;
  EXPECT_EQ(battery.Run(), StartupEnd::NotOnAcPower);
  EXPECT_EQ(battery.Messages(), Names{kAcPower});
  EXPECT_TRUE(battery.system.screenSaverChanges.empty());
  EXPECT_EQ(battery.system.openMutexCount(), 0u);
  EXPECT_TRUE(battery.port.Drive('E')->Log().empty());

  // Windows 95/98/ME has the same check (only NT 4 goes without one).
  Machine windows98;
  windows98.AddDrive('E', "1005");
  windows98.system.version = VersionInfo{4, 10, sys::kPlatformWindows};
  windows98.system.acLineStatus = 0;
  EXPECT_EQ(windows98.Run(), StartupEnd::NotOnAcPower);
  EXPECT_EQ(windows98.Messages(), Names{kAcPower});
  EXPECT_EQ(windows98.system.openMutexCount(), 0u);
  EXPECT_EQ(windows98.registry.writeCount(), 0u);

  // A desktop without power management says "unknown": it runs on mains.
  for (std::uint8_t status : {std::uint8_t{1}, std::uint8_t{255}}) {
    Machine m;
    m.AddDrive('E', "1005");
    m.system.acLineStatus = status;
    EXPECT_EQ(m.Run(), StartupEnd::RestoredRestart) << int(status);
    EXPECT_TRUE(m.Messages().empty()) << int(status);
  }
}

TEST(UpdateAppStart, Nt4SkipsThePowerCheckAndUsesTheLocalMutexName) {
  Machine m;
  m.AddDrive('E', "1005");
  m.system.version = VersionInfo{4, 0, sys::kPlatformNt};
  m.system.acLineStatus = 0;
  EXPECT_EQ(m.Run(), StartupEnd::RestoredRestart);
  ASSERT_FALSE(m.system.events.empty());
  EXPECT_EQ(m.system.events.front(), "MUTEX \"MERIDO\" 0");

  Machine modern;
  modern.AddDrive('E', "1005");
  modern.Run();
  EXPECT_EQ(modern.system.events.front(), "MUTEX \"Global\\MERIDO\" 0");

  Machine windows98;
  windows98.system.version = VersionInfo{4, 10, sys::kPlatformWindows};
  windows98.Run();
  EXPECT_EQ(windows98.system.events.front(), "MUTEX \"MERIDO\" 0");
  EXPECT_FALSE(windows98.device->UsePassThrough());
}

// Vista (6.0), 7 (6.1) and 10 (10.0): one message in the user's language, and not a
// single write to the registry, not even to put back a journal an XP start left.
TEST(UpdateAppStart, WindowsVistaAndLaterAreToldWhereItRunsAndLeftAlone) {
  for (std::uint32_t major : {6u, 10u}) {
    for (int codePage : {1252, 932}) {
      Machine m;
      m.AddDrive('E', "1005");
      m.system.version = VersionInfo{major, major == 6 ? 1u : 0u, sys::kPlatformNt};
      m.system.codePage = codePage;
      m.registry.PutDword(reg::kCurrentUser, startuptest::kProfileKey, "Changed", 1);
      const std::size_t writesBefore = m.registry.writeCount();
      const std::string at = std::to_string(major) + ", code page " + std::to_string(codePage);
      EXPECT_EQ(m.Run(), StartupEnd::UnsupportedSystem) << at;
      EXPECT_EQ(m.Messages(), Names{Text(TextId::UnsupportedSystem, LanguageFor(codePage))}) << at;
      EXPECT_TRUE(m.dialogs.Shown().empty()) << at;
      EXPECT_EQ(m.system.openMutexCount(), 0u) << at;
      EXPECT_TRUE(m.system.screenSaverChanges.empty()) << at;
      EXPECT_EQ(m.registry.writeCount(), writesBefore) << at;
      EXPECT_TRUE(m.port.Drive('E')->Log().empty()) << at;
    }
  }
  // Windows 2000 and XP (5.x) still run.
  Machine xp;
  xp.AddDrive('E', "1005");
  xp.system.version = VersionInfo{5, 1, sys::kPlatformNt};
  EXPECT_EQ(xp.Run(), StartupEnd::RestoredRestart);
}

TEST(UpdateAppStart, ASecondCopyEndsSilentlyWhileTheFirstHoldsTheMutex) {
  auto table = std::make_shared<HostMutexTable>();
  HostSystem first(table);
  std::uint32_t error = 0;
  SysHandle held = first.CreateMutex("Global\\MERIDO", &error);
  ASSERT_NE(held, 0u);

  Machine second(table);
  second.AddDrive('E', "1005");
  // The first copy's log, long enough to be trimmed: the second copy leaves it alone.
  std::string firstLog;
  while (firstLog.size() <= UpdateLog::kKeptBytes) {
    firstLog += "2005-12-01 00:00:00 command 1D SEND DIAGNOSTIC page C0 01 -> 01\n";
  }
  second.logFile.text = firstLog;
  EXPECT_EQ(second.Run(), StartupEnd::SecondInstance);
  EXPECT_EQ(second.logFile.text, firstLog);
  EXPECT_TRUE(second.system.messageBoxes.empty());
  EXPECT_TRUE(second.dialogs.Shown().empty());
  EXPECT_TRUE(second.system.screenSaverChanges.empty());
  EXPECT_TRUE(table->Exists("Global\\MERIDO"));
}

TEST(UpdateAppStart, ExitReleasesTheMutexItTook) {
  Machine m;
  m.AddDrive('E', "1009");
  m.Run();
  EXPECT_NE(m.app->instanceMutex, 0u);
  EXPECT_EQ(m.system.events.back(), "MUTEX RELEASE");
}

struct DriveCase {
  const char* revision;
  std::uint8_t letter;
  const char* code;
  StartupEnd expected;
};

TEST(UpdateAppDriveCheck, RevisionLetterAndCodeDecide) {
  const DriveCase cases[] = {
      {"1005", 0x41, "is", StartupEnd::RestoredRestart},
      {"1009", 0x41, "is", StartupEnd::FirmwareCurrent},
      {"1009", 0x20, "is", StartupEnd::FirmwareCurrent},
      {"1009", 0x61, "is", StartupEnd::FirmwareCurrent},
      {"1009", 0x00, "is", StartupEnd::RestoredRestart},
      {"1010", 0x41, "is", StartupEnd::FirmwareCurrent},
      {"1705", 0x41, "is", StartupEnd::RestoredRestart},
      {"1709", 0x41, "is", StartupEnd::FirmwareCurrent},
      {"1109", 0x41, "is", StartupEnd::DriveNotFound},
      {"2009", 0x41, "is", StartupEnd::DriveNotFound},
      {"1005", 0x41, "IS", StartupEnd::DriveNotFound},
      {"1005", 0x41, "xy", StartupEnd::DriveNotFound},
      {"10A5", 0x41, "is", StartupEnd::DriveNotFound},  // no number: not supported
  };
  for (const DriveCase& c : cases) {
    Machine m;
    SimDriveConfig config;
    config.revision = c.revision;
    config.letter = c.letter;
    config.driveCode = c.code;
    m.port.AddDrive('E', config);
    m.mainView.Queue({MainStep::Press(maindlg::kCancelId)});
    m.system.version = VersionInfo{5, 1, sys::kPlatformNt};
    StartupEnd end = m.Run();
    // Cancel in the main dialog with nothing journalled leaves the system alone.
    if (c.expected == StartupEnd::RestoredRestart) {
      EXPECT_EQ(end, StartupEnd::LeftAsIs) << c.revision << " " << c.code;
      EXPECT_EQ(m.DialogNames(), (Names{"Terms", "Warning"})) << c.revision;
    } else {
      EXPECT_EQ(end, c.expected) << c.revision << " " << c.code << " " << int(c.letter);
      EXPECT_EQ(m.Messages(),
                Names{c.expected == StartupEnd::FirmwareCurrent ? kCurrent : kNotFound})
          << c.revision;
      EXPECT_TRUE(m.dialogs.Shown().empty()) << c.revision;
    }
  }
}

TEST(UpdateAppDriveCheck, OtherVendorsAndEmptyListsAreNotFound) {
  Machine none;
  EXPECT_EQ(none.Run(), StartupEnd::DriveNotFound);
  EXPECT_EQ(none.Messages(), Names{kNotFound});
  EXPECT_EQ(none.system.screenSaverChanges, (std::vector<std::uint32_t>{0, 1}));

  Machine other;
  SimDriveConfig config;
  config.vendor = "OTHERCO ";
  SimDrive& drive = other.port.AddDrive('E', config);
  EXPECT_EQ(other.Run(), StartupEnd::DriveNotFound);
  // The vendor is read from the drive list: the drive itself is never addressed again.
  EXPECT_EQ(CommandsWithOpcode(drive, 0x28), 0);
}

TEST(UpdateAppDriveCheck, StopsAtTheFirstDriveThatNeedsTheUpdate) {
  Machine m;
  m.AddDrive('E', "1009");
  m.AddDrive('F', "1005");
  SimDrive& third = m.AddDrive('G', "1001");
  m.device->SetUsePassThrough(true);
  UpdateAppViews views;
  UpdateApp app(m.platform, *m.device, views, "qxupdate");
  DriveCheckResult result = app.CheckDrives();
  EXPECT_TRUE(result.updateNeeded);
  EXPECT_TRUE(result.firmwareCurrent);
  EXPECT_EQ(result.driveIndex, 1);
  EXPECT_EQ(CommandsWithOpcode(third, 0x1D), 0);
}

TEST(UpdateAppDriveCheck, UnitAttentionsPassButAnEndlessOneSkipsTheDrive) {
  Machine m;
  SimDrive& stuck = m.AddDrive('E', "1005");
  SimDrive& good = m.AddDrive('F', "1005");
  ASSERT_TRUE(stuck.Faults().Add("read10:ua=forever"));
  ASSERT_TRUE(good.Faults().Add("read10:ua=12"));
  m.device->SetUsePassThrough(true);
  UpdateAppViews views;
  UpdateApp app(m.platform, *m.device, views, "qxupdate");
  DriveCheckResult result = app.CheckDrives();
  EXPECT_TRUE(result.updateNeeded);
  EXPECT_EQ(result.driveIndex, 1);
  // Twenty READs, each tried seven times by the device layer, and no INQUIRY after them.
  EXPECT_EQ(CommandsWithOpcode(stuck, 0x28), 20 * 7);
  EXPECT_EQ(CommandsWithOpcode(stuck, 0x1D), 0);
  EXPECT_EQ(CommandsWithOpcode(good, 0x1D), 1);
}

// A disc just loaded: the READ meets 28/00 (passed by the device layer's retry)
// and then NOT READY 04/01, which ends the loop; the drive is checked all the same.
TEST(UpdateAppDriveCheck, ATrayJustClosedOnADiscIsStillChecked) {
  Machine m;
  SimDrive& drive = m.AddDrive('E', "1005");
  const std::uint8_t testUnitReady[6] = {};
  drive.Execute(testUnitReady, 6, nullptr, 0, DataDirection::Unspecified);  // power-on passed
  drive.SetTrayOpen(true);
  drive.SetTrayOpen(false);
  m.device->SetUsePassThrough(true);
  UpdateAppViews views;
  UpdateApp app(m.platform, *m.device, views, "qxupdate");
  drive.ClearLog();
  const DriveCheckResult result = app.CheckDrives();
  EXPECT_TRUE(result.updateNeeded);
  EXPECT_EQ(result.driveIndex, 0);
  std::vector<std::string> reads;
  for (const SimCommandRecord& r : drive.Log())
    if (r.cdb[0] == 0x28) reads.push_back(FormatSimCommand(r));
  EXPECT_EQ(reads, (std::vector<std::string>{
                       "28 00 00 00 00 10 00 00 01 00 len=2048 in -> 02 sense=06/28/00",
                       "28 00 00 00 00 10 00 00 01 00 len=2048 in -> 02 sense=02/04/01"}));
  EXPECT_EQ(CommandsWithOpcode(drive, 0x1D), 1);
}

TEST(UpdateAppDriveCheck, FailedIdentifyOrInquirySkipsTheDrive) {
  // The log names the command that failed, so that a report says where to look.
  const std::pair<const char*, const char*> cases[] = {
      {"inquiry:nth=2:status=02", ": INQUIRY "},
      {"send:page=identify:status=02", ": identify page "},
      {"receive:status=02", ": identify reply "},
  };
  for (const auto& [fault, named] : cases) {
    Machine m;
    SimDrive& drive = m.AddDrive('E', "1005");
    ASSERT_TRUE(drive.Faults().Add(fault)) << fault;
    EXPECT_EQ(m.Run(), StartupEnd::DriveNotFound) << fault;
    EXPECT_NE(m.logFile.text.find(named), std::string::npos) << fault << "\n" << m.logFile.text;
  }
}

TEST(UpdateAppFlow, DecliningTheTermsRestoresTheScreenSaverAndChangesNothing) {
  Machine m;
  m.AddDrive('E', "1005");
  m.SettingsInTheWay();
  m.dialogs.Queue({ScriptAction::Press(TermsDialog::kNotAgreeId)});
  EXPECT_EQ(m.Run(), StartupEnd::TermsDeclined);
  EXPECT_EQ(m.DialogNames(), Names{"Terms"});
  EXPECT_EQ(m.system.screenSaverChanges, (std::vector<std::uint32_t>{0, 1}));
  EXPECT_EQ(m.registry.writeCount(), 0u);
  EXPECT_EQ(m.system.restartRequests, 0);
}

TEST(UpdateAppFlow, AScreenSaverThatWasOffIsNeverTouched) {
  Machine m;
  m.AddDrive('E', "1005");
  m.system.screenSaverActive = 0;
  m.dialogs.Queue({ScriptAction::Press(TermsDialog::kNotAgreeId)});
  m.Run();
  EXPECT_TRUE(m.system.screenSaverChanges.empty());
}

TEST(UpdateAppFlow, CancellingTheRebootChangesNothing) {
  Machine m;
  m.AddDrive('E', "1005");
  m.SettingsInTheWay();
  m.dialogs.Queue({ScriptAction::Press(TermsDialog::kAgreeId)});
  m.dialogs.Queue({ScriptAction::Enter()});  // Enter chooses CANCEL in the Reboot notice
  EXPECT_EQ(m.Run(), StartupEnd::RebootCancelled);
  EXPECT_EQ(m.DialogNames(), (Names{"Terms", "Reboot"}));
  EXPECT_EQ(m.registry.writeCount(), 0u);
  EXPECT_EQ(m.system.restartRequests, 0);
  EXPECT_EQ(m.system.screenSaverChanges, (std::vector<std::uint32_t>{0, 1}));
}

std::size_t IndexOf(const std::vector<std::string>& events, const std::string& line) {
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i] == line) return i;
  }
  return events.size();
}

TEST(UpdateAppFlow, PreparationJournalsRegistersAndRestarts) {
  Machine m;
  m.AddDrive('E', "1005");
  m.SettingsInTheWay();
  EXPECT_EQ(m.Run(), StartupEnd::Prepared);
  EXPECT_EQ(m.DialogNames(), (Names{"Terms", "Reboot"}));
  MessageDialog reboot(MessageDialogKind::Reboot, Language::English);
  EXPECT_EQ(m.dialogs.Shown()[1].controls.at(reboot.TextControlId()),
            Text(TextId::RebootConfirm, Language::English));

  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  ASSERT_TRUE(m.registry.GetValue(reg::kCurrentUser, startuptest::kProfileKey, "Changed", &type,
                                  &data));
  EXPECT_EQ(data, (std::vector<std::uint8_t>{1, 0, 0, 0}));
  ASSERT_TRUE(m.registry.GetValue(reg::kLocalMachine, startuptest::kCdromKey, "Autorun", &type,
                                  &data));
  EXPECT_EQ(data, (std::vector<std::uint8_t>{0, 0, 0, 0}));
  EXPECT_TRUE(m.registry.GetValue(reg::kCurrentUser, startuptest::kRunKey, "qxupdate", &type,
                                  &data));
  EXPECT_TRUE(m.registry.GetValue(reg::kCurrentUser, startuptest::kProfileKey,
                                  "Velmora_ODD_Add", &type, &data));
  EXPECT_EQ(m.system.restartRequests, 1);
  EXPECT_LT(IndexOf(m.system.events, "SCREENSAVER 1"), IndexOf(m.system.events, "RESTART 2 0"));
}

TEST(UpdateAppFlow, WithoutAModulePathNoResumeEntryIsWrittenAndTheUserIsToldSo) {
  Machine m;
  m.AddDrive('E', "1005");
  m.SettingsInTheWay();
  m.system.codePage = 932;
  m.system.modulePath.clear();
  EXPECT_EQ(m.Run(), StartupEnd::Prepared);
  MessageDialog reboot(MessageDialogKind::Reboot, Language::Japanese);
  ASSERT_EQ(m.DialogNames(), (Names{"Terms", "Reboot"}));
  EXPECT_EQ(m.dialogs.Shown()[1].language, Language::Japanese);
  EXPECT_EQ(m.dialogs.Shown()[1].controls.at(reboot.TextControlId()),
            Text(TextId::RebootConfirmNoResume, Language::Japanese));
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  EXPECT_FALSE(m.registry.GetValue(reg::kCurrentUser, startuptest::kRunKey, "qxupdate", &type,
                                   &data));
  EXPECT_EQ(m.system.restartRequests, 1);
}

// A preparation that could journal nothing changed nothing, yet it wrote the Run
// value and restarted; the resumed start found the same settings and restarted
// again, for ever, without a word. Now it says so and leaves the machine alone.
TEST(UpdateAppFlow, APreparationThatChangesNothingTellsTheUserAndDoesNotRestart) {
  const std::string kFailed = Text(TextId::PreparationFailed, Language::English);
  for (Language language : {Language::English, Language::Japanese}) {
    SCOPED_TRACE(language == Language::Japanese ? "ja" : "en");
    // The record numbers are used up: the profile is there, nothing can be added.
    Machine used;
    used.AddDrive('E', "1005");
    used.SettingsInTheWay();
    if (language == Language::Japanese) used.system.codePage = 932;
    used.registry.PutDword(reg::kCurrentUser, startuptest::kProfileKey, "Changed", 0x7FFFFFFF);
    const std::string before = used.registry.Dump();
    EXPECT_EQ(used.Run(), StartupEnd::PreparationFailed);
    EXPECT_EQ(used.DialogNames(), (Names{"Terms", "Reboot"}));
    EXPECT_EQ(used.Messages(), Names{Text(TextId::PreparationFailed, language)});
    EXPECT_EQ(used.system.restartRequests, 0);
    EXPECT_EQ(used.registry.Dump(), before);
    EXPECT_EQ(used.system.screenSaverChanges, (std::vector<std::uint32_t>{0, 1}));
  }

  // The profile key cannot be written: nothing journalled, and the keys the profile
  // read created go again.
  Machine locked;
  locked.AddDrive('E', "1005");
  locked.SettingsInTheWay();
  locked.registry.PutKey(reg::kCurrentUser, startuptest::kProfileKey);
  locked.registry.SetKeyProtected(reg::kCurrentUser, startuptest::kProfileKey, true);
  const std::string before = locked.registry.Dump();
  EXPECT_EQ(locked.Run(), StartupEnd::PreparationFailed);
  EXPECT_EQ(locked.Messages(), Names{kFailed});
  EXPECT_EQ(locked.system.restartRequests, 0);
  EXPECT_EQ(locked.registry.Dump(), before);

  // Unlike one whose settings did change: that one restarts.
  Machine fine;
  fine.AddDrive('E', "1005");
  fine.SettingsInTheWay();
  EXPECT_EQ(fine.Run(), StartupEnd::Prepared);
  EXPECT_TRUE(fine.Messages().empty());
}

// Without a module path the application name was empty, the profile key became the
// maker's key itself, and removing "the utility's keys" could take other programs'
// subkeys with it. Without a name the registry is not touched.
TEST(UpdateAppFlow, WithoutAnApplicationNameTheRegistryIsNotTouched) {
  auto otherProgram = [](Machine& m) {
    m.registry.PutDword(reg::kCurrentUser, "Software\\Velmora_ODD\\other", "Changed", 0);
    m.registry.PutDword(reg::kCurrentUser, "Software\\Velmora_ODD", "Changed", 3);
  };
  // Settings in the way: no journal can be kept, so nothing is changed; the user
  // is told before any restart is offered.
  Machine prepare;
  prepare.applicationName.clear();
  prepare.system.modulePath.clear();
  prepare.AddDrive('E', "1005");
  prepare.SettingsInTheWay();
  otherProgram(prepare);
  const std::string before = prepare.registry.Dump();
  EXPECT_EQ(prepare.Run(), StartupEnd::PreparationFailed);
  EXPECT_EQ(prepare.DialogNames(), Names{"Terms"});
  EXPECT_EQ(prepare.Messages(), Names{Text(TextId::PreparationFailed, Language::English)});
  EXPECT_EQ(prepare.registry.writeCount(), 0u);
  EXPECT_EQ(prepare.registry.Dump(), before);
  EXPECT_EQ(prepare.system.restartRequests, 0);

  // Settings fine: the update runs, and the end restores nothing and removes nothing.
  Machine update;
  update.applicationName.clear();
  update.system.modulePath.clear();
  update.AddDrive('E', "1005");
  otherProgram(update);
  const std::string kept = update.registry.Dump();
  update.mainView.Queue({MainStep::UpdateIfEnabled()});
  update.Run();
  EXPECT_EQ(update.port.Drive('E')->Revision(), "1009");
  EXPECT_EQ(update.registry.writeCount(), 0u);
  EXPECT_EQ(update.registry.Dump(), kept);
  // The maker key's own "Changed" is no journal of ours: nothing to restore, no restart.
  EXPECT_EQ(update.app->mainEndCode, 2);
  EXPECT_EQ(update.system.restartRequests, 0);
}

// Whether or not its log can be written, the cycle runs the same; when it can, the
// one file tells the story of both starts in order.
TEST(UpdateAppFlow, TheRestartCycleEndsWithTheMachineAsItWas) {
  for (bool logWritable : {true, false}) {
    SCOPED_TRACE(logWritable ? "log written" : "log cannot be written");
    Machine m;
    m.logFile.fails = !logWritable;
    m.AddDrive('E', "1005");
    m.SettingsInTheWay();
    const std::string before = m.registry.Dump();
    ASSERT_EQ(m.Run(), StartupEnd::Prepared);

    // The system starts the utility again from the Run key.
    m.dialogs.Queue({ScriptAction::Press(kIdOk)});  // Warning
    m.mainView.Queue({MainStep::UpdateIfEnabled()});
    EXPECT_EQ(m.Run(), StartupEnd::RestoredRestart);
    EXPECT_EQ(m.DialogNames(), (Names{"Terms", "Reboot", "Warning", "Start", "End"}));
    EXPECT_EQ(m.app->mainEndCode, 1);
    EXPECT_EQ(m.app->changedCount, 0);
    EXPECT_EQ(m.port.Drive('E')->Revision(), "1009");
    EXPECT_EQ(m.system.restartRequests, 2);
    EXPECT_FALSE(m.registry.KeyExists(reg::kCurrentUser, "Software\\Velmora_ODD"));
    EXPECT_EQ(m.registry.Dump(), before);
    if (!logWritable) {
      EXPECT_EQ(m.logFile.text, "");
      continue;
    }
    const std::string& log = m.logFile.text;
    std::size_t at = 0;
    for (const char* event : {
             "==== qxupdate Ver.5.2.0 for DVD-ROM QX-M4471, times in UTC",
             "platform Windows NT family 5.1 build 2600, Service Pack 2 (SCSI pass-through), "
             "code page 1252 (English)",
             "power: AC line status 1 (on AC power)",
             "drive E:   VELMORA DVD-ROM QX-M4471: vendor \"VELMORA \" product \"DVD-ROM "
             "QX-M4471\" revision \"1005\"",
             "image 0 (version 1009) fits family 0 and code is: the drive is older",
             "first start", "terms accepted",
             "registry set HKLM\\SYSTEM\\CurrentControlSet\\Services\\Cdrom \"Autorun\": 0x1 -> 0x0",
             "registry set HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\run \"qxupdate\": "
             "(none) -> \"C:\\qxupdate\\qxupdate.exe\"",
             "restart requested", "the system accepted the restart request", "end: Prepared",
             "==== qxupdate", "started again after the restart",
             "update start: drive E:   VELMORA DVD-ROM QX-M4471, image 0 version 1009",
             "command 1E PREVENT ALLOW MEDIUM REMOVAL allow -> 01",
             "command 1D SEND DIAGNOSTIC page F0 00 -> 01",
             "command 1D SEND DIAGNOSTIC page C0 04 -> 01",
             "command 1D SEND DIAGNOSTIC page C0 00 -> 01",
             "command 12 INQUIRY (after the update) -> 01",
             "update complete: the drive reports revision 1009",
             "registry set HKLM\\SYSTEM\\CurrentControlSet\\Services\\Cdrom \"Autorun\": 0x0 -> 0x1",
             "restart requested", "end: RestoredRestart, main dialog end code 1"}) {
      const std::size_t found = log.find(event, at);
      ASSERT_NE(found, std::string::npos) << "missing, or out of order: " << event << "\n" << log;
      at = found;
    }
    // Every line carries its time.
    for (std::size_t line = 0; line < log.size(); line = log.find('\n', line) + 1) {
      EXPECT_EQ(log.compare(line, 3, "200"), 0) << log.substr(line, 40);
    }
  }
}

// The oldest runs make way before a run begins; the newest ones stay whole.
TEST(UpdateAppFlow, TheLogDropsItsOldestRunsFirst) {
  Machine m;
  std::string old;
  for (int run = 0; old.size() < 3 * UpdateLog::kKeptBytes; ++run) {
    old += "2005-11-30 00:00:00 " + std::string(UpdateLog::kRunMark) + "run " +
           std::to_string(run) + "\n";
    for (int i = 0; i < 40; ++i) old += "2005-11-30 00:00:01 filler line of an old run\n";
  }
  m.logFile.text = old;
  m.AddDrive('E', "1009");  // current: a short run
  ASSERT_EQ(m.Run(), StartupEnd::FirmwareCurrent);
  const std::string& log = m.logFile.text;
  ASSERT_GT(log.size(), old.size() / 10);
  EXPECT_LT(log.size(), UpdateLog::kKeptBytes + 4096);
  EXPECT_EQ(log.compare(19, 6, std::string(" ") + UpdateLog::kRunMark), 0) << log.substr(0, 60);
  // What is kept is the end of the old log, then this run.
  const std::size_t mark = log.find("==== qxupdate");
  ASSERT_NE(mark, std::string::npos);
  const std::size_t thisRun = log.rfind('\n', mark) + 1;
  EXPECT_EQ(old.compare(old.size() - thisRun, thisRun, log, 0, thisRun), 0);
  EXPECT_NE(log.find("end: FirmwareCurrent", thisRun), std::string::npos);
}

// Without administrator rights every CD drive refuses to open, and the user sees only
// "Target CD-Drive not found.": the log must say which drive it was and why.
TEST(UpdateAppLog, TheScanNamesEveryDriveLookedAtAndWhyItWasLeftOut) {
  Machine m;
  m.port.AddOtherDrive('C', drivetype::kFixed);
  m.port.AddUnopenableDrive('D', win32error::kAccessDenied);
  ASSERT_TRUE(m.AddDrive('E', "1005").Faults().Add("inquiry:hang"));
  SimDriveConfig other;
  other.product = "DVD-ROM XY-0000 ";
  m.port.AddDrive('F', other);
  m.AddDrive('G', "1009");
  EXPECT_EQ(m.Run(), StartupEnd::FirmwareCurrent);
  std::size_t at = 0;
  for (const char* line : {
           "scan: C: not a CD-ROM drive (drive type 3)",
           "scan: D: cannot be opened, error 5 (access denied: administrator rights are needed)",
           "scan: E: no answer: the request failed, error 121",
           "scan: F: product \"DVD-ROM XY-0000 \", not the target model",
           "scan: G: listed", "end: FirmwareCurrent"}) {
    at = m.logFile.text.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << "\n" << m.logFile.text;
  }

  // Windows 95/98/ME: whether the ASPI manager loaded, its adapters and their targets.
  SimMachine windows98({RegistryFlavor::Windows9x, nullptr, std::string()});
  windows98.system.version = VersionInfo{4, 10, sys::kPlatformWindows, 2222, " A "};
  windows98.AddAspiDrive(1, 0);
  windows98.Device();
  UpdateApp app(windows98.platform, windows98.Device(), windows98.Views(), "qxupdate");
  windows98.mainView.Queue({MainStep::Press(maindlg::kCancelId)});
  app.InitInstance();
  app.ExitInstance();
  at = 0;
  for (const char* line : {"platform Windows 95/98/ME 4.10 build 2222, A (ASPI)",
                           "ASPI manager: wnaspi32.dll loaded, 2 host adapter(s)",
                           "scan: 0:0: no answer to INQUIRY", "scan: 1:0: listed"}) {
    at = windows98.logFile.text.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << "\n" << windows98.logFile.text;
  }
}

// A restart the system refuses leaves the machine waiting for the user: the log says
// why, with the system's error.
TEST(UpdateAppLog, ARefusedRestartIsLoggedWithItsError) {
  Machine m;
  m.AddDrive('E', "1005");
  m.SettingsInTheWay();
  m.system.exitWindowsSucceeds = false;
  m.system.refusalError = 1314;  // ERROR_PRIVILEGE_NOT_HELD
  EXPECT_EQ(m.Run(), StartupEnd::Prepared);
  EXPECT_NE(m.logFile.text.find("the restart request failed: ExitWindowsEx, error 1314"),
            std::string::npos)
      << m.logFile.text;
}

// On a Japanese system the registry holds Shift-JIS and the catalogue's texts are
// UTF-8: the log holds both in the one code page Notepad reads, one line per event.
TEST(UpdateAppLog, AJapaneseLogIsShiftJisThroughoutOneLinePerEvent) {
  Machine m;
  m.system.codePage = 932;
  // "C:\更新\qxupdate.exe" as the system gives it: Shift-JIS.
  m.system.modulePath = "C:\\\x8D\x58\x90\x56\\qxupdate.exe";
  m.AddDrive('E', "1005");
  m.SettingsInTheWay();
  ASSERT_EQ(m.Run(), StartupEnd::Prepared);
  // After the restart the drive can no longer be opened when Update Start checks it:
  // its message is the catalogue's Japanese text with a line break in it.
  m.mainView.Queue({MainStep::Call([&m] { m.port.AddUnopenableDrive('E', 5); }),
                    MainStep::Press(maindlg::kUpdateStartId), MainStep::Press(maindlg::kCancelId)});
  m.Run();
  std::string log;
  ASSERT_TRUE(ConvertText("UTF-8", "CP932", m.logFile.text, log)) << m.logFile.text;
  EXPECT_NE(log.find("\"C:\\更新\\qxupdate.exe\""), std::string::npos) << log;
  EXPECT_NE(log.find("update refused: the drive did not answer the start check: "
                     "ハンドル取得に失敗しました: 5 "),
            std::string::npos)
      << log;
  for (std::size_t line = 0; line < log.size(); line = log.find('\n', line) + 1) {
    EXPECT_EQ(log.compare(line, 3, "200"), 0) << log.substr(line, 60);
  }
}

// After the restart the drive may be gone, or brought up to date some other way. The
// start cannot update, so it puts back what the first start changed, at once:
// otherwise the settings would stay changed and the message come up at every start.
TEST(UpdateAppFlow, AResumedStartThatCannotUpdatePutsTheMachineBackWithoutARestart) {
  for (bool anotherDriveIsCurrent : {false, true}) {
    Machine m;
    m.AddDrive('E', "1005");
    m.SettingsInTheWay();
    const std::string before = m.registry.Dump();
    ASSERT_EQ(m.Run(), StartupEnd::Prepared);

    ASSERT_TRUE(m.port.Drive('E')->Faults().Add("inquiry:status=02"));
    if (anotherDriveIsCurrent) m.AddDrive('F', "1009");
    EXPECT_EQ(m.Run(), anotherDriveIsCurrent ? StartupEnd::FirmwareCurrent
                                             : StartupEnd::DriveNotFound);
    EXPECT_EQ(m.Messages(), Names{anotherDriveIsCurrent ? kCurrent : kNotFound});
    // Settings, journal, the utility's keys and its Run entry are as they were.
    EXPECT_EQ(m.registry.Dump(), before) << anotherDriveIsCurrent;
    EXPECT_EQ(m.system.restartRequests, 1) << "only the preparation's";
  }
}

TEST(UpdateAppFlow, AResumeEntryIsTakenBeforeAnyDialogAndSkipsTheTerms) {
  Machine m;
  m.AddDrive('E', "1009");
  m.registry.PutString(reg::kCurrentUser, startuptest::kRunKey, "qxupdate", "C:\\qxupdate.exe");
  m.mainView.Queue({MainStep::Press(maindlg::kCancelId)});
  // Firmware current: the start ends before the resume entry is even looked at.
  EXPECT_EQ(m.Run(), StartupEnd::FirmwareCurrent);
  EXPECT_EQ(m.registry.writeCount(), 0u);

  Machine r;
  r.AddDrive('E', "1005");
  r.registry.PutString(reg::kCurrentUser, startuptest::kRunKey, "qxupdate", "C:\\qxupdate.exe");
  bool goneAtFirstDialog = false;
  r.dialogs.SetLog([&](const std::string&) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    goneAtFirstDialog = !r.registry.GetValue(reg::kCurrentUser, startuptest::kRunKey,
                                             "qxupdate", &type, &data);
  });
  r.mainView.Queue({MainStep::Press(maindlg::kCancelId)});
  EXPECT_EQ(r.Run(), StartupEnd::LeftAsIs);
  EXPECT_EQ(r.DialogNames(), Names{"Warning"});
  EXPECT_TRUE(goneAtFirstDialog);
}

TEST(UpdateAppFlow, EndCodeTwoLeavesJournalAndKeysAndDoesNotRestart) {
  Machine m;
  m.AddDrive('E', "1005");
  m.registry.PutDword(reg::kCurrentUser, startuptest::kProfileKey, "Changed", 0);
  m.mainView.Queue({MainStep::Press(maindlg::kCancelId)});
  EXPECT_EQ(m.Run(), StartupEnd::LeftAsIs);
  EXPECT_EQ(m.app->mainEndCode, 2);
  EXPECT_EQ(m.system.restartRequests, 0);
  EXPECT_TRUE(m.registry.KeyExists(reg::kCurrentUser, startuptest::kProfileKey));
  // The screen saver comes back on every way out.
  EXPECT_EQ(m.system.screenSaverChanges, (std::vector<std::uint32_t>{0, 1}));
}

TEST(UpdateAppFlow, EveryDialogOfARunHoldsOffSessionEndUntilItsButton) {
  Machine m;
  m.AddDrive('E', "1005");
  m.SettingsInTheWay();
  m.Run();
  m.mainView.Queue({MainStep::UpdateIfEnabled()});
  m.Run();
  ASSERT_EQ(m.dialogs.Shown().size(), 5u);
  for (const ShownDialog& shown : m.dialogs.Shown()) {
    EXPECT_TRUE(shown.refusedWhileOpen) << shown.name;
    EXPECT_TRUE(shown.releasedAfterEnd) << shown.name;
  }
  ASSERT_EQ(m.mainView.Shown().size(), 1u);
  EXPECT_TRUE(m.mainView.Shown()[0].refusedWhileOpen);
  EXPECT_TRUE(m.mainView.Shown()[0].releasedAfterEnd);
}

}  // namespace
}  // namespace qx
