#include "platform/Profile.h"

#include "platform/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

namespace telvara {
namespace {

constexpr std::size_t kMaxProfileBytes = 1 << 20;

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// "[name]" gives name; anything else is not a section line.
bool SectionName(const std::string& line, std::string& name) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  std::size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

bool KeyValue(const std::string& line, std::string& key, std::string& value) {
  std::string t = Trim(line);
  if (t.empty() || t[0] == ';' || t[0] == '#') return false;
  std::size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(t.substr(0, eq));
  value = Trim(t.substr(eq + 1));
  return !key.empty();
}

}  // namespace

Profile::Profile(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    missing_ = errno == ENOENT;
    if (!missing_) loadError_ = path_ + ": " + std::strerror(errno);
    return;
  }
  std::string text;
  text.resize(kMaxProfileBytes + 1);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxProfileBytes) {
    loadError_ = path_ + ": larger than 1 MiB, ignored";
    return;
  }
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines_.push_back(line);
  }
}

bool Profile::Find(const std::string& section, const std::string& key, std::string& value) const {
  bool inSection = false;
  for (const std::string& line : lines_) {
    std::string name, k, v;
    if (SectionName(line, name)) {
      inSection = SameName(name, section);
    } else if (inSection && KeyValue(line, k, v) && SameName(k, key)) {
      value = v;
      return true;
    }
  }
  return false;
}

bool Profile::ParseLeadingInt(const std::string& text, int& out) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  out = static_cast<int>(v);
  return true;
}

bool Profile::Has(const std::string& section, const std::string& key) const {
  std::string v;
  return Find(section, key, v);
}

int Profile::GetInt(const std::string& section, const std::string& key, int defaultValue) const {
  std::string v;
  int out;
  if (Find(section, key, v) && ParseLeadingInt(v, out)) return out;
  return defaultValue;
}

std::string Profile::GetString(const std::string& section, const std::string& key,
                               const std::string& defaultValue) const {
  std::string v;
  return Find(section, key, v) ? v : defaultValue;
}

bool Profile::WriteInt(const std::string& section, const std::string& key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool Profile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  std::string clean;
  for (char c : value)
    if (c != '\n' && c != '\r') clean += c;  // one value, one line
  std::string entry = key + "=" + clean;
  bool inSection = false;
  std::size_t insertAt = std::string::npos;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    std::string name, k, v;
    if (SectionName(lines_[i], name)) {
      if (inSection) break;
      inSection = SameName(name, section);
      if (inSection) insertAt = i + 1;
    } else if (inSection) {
      if (KeyValue(lines_[i], k, v)) {
        if (SameName(k, key)) {
          lines_[i] = entry;
          return Save();
        }
        insertAt = i + 1;
      }
    }
  }
  if (insertAt == std::string::npos) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back("");
    lines_.push_back("[" + section + "]");
    lines_.push_back(entry);
  } else {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
  }
  return Save();
}

bool Profile::Save() {
  writeError_.clear();
  if (path_.empty()) return true;
  std::string text;
  for (const std::string& line : lines_) text += line + "\n";
  // The profile keeps its mode; a new one is private, since it may hold the window's
  // password.
  writeError_ = ReplaceFile(path_, text, true);
  return writeError_.empty();
}

}  // namespace telvara
