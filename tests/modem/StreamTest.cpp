// Voice play and record against the scripted modem: what reaches the line and the
// file, which events end them, the pacing that keeps a prompt interruptible on any
// transport, and the bounds on a modem that never ends.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ModemFixture.h"
#include "WaveFiles.h"

namespace telvara::test {
namespace {

class Stream : public ModemFixture {
 protected:
  Stream() {
    dir_ = ::testing::TempDir() + "stream-" + std::to_string(getpid()) + "/";
    std::filesystem::create_directories(dir_);
  }
  ~Stream() override { std::filesystem::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + name; }

  // The dialect's voice transmit answers CONNECT and plays at the line's rate.
  void Transmits(const char* command = "AT#VTX") {
    modem.On(command, Reply{{"CONNECT"}, 20, FakeModem::Mode::Transmit});
  }
  void Receives(const char* command = "AT#VRX") {
    modem.On(command, Reply{{"CONNECT"}, 20, FakeModem::Mode::Receive});
  }
  std::string Prompt(std::size_t samples, const std::string& name = "prompt.wav") {
    WriteWav(Path(name), Samples(samples));
    return Path(name);
  }
  // The samples the host wrote in voice transmit (doubled DLEs undone, DLE ETX left out).
  static std::vector<uint8_t> Unescaped(const std::string& wire) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < wire.size(); ++i) {
      uint8_t b = static_cast<uint8_t>(wire[i]);
      if (b == kDLE && i + 1 < wire.size()) {
        if (static_cast<uint8_t>(wire[i + 1]) == kDLE) out.push_back(kDLE);
        ++i;
        continue;
      }
      out.push_back(b);
    }
    return out;
  }
  // The tick at which the host wrote its first DLE ETX.
  uint32_t EndOfVoiceTick() const {
    // The end mark goes byte by byte; a sample block is written whole.
    for (std::size_t i = 0; i + 1 < modem.writes.size(); ++i)
      if (modem.writes[i].bytes == "\x10" && modem.writes[i + 1].bytes == "\x03") return modem.writes[i].tick;
    ADD_FAILURE() << "no DLE ETX was written";
    return 0;
  }
  // How far the samples written ever ran ahead of the line's real-time play.
  int64_t MostAhead(int rate) const {
    int64_t written = 0, most = 0;
    uint32_t first = 0;
    bool started = false;
    for (const auto& w : modem.writes) {
      if (w.bytes.size() < 3) continue;  // command bytes and the end mark go one by one
      std::vector<uint8_t> s = Unescaped(w.bytes);
      if (!started) {
        started = true;
        first = w.tick;
      }
      written += static_cast<int64_t>(s.size());
      int64_t played = static_cast<int64_t>(w.tick - first) * rate / 1000;
      most = std::max(most, written - played);
    }
    return most;
  }

  std::string dir_;
};

// ---- play ----------------------------------------------------------------------------

TEST_F(Stream, PlaySendsTheSamplesAfterTheHeaderWithEachDleDoubled) {
  Open(Rockwell);
  Transmits();
  std::vector<uint8_t> samples = Samples(3000);
  WriteWav(Path("p.wav"), samples);
  std::vector<uint8_t> before = ReadFileBytes(Path("p.wav"));
  EXPECT_EQ(driver->PlayFile(Path("p.wav")), 1);
  EXPECT_EQ(modem.played, samples);
  EXPECT_EQ(ReadFileBytes(Path("p.wav")), before);
  // On the wire: every 0x10 twice, then one DLE ETX.
  std::string wire;
  for (const auto& w : modem.writes)
    if (w.tick >= modem.commandTicks.back()) wire += w.bytes;
  std::size_t dles = std::count(samples.begin(), samples.end(), kDLE);
  ASSERT_GT(dles, 0u);
  EXPECT_EQ(wire.size(), samples.size() + dles + 2 + std::string("AT#VTX\r").size());
  EXPECT_EQ(wire.substr(wire.size() - 2), "\x10\x03");
  EXPECT_EQ(modem.transmitEndTicks.size(), 1u);
}

TEST_F(Stream, AKeyEndsThePlayAfterTheCurrentBlockAndStaysQueued) {
  Open(Rockwell);
  Transmits();
  std::string path = Prompt(72000);  // 10 s
  uint32_t start = Now();
  At(start + 3000, [&] { modem.SendAt(Now(), Dle('5')); });
  EXPECT_EQ(driver->PlayFile(path), 1);
  EXPECT_EQ(driver->TakeEvent(), '5');
  EXPECT_EQ(driver->TakeEvent(), 0);
  // DLE ETX follows the key within a block's time; the line plays at most the
  // pacing bound and a block beyond the moment of the key.
  uint32_t end = EndOfVoiceTick();
  EXPECT_LE(end - (start + 3000), 80u);
  EXPECT_LT(modem.played.size(), 72000u);
  EXPECT_LE(modem.transmitEndTicks[0] - (start + 3000), 500u + 80u);
}

