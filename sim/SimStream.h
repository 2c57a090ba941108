#pragma once
// The simulated modem in-process: a ByteStream the driver can talk to and a
// VirtualDevice the virtual waiter can move time for. Reads and writes first run the
// modem up to the clock's current tick; NextChange tells the waiter when the modem
// will next have something for the host or room for it. Engine (test) thread only.
#include <memory>
#include <set>
#include <string>

#include "SimModem.h"
#include "platform/ByteStream.h"
#include "platform/Clock.h"
#include "platform/VirtualWaiter.h"

namespace telvara::sim {

class SimStream final : public ByteStream, public VirtualDevice {
 public:
  SimStream(const Clock& clock, ModemType dialect);

  SimModem& Modem() { return modem_; }
  Transcript& GetTranscript() { return modem_.GetTranscript(); }
  // Parses scenario text and runs it on its own runner; the error text, or "".
  std::string AddScenario(const std::string& text, const std::string& name = "test");

  // ByteStream
  long Read(void* buffer, std::size_t max) override;
  long Write(const void* data, std::size_t count) override;
  int InputQueued() override;
  int OutputQueued() override;  // the samples waiting in the transmit buffer
  bool SetDtr(bool raised) override;
  int PollFd() const override { return -1; }

  // VirtualDevice
  void AdvanceTo(uint32_t now) override { modem_.AdvanceTo(now); }
  bool Ready(WaitFor what) override;
  uint32_t NextChange(uint32_t now) override { return modem_.NextChange(now); }

  // How many port handles are open (MakeSimPortOpener's streams).
  int OpenHandles() const { return handles_; }

 private:
  friend class SimPortHandle;
  void Sync() { modem_.AdvanceTo(clock_.Now()); }

  const Clock& clock_;
  SimModem modem_;
  int handles_ = 0;
};

// A PortOpener for the driver: "COM<port>" opens a handle on `stream` (raising DTR;
// closing it drops DTR, as closing a serial device does). Ports listed in `missing`
// fail as a device that does not exist; a second open while one is open fails as busy.
// The stream must outlive the opener and every handle.
PortOpener MakeSimPortOpener(SimStream& stream, std::set<int> missing = {});

}  // namespace telvara::sim
