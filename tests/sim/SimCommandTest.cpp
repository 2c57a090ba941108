// The simulated modem's command layer, driven in-process through its ByteStream on a
// virtual clock: echo, result framing, the dialect tables, rings, DTR, the opener.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "SimHost.h"

namespace telvara::sim {
namespace {

using testing::SimHost;

const std::vector<ModemType> kAllDialects = {Rockwell, IS_101,
                                           USRobotics, Cirrus,
                                           Sierra, UMC};

TEST(SimCommands, EchoIsOnUntilE0AndBackAfterFactoryReset) {
  SimHost host(Rockwell);
  EXPECT_EQ(host.Command("AT"), "AT\r\r\nOK\r\n");
  EXPECT_EQ(host.Command("ATE0V1"), "ATE0V1\r\r\nOK\r\n");
  EXPECT_EQ(host.Command("AT"), "\r\nOK\r\n");
  // &F turns echo on again for the lines after it.
  EXPECT_EQ(host.Command("AT&F&C1&D2"), "\r\nOK\r\n");
  EXPECT_EQ(host.Command("AT&F"), "AT&F\r\r\nOK\r\n");
  EXPECT_EQ(host.Command("ATE0"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(host.Command("ATZ"), "\r\nOK\r\n");
  EXPECT_EQ(host.Command("AT"), "AT\r\r\nOK\r\n");
}

TEST(SimCommands, ResultsComeAfterAReplyDelayAndLinesWithoutAtAreIgnored) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  uint32_t sent = host.Now();
  host.Send("AT\r");
  std::string got = host.ReadUntil("OK\r\n", 1000);
  EXPECT_EQ(got, "\r\nOK\r\n");
  uint32_t took = host.Now() - sent;
  EXPECT_GE(took, SimModem::kReplyDelayMs);
  EXPECT_LT(took, 50u);
  // Noise, a lone CR, a line feed: no reply at all.
  EXPECT_EQ(host.Command("hello"), "");
  EXPECT_EQ(host.Command(""), "");
  // Lower case, spaces and a backspace are taken as modems take them.
  EXPECT_EQ(host.Command("at e0 v1"), "\r\nOK\r\n");
  EXPECT_EQ(host.Command("ATX\bE0"), "\r\nOK\r\n");
  EXPECT_EQ(host.Command("ATV0"), "0\r");
  EXPECT_EQ(host.Command("ATQ9"), "4\r");
  EXPECT_EQ(host.Command("ATV1"), "\r\nOK\r\n");
}

TEST(SimCommands, OverlongAndMalformedLinesAnswerError) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  EXPECT_EQ(host.Command("AT" + std::string(5000, 'E')), "\r\nERROR\r\n");
  EXPECT_EQ(host.Command("AT"), "\r\nOK\r\n");  // the next line is fine again
  EXPECT_EQ(host.Command("AT!"), "\r\nERROR\r\n");
  EXPECT_EQ(host.Command("ATS999=1"), "\r\nERROR\r\n");
  EXPECT_EQ(host.Command("ATS0=300"), "\r\nERROR\r\n");
  EXPECT_EQ(host.Command("ATS0=2"), "\r\nOK\r\n");
  EXPECT_EQ(host.Command("ATS0?"), "\r\n002\r\n\r\nOK\r\n");
  // Commands run left to right and stop at the first bad one.
  EXPECT_EQ(host.Command("ATE1Y7"), "\r\nERROR\r\n");
  EXPECT_EQ(host.Command("AT"), "AT\r\r\nOK\r\n");
}

// Every command of the dialect tables, per dialect and operation, voice mode last;
// results in voice class. A command spelled by another dialect only answers ERROR.
struct TableCommand {
  std::string command;
  std::string result;
};
std::map<ModemType, std::vector<TableCommand>> DialectTables() {
  return {
      {Rockwell,
       {{"AT#BDR=8#VBS=2#VSR=7200", "OK"}, {"AT#BDR=16#VBS=2#VSR=11025", "OK"},
        {"AT#BDR=16#VBS=4#VSR=7200", "OK"}, {"AT#BDR=24#VBS=4#VSR=11025", "OK"},
        {"AT#BDR=48#VBS=8#VSR=7200", "OK"}, {"AT#BDR=48#VBS=8#VSR=11025", "OK"},
        {"AT#VSD=1#VSS=2#VSP=30", "OK"}, {"AT#VLS=0", "OK"}, {"AT#VLS=1", "VCON"},
        {"AT#VLS=3", "VCON"}, {"AT#VLS=2", "VCON"}, {"AT#VTS={5,1}", "OK"},
        {"AT&K3", "OK"}, {"AT#CLS=8", "OK"}}},
      {IS_101,
       {{"AT+VSM=141,4800", "OK"}, {"AT+VSM=141,11025", "OK"}, {"AT+VSM=2,8000", "OK"},
        {"AT+VSM=0,7200", "OK"}, {"AT+VSM=1,9600", "OK"}, {"AT+VSD=128,30", "OK"},
        {"AT+VLS=2", "OK"}, {"AT+VLS=3", "OK"}, {"AT#VLS=1", "OK"}, {"AT#VLS=2", "OK"},
        {"AT+VTS=5", "OK"}, {"AT+FLO=2", "OK"}, {"AT+FCLASS=8", "OK"}}},
      {USRobotics,
       {{"AT#VSM=129,8000#VBS=2", "OK"}, {"AT#VSM=129,8000#VBS=3", "OK"},
        {"AT#VSM=129,8000#VBS=4", "OK"}, {"AT#VSM=128,8000", "OK"},
        {"AT#VSD=1#VSS=2#VSP=30", "OK"}, {"AT#VLS=0", "OK"}, {"AT#VLS=1", "VCON"},
        {"AT#VLS=3", "VCON"}, {"AT#VLS=2", "VCON"}, {"AT#VTS={5,1}", "OK"},
        {"AT&H1&R2&I0", "OK"}, {"AT#CLS=8", "OK"}}},
      {Cirrus,
       {{"AT#VSR=9600#VSM=AD3", "OK"}, {"AT#VSR=9600#VSM=AD4", "OK"},
        {"AT#VSR=9600#VSM=CL1", "OK"}, {"AT#VLN=1", "OK"}, {"AT#VLN=2", "VCON"},
        {"AT#VLN=32", "VCON"}, {"AT#VLS=2", "VCON"}, {"AT#VBP", "OK"}, {"AT\\Q3", "OK"},
        {"AT#VCL=1", "OK"}}},
      {Sierra,
       {{"AT#VSM=2", "OK"}, {"AT#VLS=4", "OK"}, {"AT#VLS=1", "VCON"}, {"AT#VLS=2", "VCON"},
        {"AT+VTS=5", "OK"}, {"AT&K3", "OK"}, {"AT+FCLASS=8", "OK"}}},
      {UMC,
       {{"AT#VBS=2", "OK"}, {"AT#VBS=3", "OK"}, {"AT#VBS=4", "OK"},
        {"AT#VSD=1#VSS=2#VSP=30", "OK"}, {"AT#VLS=4", "OK"}, {"AT#VLS=1", "VCON"},
        {"AT#VLS=2", "VCON"}, {"AT#VTS=[900,0,1]", "OK"}, {"AT\\Q3", "OK"},
        {"AT#CLS=8", "OK"}}},
  };
}

// The voice-phase, answer and class commands of each dialect (answered elsewhere).
std::map<ModemType, std::vector<std::string>> PhaseCommands() {
  return {
      {Rockwell, {"AT#VTX", "AT#VRX"}},
      {IS_101, {"AT+VTX", "AT+VRX", "AT+VLS=1"}},
      {USRobotics, {"AT#VTX", "AT#VRX"}},
      {Cirrus, {"AT#VPY", "AT#VRD", "AT#VIP=1"}},
      {Sierra, {"AT#VSV", "AT#VD1"}},
      {UMC, {"AT#VTX", "AT#VRX"}},
  };
}

// The commands of one line: "AT#BDR=8#VBS=2" gives "#BDR=8" and "#VBS=2".
std::set<std::string> Tokens(const std::string& line) {
  std::set<std::string> tokens;
  std::string current;
  for (char c : line.substr(2)) {
    if ((c == '#' || c == '+' || c == '&' || c == '\\') && !current.empty()) {
      tokens.insert(current);
      current.clear();
    }
    current += c;
  }
  if (!current.empty()) tokens.insert(current);
  return tokens;
}

TEST(SimCommands, EveryTableCommandIsAcceptedExactlyAndOtherDialectsRefuseIt) {
  auto tables = DialectTables();
  auto phases = PhaseCommands();
  for (ModemType d : kAllDialects) {
    SCOPED_TRACE(DialectName(d));
    SimHost host(d);
    host.Command("ATE0");
    ASSERT_EQ(host.Command(tables[d].back().command), "\r\nOK\r\n");  // voice mode
    std::set<std::string> own;
    for (const TableCommand& c : tables[d]) {
      for (const std::string& t : Tokens(c.command)) own.insert(t);
      EXPECT_EQ(host.Command(c.command), "\r\n" + c.result + "\r\n") << c.command;
    }
    for (const std::string& c : phases[d]) own.insert(c.substr(2));
    for (ModemType other : kAllDialects) {
      std::vector<std::string> theirs;
      for (const TableCommand& c : tables[other]) theirs.push_back(c.command);
      for (const std::string& c : phases[other]) theirs.push_back(c);
      for (const std::string& c : theirs) {
        // Dialects share some spellings (#VBS=2, #VLS=2, ...) and "+FCLASS=8" is
        // everybody's: a line is foreign when one of its commands is.
        std::set<std::string> tokens = Tokens(c);
        bool foreign = false;
        for (const std::string& t : tokens) foreign = foreign || (!own.count(t) && t != "+FCLASS=8");
        if (!foreign) continue;
        EXPECT_EQ(host.Command(c), "\r\nERROR\r\n") << c << " of " << DialectName(other);
      }
    }
  }
}

TEST(SimCommands, VoiceCommandsNeedTheVoiceClass) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  EXPECT_EQ(host.Command("AT#VLS=0"), "\r\nERROR\r\n");
  EXPECT_EQ(host.Command("AT#VTX"), "\r\nERROR\r\n");
  EXPECT_EQ(host.Command("AT#VRX"), "\r\nERROR\r\n");
  EXPECT_EQ(host.Command("AT&K3"), "\r\nOK\r\n");  // flow control is not a voice command
  EXPECT_EQ(host.Command("AT#CLS=8#VLS=0"), "\r\nOK\r\n");
  EXPECT_EQ(host.Command("AT+FCLASS?"), "\r\n8\r\n\r\nOK\r\n");
  EXPECT_TRUE(host.Modem().InVoiceClass());
  EXPECT_EQ(host.Command("AT+FCLASS=0"), "\r\nOK\r\n");
  EXPECT_FALSE(host.Modem().InVoiceClass());
  EXPECT_EQ(host.Command("AT#VLS=0"), "\r\nERROR\r\n");
}

TEST(SimCommands, ScriptedRepliesOverrideACommand) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  ASSERT_EQ(host.Stream().AddScenario("reply AT#CLS=8 ERROR\nreply AT&K3 silence\n"), "");
  EXPECT_EQ(host.Command("AT#CLS=8"), "\r\nERROR\r\n");
  EXPECT_FALSE(host.Modem().InVoiceClass());
  EXPECT_EQ(host.Command("AT&K3"), "");
  ASSERT_EQ(host.Stream().AddScenario("reply at#cls=8 default\n"), "");
  EXPECT_EQ(host.Command("AT#CLS=8"), "\r\nOK\r\n");
}

