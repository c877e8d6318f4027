#include "sim/SimStateFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/AsciiText.h"

namespace qx {
namespace {

using ascii::Lower;
using ascii::Trim;

// A value in double quotes is taken literally (no escapes: the values never
// hold a quote); otherwise it is the trimmed text.
bool Unquote(const std::string& raw, std::string* value) {
  const std::string t = Trim(raw);
  if (!t.empty() && t[0] == '"') {
    if (t.size() < 2 || t.back() != '"') return false;
    *value = t.substr(1, t.size() - 2);
    return value->find('"') == std::string::npos;
  }
  *value = t;
  return true;
}

bool ParseNumber(const std::string& text, std::uint32_t max, std::uint32_t* out) {
  if (text.empty()) return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10) return false;
  for (char c : digits)
    if (!(hex ? std::isxdigit(static_cast<unsigned char>(c))
              : std::isdigit(static_cast<unsigned char>(c))))
      return false;
  const unsigned long long v = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
  if (v > max) return false;
  *out = static_cast<std::uint32_t>(v);
  return true;
}

bool ParseBool(const std::string& text, const char* yes, const char* no, bool* out) {
  const std::string v = Lower(text);
  if (v == yes || v == "1" || v == "true") return *out = true, true;
  if (v == no || v == "0" || v == "false") return *out = false, true;
  return false;
}

// A drive letter, or adapter:target with single digits.
bool ValidAddress(const std::string& a) {
  if (a.size() == 1) return std::isalpha(static_cast<unsigned char>(a[0])) != 0;
  return a.size() == 3 && std::isdigit(static_cast<unsigned char>(a[0])) && a[1] == ':' &&
         std::isdigit(static_cast<unsigned char>(a[2]));
}

bool SetKey(SimDriveEntry* entry, const std::string& key, const std::string& value,
            std::string* why) {
  SimDriveConfig& c = entry->config;
  std::uint32_t n = 0;
  if (key == "vendor") {
    if (value.size() > 8) return *why = "vendor is at most 8 characters", false;
    c.vendor = value;
  } else if (key == "product") {
    if (value.size() > 16) return *why = "product is at most 16 characters", false;
    c.product = value;
  } else if (key == "revision") {
    if (value.size() > 4) return *why = "revision is at most 4 characters", false;
    c.revision = value;
  } else if (key == "code") {
    if (value.size() > 2) return *why = "code is at most 2 characters", false;
    c.driveCode = value;
  } else if (key == "letter") {
    if (value.size() == 1) {
      c.letter = static_cast<std::uint8_t>(value[0]);
    } else if (ParseNumber(value, 0xFF, &n)) {
      c.letter = static_cast<std::uint8_t>(n);
    } else {
      return *why = "letter wants one character or a byte such as 0x41", false;
    }
  } else if (key == "type") {
    if (!ParseNumber(value, 0x1F, &n)) return *why = "type wants 0 to 31", false;
    c.deviceType = static_cast<std::uint8_t>(n);
  } else if (key == "medium") {
    if (!ParseBool(value, "yes", "no", &c.mediumPresent)) return *why = "medium wants yes or no", false;
  } else if (key == "tray") {
    if (!ParseBool(value, "open", "closed", &c.trayOpen)) return *why = "tray wants open or closed", false;
  } else if (key == "fault") {
    std::vector<SimFaultRule> rules;
    if (!ParseSimFaultRules(value, &rules, why)) return false;
    c.fault = value;
  } else if (key == "drivetype") {
    if (!ParseNumber(value, 6, &n)) return *why = "drivetype wants 0 to 6", false;
    entry->driveType = n;
  } else if (key == "openerror") {
    if (!ParseNumber(value, 0xFFFFFFFFu, &n)) return *why = "openerror wants a number", false;
    entry->openError = n;
  } else if (key == "maxtransfer") {
    if (Lower(value) == "fail") {
      entry->capabilitiesFail = true;
    } else if (ParseNumber(value, 0xFFFFFFFFu, &n)) {
      entry->capabilitiesFail = false;
      entry->maxTransfer = n;
    } else {
      return *why = "maxtransfer wants a number or fail", false;
    }
  } else {
    return *why = "unknown key '" + key + "'", false;
  }
  return true;
}

}  // namespace

bool ParseSimState(const std::string& text, std::vector<SimDriveEntry>* drives,
                   std::string* error) {
  std::vector<SimDriveEntry> parsed;
  std::string line;
  int number = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  // Split by hand rather than through a string stream: the simulated-drive driver
  // parses this text too, and has no stream library.
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    const std::string t = Trim(line);
    if (t.empty() || t[0] == '#' || t[0] == ';') continue;
    if (t[0] == '[') {
      if (t.back() != ']') return fail("section without ']'");
      SimDriveEntry entry;
      entry.address = Trim(t.substr(1, t.size() - 2));
      if (!entry.address.empty() && entry.address.size() == 1)
        entry.address[0] = ascii::Upper(entry.address[0]);
      if (!ValidAddress(entry.address)) return fail("'" + entry.address + "' is not a drive address");
      for (const SimDriveEntry& e : parsed)
        if (e.address == entry.address) return fail("drive " + entry.address + " twice");
      parsed.push_back(entry);
      continue;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string::npos) return fail("expected key = value");
    if (parsed.empty()) return fail("key before the first section");
    std::string value;
    if (!Unquote(t.substr(eq + 1), &value)) return fail("unbalanced quotes");
    std::string why;
    if (!SetKey(&parsed.back(), Lower(Trim(t.substr(0, eq))), value, &why)) return fail(why);
  }
  *drives = parsed;
  return true;
}

std::string FormatSimState(const std::vector<SimDriveEntry>& drives) {
  std::string text = "# simulated drives\n";
  const SimDriveEntry defaults;
  char letter[8];
  for (const SimDriveEntry& d : drives) {
    const SimDriveConfig& c = d.config;
    std::snprintf(letter, sizeof letter, "0x%02X", c.letter);
    text += "\n[" + d.address + "]\n";
    text += "vendor = \"" + c.vendor + "\"\n";
    text += "product = \"" + c.product + "\"\n";
    text += "revision = \"" + c.revision + "\"\n";
    text += std::string("letter = ") + letter + "\n";
    text += "code = \"" + c.driveCode + "\"\n";
    text += "type = " + std::to_string(c.deviceType) + "\n";
    text += std::string("medium = ") + (c.mediumPresent ? "yes" : "no") + "\n";
    text += std::string("tray = ") + (c.trayOpen ? "open" : "closed") + "\n";
    if (!c.fault.empty()) text += "fault = " + c.fault + "\n";
    if (d.driveType != defaults.driveType) text += "drivetype = " + std::to_string(d.driveType) + "\n";
    if (d.openError) text += "openerror = " + std::to_string(d.openError) + "\n";
    if (d.capabilitiesFail)
      text += "maxtransfer = fail\n";
    else if (d.maxTransfer != defaults.maxTransfer)
      text += "maxtransfer = " + std::to_string(d.maxTransfer) + "\n";
  }
  return text;
}

}  // namespace qx
