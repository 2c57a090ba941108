#include "SimProgram.h"

#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "WavData.h"

namespace telvara::sim {
namespace {

constexpr size_t kChunk = 4096;
constexpr int kLongestSleepMs = 3600 * 1000;

bool MakeDirectories(const std::string& path, std::string& error) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
      error = "cannot create " + partial + ": " + std::strerror(errno);
      return false;
    }
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = path + " is not a directory";
    return false;
  }
  return true;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

const char* const kUsage =
    "usage: telvara-modemsim [--dialect NAME] [--scenario FILE [--repeat]]\n"
    "                        [--control SOCKET] [--link PATH] [--transcript FILE]\n"
    "                        [--heard-dir DIR] [--caller FILE.wav]\n"
    "       telvara-modemsim --send SOCKET [STEP...]\n"
    "\n"
    "A simulated voice modem on a pseudo-terminal. Prints the device to open (the link\n"
    "when given) on standard output once it is ready; SIGTERM or SIGINT end it.\n"
    "  --dialect     rockwell (default), is-101, usr, cirrus, sierra, umc, or 0..5\n"
    "  --scenario    steps of the far end, one a line (see sim/README.md)\n"
    "  --repeat      start the scenario again each time it ends\n"
    "  --control     a Unix socket that takes scenario steps one a line\n"
    "  --link        a symlink to the pseudo-terminal, e.g. /tmp/telvara-demo/modem\n"
    "  --transcript  append a JSON line for every command, result, event and phase\n"
    "  --heard-dir   keep what was played to the line, one WAV file a phase\n"
    "  --caller      what the far end says whenever the modem receives voice\n"
    "\n"
    "--send sends steps to a running simulator's control socket, each argument one line\n"
    "(with none, the lines of standard input), and prints its answers; the exit status\n"
    "is 1 when a step was refused or the socket cannot be reached.\n";

std::optional<ProgramOptions> ParseOptions(const std::vector<std::string>& args, std::string& error, bool& help) {
  ProgramOptions o;
  help = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    if (name == "--help" || name == "-h") {
      help = true;
      return std::nullopt;
    }
    if (name == "--send") {
      error = "--send comes first and takes no other options";
      return std::nullopt;
    }
    if (name == "--repeat") {
      o.repeat = true;
      continue;
    }
    std::string* target = nullptr;
    if (name == "--scenario") target = &o.scenario;
    if (name == "--control") target = &o.control;
    if (name == "--link") target = &o.link;
    if (name == "--transcript") target = &o.transcript;
    if (name == "--heard-dir") target = &o.heardDir;
    if (name == "--caller") target = &o.caller;
    bool isDialect = name == "--dialect";
    if (!target && !isDialect) {
      error = "unknown option " + args[i];
      return std::nullopt;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return std::nullopt;
      }
      value = args[++i];
    }
    if (value.empty()) {
      error = name + " needs a value";
      return std::nullopt;
    }
    if (isDialect) {
      std::optional<ModemType> d = ParseDialect(value);
      if (!d) {
        error = "unknown dialect " + value;
        return std::nullopt;
      }
      o.dialect = *d;
    } else {
      *target = value;
    }
  }
  if (o.repeat && o.scenario.empty()) {
    error = "--repeat needs --scenario";
    return std::nullopt;
  }
  return o;
}

SimProgram::SimProgram(ProgramOptions options) : options_(std::move(options)) {}

SimProgram::~SimProgram() { RemoveLink(); }

void SimProgram::RemoveLink() {
  if (!linkMade_) return;
  linkMade_ = false;
  // Only our own link: another simulator may have taken the path since.
  std::vector<char> target(PATH_MAX + 1);
  ssize_t n = ::readlink(options_.link.c_str(), target.data(), PATH_MAX);
  if (n > 0 && std::string(target.data(), static_cast<size_t>(n)) == pty_.SlavePath()) ::unlink(options_.link.c_str());
}

void SimProgram::FollowPlug() {
  if (modem_->Plugged() == pty_.IsOpen()) return;
  fromHost_.clear();
  toHost_.clear();
  if (!modem_->Plugged()) {
    RemoveLink();
    pty_.Close();  // a host holding the device sees it hang up
    modem_->SetDtr(false);
    return;
  }
  std::string error;
  if (!pty_.Open(error) || (!options_.link.empty() && !MakeLink(error))) {
    pty_.Close();
    modem_->Note("no new device: " + error);
    modem_->Unplug();
    return;
  }
  modem_->GetTranscript().Add(modem_->Now(), "pty", pty_.SlavePath(), {{"link", options_.link}});
}

