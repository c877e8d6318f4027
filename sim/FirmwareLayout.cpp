#include "sim/FirmwareLayout.h"

#include <cstring>

namespace qx::firmware {

std::uint32_t Crc32(const std::uint8_t* data, std::size_t length) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

ImageCheck CheckPlainImage(const std::uint8_t* data, std::size_t length, char family) {
  if (length != kPlainSize) return ImageCheck::WrongLength;
  if (std::memcmp(data + kMagicOffset, kMagic, sizeof kMagic) != 0) return ImageCheck::BadMagic;
  if (std::memcmp(data + kModelOffset, kModel, kModelLength) != 0) return ImageCheck::WrongModel;
  if (static_cast<char>(data[kFamilyOffset]) != family) return ImageCheck::WrongFamily;
  const std::uint8_t* t = data + kTrailerOffset;
  const std::uint32_t stored = t[0] | (t[1] << 8) | (t[2] << 16) | (std::uint32_t(t[3]) << 24);
  if (stored != Crc32(data, kTrailerOffset)) return ImageCheck::BadTrailer;
  return ImageCheck::Ok;
}

}  // namespace qx::firmware
