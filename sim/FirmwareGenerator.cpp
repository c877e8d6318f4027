#include "sim/FirmwareGenerator.h"

#include <cstring>

#include "sim/FirmwareLayout.h"

namespace qx::firmware {
namespace {

struct ImageRecipe {
  char family;
  const char* version;
  std::uint32_t seed;  // nonzero: xorshift32 never leaves zero
};

constexpr ImageRecipe kRecipes[kImageCount] = {
    {'0', "1009", 0x6A09E667u},
    {'7', "1709", 0xBB67AE85u},
};

std::uint32_t NextXorshift32(std::uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

void PutLe32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> GeneratePlainImage(int index) {
  if (index < 0 || index >= kImageCount) return {};
  const ImageRecipe& recipe = kRecipes[index];
  std::vector<std::uint8_t> image(kPlainSize, 0);
  std::memcpy(image.data() + kMagicOffset, kMagic, sizeof kMagic);
  std::memcpy(image.data() + kModelOffset, kModel, kModelLength);
  image[kFamilyOffset] = static_cast<std::uint8_t>(recipe.family);
  std::memcpy(image.data() + kVersionOffset, recipe.version, kVersionLength);

  std::uint32_t state = recipe.seed;
  for (std::size_t k = kBodyOffset; k < kTrailerOffset; k += 4) {
    const std::uint32_t word = NextXorshift32(state);
    const std::size_t n = (kTrailerOffset - k < 4) ? kTrailerOffset - k : 4;
    for (std::size_t i = 0; i < n; ++i) image[k + i] = static_cast<std::uint8_t>(word >> (8 * i));
  }
  PutLe32(image.data() + kTrailerOffset, Crc32(image.data(), kTrailerOffset));
  return image;
}

std::vector<std::uint8_t> Scramble(const std::vector<std::uint8_t>& plain) {
  if (plain.size() % kBlockSize != 0) return {};
  std::vector<std::uint8_t> stored(plain.size());
  for (std::size_t b = 0; b < plain.size(); b += kBlockSize)
    for (std::size_t i = 0; i < kBlockSize; ++i) stored[b + UnscrambleTable[i]] = plain[b + i];
  return stored;
}

std::vector<std::uint8_t> Unscramble(const std::vector<std::uint8_t>& stored) {
  if (stored.size() % kBlockSize != 0) return {};
  std::vector<std::uint8_t> plain(stored.size());
  for (std::size_t b = 0; b < stored.size(); b += kBlockSize)
    for (std::size_t i = 0; i < kBlockSize; ++i) plain[b + i] = stored[b + UnscrambleTable[i]];
  return plain;
}

std::array<std::uint32_t, kLaneCount> LaneSums(const std::uint8_t* data, std::size_t length) {
  std::array<std::uint32_t, kLaneCount> sums{};
  for (std::size_t k = 0; k < length; ++k) sums[k % kLaneCount] += data[k];
  return sums;
}

std::array<std::uint32_t, 16> ChecksumRow(const std::vector<std::uint8_t>& plain) {
  std::array<std::uint32_t, 16> row{};
  const auto lanes = LaneSums(plain.data(), plain.size());
  std::uint32_t total = 0;
  for (int j = 0; j < kLaneCount; ++j) {
    row[j] = lanes[j];
    total += lanes[j];
  }
  row[13] = total;
  row[14] = Crc32(plain.data(), plain.size() < 4 ? 0 : plain.size() - 4);
  row[15] = 0;
  return row;
}

}  // namespace qx::firmware