TEST(SimRings, RingLinesComeSixSecondsApartAndStopWhenUnanswered) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  ASSERT_EQ(host.Stream().AddScenario("after 1s ring 3"), "");
  uint32_t start = host.Now();
  std::vector<uint32_t> at;
  for (int i = 0; i < 3; ++i) {
    std::string got = host.ReadUntil("RING\r\n", 20000);
    ASSERT_EQ(got, "\r\nRING\r\n");
    at.push_back(host.Now() - start);
  }
  EXPECT_EQ(at[0], 1000u);
  EXPECT_EQ(at[1] - at[0], SimModem::kRingPeriodMs);
  EXPECT_EQ(at[2] - at[1], SimModem::kRingPeriodMs);
  EXPECT_EQ(host.ReadFor(30000), "");
  auto& t = host.Stream().GetTranscript();
  EXPECT_EQ(t.Texts("ring").size(), 3u);
  EXPECT_EQ(t.Texts("call-end"), std::vector<std::string>{"not answered"});
}

TEST(SimRings, AnsweringInVoiceModeGivesVconAndStopsTheRings) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  host.Command("AT#CLS=8");
  ASSERT_EQ(host.Stream().AddScenario("ring 5"), "");
  ASSERT_EQ(host.ReadUntil("RING\r\n", 1000), "\r\nRING\r\n");
  ASSERT_EQ(host.ReadUntil("RING\r\n", 7000), "\r\nRING\r\n");
  EXPECT_EQ(host.Command("ATA"), "\r\nVCON\r\n");
  EXPECT_TRUE(host.Modem().OffHook());
  EXPECT_EQ(host.ReadFor(20000), "");
  EXPECT_EQ(host.Command("ATH0"), "\r\nOK\r\n");
  EXPECT_FALSE(host.Modem().OffHook());
  auto& t = host.Stream().GetTranscript();
  EXPECT_EQ(t.Texts("answer").size(), 1u);
  EXPECT_EQ(t.Texts("ring").size(), 2u);
}

