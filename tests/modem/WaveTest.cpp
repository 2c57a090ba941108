// The WAV file object: the header it writes, the sizes after a recording, reading for
// play, and file errors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "WaveFiles.h"
#include "modem/FWAVE.h"

namespace telvara::test {
namespace {

class Wave : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) { return dir_ + name; }
  void SetUp() override {
    dir_ = ::testing::TempDir() + "wave-" + std::to_string(getpid()) + "/";
    mkdir(dir_.c_str(), 0755);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Records `count` samples in blocks as the driver does.
  void Record(const std::string& path, std::size_t count) {
    wave.InitHeader(8, 7200);
    ASSERT_EQ(wave.OpenWrite(path), 1);
    std::vector<uint8_t> s = Samples(count);
    for (std::size_t at = 0; at < count; at += 1000) {
      int n = static_cast<int>(std::min<std::size_t>(1000, count - at));
      ASSERT_EQ(wave.Append(s.data() + at, n), n);
    }
    wave.Finish();
    wave.Close();
  }

  FWAVE wave;
  std::string dir_;
};

TEST_F(Wave, TheHeaderDescribesEightBitMonoPcmAtTheDriversRate) {
  Record(Path("a.wav"), 10);
  std::vector<uint8_t> b = ReadFileBytes(Path("a.wav"));
  ASSERT_EQ(b.size(), 54u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(U32(b, 16), 16u);
  EXPECT_EQ(U16(b, 20), 1u);
  EXPECT_EQ(U16(b, 22), 1u);
  EXPECT_EQ(U32(b, 24), 7200u);
  EXPECT_EQ(U32(b, 28), 7200u);
  EXPECT_EQ(U16(b, 32), 1u);
  EXPECT_EQ(U16(b, 34), 8u);
  EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
  EXPECT_EQ(U32(b, 40), 10u);
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 44, b.end()), Samples(10));
  // Bytes per second come from whole bytes per sample group: 11025 / 8 * 8.
  wave.InitHeader(8, 11025);
  EXPECT_EQ(wave.Header()[28] | wave.Header()[29] << 8, 11024);
}

TEST_F(Wave, SizesAfterARecordingIncludeThePadAfterAnOddLength) {
  struct Case {
    std::size_t samples, fileSize;
    uint32_t riff;
  };
  for (Case c : {Case{7200, 7244, 7236}, Case{7201, 7246, 7238}, Case{0, 44, 36}}) {
    Record(Path("s.wav"), c.samples);
    std::vector<uint8_t> b = ReadFileBytes(Path("s.wav"));
    ASSERT_EQ(b.size(), c.fileSize) << c.samples;
    EXPECT_EQ(U32(b, 4), c.riff) << c.samples;
    EXPECT_EQ(U32(b, 40), c.samples) << c.samples;
    EXPECT_EQ(wave.GetDataLength(), static_cast<int>(c.samples));
    if (c.samples % 2) {
      EXPECT_EQ(b.back(), 0);
    }
  }
}

TEST_F(Wave, ARecordingCutShortKeepsTheProvisionalHeaderAndItsSamples) {
  wave.InitHeader(8, 7200);
  ASSERT_EQ(wave.OpenWrite(Path("cut.wav")), 1);
  std::vector<uint8_t> s = Samples(300);
  wave.Append(s.data(), 300);
  std::vector<uint8_t> b = ReadFileBytes(Path("cut.wav"));
  ASSERT_EQ(b.size(), 344u);
  EXPECT_EQ(U32(b, 4), 36u);
  EXPECT_EQ(U32(b, 40), 0u);
  EXPECT_EQ(wave.GetDataLength(), 300);
}

