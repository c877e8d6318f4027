#pragma once
// Faults that a simulated drive injects into its answers: a chosen status and
// sense, unit attentions (a few or without end), NOT READY, a delay, or a command
// that never completes. Tools take them as --fault RULE, the state file as its
// "fault" key, tests through Add.
//
// Text syntax (one or more rules, separated by ';', ',' or white space):
//
//   rule   := target { ':' item }
//   target := tur | inquiry | read10 | send | receive | prevent | startstop
//           | a hexadecimal opcode (1d, 0x1D) | any | *
//   item   := page=N | page=open1 | page=open2 | page=close | page=identify
//                        SEND DIAGNOSTIC page 0x88: data page N (function C0,
//                        argument N), the opening pages (F0 00, F0 FF), the
//                        closing page (C0 00) or the identify page (40 00)
//           | func=HH | arg=HH   the page's function and argument bytes, hex
//           | nth=K              only the K-th command the rule matches (from 1)
//           | from=K             the K-th command the rule matches and every later
//                                one: a command the drive keeps failing, retries
//                                included
//           | times=K            fire at most K times (default: every match)
//           | status=HH          answer with this SCSI status, hex (02 alone gets
//                                HARDWARE ERROR 44/00 as its sense)
//           | sense=KK/AA/QQ     sense key, ASC and ASCQ, hex (status 02 implied)
//           | ua | ua=N | ua=forever
//                                UNIT ATTENTION 29/00 (power on or reset) once,
//                                N times, or on every match
//           | notready           NOT READY 04/01 (becoming ready) on every match
//           | delay=MS           wait MS milliseconds through the owner's sleep hook
//           | hang               never complete; the transport decides what that
//                                means to its caller
//           | keeprev            the closing page is accepted, but the drive keeps
//                                its old firmware and revision (a write that did
//                                not take)
//           | settle=N | settle=forever
//                                once the drive has taken new firmware, its next N
//                                commands (or all of them), INQUIRY included,
//                                get UNIT ATTENTION 29/00 while it restarts
//           | oldrev=N           once the drive has taken new firmware, its next N
//                                INQUIRYs still report the old revision
//           | afterclose         the rule sees only commands that come after a
//                                closing page (a drive that fails once written)
//
// Examples: "send:page=3:status=02:sense=05/26/00", "read10:ua=forever",
// "tur:notready", "send:page=2:delay=5000", "inquiry:hang",
// "any:nth=4:sense=0b/47/00", "send:page=close:keeprev", "send:page=close:settle=9",
// "send:page=close:oldrev=2", "inquiry:afterclose:hang".
#include <cstdint>
#include <string>
#include <vector>

namespace qx {

struct SimFaultRule {
  int opcode = -1;    // -1 matches every command
  int function = -1;  // SEND DIAGNOSTIC page byte 5, -1 any
  int argument = -1;  // SEND DIAGNOSTIC page byte 6, -1 any
  std::uint32_t nth = 0;
  std::uint32_t from = 0;   // 0: from the first match
  std::uint32_t times = 0;  // 0: without end
  bool fails = false;
  std::uint8_t status = 0;
  std::uint8_t senseKey = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  bool hasSense = false;
  std::uint32_t delayMs = 0;
  bool hang = false;
  bool keepRevision = false;
  std::uint32_t settle = 0;  // kSettleForever: without end
  std::uint32_t oldRevision = 0;
  bool afterClose = false;
  std::string text;  // the rule as written, for the state file

  // Run-time counters.
  std::uint32_t matched = 0;
  std::uint32_t fired = 0;
};

// What the rules that fired on one command ask the drive to do. When several
// rules fail a command, the first in the plan decides its answer.
constexpr std::uint32_t kSettleForever = 0xFFFFFFFFu;

struct SimFaultEffect {
  std::uint32_t delayMs = 0;
  bool hang = false;
  bool keepRevision = false;
  std::uint32_t settle = 0;
  std::uint32_t oldRevision = 0;
  bool fails = false;
  std::uint8_t status = 0;
  bool hasSense = false;
  std::uint8_t senseKey = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
};

// Parses one or more rules; false with a reason in *error (rules untouched) when
// any of them does not parse.
bool ParseSimFaultRules(const std::string& text, std::vector<SimFaultRule>* rules,
                        std::string* error);

class SimFaultPlan {
 public:
  // Adds the rules of `text`; false with a reason when it does not parse, and
  // then nothing is added.
  bool Add(const std::string& text, std::string* error = nullptr);
  void Clear() { rules.clear(); }
  bool Empty() const { return rules.empty(); }
  const std::vector<SimFaultRule>& Rules() const { return rules; }
  // The rules as written, separated by blanks: Add(Text()) rebuilds the plan.
  std::string Text() const;

  // Called once for every command the drive receives. `parameters` is the
  // outgoing parameter list (SEND DIAGNOSTIC), null when there is none.
  SimFaultEffect Apply(const std::uint8_t* cdb, const std::uint8_t* parameters,
                       std::uint32_t parameterLength);

 private:
  std::vector<SimFaultRule> rules;
  bool closingSeen = false;  // a closing page has arrived (afterclose)
};

}  // namespace qx
