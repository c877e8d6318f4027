// The ASPI transport against the simulated manager and simulated drives.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/AspiDevice.h"
#include "RecordingPassThroughPort.h"
#include "platform/System.h"
#include "sim/SimAspiManager.h"
#include "sim/SimDrive.h"

namespace qx {
namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class AspiDeviceTest : public ::testing::Test {
 protected:
  AspiDeviceTest() {
    system.versionQueryFails = false;
    platform.system = &system;
    platform.aspiManager = &manager;
  }

  AspiDevice& Device() {
    if (!device) device.reset(new AspiDevice(platform));
    return *device;
  }

  // A target drive at (adapter, target), with its power-on unit attention.
  SimDrive& AddDrive(std::uint8_t adapter, std::uint8_t target,
                     const SimDriveConfig& config = SimDriveConfig()) {
    drives.emplace_back(new SimDrive(config));
    manager.Attach(adapter, target, drives.back().get());
    return *drives.back();
  }

  // Scans and selects entry 0; the scan also clears the drive's unit attention.
  void ScanAndSelect() {
    ASSERT_GE(Device().ScanDrives(), 1);
    Device().SelectDrive(0);
  }

  std::vector<SimAspiRecord> ExecRecords() const {
    std::vector<SimAspiRecord> records;
    for (const SimAspiRecord& r : manager.Log()) {
      if (r.command == aspi::kExecScsiCmd) records.push_back(r);
    }
    return records;
  }

  devicetest::DeviceTestSystem system;
  SimAspiManager manager;
  Platform platform;
  std::vector<std::unique_ptr<SimDrive>> drives;
  std::unique_ptr<AspiDevice> device;
};

// --- construction ---

TEST_F(AspiDeviceTest, NtLoadsNothingShowsNothingAndRefusesEveryCommand) {
  system.version.platformId = sys::kPlatformNt;
  AspiDevice& aspi = Device();
  EXPECT_EQ(manager.loads, 0);
  EXPECT_TRUE(system.messageBoxes.empty());
  EXPECT_EQ(aspi.ScanDrives(), 0);
  EXPECT_EQ(aspi.TestUnitReady(), status::kNotInitialised);
  EXPECT_EQ(aspi.GetLastMessage(), "Test Unit Ready Status : Faild Initailize.");
  EXPECT_EQ(aspi.HostAdapterInquiry(0, nullptr), status::kNotInitialised);
  EXPECT_TRUE(manager.Log().empty());
}

TEST_F(AspiDeviceTest, SupportInformationGivesTheAdapterCount) {
  manager.adapters.resize(3);
  EXPECT_TRUE(Device().Loaded());
  EXPECT_EQ(Device().HostAdapterCount(), 3);
  EXPECT_TRUE(system.messageBoxes.empty());
}

TEST_F(AspiDeviceTest, ManagerNotReadyLeavesNoAdaptersAndSaysSo) {
  manager.adapters.resize(3);
  manager.supportStatus = 0xE8;
  EXPECT_FALSE(Device().Loaded());
  EXPECT_EQ(Device().HostAdapterCount(), 0);
  ASSERT_EQ(system.messageBoxes.size(), 1u);
  EXPECT_EQ(system.messageBoxes[0].text, "ASPI Initialize Fail!");
  EXPECT_EQ(Device().ScanDrives(), 0);
}

TEST_F(AspiDeviceTest, EachMissingPartOfTheLibraryIsToldOnceInTheUsersLanguage) {
  {
    manager.libraryPresent = false;
    system.codePage = 932;
    AspiDevice aspi(platform);
    EXPECT_FALSE(aspi.Loaded());
    EXPECT_EQ(aspi.TestUnitReady(), status::kNotInitialised);
  }
  EXPECT_EQ(manager.unloads, 0);  // nothing was loaded, nothing to free
  {
    manager.libraryPresent = true;
    manager.sendCommandPresent = false;
    system.codePage = 1252;
    AspiDevice aspi(platform);
    EXPECT_FALSE(aspi.Loaded());
  }
  EXPECT_EQ(manager.unloads, 1);  // the library loaded, so it is freed
  ASSERT_EQ(system.messageBoxes.size(), 2u);
  EXPECT_EQ(system.messageBoxes[0].text, "ASPI初期化に失敗しました。");
  EXPECT_EQ(system.messageBoxes[1].text, "ASPI Initialize Fail!");
}

TEST_F(AspiDeviceTest, NoVersionInformationIsToldAndNothingLoads) {
  system.versionQueryFails = true;
  Device();
  EXPECT_EQ(manager.loads, 0);
  ASSERT_EQ(system.messageBoxes.size(), 1u);
  EXPECT_EQ(system.messageBoxes[0].text, "Cannot get operationg system information.");
}

// --- the request blocks ---

TEST_F(AspiDeviceTest, EveryCommandGoesOutWithItsFlagsAndAStagedAlignedBuffer) {
  AddDrive(0, 2);
  ScanAndSelect();
  manager.ClearLog();
  std::uint8_t buffer[64] = {};

  Device().SetBuffer(buffer, 44);
  EXPECT_EQ(Device().Inquiry(44), status::kGood);
  std::uint8_t page[8] = {0x88, 0, 0, 0, 0, 0x40, 0, 0};
  std::memcpy(buffer, page, sizeof page);
  Device().SetBuffer(buffer, 8);
  Device().SendDiagnostic(0, 8);
  Device().SetBuffer(buffer, 16);
  Device().ReceiveDiagnosticResults(16);
  Device().PreventAllowMediumRemoval(false);
  Device().StartStopUnit(false, false, true);
  Device().TestUnitReady();
  std::uint8_t block[2048];
  Device().SetBuffer(block, sizeof block);
  Device().Read10(16, 1, false, false);

  const std::vector<SimAspiRecord> records = ExecRecords();
  ASSERT_EQ(records.size(), 7u);
  const std::uint8_t opcodes[7] = {0x12, 0x1D, 0x1C, 0x1E, 0x1B, 0x00, 0x28};
  const std::uint8_t flags[7] = {0x48, 0x50, 0x48, 0x40, 0x40, 0x40, 0x48};
  const std::uint32_t lengths[7] = {44, 8, 16, 0, 0, 0, 2048};
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(records[i].cdb[0], opcodes[i]);
    EXPECT_EQ(records[i].flags, flags[i]);
    EXPECT_EQ(records[i].bufferLength, lengths[i]);
    EXPECT_EQ(records[i].cdbLength, opcodes[i] == 0x28 ? 10 : 6);
    EXPECT_EQ(records[i].adapter, 0);
    EXPECT_EQ(records[i].target, 2);
    EXPECT_EQ(records[i].lun, 0);
    EXPECT_EQ(records[i].senseLength, 14);
    EXPECT_TRUE(records[i].blockInLockedMemory);
    EXPECT_TRUE(records[i].eventSet);
    if (lengths[i] > 0) {
      EXPECT_TRUE(records[i].bufferAligned);
    }
  }
  // The parameter list reached the drive through the staging area.
  const SimCommandRecord& sent = drives[0]->Log()[drives[0]->Log().size() - 6];
  EXPECT_EQ(sent.cdb[0], 0x1D);
  EXPECT_EQ(0, std::memcmp(sent.parameters.data(), page, 8));
  // Every request gave its memory and event back.
  EXPECT_EQ(manager.LiveAllocations(), 0u);
  EXPECT_EQ(manager.OpenEvents(), 0u);
}

