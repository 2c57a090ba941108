#pragma once
// A request as the window's server hands it to the access rules and the router, and
// the answer they give. The HTTP library reads and writes the wire; these are plain
// data, any thread may use them.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FileDescriptor.h"

namespace telvara {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method;
  std::string path;    // without its query
  HeaderList headers;  // names in lower case
  HeaderList query;    // the query's arguments, decoded
  HeaderList cookies;  // the Cookie header's name=value pairs
  std::string body;

  // The value of the first header of that (lower-case) name, or nullptr.
  const std::string* Header(std::string_view name) const { return Find(headers, name); }
  const std::string* Query(std::string_view name) const { return Find(query, name); }
  const std::string* Cookie(std::string_view name) const { return Find(cookies, name); }

 private:
  static const std::string* Find(const HeaderList& list, std::string_view name) {
    for (const auto& [key, value] : list) {
      if (key == name) return &value;
    }
    return nullptr;
  }
};

struct HttpResponse {
  int status = 200;
  std::string contentType;
  std::string body;
  HeaderList headers;  // beside the standard ones
  // When open, the body instead: fileSize bytes streamed from the file.
  UniqueFileDescriptor file;
  uint64_t fileSize = 0;
};

}  // namespace telvara
