// The six dialects: each operation's commands are ones the dialect's simulated modem accepts for it.
#include <gtest/gtest.h>

#include <set>

#include "SimLine.h"

namespace telvara::testing {
namespace {

using Strings = std::vector<std::string>;
using A = sim::VoiceAction;

// A line's commands as the simulated modem splits them: "AT#VSD=1#VSS=2" is "#VSD=1" "#VSS=2".
Strings Tokens(const std::string& line) {
  Strings tokens;
  for (char c : line.substr(2)) {
    if (tokens.empty() || std::string("#+&\\").find(c) != std::string::npos) tokens.emplace_back();
    tokens.back() += c;
  }
  return tokens;
}

// Voice mode, answer, play and record run in every dialect on a pseudo-terminal (VoiceOnPty).
TEST(Dialects, EachOperationSendsCommandsOfItsOwnDialect) {
  using Operation = std::tuple<std::string, std::function<void(FMODEM&)>, std::set<A>>;  // what its commands may do
  std::vector<Operation> ops = {{"flow control", [](FMODEM& m) { m.SetFlowControl(); }, {A::FlowControl}},
                                {"silence",
                                 [](FMODEM& m) { m.SetSilenceDetection(); },
                                 {A::SilenceOn, A::SilenceSensitivity, A::SilencePeriod, A::SilenceBoth}},
                                {"beep", [](FMODEM& m) { m.Beep(); }, {A::Beep}}};
  for (int k = 0; k < 5; ++k)
    ops.push_back({"line " + std::to_string(k), [k](FMODEM& m) { m.SelectLine(k); },
                   k == 0 ? std::set<A>{A::SelectLine, A::LineOffHook} : std::set<A>{A::SelectLocal}});
  for (int d = 0; d < kModemTypes; ++d) {
    ModemType dialect = ModemType(d);
    SimLine line{dialect};
    ASSERT_TRUE(line.Open() && line.Driver().SetVoiceMode());
    for (const auto& [name, run, actions] : ops) {
      SCOPED_TRACE(std::string(sim::DialectName(dialect)) + ", " + name);
      std::size_t before = line.Commands().size();
      run(line.Driver());
      const Strings lines = line.Commands(before);
      EXPECT_EQ(lines.empty(), (name == "silence" && (dialect == Cirrus || dialect == Sierra)) ||
                                   (name == "line 3" && dialect >= Cirrus));
      for (const std::string& line : lines)
        for (const std::string& t : Tokens(line)) {
          auto c = sim::LookUpDialectCommand(dialect, t);
          EXPECT_TRUE(c && actions.count(c->action)) << line;
        }
    }
  }
}

struct Driver : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(line.Open()); }
  void Reply(std::initializer_list<const char*> lines, const std::string& r) {
    for (const char* c : lines) line.Modem().SetReply(c, r);
  }
  SimLine line{Rockwell};
  FMODEM& modem = line.Driver();
};

TEST_F(Driver, RepliesAreReadAsEachOperationDefinesAndOutOfRangeArgumentsAreRefused) {
  Reply({"AT#CLS=8", "AT&K3", "AT#VSD=1#VSS=2#VSP=30", "AT#VLS=0", "AT#VTS={5,1}"}, "VCON");
  EXPECT_EQ(modem.SetVoiceMode(), ResultVcon);                         // passed on as it came
  EXPECT_EQ(modem.SetFlowControl() + modem.SetSilenceDetection(), 0);  // only OK will do
  EXPECT_EQ(modem.SelectLine(LineTelephone), 1);                       // OK or VCON
  EXPECT_EQ(modem.Beep(), ResultVcon);
  Reply({"AT#CLS=8", "AT#VLS=1", "ATA"}, "ERROR");
  EXPECT_EQ(modem.SetVoiceMode(), ResultError);
  EXPECT_EQ(modem.SelectLine(LineHandset) + modem.Answer(), 0);
  Reply({"ATA"}, "VCON");  // only the answer command's reply counts
  EXPECT_EQ(modem.Answer(), 1);
  std::size_t before = line.Commands().size();
  EXPECT_EQ(modem.SelectLine(5) + modem.SelectLine(-1) + modem.SetModemType(6) + modem.SetModemType(~0u), 0);
  EXPECT_TRUE(line.Commands().size() == before && modem.GetModemType() == Rockwell);
}

TEST_F(Driver, DialSendsTheNumberAtOnceRefusesALineBreakAndWantsConnectOrVconOrInIs101OkThen8250ms) {
  EXPECT_EQ(modem.Dial("123\rATH", 100) + modem.Dial("1\n2", 100), 0);
  EXPECT_EQ(line.Port().Wire(), "");
  line.Modem().QueueDialOutcome("CONNECT", 20);
  uint32_t start = line.Now();
  EXPECT_EQ(modem.Dial("5551234\r\n", 25000), 1);
  EXPECT_EQ(line.Port().Wire(), "ATDT 5551234\r");
  EXPECT_EQ(line.Times("command"), std::vector<uint32_t>{start});
  const std::tuple<ModemType, const char*, int, int, uint32_t> cases[] = {
      {Rockwell, "VCON", 20, 1, 20},    {Rockwell, "OK", 20, 0, 20},
      {Rockwell, "BUSY", 20, 0, 20},    {Rockwell, "", 0, 0, 137500},  // no reply: the caller's 25000 units
      {IS_101, "OK", 20, 1, 20 + 8250}, {IS_101, "CONNECT", 20, 0, 20},
      {IS_101, "OK", 3400, 0, 3300}};  // the first reply within 3.3 s, whatever the caller's time
  for (const auto& [dialect, reply, delay, result, took] : cases) {
    SimLine l(dialect);  // in voice, a connected dial leaves the modem reading commands
    ASSERT_TRUE(l.Open() && l.Driver().SetVoiceMode() == ResultOk);
    l.Modem().QueueDialOutcome(reply, delay);
    start = l.Now();
    EXPECT_EQ(l.Driver().Dial("42", 25000), result) << reply << " " << delay;
    EXPECT_TRUE(l.Now() - start >= took && l.Now() - start < took + 110) << reply << " " << l.Now() - start;
  }
}

}  // namespace
}  // namespace telvara::testing
