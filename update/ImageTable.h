#pragma once
// The images a check or a download works with. The program uses the built-in
// table; tests hand in their own records (a damaged copy, a plain image) the same way.
#include <array>
#include <cstdint>

#include "update/FirmwareImage.h"

namespace qx {

struct ImageTable {
  const FirmwareImage* records[kImageCount];
  const std::array<std::uint8_t, 256>* unscrambleTable;

  const FirmwareImage& Image(int index) const { return *records[index]; }
};

// The two images carried inside the program and their unscramble table.
const ImageTable& BuiltInImages();

}  // namespace qx