TEST_F(Stream, EventsOtherThanKeysAreDroppedAndThePlayGoesOn) {
  Open(IS_101);
  Transmits("AT+VTX");
  modem.transmitEndLines = {"OK"};
  std::string path = Prompt(3 * 7200);
  uint32_t start = Now();
  uint32_t at = start + 300;
  for (char code : {'b', 'd', 's', 'q'}) {
    At(at, [this, code] { modem.SendAt(Now(), Dle(code)); });
    at += 300;
  }
  EXPECT_EQ(driver->PlayFile(path), 1);
  EXPECT_EQ(modem.played.size(), 3u * 7200u);
  EXPECT_EQ(driver->TakeEvent(), 0);
}

TEST_F(Stream, AFileOfOnlyAHeaderOrMissingPlaysNothing) {
  Open(Rockwell);
  Transmits();
  std::string empty = Prompt(0);
  std::ofstream(Path("tiny.wav")) << "RIFF";
  ASSERT_EQ(driver->BeginPlay(), 1);
  EXPECT_EQ(driver->StreamFile(empty), 1);
  EXPECT_EQ(driver->StreamFile(Path("tiny.wav")), 1);
  EXPECT_EQ(driver->StreamFile(Path("missing.wav")), 0);
  EXPECT_EQ(driver->EndPlay(), 1);
  EXPECT_TRUE(modem.played.empty());
  // A missing file inside PlayFile still ends voice transmit.
  EXPECT_EQ(driver->PlayFile(Path("missing.wav")), 1);
  EXPECT_EQ(modem.transmitEndTicks.size(), 2u);
}

TEST_F(Stream, ARefusedTransmitSendsNeitherSamplesNorTheEndMark) {
  Open(Rockwell);
  modem.On("AT#VTX", "ERROR");
  std::string path = Prompt(1000);
  EXPECT_EQ(driver->PlayFile(path), 0);
  // And a file streamed without voice transmit is not sent as commands either.
  EXPECT_EQ(driver->BeginPlay(), 0);
  EXPECT_EQ(driver->StreamFile(path), 0);
  const std::string commands = "AT#BDR=48#VBS=8#VSR=7200\rAT#VTX\r";
  EXPECT_EQ(modem.AllWritten(), commands + commands);
  EXPECT_TRUE(modem.transmitEndTicks.empty());
}

TEST_F(Stream, APromptOnAPseudoTerminalIsPacedByTheLinesRate) {
  for (ModemType type : {Rockwell, USRobotics}) {
    SCOPED_TRACE(type);
    modem.writes.clear();
    modem.transmitEndTicks.clear();
    modem.played.clear();
    Open(type);
    Transmits();
    int rate = type == USRobotics ? 8000 : 7200;
    std::string path = Prompt(static_cast<std::size_t>(rate) * 10);
    uint32_t start = Now();
    EXPECT_EQ(driver->PlayFile(path), 1);
    EXPECT_EQ(modem.played.size(), static_cast<std::size_t>(rate) * 10);
    // The queue count reads 0 here: only the pacing keeps the data near real time.
    EXPECT_LE(MostAhead(rate), rate / 2 + 8);
    EXPECT_EQ(modem.longestStarvation, 0u);
    EXPECT_GE(modem.transmitEndTicks[0] - start, 10000u);
    EXPECT_LE(modem.transmitEndTicks[0] - start, 10000u + 200u);
    EXPECT_TRUE(faults.empty());
  }
}

TEST_F(Stream, EndPlayRepeatsTheEndMarkOnceWhenUnanswered) {
  Open(Rockwell);
  Transmits();
  modem.transmitEndLines = {};
  ASSERT_EQ(driver->BeginPlay(), 1);
  uint32_t start = Now();
  EXPECT_EQ(driver->EndPlay(), 0);
  std::string all = modem.AllWritten();
  EXPECT_EQ(all.substr(all.size() - 4), "\x10\x03\x10\x03");
  EXPECT_GE(Now() - start, 2750u + 55u + 2750u + 27u);
  EXPECT_LE(Now() - start, 2750u + 55u + 2750u + 27u + 250u);
}

