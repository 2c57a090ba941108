#include "web/JsonText.h"

namespace telvara {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool Continuation(std::string_view text, std::size_t at, unsigned char low = 0x80, unsigned char high = 0xBF) {
  if (at >= text.size()) return false;
  auto c = static_cast<unsigned char>(text[at]);
  return c >= low && c <= high;
}

// The length of the well-formed UTF-8 sequence that starts at `at` (a byte of 0x80 or
// more); 0 when there is none.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
  auto lead = static_cast<unsigned char>(text[at]);
  if (lead >= 0xC2 && lead <= 0xDF) return Continuation(text, at + 1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    // No overlong forms (E0) and no surrogates (ED).
    unsigned char low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    return Continuation(text, at + 1, low, high) && Continuation(text, at + 2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    // Nothing overlong (F0) or past U+10FFFF (F4).
    unsigned char low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    return Continuation(text, at + 1, low, high) && Continuation(text, at + 2) && Continuation(text, at + 3) ? 4 : 0;
  }
  return 0;
}

bool Plain(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    if (Plain(c)) {
      std::size_t end = i + 1;
      while (end < text.size() && Plain(static_cast<unsigned char>(text[end]))) ++end;
      out.append(text, i, end - i);
      i = end;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
      ++i;
    } else if (std::size_t n = SequenceLength(text, i); n > 0) {
      out.append(text, i, n);
      i += n;
    } else {
      out += kReplacement;
      ++i;
    }
  }
  out += '"';
}

}  // namespace telvara
