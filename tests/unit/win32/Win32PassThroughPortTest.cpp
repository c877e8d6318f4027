// The real pass-through port on the system we run on (under Wine in the tests): the
// calls that need no optical drive.
#include <gtest/gtest.h>

#include <cstring>

#include "device/PassThroughRequest.h"
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
  char text[81];
  std::memset(text, 0x7F, sizeof text);
  const std::uint32_t written = port.FormatMessage(2, text, 80);  // ERROR_FILE_NOT_FOUND
  ASSERT_GT(written, 0u);
  EXPECT_LT(written, 80u);
  EXPECT_EQ(written, std::strlen(text));
  EXPECT_EQ(0x7F, static_cast<unsigned char>(text[80]));

  EXPECT_EQ(0u, port.FormatMessage(0x2000FFFFu, text, 80));
  EXPECT_NE(0u, port.GetLastError());
}

}  // namespace
}  // namespace qx
