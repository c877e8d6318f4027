#pragma once
// What the adapter behind an ASPI manager makes of one command request: shared by
// the simulated manager of the native tests and the simulated wnaspi32.dll, so that
// both judge a request alike. Free of the platform's headers, so the DLL (which
// includes <windows.h>) can take it too.
#include <cstdint>
#include <vector>

namespace qx {

class SimDrive;
struct SrbExecScsiCmd;

// What the adapter makes of one SC_EXEC_SCSI_CMD request for the drive at its
// address (null: nobody answers the selection). Shared by SimAspiManager and the
// simulated wnaspi32.dll, so both judge a request alike.
struct SimAspiExchange {
  bool invalid = false;  // refused at once with SS_INVALID_SRB; nothing else happened
  bool completes = true;  // false: the drive never answers
  std::uint32_t delayMs = 0;
  std::uint8_t status = 0;             // SRB_Status
  std::uint8_t hostAdapterStatus = 0;  // SRB_HaStat
  std::uint8_t targetStatus = 0;       // SRB_TargStat
  std::vector<std::uint8_t> sense;     // at most SRB_SenseLen bytes
};
// Runs the request on `drive` with `data` (SRB_BufLen bytes, the request's own copy
// of the buffer, which a reply overwrites).
SimAspiExchange ExchangeAspiCommand(const SrbExecScsiCmd& srb, SimDrive* drive,
                                    std::uint8_t* data);

}  // namespace qx
