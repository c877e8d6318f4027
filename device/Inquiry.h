#pragma once
// The drive's INQUIRY data as this program reads it: where each field sits, the
// values that name our drive, and how a fixed-width field becomes text. Discovery in
// both transports, the start-up drive check, the version check, the confirmation
// after an update and the simulated drive all go by it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "text/TextCatalogue.h"

namespace qx::inquiry {

// The allocation length every INQUIRY of ours asks for.
constexpr std::uint8_t kAllocationLength = 44;

constexpr std::size_t kDeviceTypeOffset = 0;  // peripheral device type in bits 4-0
constexpr std::uint8_t kDeviceTypeMask = 0x1F;
constexpr std::size_t kVendorOffset = 8;
constexpr std::size_t kVendorLength = 8;
constexpr std::size_t kProductOffset = 16;
constexpr std::size_t kProductLength = 16;
constexpr std::size_t kRevisionOffset = 32;
constexpr std::size_t kRevisionLength = 4;
// Vendor, product and revision together: the text a drive list shows.
constexpr std::size_t kDescriptionLength = kVendorLength + kProductLength + kRevisionLength;

// Our drive: the vendor field, blank-padded, and the product field, which is the
// model name the screens show.
constexpr char kVendor[] = "VELMORA ";
constexpr const char* kProduct = kModelName;
static_assert(sizeof kVendor - 1 == kVendorLength, "the vendor fills its field");
static_assert(sizeof kModelName - 1 == kProductLength, "the model fills the product field");

// Peripheral device types a DVD-ROM drive may report.
constexpr std::uint8_t kTypeWorm = 4;
constexpr std::uint8_t kTypeCdDvd = 5;
constexpr std::uint8_t kTypeOpticalMemory = 7;

constexpr bool IsOpticalType(std::uint8_t firstByte) {
  const std::uint8_t type = firstByte & kDeviceTypeMask;
  return type == kTypeWorm || type == kTypeCdDvd || type == kTypeOpticalMemory;
}

// The text of a field of at most `length` bytes: a drive may end it early with a
// zero byte, and nothing after that byte belongs to it. Blanks are kept.
inline std::string FieldText(const std::uint8_t* field, std::size_t length) {
  std::size_t end = 0;
  while (end < length && field[end] != 0) ++end;
  return std::string(reinterpret_cast<const char*>(field), end);
}

}  // namespace qx::inquiry
