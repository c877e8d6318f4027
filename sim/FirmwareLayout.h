#pragma once
// The layout of a plain (unscrambled) firmware image of the "DVD-ROM QX-M4471",
// as the image generator writes it and the simulated drive checks it before it
// takes a new revision.
//
//   offset      size    content
//   0           4       magic "QXFW"
//   4           16      model "DVD-ROM QX-M4471"
//   20          1       family: second revision character, '0' or '7'
//   21          4       version, e.g. "1009"
//   25          7       zero
//   32          131036  body
//   131068      4       CRC-32 (IEEE 802.3, little-endian) of bytes 0 to 131067
#include <cstddef>
#include <cstdint>

namespace qx::firmware {

constexpr std::size_t kPlainSize = 131072;
constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kModelOffset = 4;
constexpr std::size_t kModelLength = 16;
constexpr std::size_t kFamilyOffset = 20;
constexpr std::size_t kVersionOffset = 21;
constexpr std::size_t kVersionLength = 4;
constexpr std::size_t kBodyOffset = 32;
constexpr std::size_t kTrailerOffset = kPlainSize - 4;
constexpr char kMagic[4] = {'Q', 'X', 'F', 'W'};
constexpr char kModel[] = "DVD-ROM QX-M4471";

std::uint32_t Crc32(const std::uint8_t* data, std::size_t length);

// Why a received image was refused, or Ok.
enum class ImageCheck { Ok, WrongLength, BadMagic, WrongModel, WrongFamily, BadTrailer };

// Checks a plain image received by a drive whose revision family is `family`.
ImageCheck CheckPlainImage(const std::uint8_t* data, std::size_t length, char family);

}  // namespace qx::firmware
