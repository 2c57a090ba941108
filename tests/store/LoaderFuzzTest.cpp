// A seeded mutation loop over the log loader: damaged logs must be refused or read,
// never crash, hang or read outside the input (the sanitizer build checks the last).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>

#include "StoreTestSupport.h"
#include "store/MessageLog.h"

using namespace telvara;
using namespace telvara::test;

// The largest single allocation since the last reset: a count or length read from the
// file must never size memory beyond what the file's bytes can fill.
static std::size_t largestAllocation = 0;

void* operator new(std::size_t size) {
  largestAllocation = std::max(largestAllocation, size);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

std::size_t LargestAllocationReading(const std::uint8_t* data, std::size_t size, LogReadResult& result) {
  largestAllocation = 0;
  result = MessageLog::Read(data, size);
  return largestAllocation;
}

std::vector<Bytes> Seeds() {
  std::vector<Bytes> seeds;
  seeds.push_back({0, 0});
  for (int count : {1, 2, 3}) {
    LogBuilder b;
    b.U16(static_cast<std::uint16_t>(count));
    for (int i = 0; i < count; ++i) {
      if (i == 0) {
        b.ClassRecord();
      } else {
        b.U16(0x8001);
      }
      b.Message(889707909u + static_cast<std::uint32_t>(i), "PGMO0509.WAV", 75, static_cast<std::uint16_t>(i),
                std::string(static_cast<std::size_t>(i) * 15, 'c'));
    }
    seeds.push_back(b.bytes);
  }
  // The long string form for a short text, and a wide count.
  seeds.push_back(LogBuilder().U16(1).ClassRecord().U32(1).U32(2).U16(0)
                      .Text(std::string("\xFF\x05\x00P.WAV", 8)).Str("").bytes);
  seeds.push_back(LogBuilder().U16(0xFFFF).U32(1).ClassRecord().Message(1, std::string(129, 'F')).bytes);
  return seeds;
}

Bytes Mutate(const std::vector<Bytes>& seeds, std::mt19937& rng) {
  auto pick = [&](std::size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
  Bytes data = seeds[pick(seeds.size())];
  static const std::uint8_t interesting[] = {0x00, 0x01, 0x02, 0x7F, 0x80, 0x81, 0xFE, 0xFF};
  int edits = 1 + static_cast<int>(pick(4));
  for (int e = 0; e < edits; ++e) {
    switch (pick(6)) {
      case 0:  // flip a bit
        if (!data.empty()) data[pick(data.size())] ^= static_cast<std::uint8_t>(1u << pick(8));
        break;
      case 1:  // an edge value
        if (!data.empty()) data[pick(data.size())] = interesting[pick(sizeof interesting)];
        break;
      case 2:  // cut
        data.resize(pick(data.size() + 1));
        break;
      case 3:  // insert a byte
        data.insert(data.begin() + static_cast<std::ptrdiff_t>(pick(data.size() + 1)),
                    static_cast<std::uint8_t>(pick(256)));
        break;
      case 4:  // remove a byte
        if (!data.empty()) data.erase(data.begin() + static_cast<std::ptrdiff_t>(pick(data.size())));
        break;
      case 5: {  // splice the tail of another seed
        const Bytes& other = seeds[pick(seeds.size())];
        std::size_t from = pick(other.size() + 1);
        data.resize(pick(data.size() + 1));
        data.insert(data.end(), other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
        break;
      }
    }
  }
  return data;
}

}  // namespace

TEST(LoaderFuzz, DamagedLogsAreReadOrRefusedCleanly) {
  const std::vector<Bytes> seeds = Seeds();
  for (const Bytes& seed : seeds) ASSERT_TRUE(MessageLog::Read(seed.data(), seed.size()).Ok());

  std::mt19937 rng(20240315);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int accepted = 0;
  int runs = 0;
  for (; runs < 1000000 && std::chrono::steady_clock::now() < deadline; ++runs) {
    Bytes data = Mutate(seeds, rng);
    // Exactly sized, so any read past the end is a heap overflow the sanitizer reports.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[data.size()]);
    std::copy(data.begin(), data.end(), copy.get());
    LogReadResult r;
    ASSERT_LE(LargestAllocationReading(copy.get(), data.size(), r), 4096 + 8 * data.size());
    if (!r.Ok()) {
      ASSERT_TRUE(r.messages.empty());
      ASSERT_FALSE(r.detail.empty());
      continue;
    }
    ++accepted;
    // Whatever is accepted is written back in a form that reads the same again.
    Bytes again = MessageLog::Write(r.messages);
    LogReadResult second = MessageLog::Read(again.data(), again.size());
    ASSERT_TRUE(second.Ok()) << second.detail;
    ASSERT_EQ(second.messages.size(), r.messages.size());
    for (std::size_t i = 0; i < r.messages.size(); ++i) {
      ASSERT_EQ(second.messages[i]->fileName, r.messages[i]->fileName);
      ASSERT_EQ(second.messages[i]->callerId, r.messages[i]->callerId);
      ASSERT_EQ(second.messages[i]->time, r.messages[i]->time);
    }
    ASSERT_EQ(MessageLog::Write(second.messages), again);
  }
  EXPECT_GT(runs, 1000);
  EXPECT_GT(accepted, 0);  // the mutations reach past the first refusal
  RecordProperty("runs", runs);
  RecordProperty("accepted", accepted);
}

TEST(LoaderFuzz, HugeCountsNeitherAllocateNorPass) {
  LogReadResult r;
  Bytes claims = LogBuilder().U16(0xFFFF).U32(0x7FFFFFFF).ClassRecord().bytes;
  EXPECT_LT(LargestAllocationReading(claims.data(), claims.size(), r), 4096u);
  EXPECT_EQ(r.error, LogError::EndsEarly);
  EXPECT_EQ(MessageLog::Read(LogBuilder().U16(0xFFFF).U32(0x80000000).bytes.data(), 6).error,
            LogError::TooManyMessages);
  Bytes cut = LogBuilder().U16(0xFFFF).U16(1).bytes;
  EXPECT_EQ(MessageLog::Read(cut.data(), cut.size()).error, LogError::EndsEarly);
}