TEST_F(AspiDeviceTest, DataComesBackIntoTheCallersBufferAndSenseIntoTheRecord) {
  AddDrive(0, 0);
  ScanAndSelect();
  std::uint8_t buffer[44];
  std::memset(buffer, 0xBD, sizeof buffer);
  Device().SetBuffer(buffer, 44);
  ASSERT_EQ(Device().Inquiry(44), status::kGood);
  EXPECT_EQ(buffer[0], 5);
  EXPECT_EQ(0, std::memcmp(buffer + 8, "VELMORA DVD-ROM QX-M44711005", 28));
  EXPECT_EQ(Device().SenseLength(), 8u);

  drives[0]->Faults().Add("tur:sense=02/3a/01");
  EXPECT_EQ(Device().TestUnitReady(), status::kError);
  EXPECT_EQ(Device().Sense().SenseKey(), 2);
  EXPECT_EQ(Device().Sense().Asc(), 0x3A);
  EXPECT_EQ(Device().Sense().Ascq(), 0x01);
  EXPECT_EQ(Device().SenseLength(), 18u);
}

// --- waiting, time-outs and the release of requests ---

TEST_F(AspiDeviceTest, TimeOutGivesPendingAndTheRequestIsWithdrawnBeforeItsMemoryGoes) {
  AddDrive(0, 0);
  ScanAndSelect();
  manager.completion = SimAspiManager::Completion::Never;
  const std::int64_t before = manager.NowMs();
  std::uint8_t buffer[44] = {};
  Device().SetBuffer(buffer, 44);

  EXPECT_EQ(Device().Inquiry(44), status::kPending);
  EXPECT_TRUE(EndsWith(Device().GetLastMessage(), "Status : Aspi Timeout Error."));
  EXPECT_EQ(manager.aborts, 1);
  EXPECT_EQ(manager.PendingRequests(), 0u);
  EXPECT_EQ(manager.writesToReleasedMemory, 0);
  EXPECT_EQ(manager.signalsToClosedEvents, 0);
  EXPECT_EQ(manager.LiveAllocations(), 0u);
  EXPECT_EQ(manager.OpenEvents(), 0u);
  // An hour, and never a sleep past the command's time-out by more than a slice.
  const std::int64_t waited = manager.NowMs() - before;
  EXPECT_GE(waited, 3599 * 1000);
  EXPECT_LE(waited, 3600 * 1000 + AspiDevice::kWaitSliceMs);
}

