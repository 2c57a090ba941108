#pragma once
// Writing a whole file so that a reader sees either the old or the new content: a
// fresh temp file beside it (never a link someone left there), synced, renamed over
// it, and the directory synced. Any thread.
#include <string>
#include <string_view>

namespace telvara {

// `keepMode`: a file already there keeps its mode; otherwise, and for a new file, the
// file is readable by its user only. Gives "" or what went wrong ("<path>: <reason>").
std::string ReplaceFile(const std::string& path, std::string_view bytes, bool keepMode);

// Makes a rename to `path` durable: syncs the directory that holds it.
void SyncDirectoryOf(const std::string& path);

}  // namespace telvara
