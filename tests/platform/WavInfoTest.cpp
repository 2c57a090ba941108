// Reading a WAV file's chunks without trusting them.
#include "platform/WavInfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "Files.h"

namespace telvara::testing {
namespace {

// A RIFF/WAVE image: the chunks given, each as its id and body (padded to even length).
std::string Wave(std::initializer_list<std::pair<std::string, std::string>> chunks) {
  auto le = [](uint32_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
    return out;
  };
  std::string body = "WAVE";
  for (const auto& [id, data] : chunks)
    body += id + le(static_cast<uint32_t>(data.size()), 4) + data + (data.size() % 2 ? std::string(1, '\0') : "");
  return "RIFF" + le(static_cast<uint32_t>(body.size()), 4) + body;
}
std::string Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t align, uint16_t bits) {
  std::string f;
  for (auto [v, n] : {std::pair<uint32_t, int>{tag, 2}, {channels, 2}, {rate, 4}, {byteRate, 4}, {align, 2}, {bits, 2}})
    for (int i = 0; i < n; ++i) f += static_cast<char>(v >> (8 * i));
  return f;
}

TEST(WavInfo, FormatDataAndTruncationAsTheFileHoldsThem) {
  const std::string pcm16 = Fmt(1, 1, 48000, 96000, 2, 16), modem = Fmt(1, 1, 7200, 7200, 1, 8);
  std::string truncated = Wave({{"fmt ", modem}, {"data", std::string(7200, 'x')}});
  truncated.resize(truncated.size() - 3600);
  const std::tuple<std::string, WavProblem, bool, bool, uint64_t> cases[] = {
      // well-formed, playable, ms
      {Wave({{"fmt ", pcm16}, {"LIST", "abc"}, {"data", std::string(48000, 0)}}), WavProblem::None, true, true, 500},
      // The modem's 16-bit files keep a block alignment of 1: they play, but are not taken as a recording.
      {Wave({{"fmt ", Fmt(1, 1, 7200, 14400, 1, 16)}, {"data", "ab"}}), WavProblem::None, false, true, 0},
      {truncated, WavProblem::Truncated, false, true, 500},
      {Wave({{"fmt ", Fmt(3, 1, 48000, 192000, 4, 32)}, {"data", "abcd"}}), WavProblem::None, false, true, 0},
      {Wave({{"data", "ab"}, {"fmt ", pcm16}}), WavProblem::BadFormat, false, false, 0},
      {Wave({{"fmt ", pcm16}}), WavProblem::NoData, false, false, 0},
      {"RIFX" + Wave({}).substr(4), WavProblem::NotWave, false, false, 0},
  };
  ScratchDir dir;
  for (const auto& [bytes, problem, wellFormed, playable, ms] : cases) {
    std::ofstream(dir.Path() + "f.wav", std::ios::binary | std::ios::trunc) << bytes;
    WavInfo info = InspectWav(dir.Path() + "f.wav");
    EXPECT_EQ(std::tuple(info.problem, info.WellFormed(), info.Playable(), info.DurationMs()),
              std::tuple(problem, wellFormed, playable, ms));
  }
  // Neither a missing file nor a FIFO in its place (which would block an open) is read.
  EXPECT_EQ(InspectWav(dir.Path() + "missing.wav").problem, WavProblem::Unreadable);
  ASSERT_EQ(::mkfifo((dir.Path() + "fifo.wav").c_str(), 0600), 0);
  EXPECT_EQ(InspectWav(dir.Path() + "fifo.wav").problem, WavProblem::Unreadable);
}

}  // namespace
}  // namespace telvara::testing
