#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "sim/FirmwareGenerator.h"
#include "sim/FirmwareLayout.h"
#include "update/FirmwareImage.h"

namespace qx {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes EmbeddedStored(int index) {
  const std::uint8_t* p = GetFirmwareImage(index).storedBytes;
  return Bytes(p, p + kImageSize);
}

// Reads an image back the way the download worker must, straight from the
// table, so a generator and unscrambler that agree on the wrong direction fail.
Bytes UnscrambleByRule(const Bytes& stored) {
  Bytes plain(stored.size());
  for (std::size_t b = 0; b < stored.size(); b += 256)
    for (std::size_t i = 0; i < 256; ++i) plain[b + i] = stored[b + UnscrambleTable[i]];
  return plain;
}

TEST(FirmwareImage, EmbeddedImagesAndRowsMatchTheGenerator) {
  for (int index = 0; index < kImageCount; ++index) {
    SCOPED_TRACE(index);
    const Bytes plain = firmware::GeneratePlainImage(index);
    ASSERT_EQ(plain.size(), kImageSize);
    const Bytes stored = EmbeddedStored(index);
    EXPECT_TRUE(stored == firmware::Scramble(plain)) << "res/firmware is stale: run imagegen";
    EXPECT_TRUE(UnscrambleByRule(stored) == plain);
    EXPECT_EQ(GetFirmwareImage(index).checksumRow, firmware::ChecksumRow(plain));
  }
  EXPECT_FALSE(EmbeddedStored(0) == EmbeddedStored(1));
  EXPECT_TRUE(firmware::GeneratePlainImage(1) == firmware::GeneratePlainImage(1));
  EXPECT_TRUE(firmware::GeneratePlainImage(2).empty());
  EXPECT_TRUE(firmware::GeneratePlainImage(-1).empty());
}

TEST(FirmwareImage, UnscrambledImagesPassTheDrivesCheckOnlyForTheirOwnFamily) {
  const char families[kImageCount] = {'0', '7'};
  for (int index = 0; index < kImageCount; ++index) {
    SCOPED_TRACE(index);
    Bytes plain = firmware::Unscramble(EmbeddedStored(index));
    EXPECT_EQ(firmware::CheckPlainImage(plain.data(), plain.size(), families[index]),
              firmware::ImageCheck::Ok);
    EXPECT_EQ(firmware::CheckPlainImage(plain.data(), plain.size(), families[1 - index]),
              firmware::ImageCheck::WrongFamily);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&plain[firmware::kVersionOffset]), 4),
              GetFirmwareImage(index).versionText);
    plain[70000] ^= 0x01;
    EXPECT_EQ(firmware::CheckPlainImage(plain.data(), plain.size(), families[index]),
              firmware::ImageCheck::BadTrailer);
  }
}

TEST(FirmwareImage, TableIsANonTrivialPermutation) {
  std::vector<int> seen(UnscrambleTable.begin(), UnscrambleTable.end());
  std::sort(seen.begin(), seen.end());
  std::vector<int> all(256);
  std::iota(all.begin(), all.end(), 0);
  EXPECT_EQ(seen, all);
  // Neither the identity nor a rotation: the shift P[i] - i must vary.
  int shifts = 0;
  std::vector<bool> shiftSeen(256, false);
  for (int i = 0; i < 256; ++i) {
    const int shift = (UnscrambleTable[i] - i + 256) % 256;
    if (!shiftSeen[shift]) ++shifts, shiftSeen[shift] = true;
  }
  EXPECT_GT(shifts, 1);
}