TEST_F(Stream, TheEndOfPlayDrainIsBounded) {
  Open(Rockwell);
  Transmits();
  modem.reportsOutputQueue = true;
  std::string path = Prompt(7200);
  ASSERT_EQ(driver->BeginPlay(), 1);
  EXPECT_EQ(driver->StreamFile(path), 1);
  modem.lineRate = 0;  // the modem stops taking data with the queue still full
  uint32_t start = Now();
  driver->EndPlay();
  EXPECT_GE(Now() - start, 3000u);
  EXPECT_LE(Now() - start, 3000u + 2 * 2750u + 400u);
  EXPECT_EQ(faults, std::vector<std::string>{"The modem did not take the end of the sound within 3 seconds"});
}

TEST_F(Stream, APortThatStopsTakingDataEndsThePlayInsteadOfWaitingPerBlock) {
  Open(Rockwell);
  Transmits();
  std::string path = Prompt(72000);
  ASSERT_EQ(driver->BeginPlay(), 1);
  At(Now() + 2000, [&] { modem.acceptsBytes = false; });
  uint32_t start = Now();
  EXPECT_EQ(driver->StreamFile(path), 1);
  EXPECT_LE(Now() - start, 2000u + 5000u + 100u);
  ASSERT_FALSE(faults.empty());
  EXPECT_EQ(faults[0], "The modem port held up the sound data for 3.5 seconds");
}

// ---- record --------------------------------------------------------------------------

class Record : public Stream {
 protected:
  // A caller: `seconds` of samples, events at sample indexes, then (maybe) the end.
  void Caller(double seconds, std::multimap<std::size_t, uint8_t> events = {}, bool ends = true) {
    modem.callerSamples = Samples(static_cast<std::size_t>(seconds * modem.lineRate), 3);
    modem.callerEvents = std::move(events);
    modem.callerEndsWithEtx = ends;
  }
  std::vector<uint8_t> Recorded(const std::string& path) {
    std::vector<uint8_t> b = ReadFileBytes(path);
    if (b.size() < 44) return {};
    uint32_t length = U32(b, 40);
    EXPECT_EQ(U32(b, 4), 36 + length + length % 2);
    EXPECT_EQ(b.size(), 44 + length + length % 2);
    return std::vector<uint8_t>(b.begin() + 44, b.begin() + 44 + std::min<std::size_t>(length, b.size() - 44));
  }
};

TEST_F(Record, KeysAndQuietStopTheRecordingAndOtherCodesDoNot) {
  Open(Rockwell);
  Receives();
  const std::pair<char, bool> codes[] = {
      {'1', true}, {'5', true}, {'9', true}, {'*', true}, {'#', true}, {'q', true},
      {'0', false}, {'s', false}, {'b', false}, {'d', false}, {'A', false},
  };
  for (auto [code, stops] : codes) {
    SCOPED_TRACE(code);
    modem.cancelTicks.clear();
    Caller(1.0, {{3600, static_cast<uint8_t>(code)}});
    std::string path = Path(std::string("k") + std::to_string(code) + ".wav");
    EXPECT_EQ(driver->RecordFile(path), 1);
    EXPECT_EQ(modem.cancelTicks.size(), stops ? 1u : 0u);
    std::vector<uint8_t> got = Recorded(path);
    if (stops) {
      EXPECT_GE(got.size(), 3600u);
      EXPECT_LT(got.size(), 7200u);
    } else {
      EXPECT_EQ(got.size(), 7200u);
    }
    // Stored unchanged, 0x10 samples and all, no LF first.
    EXPECT_TRUE(std::equal(got.begin(), got.end(), modem.callerSamples.begin()));
    EXPECT_EQ(driver->GetWave()->GetDataLength(), static_cast<int>(got.size()));
  }
  EXPECT_TRUE(faults.empty());
}

TEST_F(Record, TheFifthSilenceReportStopsTheRecording) {
  Open(Rockwell);
  Receives();
  Caller(3.0, {{1000, 's'}, {2000, 's'}, {3000, 's'}, {4000, 's'}});
  EXPECT_EQ(driver->RecordFile(Path("four.wav")), 1);
  EXPECT_TRUE(modem.cancelTicks.empty());
  Caller(3.0, {{1000, 's'}, {2000, 's'}, {3000, 's'}, {4000, 's'}, {7200, 's'}});
  uint32_t start = Now();
  EXPECT_EQ(driver->RecordFile(Path("five.wav")), 1);
  ASSERT_EQ(modem.cancelTicks.size(), 1u);
  EXPECT_NEAR(static_cast<double>(modem.cancelTicks[0] - start), 1000.0 + 60.0, 60.0);
}

TEST_F(Record, ARefusedReceiveLeavesNoFile) {
  Open(IS_101);
  modem.On("AT+VRX", "ERROR");
  EXPECT_EQ(driver->RecordFile(Path("no.wav")), 0);
  EXPECT_FALSE(std::filesystem::exists(Path("no.wav")));
  EXPECT_EQ(modem.commands.back(), "AT+VRX");
}

