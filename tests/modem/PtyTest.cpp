// The driver on a real pseudo-terminal in real time, where the output queue count
// reads 0: playing and recording must still block in poll() rather than spin.
#include <time.h>

#include <gtest/gtest.h>

#include "PtyVoiceLine.h"
#include "WaveFiles.h"

namespace telvara::test {
namespace {

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

TEST(Pty, PlayAndRecordLeaveTheCpuIdle) {
  telvara::testing::PtyVoiceLine line(TELVARA_BINARY_DIR, "rockwell",
                                      "after 300ms ring 1\nwait record\nafter 2s key 1\n");
  ASSERT_TRUE(line.Ready());
  ASSERT_TRUE(line.AnswerACall(Rockwell));
  WriteWav(line.Dir() + "/p.wav", Samples(2 * 7200));
  uint32_t start = line.Clock().Now();
  double cpuStart = ThreadCpuSeconds();
  EXPECT_EQ(line.Modem().PlayFile(line.Dir() + "/p.wav"), 1);
  EXPECT_EQ(line.Modem().RecordFile(line.Dir() + "/m.wav"), 1);
  double cpu = ThreadCpuSeconds() - cpuStart;
  double wall = (line.Clock().Now() - start) / 1000.0;
  EXPECT_GE(wall, 3.9);  // 2 s of prompt, then 2 s of caller until the key
  RecordProperty("engineCpuPercent", std::to_string(100.0 * cpu / wall));
  EXPECT_LT(cpu, 0.05 * wall) << "the engine thread used " << cpu << " s of CPU in " << wall << " s";
}

}  // namespace
}  // namespace telvara::test
