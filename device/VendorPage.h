#pragma once
// The drive's vendor diagnostic page 0x88, which carries both the identify exchange
// and the firmware download. Every page starts with the same 8-byte header:
//
//   byte 0     0x88, the page code
//   byte 1     0
//   bytes 2-3  page length after byte 3, most significant first
//   byte 4     0
//   byte 5     function: 40 identify, F0 open the download, C0 data or close
//   byte 6     argument: F0 00 first and F0 FF second opening page, C0 1-4 the data
//              pages in order, C0 00 the closing page
//   byte 7     0
//
// followed by 32768 image bytes on a data page. The identify page goes out by SEND
// DIAGNOSTIC and its 16-byte reply comes back by RECEIVE DIAGNOSTIC RESULTS: the
// drive code in reply bytes 6-7, the revision letter in byte 15.
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/CommandStatus.h"

namespace qx {

class ScsiDevice;

namespace vendorpage {

constexpr std::uint8_t kPageCode = 0x88;
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kLengthOffset = 2;
constexpr std::size_t kFunctionOffset = 5;
constexpr std::size_t kArgumentOffset = 6;
// Header bytes that are always 0.
constexpr std::size_t kReservedOffsets[] = {1, 4, 7};

namespace function {
constexpr std::uint8_t kIdentify = 0x40;
constexpr std::uint8_t kOpen = 0xF0;
constexpr std::uint8_t kData = 0xC0;  // argument 0 is the closing page
}  // namespace function

constexpr std::uint8_t kOpenFirst = 0x00;
constexpr std::uint8_t kOpenSecond = 0xFF;
constexpr std::uint8_t kClosing = 0x00;

constexpr std::uint32_t kDataSize = 32768;  // image bytes on one data page
constexpr std::uint8_t kDataPageCount = 4;
// The length field: what follows byte 3.
constexpr std::uint16_t kHeaderOnlyLength = 0x0004;
constexpr std::uint16_t kDataPageLength = 0x0004 + kDataSize;

constexpr std::uint16_t kIdentifyReplyLength = 16;
constexpr std::size_t kDriveCodeOffset = 6;
constexpr std::size_t kDriveCodeLength = 2;
constexpr std::size_t kLetterOffset = 15;

// Writes the 8-byte header at `page`.
inline void WriteHeader(std::uint8_t* page, std::uint16_t length, std::uint8_t function,
                        std::uint8_t argument) {
  page[0] = kPageCode;
  page[1] = 0x00;
  page[kLengthOffset] = static_cast<std::uint8_t>(length >> 8);
  page[kLengthOffset + 1] = static_cast<std::uint8_t>(length & 0xFF);
  page[4] = 0x00;
  page[kFunctionOffset] = function;
  page[kArgumentOffset] = argument;
  page[7] = 0x00;
}

// The page's length field.
constexpr std::uint16_t LengthOf(const std::uint8_t* page) {
  return static_cast<std::uint16_t>((page[kLengthOffset] << 8) | page[kLengthOffset + 1]);
}

// What the identify reply says about the drive.
struct IdentifyReply {
  std::string driveCode;    // bytes 6-7, ending early at a zero byte
  std::uint8_t letter = 0;  // byte 15, as the drive sent it
};

// Which command of the exchange failed.
enum class IdentifyStep { Page, Reply };

// The identify exchange with the selected drive through `buffer`, which must hold 16
// bytes: the page goes out from it and the reply comes back into it. Bytes of a short
// reply that the drive does not send keep what the buffer held. Returns kGood with
// *reply filled, or the status of the first command that failed with *failed naming
// it (when given); *reply is then untouched.
CommandStatus Identify(ScsiDevice& device, std::uint8_t* buffer, IdentifyReply* reply,
                       IdentifyStep* failed = nullptr);

}  // namespace vendorpage
}  // namespace qx
