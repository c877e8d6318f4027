#include "sim/SimAspiExchange.h"

#include <algorithm>

#include "device/AspiRequest.h"
#include "device/CommandStatus.h"
#include "sim/SimDrive.h"

namespace qx {
namespace {

constexpr std::uint8_t kFlagDirMask = aspi::kFlagDirIn | aspi::kFlagDirOut;

}  // namespace

SimAspiExchange ExchangeAspiCommand(const SrbExecScsiCmd& srb, SimDrive* drive,
                                    std::uint8_t* data) {
  SimAspiExchange e;
  // Both directions at once is no request a manager can carry out.
  if ((srb.SRB_Flags & kFlagDirMask) == kFlagDirMask) {
    e.invalid = true;
    e.status = status::kInvalidSrb;
    return e;
  }
  e.status = status::kError;
  // The drive has one logical unit; no other answers the selection.
  if (drive == nullptr || srb.SRB_Lun != 0) {
    e.hostAdapterStatus = aspi::kHaSelectionTimeout;
    return e;
  }
  DataDirection direction = DataDirection::Unspecified;
  if (srb.SRB_Flags & aspi::kFlagDirIn) direction = DataDirection::In;
  if (srb.SRB_Flags & aspi::kFlagDirOut) direction = DataDirection::Out;
  // The adapter sets up the transfer from the flags; a command that moves data
  // the other way, or with no direction given, meets a data phase it does not
  // expect and the bus phase fails before the drive acts on it.
  const DataDirection wanted = SimDrive::CommandDirection(srb.CDBByte[0]);
  if (srb.SRB_BufLen > 0 && wanted != DataDirection::Unspecified && direction != wanted) {
    e.hostAdapterStatus = aspi::kHaPhaseError;
    return e;
  }
  const SimCommandResult result =
      drive->Execute(srb.CDBByte, srb.SRB_CDBLen, data, srb.SRB_BufLen, direction);
  if (!drive->Log().empty()) e.delayMs = drive->Log().back().delayMs;
  e.completes = result.completed;
  e.targetStatus = result.status;
  e.status = result.status == 0 ? aspi::kStatusComplete : status::kError;
  // A drive with more to move than the buffer holds: the adapter cut the data
  // phase short. A shorter reply than the buffer (an underrun) is an ordinary
  // answer and completes.
  if (result.Overrun(srb.SRB_BufLen)) {
    e.status = status::kError;
    e.hostAdapterStatus = aspi::kHaDataOverrun;
  }
  if (result.senseLength > 0) {
    const std::size_t kept = std::min<std::size_t>(srb.SRB_SenseLen, aspi::kSenseAreaSize);
    e.sense.assign(result.sense.begin(), result.sense.begin() + kept);
  }
  return e;
}

}  // namespace qx
