#pragma once
// printf-style formatting into a string as long as the text needs. Any thread.
#include <cstdio>
#include <string>

namespace telvara {

template <typename... Args>
std::string FormatText(const char* format, Args... args) {
  int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

}  // namespace telvara
