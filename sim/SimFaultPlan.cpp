#include "sim/SimFaultPlan.h"

#include <cctype>
#include <cstdlib>

#include "device/ScsiTransport.h"
#include "device/Sense.h"
#include "device/VendorPage.h"
#include "platform/AsciiText.h"

namespace qx {
namespace {

struct OpcodeName {
  const char* name;
  int opcode;
};
constexpr OpcodeName kOpcodeNames[] = {
    {"tur", opcode::kTestUnitReady},
    {"inquiry", opcode::kInquiry},
    {"startstop", opcode::kStartStopUnit},
    {"receive", opcode::kReceiveDiagnosticResults},
    {"send", opcode::kSendDiagnostic},
    {"prevent", opcode::kPreventAllowMediumRemoval},
    {"read10", opcode::kRead10},
};
constexpr int kSendDiagnostic = opcode::kSendDiagnostic;

using ascii::Lower;
using ascii::Split;

// A whole token in hexadecimal ("1d", "0x1D"), at most `max`.
bool ParseHex(const std::string& text, unsigned long max, unsigned long* value) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits = digits.substr(2);
  if (digits.empty() || digits.size() > 8) return false;
  for (char c : digits)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  *value = std::strtoul(digits.c_str(), nullptr, 16);
  return *value <= max;
}

bool ParseDecimal(const std::string& text, unsigned long max, unsigned long* value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  *value = std::strtoul(text.c_str(), nullptr, 10);
  return *value <= max;
}

bool ParseTarget(const std::string& word, SimFaultRule* rule) {
  const std::string lower = Lower(word);
  if (lower == "any" || lower == "*") return true;
  for (const OpcodeName& n : kOpcodeNames)
    if (lower == n.name) {
      rule->opcode = n.opcode;
      return true;
    }
  unsigned long value = 0;
  if (!ParseHex(lower, 0xFF, &value)) return false;
  rule->opcode = static_cast<int>(value);
  return true;
}

void SetFailure(SimFaultRule* rule, std::uint8_t status, std::uint8_t key, sense::Code code) {
  rule->fails = true;
  rule->status = status;
  rule->hasSense = true;
  rule->senseKey = key;
  rule->asc = code.asc;
  rule->ascq = code.ascq;
}

bool ParseItem(const std::string& item, SimFaultRule* rule, std::string* why) {
  const std::size_t eq = item.find('=');
  const std::string key = Lower(item.substr(0, eq));
  const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
  const bool hasValue = eq != std::string::npos;
  unsigned long n = 0;

  if (key == "page") {
    const std::string v = Lower(value);
    using namespace vendorpage;
    if (v == "open1") {
      rule->function = function::kOpen, rule->argument = kOpenFirst;
    } else if (v == "open2") {
      rule->function = function::kOpen, rule->argument = kOpenSecond;
    } else if (v == "close") {
      rule->function = function::kData, rule->argument = kClosing;
    } else if (v == "identify") {
      rule->function = function::kIdentify, rule->argument = 0x00;
    } else if (ParseDecimal(v, 0xFF, &n) && n >= 1) {
      rule->function = function::kData, rule->argument = static_cast<int>(n);
    } else {
      *why = "page wants a data page number or open1, open2, close, identify";
      return false;
    }
    return true;
  }
  if (key == "func" || key == "arg") {
    if (!ParseHex(value, 0xFF, &n)) {
      *why = key + " wants a hexadecimal byte";
      return false;
    }
    (key == "func" ? rule->function : rule->argument) = static_cast<int>(n);
    return true;
  }
  if (key == "nth" || key == "times" || key == "from") {
    if (!ParseDecimal(value, 1000000000, &n) || n == 0) {
      *why = key + " wants a count from 1";
      return false;
    }
    (key == "nth" ? rule->nth : key == "times" ? rule->times : rule->from) =
        static_cast<std::uint32_t>(n);
    return true;
  }
  if (key == "status") {
    if (!ParseHex(value, 0xFF, &n)) {
      *why = "status wants a hexadecimal byte";
      return false;
    }
    rule->fails = true;
    rule->status = static_cast<std::uint8_t>(n);
    return true;
  }
  if (key == "sense") {
    const std::vector<std::string> parts = Split(value, "/");
    unsigned long k = 0, a = 0, q = 0;
    if (parts.size() != 3 || !ParseHex(parts[0], 0x0F, &k) || !ParseHex(parts[1], 0xFF, &a) ||
        !ParseHex(parts[2], 0xFF, &q)) {
      *why = "sense wants KK/AA/QQ in hexadecimal";
      return false;
    }
    if (!rule->fails) rule->status = scsi::kStatusCheckCondition;
    rule->fails = true;
    rule->hasSense = true;
    rule->senseKey = static_cast<std::uint8_t>(k);
    rule->asc = static_cast<std::uint8_t>(a);
    rule->ascq = static_cast<std::uint8_t>(q);
    return true;
  }
  if (key == "ua") {
    if (!hasValue) {
      rule->times = 1;
    } else if (Lower(value) == "forever") {
      rule->times = 0;
    } else if (ParseDecimal(value, 1000000000, &n) && n > 0) {
      rule->times = static_cast<std::uint32_t>(n);
    } else {
      *why = "ua wants a count from 1 or forever";
      return false;
    }
    SetFailure(rule, scsi::kStatusCheckCondition, sense::kUnitAttention, sense::kPowerOnReset);
    return true;
  }
  if (key == "notready" && !hasValue) {
    SetFailure(rule, scsi::kStatusCheckCondition, sense::kNotReady, sense::kBecomingReady);
    return true;
  }
  if (key == "delay") {
    if (!ParseDecimal(value, 3600000, &n)) {
      *why = "delay wants milliseconds";
      return false;
    }
    rule->delayMs = static_cast<std::uint32_t>(n);
    return true;
  }
  if (key == "hang" && !hasValue) {
    rule->hang = true;
    return true;
  }
  if (key == "keeprev" && !hasValue) {
    rule->keepRevision = true;
    return true;
  }
  if (key == "settle") {
    if (Lower(value) == "forever") {
      rule->settle = kSettleForever;
    } else if (ParseDecimal(value, 1000000, &n) && n > 0) {
      rule->settle = static_cast<std::uint32_t>(n);
    } else {
      *why = "settle wants a count from 1 or forever";
      return false;
    }
    return true;
  }
  *why = "unknown item '" + item + "'";
  return false;
}

bool ParseRule(const std::string& text, SimFaultRule* rule, std::string* why) {
  const std::vector<std::string> items = Split(text, ":");
  if (items.empty() || !ParseTarget(items[0], rule)) {
    *why = "unknown command '" + (items.empty() ? text : items[0]) + "'";
    return false;
  }
  for (std::size_t i = 1; i < items.size(); ++i)
    if (!ParseItem(items[i], rule, why)) return false;
  if (rule->function >= 0 || rule->argument >= 0) {
    if (rule->opcode == -1) rule->opcode = kSendDiagnostic;
    if (rule->opcode != kSendDiagnostic) {
      *why = "pages belong to send";
      return false;
    }
  }
  if (!rule->fails && !rule->hang && rule->delayMs == 0 && !rule->keepRevision &&
      rule->settle == 0) {
    *why = "the rule does nothing";
    return false;
  }
  if (rule->fails && !rule->hasSense && rule->status == scsi::kStatusCheckCondition) {
    rule->hasSense = true;
    rule->senseKey = sense::kHardwareError;
    rule->asc = sense::kInternalTargetFailure.asc;
    rule->ascq = sense::kInternalTargetFailure.ascq;
  }
  rule->text = text;
  return true;
}

bool Matches(const SimFaultRule& rule, const std::uint8_t* cdb, const std::uint8_t* parameters,
             std::uint32_t parameterLength) {
  if (rule.opcode >= 0 && cdb[0] != rule.opcode) return false;
  using namespace vendorpage;
  const bool header = parameters != nullptr && parameterLength >= kHeaderSize;
  if (rule.function >= 0 && (!header || parameters[kFunctionOffset] != rule.function)) return false;
  if (rule.argument >= 0 && (!header || parameters[kArgumentOffset] != rule.argument)) return false;
  return true;
}

}  // namespace

