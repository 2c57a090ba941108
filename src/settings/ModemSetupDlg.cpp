#include "settings/ModemSetupDlg.h"

#include <sys/stat.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "platform/Profile.h"
#include "platform/SerialPort.h"
#include "settings/ModemSettings.h"

namespace telvara {

namespace {

using Json = nlohmann::json;

// Without control characters (a profile value is one line), cut to `limit` bytes
// without splitting a character.
std::string CleanText(const std::string& text, std::size_t limit) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) out += c;
  }
  if (out.size() <= limit) return out;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
  out.resize(cut);
  return out;
}

// The position of the chosen entry when it is one of `count`, else `none`.
int Chosen(int value, int count, int none) { return value >= 0 && value < count ? value : none; }

}  // namespace

bool SetupControls::FromJson(const std::string& text, SetupControls& out) {
  Json json = Json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return false;
  SetupControls c;
  for (auto [name, field] : {std::pair{"port", &c.port},
                             {"speed", &c.speed},
                             {"type", &c.type},
                             {"device", &c.device},
                             {"rings", &c.rings},
                             {"delay", &c.delay},
                             {"action", &c.action}}) {
    auto it = json.find(name);
    if (it == json.end() || it->is_null()) continue;
    if (!it->is_number_integer()) return false;
    long long value = it->get<long long>();
    *field = value >= -1 && value <= 100 ? static_cast<int>(value) : -1;
  }
  for (auto [name, field] : {std::pair{"init", &c.init},
                             {"phone", &c.phone},
                             {"pager", &c.pager},
                             {"security", &c.security},
                             {"map", &c.map}}) {
    auto it = json.find(name);
    if (it == json.end()) continue;
    if (!it->is_string()) return false;
    *field = it->get<std::string>();
  }
  out = std::move(c);
  return true;
}

void CModemSetupDlg::OnInitDialog(std::vector<std::string> serialDevices) {
  const std::string s = kProfileSection;
  port = profile_.GetInt(s, "PORT", 2);
  speed = profile_.GetInt(s, "SPEED", 0);
  type = profile_.GetInt(s, "TYPE", 0);
  device = profile_.GetInt(s, "DEVICE", 0);
  rings = profile_.GetInt(s, "RINGS", 0);
  delay = profile_.GetInt(s, "DELAY", 0);
  action = profile_.GetInt(s, "ACTION", 0);
  // A hand-edited profile may hold more than the fields do; the dialog shows what fits.
  init = CleanText(profile_.GetString(s, "INIT", "AT&F&C1&D2"), kInitStringMax);
  phone = CleanText(profile_.GetString(s, "PHONE", ""), kNumberMax);
  pager = CleanText(profile_.GetString(s, "PAGER", ""), kNumberMax);
  security = CleanText(profile_.GetString(s, "SECURITY", "857"), kNumberMax);
  serialDevices_ = std::move(serialDevices);
  map.clear();
}

void CModemSetupDlg::TakeControls(const SetupControls& c) {
  port = c.port >= 1 && c.port <= kComPorts ? c.port : 2;
  speed = Chosen(c.speed, 4, 4);
  type = Chosen(c.type, 6, 0);
  device = Chosen(c.device, 3, 0);
  action = Chosen(c.action, 3, 0);
  rings = Chosen(c.rings, 6, -1);
  delay = Chosen(c.delay, 6, -1);
  init = CleanText(c.init, kInitLimit);
  phone = CleanText(c.phone, kNumberLimit);
  pager = CleanText(c.pager, kNumberLimit);
  security = CleanText(c.security, kSecurityLimit);
  // Only a device the dialog offered: a path from the browser never reaches the profile.
  bool offered = std::find(serialDevices_.begin(), serialDevices_.end(), c.map) != serialDevices_.end();
  map = offered ? c.map : "";
}

std::string CModemSetupDlg::Save() {
  const std::string s = kProfileSection;
  // Each write rewrites the whole file with every value given so far, so the last one
  // to succeed has put them all on disk.
  bool written = false;
  for (auto [key, value] : {std::pair{"PORT", port},
                            {"SPEED", speed},
                            {"TYPE", type},
                            {"DEVICE", device},
                            {"RINGS", rings},
                            {"DELAY", delay},
                            {"ACTION", action}}) {
    written = profile_.WriteInt(s, key, value);
  }
  for (auto [key, value] : {std::pair{"INIT", &init}, {"PHONE", &phone}, {"PAGER", &pager}, {"SECURITY", &security}})
    written = profile_.WriteString(s, key, *value);
  if (!map.empty() && map != SerialDevicePath(profile_, port))
    written = profile_.WriteString("PORTS", "COM" + std::to_string(port), map);
  return written ? "" : profile_.WriteError();
}

SetupDialogState CModemSetupDlg::State() const {
  SetupDialogState state;
  state.port = port;
  state.speed = speed;
  state.type = type;
  state.device = device;
  state.rings = rings;
  state.delay = delay;
  state.action = action;
  state.init = init;
  state.phone = phone;
  state.pager = pager;
  state.security = security;
  state.map = map;
  for (int com = 1; com <= kComPorts; ++com) {
    std::string path = SerialDevicePath(profile_, com);
    struct stat st {};
    state.ports.push_back({com, path, !path.empty() && ::stat(path.c_str(), &st) == 0});
  }
  state.serialDevices = serialDevices_;
  return state;
}

}  // namespace telvara
