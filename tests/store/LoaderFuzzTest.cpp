// A seeded mutation loop over the log loader: damaged logs are read or refused, never
// crash, read outside the input (the sanitizer build checks) or size memory by a count
// the data cannot back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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
// The nothrow form (stable_sort's buffers) from the same heap; deletes out of line, so
// that the optimiser does not take free() for a mismatch with new.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

// Read from an exactly sized copy, so that any read past the end is a heap overflow.
LogReadResult ReadMeasured(const Bytes& data) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[data.size()]);
  std::copy(data.begin(), data.end(), copy.get());
  largestAllocation = 0;
  return MessageLog::Read(copy.get(), data.size());
}

}  // namespace

TEST(LoaderFuzz, DamagedLogsAreReadOrRefusedCleanly) {
  LogBuilder longForm;  // a long-form file name after a full caller ID
  longForm.U16(2).ClassRecord().Message("A.WAV", std::string(31, 'c')).U16(0x8001).U32(1).U32(2).U16(2);
  longForm.Text(std::string("\xFF\x05\x00P.WAV\0", 9));
  const std::vector<Bytes> seeds = {LogBuilder::Log(0), LogBuilder::Log(3), longForm.bytes,
                                    LogBuilder().U16(0xFFFF).U32(1).ClassRecord().Message(std::string(129, 'F')).bytes};
  for (const Bytes& seed : seeds) ASSERT_TRUE(ReadMeasured(seed).Ok());
  // The largest count with no data behind it sizes nothing.
  EXPECT_EQ(ReadMeasured(LogBuilder().U16(0xFFFF).U32(0x7FFFFFFF).ClassRecord().bytes).error, LogError::EndsEarly);
  EXPECT_LT(largestAllocation, 4096u);

  std::mt19937 rng(20240315);
  auto pick = [&](std::size_t n) { return n == 0 ? 0 : std::size_t(rng() % n); };
  const std::uint8_t edges[] = {0x00, 0x01, 0x02, 0x7F, 0x80, 0x81, 0xFE, 0xFF};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int runs = 0, accepted = 0;
  for (; runs < 1000000 && std::chrono::steady_clock::now() < deadline; ++runs) {
    Bytes data = seeds[pick(seeds.size())];
    for (std::size_t e = 1 + pick(4); e > 0; --e) {  // edge values, inserted, erased or cut off
      std::size_t at = pick(data.size() + 1), kind = pick(4);
      if (at == data.size()) kind = 1;
      if (kind == 0) data[at] = edges[pick(sizeof edges)];
      if (kind == 1) data.insert(data.begin() + long(at), std::uint8_t(rng()));
      if (kind == 2) data.erase(data.begin() + long(at));
      if (kind == 3) data.resize(at);
    }
    LogReadResult r = ReadMeasured(data);
    ASSERT_LE(largestAllocation, 4096 + 8 * data.size());
    ASSERT_EQ(r.Ok(), r.detail.empty());
    ASSERT_TRUE(r.Ok() || r.messages.empty());
    if (!r.Ok()) continue;
    ++accepted;  // what is accepted writes back in a form that reads and writes the same
    Bytes again = MessageLog::Write(r.messages);
    LogReadResult second = MessageLog::Read(again.data(), again.size());
    ASSERT_EQ(second.messages.size(), r.messages.size()) << second.detail;
    ASSERT_EQ(MessageLog::Write(second.messages), again);
  }
  EXPECT_GT(runs, 1000);
  EXPECT_GT(accepted, runs / 100);  // the mutations get past the first refusal
}
