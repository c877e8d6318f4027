// The simulated wnaspi32.dll through its two entry points, loaded by full path.
#include <gtest/gtest.h>

#include "platform/win32/Win32Api.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "device/AspiRequest.h"

namespace qx {
namespace {

using SupportInfoProc = DWORD(__cdecl*)();
using SendCommandProc = DWORD(__cdecl*)(void*);

std::string BesideProgram(const char* name) {
  char path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length);
  folder.erase(folder.find_last_of("\\/") + 1);
  return folder + name;
}

// Wine prefers its own wnaspi32.dll to any file of that name, even loaded by full
// path; under another name ours is the only one there is.
std::string LibraryCopy() {
  char folder[MAX_PATH] = {};
  ::GetTempPathA(sizeof folder, folder);
  const std::string copy = std::string(folder) + "qx-sim-aspi.dll";
  ::CopyFileA(BesideProgram("wnaspi32.dll").c_str(), copy.c_str(), FALSE);
  return copy;
}

// Each test gets the library freshly loaded over a state file of its own, and
// waits for it to be unloaded again (its completion threads hold references).
class SimAspiLibrary : public ::testing::Test {
 protected:
  void Load(const std::string& stateText) {
    char folder[MAX_PATH] = {};
    ::GetTempPathA(sizeof folder, folder);
    state = std::string(folder) + "qx-aspi-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
    std::ofstream(state) << stateText;
    ::DeleteFileA((state.substr(0, state.size() - 4) + ".log").c_str());
    ::SetEnvironmentVariableA("QXASPI_STATE", state.c_str());
    library = LibraryCopy();
    module = ::LoadLibraryA(library.c_str());
    ASSERT_NE(module, nullptr);
    supportInfo = reinterpret_cast<SupportInfoProc>(
        reinterpret_cast<void*>(::GetProcAddress(module, "GetASPI32SupportInfo")));
    send = reinterpret_cast<SendCommandProc>(
        reinterpret_cast<void*>(::GetProcAddress(module, "SendASPI32Command")));
    ASSERT_NE(supportInfo, nullptr);
    ASSERT_NE(send, nullptr);
  }

  void TearDown() override {
    if (event != nullptr) ::CloseHandle(event);
    if (module == nullptr) return;
    const std::string& path = library;
    ::FreeLibrary(module);
    for (int i = 0; i < 200 && ::GetModuleHandleA(path.c_str()) != nullptr; ++i) ::Sleep(10);
    EXPECT_EQ(::GetModuleHandleA(path.c_str()), nullptr) << "a completion thread never ended";
    ::SetEnvironmentVariableA("QXASPI_STATE", nullptr);
    ::DeleteFileA(state.c_str());
  }

  // A command block with an event to notify; `data` receives what comes in.
  SrbExecScsiCmd Command(std::uint8_t adapter, std::uint8_t target, std::initializer_list<std::uint8_t> cdb,
                         std::uint8_t flags) {
    if (event == nullptr) event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    SrbExecScsiCmd srb;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = aspi::kExecScsiCmd;
    srb.SRB_HaId = adapter;
    srb.SRB_Target = target;
    srb.SRB_Flags = aspi::kFlagEventNotify | flags;
    srb.SRB_SenseLen = aspi::kSenseLength;
    srb.SRB_CDBLen = static_cast<std::uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), srb.CDBByte);
    srb.SRB_PostProc = reinterpret_cast<std::uintptr_t>(event);
    if (flags & aspi::kFlagDirIn) {
      srb.SRB_BufPointer = data;
      srb.SRB_BufLen = cdb.size() > 4 ? cdb.begin()[4] : 0;
    }
    return srb;
  }

  // Sends and waits for the completion event; the final SRB_Status.
  std::uint8_t Run(SrbExecScsiCmd& srb) {
    const DWORD sent = send(&srb);
    if (sent != aspi::kStatusPending) return static_cast<std::uint8_t>(sent);
    if (::WaitForSingleObject(event, 5000) != WAIT_OBJECT_0) return 0xFF;
    return srb.SRB_Status;
  }

  std::string StateText() const {
    std::ifstream file(state);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  std::string state;
  std::string library;
  HMODULE module = nullptr;
  SupportInfoProc supportInfo = nullptr;
  SendCommandProc send = nullptr;
  HANDLE event = nullptr;
  std::uint8_t data[64] = {};
};

