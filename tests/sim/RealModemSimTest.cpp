// The simulated modem answers as real modems of its family do, so that programs other
// than Telvara run against it: identities, queries, parsing, stop sequences.
#include <gtest/gtest.h>

#include <string>

#include "SimHost.h"

namespace telvara::sim {
namespace {

using testing::SimHost;
const std::string kOk = "\r\nOK\r\n";
const std::string kVcon = "\r\nVCON\r\n";
const std::string kDle(1, static_cast<char>(kDLE));

TEST(RealModemSim, IdentitiesQueriesGlobalSilenceAndValuesThatEndAtTheirDigits) {
  SimHost usr(USRobotics, {"ATE0"});
  EXPECT_EQ(usr.Command("ATI"), "\r\n5601\r\n" + kOk);
  SimHost is101(IS_101, {"ATE0"});
  EXPECT_NE(is101.Command("ATI").find("IS_101"), std::string::npos);
  EXPECT_NE(is101.Command("AT+FCLASS=8;+VSM=?").find("1,\"UNSIGNED PCM\",8,0,(7200,8000)"), std::string::npos);

  SimHost host(Rockwell, {"ATE0"});
  EXPECT_EQ(host.Command("ATI"), "\r\n56000\r\n" + kOk);
  EXPECT_EQ(host.Command("AT#CLS?"), "\r\n0\r\n" + kOk);
  EXPECT_EQ(host.Command("AT#VSD=1#VSS=2#VSP=30"), kOk);  // before voice mode
  EXPECT_EQ(host.Command("AT#CLS=8#VLS=?"), "\r\n(0-255)\r\n" + kOk);
  EXPECT_EQ(host.Command("AT#CLS?#XYZ?"), "\r\nERROR\r\n");  // a query of no command it knows
  EXPECT_EQ(host.Command("AT#VLS=0H0"), kOk);
  EXPECT_EQ(host.Command("AT#VTS=[933,0,15]#VTD=3F,3F,3F"), kOk);
  EXPECT_EQ(host.Log().Texts("info"), (std::vector<std::string>{"56000", "0", "(0-255)"}));
}

// Voice receive on an answered call, then `stop`: the modem ends it with DLE ETX and
// its connect result.
void ReceiveStoppedBy(ModemType d, const std::string& answer, const std::string& receive, const std::string& stop,
                      const std::string& result) {
  SCOPED_TRACE(receive + " stopped by " + std::to_string(stop[0]));
  SimHost host(d, {"ATE0"});
  host.Modem().Ring(1);
  host.ReadUntil("RING", 1000);
  host.Command(answer);
  ASSERT_EQ(host.Command(receive).substr(0, 11), "\r\nCONNECT\r\n");
  host.Send(stop);
  std::string tail = kDle + "\x03" + result;
  std::string got = host.ReadUntil(tail, 100);
  EXPECT_EQ(got.substr(got.size() - std::min(got.size(), tail.size())), tail);
  EXPECT_EQ(host.Modem().Phases().at(0).endedBy, PhaseEnd::Cancel);
}

TEST(RealModemSim, ReceiveStopsOnTheSequencesOfEachFamily) {
  ReceiveStoppedBy(IS_101, "AT+FCLASS=8;+VLS=1", "AT+VRX", kDle + "!", kOk);
  ReceiveStoppedBy(Rockwell, "AT#CLS=8#VLS=0A", "AT#VRX", "!", kVcon);
  ReceiveStoppedBy(USRobotics, "AT#CLS=8#VLS=0A", "AT#VRX", kDle, kVcon);
}

TEST(RealModemSim, DleCanDropsTheTransmitBuffer) {
  SimHost host(Rockwell, {"ATE0", "AT#CLS=8", "ATH1"});
  ASSERT_EQ(host.Command("AT#VTX"), "\r\nCONNECT\r\n");
  host.Send(std::string(2000, 'a'));  // over a quarter of a second at 7200/s
  host.RunFor(50);
  host.Send(kDle + "\x18" + kDle + "\x03");
  EXPECT_EQ(host.ReadUntil(kVcon, 50), kVcon);
  EXPECT_LT(host.Modem().Phases().at(0).sampleCount, 500u);
}

}  // namespace
}  // namespace telvara::sim
