// Start-up recovery on real files.
#include "store/Recovery.h"

#include "store/MessageLog.h"
#include "store/OrvanelDoc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "StoreTestSupport.h"

namespace telvara {
namespace {

using test::Bytes;
using test::ReadFile;
using test::WriteFile;
using testing::U32;

// The recorder's 44-byte header written out by hand.
Bytes Header(std::uint32_t riff, std::uint32_t data, std::uint32_t rate = 7200, std::uint16_t bits = 8,
             std::uint16_t channels = 1, std::uint32_t byteRate = 0) {
  test::LogBuilder b;
  b.Text("RIFF").U32(riff).Text("WAVEfmt ").U32(16).U16(1).U16(channels).U32(rate);
  b.U32(byteRate ? byteRate : rate / 8 * bits).U16(1);
  b.U16(bits).Text("data").U32(data);
  return b.bytes;
}

Bytes WithSamples(Bytes header, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) header.push_back(static_cast<std::uint8_t>(0x80 + i % 7));
  return header;
}

Bytes CutRecording(std::size_t samples, std::uint32_t rate = 7200) { return WithSamples(Header(36, 0, rate), samples); }

void SetModified(const std::string& path, std::time_t when) {
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::time_t Modified(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mtim.tv_sec;
}

class RecoveryTest : public ::testing::Test {
 protected:
  test::ScratchDir scratch_;
  std::string dir_ = scratch_.Path();
};

// The pad byte of an odd length: ProgramTest.ARecordingCutShortIsListedAtTheNextStart.
TEST_F(RecoveryTest, ACutRecordingGetsItsSizesFromTheFileAndKeepsItsSamplesAndTime) {
  const std::string path = dir_ + "PCMO1405.WAV";
  Bytes cut = CutRecording(3 * 7200 + 100);
  WriteFile(path, cut);
  SetModified(path, test::kExampleTime);
  EXPECT_EQ(Recovery::Examine(path).state, RecordingState::Cut);

  RepairResult r = Recovery::RepairCut(path);
  ASSERT_TRUE(r.repaired) << r.error;
  EXPECT_EQ(std::tuple(r.dataLength, r.sampleRate, r.modifiedTime),
            std::tuple(cut.size() - 44, 7200u, std::time_t(test::kExampleTime)));
  Bytes now = ReadFile(path);
  ASSERT_EQ(now.size(), cut.size());
  EXPECT_EQ(std::pair(U32(now, 4), U32(now, 40)), std::pair(uint32_t(cut.size() - 8), uint32_t(cut.size() - 44)));
  for (std::size_t at : {4, 40}) std::copy_n(cut.begin() + long(at), 4, now.begin() + long(at));
  EXPECT_EQ(now, cut);  // the format and the samples as they were
  EXPECT_TRUE(Modified(path) == test::kExampleTime && Recovery::Examine(path).state == RecordingState::Finished);
  EXPECT_FALSE(Recovery::RepairCut(path).repaired);  // a second start finds nothing to do
}

TEST_F(RecoveryTest, EveryOtherFileIsLeftAsItWas) {
  std::filesystem::create_directory(dir_ + "folder.wav");
  WriteFile(dir_ + "target.wav", CutRecording(500));
  std::filesystem::create_symlink(dir_ + "target.wav", dir_ + "link.wav");
  ASSERT_EQ(::mkfifo((dir_ + "fifo.wav").c_str(), 0644), 0);
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"finished.wav", WithSamples(Header(36 + 302, 301), 302)},
      {"header-only.wav", Header(36, 0)},  // nothing was recorded: nothing to list
      {"short.wav", Bytes{'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E'}},
      {"stereo.wav", WithSamples(Header(36, 0, 8000, 16, 2), 400)},
      {"byte-rate.wav", WithSamples(Header(36, 0, 7200, 8, 1, 7201), 400)},
      {"riff-only-patched.wav", WithSamples(Header(36 + 400, 0), 400)},
      {"empty", {}},
  };
  for (const auto& [name, bytes] : files) WriteFile(dir_ + name, bytes);
  for (const auto& [name, bytes] : files) {
    RepairResult r = Recovery::RepairCut(dir_ + name);
    EXPECT_TRUE(!r.repaired && r.error.empty() && ReadFile(dir_ + name) == bytes) << name;
  }
  EXPECT_EQ(Recovery::Examine(dir_ + "finished.wav").state, RecordingState::Finished);
  EXPECT_EQ(Recovery::Examine(dir_ + "stereo.wav").state, RecordingState::NotOurs);
  for (const char* name : {"folder.wav", "link.wav", "fifo.wav", "missing.wav"})
    EXPECT_FALSE(Recovery::RepairCut(dir_ + name).repaired) << name;
  EXPECT_EQ(ReadFile(dir_ + "target.wav"), CutRecording(500));  // not through the link
}

