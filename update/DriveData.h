#pragma once
// Where the drive puts what the checks read: its INQUIRY data (allocation length 44)
// and its 16-byte reply to the identify page of the vendor diagnostic page 0x88.
// The start-up drive check and the version check read the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qx::drivedata {

constexpr std::uint8_t kInquiryLength = 44;
constexpr std::size_t kProductOffset = 16;
constexpr std::size_t kProductLength = 16;
constexpr std::size_t kRevisionOffset = 32;
constexpr std::size_t kRevisionLength = 4;

constexpr std::uint8_t kIdentifyPage[8] = {0x88, 0x00, 0x00, 0x04, 0x00, 0x40, 0x00, 0x00};
constexpr std::uint16_t kIdentifyReplyLength = 16;
constexpr std::size_t kDriveCodeOffset = 6;
constexpr std::size_t kDriveCodeLength = 2;
constexpr std::size_t kLetterOffset = 15;

// Text of at most `length` bytes, ending at the first zero byte.
inline std::string FieldText(const std::uint8_t* field, std::size_t length) {
  std::size_t end = 0;
  while (end < length && field[end] != 0) ++end;
  return std::string(reinterpret_cast<const char*>(field), end);
}

}  // namespace qx::drivedata