TEST(SimRings, DataAnswerToAVoiceCallerFailsAndAKeyAbortsIt) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  ASSERT_EQ(host.Stream().AddScenario("ring 5"), "");
  host.ReadUntil("RING\r\n", 1000);
  host.Send("ATA\r");
  EXPECT_EQ(host.ReadFor(4000), "");
  EXPECT_EQ(host.ReadUntil("\r\n", 2000 + 10), "\r\nNO CARRIER\r\n");
  EXPECT_FALSE(host.Modem().OffHook());

  ASSERT_EQ(host.Stream().AddScenario("ring 5"), "");
  host.ReadUntil("RING\r\n", 1000);
  host.Send("ATA\r");
  host.Idle(500);
  host.Send("A");
  EXPECT_EQ(host.ReadFor(100), "\r\nNO CARRIER\r\n");
}

TEST(SimDtr, DroppingDtrHangsUpWithAndD2Only) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  host.Command("AT#CLS=8");
  host.Command("ATH1");
  ASSERT_TRUE(host.Modem().OffHook());
  host.Stream().SetDtr(false);
  EXPECT_FALSE(host.Modem().OffHook());
  EXPECT_EQ(host.ReadFor(100), "\r\nOK\r\n");
  host.Stream().SetDtr(true);

  host.Command("AT&D0");
  host.Command("ATH1");
  host.Stream().SetDtr(false);
  EXPECT_TRUE(host.Modem().OffHook());
}

