#include "SimStream.h"

#include <climits>

namespace telvara::sim {

SimStream::SimStream(const Clock& clock, ModemType dialect) : clock_(clock), modem_(dialect, clock.Now()) {}

std::string SimStream::AddScenario(const std::string& text, const std::string& name) {
  ScenarioParse parse = ParseScenario(text, ".");
  if (!parse.error.empty()) return parse.error;
  Sync();
  modem_.AddScenario(std::move(parse.steps), name);
  return "";
}

long SimStream::Read(void* buffer, std::size_t max) {
  Sync();
  return static_cast<long>(modem_.HostRead(static_cast<uint8_t*>(buffer), max));
}

long SimStream::Write(const void* data, std::size_t count) {
  Sync();
  return static_cast<long>(modem_.HostWrite(static_cast<const uint8_t*>(data), count));
}

int SimStream::InputQueued() {
  Sync();
  size_t n = modem_.HostReadable();
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

int SimStream::OutputQueued() {
  Sync();
  return static_cast<int>(modem_.TransmitBuffered());
}

bool SimStream::SetDtr(bool raised) {
  Sync();
  modem_.SetDtr(raised);
  return true;
}

bool SimStream::Ready(WaitFor what) {
  switch (what) {
    case WaitFor::Input: return modem_.HostReadable() > 0;
    case WaitFor::OutputRoom: return modem_.HostRoom() > 0;
    case WaitFor::Messages: return false;
  }
  return false;
}

// One open of the simulated port: forwards to the stream, and closing it is the host
// letting go of the device. Engine (test) thread only, like the stream.
class SimPortHandle final : public ByteStream {
 public:
  explicit SimPortHandle(SimStream& stream) : stream_(stream) {
    ++stream_.handles_;
    stream_.SetDtr(true);
  }
  ~SimPortHandle() override {
    --stream_.handles_;
    stream_.SetDtr(false);
  }
  long Read(void* buffer, std::size_t max) override { return stream_.Read(buffer, max); }
  long Write(const void* data, std::size_t count) override { return stream_.Write(data, count); }
  int InputQueued() override { return stream_.InputQueued(); }
  int OutputQueued() override { return stream_.OutputQueued(); }
  bool SetDtr(bool raised) override { return stream_.SetDtr(raised); }
  int PollFd() const override { return -1; }

 private:
  SimStream& stream_;
};

PortOpener MakeSimPortOpener(SimStream& stream, std::set<int> missing) {
  return [&stream, missing](int port, int /*baud*/) {
    PortOpenResult r;
    std::string name = "COM" + std::to_string(port);
    if (missing.count(port)) {
      r.error = "cannot open " + name + " (simulated): No such file or directory";
    } else if (stream.OpenHandles() > 0) {
      r.error = "cannot open " + name + " (simulated): Device or resource busy";
    } else {
      r.stream = std::make_unique<SimPortHandle>(stream);
    }
    return r;
  };
}

}  // namespace telvara::sim