bool SimProgram::Start(std::string& error) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
    error = std::string("cannot block signals: ") + std::strerror(errno);
    return false;
  }
  signals_.Reset(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
  if (!signals_.IsValid()) {
    error = std::string("cannot watch signals: ") + std::strerror(errno);
    return false;
  }
  ::signal(SIGPIPE, SIG_IGN);

  if (!pty_.Open(error)) return false;
  modem_ = std::make_unique<SimModem>(options_.dialect, clock_.Now());
  Transcript& transcript = modem_->GetTranscript();
  transcript.SetMemoryLimit(0);  // the file is the record; memory would only grow
  if (!options_.transcript.empty() && !transcript.OpenFile(options_.transcript)) {
    error = "cannot write the transcript " + options_.transcript + ": " + std::strerror(errno);
    return false;
  }
  transcript.Add(modem_->Now(), "pty", pty_.SlavePath(), {{"link", options_.link}});
  if (!options_.heardDir.empty()) {
    if (!MakeDirectories(options_.heardDir, error)) return false;
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    runStamp_ = stamp;
    modem_->SetPhaseSink([this](const VoicePhase& p) { return KeepPhase(p); }, false);
  }
  if (!options_.caller.empty()) {
    WavLoad voice = LoadWavSamples(options_.caller);
    if (!voice.samples) {
      error = voice.error;
      return false;
    }
    modem_->SetVoice(voice.samples, options_.caller, voice.rate);
  }
  if (!options_.scenario.empty()) {
    ScenarioParse parse = LoadScenarioFile(options_.scenario);
    if (!parse.error.empty()) {
      error = parse.error;
      return false;
    }
    if (options_.repeat) {
      ScenarioStep again;
      again.action = ScenarioStep::Action::Repeat;
      again.source = "repeat";
      parse.steps.push_back(again);
    }
    modem_->AddScenario(std::move(parse.steps), "scenario");
  }
  if (!options_.control.empty()) {
    if (!control_.Listen(options_.control, error)) return false;
    control_.SetHandler([this](const std::string& line) { return ControlLine(line); });
  }
  if (!options_.link.empty() && !MakeLink(error)) return false;
  // Nobody has the device open yet: DTR is low until a host opens it.
  if (!pty_.HostPresent()) modem_->SetDtr(false);
  return true;
}

std::string SimProgram::DevicePath() const { return options_.link.empty() ? pty_.SlavePath() : options_.link; }

bool SimProgram::MakeLink(std::string& error) {
  const std::string& path = options_.link;
  if (!MakeDirectories(ParentOf(path), error)) return false;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    error = path + " exists and is not a symlink; not replacing it";
    return false;
  }
  std::string temp = path + ".new-" + std::to_string(::getpid());
  ::unlink(temp.c_str());
  if (::symlink(pty_.SlavePath().c_str(), temp.c_str()) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot make the link " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  linkMade_ = true;
  return true;
}

std::string SimProgram::KeepPhase(const VoicePhase& phase) {
  if (phase.kind != VoicePhase::Kind::Transmit) return "";
  char number[16];
  std::snprintf(number, sizeof number, "%03d", phase.number);
  std::string base = options_.heardDir + "/heard-" + runStamp_ + "-" + number;
  std::string error;
  for (int attempt = 1; attempt <= 100; ++attempt) {
    std::string path = base;
    if (attempt > 1) path.append("-").append(std::to_string(attempt));
    path += ".wav";
    if (WriteWavFile(path, phase.samples, phase.rate, error)) return path;
    if (errno != EEXIST) break;
  }
  modem_->Note("could not keep phase " + std::to_string(phase.number) + ": " + error);
  return "";
}

std::string SimProgram::ControlLine(const std::string& line) {
  ScenarioParse parse = ParseScenario(line, ".");
  if (!parse.error.empty()) {
    // "line 1: ..." says nothing on a socket that takes one line at a time.
    std::string why = parse.error;
    if (why.rfind("line 1: ", 0) == 0) why = why.substr(8);
    return "error: " + why;
  }
  modem_->AdvanceTo(clock_.Now());
  modem_->AppendSteps(std::move(parse.steps), "control");
  return "ok";
}