TEST_F(AspiDeviceTest, RequestTheManagerWillNotGiveBackKeepsItsMemoryUntilItDoes) {
  AddDrive(0, 0);
  ScanAndSelect();
  manager.completion = SimAspiManager::Completion::Never;
  manager.abortHonoured = false;
  std::uint8_t buffer[44] = {};
  Device().SetBuffer(buffer, 44);

  EXPECT_EQ(Device().Inquiry(44), status::kPending);
  EXPECT_EQ(Device().AbandonedRequests(), 1u);
  EXPECT_EQ(manager.LiveAllocations(), 1u);
  EXPECT_EQ(manager.OpenEvents(), 1u);

  // The manager finishes it late: its writes land in memory that is still ours.
  manager.ReleaseStuck();
  EXPECT_EQ(manager.writesToReleasedMemory, 0);
  EXPECT_EQ(manager.signalsToClosedEvents, 0);

  // The drive is not left busy, and the next command gives the old memory back.
  manager.completion = SimAspiManager::Completion::Pending;
  EXPECT_EQ(Device().TestUnitReady(), status::kGood);
  EXPECT_EQ(Device().AbandonedRequests(), 0u);
  EXPECT_EQ(manager.LiveAllocations(), 0u);
  EXPECT_EQ(manager.OpenEvents(), 0u);
}

TEST_F(AspiDeviceTest, TheWaitSleepsOnTheEventInsteadOfSpinning) {
  AddDrive(0, 0);
  ScanAndSelect();
  drives[0]->Faults().Add("tur:delay=5000");
  const int waitsBefore = manager.waits;
  EXPECT_EQ(Device().TestUnitReady(), status::kGood);
  EXPECT_EQ(manager.zeroTimeoutWaits, 0);
  EXPECT_LE(manager.longestWaitMs, AspiDevice::kWaitSliceMs);
  // About fifty slices for five seconds, not thousands of polls.
  EXPECT_LE(manager.waits - waitsBefore, 5000 / static_cast<int>(AspiDevice::kWaitSliceMs) + 2);
}

TEST_F(AspiDeviceTest, ImmediateAnswersAreReturnedWithoutWaiting) {
  AddDrive(0, 0);
  ScanAndSelect();
  manager.completion = SimAspiManager::Completion::Immediate;
  const int waitsBefore = manager.waits;
  EXPECT_EQ(Device().TestUnitReady(), status::kGood);
  manager.RefuseNext(status::kBusy);
  EXPECT_EQ(Device().TestUnitReady(), status::kBusy);
  EXPECT_EQ(Device().GetLastMessage(), "Test Unit Ready Status : Aspi is busy.");
  EXPECT_EQ(manager.waits, waitsBefore);
}

