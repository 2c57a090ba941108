// A seeded mutation loop over the log loader: damaged logs are read or refused, never
// crash, hang, read outside the input (the sanitizer build checks) or size memory by
// a count the data cannot back.
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

static std::size_t largestAllocation = 0;

void* operator new(std::size_t size) {
  largestAllocation = std::max(largestAllocation, size);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The library's nothrow form (temporary buffers of stable_sort) must come from the
// same heap as the deletes below.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
// Out of line, so the optimiser does not take the free() for a mismatch with new.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

LogReadResult ReadMeasured(const Bytes& data, std::size_t& largest) {
  // Exactly sized, so any read past the end is a heap overflow.
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[data.size()]);
  std::copy(data.begin(), data.end(), copy.get());
  largestAllocation = 0;
  LogReadResult r = MessageLog::Read(copy.get(), data.size());
  largest = largestAllocation;
  return r;
}

Bytes Mutate(const std::vector<Bytes>& seeds, std::mt19937& rng) {
  auto pick = [&](std::size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
  Bytes data = seeds[pick(seeds.size())];
  static const std::uint8_t edges[] = {0x00, 0x01, 0x02, 0x7F, 0x80, 0x81, 0xFE, 0xFF};
  for (std::size_t e = 1 + pick(4); e > 0; --e) {
    std::size_t at = pick(data.size() + 1);
    auto it = data.begin() + std::ptrdiff_t(at);
    switch (pick(5)) {
      case 0:
        if (at < data.size()) *it ^= std::uint8_t(1u << pick(8));
        break;
      case 1:
        if (at < data.size()) *it = edges[pick(sizeof edges)];
        break;
      case 2: data.insert(it, std::uint8_t(pick(256))); break;
      case 3:
        if (at < data.size()) data.erase(it);
        break;
      case 4: {  // cut here and go on with the tail of a seed
        const Bytes& other = seeds[pick(seeds.size())];
        data.resize(at);
        data.insert(data.end(), other.begin() + std::ptrdiff_t(pick(other.size() + 1)), other.end());
        break;
      }
    }
  }
  return data;
}

}  // namespace

TEST(LoaderFuzz, DamagedLogsAreReadOrRefusedCleanly) {
  std::vector<Bytes> seeds = {LogBuilder::Log(0), LogBuilder::Log(1), LogBuilder::Log(3)};
  seeds.push_back(LogBuilder()
                      .U16(2)
                      .ClassRecord()
                      .Message("A.WAV", std::string(31, 'c'))
                      .U16(0x8001)
                      .U32(1)
                      .U32(2)
                      .U16(2)
                      .Text(std::string("\xFF\x05\x00P.WAV", 8))
                      .Str("")
                      .bytes);
  seeds.push_back(LogBuilder().U16(0xFFFF).U32(1).ClassRecord().Message(std::string(129, 'F')).bytes);
  std::size_t largest = 0;
  for (const Bytes& seed : seeds) ASSERT_TRUE(ReadMeasured(seed, largest).Ok());
  // The largest count with no data behind it sizes nothing.
  EXPECT_EQ(ReadMeasured(LogBuilder().U16(0xFFFF).U32(0x7FFFFFFF).ClassRecord().bytes, largest).error,
            LogError::EndsEarly);
  EXPECT_LT(largest, 4096u);

  std::mt19937 rng(20240315);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int runs = 0, accepted = 0;
  for (; runs < 1000000 && std::chrono::steady_clock::now() < deadline; ++runs) {
    Bytes data = Mutate(seeds, rng);
    LogReadResult r = ReadMeasured(data, largest);
    ASSERT_LE(largest, 4096 + 8 * data.size());
    ASSERT_EQ(r.Ok(), r.detail.empty());
    if (!r.Ok()) {
      ASSERT_TRUE(r.messages.empty());
      continue;
    }
    ++accepted;
    // What is accepted is written back in a form that reads the same and writes the same.
    Bytes again = MessageLog::Write(r.messages);
    LogReadResult second = MessageLog::Read(again.data(), again.size());
    ASSERT_EQ(second.messages.size(), r.messages.size()) << second.detail;
    for (std::size_t i = 0; i < r.messages.size(); ++i)
      ASSERT_TRUE(second.messages[i]->fileName == r.messages[i]->fileName &&
                  second.messages[i]->callerId == r.messages[i]->callerId &&
                  second.messages[i]->time == r.messages[i]->time);
    ASSERT_EQ(MessageLog::Write(second.messages), again);
  }
  EXPECT_GT(runs, 1000);
  EXPECT_GT(accepted, runs / 100);  // the mutations get past the first refusal
}