TEST_F(SimAspiLibrary, ReportsAdaptersUpToTheHighestDriveAndDescribesThem) {
  Load("[1:0]\n[2:3]\n[E]\n");
  EXPECT_EQ(supportInfo(), 0x0103u);

  SrbHaInquiry inquiry;
  std::memset(&inquiry, 0, sizeof inquiry);
  inquiry.SRB_Cmd = aspi::kHostAdapterInquiry;
  inquiry.SRB_HaId = 2;
  EXPECT_EQ(send(&inquiry), 0x01u);
  EXPECT_EQ(inquiry.HA_Count, 3);
  EXPECT_EQ(inquiry.HA_SCSI_ID, 7);
  inquiry.SRB_HaId = 3;
  EXPECT_EQ(send(&inquiry), 0x81u);
  EXPECT_EQ(inquiry.SRB_Status, 0x81);
}

TEST_F(SimAspiLibrary, AFileThatDoesNotParseLeavesTheManagerUninitialised) {
  Load("[1:0]\nrevision\n");
  EXPECT_EQ(supportInfo() >> 8, 0xE4u);
  SrbExecScsiCmd srb = Command(1, 0, {0x00, 0, 0, 0, 0, 0}, 0);
  EXPECT_EQ(send(&srb), 0xE4u);
}

TEST_F(SimAspiLibrary, CompletesFromItsOwnThreadAndHandsBackDataAndSense) {
  Load("[1:0]\nrevision = 1007\n");
  ASSERT_EQ(supportInfo() & 0xFF, 2u);

  // The drive has just been powered on: a unit attention first.
  SrbExecScsiCmd ready = Command(1, 0, {0x00, 0, 0, 0, 0, 0}, 0);
  ASSERT_EQ(Run(ready), 0x04);
  EXPECT_EQ(ready.SRB_TargStat, 0x02);
  EXPECT_EQ(ready.SRB_HaStat, 0x00);
  EXPECT_EQ(ready.SenseArea[2] & 0x0F, 0x06);
  EXPECT_EQ(ready.SenseArea[12], 0x29);

  SrbExecScsiCmd inquiry = Command(1, 0, {0x12, 0, 0, 0, 44, 0}, aspi::kFlagDirIn);
  EXPECT_EQ(send(&inquiry), aspi::kStatusPending);
  ASSERT_EQ(::WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(inquiry.SRB_Status, 0x01);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data) + 8, 28), "VELMORA DVD-ROM QX-M44711007");
}

TEST_F(SimAspiLibrary, NobodyAnswersAtAnEmptyTargetOrTheAdapterOwnId) {
  Load("[1:0]\n");
  ASSERT_EQ(supportInfo() & 0xFF, 2u);
  for (std::uint8_t target : {1, 7}) {
    SrbExecScsiCmd srb = Command(1, target, {0x12, 0, 0, 0, 44, 0}, aspi::kFlagDirIn);
    EXPECT_EQ(Run(srb), 0x04) << int(target);
    EXPECT_EQ(srb.SRB_HaStat, 0x11) << int(target);
  }
  SrbExecScsiCmd elsewhere = Command(2, 0, {0x12, 0, 0, 0, 44, 0}, aspi::kFlagDirIn);
  EXPECT_EQ(send(&elsewhere), 0x81u);
}

