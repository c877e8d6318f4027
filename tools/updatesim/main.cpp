// updatesim: runs the real start-up routine on a simulated machine (in-memory
// registry, simulated drives, scripted user, virtual clock) and prints one line
// per event. With --state the machine survives from one run to the next, as it
// would across the restart the utility asks for.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Forwarding.h"
#include "sim/SimMachine.h"
#include "tools/updatesim/Options.h"

namespace qx {
namespace {

// The machine file: the drives in the state-file syntax, then this line, then the
// registry as MemoryRegistry dumps it.
constexpr char kRegistryMarker[] = "%% registry";

class Transcript {
 public:
  void Line(const std::string& line) {
    std::lock_guard<std::mutex> hold(mutex);
    std::cout << line << '\n';
  }

 private:
  std::mutex mutex;
};

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += buf;
  }
  return out;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

// The drive's answer as the transport reports it to the program: 01 for GOOD,
// 00 for a command that never completed, 04 for an error.
std::uint8_t CommandStatusOf(const SimCommandRecord& record) {
  if (!record.completed) return 0x00;
  return record.status == 0 ? 0x01 : 0x04;
}

std::string DescribeCommand(const std::string& address, const SimCommandRecord& record) {
  std::uint8_t status = CommandStatusOf(record);
  std::string line = "SCSI " + address + " " + Hex(record.cdb.data(), record.cdbLength) +
                     " len=" + std::to_string(record.length) + " -> " + Hex(&status, 1);
  if (record.cdbLength > 0 && record.cdb[0] == 0x1D) {
    line += " param=" + Hex(record.parameters.data(), record.parameterCount);
  }
  if (status != 0x01) {
    char sense[16];
    std::snprintf(sense, sizeof sense, " sense=%02X/%02X/%02X", record.senseKey, record.asc,
                  record.ascq);
    line += sense;
  }
  return line;
}

// Texts are shown up to their first zero, without the stored length: what the
// filler behind a fixed-length text holds means nothing to the reader.
std::string DescribeWrite(const RegistryWrite& write) {
  if (write.kind != RegistryWrite::Kind::SetValue || write.type != reg::kTypeString) {
    return DescribeRegistryWrite(write);
  }
  std::string text;
  for (std::uint8_t b : write.data) {
    if (b == 0) break;
    text.push_back(static_cast<char>(b));
  }
  return "REG SET " + write.keyPath + " \"" + write.valueName + "\" 1 \"" +
         text + "\"";
}

// Every Sleep of the program, logged before it is slept on the virtual clock.
class LoggingThreads : public ForwardingThreads {
 public:
  LoggingThreads(VirtualThreads& inner, Transcript& out) : ForwardingThreads(inner), out(out) {}
  void Sleep(std::uint32_t milliseconds) override {
    out.Line("SLEEP " + std::to_string(milliseconds));
    inner.Sleep(milliseconds);
  }

 private:
  Transcript& out;
};

// Hands each dialog of the start-up the answer the command line chose for it.
class AnswerRouter : public MessageDialogView, public TermsDialogView {
 public:
  AnswerRouter(ScriptedDialogs& dialogs, const UpdateSimOptions& options)
      : dialogs(dialogs), options(options) {}

  int RunModal(MessageDialog& dialog) override {
    int button = kIdOk;
    if (dialog.Kind() == MessageDialogKind::Reboot && !options.rebootOk) {
      button = MessageDialog::kCancelButtonId;
    }
    dialogs.Queue({ScriptAction::Press(button)});
    return dialogs.RunModal(dialog);
  }
  int RunModal(TermsDialog& dialog) override {
    dialogs.Queue({ScriptAction::Press(options.termsAgree ? TermsDialog::kAgreeId
                                                          : TermsDialog::kNotAgreeId)});
    return dialogs.RunModal(dialog);
  }

