// The simulated modem in-process on the virtual clock: the host's malformed lines, the
// transcript, the rate a format command names, and a bound on receive. (Its voice at
// the line's rate: the driver's tests and VoiceOnPty.)
#include <gtest/gtest.h>

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

TEST(SimTransmit, AFormatCommandThatNamesARateSetsTheLineRateUntilAndF) {
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