TEST_F(AspiDeviceTest, SecondRequestOnTheSameTargetIsRefusedWhileAnotherTargetProceeds) {
  AddDrive(0, 0);
  AddDrive(0, 1);
  ASSERT_EQ(Device().ScanDrives(), 2);
  Device().SelectDrive(0);
  CommandStatus sameTarget = 0xAA;
  CommandStatus otherTarget = 0xAA;
  std::string refusal;
  manager.OnNextWait([&] {
    std::uint8_t cdb[6] = {0, 0, 0, 0, 0, 0};
    sameTarget = Device().ExecuteOnce(cdb, 6, 10);
    refusal = Device().GetLastMessage();
    Device().SelectDrive(1);
    otherTarget = Device().ExecuteOnce(cdb, 6, 10);
    Device().SelectDrive(0);
  });
  EXPECT_EQ(Device().TestUnitReady(), status::kGood);
  EXPECT_EQ(sameTarget, status::kInUse);
  EXPECT_TRUE(EndsWith(refusal, "Status : This target is executing now."));
  EXPECT_EQ(otherTarget, status::kGood);
  // Both in-use entries are clear again.
  EXPECT_EQ(Device().TestUnitReady(), status::kGood);
  Device().SelectDrive(1);
  EXPECT_EQ(Device().TestUnitReady(), status::kGood);
}

TEST_F(AspiDeviceTest, NoEventOrNoMemoryRefusesWithoutTouchingTheLastSense) {
  AddDrive(0, 0);
  ScanAndSelect();
  drives[0]->Faults().Add("tur:times=1:sense=05/24/00");
  EXPECT_EQ(Device().TestUnitReady(), status::kError);

  manager.failEvents = 1;
  EXPECT_EQ(Device().TestUnitReady(), status::kInUse);
  EXPECT_EQ(Device().GetLastMessage(), "Test Unit Ready Status : This target is executing now.");
  manager.failAllocations = 1;
  EXPECT_EQ(Device().TestUnitReady(), status::kNoMemory);
  EXPECT_EQ(Device().GetLastMessage(), "Test Unit Ready Status : Memory Allocation Error.");
  EXPECT_EQ(Device().Sense().Asc(), 0x24);
  EXPECT_EQ(manager.OpenEvents(), 0u);
  EXPECT_EQ(manager.LiveAllocations(), 0u);
  EXPECT_EQ(Device().TestUnitReady(), status::kGood);
}

TEST_F(AspiDeviceTest, TransferBeyondTheStagingAreaIsRefusedNeverStaged) {
  AddDrive(0, 0);
  ScanAndSelect();
  manager.ClearLog();
  std::vector<std::uint8_t> big(aspi::kMaxTransferLength + 1);
  Device().SetBuffer(big.data(), static_cast<std::uint32_t>(big.size()));
  EXPECT_EQ(Device().SendDiagnostic(0, 0x8008), status::kBufferTooBig);
  EXPECT_TRUE(manager.Log().empty());
  EXPECT_EQ(Device().GetLastMessage(), "Send Diagnostic Status : ASPI Error");
  ASSERT_EQ(system.messageBoxes.size(), 1u);
  EXPECT_EQ(system.messageBoxes[0].text, "Aspi Error : Buffer size is too big.");

  // The largest transfer that fits goes out whole.
  Device().SetBuffer(big.data(), aspi::kMaxTransferLength);
  Device().Read10(16, 16, false, false);
  ASSERT_EQ(manager.Log().size(), 1u);
  EXPECT_EQ(manager.Log()[0].bufferLength, aspi::kMaxTransferLength);
  EXPECT_EQ(manager.badDataPointers, 0);
}

// --- lastMessage ---

