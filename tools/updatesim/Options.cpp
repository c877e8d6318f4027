#include "tools/updatesim/Options.h"

#include <cctype>
#include <cstdlib>

namespace qx {

namespace {

bool ParseNumber(const std::string& text, int base, unsigned long max, unsigned long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, base);
  if (*end != '\0' || v > max) return false;
  *value = v;
  return true;
}

bool ValidAddress(const std::string& address, bool nt) {
  if (nt) return address.size() == 1 && std::isalpha(static_cast<unsigned char>(address[0]));
  std::size_t colon = address.find(':');
  unsigned long v = 0;
  return colon != std::string::npos && ParseNumber(address.substr(0, colon), 10, 255, &v) &&
         ParseNumber(address.substr(colon + 1), 10, 15, &v);
}

// ADDR=REV[,code=XX][,letter=HH][,vendor=TEXT][,product=TEXT][,type=N][,openerror=N]
bool ParseDrive(const std::string& text, bool nt, SimDriveOption* drive, std::string* error) {
  std::size_t eq = text.find('=');
  if (eq == std::string::npos) {
    *error = "--drive needs ADDR=REV: " + text;
    return false;
  }
  drive->address = text.substr(0, eq);
  if (nt && drive->address.size() == 1) {
    drive->address[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(drive->address[0])));
  }
  if (!ValidAddress(drive->address, nt)) {
    *error = "--drive address must be " + std::string(nt ? "a letter (E)" : "HA:TARGET (1:0)") +
             ": " + drive->address;
    return false;
  }
  std::string rest = text.substr(eq + 1);
  std::size_t comma = rest.find(',');
  drive->config.revision = rest.substr(0, comma);
  while (comma != std::string::npos) {
    std::size_t next = rest.find(',', comma + 1);
    std::string item = rest.substr(comma + 1, next == std::string::npos ? std::string::npos
                                                                        : next - comma - 1);
    comma = next;
    std::size_t is = item.find('=');
    std::string key = item.substr(0, is);
    std::string value = is == std::string::npos ? std::string() : item.substr(is + 1);
    unsigned long number = 0;
    if (key == "code") {
      drive->config.driveCode = value;
    } else if (key == "letter" && ParseNumber(value, 16, 255, &number)) {
      drive->config.letter = static_cast<std::uint8_t>(number);
    } else if (key == "vendor") {
      drive->config.vendor = value;
    } else if (key == "product") {
      drive->config.product = value;
    } else if (key == "type" && ParseNumber(value, 10, 31, &number)) {
      drive->config.deviceType = static_cast<std::uint8_t>(number);
    } else if (key == "openerror" && nt && ParseNumber(value, 10, 0xFFFFFFFFul, &number)) {
      drive->openError = static_cast<std::uint32_t>(number);
    } else {
      *error = "bad --drive item: " + item;
      return false;
    }
  }
  return true;
}

}  // namespace

const char* UpdateSimUsage() {
  return "usage: updatesim [--platform nt|9x] [--major N] [--lang en|ja]\n"
         "                 [--power ac|battery|unknown|fail] [--exe NAME]\n"
         "                 [--drive ADDR=REV[,code=XX][,letter=HH][,vendor=TEXT][,product=TEXT]"
         "[,type=N][,openerror=N]]...\n"
         "                 [--settings needs-change|ready]\n"
         "                 [--answer terms=agree|decline] [--answer reboot=ok|cancel]\n"
         "                 [--answer main=update|cancel|close]\n"
         "                 [--state FILE] [--log FILE] [--fault RULE]...\n";
}

bool ParseUpdateSimOptions(int argc, char** argv, UpdateSimOptions* options, std::string* error) {
  std::vector<std::string> driveTexts;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (i + 1 >= argc) {
      *error = "missing value after " + option;
      return false;
    }
    std::string value = argv[++i];
    unsigned long number = 0;
    if (option == "--platform" && (value == "nt" || value == "9x")) {
      options->nt = value == "nt";
    } else if (option == "--major" && ParseNumber(value, 10, 99, &number)) {
      options->major = static_cast<std::uint32_t>(number);
    } else if (option == "--lang" && (value == "en" || value == "ja")) {
      options->japanese = value == "ja";
    } else if (option == "--power" && value == "ac") {
      options->power = UpdateSimOptions::Power::Ac;
    } else if (option == "--power" && value == "battery") {
      options->power = UpdateSimOptions::Power::Battery;
    } else if (option == "--power" && value == "unknown") {
      options->power = UpdateSimOptions::Power::Unknown;
    } else if (option == "--power" && value == "fail") {
      options->power = UpdateSimOptions::Power::Fail;
    } else if (option == "--exe" && !value.empty()) {
      options->exe = value;
    } else if (option == "--drive") {
      driveTexts.push_back(value);  // addresses depend on --platform, wherever it stands
    } else if (option == "--settings" && (value == "needs-change" || value == "ready")) {
      options->settingsNeedChange = value == "needs-change";
    } else if (option == "--answer" && (value == "terms=agree" || value == "terms=decline")) {
      options->termsAgree = value == "terms=agree";
    } else if (option == "--answer" && (value == "reboot=ok" || value == "reboot=cancel")) {
      options->rebootOk = value == "reboot=ok";
    } else if (option == "--answer" && value == "main=update") {
      options->main = UpdateSimOptions::Main::Update;
    } else if (option == "--answer" && value == "main=cancel") {
      options->main = UpdateSimOptions::Main::Cancel;
    } else if (option == "--answer" && value == "main=close") {
      options->main = UpdateSimOptions::Main::Close;
    } else if (option == "--state" && !value.empty()) {
      options->stateFile = value;
    } else if (option == "--log" && !value.empty()) {
      options->logFile = value;
    } else if (option == "--fault" && !value.empty()) {
      options->faults.push_back(value);
    } else {
      *error = "bad option: " + option + " " + value;
      return false;
    }
  }
  if (options->major == 0) options->major = options->nt ? 5 : 4;
  if (options->logFile.empty() && !options->stateFile.empty()) {
    options->logFile = options->stateFile + ".log";
  }
  for (const std::string& text : driveTexts) {
    SimDriveOption drive;
    if (!ParseDrive(text, options->nt, &drive, error)) return false;
    options->drives.push_back(drive);
  }
  if (driveTexts.empty()) {
    SimDriveOption drive;
    drive.address = options->nt ? "E" : "1:0";
    options->drives.push_back(drive);
  }
  return true;
}

}  // namespace qx
