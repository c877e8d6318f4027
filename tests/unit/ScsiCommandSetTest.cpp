// The command set both transports share: CDB bytes, names, LUN rule, retry rule and
// the no-data commands. A transport that records what ExecuteOnce receives stands
// in for the drive.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "device/ScsiTransport.h"

namespace qx {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Sent {
  Bytes cdb;
  std::uint32_t timeout;
  std::uint8_t* buffer;
  std::uint32_t length;
};

struct Reply {
  CommandStatus status;
  std::uint8_t senseKey;
};

class RecordingTransport : public ScsiTransport {
 public:
  std::vector<Sent> sent;
  std::vector<std::string> names;
  std::deque<Reply> replies;  // the last one repeats

  std::uint8_t ScanDrives() override { return 0; }
  std::string GetDriveEntry(int) const override { return std::string(); }
  void SelectDrive(std::uint8_t) override {}
  CommandStatus ExecuteOnce(std::uint8_t* cdb, std::uint8_t length,
                            std::uint32_t timeoutSeconds) override {
    sent.push_back({Bytes(cdb, cdb + length), timeoutSeconds, transferBuffer, transferLength});
    Reply reply = replies.empty() ? Reply{status::kGood, 0} : replies.front();
    if (replies.size() > 1) replies.pop_front();
    senseRecord = SenseRecord();
    senseRecord.bytes[2] = reply.senseKey;
    senseRecord.bytes[12] = 0x29;
    senseRecord.bytes[13] = 0x01;
    return reply.status;
  }
  void SetLun(std::uint8_t value) { lun = value; }

