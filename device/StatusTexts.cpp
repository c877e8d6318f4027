#include "device/StatusTexts.h"

#include <cstdio>

#include "platform/System.h"

namespace qx {

namespace {

const CodeRecord kAspiStatusTable[] = {
    {0x02, "Aborted."},
    {0x04, "Error."},
    {0x81, "Invalid HA."},
    {0x82, "No Device."},
    {0xE0, "Invalid SRB."},
    {0xE4, "Faild Initailize."},
    {0xE5, "ASPI is busy."},
    {0xE6, "Buffer size is too big."},
    {0x00, "Timeout."},
};

const CodeRecord kHostAdapterStatusTable[] = {
    {0x11, "Selection timeout."},
    {0x12, "Overrun or Underrun."},
    {0x13, "Busfree ditect."},
    {0x14, "Phase Error."},
    {0x00, ""},
};

const CodeRecord kAspiTargetStatusTable[] = {
    {0x02, "Check Condition."},
    {0x08, "Target Busy."},
    {0x18, "Request Conflict."},
    {0x00, ""},
};

const CodeRecord kPassThroughTargetStatusTable[] = {
    {0x02, "Check Condition."},
    {0x04, "Condition Met."},
    {0x08, "Target Busy."},
    {0x10, "Intermediate."},
    {0x14, "Intermediate-Condition Met."},
    {0x18, "Reservation Conflict."},
    {0x22, "Command Terminated."},
    {0x28, "Queue Full."},
    {0x00, ""},
};

}  // namespace

const CodeRecord* FindCodeRecord(const CodeRecord* table, std::uint8_t code) {
  const CodeRecord* record = table;
  while (record->code != 0 && record->code != code) ++record;
  return record;
}

std::string AspiStatusText(CommandStatus code) {
  return FindCodeRecord(kAspiStatusTable, code)->text;
}

std::string HostAdapterStatusText(std::uint8_t code) {
  const CodeRecord* record = FindCodeRecord(kHostAdapterStatusTable, code);
  if (record->code != 0) return record->text;
  // The worker and the dialog's thread both format these: the text is the caller's own.
  char text[sizeof record->text];
  std::snprintf(text, sizeof text, "Unknown Ha status:%02X", code);
  return text;
}

std::string TargetStatusText(std::uint8_t code, TargetTable table) {
  const CodeRecord* record = FindCodeRecord(
      table == TargetTable::PassThrough ? kPassThroughTargetStatusTable : kAspiTargetStatusTable,
      code);
  if (record->code != 0) return record->text;
  char text[sizeof record->text];
  std::snprintf(text, sizeof text, "Unknown Target status:%02X", code);
  return text;
}

Language TextLanguage(System* system) {
  return system != nullptr ? LanguageFor(system->CodePage()) : Language::English;
}

void ShowAspiStatus(System& system, CommandStatus code) {
  const Language language = TextLanguage(&system);
  const std::string text =
      FormatNumbered(Text(TextId::AspiErrorBox, language), AspiStatusText(code));
  system.MessageBeep(sys::kMbIconExclamation);
  system.MessageBox(0, text, Text(TextId::Caption, language),
                    sys::kMbOk | sys::kMbIconExclamation);
}

}  // namespace qx
