// Voice play and record on a call on the simulated line.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "SimLine.h"
#include "WavData.h"
#include "modem/FWAVE.h"

namespace telvara::testing {
namespace {

using Strings = std::vector<std::string>;
const std::string kPlay = "AT#BDR=48#VBS=8#VSR=7200\rAT#VTX\r";  // on the wire

std::string WavFile(SimLine& line, const std::vector<uint8_t>& samples) {
  static int files = 0;
  std::string path = line.Path(std::to_string(++files) + ".wav"), error;
  EXPECT_TRUE(sim::WriteWavFile(path, samples, 7200, error)) << error;
  return path;
}

struct Stream : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(line.Open() && line.Call()); }
  void Caller(std::size_t samples) {
    voice_ = Samples(samples, 3);
    line.Modem().SetVoice(std::make_shared<std::vector<uint8_t>>(voice_), "caller");
  }
  void Scenario(const std::string& steps) { ASSERT_EQ(line.Stream().AddScenario(steps), ""); }
  // A modem that answers the receive command with CONNECT and then `bytes`.
  void Receives(const std::string& bytes) { line.Modem().SetReply("AT#VRX", "CONNECT\r\n" + bytes); }
  // The samples of a recording; its header true to the file and to the driver's count.
  std::vector<uint8_t> Recorded(const std::string& path) {
    std::vector<uint8_t> b = ReadFileBytes(path);
    if (b.size() < 44) return {};
    uint32_t length = U32(b, 40);
    EXPECT_EQ(U32(b, 4), b.size() - 8);
    EXPECT_TRUE(b.size() == 44 + length || (length % 2 && b.size() == 45 + length && b.back() == 0)) << b.size();
    EXPECT_EQ(line.Driver().GetWave()->GetDataLength(), static_cast<int>(length));
    EXPECT_TRUE(std::equal(b.begin() + 44, b.begin() + 44 + std::min<long>(length, voice_.size()), voice_.begin()));
    return std::vector<uint8_t>(b.begin() + 44, b.begin() + 44 + std::min<std::size_t>(length, b.size() - 44));
  }

  SimLine line{Rockwell};
  FMODEM& modem = line.Driver();
  std::vector<uint8_t> voice_;
};

TEST_F(Stream, PlaySendsTheSamplesAfterTheHeaderWithEachDleDoubledThenOneEndMark) {
  std::vector<uint8_t> samples = Samples(3000);
  std::string path = WavFile(line, samples), wire = kPlay;
  for (uint8_t s : samples) wire += s == kDLE ? std::string(2, char(kDLE)) : std::string(1, char(s));
  std::size_t before = line.Port().Wire().size();
  EXPECT_EQ(modem.PlayFile(path), 1);
  EXPECT_EQ(line.Port().Wire().substr(before), wire + "\x10\x03");
  EXPECT_EQ(*sim::LoadWavSamples(path).samples, samples);  // untouched
}

// Cirrus runs its line at 9600: a 7200 file is converted, keeping its length and pitch.
TEST(StreamRate, AFileAtAnotherRateThanTheLinesIsConverted) {
  SimLine line{Cirrus};
  ASSERT_TRUE(line.Open() && line.Call());
  std::vector<uint8_t> ramp(7200);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(20 + i * 200 / 7200);
  EXPECT_EQ(line.Driver().PlayFile(WavFile(line, ramp)), 1);
  std::vector<uint8_t> played = line.Played().at(0);
  EXPECT_NEAR(played.size(), 9600, 2);
  for (size_t i = 0; i < played.size(); i += 97) EXPECT_NEAR(played[i], 20 + i * 200 / 9600, 1) << i;
}

TEST_F(Stream, AFileOfOnlyAHeaderOrMissingPlaysNothingAndARefusedTransmitSendsNothing) {
  std::ofstream(line.Path("tiny.wav")) << "RIFF";
  ASSERT_EQ(modem.BeginPlay(), 1);
  EXPECT_EQ(modem.StreamFile(WavFile(line, {})) + modem.StreamFile(line.Path("tiny.wav")), 2);
  EXPECT_EQ(modem.StreamFile(line.Path("missing.wav")), 0);
  EXPECT_EQ(modem.EndPlay(), 1);
  EXPECT_EQ(modem.PlayFile(line.Path("missing.wav")), 1);  // and still ends voice transmit
  EXPECT_EQ(line.Played(), (std::vector<std::vector<uint8_t>>{{}, {}}));
  line.Modem().SetReply("AT#VTX", "ERROR");
  std::string path = WavFile(line, Samples(1000));
  std::size_t before = line.Port().Wire().size();
  EXPECT_EQ(modem.PlayFile(path) + modem.BeginPlay() + modem.StreamFile(path), 0);  // nor as commands
  EXPECT_EQ(line.Port().Wire().substr(before), kPlay + kPlay);
}