TEST(FirmwareImage, ScrambleKeepsEachBlocksBytesAndRoundTrips) {
  Bytes plain(4 * 256);
  std::uint32_t x = 12345;
  for (auto& byte : plain) byte = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  const Bytes stored = firmware::Scramble(plain);
  EXPECT_TRUE(firmware::Unscramble(stored) == plain);
  EXPECT_TRUE(firmware::Scramble(firmware::Unscramble(plain)) == plain);
  EXPECT_TRUE(UnscrambleByRule(stored) == plain);
  EXPECT_FALSE(stored == plain);
  for (std::size_t b = 0; b < plain.size(); b += 256) {
    Bytes before(plain.begin() + b, plain.begin() + b + 256);
    Bytes after(stored.begin() + b, stored.begin() + b + 256);
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_TRUE(before == after) << "block " << b / 256;
  }
  // A partial block cannot be permuted: refused rather than cut or overrun.
  EXPECT_TRUE(firmware::Scramble(Bytes(300, 1)).empty());
  EXPECT_TRUE(firmware::Unscramble(Bytes(255, 1)).empty());
}

TEST(FirmwareImage, LaneSumsOfAConstantImageDependOnlyOnLaneLength) {
  for (const std::uint8_t v : {std::uint8_t{1}, std::uint8_t{0x5A}, std::uint8_t{0xFF}}) {
    const Bytes plain = firmware::Unscramble(Bytes(kImageSize, v));
    const auto sums = firmware::LaneSums(plain.data(), plain.size());
    for (int j = 0; j < kLaneCount; ++j)
      EXPECT_EQ(sums[j], (j < 6 ? 10083u : 10082u) * v) << "lane " << j;
  }
}

TEST(FirmwareImage, OneChangedStoredByteChangesExactlyOneLane) {
  const Bytes stored = EmbeddedStored(1);
  const auto& row = GetFirmwareImage(1).checksumRow;
  for (const std::size_t offset : {0u, 255u, 256u * 300 + 17, kImageSize - 1}) {
    SCOPED_TRACE(offset);
    Bytes damaged = stored;
    damaged[offset] = static_cast<std::uint8_t>(damaged[offset] + 3);
    const auto sums = firmware::LaneSums(firmware::Unscramble(damaged).data(), kImageSize);
    const std::size_t block = offset / 256 * 256;
    // The stored byte at block offset P[i] is the plain byte at block offset i.
    const auto at = std::find(UnscrambleTable.begin(), UnscrambleTable.end(), offset % 256);
    const int lane = static_cast<int>((block + (at - UnscrambleTable.begin())) % kLaneCount);
    for (int j = 0; j < kLaneCount; ++j) {
      if (j == lane) {
        EXPECT_EQ(sums[j], row[j] + damaged[offset] - stored[offset]);
      } else {
        EXPECT_EQ(sums[j], row[j]) << "lane " << j;
      }
    }
  }
}

TEST(FirmwareImage, RecordsAndLists) {
  for (int index = 0; index < kImageCount; ++index) {
    const FirmwareImage& image = GetFirmwareImage(index);
    EXPECT_EQ(image.blockCount * kPageDataSize, kImageSize);
    EXPECT_STREQ(image.driveCode, "is");
    EXPECT_EQ(image.letterThreshold, 0x20);
  }
  EXPECT_STREQ(GetFirmwareImage(0).versionText, "1009");
  EXPECT_STREQ(GetFirmwareImage(1).versionText, "1709");
  EXPECT_EQ(FirmwareVersions(), (std::vector<std::string>{"1009", "1709"}));
  EXPECT_EQ(FirmwareCodes(), (std::vector<std::string>{"is", "is"}));
  // A stray index must neither match a drive nor survive the lane check.
  for (const int bad : {-1, 2, 255}) {
    const FirmwareImage& inert = GetFirmwareImage(bad);
    EXPECT_EQ(inert.blockCount, 0);
    EXPECT_STREQ(inert.versionText, "");
    EXPECT_STREQ(inert.driveCode, "");
    const Bytes plain = UnscrambleByRule(Bytes(inert.storedBytes, inert.storedBytes + kImageSize));
    const auto sums = firmware::LaneSums(plain.data(), kImageSize);
    EXPECT_NE(sums[0], inert.checksumRow[0]);
  }
}

}  // namespace
}  // namespace qx
