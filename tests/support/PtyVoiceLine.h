#pragma once
// Test and benchmark helper: telvara-modemsim on a pseudo-terminal, and the voice
// driver on the real clock talking to it through a real serial port, as the program
// would. Scenario text says what the far end does.
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Process.h"
#include "modem/FMODEM.h"
#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/SerialPort.h"

namespace telvara::testing {

class PtyVoiceLine {
 public:
  PtyVoiceLine(const std::string& binaryDir, const std::string& dialect, const std::string& scenario)
      : loop_(clock_, std::make_unique<PollWaiter>(clock_)) {
    char pattern[] = "/tmp/telvara-voice-XXXXXX";
    dir_ = mkdtemp(pattern);
    std::filesystem::create_directory(dir_ + "/heard");
    std::ofstream(dir_ + "/line.scn") << scenario;
    sim_ = std::make_unique<Process>(std::vector<std::string>{
        binaryDir + "/telvara-modemsim", "--dialect", dialect, "--link", dir_ + "/modem",
        "--scenario", dir_ + "/line.scn", "--transcript", dir_ + "/modem.jsonl", "--heard-dir",
        dir_ + "/heard"});
    std::string line;
    ready_ = sim_->ReadLine(line, 10000);
    std::string link = dir_ + "/modem";
    modem_ = std::make_unique<FMODEM>(loop_, [link](int, int baud) { return SerialPort::Open(link, baud); });
  }
  ~PtyVoiceLine() {
    modem_.reset();
    StopModem();
    std::filesystem::remove_all(dir_);
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
    if (modem_->WaitResult("QQ", 2000) != ResultRing) return false;
    return modem_->Answer() == 1;
  }

  // Ends the simulator, so that its transcript and kept files are complete.
  void StopModem() {
    if (sim_) {
      sim_->Signal(SIGTERM);
      sim_->Wait(10000);
      sim_.reset();
    }
  }

  std::vector<std::string> Transcript() const {
    std::ifstream in(dir_ + "/modem.jsonl");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  // The lines of one kind ("voice-tx-end", "event", ...).
  std::vector<std::string> Entries(const std::string& kind) const {
    std::vector<std::string> out;
    for (const std::string& l : Transcript())
      if (l.find("\"kind\":\"" + kind + "\"") != std::string::npos) out.push_back(l);
    return out;
  }
  // A numeric field of a transcript line; -1 when absent.
  static long long Field(const std::string& line, const std::string& name) {
    std::size_t at = line.find("\"" + name + "\":");
    if (at == std::string::npos) return -1;
    return std::atoll(line.c_str() + at + name.size() + 3);
  }
  std::vector<std::string> HeardFiles() const {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir_ + "/heard")) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
  }

  // A WAV file of the line's 8-bit samples, 44-byte header.
  static void WriteWav(const std::string& path, const std::vector<uint8_t>& samples, uint32_t rate) {
    auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    uint32_t n = static_cast<uint32_t>(samples.size());
    std::string h = "RIFF" + le32(36 + n + (n & 1)) + "WAVEfmt " + le32(16) + std::string("\x01\x00\x01\x00", 4) +
                    le32(rate) + le32(rate) + std::string("\x01\x00\x08\x00", 4) + "data" + le32(n);
    std::ofstream out(path, std::ios::binary);
    out << h;
    out.write(reinterpret_cast<const char*>(samples.data()), n);
    if (n & 1) out.put(0);
  }
  // The sample bytes after a 44-byte header.
  static std::vector<uint8_t> ReadSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 44) return {};
    uint32_t n = bytes[40] | bytes[41] << 8 | bytes[42] << 16 | uint32_t(bytes[43]) << 24;
    if (n > bytes.size() - 44) n = static_cast<uint32_t>(bytes.size() - 44);
    return std::vector<uint8_t>(bytes.begin() + 44, bytes.begin() + 44 + n);
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
  std::string dir_;
  std::unique_ptr<Process> sim_;
  bool ready_ = false;
  std::unique_ptr<FMODEM> modem_;
};

}  // namespace telvara::testing
