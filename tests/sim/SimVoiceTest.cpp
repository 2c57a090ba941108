// The simulated modem's voice side in-process: transmit paced at the line's rate with
// real flow control, receive of the far end's samples with events, silence reports, a
// far end that hangs up, and dial outcomes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "SimHost.h"

namespace telvara::sim {
namespace {

using testing::SimHost;
using testing::Unshield;

constexpr char kDle = 0x10;
constexpr char kEtx = 0x03;
constexpr char kCan = 0x18;

// A test voice: a loud tone whose samples include 0x10 often.
std::shared_ptr<const std::vector<uint8_t>> Tone(size_t n) {
  auto v = std::make_shared<std::vector<uint8_t>>();
  for (size_t i = 0; i < n; ++i)
    v->push_back(static_cast<uint8_t>(128 + 112 * std::sin(static_cast<double>(i) * 0.3)));
  return v;
}

std::string Shield(const std::vector<uint8_t>& samples) {
  std::string wire;
  for (uint8_t s : samples) {
    wire += static_cast<char>(s);
    if (s == 0x10) wire += kDle;
  }
  return wire;
}

// Brings the modem into voice class, off hook on a connected call.
void ConnectCall(SimHost& host, const std::string& voiceCommand, const std::string& answer) {
  host.Command("ATE0");
  ASSERT_EQ(host.Command(voiceCommand), "\r\nOK\r\n");
  ASSERT_EQ(host.Stream().AddScenario("ring 3"), "");
  ASSERT_EQ(host.ReadUntil("RING\r\n", 1000), "\r\nRING\r\n");
  host.Command(answer);
  ASSERT_EQ(host.Modem().SignalCount(SimSignal::Connect), 1u);
}

struct RateCase {
  ModemType dialect;
  std::string voice, transmit, end;
  int rate;
};

TEST(SimTransmit, PlaysAtTheLineRateThroughABoundedBuffer) {
  const RateCase cases[] = {
      {Rockwell, "AT#CLS=8", "AT#VTX", "VCON", 7200},
      {USRobotics, "AT#CLS=8", "AT#VTX", "VCON", 8000},
      {IS_101, "AT+FCLASS=8", "AT+VTX", "OK", 7200},
      {Sierra, "AT+FCLASS=8", "AT#VSV", "VCON", 7200},
  };
  for (const RateCase& c : cases) {
    SCOPED_TRACE(DialectName(c.dialect));
    SimHost host(c.dialect);
    host.Command("ATE0");
    host.Command(c.voice);
    ASSERT_EQ(host.Command(c.transmit), "\r\nCONNECT\r\n");
    auto samples = Tone(static_cast<size_t>(c.rate) * 2);  // two seconds
    ASSERT_GT(std::count(samples->begin(), samples->end(), 0x10), 10);
    std::string wire = Shield(*samples) + kDle + kEtx;
    // The first write only fills the buffer: flow control holds the rest back.
    long first = host.Stream().Write(wire.data(), wire.size());
    EXPECT_GT(first, 0);
    EXPECT_LT(static_cast<size_t>(first), VoiceTransmit::kCapacity * 2);
    EXPECT_FALSE(host.Stream().Ready(WaitFor::OutputRoom));
    uint32_t start = host.Now();
    host.Send(wire.substr(static_cast<size_t>(first)));
    std::string end = host.ReadUntil("\r\n" + c.end + "\r\n", 5000);
    EXPECT_EQ(end, "\r\n" + c.end + "\r\n");
    uint32_t took = host.Now() - start;
    EXPECT_NEAR(static_cast<double>(took), 2000.0, 20.0);
    ASSERT_EQ(host.Modem().Phases().size(), 1u);
    const VoicePhase& p = host.Modem().Phases()[0];
    EXPECT_EQ(p.samples, *samples);  // DLE DLE arrived as one 0x10
    EXPECT_EQ(p.rate, c.rate);
    EXPECT_EQ(p.underruns, 0);
    EXPECT_EQ(p.endedBy, PhaseEnd::Etx);
    EXPECT_EQ(host.Modem().SignalCount(SimSignal::PlayEnd), 1u);
  }
}

TEST(SimTransmit, QueueCountIsTheBufferUnlessHiddenLikeAPty) {
  for (bool hide : {false, true}) {
    SimHost host(Rockwell, SimStreamOptions{hide});
    host.Command("ATE0");
    host.Command("AT#CLS=8");
    host.Command("AT#VTX");
    std::string block(1000, 'x');
    host.Send(block);
    EXPECT_EQ(host.Stream().OutputQueued(), hide ? 0 : 1000);
    host.Idle(100);  // 720 samples played
    EXPECT_EQ(host.Stream().OutputQueued(), hide ? 0 : 280);
  }
}

TEST(SimTransmit, CommandsBehindTheEndWaitForThePlayOutAndGapsAreCounted) {
  SimHost host(IS_101);
  host.Command("ATE0");
  host.Command("AT+FCLASS=8");
  host.Command("AT+VTX");
  host.Send(std::string(720, 'a'));  // 100 ms
  host.Idle(300);                    // the line runs dry for 200 ms
  uint32_t second = host.Now();
  host.Send(std::string(720, 'b') + kDle + kEtx + "ATE1\rAT\r");
  std::string got = host.ReadUntil("AT\r\r\nOK\r\n", 2000);
  EXPECT_EQ(got, "\r\nOK\r\n\r\nOK\r\nAT\r\r\nOK\r\n");
  EXPECT_NEAR(static_cast<double>(host.Now() - second), 100.0 + SimModem::kReplyDelayMs, 12.0);
  const VoicePhase& p = host.Modem().Phases().at(0);
  EXPECT_EQ(p.sampleCount, 1440u);
  EXPECT_EQ(p.underruns, 1);
  EXPECT_NEAR(static_cast<double>(p.longestGap), 200.0, 2.0);
  auto& t = host.Stream().GetTranscript();
  EXPECT_EQ(t.Texts("etx-received").size(), 1u);
  EXPECT_EQ(t.Texts("voice-tx-end").size(), 1u);
}

TEST(SimTransmit, KeysReachTheHostAtOnceWhilePlaying) {
  SimHost host(Rockwell);
  ConnectCall(host, "AT#CLS=8", "ATA");
  ASSERT_EQ(host.Stream().AddScenario("wait play\nafter 700ms key 5"), "");
  host.Send("AT#VTX\r");
  ASSERT_EQ(host.ReadUntil("CONNECT\r\n", 100), "\r\nCONNECT\r\n");
  host.Send(std::string(2000, 'x'));
  uint32_t start = host.Now();
  std::string got = host.ReadUntil(std::string({kDle, '5'}), 5000);
  EXPECT_EQ(got, std::string({kDle, '5'}));
  EXPECT_NEAR(static_cast<double>(host.Now() - start), 700.0, 15.0);
}

TEST(SimTransmit, DtrDropEndsThePhaseWithoutAResult) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  host.Command("AT#CLS=8");
  host.Command("AT#VTX");
  host.Send(std::string(1500, 'x'));
  host.Idle(100);
  host.Stream().SetDtr(false);
  const VoicePhase& p = host.Modem().Phases().at(0);
  EXPECT_EQ(p.endedBy, PhaseEnd::Dtr);
  EXPECT_EQ(p.sampleCount, 720u);
  EXPECT_EQ(host.ReadFor(100), "\r\nOK\r\n");
  host.Stream().SetDtr(true);
  EXPECT_EQ(host.Command("AT"), "\r\nOK\r\n");  // back in command state
}

TEST(SimReceive, StreamsTheFarEndShieldedAtTheRateAndEndsOnCancel) {
  SimHost host(Rockwell);
  auto voice = Tone(7200 * 3);
  host.Modem().SetVoice(voice, "tone");
  ConnectCall(host, "AT#CLS=8", "ATA");
  host.Send("AT#VRX\r");
  ASSERT_EQ(host.ReadUntil("CONNECT\r\n", 100), "\r\nCONNECT\r\n");
  uint32_t start = host.Now();
  std::string wire;
  size_t lastSize = 0;
  uint32_t longestPause = 0, lastArrival = start;
  while (host.Now() - start < 1000) {
    wire += host.ReadFor(1);
    if (wire.size() != lastSize) {
      longestPause = std::max(longestPause, host.Now() - lastArrival);
      lastArrival = host.Now();
      lastSize = wire.size();
    }
  }
  EXPECT_LE(longestPause, VoiceReceive::kBlockMs + 1);
  std::string samples = Unshield(wire);
  EXPECT_NEAR(static_cast<double>(samples.size()), 7200.0, 7200.0 * 0.03);
  EXPECT_EQ(samples, std::string(voice->begin(), voice->begin() + static_cast<long>(samples.size())));
  // Cancel: the samples still due, then DLE ETX and the result.
  host.Idle(10);
  host.Send(std::string(1, kCan));
  std::string tail = host.ReadFor(50);
  std::string tailSamples = tail.substr(0, tail.find(std::string({kDle, kEtx})));
  EXPECT_EQ(tail.substr(tailSamples.size()), std::string({kDle, kEtx}) + "\r\nVCON\r\n");
  std::string all = samples + Unshield(tailSamples);
  EXPECT_EQ(all, std::string(voice->begin(), voice->begin() + static_cast<long>(all.size())));
  const VoicePhase& p = host.Modem().Phases().at(0);
  EXPECT_EQ(p.sampleCount, all.size());
  EXPECT_EQ(p.endedBy, PhaseEnd::Cancel);
}

TEST(SimReceive, KeysArriveInlineWhereTheyWerePressed) {
  SimHost host(IS_101);
  ConnectCall(host, "AT+FCLASS=8", "AT+VLS=1");
  ASSERT_EQ(host.Stream().AddScenario("wait record\nafter 500ms key 1#"), "");
  host.Send("AT+VRX\r");
  host.ReadUntil("CONNECT\r\n", 100);
  std::string wire = host.ReadFor(1000);
  std::string events;
  size_t key = wire.find(std::string({kDle, '1'}));
  ASSERT_NE(key, std::string::npos);
  std::string before = Unshield(wire.substr(0, key));
  EXPECT_NEAR(static_cast<double>(before.size()), 3600.0, 80.0);
  Unshield(wire, &events);
  EXPECT_EQ(events, "1#");
  host.Send(std::string(1, kCan));
  EXPECT_NE(host.ReadFor(50).find(std::string({kDle, kEtx}) + "\r\nOK\r\n"), std::string::npos);
}

TEST(SimReceive, SilenceReportsSForNoVoiceAndQForVoiceThenSilence) {
  SimHost host(Rockwell);
  host.Modem().SetVoice(Tone(7200), "one second");
  ConnectCall(host, "AT#CLS=8", "ATA");
  host.Command("AT#VSD=1#VSS=2#VSP=30");
  host.Send("AT#VRX\r");
  host.ReadUntil("CONNECT\r\n", 100);
  std::string events;
  Unshield(host.ReadFor(3900), &events);
  EXPECT_EQ(events, "");  // one second of voice, then under three seconds of silence
  Unshield(host.ReadFor(200), &events);
  EXPECT_EQ(events, "q");
  Unshield(host.ReadFor(6000), &events);
  EXPECT_EQ(events, "qss");
  host.Send(std::string(1, kCan));
  host.ReadFor(50);

  // A second phase keeps the period; commands sent while receiving are only data.
  host.Modem().SetVoice(nullptr, "");
  host.Send("AT#VRX\r");
  host.ReadUntil("CONNECT\r\n", 100);
  host.Command("AT#VSD=0");  // ignored while receiving: commands are data now
  events.clear();
  Unshield(host.ReadFor(3100), &events);
  EXPECT_EQ(events, "s");
}

TEST(SimReceive, AFarEndThatHangsUpGoesSilentAndBusyToneRepeats) {
  SimHost host(Rockwell);
  host.Modem().SetVoice(Tone(7200 * 20), "long");
  ConnectCall(host, "AT#CLS=8", "ATA");
  host.Command("AT#VSD=1#VSS=2#VSP=30");
  ASSERT_EQ(host.Stream().AddScenario("wait record\nafter 1s hangup"), "");
  host.Send("AT#VRX\r");
  host.ReadUntil("CONNECT\r\n", 100);
  std::string events;
  std::string samples = Unshield(host.ReadFor(2000), &events);
  // Voice for one second, then the quiet line.
  ASSERT_GT(samples.size(), 14000u);
  EXPECT_EQ(samples.substr(7300, 100), std::string(100, '\x80'));
  EXPECT_NE(samples.substr(7000, 100), std::string(100, '\x80'));
  Unshield(host.ReadFor(7100), &events);
  // 'b' 2 s after the hang-up and every 4 s; 'q' 3 s after the voice, then 's'.
  EXPECT_EQ(events, "bqbs");
  host.Send(std::string(1, kCan));
  host.ReadFor(50);
  EXPECT_EQ(host.Command("ATH"), "\r\nOK\r\n");
  host.ReadFor(10000);
  EXPECT_EQ(host.Stream().GetTranscript().Texts("call-end").size(), 1u);
}

TEST(SimReceive, OutputForAHostThatStopsReadingIsBounded) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  host.Command("AT#CLS=8");
  host.Send("AT#VRX\r");
  host.Idle(200000);  // 1.44 MB of samples due
  EXPECT_LE(host.Modem().HostReadable(), SimModem::kOutputLimit);
  EXPECT_EQ(host.Stream().GetTranscript().Texts("overrun").size(), 1u);
}

