#include "engine/CallerId.h"

#include "store/Message.h"

namespace telvara {
namespace {

std::string Trimmed(const std::string& text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Printable characters only, at most the field's length.
std::string Clean(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c < 0x20 || c > 0x7e) continue;
    if (out.size() == CMessage::kCallerIdMax) break;
    out += c;
  }
  return Trimmed(out);
}

// The reason a modem gives instead of a number or a name; nullptr for a real one.
const char* Withheld(const std::string& value) {
  if (value == "P") return "Private";
  if (value == "O") return "Unavailable";
  return nullptr;
}

}  // namespace

bool CallerId::Take(const std::string& line) {
  std::size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  std::string key = Trimmed(line.substr(0, equals));
  std::string* field = key == "DATE"   ? &date_
                       : key == "TIME" ? &time_
                       : key == "NMBR" ? &number_
                       : key == "NAME" ? &name_
                                       : nullptr;
  if (field == nullptr) return false;
  std::string value = Clean(Trimmed(line.substr(equals + 1)));
  if (value.empty()) return true;
  if (!field->empty()) Clear();
  *field = value;
  return true;
}

std::string CallerId::Text() const {
  if (!number_.empty() && !Withheld(number_)) return number_;
  if (!name_.empty() && !Withheld(name_)) return name_;
  if (const char* reason = Withheld(number_.empty() ? name_ : number_)) return reason;
  return "";
}

}  // namespace telvara