TEST_F(Record, AFileThatCannotBeCreatedSendsNothingToTheModem) {
  Open(Rockwell);
  EXPECT_EQ(driver->RecordFile(Path("nodir/x.wav")), 0);
  EXPECT_EQ(modem.commands, std::vector<std::string>{"AT#BDR=48#VBS=8#VSR=7200"});
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_NE(faults[0].find("nodir/x.wav"), std::string::npos);
}

TEST_F(Record, AnEndMarkAtOnceMakesAHeaderOnlyFile) {
  Open(IS_101);
  Receives("AT+VRX");
  Caller(0);
  EXPECT_EQ(driver->RecordFile(Path("e.wav")), 1);
  EXPECT_EQ(ReadFileBytes(Path("e.wav")).size(), 44u);
  EXPECT_EQ(driver->GetWave()->GetDataLength(), 0);
}

TEST_F(Record, AnEndMarkWithoutOkKeepsTheFileButFails) {
  Open(Rockwell);
  Receives();
  modem.receiveEndLines = {};
  Caller(0.5);
  EXPECT_EQ(driver->RecordFile(Path("n.wav")), 0);
  EXPECT_EQ(Recorded(Path("n.wav")).size(), 3600u);
}

TEST_F(Record, TenSecondsWithoutDataCancelsAndKeepsTheFile) {
  Open(Rockwell);
  Receives();
  Caller(1.0, {}, false);
  uint32_t start = Now();
  EXPECT_EQ(driver->RecordFile(Path("quiet.wav")), 1);  // the modem answered the CAN
  ASSERT_EQ(modem.cancelTicks.size(), 1u);
  EXPECT_NEAR(static_cast<double>(modem.cancelTicks[0] - start), 1000.0 + 10000.0 + 60.0, 60.0);
  EXPECT_EQ(Recorded(Path("quiet.wav")).size(), 7200u);
  EXPECT_EQ(faults, std::vector<std::string>{"The modem sent no sound for 10 seconds; the recording was stopped"});
}

TEST_F(Record, AModemThatNeverSendsTheEndMarkIsLeftAfterTheCancel) {
  Open(Rockwell);
  Receives();
  modem.ignoreCancel = true;
  Caller(1.0, {{3600, '#'}}, false);
  EXPECT_EQ(driver->RecordFile(Path("stuck.wav")), 0);
  ASSERT_EQ(modem.cancelTicks.size(), 1u);
  EXPECT_EQ(Recorded(Path("stuck.wav")).size(), 7200u);  // all that came, with a true header
  EXPECT_EQ(faults, std::vector<std::string>{
                        "The modem did not close the recording; it was ended without its end mark"});
}

TEST_F(Record, TenMinutesOfVoiceIsTheMost) {
  Open(Rockwell);
  Receives();
  Caller(660.0, {}, false);
  EXPECT_EQ(driver->RecordFile(Path("long.wav")), 1);
  ASSERT_EQ(modem.cancelTicks.size(), 1u);
  int length = driver->GetWave()->GetDataLength();
  EXPECT_GT(length, 600 * 7200);
  EXPECT_LE(length, 600 * 7200 + 2000);
  EXPECT_EQ(faults, std::vector<std::string>{"The recording reached its limit of 10 minutes and was stopped"});
}

TEST_F(Record, TheLoopDispatchesNoMessagesAndStillBlocks) {
  Open(Rockwell);
  Receives();
  Caller(3.0);
  uint32_t start = Now();
  uint32_t handled = 0;
  At(start + 1000, [&] {
    LoopMessage m;
    m.kind = LoopMessage::Kind::Invoke;
    m.invoke = [&] { handled = Now(); };
    loop->Post(std::move(m));
  });
  long reads = modem.reads;
  EXPECT_EQ(driver->RecordFile(Path("d.wav")), 1);
  EXPECT_GE(handled, start + 3000);  // only after the end mark
  // 3 s of voice in 20 ms chunks: a few reads per chunk, not a busy loop.
  EXPECT_LT(modem.reads - reads, 1000);
}

TEST_F(Record, AFullDiskStopsTheRecordingAndKeepsWhatWasWritten) {
  Open(Rockwell);
  Receives();
  Caller(3.0);
  int result;
  {
    FileSizeLimit limit(44 + 5000);
    result = driver->RecordFile(Path("full.wav"));
  }
  EXPECT_EQ(result, 1);
  ASSERT_EQ(modem.cancelTicks.size(), 1u);
  std::vector<uint8_t> got = Recorded(Path("full.wav"));
  EXPECT_EQ(got.size(), 5000u);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), modem.callerSamples.begin()));
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0].rfind("Cannot write " + Path("full.wav"), 0), 0u) << faults[0];
}

}  // namespace
}  // namespace telvara::test
