#include "Transcript.h"

#include <fcntl.h>
#include <unistd.h>

namespace telvara::sim {

std::string JsonString(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  return out;
}

Transcript::~Transcript() {
  if (file_) std::fclose(file_);
}

bool Transcript::OpenFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::FILE* f = ::fdopen(fd, "a");
  if (!f) {
    ::close(fd);
    return false;
  }
  if (file_) std::fclose(file_);
  file_ = f;
  return true;
}

void Transcript::Add(uint64_t t, const std::string& kind, const std::string& text,
                     std::initializer_list<Field> fields) {
  std::string json = "{\"t\":" + std::to_string(t) + ",\"kind\":" + JsonString(kind);
  if (!text.empty()) json += ",\"text\":" + JsonString(text);
  for (const Field& f : fields) {
    json += ",";
    json += JsonString(f.first);
    json += ":";
    if (const auto* s = std::get_if<std::string>(&f.second)) {
      json += JsonString(*s);
    } else if (const auto* n = std::get_if<int64_t>(&f.second)) {
      json += std::to_string(*n);
    } else {
      json += std::get<bool>(f.second) ? "true" : "false";
    }
  }
  json += "}";
  if (file_) {
    std::fputs(json.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
  }
  if (memoryLimit_ == 0) return;
  if (entries_.size() >= memoryLimit_) entries_.pop_front();
  entries_.push_back(TranscriptEntry{t, kind, text, std::move(json)});
}

std::vector<std::string> Transcript::Texts(const std::string& kind) const {
  std::vector<std::string> out;
  for (const TranscriptEntry& e : entries_)
    if (e.kind == kind) out.push_back(e.text);
  return out;
}

}  // namespace telvara::sim