bool ParseSimFaultRules(const std::string& text, std::vector<SimFaultRule>* rules,
                        std::string* error) {
  std::vector<SimFaultRule> parsed;
  for (const std::string& word : Split(text, "; ,\t\r\n")) {
    SimFaultRule rule;
    std::string why;
    if (!ParseRule(word, &rule, &why)) {
      if (error) *error = "fault '" + word + "': " + why;
      return false;
    }
    parsed.push_back(rule);
  }
  rules->insert(rules->end(), parsed.begin(), parsed.end());
  return true;
}

bool SimFaultPlan::Add(const std::string& text, std::string* error) {
  return ParseSimFaultRules(text, &rules, error);
}

std::string SimFaultPlan::Text() const {
  std::string text;
  for (const SimFaultRule& rule : rules) {
    if (!text.empty()) text += ' ';
    text += rule.text;
  }
  return text;
}

SimFaultEffect SimFaultPlan::Apply(const std::uint8_t* cdb, const std::uint8_t* parameters,
                                   std::uint32_t parameterLength) {
  SimFaultEffect effect;
  for (SimFaultRule& rule : rules) {
    if (!Matches(rule, cdb, parameters, parameterLength)) continue;
    ++rule.matched;
    if (rule.nth != 0 && rule.matched != rule.nth) continue;
    if (rule.matched < rule.from) continue;
    if (rule.times != 0 && rule.fired >= rule.times) continue;
    ++rule.fired;
    effect.delayMs += rule.delayMs;
    effect.hang = effect.hang || rule.hang;
    effect.keepRevision = effect.keepRevision || rule.keepRevision;
    if (rule.settle > effect.settle) effect.settle = rule.settle;
    if (rule.fails && !effect.fails) {
      effect.fails = true;
      effect.status = rule.status;
      effect.hasSense = rule.hasSense;
      effect.senseKey = rule.senseKey;
      effect.asc = rule.asc;
      effect.ascq = rule.ascq;
    }
  }
  return effect;
}

}  // namespace qx
