#include "update/VersionCheck.h"

#include <cstring>

#include "device/Inquiry.h"
#include "device/ScsiDevice.h"
#include "device/VendorPage.h"

namespace qx {

using namespace inquiry;

int selectedImageIndex = 0;

namespace {

constexpr int kLastImageIndex = kImageCount - 1;

constexpr std::size_t kCheckBufferSize = 256;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int FirstCandidate(char family) {
  if (family == '0') return 0;
  if (family == '7') return 1;
  return kNoImage;
}

int FindImage(char family, const std::string& driveCode, const ImageTable& images) {
  int index = FirstCandidate(family);
  if (index == kNoImage) return kNoImage;
  for (; index <= kLastImageIndex; index += 2) {
    if (driveCode == images.Image(index).driveCode) return index;
  }
  return kNoImage;
}

bool RevisionNumber(const char* text4, int* number) {
  // A text shorter than four characters ends in a zero byte, which is no digit.
  for (int i = 0; i < 4; ++i) {
    if (text4[i] == '\0') return false;
  }
  if (!IsDigit(text4[2]) || !IsDigit(text4[3])) return false;
  *number = (text4[2] - '0') * 10 + (text4[3] - '0');
  return true;
}

std::int8_t RevisionLetter(std::uint8_t replyByte15) {
  auto letter = static_cast<std::int8_t>(replyByte15);
  if (letter >= 'a') letter = static_cast<std::int8_t>(letter - 32);
  return letter;
}

Verdict Judge(const char* revision, std::int8_t letter, const FirmwareImage& image) {
  int driveNumber = 0;
  int imageNumber = 0;
  // Without both numbers there is nothing to compare; offering an update, or calling
  // the drive current, would each be a guess about firmware we do not know.
  if (!RevisionNumber(revision, &driveNumber) || !RevisionNumber(image.versionText, &imageNumber)) {
    return Verdict::NoNumber;
  }
  if (driveNumber > imageNumber) return Verdict::Current;
  if (driveNumber == imageNumber && image.letterThreshold <= letter) return Verdict::Current;
  return Verdict::UpdateApplies;
}

void VersionCheck::SelectionCheck() {
  std::uint8_t buffer[kCheckBufferSize] = {};
  char revision[18] = {};

  int selection = view.DriveSelection();
  bool haveDrive = selection >= 0;
  // With no drive in the list there is nothing to address: a command would go to
  // whatever slot 0xFF names. It ends the way a failed INQUIRY does.
  if (haveDrive) {
    device.SelectDrive(static_cast<std::uint8_t>(selection & 0xFF));
    device.SetBuffer(buffer, kAllocationLength);
  }
  if (haveDrive && device.Inquiry(kAllocationLength) == status::kGood) {
    std::memcpy(revision, buffer + kRevisionOffset, kRevisionLength);
    view.SetCurrentRevision(FieldText(buffer + kRevisionOffset, kRevisionLength));
  } else {
    view.Beep();
  }

  view.SetStatus(Text(TextId::NotSupport, language));
  view.EnableUpdateStart(false);
  view.SetImageVersion("");

  std::string product = FieldText(buffer + kProductOffset, kProductLength);
  if (product.find(inquiry::kProduct) == std::string::npos) return;
  if (revision[0] != '1') return;
  if (FirstCandidate(revision[1]) == kNoImage) {
    view.SetStatus(Text(TextId::NotSupportFirmware, language));
    return;
  }

  vendorpage::IdentifyReply reply;
  if (vendorpage::Identify(device, buffer, &reply) != status::kGood) return;
  std::int8_t letter = RevisionLetter(reply.letter);
  std::string driveCode = reply.driveCode;

  int index = FindImage(revision[1], driveCode, images);
  if (index == kNoImage) {
    view.SetStatus(Text(TextId::NotSupport, language));
    return;
  }
  selectedImageIndex = index;
  const FirmwareImage& image = images.Image(index);

  switch (Judge(revision, letter, image)) {
    case Verdict::NoNumber:
      view.SetStatus(Text(TextId::NotSupportFirmware, language));
      return;
    case Verdict::Current:
      view.SetImageVersion(image.versionText);
      view.SetStatus(Text(TextId::UnnecessaryUpdate, language));
      return;
    case Verdict::UpdateApplies:
      view.SetImageVersion(image.versionText);
      view.EnableUpdateStart(true);
      view.SetStatus(Text(TextId::StatusBlank, language));
      return;
  }
}

StartVerdict VersionCheck::StartCheck() {
  std::uint8_t buffer[kCheckBufferSize] = {};

  selectedImageIndex = 0;
  int selection = view.DriveSelection();
  if (selection < 0) return StartVerdict::VersionRefusal;  // Update Start is never enabled then
  device.SelectDrive(static_cast<std::uint8_t>(selection & 0xFF));

  device.SetBuffer(buffer, kAllocationLength);
  if (device.Inquiry(kAllocationLength) != status::kGood) return StartVerdict::DeviceRefusal;

  char revision[kRevisionLength + 1] = {};
  std::memcpy(revision, buffer + kRevisionOffset, kRevisionLength);
  char family = revision[1];
  std::string product(reinterpret_cast<const char*>(buffer + kProductOffset), kProductLength);
  product = product.substr(0, product.find('\0'));

  // A related model reports itself through the same page but must not get our image.
  int digits = (buffer[34] - '0') * 10 + (buffer[35] - '0');
  if (product.find("T5160") != std::string::npos && digits < 30 && buffer[20] == '1' &&
      buffer[21] == '0') {
    view.ShowMessage(Text(TextId::NotSupportVersion, language));
    return StartVerdict::VersionRefusal;
  }
  // The selection check saw our model and a revision of the generation our images are
  // for, but that was before the button was pressed: a drive swapped on the same
  // letter, or one that answers differently now, must not get the image on the
  // strength of what another answer said.
  if (product.find(inquiry::kProduct) == std::string::npos || revision[0] != '1') {
    view.ShowMessage(Text(TextId::NotSupport, language));
    return StartVerdict::VersionRefusal;
  }

  vendorpage::IdentifyReply reply;
  if (vendorpage::Identify(device, buffer, &reply) != status::kGood) {
    return StartVerdict::DeviceRefusal;
  }
  std::string driveCode = reply.driveCode;
  std::int8_t letter = RevisionLetter(reply.letter);

  if (FirstCandidate(family) == kNoImage) {
    view.ShowMessage(Text(TextId::NotSupportVersion, language));
    return StartVerdict::VersionRefusal;
  }
  int index = FindImage(family, driveCode, images);
  if (index == kNoImage) {
    view.ShowMessage(Text(TextId::NotSupport, language));
    return StartVerdict::VersionRefusal;
  }
  // The whole decision again, with the answers the drive gives now: a drive that
  // reports a newer revision of the same generation than the selection check saw
  // (flashed meanwhile, or swapped on the same letter) must not get the older image.
  // Refused with the words the status line would have used for the same answer.
  switch (Judge(revision, letter, images.Image(index))) {
    case Verdict::NoNumber:
      view.ShowMessage(Text(TextId::NotSupportFirmware, language));
      return StartVerdict::VersionRefusal;
    case Verdict::Current:
      view.ShowMessage(Text(TextId::UnnecessaryUpdate, language));
      return StartVerdict::VersionRefusal;
    case Verdict::UpdateApplies:
      break;
  }
  selectedImageIndex = index;
  return StartVerdict::Pass;
}

}  // namespace qx
