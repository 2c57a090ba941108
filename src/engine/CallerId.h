#pragma once
// The caller's identity as a modem with caller ID turned on reports it between the first
// and the second ring: formatted lines "DATE = 1206", "TIME = 2134", "NMBR = 5551234",
// "NAME = JANE" (with or without spaces around '='). The text is the modem's and the
// exchange's: only printable characters are kept, each value cut to the message's
// caller-ID field. Engine thread only.
#include <string>

namespace telvara {

class CallerId {
 public:
  // Takes one line from the modem; false when it is no caller-ID line (and changes
  // nothing). A field already seen begins the next identity, so the last one reported
  // is the one kept.
  bool Take(const std::string& line);
  void Clear() { *this = CallerId(); }
  bool Known() const { return !number_.empty() || !name_.empty(); }
  // What the message keeps and the window shows: the number; the name when there is
  // no number, or the number is withheld ("P") or unavailable ("O"); else "Private" or
  // "Unavailable". Empty when nothing was reported.
  std::string Text() const;

 private:
  std::string date_, time_, number_, name_;
};

}  // namespace telvara
