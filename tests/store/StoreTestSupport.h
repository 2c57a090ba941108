#pragma once
// Helpers shared by the store tests: a fixed time zone, a scratch program directory,
// whole-file reads and writes, and log bytes built by hand.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace telvara::test {

using Bytes = std::vector<std::uint8_t>;

// Central European time: 12 March is standard time, one hour ahead of UTC.
inline void FixTimeZone() {
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  ::tzset();
}

// Seconds since 1970 of a local time in the fixed zone.
inline std::time_t Local(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// A fresh directory, removed with everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = ::testing::TempDir() + "telvara-store-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Log bytes written by hand, item by item, to state the layout independently of the
// code under test.
class LogBuilder {
 public:
  LogBuilder& U16(std::uint16_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
  }
  LogBuilder& U32(std::uint32_t v) { return U16(static_cast<std::uint16_t>(v)).U16(static_cast<std::uint16_t>(v >> 16)); }
  LogBuilder& Text(const std::string& s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  LogBuilder& Str(const std::string& s) {
    bytes.push_back(static_cast<std::uint8_t>(s.size()));
    return Text(s);
  }
  LogBuilder& ClassRecord(std::uint16_t schema = 2, const std::string& name = "CMessage") {
    return U16(0xFFFF).U16(schema).U16(static_cast<std::uint16_t>(name.size())).Text(name);
  }
  LogBuilder& Message(std::uint32_t time, const std::string& fileName, std::uint32_t length = 75,
                      std::uint16_t status = 0, const std::string& callerId = "") {
    return U32(time).U32(length).U16(status).Str(fileName).Str(callerId);
  }
  Bytes bytes;
};

}  // namespace telvara::test
