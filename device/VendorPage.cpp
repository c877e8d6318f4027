#include "device/VendorPage.h"

#include "device/Inquiry.h"
#include "device/ScsiDevice.h"

namespace qx::vendorpage {

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
