#pragma once
// The two firmware images carried inside the program, in their stored
// (block-permuted) form, with what the checks and the worker need to know of them.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qx {

constexpr std::uint32_t kImageSize = 131072;
constexpr std::uint32_t kPageDataSize = 32768;
constexpr int kImageCount = 2;
constexpr int kLaneCount = 13;

struct FirmwareImage {
  const std::uint8_t* storedBytes;        // kImageSize bytes, scrambled
  std::array<std::uint32_t, 16> checksumRow;  // words 0-12: lane sums of the plain image
  int blockCount;                          // data pages of kPageDataSize bytes
  const char* versionText;                 // "1009", "1709"
  const char* driveCode;                   // "is"
  std::int8_t letterThreshold;             // 0x20
};

// Records 0 and 1; index 1 is the last valid one. Any other index yields an
// inert record (no pages, empty texts, a checksum row no image can match), so a
// stray index can neither send nor match anything.
const FirmwareImage& GetFirmwareImage(int index);

// The process-wide lists of the images' version texts ("1009", "1709") and drive
// codes ("is", "is"), indexed by image index.
const std::vector<std::string>& FirmwareVersions();
const std::vector<std::string>& FirmwareCodes();

// The fixed permutation: plain[b + i] = stored[b + UnscrambleTable[i]] in every
// 256-byte block b.
extern const std::array<std::uint8_t, 256> UnscrambleTable;

}  // namespace qx
