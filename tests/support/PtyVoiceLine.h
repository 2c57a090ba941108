#pragma once
// Test and benchmark helper: the voice driver on the real clock, through a serial port, to
// telvara-modemsim on a pseudo-terminal; scenario text says what the far end does.
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "Files.h"
#include "Process.h"
#include "WavData.h"
#include "modem/FMODEM.h"
#include "platform/SerialPort.h"

namespace telvara::testing {

class PtyVoiceLine {
 public:
  // `caller`: what the far end says when the modem records (none when empty), at `callerRate`.
  PtyVoiceLine(const std::string& binaryDir, const std::string& dialect, const std::string& scenario,
               const std::vector<uint8_t>& caller = {}, uint32_t callerRate = 7200)
      : loop_(clock_, std::make_unique<PollWaiter>(clock_)) {
    std::filesystem::create_directory(dir_ + "/heard");
    if (!caller.empty()) WriteWav(dir_ + "/caller.wav", caller, callerRate);
    std::ofstream(dir_ + "/line.scn") << (caller.empty() ? "" : "caller caller.wav\n") << scenario;
    sim_ = std::make_unique<Process>(std::vector<std::string>{
        binaryDir + "/telvara-modemsim", "--dialect", dialect, "--link", dir_ + "/modem", "--scenario",
        dir_ + "/line.scn", "--transcript", dir_ + "/modem.jsonl", "--heard-dir", dir_ + "/heard"});
    std::string line, link = dir_ + "/modem";
    ready_ = sim_->ReadLine(line, 10000);
    modem_ = std::make_unique<FMODEM>(
        loop_, [link, lockDir = dir_](int, int baud) { return SerialPort::Open(link, baud, lockDir); });
  }
  ~PtyVoiceLine() {
    modem_.reset();
    StopModem();
  }

  bool Ready() const { return ready_; }
  FMODEM& Modem() { return *modem_; }
  RealClock& Clock() { return clock_; }
  const std::string& Dir() const { return dir_; }

  // Opens the port, sets the dialect, waits for a ring and answers it; false on failure.
  bool AnswerACall(uint32_t type) {
    if (!modem_->OpenComm(2, 1152)) return false;
    modem_->SendCommand("ATE0V1");
    modem_->SetModemType(type);
    return modem_->WaitResult("QQ", 2000) == ResultRing && modem_->Answer() == 1;
  }

  // Ends the simulator, so that its transcript and kept files are complete.
  void StopModem() {
    if (sim_) sim_->Signal(SIGTERM), sim_->Wait(10000), sim_.reset();
  }

  // The transcript's lines of one kind ("voice-tx-end", "event", ...).
  std::vector<std::string> Entries(const std::string& kind) const {
    std::ifstream in(dir_ + "/modem.jsonl");
    std::vector<std::string> out;
    for (std::string l; std::getline(in, l);)
      if (l.find("\"kind\":\"" + kind + "\"") != std::string::npos) out.push_back(l);
    return out;
  }
  // A numeric field of a transcript line; -1 when absent.
  static long long Field(const std::string& line, const std::string& name) {
    std::size_t at = line.find("\"" + name + "\":");
    return at == std::string::npos ? -1 : std::atoll(line.c_str() + at + name.size() + 3);
  }
  // The file of what the caller heard in each voice-transmit phase.
  std::vector<std::string> HeardFiles() const {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir_ + "/heard")) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
  }

  // A WAV file of 8-bit samples (replacing one that is there), and its samples.
  static void WriteWav(const std::string& path, const std::vector<uint8_t>& samples, uint32_t rate) {
    std::string error;
    std::filesystem::remove(path);
    sim::WriteWavFile(path, samples, static_cast<int>(rate), error);
  }
  static std::vector<uint8_t> ReadSamples(const std::string& path) {
    sim::WavLoad load = sim::LoadWavSamples(path);
    return load.samples ? *load.samples : std::vector<uint8_t>{};
  }
  // Voice-like samples (a tone with noise) that hold DLE bytes, seeded.
  static std::vector<uint8_t> Voice(std::size_t count, uint32_t seed) {
    std::vector<uint8_t> v(count);
    for (std::size_t i = 0; i < count; ++i) {
      seed = seed * 1103515245u + 12345u;
      v[i] = static_cast<uint8_t>((i * 7) ^ (seed >> 16));
    }
    return v;
  }

 private:
  RealClock clock_;
  EventLoop loop_;
  ScratchDir scratch_;
  std::string dir_ = scratch_.Path().substr(0, scratch_.Path().size() - 1);
  std::unique_ptr<Process> sim_;
  bool ready_ = false;
  std::unique_ptr<FMODEM> modem_;
};

}  // namespace telvara::testing
