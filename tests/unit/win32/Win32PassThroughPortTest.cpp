// The real pass-through port on the system we run on (under Wine in the tests): the
// calls that need no optical drive.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/PassThroughRequest.h"
#include "platform/win32/AnsiText.h"
#include "platform/win32/Win32PassThroughPort.h"

namespace qx {
namespace {

// A letter no prefix maps: no root directory, and no volume device to open.
constexpr char kUnmappedRoot[] = "Q:";
constexpr char kUnmappedDevice[] = "\\\\.\\Q:";

TEST(Win32PassThroughPort, UnmappedLetterHasNoDriveAndCannotBeOpened) {
  Win32PassThroughPort port;
  EXPECT_EQ(1u, port.GetDriveType(kUnmappedRoot));  // DRIVE_NO_ROOT_DIR
  EXPECT_NE(passthrough::kDriveTypeCdrom, port.GetDriveType("C:"));
  EXPECT_EQ(kInvalidPortHandle, port.Open(kUnmappedDevice));
  EXPECT_NE(0u, port.GetLastError());
}

TEST(Win32PassThroughPort, SystemTextsFitTheBufferAndUnknownNumbersFail) {
  Win32PassThroughPort port;
  std::string text;
  ASSERT_TRUE(port.FormatMessage(2, 80, &text));  // ERROR_FILE_NOT_FOUND
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find('\0'), std::string::npos);
  // In UTF-8 whatever the code page: converting back to it loses nothing.
  EXPECT_EQ(FromAnsi(ToAnsi(text)), text);
  EXPECT_LT(ToAnsi(text).size(), 80u);

  EXPECT_FALSE(port.FormatMessage(0x2000FFFFu, 80, &text));
  EXPECT_NE(0u, port.GetLastError());
}

}  // namespace
}  // namespace qx
