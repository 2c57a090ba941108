// Voice on a pseudo-terminal against telvara-modemsim: CPU of the driver while it plays
// and records BENCH_SECONDS (60) of voice, and the time from a touch tone sent by the
// simulator to the DLE ETX it receives during a play (median and maximum).
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "PtyVoiceLine.h"

using namespace telvara;
using telvara::testing::PtyVoiceLine;

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Measure {
  double cpu = 0;
  uint32_t ms = 0;
};

int Fail(const char* what) {
  std::fprintf(stderr, "voice_bench: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string bin = argc > 1 ? argv[1] : TELVARA_BINARY_DIR;
  int seconds = std::getenv("BENCH_SECONDS") ? std::atoi(std::getenv("BENCH_SECONDS")) : 60;
  int keys = std::getenv("BENCH_KEYS") ? std::atoi(std::getenv("BENCH_KEYS")) : 20;
  const uint32_t rate = 7200;

  // Play.
  Measure play, record;
  {
    PtyVoiceLine line(bin, "rockwell", "after 300ms ring 1\n");
    if (!line.Ready() || !line.AnswerACall(Rockwell)) return Fail("no call to play to");
    std::string path = line.Dir() + "/play.wav";
    PtyVoiceLine::WriteWav(path, PtyVoiceLine::Voice(seconds * rate, 1), rate);
    double c0 = CpuSeconds();
    uint32_t t0 = line.Clock().Now();
    line.Modem().PlayFile(path);
    play = {CpuSeconds() - c0, line.Clock().Now() - t0};
    line.Modem().HangUp();
  }
  // Record.
  {
    std::string voice = "/tmp/telvara-bench-caller.wav";
    PtyVoiceLine::WriteWav(voice, PtyVoiceLine::Voice(seconds * rate, 2), rate);
    PtyVoiceLine line(
        bin, "rockwell",
        "caller " + voice + "\nafter 300ms ring 1\nwait record\nafter " + std::to_string(seconds) + "s key 1\n");
    if (!line.Ready() || !line.AnswerACall(Rockwell)) return Fail("no call to record");
    double c0 = CpuSeconds();
    uint32_t t0 = line.Clock().Now();
    line.Modem().RecordFile(line.Dir() + "/message.wav");
    record = {CpuSeconds() - c0, line.Clock().Now() - t0};
    line.Modem().HangUp();
    unlink(voice.c_str());
  }
  // Keys during plays, at uneven moments of the play.
  std::vector<long long> latencies;
  {
    std::string scenario = "after 300ms ring 1\n";
    for (int i = 0; i < keys; ++i)
      scenario += "wait play\nafter " + std::to_string(500 + (i * 137) % 900) + "ms key 5\n";
    PtyVoiceLine line(bin, "rockwell", scenario);
    if (!line.Ready() || !line.AnswerACall(Rockwell)) return Fail("no call for the keys");
    std::string path = line.Dir() + "/long.wav";
    PtyVoiceLine::WriteWav(path, PtyVoiceLine::Voice(10 * rate, 3), rate);
    for (int i = 0; i < keys; ++i) {
      line.Modem().PlayFile(path);
      line.Modem().FlushEvents();
    }
    line.Modem().HangUp();
    line.StopModem();
    std::vector<std::string> events = line.Entries("event"), etx = line.Entries("etx-received");
    for (std::size_t i = 0; i < events.size() && i < etx.size(); ++i)
      latencies.push_back(PtyVoiceLine::Field(etx[i], "t") - PtyVoiceLine::Field(events[i], "t"));
  }
  if (latencies.empty()) return Fail("no key was seen");
  std::sort(latencies.begin(), latencies.end());

  std::printf("play   %5.1f s of voice: CPU %.2f%% of one core\n", play.ms / 1000.0, 100 * play.cpu * 1000 / play.ms);
  std::printf("record %5.1f s of voice: CPU %.2f%% of one core\n", record.ms / 1000.0,
              100 * record.cpu * 1000 / record.ms);
  std::printf("touch tone to DLE ETX during a play (%zu keys): median %lld ms, maximum %lld ms\n", latencies.size(),
              latencies[latencies.size() / 2], latencies.back());
  return 0;
}
