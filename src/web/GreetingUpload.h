#pragma once
// A greeting recorded in a browser as it arrives (POST /api/greeting?request=<id>):
// streamed into a fresh temp file in the upload directory; once whole and synced it is
// renamed to the name the engine takes it from (BrowserSoundCard::UploadPath). A
// recording that does not arrive whole leaves nothing behind.
//
// One request's object: the server's thread only.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/FileDescriptor.h"

namespace telvara {

class GreetingUpload {
 public:
  GreetingUpload(std::string dir, int requestId, uint64_t maxBytes);
  ~GreetingUpload();
  GreetingUpload(const GreetingUpload&) = delete;
  GreetingUpload& operator=(const GreetingUpload&) = delete;

  // Makes the temp file; "" or why not.
  std::string Begin();
  // Takes more of the body. Past the limit, or after a write failed, the rest is
  // only counted.
  void Append(const char* bytes, std::size_t count);
  bool TooLarge() const { return tooLarge_; }
  // Syncs and renames the whole file into place; "" or why not.
  std::string Finish();

 private:
  std::string dir_;
  int requestId_;
  uint64_t maxBytes_;
  uint64_t received_ = 0;
  bool tooLarge_ = false;
  std::string error_;  // the first write failure
  std::string temp_;   // while it exists
  UniqueFileDescriptor file_;
};

}  // namespace telvara
