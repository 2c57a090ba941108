// The simulated modem in-process on the virtual clock: the host's malformed lines, the
// transcript, the format commands, and a bound on receive. (Its voice at
// the line's rate: the driver's tests and VoiceOnPty.)
#include <gtest/gtest.h>

#include <cmath>

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

TEST(SimFormats, ARateOrACodingChangesTheLineAndWhatItCannotCodeIsRefused) {
  SimHost host(IS_101, {"ATE0", "AT+FCLASS=8"});
  Exchange(host, {{"AT+VSM=2,7200", kError}, {"AT+VSM=0,9600", kError}, {"AT+VSM=0,8000", kOk}});
  ASSERT_EQ(host.Command("AT+VTX"), "\r\nCONNECT\r\n");
  uint32_t start = host.Now();
  host.Send(std::string(800, 'a') + kEnd);
  EXPECT_EQ(host.ReadUntil(kOk, 1000), kOk);
  EXPECT_NEAR(host.Now() - start, 100 + SimModem::kReplyDelayMs, 2);  // 800 samples at 8000
  host.Command("AT&F");
  EXPECT_EQ(host.Modem().Rate(), LineRate(IS_101));
}

// US Robotics' ADPCM: two samples a byte each way, so a second of voice is 4000 bytes.
TEST(SimFormats, ADPCMCarriesTheVoiceAtHalfAByteASample) {
  SimHost host(USRobotics, {"ATE0", "AT#CLS=8", "AT#VLS=1"});
  Exchange(host, {{"AT#VSM=129,8000#VBS=3", kError}, {"AT#VSM=129,8000#VBS=4", kOk}});
  std::vector<uint8_t> tone(8000);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<uint8_t>(128 + 60 * std::sin(i * 0.3));
  auto near = [&](const std::vector<uint8_t>& got) {
    EXPECT_GE(got.size(), 7800u);
    int worst = 0;
    for (size_t i = 200; i < std::min(got.size(), tone.size()); ++i)
      worst = std::max(worst, std::abs(got[i] - tone[i]));
    EXPECT_LT(worst, 12);
  };
  host.Modem().SetVoice(std::make_shared<std::vector<uint8_t>>(tone), "tone");
  host.Send("AT#VRX\r");
  std::string got = host.ReadFor(1000);
  ASSERT_EQ(got.substr(0, 11), "\r\nCONNECT\r\n");
  std::vector<uint8_t> heard;
  LineDecoder decoder(VoiceCoding::G721);
  DleDecoder dle;
  for (size_t i = 11; i < got.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(got[i]);
    if (dle.Feed(b) == DleDecoder::Kind::Data) decoder.Put(b, heard);
  }
  near(heard);
  host.Send(std::string(1, static_cast<char>(kCAN)));
  host.ReadFor(100);

  std::string coded, sent;
  LineEncoder encoder(VoiceCoding::G721);
  for (uint8_t s : tone) encoder.Put(s, coded);
  AppendShielded(reinterpret_cast<const uint8_t*>(coded.data()), coded.size(), sent);
  ASSERT_EQ(host.Command("AT#VTX"), "\r\nCONNECT\r\n");
  uint32_t start = host.Now();
  host.Send(sent + kEnd);
  host.ReadUntil("VCON", 3000);
  EXPECT_NEAR(host.Now() - start, 1000 + SimModem::kReplyDelayMs, 20);
  near(host.Modem().Phases().back().samples);
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
