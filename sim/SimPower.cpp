// The simulated modem's power and its presence as a device: a modem switched off stays
// on the port and answers nothing; one unplugged is also gone from the host's view
// (the pseudo-terminal program takes its device away).
#include "SimModem.h"

namespace telvara::sim {

void SimModem::LosePower() {
  GoOnHook(OnHook::Power);
  powered_ = false;
  // What the modem had not yet sent is lost with it, and so is what it was told.
  out_.clear();
  outBytes_ = 0;
  heldInput_.clear();
  reader_ = CommandLineReader{};
  settings_ = Settings{};
}

void SimModem::PowerOff() {
  if (!powered_) {
    Note(plugged_ ? "power off: the modem is off already" : "power off: the modem is unplugged");
    return;
  }
  transcript_.Add(now_, "power", "off");
  LosePower();
}

void SimModem::PowerOn() {
  if (powered_ || !plugged_) {
    Note(plugged_ ? "power on: the modem is on already" : "power on: the modem is unplugged");
    return;
  }
  transcript_.Add(now_, "power", "on");
  powered_ = true;
}

void SimModem::Unplug() {
  if (!plugged_) {
    Note("unplug: the modem is unplugged already");
    return;
  }
  transcript_.Add(now_, "unplug");
  if (powered_) LosePower();
  plugged_ = false;
}

void SimModem::Plug() {
  if (plugged_) {
    Note("plug: the modem is plugged in already");
    return;
  }
  transcript_.Add(now_, "plug");
  plugged_ = true;
  powered_ = true;
}

}  // namespace telvara::sim