TEST_F(AspiDeviceTest, FailureTextsOfTheTransport) {
  AddDrive(0, 0);
  ScanAndSelect();
  std::uint8_t buffer[44] = {};
  Device().SetBuffer(buffer, 44);

  drives[0]->Faults().Add("inquiry:times=1:sense=05/24/00");
  EXPECT_EQ(Device().Inquiry(44), status::kError);
  EXPECT_EQ(Device().GetLastMessage(), "Inquiry Status : Check Condition. 24-00 (05)");

  // A later success leaves the description of the failure.
  EXPECT_EQ(Device().Inquiry(44), status::kGood);
  EXPECT_EQ(Device().GetLastMessage(), "Inquiry Status : Check Condition. 24-00 (05)");

  drives[0]->Faults().Add("tur:times=1:status=08");
  EXPECT_EQ(Device().TestUnitReady(), status::kError);
  EXPECT_EQ(Device().GetLastMessage(), "Test Unit Ready Status : Target Busy.");

  manager.RefuseNext(0x33);
  EXPECT_EQ(Device().TestUnitReady(), 0x33);
  EXPECT_EQ(Device().GetLastMessage(), "Test Unit Ready Status : ASPI Error");
  ASSERT_EQ(system.messageBoxes.size(), 1u);
  EXPECT_EQ(system.messageBoxes[0].text, "Aspi Error : Timeout.");
  EXPECT_EQ(system.beeps.size(), 1u);

  manager.RefuseNext(status::kAborted);
  Device().TestUnitReady();
  EXPECT_EQ(Device().GetLastMessage(), "Test Unit Ready Status : Aborted.");
  manager.RefuseNext(status::kNoDevice);
  Device().TestUnitReady();
  EXPECT_EQ(Device().GetLastMessage(), "Test Unit Ready Status : No Device.");
}

TEST_F(AspiDeviceTest, NobodyAtTheTargetGivesTheHostAdapterText) {
  AddDrive(0, 0);
  ScanAndSelect();
  manager.Attach(0, 0, nullptr);
  EXPECT_EQ(Device().TestUnitReady(), status::kError);
  EXPECT_EQ(Device().HostAdapterStatus(), 0x11);
  EXPECT_EQ(Device().GetLastMessage(), "Test Unit Ready Status : Selection timeout.");
}

// A drive with more to send than the buffer holds: the adapter cuts the data
// phase and says so; a reply shorter than the buffer is an ordinary answer.
TEST_F(AspiDeviceTest, OverrunIsAnErrorWithItsHostAdapterTextAndAShortReplyIsNot) {
  AddDrive(0, 0);
  ScanAndSelect();
  std::uint8_t large[96];
  std::memset(large, 0xCC, sizeof large);
  Device().SetBuffer(large, sizeof large);
  EXPECT_EQ(Device().Inquiry(44), status::kGood);
  EXPECT_EQ(large[44], 0xCC);

  std::uint8_t small[44] = {};
  Device().SetBuffer(small, sizeof small);
  std::uint8_t cdb[6] = {0x12, 0, 0, 0, 96, 0};
  EXPECT_EQ(Device().ExecuteCdb6(cdb, 10), status::kError);
  EXPECT_EQ(Device().HostAdapterStatus(), 0x12);
  EXPECT_EQ(Device().TargetStatus(), 0x00);
  EXPECT_EQ(Device().GetLastMessage(), "Inquiry Status : Overrun or Underrun.");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(small) + 16, 16), "DVD-ROM QX-M4471")
      << "what moved before the cut still arrives";
}

