#include "update/FirmwareImage.h"

// Set by cmake/Firmware.cmake for this file alone.
#if !defined(QX_FIRMWARE_DIR) || !defined(QX_RODATA_SECTION)
#error "FirmwareImage.cpp needs QX_FIRMWARE_DIR and QX_RODATA_SECTION from the build"
#endif

// The stored images, copied in by the assembler. The asm labels fix the symbol
// names exactly, so no object format's underscore convention gets in the way. A
// file of the wrong length stops the build: the worker reads exactly kImageSize
// bytes from each start.
extern "C" const std::uint8_t qxStoredImage0[] asm("qx_stored_image0");
extern "C" const std::uint8_t qxStoredImage1[] asm("qx_stored_image1");

asm(".section " QX_RODATA_SECTION "\n"
    ".balign 16\n"
    ".globl qx_stored_image0\n"
    "qx_stored_image0:\n"
    ".incbin \"" QX_FIRMWARE_DIR "/image0.bin\"\n"
    "qx_stored_image0_end:\n"
    ".if qx_stored_image0_end - qx_stored_image0 - 131072\n"
    ".error \"res/firmware/image0.bin must be 131072 bytes\"\n"
    ".endif\n"
    ".balign 16\n"
    ".globl qx_stored_image1\n"
    "qx_stored_image1:\n"
    ".incbin \"" QX_FIRMWARE_DIR "/image1.bin\"\n"
    "qx_stored_image1_end:\n"
    ".if qx_stored_image1_end - qx_stored_image1 - 131072\n"
    ".error \"res/firmware/image1.bin must be 131072 bytes\"\n"
    ".endif\n"
    ".text\n");

namespace qx {
namespace {

// Lane sums (words 0-12) of each plain image, written by tools/imagegen.
constexpr std::array<std::uint32_t, 16> kChecksumRows[kImageCount] = {
#include "update/FirmwareRows.inc"
};

// Read by nothing but a caller that passed a bad index: all zero, so it never
// carries anyone's firmware. Not const, so it costs no file space.
std::uint8_t noImage[kImageSize];

// No lane of a 131072-byte image can sum past 10083 x 255, so this row never
// matches and the worker refuses before it touches the drive.
constexpr std::array<std::uint32_t, 16> kUnmatchableRow = {
    0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
    0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
    0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};

const FirmwareImage kImages[kImageCount] = {
    {qxStoredImage0, kChecksumRows[0], 4, "1009", "is", 0x20},
    {qxStoredImage1, kChecksumRows[1], 4, "1709", "is", 0x20},
};

const FirmwareImage kInertImage = {noImage, kUnmatchableRow, 0, "", "", 0};

}  // namespace

const FirmwareImage& GetFirmwareImage(int index) {
  if (index < 0 || index >= kImageCount) return kInertImage;
  return kImages[index];
}

const std::vector<std::string>& FirmwareVersions() {
  static const std::vector<std::string> versions{kImages[0].versionText, kImages[1].versionText};
  return versions;
}

const std::vector<std::string>& FirmwareCodes() {
  static const std::vector<std::string> codes{kImages[0].driveCode, kImages[1].driveCode};
  return codes;
}

}  // namespace qx