 private:
  ScriptedDialogs& dialogs;
  const UpdateSimOptions& options;
};

std::vector<std::uint8_t> Bytes(std::initializer_list<std::uint8_t> list) { return list; }

// The settings the change journal looks at, either in the way of the update or
// already as it needs them.
void SeedRegistry(MemoryRegistry& registry, bool nt, bool needsChange) {
  registry.PutKey(reg::kCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\run");
  if (nt) {
    registry.PutString(reg::kLocalMachine,
                       "SYSTEM\\CurrentControlSet\\Services\\atapi\\Parameters\\Device0",
                       "DriverParameter",
                       needsChange ? "DmaDetectionLevel = 0x1;" : "DmaDetectionLevel = 0x0;");
    registry.PutDword(reg::kLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\Cdrom", "Autorun",
                      needsChange ? 1 : 0);
    return;
  }
  const std::string hardware = "SCSI\\VELMORA_DVD-ROM_QX-M4471\\MF&CHILD0000&PCI&VEN_8086";
  registry.PutString(reg::kDynData, "Config Manager\\Enum\\C29A1B00", "HardWareKey", hardware);
  std::uint8_t flag = needsChange ? 1 : 0;
  registry.PutValue(reg::kLocalMachine, "Enum\\" + hardware, "AutoInsertNotification",
                    reg::kTypeBinary, Bytes({flag}));
  registry.PutValue(reg::kLocalMachine, "Enum\\" + hardware, "DMACurrentlyUsed", reg::kTypeBinary,
                    Bytes({flag}));
  registry.PutValue(reg::kLocalMachine, "System\\CurrentControlSet\\Services\\Class\\hdc\\0000",
                    "IDEDMADRIVE0", reg::kTypeBinary, Bytes({flag}));
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return true;
}

bool WriteFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    if (!out.flush()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool SplitMachine(const std::string& text, std::string* drives, std::string* registry) {
  std::size_t at = text.find(std::string("\n") + kRegistryMarker + "\n");
  if (at == std::string::npos) return false;
  *drives = text.substr(0, at + 1);
  *registry = text.substr(at + 2 + sizeof kRegistryMarker - 1);
  return true;
}

int Run(const UpdateSimOptions& options) {
  Transcript out;
  const bool nt = options.nt;

  // The update log, in a real file when there is one, so the run after the restart
  // appends to it; `--log` names it, and the tests read it there.
  SimMachineOptions machineOptions;
  machineOptions.flavor = nt ? RegistryFlavor::Nt : RegistryFlavor::Windows9x;
  machineOptions.logPath = options.logFile;
  SimMachine machine(machineOptions);
  MemoryRegistry& registry = machine.registry;
  std::vector<SimDriveEntry> drives;
  bool loaded = false;
  if (!options.stateFile.empty()) {
    std::string text;
    if (ReadFile(options.stateFile, &text)) {
      std::string driveText;
      std::string registryText;
      std::string error;
      if (!SplitMachine(text, &driveText, &registryText) || !registry.Load(registryText) ||
          !ParseSimState(driveText, &drives, &error)) {
        std::cerr << "updatesim: " << options.stateFile << " is not a machine file " << error
                  << '\n';
        return 2;
      }
      loaded = true;
    }
  }
  if (!loaded) {
    SeedRegistry(registry, nt, options.settingsNeedChange);
    for (const SimDriveOption& option : options.drives) {
      SimDriveEntry entry;
      entry.address = option.address;
      entry.config = option.config;
      entry.openError = option.openError;
      drives.push_back(entry);
    }
  }
  registry.SetWriteObserver([&](const RegistryWrite& write) { out.Line(DescribeWrite(write)); });

  LoggingThreads threads(machine.clock, out);
  machine.platform.threads = &threads;

  HostSystem& system = machine.system;
  // As Windows 2000 SP4 (NT 4.0 SP6 with --major 4) or Windows 98 SE report themselves.
  system.version =
      nt ? VersionInfo{options.major, 0, sys::kPlatformNt, options.major >= 5 ? 2195u : 1381u,
                       options.major >= 5 ? "Service Pack 4" : "Service Pack 6"}
         : VersionInfo{options.major, 10, sys::kPlatformWindows, 2222, " A "};
  switch (options.power) {
    case UpdateSimOptions::Power::Ac: system.acLineStatus = 1; break;
    case UpdateSimOptions::Power::Battery: system.acLineStatus = 0; break;
    case UpdateSimOptions::Power::Unknown: system.acLineStatus = 255; break;
    case UpdateSimOptions::Power::Fail: system.powerQueryFails = true; break;
  }
  system.codePage = options.japanese ? 932 : 1252;
  // The system gives the program's file name in its ANSI code page.
  const std::string exe = HostLogFile::ToCodePage(options.exe, system.codePage);
  system.modulePath = "C:\\Program Files\\Velmora\\" + exe + ".exe";
  system.screenSaverActive = 1;
  system.messageBoxAnswer = [&](WindowRef, const std::string& text, const std::string&,
                                std::uint32_t) {
    out.Line("MESSAGE \"" + Escaped(text) + "\"");
    return kIdOk;
  };
  system.listener = [&](const std::string& line) {
    if (line.compare(0, 7, "MUTEX \"") == 0) {
      out.Line(line.substr(0, line.rfind('"') + 1));
    } else if (line.compare(0, 12, "SCREENSAVER ") == 0) {
      out.Line(line);
    } else if (line.compare(0, 8, "RESTART ") == 0) {
      out.Line("RESTART");
    }
  };

  std::string error;
  if (!machine.AddDrives(drives, &error)) {
    std::cerr << "updatesim: " << error << '\n';
    return 2;
  }
  for (const SimDriveEntry& entry : drives) {
    SimDrive* drive = machine.DriveAt(entry.address);
    if (drive == nullptr) continue;
    for (const std::string& fault : options.faults) {
      if (!drive->Faults().Add(fault, &error)) {
        std::cerr << "updatesim: --fault " << fault << ": " << error << '\n';
        return 2;
      }
    }
    // A letter is shown as the program names the drive, "E:".
    const std::string shown = entry.address.size() == 1 ? entry.address + ":" : entry.address;
    drive->SetObserver(
        [&out, shown](const SimCommandRecord& record) { out.Line(DescribeCommand(shown, record)); });
  }

  ScriptedDialogs& dialogs = machine.dialogs;
  dialogs.SetLog([&](const std::string& line) {
    out.Line(line.compare(0, 5, "ABOUT") == 0 ? std::string("ABOUT") : line);
  });
  AnswerRouter router(dialogs, options);
  ScriptedMainDialog& mainView = machine.mainView;
  mainView.SetLog([&](const std::string& line) { out.Line(line); });
  switch (options.main) {
    case UpdateSimOptions::Main::Update:
      mainView.Queue({MainStep::UpdateIfEnabled()});
      break;
    case UpdateSimOptions::Main::Cancel:
      mainView.Queue({MainStep::Press(maindlg::kCancelId)});
      break;
    case UpdateSimOptions::Main::Close:
      mainView.Queue({MainStep::Close(), MainStep::Press(maindlg::kCancelId)});
      break;
  }

  {
    UpdateAppViews views = machine.Views();
    views.notices = &router;
    views.terms = &router;
    UpdateApp app(machine.platform, machine.Device(), views, exe);
    app.InitInstance();
    app.ExitInstance();
    // Nothing may still be talking to the drives when they are saved.
    machine.RunClockOut();
  }

  if (!options.stateFile.empty()) {
    registry.SetWriteObserver(nullptr);
    std::string text =
        FormatSimState(machine.DriveStates()) + "\n" + kRegistryMarker + "\n" + registry.Dump();
    if (!WriteFile(options.stateFile, text)) {
      std::cerr << "updatesim: cannot write " << options.stateFile << '\n';
      return 2;
    }
  }
  return 0;
}

}  // namespace
}  // namespace qx

int main(int argc, char** argv) {
  qx::UpdateSimOptions options;
  std::string error;
  if (!qx::ParseUpdateSimOptions(argc, argv, &options, &error)) {
    std::cerr << "updatesim: " << error << '\n' << qx::UpdateSimUsage();
    return 2;
  }
  return qx::Run(options);
}