// Request blocks a manager must turn away, sent to the simulated manager as a
// careless caller would build them.
TEST_F(AspiDeviceTest, ManagerRefusesBadDirectionsAndOtherLogicalUnits) {
  SimDrive& drive = AddDrive(0, 0);
  manager.completion = SimAspiManager::Completion::Immediate;
  struct Case {
    const char* name;
    std::uint8_t opcode;
    std::uint8_t flags;
    std::uint8_t lun;
    std::uint32_t length;
    std::uint8_t returned;  // what SendCommand gives back, the final status here
    std::uint8_t hostAdapterStatus;
  };
  const Case cases[] = {
      {"both directions", 0x00, aspi::kFlagDirIn | aspi::kFlagDirOut, 0, 0, 0xE0, 0},
      {"INQUIRY with no direction", 0x12, 0, 0, 44, 0x04, 0x14},
      {"INQUIRY going out", 0x12, aspi::kFlagDirOut, 0, 44, 0x04, 0x14},
      {"SEND DIAGNOSTIC coming in", 0x1D, aspi::kFlagDirIn, 0, 8, 0x04, 0x14},
      {"another logical unit", 0x12, aspi::kFlagDirIn, 1, 44, 0x04, 0x11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SysHandle memory = manager.GlobalAlloc(aspiwin::kGmemMoveableZeroInit,
                                                 sizeof(AspiExecRequest));
    auto* request = static_cast<AspiExecRequest*>(manager.GlobalLock(memory));
    ASSERT_NE(request, nullptr);
    SrbExecScsiCmd& srb = request->srb;
    srb.SRB_Cmd = aspi::kExecScsiCmd;
    srb.SRB_Flags = c.flags;
    srb.SRB_Lun = c.lun;
    srb.SRB_BufLen = c.length;
    srb.SRB_BufPointer = AlignedDataStart(request->staging);
    srb.SRB_SenseLen = aspi::kSenseLength;
    srb.SRB_CDBLen = 6;
    srb.CDBByte[0] = c.opcode;
    srb.CDBByte[4] = static_cast<std::uint8_t>(c.length);
    if (c.opcode == 0x1D) std::memcpy(srb.SRB_BufPointer, "\x88\0\0\x04\0\x40\0\0", 8);
    EXPECT_EQ(manager.SendCommand(&srb), c.returned);
    EXPECT_EQ(srb.SRB_Status, c.returned);
    EXPECT_EQ(srb.SRB_HaStat, c.hostAdapterStatus);
    manager.GlobalUnlock(memory);
    manager.GlobalFree(memory);
  }
  EXPECT_TRUE(drive.Log().empty()) << "none of them may reach the drive";
}

// --- discovery ---

TEST_F(AspiDeviceTest, ScanListsTargetDrivesOnEveryAdapterButNeverProbesTheAdapterItself) {
  manager.adapters.resize(2);
  manager.adapters[0].scsiId = 3;
  SimDrive& onOwnId = AddDrive(0, 3);
  AddDrive(0, 5);
  SimDriveConfig other;
  other.product = "CD-ROM XY-1     ";
  AddDrive(0, 6, other);
  SimDriveConfig disk;
  disk.deviceType = 0;
  AddDrive(1, 1, disk);
  AddDrive(1, 0);

  ASSERT_EQ(Device().ScanDrives(), 2);
  EXPECT_EQ(Device().GetDriveEntry(0), "0:5: VELMORA DVD-ROM QX-M44711005");
  EXPECT_EQ(Device().GetDriveEntry(1), "1:0: VELMORA DVD-ROM QX-M44711005");
  EXPECT_EQ(Device().GetDriveEntry(2), "");
  EXPECT_EQ(Device().GetDriveEntry(-1), "");
  EXPECT_TRUE(onOwnId.Log().empty());
  for (const SimAspiRecord& r : ExecRecords()) {
    EXPECT_FALSE(r.adapter == 0 && r.target == 3);
  }
  // Each probe: TEST UNIT READY, then INQUIRY (repeated once on the unit attention).
  const std::vector<SimAspiRecord> records = ExecRecords();
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records[0].cdb[0], 0x00);
  EXPECT_EQ(records[1].cdb[0], 0x12);
  EXPECT_EQ(records[1].cdb[4], 44);

  Device().SelectDrive(1);
  EXPECT_EQ(Device().HostAdapterNumber(), 1);
  EXPECT_EQ(Device().TargetId(), 0);
}

TEST_F(AspiDeviceTest, DiscoveryInquiryGivesUpAfterTenSeconds) {
  AddDrive(0, 0).Faults().Add("inquiry:hang");
  const std::int64_t before = manager.NowMs();
  EXPECT_EQ(Device().ScanDrives(), 0);
  // Six targets probed; only the hung one waits, and for 10 s.
  EXPECT_LE(manager.NowMs() - before, 10 * 1000 + 1000);
  EXPECT_GE(manager.NowMs() - before, 9 * 1000);
}

