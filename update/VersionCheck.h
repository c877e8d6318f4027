#pragma once
// Which embedded image fits a drive, and whether the drive needs it. The image
// search and the applicability rule below are the one place this is decided; the
// main dialog's two checks and the start-up drive check all call them.
#include <cstddef>
#include <cstdint>
#include <optional>
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

// What the selection check's INQUIRY gives the main dialog to show, in this order: the
// drive's revision in the hidden field 1004, or the standard beep when the drive did
// not answer; then `status` on the status line, Update Start disabled and the hidden
// field 1005 cleared. The status stays until the second step replaces it.
struct SelectionInquiry {
  bool answered = false;
  std::string currentRevision;
  std::string status;
};

// What the rest of the selection check gives the dialog to show, after the inquiry's
// screen and in this order: the applying image's version in the hidden field 1005
// (when not empty), Update Start enabled (when true), and the status line (when set;
// unset, the inquiry's status stays).
struct SelectionDecision {
  std::string imageVersion;
  bool updateStart = false;
  std::optional<std::string> status;
};

enum class StartVerdict {
  Pass,
  DeviceRefusal,   // a command failed: the dialog shows the device's last message
  VersionRefusal,  // the check says why in `message`, when there is anything to say
};

struct StartCheckResult {
  StartVerdict verdict = StartVerdict::Pass;
  // A version refusal's message box, owned by the dialog; empty for none.
  std::string message;
};

class VersionCheck {
 public:
  VersionCheck(ScsiDevice& device, Language language, const ImageTable& images = BuiltInImages())
      : device(device), language(language), images(images) {}

  // After every scan and every change of the selected drive, in two steps whose
  // screens the dialog shows one after the other, so that the status line reads
  // "Not Support." while the drive is asked who it is. `selection` is the drive
  // list's, negative when the list is empty.
  SelectionInquiry InquireSelection(int selection);
  // Identifies the drive the inquiry addressed and decides whether it can be updated.
  SelectionDecision DecideSelection();

  // When Update Start is pressed: identifies the drive at `selection` again and
  // leaves the image to send in selectedImageIndex (0 unless it passes).
  StartCheckResult StartCheck(int selection);

 private:
  static constexpr std::size_t kBufferSize = 256;

  // Zeroes the buffer and the revision, then INQUIRY of the drive at `selection` into
  // the buffer, keeping its revision. False when there is no drive or it did not answer.
  bool Inquire(int selection);

  ScsiDevice& device;
  Language language;
  const ImageTable& images;
  // The one data buffer of both checks: the INQUIRY answer, then the identify page
  // and its reply. The selection check's second step reads what the first left.
  std::uint8_t buffer[kBufferSize] = {};
  char revision[18] = {};
};

}  // namespace qx
