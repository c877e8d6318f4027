// The shared image search and applicability rule, and the worker's image arithmetic.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "update/DownloadWorker.h"
#include "update/VersionCheck.h"

namespace qx {
namespace {

const std::uint8_t kNoBytes[1] = {0};

FirmwareImage Record(const char* version, const char* code, std::int8_t threshold = 0x20) {
  return FirmwareImage{kNoBytes, {}, 4, version, code, threshold};
}

TEST(ImageSearch, FamilyPicksTheOnlyRecordAndTheCodeMustMatchExactly) {
  FirmwareImage zero = Record("1009", "is");
  FirmwareImage seven = Record("1709", "is");
  ImageTable table{{&zero, &seven}, nullptr};
  EXPECT_EQ(FindImage('0', "is", table), 0);
  EXPECT_EQ(FindImage('7', "is", table), 1);
  EXPECT_EQ(FindImage('3', "is", table), kNoImage);
  EXPECT_EQ(FindImage('\0', "is", table), kNoImage);
  EXPECT_EQ(FindImage('0', "IS", table), kNoImage);  // case matters
  EXPECT_EQ(FindImage('0', "i", table), kNoImage);   // a reply cut short by a zero byte
  EXPECT_EQ(FindImage('0', "is ", table), kNoImage);

  // Family '0' never reaches record 1, even when only record 1's code fits.
  FirmwareImage other = Record("1009", "xx");
  ImageTable mixed{{&other, &seven}, nullptr};
  EXPECT_EQ(FindImage('0', "is", mixed), kNoImage);
  EXPECT_EQ(FindImage('7', "is", mixed), 1);
}

TEST(RevisionRule, NumbersAndLetters) {
  int number = -1;
  EXPECT_TRUE(RevisionNumber("1009", &number));
  EXPECT_EQ(number, 9);
  EXPECT_TRUE(RevisionNumber("1712", &number));
  EXPECT_EQ(number, 12);
  number = -1;
  EXPECT_FALSE(RevisionNumber("10A9", &number));
  EXPECT_FALSE(RevisionNumber("10 9", &number));
  EXPECT_FALSE(RevisionNumber("100", &number));  // ends early
  EXPECT_FALSE(RevisionNumber("10\x09" "9", &number));
  EXPECT_EQ(number, -1);

  EXPECT_EQ(RevisionLetter('A'), 'A');
  EXPECT_EQ(RevisionLetter('a'), 'A');
  EXPECT_EQ(RevisionLetter(0x7B), 0x5B);
  EXPECT_EQ(RevisionLetter(0x60), 0x60);
  EXPECT_EQ(RevisionLetter(0x80), -128);  // negative, so never folded
  EXPECT_EQ(RevisionLetter(0xE1), -31);
}

TEST(RevisionRule, VerdictAgainstImageNumberAndThreshold) {
  FirmwareImage image = Record("1009", "is");
  EXPECT_EQ(Judge("1005", 'A', image), Verdict::UpdateApplies);
  EXPECT_EQ(Judge("1009", 'A', image), Verdict::Current);
  EXPECT_EQ(Judge("1009", ' ', image), Verdict::Current);  // at the threshold
  EXPECT_EQ(Judge("1009", 0x1F, image), Verdict::UpdateApplies);
  EXPECT_EQ(Judge("1009", 0, image), Verdict::UpdateApplies);
  EXPECT_EQ(Judge("1009", RevisionLetter(0x80), image), Verdict::UpdateApplies);
  EXPECT_EQ(Judge("1012", 0, image), Verdict::Current);
  EXPECT_EQ(Judge("1008", 'Z', image), Verdict::UpdateApplies);

  // No number on either side: neither current nor in need of the update.
  EXPECT_EQ(Judge("10AB", 'A', image), Verdict::NoNumber);
  EXPECT_EQ(Judge("10:0", 0, image), Verdict::NoNumber);
  FirmwareImage broken = Record("10x9", "is");
  EXPECT_EQ(Judge("1005", 'A', broken), Verdict::NoNumber);
}

TEST(ImageArithmetic, LaneSumsOfAConstantImageAndOfOneChangedByte) {
  std::vector<std::uint8_t> image(kImageSize, 0xFF);
  std::array<std::uint32_t, 13> sums = LaneSums(image.data(), kImageSize);
  for (int lane = 0; lane < 6; ++lane) EXPECT_EQ(sums[lane], 10083u * 0xFF) << lane;
  for (int lane = 6; lane < 13; ++lane) EXPECT_EQ(sums[lane], 10082u * 0xFF) << lane;

  image[131071] = 0x00;  // offset 131071 is lane 131071 mod 13 = 5
  std::array<std::uint32_t, 13> changed = LaneSums(image.data(), kImageSize);
  for (int lane = 0; lane < 13; ++lane) {
    EXPECT_EQ(changed[lane], lane == 5 ? sums[lane] - 0xFF : sums[lane]) << lane;
  }
}

}  // namespace
}  // namespace qx
