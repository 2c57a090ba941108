#pragma once
// The "Modem Set Up" dialog's own work: what it shows (the eleven keys of section
// "MODEM" as stored, without conversion, and the serial device each Com number opens),
// what OK makes of the controls, and the writing of the keys. The page draws the
// dialog and the view runs it (engine/SetupModem.cpp); the dialog reads and writes the
// profile only, never the running settings. Engine thread only.
#include <string>
#include <vector>

#include "platform/WindowModel.h"

namespace telvara {

class Profile;

// The controls as the page reports them at OK: the chosen button or list entry of each
// group as its position (the port as its Com number), -1 for none; the four texts as
// typed; the device chosen for the Com number, empty to leave it as it is.
struct SetupControls {
  int port = -1;
  int speed = -1, type = -1, device = -1, rings = -1, delay = -1, action = -1;
  std::string init, phone, pager, security;
  std::string map;

  // The page's answer, a JSON object with these names (a missing or null group is
  // none chosen). False for anything else.
  static bool FromJson(const std::string& text, SetupControls& out);
};

class CModemSetupDlg {
 public:
  static constexpr std::size_t kInitLimit = 59;
  static constexpr std::size_t kNumberLimit = 29;  // phone and pager
  static constexpr std::size_t kSecurityLimit = 15;
  static constexpr int kComPorts = 4;

  explicit CModemSetupDlg(Profile& profile) : profile_(profile) {}

  // Reads the keys; `serialDevices` are the devices the dialog offers for the port.
  void OnInitDialog(std::vector<std::string> serialDevices);
  // What OK reads from the controls: a group with nothing chosen takes its default
  // (port 2, speed 4, rings and delay -1, the others 0); texts lose control characters
  // and are cut to their limits (whole characters). A device that was not offered is
  // not taken.
  void TakeControls(const SetupControls& controls);
  // Writes the eleven keys in their order, then the Com number's device when one was
  // chosen. Empty, or why the profile could not be written.
  std::string Save();
  // The dialog as the window shows it.
  SetupDialogState State() const;

  // As stored in the profile.
  int port = 2, speed = 0, type = 0, device = 0, rings = 0, delay = 0, action = 0;
  std::string init, phone, pager, security;
  std::string map;  // the device for Com `port`; empty: as it is

 private:
  Profile& profile_;
  std::vector<std::string> serialDevices_;
};

}  // namespace telvara
