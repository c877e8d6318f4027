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

bool VersionCheck::Inquire(int selection) {
  std::memset(buffer, 0, sizeof buffer);
  std::memset(revision, 0, sizeof revision);
  // With no drive in the list there is nothing to address: a command would go to
  // whatever slot 0xFF names. It ends the way a failed INQUIRY does.
  if (selection < 0) return false;
  device.SelectDrive(static_cast<std::uint8_t>(selection & 0xFF));
  device.SetBuffer(buffer, kAllocationLength);
  if (device.Inquiry(kAllocationLength) != status::kGood) return false;
  std::memcpy(revision, buffer + kRevisionOffset, kRevisionLength);
  return true;
}

SelectionInquiry VersionCheck::InquireSelection(int selection) {
  SelectionInquiry shown;
  shown.answered = Inquire(selection);
  if (shown.answered) shown.currentRevision = FieldText(buffer + kRevisionOffset, kRevisionLength);
  shown.status = Text(TextId::NotSupport, language);
  return shown;
}

SelectionDecision VersionCheck::DecideSelection() {
  SelectionDecision shown;
  std::string product = FieldText(buffer + kProductOffset, kProductLength);
  if (product.find(kProduct) == std::string::npos) return shown;
  if (revision[0] != '1') return shown;
  if (FirstCandidate(revision[1]) == kNoImage) {
    shown.status = Text(TextId::NotSupportFirmware, language);
    return shown;
  }

  vendorpage::IdentifyReply reply;
  if (vendorpage::Identify(device, buffer, &reply) != status::kGood) return shown;
  std::int8_t letter = RevisionLetter(reply.letter);
  std::string driveCode = reply.driveCode;

  int index = FindImage(revision[1], driveCode, images);
  if (index == kNoImage) {
    shown.status = Text(TextId::NotSupport, language);
    return shown;
  }
  selectedImageIndex = index;
  const FirmwareImage& image = images.Image(index);

  switch (Judge(revision, letter, image)) {
    case Verdict::NoNumber:
      shown.status = Text(TextId::NotSupportFirmware, language);
      break;
    case Verdict::Current:
      shown.imageVersion = image.versionText;
      shown.status = Text(TextId::UnnecessaryUpdate, language);
      break;
    case Verdict::UpdateApplies:
      shown.imageVersion = image.versionText;
      shown.updateStart = true;
      shown.status = Text(TextId::StatusBlank, language);
      break;
  }
  return shown;
}

StartCheckResult VersionCheck::StartCheck(int selection) {
  auto refuse = [this](TextId message) {
    return StartCheckResult{StartVerdict::VersionRefusal, Text(message, language)};
  };
  const StartCheckResult deviceRefusal{StartVerdict::DeviceRefusal, {}};

  selectedImageIndex = 0;
  // Update Start is never enabled then.
  if (selection < 0) return StartCheckResult{StartVerdict::VersionRefusal, {}};
  if (!Inquire(selection)) return deviceRefusal;

  char family = revision[1];
  std::string product = FieldText(buffer + kProductOffset, kProductLength);

  // A related model reports itself through the same page but must not get our image.
  const std::uint8_t* relatedRevision = buffer + kRevisionOffset;
  const std::uint8_t* relatedProduct = buffer + kProductOffset;
  int digits = (relatedRevision[2] - '0') * 10 + (relatedRevision[3] - '0');
  if (product.find("T5160") != std::string::npos && digits < 30 && relatedProduct[4] == '1' &&
      relatedProduct[5] == '0') {
    return refuse(TextId::NotSupportVersion);
  }
  // The selection check saw our model and a revision of the generation our images are
  // for, but that was before the button was pressed: a drive swapped on the same
  // letter, or one that answers differently now, must not get the image on the
  // strength of what another answer said.
  if (product.find(kProduct) == std::string::npos || revision[0] != '1') {
    return refuse(TextId::NotSupport);
  }

  vendorpage::IdentifyReply reply;
  if (vendorpage::Identify(device, buffer, &reply) != status::kGood) return deviceRefusal;
  std::string driveCode = reply.driveCode;
  std::int8_t letter = RevisionLetter(reply.letter);

  if (FirstCandidate(family) == kNoImage) return refuse(TextId::NotSupportVersion);
  int index = FindImage(family, driveCode, images);
  if (index == kNoImage) return refuse(TextId::NotSupport);
  // The whole decision again, with the answers the drive gives now: a drive that
  // reports a newer revision of the same generation than the selection check saw
  // (flashed meanwhile, or swapped on the same letter) must not get the older image.
  // Refused with the words the status line would have used for the same answer.
  switch (Judge(revision, letter, images.Image(index))) {
    case Verdict::NoNumber:
      return refuse(TextId::NotSupportFirmware);
    case Verdict::Current:
      return refuse(TextId::UnnecessaryUpdate);
    case Verdict::UpdateApplies:
      break;
  }
  selectedImageIndex = index;
  return StartCheckResult{};
}

}  // namespace qx
