// The System seam and the text conversion against the real (Wine's) kernel32 and user32.
#include <gtest/gtest.h>

#include "platform/win32/Win32Api.h"

#include <cstring>
#include <string>

#include "platform/win32/AnsiText.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/runtime/Win98Runtime.h"

namespace qx {
namespace {

TEST(Win32System, ReportsAPlatformAndAnOrdinaryCodePage) {
  Win32System system;
  VersionInfo version;
  version.platformId = 99;
  ASSERT_TRUE(system.GetVersion(&version));
  EXPECT_TRUE(version.platformId == sys::kPlatformWindows || version.platformId == sys::kPlatformNt);
  EXPECT_GE(version.majorVersion, 4u);

  // The runtime's code page is 0 for single-byte ANSI code pages and the ANSI code
  // page itself for double-byte ones; never anything else.
  const int codePage = system.CodePage();
  const int ansi = static_cast<int>(::GetACP());
  EXPECT_TRUE(codePage == 0 || codePage == ansi) << codePage << " vs ANSI " << ansi;
}

TEST(Win32System, SecondMutexOfTheSameNameReportsAlreadyExists) {
  Win32System system;
  std::uint32_t firstError = 0xDEADBEEF;
  std::uint32_t secondError = 0xDEADBEEF;
  const SysHandle first = system.CreateMutex("QXUNITTEST-MUTEX", &firstError);
  ASSERT_NE(first, 0u);
  EXPECT_NE(firstError, sys::kErrorAlreadyExists);
  const SysHandle second = system.CreateMutex("QXUNITTEST-MUTEX", &secondError);
  ASSERT_NE(second, 0u);
  EXPECT_EQ(secondError, sys::kErrorAlreadyExists);
  EXPECT_TRUE(system.ReleaseMutex(first));
  system.CloseHandle(second);
  system.CloseHandle(first);

  // Once every handle is closed the name is free again.
  std::uint32_t againError = 0xDEADBEEF;
  const SysHandle again = system.CreateMutex("QXUNITTEST-MUTEX", &againError);
  ASSERT_NE(again, 0u);
  EXPECT_NE(againError, sys::kErrorAlreadyExists);
  system.CloseHandle(again);
}

TEST(Win32System, ModulePathIsTerminatedOrRefusedWhenItDoesNotFit) {
  Win32System system;
  char path[1020];
  std::memset(path, 'x', sizeof path);
  const std::uint32_t length = system.GetModuleFileName(path, sizeof path);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::strlen(path), length);
  char direct[1020] = {};
  ASSERT_GT(::GetModuleFileNameA(nullptr, direct, sizeof direct), 0u);
  EXPECT_STREQ(path, direct);

  // A buffer one byte short of the path and its terminator: a cut path would name
  // another file, so it counts as a failure.
  char shortBuffer[1020];
  std::memset(shortBuffer, 'x', sizeof shortBuffer);
  EXPECT_EQ(system.GetModuleFileName(shortBuffer, length), 0u);
  EXPECT_EQ(shortBuffer[0], '\0');
  EXPECT_EQ(shortBuffer[length], 'x');  // nothing written past the size given
}

TEST(Win32System, ScreenSaverSettingReadsBackWhatWasSet) {
  Win32System system;
  std::uint32_t original = 0xDEADBEEF;
  ASSERT_TRUE(system.GetScreenSaverActive(&original));
  ASSERT_LE(original, 1u);
  const std::uint32_t flipped = original ? 0 : 1;
  ASSERT_TRUE(system.SetScreenSaverActive(flipped));
  std::uint32_t now = 0xDEADBEEF;
  ASSERT_TRUE(system.GetScreenSaverActive(&now));
  EXPECT_EQ(now, flipped);
  EXPECT_TRUE(system.SetScreenSaverActive(original));
}

TEST(Win32System, ShutdownPrivilegeHasAnIdentifier) {
  Win32System system;
  std::uint64_t luid = 0;
  ASSERT_TRUE(system.LookupPrivilegeValue("SeShutdownPrivilege", &luid));
  EXPECT_NE(luid, 0u);
  EXPECT_FALSE(system.LookupPrivilegeValue("SeNoSuchPrivilegeAtAll", &luid));
}

TEST(AnsiText, RoundTripsAsciiAndKeepsTheLastError) {
  const std::string ascii = "Firmware Update Utility\r\n%s 100% [ CAUTION ]";
  ::SetLastError(1234);
  const std::string ansi = ToAnsi(ascii);
  EXPECT_EQ(::GetLastError(), 1234u);
  EXPECT_EQ(ansi, ascii);
  ::SetLastError(183);
  EXPECT_EQ(FromAnsi(ansi), ascii);
  EXPECT_EQ(::GetLastError(), 183u);
  EXPECT_EQ(ToAnsi(""), "");
}

TEST(AnsiText, JapaneseBecomesShiftJisUnder932AndQuestionMarksElsewhere) {
  const std::string cancel = "\xE3\x82\xAD\xE3\x83\xA3\xE3\x83\xB3\xE3\x82\xBB\xE3\x83\xAB";  // キャンセル
  const std::string ansi = ToAnsi(cancel);
  if (::GetACP() == 932) {
    EXPECT_EQ(ansi, "\x83\x4C\x83\x83\x83\x93\x83\x5A\x83\x8B");
    EXPECT_EQ(FromAnsi(ansi), cancel);
  } else {
    // Five characters the code page cannot hold; none may vanish or turn into bytes
    // of another character.
    EXPECT_EQ(ansi.size(), 5u);
    EXPECT_EQ(ansi.find_first_not_of('?'), std::string::npos) << ansi;
  }
}

TEST(Win98Runtime, WideStandInsReachTheSameObjectsAsTheAnsiCalls) {
  EXPECT_EQ(QxGetModuleHandleW(L"kernel32.dll"), ::GetModuleHandleA("kernel32.dll"));
  EXPECT_EQ(QxGetModuleHandleW(nullptr), ::GetModuleHandleA(nullptr));
  EXPECT_EQ(QxGetModuleHandleW(L"qx-no-such-module.dll"), nullptr);

  HMODULE user = QxLoadLibraryW(L"user32.dll");
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user, ::GetModuleHandleA("user32.dll"));
  ::FreeLibrary(user);
  EXPECT_EQ(QxLoadLibraryW(nullptr), nullptr);

  // A named semaphore made through the stand-in is found again by its ANSI name.
  HANDLE first = QxCreateSemaphoreW(nullptr, 0, 4, L"QXUNITTEST-SEMAPHORE");
  ASSERT_NE(first, nullptr);
  HANDLE second = ::CreateSemaphoreA(nullptr, 0, 4, "QXUNITTEST-SEMAPHORE");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(::ReleaseSemaphore(second, 1, nullptr));
  EXPECT_EQ(::WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  ::CloseHandle(second);
  ::CloseHandle(first);

  HANDLE unnamed = QxCreateSemaphoreW(nullptr, 1, 1, nullptr);
  ASSERT_NE(unnamed, nullptr);
  EXPECT_EQ(::WaitForSingleObject(unnamed, 0), WAIT_OBJECT_0);
  EXPECT_EQ(::WaitForSingleObject(unnamed, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ::CloseHandle(unnamed);
}

}  // namespace
}  // namespace qx