// The adapter rules the native simulated manager follows hold in the DLL too.
TEST_F(SimAspiLibrary, RefusesBadDirectionsOtherUnitsAndReportsAnOverrun) {
  Load("[1:0]\n");
  ASSERT_EQ(supportInfo() & 0xFF, 2u);
  SrbExecScsiCmd both = Command(1, 0, {0x00, 0, 0, 0, 0, 0}, aspi::kFlagDirIn | aspi::kFlagDirOut);
  EXPECT_EQ(send(&both), 0xE0u) << "refused at once";

  SrbExecScsiCmd undirected = Command(1, 0, {0x12, 0, 0, 0, 44, 0}, aspi::kFlagDirIn);
  undirected.SRB_Flags = aspi::kFlagEventNotify;
  EXPECT_EQ(Run(undirected), 0x04);
  EXPECT_EQ(undirected.SRB_HaStat, 0x14);

  SrbExecScsiCmd otherUnit = Command(1, 0, {0x12, 0, 0, 0, 44, 0}, aspi::kFlagDirIn);
  otherUnit.SRB_Lun = 1;
  EXPECT_EQ(Run(otherUnit), 0x04);
  EXPECT_EQ(otherUnit.SRB_HaStat, 0x11);

  SrbExecScsiCmd over = Command(1, 0, {0x12, 0, 0, 0, 96, 0}, aspi::kFlagDirIn);
  over.SRB_BufLen = 44;
  EXPECT_EQ(Run(over), 0x04);
  EXPECT_EQ(over.SRB_HaStat, 0x12);
  EXPECT_EQ(over.SRB_TargStat, 0x00);
  SrbExecScsiCmd under = Command(1, 0, {0x12, 0, 0, 0, 36, 0}, aspi::kFlagDirIn);
  under.SRB_BufLen = 44;
  EXPECT_EQ(Run(under), 0x01) << "a short reply is an ordinary answer";
}

TEST_F(SimAspiLibrary, HoldsTheCompletionForTheDriveDelay) {
  Load("[1:0]\nfault = inquiry:delay=600\n");
  ASSERT_EQ(supportInfo() & 0xFF, 2u);
  SrbExecScsiCmd srb = Command(1, 0, {0x12, 0, 0, 0, 44, 0}, aspi::kFlagDirIn);
  ASSERT_EQ(send(&srb), aspi::kStatusPending);
  EXPECT_EQ(::WaitForSingleObject(event, 200), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(srb.SRB_Status, aspi::kStatusPending);
  EXPECT_EQ(::WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(srb.SRB_Status, 0x01);
}

TEST_F(SimAspiLibrary, AbortWithdrawsARequestThatNeverCompletes) {
  Load("[1:0]\nfault = inquiry:hang\n");
  ASSERT_EQ(supportInfo() & 0xFF, 2u);
  SrbExecScsiCmd srb = Command(1, 0, {0x12, 0, 0, 0, 44, 0}, aspi::kFlagDirIn);
  ASSERT_EQ(send(&srb), aspi::kStatusPending);
  EXPECT_EQ(::WaitForSingleObject(event, 300), static_cast<DWORD>(WAIT_TIMEOUT));

  SrbAbort abort;
  std::memset(&abort, 0, sizeof abort);
  abort.SRB_Cmd = aspi::kAbortSrb;
  abort.SRB_HaId = 1;
  abort.SRB_ToAbort = &srb;
  EXPECT_EQ(send(&abort), 0x01u);
  EXPECT_EQ(::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(srb.SRB_Status, 0x02);
  EXPECT_EQ(data[8], 0) << "an aborted request moved data";
  // Withdrawn once: a second abort finds nothing.
  EXPECT_EQ(send(&abort), 0xE0u);
}

TEST_F(SimAspiLibrary, KeepsTheDriveStateInItsFile) {
  Load("[1:0]\n");
  ASSERT_EQ(supportInfo() & 0xFF, 2u);
  SrbExecScsiCmd ready = Command(1, 0, {0x00, 0, 0, 0, 0, 0}, 0);
  Run(ready);  // the unit attention
  EXPECT_EQ(StateText().find("tray = open"), std::string::npos);
  SrbExecScsiCmd eject = Command(1, 0, {0x1B, 0, 0, 0, 0x02, 0}, 0);
  ASSERT_EQ(Run(eject), 0x01);
  EXPECT_NE(StateText().find("tray = open"), std::string::npos) << StateText();
}

}  // namespace
}  // namespace qx
