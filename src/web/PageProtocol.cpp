#include "web/PageProtocol.h"

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>

#include "web/JsonText.h"

namespace telvara {

namespace {

using Json = nlohmann::json;

constexpr std::size_t kMaxCommandData = 1024;

bool KnownCommand(int id) {
  switch (id) {
    case command::kBoxAnswer:
    case command::kSoundReport:
    case command::kSetupAnswer:
    case command::kFileNew:
    case command::kFileOpen:
    case command::kFileSave:
    case command::kDeleteMessage:
    case command::kPlayMessage:
    case command::kPlayAnnouncement:
    case command::kRecordAnnouncement:
    case command::kSetupModem:
    case command::kAbout:
    case command::kExit: return true;
    default: return false;
  }
}

// "<box id> <button>": the box must be open and offer that button.
bool BoxAnswerFits(std::string_view data, const WindowState& state) {
  std::size_t space = data.find(' ');
  if (space == std::string_view::npos || space == 0) return false;
  int boxId = 0;
  auto [end, ec] = std::from_chars(data.data(), data.data() + space, boxId);
  if (ec != std::errc() || end != data.data() + space) return false;
  std::string_view button = data.substr(space + 1);
  return std::any_of(state.boxes.begin(), state.boxes.end(), [&](const MessageBoxState& box) {
    return box.id == boxId && std::find(box.buttons.begin(), box.buttons.end(), button) != box.buttons.end();
  });
}

// The set-up dialog, or null while it is closed.
Json SetupToJson(const SetupDialogState& setup) {
  if (!setup.open) return nullptr;
  Json ports = Json::array();
  for (const SetupDeviceState& p : setup.ports)
    ports.push_back({{"com", p.com}, {"device", p.device}, {"exists", p.exists}});
  return {{"revision", setup.revision}, {"port", setup.port},        {"speed", setup.speed},
          {"type", setup.type},         {"device", setup.device},    {"rings", setup.rings},
          {"delay", setup.delay},       {"action", setup.action},    {"init", setup.init},
          {"phone", setup.phone},       {"pager", setup.pager},      {"security", setup.security},
          {"map", setup.map},           {"ports", std::move(ports)}, {"serialDevices", setup.serialDevices}};
}

}  // namespace

std::string StateToJson(const WindowState& state, StateRows withRows) {
  Json boxes = Json::array();
  for (const MessageBoxState& box : state.boxes) {
    boxes.push_back(
        {{"id", box.id}, {"title", box.title}, {"text", box.text}, {"buttons", box.buttons}, {"modal", box.modal}});
  }
  Json sound = nullptr;
  if (state.sound.id != 0) {
    sound = {{"id", state.sound.id},
             {"page", state.sound.page},
             {"kind", state.sound.kind},
             {"url", state.sound.url},
             {"stop", state.sound.stop}};
  }
  Json json = {{"version", state.version},
               {"title", state.title},
               {"startupVisible", state.startupVisible},
               {"startupTitle", state.startupTitle},
               {"startupStatus", state.startupStatus},
               {"status", state.status},
               {"header", state.header},
               {"rowsVersion", state.rowsVersion},
               {"boxes", std::move(boxes)},
               {"lineBusy", state.lineBusy},
               {"sound", std::move(sound)},
               {"closing", state.closing},
               {"setup", SetupToJson(state.setup)},
               {"logFiles", state.logFiles},
               {"logFilesListed", state.logFilesListed}};
  std::string rest = json.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (withRows == StateRows::LeftOut) return rest;
  // The rows are written by hand, first: a JSON tree of 65,535 of them costs ten
  // times as long.
  std::string out = "{\"rows\":[";
  out.reserve(rest.size() + state.rows.size() * 100);
  for (const ListRow& row : state.rows) {
    if (out.back() != '[') out += ',';
    out += "{\"text\":";
    AppendJsonString(out, row.text);
    out += ",\"identity\":";
    AppendJsonString(out, row.identity);
    out += '}';
  }
  out += "],";
  out.append(rest, 1);  // its fields, without its opening brace
  return out;
}

CommandCheck ParsePageCommand(std::string_view body, const WindowState& state, PageCommand& out) {
  Json json = Json::parse(body, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return CommandCheck::Malformed;
  auto id = json.find("id");
  if (id == json.end() || !id->is_number_integer()) return CommandCheck::Malformed;
  auto data = json.find("data");
  if (data != json.end() && !data->is_string()) return CommandCheck::Malformed;
  std::string text = data == json.end() ? std::string() : data->get<std::string>();
  if (text.size() > kMaxCommandData ||
      std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    return CommandCheck::Malformed;
  }
  auto page = json.find("page");
  if (page != json.end()) {
    if (!page->is_string()) return CommandCheck::Malformed;
    const std::string& text = page->get_ref<const std::string&>();
    if (text.size() > 64 || !std::all_of(text.begin(), text.end(), [](char c) {
          return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
        })) {
      return CommandCheck::Malformed;
    }
    out.page = text;
  }
  long long value = id->get<long long>();
  if (value < 0 || value > 0xffff || !KnownCommand(static_cast<int>(value))) return CommandCheck::UnknownId;
  out.id = static_cast<int>(value);
  if (out.id == command::kBoxAnswer && !BoxAnswerFits(text, state)) return CommandCheck::NoSuchBox;
  out.data = std::move(text);
  return CommandCheck::Ok;
}

}  // namespace telvara
