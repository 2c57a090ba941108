// The simulated modem's caller ID: the lines a ringing caller's number brings, once the
// host has turned caller ID on.
#include <gtest/gtest.h>

#include <regex>

#include "SimHost.h"

namespace telvara::sim {
namespace {

using testing::SimHost;

TEST(SimCallerId, TheLinesFollowTheFirstRingOnlyOnceTheHostTurnedCallerIdOn) {
  const std::string kRing = "\r\nRING\r\n";
  for (bool on : {false, true}) {
    SimHost host(Rockwell, {"ATE0", "AT#CLS=8"});
    if (on) {
      EXPECT_EQ(host.Command("AT#CID=1"), "\r\nOK\r\n");
    }
    ASSERT_EQ(host.Scenario("ring 2 from 5551234 Jane"), "");
    std::string first = host.ReadFor(SimModem::kCallerIdMs - 1), lines = host.ReadFor(2);
    EXPECT_EQ(first, kRing);
    EXPECT_EQ(host.ReadUntil(kRing, SimModem::kRingPeriodMs), kRing);
    if (!on) {
      EXPECT_EQ(lines, "");
      EXPECT_TRUE(host.Logged("caller ID not sent"));
      continue;
    }
    EXPECT_TRUE(std::regex_match(
        lines, std::regex("\r\nDATE = [0-9]{4}\r\nTIME = [0-9]{4}\r\nNMBR = 5551234\r\nNAME = Jane\r\n\r\n")))
        << lines;
  }
}

}  // namespace
}  // namespace telvara::sim
