#pragma once
// Shared by the store tests: a fixed time zone, a scratch directory, whole files, and
// log bytes written by hand so the layout is stated apart from the code under test.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Files.h"

namespace telvara::test {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kExampleTime = 889707909;  // 12 March 1998 14:05:09 CET

// Central European time: 12 March is standard time, an hour ahead of UTC.
inline void FixTimeZone() {
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  ::tzset();
}

inline std::time_t Local(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
  t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second, t.tm_isdst = -1;
  return std::mktime(&t);
}

using testing::ScratchDir;
inline Bytes ReadFile(const std::string& path) { return testing::ReadFileBytes(path); }

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct LogBuilder {
  LogBuilder& U16(std::uint16_t v) { return Text({char(v & 0xFF), char(v >> 8)}); }
  LogBuilder& U32(std::uint32_t v) { return U16(std::uint16_t(v)).U16(std::uint16_t(v >> 16)); }
  LogBuilder& Text(const std::string& s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  LogBuilder& Str(const std::string& s) { return Text(std::string(1, char(s.size()))).Text(s); }
  LogBuilder& ClassRecord(std::uint16_t schema = 2, const std::string& name = "CMessage") {
    return U16(0xFFFF).U16(schema).U16(std::uint16_t(name.size())).Text(name);
  }
  LogBuilder& Message(const std::string& fileName, const std::string& callerId = "",
                      std::uint32_t time = kExampleTime) {
    return U32(time).U32(75).U16(0).Str(fileName).Str(callerId);
  }
  // A well-formed log of `count` messages named PGMO0500.WAV, PGMO0501.WAV, ...
  static Bytes Log(int count) {
    LogBuilder b;
    b.U16(std::uint16_t(count));
    for (int i = 0; i < count; ++i)
      (i == 0 ? b.ClassRecord() : b.U16(0x8001)).Message("PGMO050" + std::to_string(i) + ".WAV");
    return b.bytes;
  }
  Bytes bytes;
};

}  // namespace telvara::test
