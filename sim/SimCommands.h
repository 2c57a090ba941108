#pragma once
// How the simulated modem takes the host's bytes in command state: a command line runs
// from the "AT" (any case) to the CR, backspace deletes, a line that grows too long is
// refused whole, and bytes outside any line are noise. Belongs to the thread that runs
// the simulator.
#include <cstddef>
#include <cstdint>
#include <string>

namespace telvara::sim {

class CommandLineReader {
 public:
  static constexpr size_t kLineLimit = 255;  // command line characters

  struct Line {
    enum class Kind {
      None,     // nothing complete yet
      Command,  // `text` is a whole command line, "AT" included
      TooLong,  // `text` is what was kept of a line over the limit
      Ignored,  // `text` is the noise a CR ended
    };
    Kind kind = Kind::None;
    std::string text;
  };

  Line Feed(uint8_t b);

 private:
  std::string line_;   // from the 'A' of "AT"
  std::string noise_;  // bytes outside any command line
  bool tooLong_ = false;
};

}  // namespace telvara::sim
