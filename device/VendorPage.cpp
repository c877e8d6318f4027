#include "device/VendorPage.h"

#include "device/Inquiry.h"
#include "device/ScsiDevice.h"

namespace qx::vendorpage {

void WriteHeader(std::uint8_t* page, std::uint16_t length, std::uint8_t function,
                 std::uint8_t argument) {
  page[0] = kPageCode;
  page[1] = 0x00;
  page[kLengthOffset] = static_cast<std::uint8_t>(length >> 8);
  page[kLengthOffset + 1] = static_cast<std::uint8_t>(length & 0xFF);
  page[4] = 0x00;
  page[kFunctionOffset] = function;
  page[kArgumentOffset] = argument;
  page[7] = 0x00;
}

CommandStatus Identify(ScsiDevice& device, std::uint8_t* buffer, IdentifyReply* reply,
                       IdentifyStep* failed) {
  WriteHeader(buffer, kHeaderOnlyLength, function::kIdentify, 0x00);
  device.SetBuffer(buffer, kHeaderSize);
  CommandStatus result = device.SendDiagnostic(0, kHeaderSize);
  if (result != status::kGood) {
    if (failed != nullptr) *failed = IdentifyStep::Page;
    return result;
  }
  device.SetBuffer(buffer, kIdentifyReplyLength);
  result = device.ReceiveDiagnosticResults(kIdentifyReplyLength);
  if (result != status::kGood) {
    if (failed != nullptr) *failed = IdentifyStep::Reply;
    return result;
  }
  reply->driveCode = inquiry::FieldText(buffer + kDriveCodeOffset, kDriveCodeLength);
  reply->letter = buffer[kLetterOffset];
  return result;
}

}  // namespace qx::vendorpage
