// Times loading and saving a message log of 65535 messages: the whole open (read the
// file, parse, replace the list) and the whole save (serialize, write a temp file,
// fsync, rename), plus the parts without the disk and the building of every list line.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "store/MessageLog.h"
#include "store/OrvanelDoc.h"

using namespace telvara;

namespace {

constexpr int kMessages = 65535;
constexpr int kRounds = 9;

double MedianMs(const std::function<bool()>& step) {
  std::vector<double> times;
  for (int i = 0; i < kRounds; ++i) {
    auto start = std::chrono::steady_clock::now();
    if (!step()) return -1;
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  std::string dir = (std::filesystem::temp_directory_path() / "telvara-bench-XXXXXX").string();
  if (::mkdtemp(dir.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  dir += '/';

  MessageList messages;
  std::int32_t t = 889707909;
  for (int i = 0; i < kMessages; ++i, t += 487) {
    auto m = std::make_unique<CMessage>();
    m->time = t;
    m->lengthSeconds = static_cast<std::uint32_t>(i % 300);
    m->status = i % 3 == 0 ? MessageStatus::StatusNew : MessageStatus::StatusOld;
    m->fileName = CMessage::FileNameFor(t);
    messages.push_back(std::move(m));
  }
  std::vector<std::uint8_t> bytes = MessageLog::Write(messages);
  {
    std::ofstream out(dir + "orvanel.log", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  COrvanelDoc doc(dir);
  double open = MedianMs([&] { return doc.OnOpenDocument(dir + "orvanel.log").Ok(); });
  double save = MedianMs([&] { return doc.OnSaveDocument().Ok(); });
  double parse = MedianMs([&] { return MessageLog::Read(bytes.data(), bytes.size()).Ok(); });
  double write = MedianMs([&] { return MessageLog::Write(messages).size() == bytes.size(); });
  double lines = MedianMs([&] {
    for (int i = 0; i < doc.GetMessageCount(); ++i) doc.GetMessageAt(i)->BuildListLine();
    return true;
  });

  std::printf("message log of %d messages, %zu bytes (median of %d rounds)\n", doc.GetMessageCount(), bytes.size(),
              kRounds);
  std::printf("load (read file + parse):           %8.2f ms\n", open);
  std::printf("save (serialize + write + fsync):   %8.2f ms\n", save);
  std::printf("  parse only:                       %8.2f ms\n", parse);
  std::printf("  serialize only:                   %8.2f ms\n", write);
  std::printf("build every list line:              %8.2f ms\n", lines);

  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return open < 0 || save < 0 || parse < 0 || write < 0 ? 1 : 0;
}
