#pragma once
// The sound files that the window serves for the browser to play or save: a message of
// the list, by the file name that a row's identity carries, and the sound-card
// greeting. A request only ever names a file that the window lists; the path is ours.
// Pure functions of their arguments; any thread may call them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FileDescriptor.h"
#include "platform/RowList.h"

namespace telvara {

// The greeting recorded with the sound card, in the system folder.
inline constexpr const char* kSoundCardGreeting = "announc2.wav";

// The file name in a row's identity ("PGMO0509.WAV 889740309"): all before its last
// space; empty when it has none.
std::string_view IdentityFileName(std::string_view identity);

// Whether `name` is the file of a row: never a path, "." or "..".
bool ListedFile(const RowList& rows, std::string_view name);

struct OpenFile {
  UniqueFileDescriptor fd;
  uint64_t size = 0;
};

// Opens a regular file for reading, never through a symbolic link and never waiting
// (on a FIFO, say); nullopt when it is missing or anything but a regular file.
std::optional<OpenFile> OpenRegularFile(const std::string& path);

// `name` as a Content-Disposition file name: what is not a letter, a digit, '.', '-'
// or '_' becomes '_'.
std::string SafeDownloadName(std::string_view name);

}  // namespace telvara