void SimProgram::HostOpened() {
  modem_->AdvanceTo(clock_.Now());
  modem_->SetDtr(true);
}

void SimProgram::HostClosed() {
  // What the host wrote before closing still counts, then DTR drops.
  ServeHost(POLLIN);
  modem_->AdvanceTo(clock_.Now());
  modem_->SetDtr(false);
  fromHost_.clear();
  toHost_.clear();
  pty_.ResetForNextHost();
}

void SimProgram::ServeHost(short revents) {
  if (revents & POLLIN) {
    char buffer[kChunk];
    for (int rounds = 0; rounds < 64; ++rounds) {
      if (!fromHost_.empty()) break;
      size_t room = modem_->HostRoom();
      if (room == 0) break;
      long n = pty_.Read(buffer, std::min(room, sizeof buffer));
      if (n <= 0) break;
      modem_->AdvanceTo(clock_.Now());
      size_t taken = modem_->HostWrite(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(n));
      fromHost_.assign(buffer + taken, static_cast<size_t>(n) - taken);
    }
  }
  if (revents & POLLOUT) FlushToHost();
}

void SimProgram::FlushToHost() {
  uint8_t buffer[kChunk];
  if (!pty_.HostPresent()) {
    // Nobody is listening: what the modem says is lost, as on a real line.
    while (modem_->HostRead(buffer, sizeof buffer) > 0) {
    }
    toHost_.clear();
    return;
  }
  for (int rounds = 0; rounds < 64; ++rounds) {
    if (toHost_.empty()) {
      size_t n = modem_->HostRead(buffer, sizeof buffer);
      if (n == 0) return;
      toHost_.assign(reinterpret_cast<const char*>(buffer), n);
    }
    long w = pty_.Write(toHost_.data(), toHost_.size());
    if (w <= 0) return;  // the pty is full: wait for POLLOUT
    toHost_.erase(0, static_cast<size_t>(w));
  }
}

int SimProgram::Run() {
  std::vector<pollfd> fds;
  for (;;) {
    uint32_t now = clock_.Now();
    modem_->AdvanceTo(now);
    FollowPlug();
    if (!fromHost_.empty() && modem_->HostRoom() > 0) {
      size_t taken = modem_->HostWrite(reinterpret_cast<const uint8_t*>(fromHost_.data()), fromHost_.size());
      fromHost_.erase(0, taken);
    }
    FlushToHost();
    if (modem_->ExitRequested()) return 0;

    fds.clear();
    // poll() skips the descriptors of a device that is unplugged (-1).
    fds.push_back({signals_.Get(), POLLIN, 0});
    fds.push_back({pty_.NotifyFd(), POLLIN, 0});
    const size_t masterIndex = 2;
    short events = 0;
    if (pty_.HostPresent()) {
      if (fromHost_.empty() && modem_->HostRoom() > 0) events |= POLLIN;
      if (!toHost_.empty()) events |= POLLOUT;
    }
    fds.push_back({pty_.MasterFd(), events, 0});
    size_t controlFrom = fds.size();
    control_.AddPollFds(fds);

    uint32_t next = modem_->NextChange(now);
    uint32_t wait = next - clock_.Now();
    if (static_cast<int32_t>(wait) < 0) wait = 0;
    int timeout = wait > static_cast<uint32_t>(kLongestSleepMs) ? kLongestSleepMs : static_cast<int>(wait);
    int r = ::poll(fds.data(), fds.size(), timeout);
    if (r < 0 && errno != EINTR) return 1;
    if (r <= 0) continue;

    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info;
      if (::read(signals_.Get(), &info, sizeof info) > 0) {
        modem_->AdvanceTo(clock_.Now());
        modem_->GetTranscript().Add(modem_->Now(), "exit", "", {{"signal", static_cast<int64_t>(info.ssi_signo)}});
        return 0;
      }
    }
    if (fds[1].revents & POLLIN) {
      switch (pty_.TakeNotifications()) {
        case PtyLine::HostChange::Opened: HostOpened(); break;
        case PtyLine::HostChange::Closed: HostClosed(); break;
        case PtyLine::HostChange::None: break;
      }
    }
    if (fds[masterIndex].revents && pty_.HostPresent()) ServeHost(fds[masterIndex].revents);
    std::vector<pollfd> controlFds(fds.begin() + static_cast<long>(controlFrom), fds.end());
    control_.HandlePoll(controlFds);
  }
}

}  // namespace telvara::sim