TEST_F(Stream, EndPlayRepeatsAnUnansweredEndMarkOnceAndWaitsForTheQueueThreeSecondsAtMost) {
  line.Modem().SetReply("AT#VTX", "CONNECT");  // a modem that stays in command mode
  ASSERT_EQ(modem.BeginPlay(), 1);
  uint32_t start = line.Now();
  EXPECT_EQ(modem.EndPlay(), 0);
  EXPECT_EQ(line.Port().Wire().substr(line.Port().Wire().size() - 4), "\x10\x03\x10\x03");
  EXPECT_NEAR(line.Now() - start, 2750 + 55 + 2750 + 27 + 125, 125);
  line.Modem().SetReply("AT#VTX", std::nullopt);
  line.Faults().portBuffer = 4096;
  ASSERT_EQ(modem.BeginPlay(), 1);
  EXPECT_EQ(modem.StreamFile(WavFile(line, Samples(7200))), 1);
  line.Faults().takesNoBytes = true;  // the queue stays full
  start = line.Now();
  modem.EndPlay();
  EXPECT_NEAR(line.Port().TimesOf("\x10").back() - start, 3000 + 2800 + 55, 10);  // drain, wait, repeat
  EXPECT_EQ(line.Reported(), Strings{"The modem did not take the end of the sound within 3 seconds"});
}

TEST_F(Stream, ABlockHeldUpThreeAndAHalfSecondsEndsThePlay) {
  std::string path = WavFile(line, Samples(72000));
  ASSERT_EQ(modem.BeginPlay(), 1);
  line.At(line.Now() + 2000, [&] { line.Faults().takesNoBytes = true; });
  uint32_t start = line.Now();
  EXPECT_EQ(modem.StreamFile(path), 1);
  EXPECT_LE(line.Now() - start, 2000u + 3500u + 100u);
  EXPECT_EQ(line.Reported().at(0), "The modem port held up the sound data for 3.5 seconds");
}

TEST_F(Stream, KeysQuietAndTheFifthSilenceReportStopTheRecordingAndOtherCodesDoNot) {
  for (char code : {'1', '5', '9', '*', '#', 'q', '0', 'b', 'd', 'A'}) {
    bool stops = std::string("0bdA").find(code) == std::string::npos;
    Caller(7200);
    Scenario(std::string("wait record\nafter 500ms event ") + code + "\n");
    std::string path = line.Path(std::string("k") + std::to_string(code) + ".wav");
    EXPECT_EQ(modem.RecordFile(path), 1) << code;
    std::size_t got = Recorded(path).size();  // the others go on to the quiet after the voice
    EXPECT_TRUE(stops ? got > 3400 && got < 7200 : got > 7200) << code << " " << got;
  }
  EXPECT_TRUE(line.Reported().empty());
  std::size_t before = line.Times("event", "s").size();
  line.Modem().SetVoice(nullptr, "");  // a silent caller: 's' every 5 s
  EXPECT_EQ(modem.RecordFile(line.Path("s.wav")), 1);
  std::vector<uint32_t> reports = line.Times("event", "s");
  EXPECT_EQ(reports.size(), before + 5);
  EXPECT_LE(line.Port().TimesOf("\x18").back() - reports.back(), 60u);
}

TEST_F(Stream, AnEndMarkEndsTheFileWithItsSizesAndWithoutOkTheRecordingFails) {
  for (std::size_t n : {7200u, 7201u, 0u}) {
    Receives(std::string(n, '\x80') + "\x10\x03\r\nOK");
    EXPECT_EQ(modem.RecordFile(line.Path("e.wav")), 1);
    EXPECT_EQ(ReadFileBytes(line.Path("e.wav")).size(), 44 + n + n % 2);  // RIFF size and the rest: Recorded
    EXPECT_EQ(Recorded(line.Path("e.wav")).size(), n);
  }
  Receives(std::string(3600, '\x80') + "\x10\x03");
  EXPECT_EQ(modem.RecordFile(line.Path("n.wav")), 0);
  EXPECT_EQ(Recorded(line.Path("n.wav")).size(), 3600u);
}