 protected:
  std::uint32_t CommandTimeout() const override { return 1234; }
  void SetCommandName(const std::string& name) override { names.push_back(name); }
};

TEST(ScsiCommandSet, EveryNamedCommandSendsItsExactBytes) {
  struct Case {
    const char* what;
    CommandStatus (*send)(RecordingTransport&);
    Bytes cdb;
    std::string name;
  };
  const Case cases[] = {
      {"test unit ready", [](RecordingTransport& t) { return t.TestUnitReady(); },
       {0x00, 0, 0, 0, 0, 0}, "Test Unit Ready"},
      {"inquiry", [](RecordingTransport& t) { return t.Inquiry(44); },
       {0x12, 0, 0, 0, 0x2C, 0}, "Inquiry"},
      {"eject", [](RecordingTransport& t) { return t.StartStopUnit(false, false, true); },
       {0x1B, 0, 0, 0, 0x02, 0}, "Stat/StopUnit(0)(1)"},
      {"start, immediate", [](RecordingTransport& t) { return t.StartStopUnit(true, true, false); },
       {0x1B, 0x01, 0, 0, 0x01, 0}, "Stat/StopUnit(1)(0)"},
      {"load", [](RecordingTransport& t) { return t.StartStopUnit(true, false, true); },
       {0x1B, 0, 0, 0, 0x03, 0}, "Stat/StopUnit(1)(1)"},
      {"receive 16", [](RecordingTransport& t) { return t.ReceiveDiagnosticResults(16); },
       {0x1C, 0, 0, 0x00, 0x10, 0}, "Receive Diagnostic Results"},
      {"receive 0x1234", [](RecordingTransport& t) { return t.ReceiveDiagnosticResults(0x1234); },
       {0x1C, 0, 0, 0x12, 0x34, 0}, "Receive Diagnostic Results"},
      {"send page", [](RecordingTransport& t) { return t.SendDiagnostic(0, 32776); },
       {0x1D, 0, 0, 0x80, 0x08, 0}, "Send Diagnostic"},
      {"send with self test, devoffl, pf",
       [](RecordingTransport& t) { return t.SendDiagnostic(0x07, 8); },
       {0x1D, 0x1C, 0, 0x00, 0x08, 0}, "Send Diagnostic"},
      {"send with high flag bits", [](RecordingTransport& t) { return t.SendDiagnostic(0xFF, 8); },
       {0x1D, 0x1C, 0, 0x00, 0x08, 0}, "Send Diagnostic"},
      {"allow removal", [](RecordingTransport& t) { return t.PreventAllowMediumRemoval(false); },
       {0x1E, 0, 0, 0, 0x00, 0}, "Prevent/Allow Medium Removal"},
      {"prevent removal", [](RecordingTransport& t) { return t.PreventAllowMediumRemoval(true); },
       {0x1E, 0, 0, 0, 0x01, 0}, "Prevent/Allow Medium Removal"},
      {"read block 16", [](RecordingTransport& t) { return t.Read10(16, 1, false, false); },
       {0x28, 0, 0, 0, 0, 0x10, 0, 0, 0x01, 0}, "Read(Group1)(10)(1)"},
      {"read far, fua, relative",
       [](RecordingTransport& t) { return t.Read10(0x12345678, 0x0102, true, true); },
       {0x28, 0x09, 0x12, 0x34, 0x56, 0x78, 0, 0x01, 0x02, 0}, "Read(Group1)(12345678)(102)"},
      {"read fua only", [](RecordingTransport& t) { return t.Read10(0xFFFFFFFF, 0xFFFF, true, false); },
       {0x28, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0xFF, 0xFF, 0}, "Read(Group1)(FFFFFFFF)(FFFF)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingTransport transport;
    EXPECT_EQ(status::kGood, c.send(transport));
    ASSERT_EQ(1u, transport.sent.size());
    EXPECT_EQ(c.cdb, transport.sent[0].cdb);
    EXPECT_EQ(1234u, transport.sent[0].timeout);
    ASSERT_EQ(1u, transport.names.size());
    EXPECT_EQ(c.name, transport.names[0]);
  }
}

TEST(ScsiCommandSet, DirectionFollowsTheOpcodeOnly) {
  EXPECT_EQ(DataDirection::Out, DirectionOf(0x1D));
  EXPECT_EQ(DataDirection::In, DirectionOf(0x12));
  EXPECT_EQ(DataDirection::In, DirectionOf(0x1C));
  EXPECT_EQ(DataDirection::In, DirectionOf(0x28));
  for (std::uint8_t op : {0x00, 0x1B, 0x1E, 0x03, 0x2A, 0x5A, 0xA8, 0xFF}) {
    EXPECT_EQ(DataDirection::Unspecified, DirectionOf(op)) << int(op);
  }
}

TEST(ScsiCommandSet, LunRuleRewritesTheTopBitsOfByteOneInPlace) {
  RecordingTransport transport;
  std::uint8_t cdb[6] = {0x00, 0xFF, 0, 0, 0, 0};
  transport.ExecuteCdb6(cdb, 10);
  EXPECT_EQ(0x1F, transport.sent[0].cdb[1]);
  EXPECT_EQ(0x1F, cdb[1]);
  EXPECT_EQ(10u, transport.sent[0].timeout);

  transport.SetLun(3);
  std::uint8_t cdb10[10] = {0x28, 0xE9, 0, 0, 0, 0, 0, 0, 0, 0};
  transport.ExecuteCdb10(cdb10, 10);
  ASSERT_EQ(10u, transport.sent[1].cdb.size());
  EXPECT_EQ(0x69, transport.sent[1].cdb[1]);
}

TEST(ScsiCommandSet, OnlyUnitAttentionRepeatsAndAtMostSevenTimes) {
  struct Case {
    const char* what;
    std::deque<Reply> replies;
    std::size_t attempts;
    CommandStatus result;
  };
  const Case cases[] = {
      {"endless unit attention", {{status::kError, sense::kUnitAttention}}, 7, status::kError},
      {"not ready", {{status::kError, sense::kNotReady}}, 1, status::kError},
      {"illegal request", {{status::kError, sense::kIllegalRequest}}, 1, status::kError},
      {"two unit attentions then good",
       {{status::kError, sense::kUnitAttention}, {status::kError, sense::kUnitAttention},
        {status::kGood, 0}},
       3, status::kGood},
      {"six unit attentions then good",
       {{status::kError, 6}, {status::kError, 6}, {status::kError, 6}, {status::kError, 6},
        {status::kError, 6}, {status::kError, 6}, {status::kGood, 0}},
       7, status::kGood},
      {"unit attention then not ready",
       {{status::kError, sense::kUnitAttention}, {status::kError, sense::kNotReady}}, 2,
       status::kError},
      // The sense key decides, not the status: a refused command whose record still
      // says unit attention is repeated too.
      {"refusal with unit attention sense", {{status::kInUse, sense::kUnitAttention}}, 7,
       status::kInUse},
      {"sense key with flag bits", {{status::kError, 0xE6}}, 7, status::kError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingTransport transport;
    transport.replies = c.replies;
    EXPECT_EQ(c.result, transport.Inquiry(44));
    EXPECT_EQ(c.attempts, transport.sent.size());
    for (const Sent& s : transport.sent) EXPECT_EQ(transport.sent[0].cdb, s.cdb);
  }
}

TEST(ScsiCommandSet, NoDataCommandsSendNoBufferAndKeepTheOneSet) {
  std::uint8_t reply[16];
  std::uint8_t other[44];
  RecordingTransport transport;
  transport.SetBuffer(reply, sizeof reply);
  transport.ReceiveDiagnosticResults(16);
  transport.StartStopUnit(false, false, true);
  transport.TestUnitReady();
  transport.PreventAllowMediumRemoval(false);
  transport.ReceiveDiagnosticResults(16);
  transport.SetBuffer(other, sizeof other);
  transport.Inquiry(44);

  ASSERT_EQ(6u, transport.sent.size());
  EXPECT_EQ(reply, transport.sent[0].buffer);
  EXPECT_EQ(16u, transport.sent[0].length);
  for (int i = 1; i <= 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(nullptr, transport.sent[i].buffer);
    EXPECT_EQ(0u, transport.sent[i].length);
  }
  EXPECT_EQ(reply, transport.sent[4].buffer);
  EXPECT_EQ(16u, transport.sent[4].length);
  EXPECT_EQ(other, transport.sent[5].buffer);
  EXPECT_EQ(44u, transport.sent[5].length);
}

TEST(ScsiCommandSet, SenseCodesComeFromTheLastCommand) {
  RecordingTransport transport;
  transport.replies = {{status::kError, sense::kUnitAttention}};
  transport.TestUnitReady();
  std::uint8_t asc = 0, ascq = 0;
  transport.GetSenseCodes(&asc, &ascq);
  EXPECT_EQ(0x29, asc);
  EXPECT_EQ(0x01, ascq);
  EXPECT_EQ(sense::kUnitAttention, transport.Sense().SenseKey());
}

}  // namespace
}  // namespace qx
