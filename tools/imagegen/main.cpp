// imagegen SOURCE_ROOT
// Writes SOURCE_ROOT/res/firmware/image0.bin and image1.bin (stored form) and
// SOURCE_ROOT/update/FirmwareRows.inc (the checksum rows the core compiles in).
// Exit code 0 on success, 1 on a failed self-check, 2 on a usage or file error.
#include <cstdio>
#include <string>
#include <vector>

#include "sim/FirmwareGenerator.h"
#include "sim/FirmwareLayout.h"

namespace {

bool WriteFile(const std::string& path, const void* data, std::size_t length) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "imagegen: cannot open %s for writing\n", path.c_str());
    return false;
  }
  const bool ok = std::fwrite(data, 1, length, f) == length;
  const bool closed = std::fclose(f) == 0;
  if (!ok || !closed) std::fprintf(stderr, "imagegen: cannot write %s\n", path.c_str());
  return ok && closed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: imagegen SOURCE_ROOT\n");
    return 2;
  }
  const std::string root = argv[1];
  std::string rows =
      "// Checksum rows of the embedded firmware images, one per image index.\n"
      "// Written by tools/imagegen together with res/firmware/image*.bin; do not edit.\n";
  for (int index = 0; index < qx::kImageCount; ++index) {
    const std::vector<std::uint8_t> plain = qx::firmware::GeneratePlainImage(index);
    const std::vector<std::uint8_t> stored = qx::firmware::Scramble(plain);
    const char family = static_cast<char>(plain[qx::firmware::kFamilyOffset]);
    // Never write an image that would not come back intact or that a drive would refuse.
    using qx::firmware::ImageCheck;
    const ImageCheck check = qx::firmware::CheckPlainImage(plain.data(), plain.size(), family);
    const bool accepted = check == ImageCheck::Ok;
    if (stored.size() != qx::kImageSize || qx::firmware::Unscramble(stored) != plain || !accepted) {
      std::fprintf(stderr, "imagegen: image %d failed its self-check\n", index);
      return 1;
    }
    const std::string path = root + "/res/firmware/image" + std::to_string(index) + ".bin";
    if (!WriteFile(path, stored.data(), stored.size())) return 2;

    const auto row = qx::firmware::ChecksumRow(plain);
    char line[64];
    rows += "{{";
    for (std::size_t w = 0; w < row.size(); ++w) {
      std::snprintf(line, sizeof line, "%s0x%08Xu%s", w % 4 == 0 ? "\n    " : " ",
                    static_cast<unsigned>(row[w]), w + 1 < row.size() ? "," : "");
      rows += line;
    }
    rows += "}},\n";
  }
  const std::string rowsPath = root + "/update/FirmwareRows.inc";
  if (!WriteFile(rowsPath, rows.data(), rows.size())) return 2;
  return 0;
}
