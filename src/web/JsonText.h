#pragma once
// Writing JSON strings quickly, for the message list's rows: 65,535 of them go to a
// page in one event. Bytes that are not UTF-8 become U+FFFD, as in the rest of the
// state. A pure function; any thread may call it.
#include <string>
#include <string_view>

namespace telvara {

// Appends `text` to `out` as a quoted JSON string.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace telvara
