#include "web/SoundFiles.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

namespace telvara {

std::string_view IdentityFileName(std::string_view identity) {
  std::size_t space = identity.rfind(' ');
  return space == std::string_view::npos ? std::string_view() : identity.substr(0, space);
}

bool ListedFile(const RowList& rows, std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
      name.find('\0') != std::string_view::npos) {
    return false;
  }
  return std::any_of(rows.begin(), rows.end(),
                     [name](const ListRow& row) { return IdentityFileName(row.identity) == name; });
}

std::optional<OpenFile> OpenRegularFile(const std::string& path) {
  UniqueFileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (!fd.IsValid()) return std::nullopt;
  struct stat st;
  if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  OpenFile file;
  file.fd = std::move(fd);
  file.size = static_cast<uint64_t>(st.st_size);
  return file;
}

std::string SafeDownloadName(std::string_view name) {
  std::string safe(name);
  for (char& c : safe) {
    bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
    if (!plain) c = '_';
  }
  return safe;
}

}  // namespace telvara
