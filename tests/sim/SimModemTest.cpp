// The simulated modem in-process on the virtual clock: the host's malformed lines, the
// port opener, the transcript, voice transmit at the line's rate and a bound on receive.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "SimHost.h"

namespace telvara::sim {
namespace {

using testing::SimHost;
using Strings = std::vector<std::string>;

const std::string kEnd = {static_cast<char>(kDLE), static_cast<char>(kETX)};

// Sends each command line and expects the reply beside it.
void Exchange(SimHost& host, const std::vector<std::pair<std::string, std::string>>& exchanges) {
  for (const auto& [line, reply] : exchanges) EXPECT_EQ(host.Command(line), reply) << line;
}
const std::string kOk = "\r\nOK\r\n", kError = "\r\nERROR\r\n";

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

TEST(SimTransmit, PlaysAtTheLineRateThroughABoundedBufferThatTheQueueCountShows) {
  const ModemType d = USRobotics;
  SimHost host(d, {"ATE0", "AT+FCLASS=8"});
  ASSERT_EQ(host.Command("AT#VTX"), "\r\nCONNECT\r\n");
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

TEST(SimReceive, OutputForAHostThatStopsReadingIsBounded) {
  SimHost host(Rockwell, {"ATE0", "AT#CLS=8"});
  host.Send("AT#VRX\r");
  host.RunFor(200000);  // 1.44 MB of samples due
  EXPECT_LE(host.Modem().HostReadable(), SimModem::kOutputLimit);
  EXPECT_EQ(host.Log().Texts("overrun").size(), 1u);
}

}  // namespace
}  // namespace telvara::sim
