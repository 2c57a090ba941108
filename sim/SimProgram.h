#pragma once
// telvara-modemsim: the simulated modem on a pseudo-terminal. One poll() loop waits for
// the host's bytes, room to write to it, the control socket, host opens and closes,
// SIGTERM/SIGINT, and the modem's next timed change; nothing else wakes it, so an idle
// simulator costs next to nothing. Single-threaded.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ControlServer.h"
#include "PtyLine.h"
#include "SimModem.h"
#include "platform/Clock.h"
#include "platform/FileDescriptor.h"

namespace telvara::sim {

struct ProgramOptions {
  ModemType dialect = Rockwell;
  std::string scenario;    // scenario file
  bool repeat = false;     // run the scenario again and again
  std::string control;     // control socket path
  std::string link;        // symlink to the pty slave
  std::string transcript;  // JSON lines file (appended)
  std::string heardDir;    // WAV files of what the far end heard
  std::string caller;      // the far end's voice from the start
};

// Parses the command line; nullopt with `error` set (or `help` true) otherwise.
std::optional<ProgramOptions> ParseOptions(const std::vector<std::string>& args, std::string& error, bool& help);
extern const char* const kUsage;

class SimProgram {
 public:
  explicit SimProgram(ProgramOptions options);
  ~SimProgram();

  // Sets everything up; false with the reason otherwise.
  bool Start(std::string& error);
  // The path a host should open: the link when there is one, else the pty slave.
  std::string DevicePath() const;
  // Runs until SIGTERM, SIGINT or an exit step; the exit status.
  int Run();

 private:
  void ServeHost(short revents);
  void FlushToHost();
  void HostOpened();
  void HostClosed();
  std::string ControlLine(const std::string& line);
  std::string KeepPhase(const VoicePhase& phase);
  bool MakeLink(std::string& error);
  void RemoveLink();
  // Takes the device away or brings a new one, as the modem was unplugged or plugged in.
  void FollowPlug();

  ProgramOptions options_;
  RealClock clock_;
  PtyLine pty_;
  std::unique_ptr<SimModem> modem_;
  ControlServer control_;
  UniqueFileDescriptor signals_;
  std::string toHost_;    // bytes taken from the modem, not yet written to the pty
  std::string fromHost_;  // bytes read from the pty, not yet taken by the modem
  bool linkMade_ = false;
  std::string runStamp_;
};

}  // namespace telvara::sim