TEST_F(AspiDeviceTest, FailedAdapterInquiryEndsTheScan) {
  manager.adapters.resize(3);
  manager.adapters[1].inquiryStatus = status::kInvalidHostAdapter;
  AddDrive(0, 0);
  AddDrive(2, 0);
  EXPECT_EQ(Device().ScanDrives(), 1);
  for (const SimAspiRecord& r : manager.Log()) EXPECT_NE(r.adapter, 2);
}

TEST_F(AspiDeviceTest, AdapterInquiryThatNeverEndsStopsTheScanAfterTenSeconds) {
  manager.adapters.resize(2);
  manager.adapters[1].inquiryNeverCompletes = true;
  manager.abortHonoured = false;
  AddDrive(0, 0);
  AddDrive(1, 0);
  EXPECT_EQ(Device().ScanDrives(), 1);
  EXPECT_GT(manager.pumpPasses, 0);
  // The stuck block is the manager's; a second scan uses a block of its own.
  manager.ReleaseStuck();
  EXPECT_EQ(manager.writesToReleasedMemory, 0);
}

// The inquiry polled the message queue until its status changed: a 5 s inquiry
// took thousands of passes of a busy loop. It now sleeps in slices like a command.
TEST_F(AspiDeviceTest, SlowAdapterInquirySleepsRatherThanPolls) {
  manager.adapters.resize(1);
  manager.adapters[0].inquiryDelayMs = 5000;
  AddDrive(0, 0);
  const std::int64_t before = manager.NowMs();
  const int waitsBefore = manager.waits;
  EXPECT_EQ(Device().ScanDrives(), 1);
  EXPECT_GE(manager.NowMs() - before, 5000);
  const int slices = 5000 / static_cast<int>(AspiDevice::kWaitSliceMs);
  EXPECT_LE(manager.waits - waitsBefore, slices + 20) << "commands of the scan included";
  EXPECT_EQ(manager.zeroTimeoutWaits, 0);
  // Still kept alive: the window's messages are looked at after every slice.
  EXPECT_GE(manager.pumpPasses, slices - 1);
  EXPECT_LE(manager.pumpPasses, slices + 1);
  EXPECT_EQ(manager.OpenEvents(), 0u);
}

// SendASPI32Command's answer was ignored: a manager that refused the inquiry in its
// return value alone, SRB_Status still 0, was waited for ten seconds per adapter.
TEST_F(AspiDeviceTest, AdapterInquiryRefusedAtOnceIsNotWaitedFor) {
  manager.adapters.resize(2);
  manager.adapters[0].inquiryRefusal = status::kInvalidHostAdapter;
  AddDrive(0, 0);
  const std::int64_t before = manager.NowMs();
  HostAdapterInfo info;
  EXPECT_EQ(Device().HostAdapterInquiry(0, &info), status::kInvalidHostAdapter);
  EXPECT_EQ(Device().ScanDrives(), 0);
  EXPECT_LT(manager.NowMs() - before, 1000);
  EXPECT_EQ(manager.pumpPasses, 0);
  EXPECT_EQ(manager.OpenEvents(), 0u);
}

TEST_F(AspiDeviceTest, OnlySevenAdaptersAreExamined) {
  manager.adapters.resize(9);
  AddDrive(6, 0);
  AddDrive(7, 0);
  AddDrive(8, 0);
  ASSERT_EQ(Device().ScanDrives(), 1);
  EXPECT_EQ(Device().GetDriveEntry(0).substr(0, 5), "6:0: ");
  for (const SimAspiRecord& r : manager.Log()) EXPECT_LT(r.adapter, 7);
}

TEST_F(AspiDeviceTest, AnEntryOutsideTheListAddressesNothing) {
  AddDrive(0, 0);
  ASSERT_EQ(Device().ScanDrives(), 1);
  manager.ClearLog();
  Device().SelectDrive(48);
  EXPECT_EQ(Device().TestUnitReady(), status::kInvalidHostAdapter);
  EXPECT_TRUE(manager.Log().empty());
}

}  // namespace
}  // namespace qx
