#pragma once
// Which embedded image fits a drive, and whether the drive needs it. The image
// search and the applicability rule below are the one place this is decided; the
// main dialog's two checks and the start-up drive check all call them.
#include <cstdint>
#include <string>

#include "update/ImageTable.h"
#include "text/TextCatalogue.h"

namespace qx {

class ScsiDevice;

// The image the last check chose, read by the download worker. Written on the
// user-interface thread before the worker starts, never while it runs.
extern int selectedImageIndex;

constexpr int kNoImage = -1;

// The first image record a revision family may use: 0 for '0', 1 for '7',
// kNoImage for any other family.
int FirstCandidate(char family);

// The image search: from the family's first candidate, every second record whose
// drive code equals `driveCode` exactly. The index found, or kNoImage.
int FindImage(char family, const std::string& driveCode,
              const ImageTable& images = BuiltInImages());

// The number in the last two characters of a four-character revision or version
// text. False when either is not a decimal digit: such a text has no number.
bool RevisionNumber(const char* text4, int* number);

// The identify reply's revision letter (byte 15, signed), with lower case folded
// to upper case the way the drive's letters are compared.
std::int8_t RevisionLetter(std::uint8_t replyByte15);

enum class Verdict {
  UpdateApplies,  // older than the image, or the same number with a letter below the threshold
  Current,        // newer than the image, or the same number at or above the threshold
  NoNumber,       // the drive's revision or the image's version has no number: not supported
};

// The applicability rule for a drive at `revision` (4 characters) with `letter`
// against `image`.
Verdict Judge(const char* revision, std::int8_t letter, const FirmwareImage& image);

// What the checks need of the main dialog.
class VersionCheckView {
 public:
  virtual ~VersionCheckView() = default;
  // The drive list's current selection, negative when the list is empty.
  virtual int DriveSelection() = 0;
  // The status line; the dialog is refreshed with it.
  virtual void SetStatus(const std::string& text) = 0;
  virtual void EnableUpdateStart(bool enabled) = 0;
  // The hidden fields: the drive's revision (1004) and the applying image's version (1005).
  virtual void SetCurrentRevision(const std::string& text) = 0;
  virtual void SetImageVersion(const std::string& text) = 0;
  // MessageBeep with the standard sound.
  virtual void Beep() = 0;
  // A message box owned by the dialog, with the utility's caption and OK only.
  virtual void ShowMessage(const std::string& text) = 0;
};

enum class StartVerdict {
  Pass,
  DeviceRefusal,   // a command failed: the dialog shows the device's last message
  VersionRefusal,  // the check has already said why in its own message box
};

class VersionCheck {
 public:
  VersionCheck(ScsiDevice& device, VersionCheckView& view, Language language,
               const ImageTable& images = BuiltInImages())
      : device(device), view(view), language(language), images(images) {}

  // After every scan and every change of the selected drive: the status line, Update
  // Start and the hidden fields say whether the selected drive can be updated.
  void SelectionCheck();

  // When Update Start is pressed: identifies the drive again and leaves the image
  // to send in selectedImageIndex (0 unless it passes).
  StartVerdict StartCheck();

 private:
  ScsiDevice& device;
  VersionCheckView& view;
  Language language;
  const ImageTable& images;
};

}  // namespace qx