TEST_F(Stream, ARefusedReceiveLeavesNoFileAndAnUncreatableFileSendsNothing) {
  line.Modem().SetReply("AT#VRX", "ERROR");
  EXPECT_EQ(modem.RecordFile(line.Path("no.wav")), 0);
  EXPECT_FALSE(std::filesystem::exists(line.Path("no.wav")));
  EXPECT_EQ(line.Commands().back(), "AT#VRX");
  std::size_t before = line.Commands().size();
  EXPECT_EQ(modem.RecordFile(line.Path("nodir/x.wav")) + modem.RecordFile("/dev/null"), 0);
  EXPECT_EQ(line.Commands(before), Strings(2, "AT#BDR=48#VBS=8#VSR=7200"));  // the format only
  EXPECT_TRUE(line.Reported().size() == 2 && line.Reported()[0].find("nodir/x.wav") != std::string::npos);
}

TEST_F(Stream, TenSecondsWithoutDataCancelAndAModemIgnoringTheCancelIsLeftThreeSecondsLater) {
  Receives(std::string(7200, '\x80'));  // then nothing
  uint32_t start = line.Now();
  modem.RecordFile(line.Path("quiet.wav"));
  EXPECT_NEAR(line.Port().TimesOf("\x18").at(0) - start, 10000 + 60, 60);
  EXPECT_GE(Recorded(line.Path("quiet.wav")).size(), 7200u);
  EXPECT_EQ(line.Reported().at(0), "The modem sent no sound for 10 seconds; the recording was stopped");
  line.Reported().clear();
  line.Modem().SetReply("AT#VRX", std::nullopt);
  line.Faults().ignoresCancel = true;
  Caller(7200);
  Scenario("wait record\nafter 500ms event #\n");
  EXPECT_EQ(modem.RecordFile(line.Path("stuck.wav")), 0);
  EXPECT_NEAR(Recorded(line.Path("stuck.wav")).size(), 3.5 * 7200, 400);
  EXPECT_EQ(line.Reported(), Strings{"The modem did not close the recording; it was ended without its end mark"});
}

TEST_F(Stream, TenMinutesOfVoiceIsTheMost) {
  Caller(660 * 7200);
  EXPECT_EQ(modem.RecordFile(line.Path("long.wav")), 1);
  EXPECT_EQ(line.Port().TimesOf("\x18").size(), 1u);
  EXPECT_NEAR(modem.GetWave()->GetDataLength(), 600 * 7200 + 1000, 1000);
  EXPECT_EQ(line.Reported(), Strings{"The recording reached its limit of 10 minutes and was stopped"});
}

TEST_F(Stream, TheReceiveLoopDispatchesNoMessagesAndStillBlocks) {
  Caller(3 * 7200);
  Scenario("wait record\nafter 3s key 1\n");
  uint32_t start = line.Now(), handled = 0;
  line.At(start + 1000, [&] {
    line.Loop().Post({LoopMessage::Kind::Invoke, 0, {}, [&] { handled = line.Now(); }, {}});
  });
  long calls = line.Port().calls;
  EXPECT_EQ(modem.RecordFile(line.Path("d.wav")), 1);
  EXPECT_GE(handled, start + 3000);            // only after the recording
  EXPECT_LT(line.Port().calls - calls, 1000);  // 3 s in 20 ms blocks: no busy loop
}

TEST_F(Stream, AFullDiskStopsTheRecordingAndKeepsWhatWasWritten) {
  Caller(3 * 7200);
  // The pad byte does not fit, and is not counted.
  EXPECT_EQ(WithFileSizeLimit(44 + 5001, [&] { return modem.RecordFile(line.Path("full.wav")); }), 1);
  EXPECT_EQ(line.Port().TimesOf("\x18").size(), 1u);
  EXPECT_EQ(Recorded(line.Path("full.wav")).size(), 5001u);  // and the file's size
  EXPECT_TRUE(line.Reported().size() == 1 && line.Reported()[0].starts_with("Cannot write " + line.Path("full.wav")));
}

TEST(Wave, OnlyPlainFilesAreRecordedOverOrPlayedAndDiscardDeletesOnlyWhatItCreated) {
  SimLine line{Rockwell};  // for its folder
  std::string keep = line.Path("keep.wav"), gone = line.Path("gone.wav"), fifo = line.Path("fifo");
  FWAVE wave;
  EXPECT_EQ(wave.OpenWrite("/dev/null"), 0);
  EXPECT_NE(wave.Error().find("not a plain file"), std::string::npos);
  wave.Discard();
  EXPECT_EQ(access("/dev/null", F_OK), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(wave.OpenRead(fifo) + wave.OpenRead(line.Path()), 0);  // at once, not blocking
  std::ofstream(keep) << std::string(50, 'x');
  ASSERT_EQ(wave.OpenRead(keep), 1);
  wave.Discard();
  EXPECT_EQ(access(keep.c_str(), F_OK), 0);
  ASSERT_EQ(wave.OpenWrite(gone), 1);
  EXPECT_EQ(wave.Discard(), 1);
  EXPECT_NE(access(gone.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace telvara::testing
