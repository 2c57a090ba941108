// The simulated modem in-process on the virtual clock: its commands, rings, DTR, port
// opener and transcript; voice transmit and receive at the line's rate; dialling.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "SimHost.h"

namespace telvara::sim {
namespace {

using testing::SimHost;
using Strings = std::vector<std::string>;

// A dialect table's command as a host types it: "AT", and 7 for every number ('%').
std::string Spelled(const DialectEntry& entry) {
  std::string line = std::string("AT") + entry.pattern;
  for (size_t p; (p = line.find('%')) != std::string::npos;) line[p] = '7';
  return line;
}

// Removes the DLE shielding of what the modem sent: the samples; the event codes go to
// `events`.
std::string Unshield(const std::string& wire, std::string* events = nullptr) {
  std::string samples;
  for (size_t i = 0; i < wire.size(); ++i) {
    if (wire[i] != kDLE || wire[++i] == kDLE)
      samples += wire[i];
    else if (events)
      *events += wire[i];
  }
  return samples;
}

const std::string kEnd = {static_cast<char>(kDLE), static_cast<char>(kETX)};

// Sends each command line and expects the reply beside it.
void Exchange(SimHost& host, const std::vector<std::pair<std::string, std::string>>& exchanges) {
  for (const auto& [line, reply] : exchanges) EXPECT_EQ(host.Command(line), reply) << line;
}
const std::string kOk = "\r\nOK\r\n", kError = "\r\nERROR\r\n";

TEST(SimCommands, EchoIsOnUntilE0AndBackAfterAndFOrZ) {
  SimHost host(Rockwell);
  Exchange(host, {{"AT", "AT\r" + kOk},
                  {"ATE0V1", "ATE0V1\r" + kOk},
                  {"AT&F", kOk},
                  {"ATE0", "ATE0\r" + kOk},
                  {"ATZ", kOk},
                  {"AT", "AT\r" + kOk}});
}

TEST(SimCommands, ResultsComeAfterAReplyDelayAndLinesWithoutAtAreIgnored) {
  SimHost host(Rockwell, {"ATE0"});
  host.Send("AT\r");
  EXPECT_EQ(host.ReadFor(SimModem::kReplyDelayMs - 1), "");
  EXPECT_EQ(host.ReadFor(1), kOk);
  // Lower case, spaces and a backspace are taken as modems take them; V0 gives codes.
  Exchange(host, {{"hello", ""}, {"", ""}, {"at e0 v1", kOk}, {"ATX\bE0", kOk}, {"ATV0", "0\r"}, {"ATQ9", "4\r"}});
}

TEST(SimCommands, OverlongAndMalformedLinesAnswerError) {
  SimHost host(Rockwell, {"ATE0"});
  // Commands run left to right and stop at the first bad one (E1 ran).
  Exchange(host, {{"AT" + std::string(300, 'E'), kError},
                  {"AT!", kError},
                  {"ATS999=1", kError},
                  {"ATS0=300", kError},
                  {"ATS0=2", kOk},
                  {"ATS0?", "\r\n002\r\n" + kOk},
                  {"ATE1Y7", kError},
                  {"AT", "AT\r" + kOk}});
}

class Dialects : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(AllSix, Dialects, ::testing::Values("rockwell", "is101", "usr", "cirrus", "sierra", "umc"),
                         [](const auto& info) { return info.param; });

TEST_P(Dialects, OwnCommandsAreAcceptedAsSpelledVoiceOnesInTheVoiceClassOnlyOthersNot) {
  ModemType d = ParseDialect(GetParam()).value();
  std::set<std::string> own;
  for (const DialectEntry& e : DialectCommands(d)) {
    using V = VoiceAction;
    own.insert(Spelled(e));
    // The class switch, flow control and silence detection settings are global.
    bool voice = e.action != V::EnterVoice && e.action != V::LeaveVoice && e.action != V::FlowControl &&
                 e.action != V::SilenceOn && e.action != V::SilenceOff && e.action != V::SilenceSensitivity &&
                 e.action != V::SilencePeriod;
    std::string result = e.action == V::SelectLocal || e.action == V::Answer ? VoiceConnectResult(d)
                         : e.action == V::Transmit || e.action == V::Receive ? "CONNECT"
                                                                             : "OK";
    SimHost host(d, {"ATE0"});
    EXPECT_EQ(host.Command(Spelled(e)), voice ? kError : kOk) << Spelled(e);
    host.Send("AT+FCLASS=8\r" + Spelled(e) + "\r");
    std::string replies = kOk + "\r\n" + result + "\r\n";
    EXPECT_EQ(host.ReadUntil(replies, 1000), replies) << Spelled(e);
  }
  SimHost host(d, {"ATE0", "AT+FCLASS=8"});
  // Dialects share some spellings, and real modems take some of another's.
  for (int other = 0; other < kModemTypes; ++other)
    for (const DialectEntry& e : DialectCommands(static_cast<ModemType>(other)))
      EXPECT_TRUE(own.count(Spelled(e)) || LookUpRealModemCommand(d, Spelled(e).substr(2)) ||
                  host.Command(Spelled(e)) == kError)
          << Spelled(e);
}

TEST(SimCommands, ScriptedRepliesOverrideACommandUntilSetBack) {
  SimHost host(Rockwell, {"ATE0"});
  ASSERT_EQ(host.Scenario("reply AT#CLS=8 ERROR\nreply AT&K3 silence"), "");
  Exchange(host, {{"AT#CLS=8", kError}, {"AT&K3", ""}, {"AT+FCLASS?", "\r\n0\r\n" + kOk}});
  ASSERT_EQ(host.Scenario("reply at#cls=8 default"), "");
  Exchange(host, {{"AT#CLS=8", kOk}, {"AT+FCLASS?", "\r\n8\r\n" + kOk}});
}

TEST(SimRings, RingLinesComeSixSecondsApartOrAsToldAndStopWhenUnanswered) {
  const std::pair<const char*, std::vector<uint64_t>> cases[] = {{"after 1s ring 3", {1000, 7000, 13000}},
                                                                 {"ring 2 every 13s", {0, 13000}}};
  for (auto [scenario, times] : cases) {
    SimHost host(Rockwell, {"ATE0"});
    ASSERT_EQ(host.Scenario(scenario), "");
    uint64_t start = host.Modem().Now();
    EXPECT_EQ(host.ReadFor(60000).size(), times.size() * 8);  // "\r\nRING\r\n" each
    for (uint64_t& t : times) t += start;
    EXPECT_EQ(host.Times("ring"), times) << scenario;
    EXPECT_EQ(host.Log().Texts("call-end"), Strings{"not answered"});
  }
}

TEST(SimRings, AnsweringInVoiceGivesVconAndStopsTheRingsADataAnswerFailsOrAKeyAbortsIt) {
  const std::tuple<const char*, uint32_t, const char*, const char*> cases[] = {
      {"AT#CLS=8", 0, "", "\r\nVCON\r\n"},  // a voice caller: no modem at the far end
      {"AT", SimModem::kDataAnswerMs - 10, "", "\r\nNO CARRIER\r\n"},
      {"AT", 500, "A", "\r\nNO CARRIER\r\n"}};
  for (const auto& [voiceClass, wait, key, result] : cases) {
    SimHost host(Rockwell, {"ATE0", voiceClass});
    ASSERT_EQ(host.Scenario("ring 5"), "");
    host.Send("ATA\r");
    EXPECT_EQ(host.ReadFor(wait), "\r\nRING\r\n");
    host.Send(key);
    EXPECT_EQ(host.ReadFor(20), result);
    EXPECT_EQ(host.Modem().OffHook(), result == std::string("\r\nVCON\r\n"));
    EXPECT_EQ(host.ReadFor(20000), "");  // no more rings
  }
}

TEST(SimOpener, OpensOneHandleAtATimeAndClosingItDropsDtr) {
  telvara::testing::SimLine line(Rockwell);
  PortOpener open = MakeSimPortOpener(line.Stream(), {3});
  PortOpenResult first = open(2, 115200);
  ASSERT_TRUE(first.stream);
  EXPECT_EQ(open(3, 115200).error, "cannot open COM3 (simulated): No such file or directory");
  EXPECT_EQ(open(2, 115200).error, "cannot open COM2 (simulated): Device or resource busy");
  EXPECT_EQ(first.stream->Write("ATH1\r", 5), 5);
  EXPECT_TRUE(line.Modem().OffHook());
  first.stream.reset();
  EXPECT_FALSE(line.Modem().Dtr());
  EXPECT_FALSE(line.Modem().OffHook());  // &D2: the close hung up
  PortOpenResult again = open(2, 115200);
  EXPECT_TRUE(again.stream && line.Modem().Dtr());
}

TEST(SimTranscript, LinesAreJsonWithTimesAndEscapedBytes) {
  SimHost host(Rockwell);
  host.RunFor(250);
  host.Command("AT\"\x01");
  Strings json;
  for (const TranscriptEntry& e : host.Log().Entries()) json.push_back(e.json);
  EXPECT_EQ(json, (Strings{"{\"t\":0,\"kind\":\"start\",\"text\":\"Rockwell\",\"rate\":7200}",
                           "{\"t\":250,\"kind\":\"command\",\"text\":\"AT\\\"\\u0001\"}",
                           "{\"t\":258,\"kind\":\"result\",\"text\":\"ERROR\"}"}));
  EXPECT_EQ(JsonString(std::string("\xff\\", 2)), "\"\\u00ff\\\\\"");
}

// A far end's voice: loud, and with 0x10 among its samples.
std::shared_ptr<const std::vector<uint8_t>> Tone(size_t n) {
  auto v = std::make_shared<std::vector<uint8_t>>(n);
  for (size_t i = 0; i < n; ++i) (*v)[i] = static_cast<uint8_t>(i % 3 ? 0x10 : 0xf0 - i % 7);
  return v;
}

// Voice class, off hook on an answered call, the far end saying `voice`.
void Answered(SimHost& host, std::shared_ptr<const std::vector<uint8_t>> voice = nullptr) {
  host.Modem().SetVoice(std::move(voice), "test");
  host.Modem().Ring(1);
  Exchange(host, {{"ATE0", "\r\nRING\r\nATE0\r" + kOk}, {"AT+FCLASS=8", kOk}, {"ATA", "\r\nVCON\r\n"}});
}

TEST_P(Dialects, TransmitPlaysAtTheLineRateThroughABoundedBufferThatTheQueueCountShows) {
  ModemType d = ParseDialect(GetParam()).value();
  SimHost host(d, {"ATE0", "AT+FCLASS=8"});
  std::vector<DialectEntry> table = DialectCommands(d);
  auto transmit = std::ranges::find(table, VoiceAction::Transmit, &DialectEntry::action);
  ASSERT_EQ(host.Command(Spelled(*transmit)), "\r\nCONNECT\r\n");
  auto samples = Tone(static_cast<size_t>(LineRate(d)) * 2);  // two seconds
  std::string wire;
  for (uint8_t s : *samples) wire.append(s == kDLE ? 2 : 1, static_cast<char>(s));  // shielded
  // The first write only fills the buffer: flow control holds the rest back.
  uint32_t start = host.Now();
  long first = host.Stream().Write(wire.data(), wire.size());
  EXPECT_EQ(host.Stream().OutputQueued(), static_cast<int>(VoiceTransmit::kCapacity));
  EXPECT_FALSE(host.Stream().Ready(WaitFor::OutputRoom));
  host.RunFor(100);
  EXPECT_EQ(host.Stream().OutputQueued(), int(VoiceTransmit::kCapacity) - LineRate(d) / 10);
  host.Send(wire.substr(static_cast<size_t>(first)) + kEnd);
  std::string end = std::string("\r\n") + VoiceConnectResult(d) + "\r\n";
  EXPECT_EQ(host.ReadUntil(end, 5000), end);
  EXPECT_NEAR(static_cast<double>(host.Now() - start), 2000.0 + SimModem::kReplyDelayMs, 20.0);
  const VoicePhase& p = host.Modem().Phases().at(0);
  EXPECT_EQ(p.samples, *samples);  // DLE DLE arrived as one 0x10
  EXPECT_EQ(std::tie(p.rate, p.underruns, p.endedBy), std::make_tuple(LineRate(d), 0, PhaseEnd::Etx));
}

TEST(SimTransmitEnd, AFormatCommandThatNamesARateSetsTheLineRateUntilAndF) {
  SimHost host(IS_101, {"ATE0", "AT+FCLASS=8", "AT+VSM=0,9600"});
  ASSERT_EQ(host.Command("AT+VTX"), "\r\nCONNECT\r\n");
  uint32_t start = host.Now();
  host.Send(std::string(960, 'a') + kEnd);
  EXPECT_EQ(host.ReadUntil(kOk, 1000), kOk);
  EXPECT_NEAR(host.Now() - start, 100 + SimModem::kReplyDelayMs, 2);  // 960 samples at 9600
  EXPECT_EQ(host.Modem().Phases().at(0).rate, 9600);
  host.Command("AT&F");
  EXPECT_EQ(host.Modem().Rate(), LineRate(IS_101));
}

TEST(SimTransmitEnd, CommandsBehindTheEndWaitForThePlayOutAndGapsAreCounted) {
  SimHost host(IS_101, {"ATE0", "AT+FCLASS=8", "AT+VTX"});
  host.Send(std::string(720, 'a'));  // 100 ms
  host.RunFor(300);                  // the line runs dry for 200 ms
  host.Send(std::string(720, 'b') + kEnd + "ATE1\rAT\r");
  EXPECT_EQ(host.ReadFor(100 + SimModem::kReplyDelayMs - 1), "");
  EXPECT_EQ(host.ReadFor(1), kOk + kOk + "AT\r" + kOk);
  const VoicePhase& p = host.Modem().Phases().at(0);
  EXPECT_EQ(std::tie(p.sampleCount, p.underruns, p.longestGap), std::make_tuple(1440, 1, 200));
}

TEST(SimTransmitEnd, KeysReachTheHostAtOnceWhilePlaying) {
  SimHost host(Rockwell);
  Answered(host);
  ASSERT_EQ(host.Scenario("wait play\nafter 700ms key 5"), "");
  host.Send("AT#VTX\r" + std::string(VoiceTransmit::kCapacity, 'x'));
  EXPECT_EQ(host.ReadUntil("\x10"
                           "5",
                           5000),
            "\r\nCONNECT\r\n\x10"
            "5");
  EXPECT_EQ(host.Modem().Now() - host.Modem().SignalTime(SimSignal::Play), 700u);
}

TEST(SimDtr, DroppingItEndsAPhaseWithoutItsResultAndHangsUpWithAndD2Only) {
  SimHost host(Rockwell, {"ATE0", "AT#CLS=8", "ATH1", "AT#VTX"});
  host.Send(std::string(1500, 'x'));
  host.RunFor(100);
  host.Stream().SetDtr(false);
  EXPECT_EQ(host.ReadFor(100), kOk);  // the hang-up's, no VCON
  EXPECT_FALSE(host.Modem().OffHook());
  EXPECT_TRUE(host.Logged("\"samples\":720,\"ms\":1100,\"underruns\":0,\"longestGapMs\":0,\"endedBy\":\"dtr\""));
  host.Stream().SetDtr(true);
  Exchange(host, {{"AT&D0", kOk}, {"ATH1", kOk}});  // back in command state
  host.Stream().SetDtr(false);
  EXPECT_TRUE(host.Modem().OffHook());
}

TEST(SimReceive, StreamsTheFarEndShieldedAtTheRateWithKeysInlineAndEndsOnCancel) {
  SimHost host(Rockwell);
  auto voice = Tone(7200 * 3);
  Answered(host, voice);
  ASSERT_EQ(host.Scenario("wait record\nafter 508ms key 1#"), "");
  host.Send("AT#VRX\r");
  ASSERT_EQ(host.ReadUntil("CONNECT\r\n", 100), "\r\nCONNECT\r\n");
  std::string wire, events;
  for (int block = 1; block <= 50; ++block) {
    wire += host.ReadFor(VoiceReceive::kBlockMs);
    EXPECT_EQ(Unshield(wire).size(), 144u * block) << "block " << block;
  }
  // The key pressed 500 ms into the samples sits there.
  EXPECT_EQ(Unshield(wire.substr(0, wire.find("\x10"
                                              "1")))
                .size(),
            3600u);
  // Cancel: the samples still due, then DLE ETX and the result.
  host.RunFor(10);
  host.Send(std::string(1, static_cast<char>(kCAN)));
  std::string tail = host.ReadFor(50), end = kEnd + "\r\nVCON\r\n";
  ASSERT_EQ(tail.substr(tail.size() - end.size()), end);
  std::string all = Unshield(wire + tail.substr(0, tail.size() - end.size()), &events);
  EXPECT_EQ(all, std::string(voice->begin(), voice->begin() + 7272));
  EXPECT_EQ(events, "1#");
  EXPECT_TRUE(host.Logged("\"endedBy\":\"cancel\""));
}

// The events of a receive phase with a 3 s silence period, read in slices of the times.
Strings ReceiveEvents(SimHost& host, std::vector<uint32_t> slices) {
  host.Send("AT#VSD=1#VSS=2#VSP=30\rAT#VRX\r");
  host.ReadUntil("CONNECT\r\n", 100);
  Strings events(slices.size());
  for (size_t i = 0; i < slices.size(); ++i) Unshield(host.ReadFor(slices[i]), &events[i]);
  return events;
}

TEST(SimReceive, SilenceReportsSForNoVoiceAndQForVoiceThenSilence) {
  SimHost host(Rockwell);
  Answered(host, Tone(7200));
  // One second of voice, then three of silence: q, once.
  EXPECT_EQ(ReceiveEvents(host, {3900, 200, 6000}), (Strings{"", "q", ""}));
}

TEST(SimReceive, AFarEndThatHangsUpGoesSilentAndTheBusyToneRepeats) {
  SimHost host(Rockwell);
  Answered(host, Tone(7200 * 20));
  ASSERT_EQ(host.Scenario("wait record\nafter 1s hangup"), "");
  // 'b' 2 s after the hang-up and every 4 s; 'q' 3 s after the voice (it went silent).
  EXPECT_EQ(ReceiveEvents(host, {2900, 200, 1000, 3000}), (Strings{"", "b", "q", "b"}));
}

TEST(SimReceive, OutputForAHostThatStopsReadingIsBounded) {
  SimHost host(Rockwell, {"ATE0", "AT#CLS=8"});
  host.Send("AT#VRX\r");
  host.RunFor(200000);  // 1.44 MB of samples due
  EXPECT_LE(host.Modem().HostReadable(), SimModem::kOutputLimit);
  EXPECT_EQ(host.Log().Texts("overrun").size(), 1u);
}

TEST(SimDial, OutcomesFollowTheScenarioOrByDefaultVoiceIsAnsweredAndDataNot) {
  SimHost host(IS_101, {"ATE0"});
  ASSERT_EQ(host.Scenario("dial-result BUSY in 2s\ndial-result NO ANSWER\ndial-result silence"), "");
  host.Send("ATDT 555-1234\r");
  EXPECT_EQ(host.ReadFor(2000), "\r\nBUSY\r\n");
  host.Send("ATDT5551234\r");
  EXPECT_EQ(host.ReadFor(SimModem::kDialDelayMs), "\r\nNO ANSWER\r\n");
  // No reply at all: the first byte of the next command aborts the dial.
  host.Send("ATDT5551234\r");
  EXPECT_EQ(host.ReadFor(140000), "");
  EXPECT_EQ(host.Command("ATH0"), "\r\nNO CARRIER\r\n");
  EXPECT_EQ(host.Log().Texts("dial"), (Strings{"5551234", "5551234", "5551234"}));
  // By default a data dial gets NO CARRIER; a voice dial is answered, and hears keys.
  host.Send("ATDT123\r");
  EXPECT_EQ(host.ReadFor(SimModem::kDialDelayMs), "\r\nNO CARRIER\r\n");
  host.Send("AT+FCLASS=8\rATDT123\r");
  EXPECT_EQ(host.ReadFor(SimModem::kDialDelayMs + SimModem::kReplyDelayMs), kOk + kOk);
  ASSERT_EQ(host.Scenario("key 857"), "");
  EXPECT_EQ(host.ReadFor(1000),
            "\x10"
            "8\x10"
            "5\x10"
            "7");
}

}  // namespace
}  // namespace telvara::sim