TEST_F(RecoveryTest, TheInboxListsItsCutRecordingsThatTheLogDoesNotNameOldestFirst) {
  test::FixTimeZone();
  WriteFile(dir_ + "PLATER.WAV", CutRecording(7200 * 5 + 3));
  SetModified(dir_ + "PLATER.WAV", test::kExampleTime + 600);
  WriteFile(dir_ + "PEARLY.WAV", CutRecording(9600 * 2 + 1, 9600));
  SetModified(dir_ + "PEARLY.WAV", test::kExampleTime);
  const Bytes namedCut = CutRecording(1000), finished = WithSamples(Header(36 + 1000, 1000), 1000);
  WriteFile(dir_ + "PNAMED.WAV", namedCut);
  WriteFile(dir_ + "PDONE.WAV", finished);
  WriteFile(dir_ + "notes.txt", Bytes(100, 'n'));

  RecoveryResult result = Recovery::RecoverInbox(dir_, {"PNAMED.WAV", "PGONE.WAV"});
  EXPECT_TRUE(result.errors.empty());
  ASSERT_EQ(result.messages.size(), 2u);
  const CMessage &early = *result.messages[0], &later = *result.messages[1];
  EXPECT_EQ(std::tuple(early.fileName, early.time, early.lengthSeconds, later.fileName, later.lengthSeconds),
            std::tuple("PEARLY.WAV", std::int32_t(test::kExampleTime), 2u, "PLATER.WAV", 5u));
  EXPECT_TRUE(ReadFile(dir_ + "PNAMED.WAV") == namedCut && ReadFile(dir_ + "PDONE.WAV") == finished);
}

TEST_F(RecoveryTest, OnlyStaleTempFilesOfTheProgramsOwnSavesAreRemoved) {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = std::to_string(child), live = std::to_string(::getppid());
  const std::vector<std::string> stale = {"orvanel.log.tmp-" + dead + "-0", "Orvanel2.log.tmp-" + dead + "-17",
                                          "telvara.ini.aZ3kQ9", "telvara.token.Q7x2Lm"};
  const std::vector<std::string> kept = {
      "orvanel.log",
      "orvanel.log.tmp-" + live + "-0",  // a save still going on
      "notes.txt.tmp-" + dead + "-0",
      "telvara.ini",
      "telvara.ini.backup",
      "mine.txt.aZ3kQ9",  // not a file the program replaces
  };
  for (const auto& name : stale) WriteFile(dir_ + name, {1, 2, 3});
  for (const auto& name : kept) WriteFile(dir_ + name, {4, 5});
  std::filesystem::create_directory(dir_ + "telvara.url.Ab12Cd");
  std::filesystem::create_symlink(dir_ + "orvanel.log", dir_ + "telvara.url.Xy34Zw");

  EXPECT_EQ(Recovery::RemoveStaleTempFiles(dir_, {"telvara.ini", "telvara.token", "telvara.url"}),
            static_cast<int>(stale.size()));
  for (const auto& name : stale) EXPECT_FALSE(std::filesystem::exists(dir_ + name)) << name;
  for (const auto& name : kept) EXPECT_EQ(ReadFile(dir_ + name), Bytes({4, 5})) << name;
  EXPECT_TRUE(std::filesystem::is_directory(dir_ + "telvara.url.Ab12Cd"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ + "telvara.url.Xy34Zw"));
}

}  // namespace
}  // namespace telvara