TEST(SimOpener, OpensOneHandleAndClosingDropsDtr) {
  VirtualClock clock;
  SimStream stream(clock, Rockwell);
  PortOpener open = MakeSimPortOpener(stream, {3});
  PortOpenResult missing = open(3, 115200);
  EXPECT_FALSE(missing.stream);
  EXPECT_NE(missing.error.find("COM3"), std::string::npos);
  PortOpenResult first = open(2, 115200);
  ASSERT_TRUE(first.stream);
  EXPECT_EQ(first.stream->PollFd(), -1);
  PortOpenResult second = open(2, 115200);
  EXPECT_FALSE(second.stream);
  EXPECT_NE(second.error.find("busy"), std::string::npos);
  const char at[] = "ATH1\r";
  EXPECT_EQ(first.stream->Write(at, 5), 5);
  EXPECT_TRUE(stream.Modem().OffHook());
  first.stream.reset();
  EXPECT_FALSE(stream.Modem().Dtr());
  EXPECT_FALSE(stream.Modem().OffHook());  // &D2: the close hung up
  EXPECT_TRUE(open(2, 115200).stream);
}

TEST(SimTranscript, LinesAreJsonWithTimesAndEscapedBytes) {
  SimHost host(Rockwell);
  host.Idle(250);
  host.Command("AT\"\x01");
  const auto& entries = host.Stream().GetTranscript().Entries();
  ASSERT_GE(entries.size(), 3u);
  EXPECT_EQ(entries[0].json, "{\"t\":0,\"kind\":\"start\",\"text\":\"Rockwell\",\"rate\":7200}");
  EXPECT_EQ(entries[1].json, "{\"t\":250,\"kind\":\"command\",\"text\":\"AT\\\"\\u0001\"}");
  EXPECT_EQ(entries[2].json, "{\"t\":258,\"kind\":\"result\",\"text\":\"ERROR\"}");
  EXPECT_EQ(JsonString(std::string("\xff\\", 2)), "\"\\u00ff\\\\\"");
}

}  // namespace
}  // namespace telvara::sim
