#pragma once
// What the page and the window's server say to each other: the window state as JSON,
// and the commands that the page posts ({"id": <command id>, "data": "<text>"}).
// Pure functions; any thread may call them.
#include <string>
#include <string_view>

#include "platform/WindowModel.h"

namespace telvara {

// Whether the state's JSON carries its rows. "rowsVersion" is always there: a page
// that has the rows of that version keeps them when "rows" is left out.
enum class StateRows { Included, LeftOut };

// The state as one JSON object. Bytes that are not UTF-8 (a status built from a
// modem's garbage, say) become U+FFFD rather than failing.
std::string StateToJson(const WindowState& state, StateRows rows = StateRows::Included);

struct PageCommand {
  int id = 0;
  std::string data;
  std::string page;  // the sending page's id: up to 64 letters, digits and '-'
};

enum class CommandCheck {
  Ok,
  Malformed,  // not JSON, wrong types, or data with control characters or too long
  UnknownId,  // no command of the window has that id
  NoSuchBox,  // a box answer for a box that is not open, or with a button it lacks
};

// Reads a posted command and checks it against the state the page was shown.
CommandCheck ParsePageCommand(std::string_view body, const WindowState& state, PageCommand& out);

}  // namespace telvara
