#pragma once
// The English texts of the one-byte codes the device layer reports: the ASPI request
// status, the host-adapter status and the SCSI target status. Sense data is never put
// into words; the transports show ASC and ASCQ as numbers.
#include <cstdint>
#include <string>

#include "device/CommandStatus.h"
#include "text/TextCatalogue.h"

namespace qx {

class System;

// One record of a code table: the code, then its text padded with zero bytes. A
// table ends with the first record whose code is 0; that record's text is the
// text for code 0 where a lookup allows it.
struct CodeRecord {
  std::uint8_t code;
  char text[64];
};
static_assert(sizeof(CodeRecord) == 65, "a code record is 65 bytes");

// The first record whose code is 0 or equals `code`. The test for 0 comes first, so
// code 0 always ends on the table's last record.
const CodeRecord* FindCodeRecord(const CodeRecord* table, std::uint8_t code);

// The two transports keep target status tables of their own; the pass-through one
// knows more statuses.
enum class TargetTable { Aspi, PassThrough };

// The ASPI status text; code 0 and every unknown code give "Timeout.".
std::string AspiStatusText(CommandStatus code);
// A known code's text, else "Unknown Ha status:%02X" with the code (also for 0).
std::string HostAdapterStatusText(std::uint8_t code);
// A known code's text, else "Unknown Target status:%02X" with the code.
std::string TargetStatusText(std::uint8_t code, TargetTable table);

// The language of the texts the device layer puts in its messages and shows: the
// system's, read at the time; English without a system.
Language TextLanguage(System* system);

// Beeps and shows "Aspi Error : <status text>" in a message box with the exclamation
// icon and an OK button.
void ShowAspiStatus(System& system, CommandStatus code);

}  // namespace qx