TEST_F(Wave, ReadingSkipsTheHeaderAndSendsEverythingAfterIt) {
  std::vector<uint8_t> s = Samples(1500);
  WriteWav(Path("p.wav"), s);
  ASSERT_EQ(wave.OpenRead(Path("p.wav")), 1);
  EXPECT_EQ(wave.Header()[24], 0x11);  // as read: claims 11025; not examined
  std::vector<uint8_t> got;
  uint8_t buffer[512];
  int n;
  while ((n = wave.Read(buffer, 512)) > 0) got.insert(got.end(), buffer, buffer + n);
  EXPECT_EQ(got, s);
  wave.Close();
  EXPECT_FALSE(wave.IsOpen());
  // A file shorter than the header reads no samples.
  std::ofstream(Path("short.wav")) << "RIFF0000WAVE";
  ASSERT_EQ(wave.OpenRead(Path("short.wav")), 1);
  EXPECT_EQ(wave.Read(buffer, 512), 0);
}

TEST_F(Wave, FilesThatCannotBeOpenedGiveZeroAndSayWhy) {
  EXPECT_EQ(wave.OpenWrite(Path("missing/dir/x.wav")), 0);
  EXPECT_FALSE(wave.IsOpen());
  EXPECT_NE(wave.Error().find("No such file or directory"), std::string::npos) << wave.Error();
  EXPECT_EQ(wave.OpenRead(Path("nothing.wav")), 0);
  EXPECT_FALSE(wave.IsOpen());
  // A file whose header cannot be written is no recording and is not left behind.
  wave.InitHeader(8, 7200);
  {
    FileSizeLimit limit(20);
    EXPECT_EQ(wave.OpenWrite(Path("h.wav")), 0);
  }
  EXPECT_FALSE(wave.IsOpen());
  EXPECT_NE(access(Path("h.wav").c_str(), F_OK), 0);
}

TEST_F(Wave, OnlyPlainFilesAreRecordedOverPlayedOrDeleted) {
  // A device is refused and survives a discard.
  EXPECT_EQ(wave.OpenWrite("/dev/null"), 0);
  EXPECT_NE(wave.Error().find("not a plain file"), std::string::npos);
  wave.Discard();
  EXPECT_EQ(access("/dev/null", F_OK), 0);
  // A FIFO with no writer is refused at once instead of blocking the engine.
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(wave.OpenRead(Path("fifo")), 0);
  EXPECT_EQ(wave.OpenRead(dir_), 0);  // a directory
  // A file opened to be played is never deleted by Discard.
  WriteWav(Path("keep.wav"), Samples(10));
  ASSERT_EQ(wave.OpenRead(Path("keep.wav")), 1);
  wave.Discard();
  EXPECT_EQ(access(Path("keep.wav").c_str(), F_OK), 0);
  // The file a recording created is.
  wave.InitHeader(8, 7200);
  ASSERT_EQ(wave.OpenWrite(Path("gone.wav")), 1);
  EXPECT_EQ(wave.Discard(), 1);
  EXPECT_NE(access(Path("gone.wav").c_str(), F_OK), 0);
  EXPECT_EQ(wave.GetPath(), "");
}

TEST_F(Wave, AFullDiskEndsTheAppendsAndTheHeaderStaysTrueToTheFile) {
  wave.InitHeader(8, 7200);
  ASSERT_EQ(wave.OpenWrite(Path("full.wav")), 1);
  std::vector<uint8_t> s = Samples(1000);
  {
    FileSizeLimit limit(44 + 1501);
    EXPECT_EQ(wave.Append(s.data(), 1000), 1000);
    EXPECT_EQ(wave.Append(s.data(), 1000), 501);
    EXPECT_FALSE(wave.Error().empty());
    EXPECT_EQ(wave.Append(s.data(), 1000), 0);
    wave.Finish();  // the pad byte does not fit: it is not counted
  }
  wave.Close();
  std::vector<uint8_t> b = ReadFileBytes(Path("full.wav"));
  ASSERT_EQ(b.size(), 44u + 1501u);
  EXPECT_EQ(U32(b, 40), 1501u);
  EXPECT_EQ(U32(b, 4), 36u + 1501u);
}

}  // namespace
}  // namespace telvara::test
