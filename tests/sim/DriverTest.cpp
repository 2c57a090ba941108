// The real modem driver against the in-process simulator, in every dialect: start-up,
// answering, line selection, beep, play, record, hang-up and dialling, all on the
// virtual clock. What the driver sends must be what the simulated modem understands.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "SimHost.h"
#include "WavData.h"
#include "modem/FMODEM.h"

namespace telvara::sim {
namespace {

using testing::SimHost;

std::vector<uint8_t> ReadSamples(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  if (bytes.size() < 44) return {};
  return std::vector<uint8_t>(bytes.begin() + 44, bytes.end());
}

class DriverOnSim : public ::testing::TestWithParam<Dialect> {
 protected:
  testing::ScratchDir scratch_;
  const std::string& dir_ = scratch_.Path();
};

TEST_P(DriverOnSim, StartsAnswersPlaysRecordsAndHangsUp) {
  Dialect d = GetParam();
  SimHost host(d);
  FMODEM modem(MakeSimPortOpener(host.Stream(), {3}));
  EXPECT_EQ(modem.OpenComm(3, 1152), 0);
  ASSERT_EQ(modem.OpenComm(2, 1152), 1) << modem.OpenError();

  // Start-up.
  EXPECT_EQ(modem.SendCommand("AT&F&C1&D2"), ResultOk);
  EXPECT_EQ(modem.SendCommand("ATE0V1"), ResultOk);
  EXPECT_EQ(modem.SetModemType(static_cast<uint32_t>(d)), 1);
  EXPECT_EQ(modem.SetVoiceMode(), ResultOk);
  EXPECT_EQ(modem.SetFlowControl(), 1);
  EXPECT_EQ(modem.SendCommand("AT+FCLASS=0"), ResultOk);

  // A caller who talks for two seconds.
  std::vector<uint8_t> voice;
  for (int i = 0; i < 14400; ++i)
    voice.push_back(static_cast<uint8_t>(128 + 100 * std::sin(i * 0.11)));
  host.Modem().SetVoice(std::make_shared<const std::vector<uint8_t>>(voice), "test voice");
  ASSERT_EQ(host.Stream().AddScenario("ring 3"), "");
  EXPECT_EQ(modem.WaitResult("QQ", 1500), ResultRing);

  EXPECT_EQ(modem.SetVoiceMode(), ResultOk);
  EXPECT_EQ(modem.SetFlowControl(), 1);
  ASSERT_EQ(modem.Answer(), 1);
  EXPECT_EQ(host.Modem().SignalCount(SimSignal::Answer), 1u);
  bool silenceCommand = d != Dialect::Cirrus && d != Dialect::Sierra;
  if (silenceCommand) {
    EXPECT_EQ(modem.SetSilenceDetection(), 1);
  }
  for (int kind : {1, 2, 4}) EXPECT_EQ(modem.SelectLine(kind), 1) << "kind " << kind;
  bool kind3 = d == Dialect::Rockwell || d == Dialect::IS101 || d == Dialect::USRobotics;
  EXPECT_EQ(modem.SelectLine(3), kind3 ? 1 : 0);
  EXPECT_EQ(modem.SelectLine(0), 1);
  EXPECT_EQ(modem.Beep(), ResultOk);

  // Play: the line carries the file's samples, at its rate, without a gap.
  std::vector<uint8_t> prompt;
  for (int i = 0; i < 14400; ++i)
    prompt.push_back(i % 97 == 0 ? 0x10 : static_cast<uint8_t>(128 + 90 * std::cos(i * 0.07)));
  std::string error;
  ASSERT_TRUE(WriteWavFile(dir_ + "/prompt.wav", prompt, 7200, error)) << error;
  uint32_t start = host.Now();
  EXPECT_EQ(modem.PlayFile(dir_ + "/prompt.wav"), 1);
  ASSERT_EQ(host.Modem().Phases().size(), 1u);
  const VoicePhase& played = host.Modem().Phases()[0];
  EXPECT_EQ(played.samples, prompt);
  EXPECT_EQ(played.underruns, 0);
  EXPECT_EQ(played.endedBy, "etx");
  double seconds = 14400.0 / LineRate(d);
  EXPECT_NEAR((host.Now() - start) / 1000.0, seconds, 0.3);

  // Record: the file holds what the caller said, sample for sample; the silence after
  // it ends the recording.
  std::string recording = dir_ + "/message.wav";
  EXPECT_EQ(modem.RecordFile(recording), 1);
  std::vector<uint8_t> got = ReadSamples(recording);
  ASSERT_GE(got.size(), voice.size());
  EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + static_cast<long>(voice.size())),
            voice);
  EXPECT_EQ(host.Stream().GetTranscript().Texts("voice-rx-end").size(), 1u);

  EXPECT_EQ(modem.HangUp(), 1);
  EXPECT_FALSE(host.Modem().OffHook());
  EXPECT_EQ(modem.SendCommand("AT+FCLASS=0"), ResultOk);

  // Calling out: the far end picks up.
  EXPECT_EQ(modem.SetVoiceMode(), ResultOk);
  EXPECT_EQ(modem.SelectLine(0), 1);
  EXPECT_EQ(modem.Dial("5551234", 25000), 1);
  EXPECT_EQ(host.Stream().GetTranscript().Texts("dial").back(), "5551234");
  EXPECT_EQ(modem.HangUp(), 1);
  modem.CloseComm();
  EXPECT_FALSE(host.Modem().Dtr());
}

INSTANTIATE_TEST_SUITE_P(AllDialects, DriverOnSim,
                         ::testing::Values(Dialect::Rockwell, Dialect::IS101,
                                           Dialect::USRobotics, Dialect::Cirrus,
                                           Dialect::Sierra, Dialect::UMC),
                         [](const auto& info) {
                           std::string n = DialectName(info.param);
                           std::erase_if(n, [](char c) { return !std::isalnum(c); });
                           return n;
                         });

}  // namespace
}  // namespace telvara::sim
