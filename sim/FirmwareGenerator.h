#pragma once
// Makes the two firmware images the program carries, deterministically, and
// converts between their plain and stored (block-permuted) forms. The image
// generator tool writes its output from here, and the tests regenerate the same
// bytes to prove the embedded images are not stale.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "update/FirmwareImage.h"

namespace qx::firmware {

constexpr std::size_t kBlockSize = 256;

// The plain image of record `index` (0: family '0', version "1009"; 1: family
// '7', version "1709"), laid out as FirmwareLayout.h describes. Empty for any
// other index.
std::vector<std::uint8_t> GeneratePlainImage(int index);

// stored[b + P[i]] = plain[b + i] for every 256-byte block b. Empty when the
// length is not a whole number of blocks: a partial block cannot be permuted.
std::vector<std::uint8_t> Scramble(const std::vector<std::uint8_t>& plain);

// plain[b + i] = stored[b + P[i]]; the inverse of Scramble, same length rule.
std::vector<std::uint8_t> Unscramble(const std::vector<std::uint8_t>& stored);

// Sum of the bytes at offsets k with k mod 13 = j, for each lane j, in 32-bit
// unsigned arithmetic.
std::array<std::uint32_t, kLaneCount> LaneSums(const std::uint8_t* data, std::size_t length);

// The full 16-word checksum row of a plain image: the lane sums, then the sum
// of all bytes, the CRC-32 the image carries in its trailer and a zero word
// (those three go unread by the worker; they help a person tell rows apart).
std::array<std::uint32_t, 16> ChecksumRow(const std::vector<std::uint8_t>& plain);

}  // namespace qx::firmware