TEST(SimDial, OutcomesFollowTheScenario) {
  SimHost host(Rockwell);
  host.Command("ATE0");
  host.Command("AT#CLS=8");
  ASSERT_EQ(host.Stream().AddScenario(
                "dial-result BUSY in 2s\ndial-result NO ANSWER\ndial-result silence"),
            "");
  uint32_t start = host.Now();
  host.Send("ATDT 5551234\r");
  EXPECT_EQ(host.ReadUntil("\r\n", 5000), "\r\nBUSY\r\n");
  EXPECT_EQ(host.Now() - start, 2000u);
  EXPECT_FALSE(host.Modem().OffHook());
  host.Send("ATDT5551234\r");
  EXPECT_EQ(host.ReadFor(SimModem::kDialDelayMs + 10), "\r\nNO ANSWER\r\n");
  // No reply at all: the first byte of the next command aborts the dial.
  host.Send("ATDT5551234\r");
  EXPECT_EQ(host.ReadFor(140000), "");
  EXPECT_TRUE(host.Modem().OffHook());
  EXPECT_EQ(host.Command("ATH0"), "\r\nNO CARRIER\r\n");
  EXPECT_FALSE(host.Modem().OffHook());
  // Then the default: the far end picks up.
  host.Send("ATDT5551234\r");
  EXPECT_EQ(host.ReadFor(SimModem::kDialDelayMs + 10), "\r\nVCON\r\n");
  EXPECT_TRUE(host.Modem().OffHook());
  EXPECT_EQ(host.Stream().GetTranscript().Texts("dial").at(0), "5551234");
  EXPECT_EQ(host.Modem().SignalCount(SimSignal::Connect), 1u);
}

TEST(SimDial, IS101SaysOkAndDataClassGetsNoCarrier) {
  SimHost host(IS_101);
  host.Command("ATE0");
  host.Command("ATDT123");
  EXPECT_EQ(host.ReadFor(SimModem::kDialDelayMs), "\r\nNO CARRIER\r\n");
  host.Command("AT+FCLASS=8");
  host.Command("AT+VLS=1");
  host.Send("ATDT123\r");
  EXPECT_EQ(host.ReadFor(SimModem::kDialDelayMs + 10), "\r\nOK\r\n");
  // The callee presses keys: they come as events in voice command state.
  ASSERT_EQ(host.Stream().AddScenario("key 857"), "");
  std::string events;
  Unshield(host.ReadFor(1000), &events);
  EXPECT_EQ(events, "857");
}

}  // namespace
}  // namespace telvara::sim
