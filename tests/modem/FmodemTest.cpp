// The six dialects: every operation's command text and how its reply is read,
// the voice-format search, answering and dialling.
#include <functional>
#include <string>
#include <vector>

#include "ModemFixture.h"

namespace telvara::test {
namespace {

using Strings = std::vector<std::string>;

struct Dialect {
  ModemType type;
  const char* voiceMode;
  const char* flowControl;
  Strings silence;
  Strings selectLine[5];
  Strings answer;  // the whole sequence, with voice mode and format
  const char* beep;
  Strings beginPlay;  // with the format command
  const char* receive;
};

const Dialect kDialects[] = {
    {Rockwell, "AT#CLS=8", "AT&K3", {"AT#VSD=1#VSS=2#VSP=30"},
     {{"AT#VLS=0"}, {"AT#VLS=1"}, {"AT#VLS=3"}, {"AT#VLS=1"}, {"AT#VLS=2"}},
     {"AT#CLS=8", "AT#BDR=48#VBS=8#VSR=7200", "AT#VLS=0", "ATA"}, "AT#VTS={5,1}",
     {"AT#BDR=48#VBS=8#VSR=7200", "AT#VTX"}, "AT#VRX"},
    {IS_101, "AT+FCLASS=8", "AT+FLO=2", {"AT+VSD=128,30"},
     {{"AT+VLS=1"}, {"AT+VLS=2"}, {"AT+VLS=3"}, {"AT#VLS=1"}, {"AT#VLS=2"}},
     {"AT+FCLASS=8", "AT+VSM=0,7200", "AT+VLS=1"}, "AT+VTS=5",
     {"AT+VSM=0,7200", "AT+VTX"}, "AT+VRX"},
    {USRobotics, "AT#CLS=8", "AT&H1&R2&I0", {"AT#VSD=1#VSS=2#VSP=30"},
     {{"AT#VLS=0"}, {"AT#VLS=1"}, {"AT#VLS=3"}, {"AT#VLS=1"}, {"AT#VLS=2"}},
     {"AT#CLS=8", "AT#VSM=128,8000", "ATA"}, "AT#VTS={5,1}",
     {"AT#VSM=128,8000", "AT#VTX"}, "AT#VRX"},
    {Cirrus, "AT#VCL=1", "AT\\Q3", {},
     {{"AT#VLN=1"}, {"AT#VLN=2"}, {"AT#VLN=32"}, {}, {"AT#VLS=2"}},
     {"AT#VCL=1", "AT#VLN=1", "AT#VIP=1"}, "AT#VBP", {"AT#VPY"}, "AT#VRD"},
    {Sierra, "AT+FCLASS=8", "AT&K3", {},
     {{"AT#VLS=4"}, {"AT#VLS=1"}, {"AT#VLS=1"}, {}, {"AT#VLS=2"}},
     {"AT+FCLASS=8", "ATA"}, "AT+VTS=5", {"AT#VSV"}, "AT#VD1"},
    {UMC, "AT#CLS=8", "AT\\Q3", {"AT#VSD=1#VSS=2#VSP=30"},
     {{"AT#VLS=4"}, {"AT#VLS=1"}, {"AT#VLS=1"}, {}, {"AT#VLS=2"}},
     {"AT#CLS=8", "ATA"}, "AT#VTS=[900,0,1]", {"AT#VTX"}, "AT#VRX"},
};

class Dialects : public ModemFixture, public ::testing::WithParamInterface<Dialect> {
 protected:
  // The commands an operation sent.
  Strings Sent(const std::function<void()>& operation) {
    modem.commands.clear();
    operation();
    return modem.commands;
  }
};

TEST_P(Dialects, EachOperationSendsTheDialectsCommand) {
  const Dialect& d = GetParam();
  Open(d.type);
  EXPECT_EQ(Sent([&] { EXPECT_EQ(driver->SetVoiceMode(), ResultOk); }), Strings{d.voiceMode});
  EXPECT_EQ(Sent([&] { EXPECT_EQ(driver->SetFlowControl(), 1); }), Strings{d.flowControl});
  EXPECT_EQ(Sent([&] { driver->SetSilenceDetection(); }), d.silence);
  for (int kind = 0; kind < 5; ++kind)
    EXPECT_EQ(Sent([&] { driver->SelectLine(kind); }), d.selectLine[kind]) << "kind " << kind;
  EXPECT_EQ(Sent([&] { EXPECT_EQ(driver->Answer(), 1); }), d.answer);
  EXPECT_EQ(Sent([&] { EXPECT_EQ(driver->Beep(), ResultOk); }), Strings{d.beep});
  modem.On(d.beginPlay.back(), Reply{{"CONNECT"}, 20, FakeModem::Mode::Transmit});
  EXPECT_EQ(Sent([&] { EXPECT_EQ(driver->BeginPlay(), 1); }), d.beginPlay);
  EXPECT_EQ(driver->EndPlay(), 1);
  modem.On(d.receive, "ERROR");
  std::string path = ::testing::TempDir() + "dialect.wav";
  Strings record = d.beginPlay;
  record.back() = d.receive;
  EXPECT_EQ(Sent([&] { EXPECT_EQ(driver->RecordFile(path), 0); }), record);
  EXPECT_EQ(driver->GetSampleRate(), 7200);
}

TEST_P(Dialects, RepliesAreReadAsEachOperationDefines) {
  const Dialect& d = GetParam();
  Open(d.type);
  modem.SetDefault(Reply{{"VCON"}});
  EXPECT_EQ(driver->SetVoiceMode(), ResultVcon);  // passed on as it came
  EXPECT_EQ(driver->SetFlowControl(), 0);         // only OK will do
  EXPECT_EQ(driver->SetSilenceDetection(), 0);
  EXPECT_EQ(driver->SelectLine(LineTelephone), 1);  // OK or VCON
  EXPECT_EQ(driver->Beep(), ResultVcon);
  modem.SetDefault(Reply{{"ERROR"}});
  EXPECT_EQ(driver->SelectLine(LineHandset), 0);
  EXPECT_EQ(driver->SetVoiceMode(), ResultError);
  EXPECT_EQ(driver->Answer(), 0);
  modem.SetDefault(Reply{{"OK"}});
  EXPECT_EQ(driver->SetSilenceDetection(), d.silence.empty() ? 0 : 1);
  EXPECT_EQ(driver->SelectLine(LineKind3), d.selectLine[3].empty() ? 0 : 1);
}

std::string DialectName(const ::testing::TestParamInfo<Dialect>& info) {
  static const char* const names[] = {"Rockwell", "IS_101", "USRobotics", "Cirrus", "Sierra", "UMC"};
  return names[info.param.type];
}

INSTANTIATE_TEST_SUITE_P(AllSix, Dialects, ::testing::ValuesIn(kDialects), DialectName);

using Driver = ModemFixture;

TEST_F(Driver, SetModemTypeRefusesAnUnknownTypeAndKeepsTheOldOne) {
  EXPECT_EQ(driver->SetModemType(Cirrus), 1);
  EXPECT_EQ(driver->SetModemType(6), 0);
  EXPECT_EQ(driver->GetModemType(), Cirrus);
  EXPECT_EQ(driver->SetModemType(0xFFFFFFFFu), 0);
  EXPECT_EQ(driver->GetModemType(), Cirrus);
}

TEST_F(Driver, SelectLineOutsideTheTableSendsNothing) {
  Open(Rockwell);
  EXPECT_EQ(driver->SelectLine(5), 0);
  EXPECT_EQ(driver->SelectLine(-1), 0);
  EXPECT_TRUE(modem.commands.empty());
}

TEST_F(Driver, FlowControlFailsOnErrorAndOnSilence) {
  Open(IS_101);
  modem.On("AT+FLO=2", "ERROR");
  EXPECT_EQ(driver->SetFlowControl(), 0);
  modem.On("AT+FLO=2", Reply{{}});
  uint32_t start = Now();
  EXPECT_EQ(driver->SetFlowControl(), 0);
  EXPECT_GE(Now() - start, 2200u);
}

TEST_F(Driver, VoiceFormatSearchesTheTable) {
  struct Case {
    ModemType type;
    int bits, rate;
    Strings sent;
  };
  const Case cases[] = {
      {IS_101, 8, 7200, {"AT+VSM=0,7200"}},
      {IS_101, 16, 11025, {"AT+VSM=1,11025"}},
      {USRobotics, 8, 7200, {"AT#VSM=128,8000"}},  // this modem runs at 8000 only
      {USRobotics, 2, 11025, {"AT#VSM=129,8000#VBS=2"}},
      {Rockwell, 8, 11025, {"AT#BDR=48#VBS=8#VSR=11025"}},
      {Rockwell, 8, 8000, {}},
      {Sierra, 8, 9600, {"AT#VSM=2"}},
      {Cirrus, 5, 9600, {"AT#VSR=9600#VSM=CL1"}},
      {UMC, 8, 7200, {}},
      {UMC, 3, 7200, {"AT#VBS=3"}},
  };
  Open();
  for (const Case& c : cases) {
    driver->SetModemType(c.type);
    modem.commands.clear();
    ModemResult r = driver->SetVoiceFormat(c.bits, c.rate);
    EXPECT_EQ(modem.commands, c.sent) << c.type << " " << c.bits << " " << c.rate;
    EXPECT_EQ(r, c.sent.empty() ? ResultNone : ResultOk);
  }
  EXPECT_EQ(FindVoiceFormat(Rockwell, 0, 0), nullptr);  // the end row is no format
}

TEST_F(Driver, AnswerReadsOnlyTheAnswerCommandsReply) {
  Open(Rockwell);
  modem.On("AT#CLS=8", "ERROR");
  modem.On("ATA", "VCON");
  EXPECT_EQ(driver->Answer(), 1);
  modem.On("ATA", "ERROR");
  EXPECT_EQ(driver->Answer(), 0);
  modem.On("ATA", Reply{{}});
  EXPECT_EQ(driver->Answer(), 0);
}

// ---- dialling ------------------------------------------------------------------------

TEST_F(Driver, DialSendsAtdtAndTheNumberWithoutAPause) {
  Open(Rockwell);
  modem.On("ATDT 5551234", "CONNECT");
  uint32_t start = Now();
  EXPECT_EQ(driver->Dial("5551234\r\n", 25000), 1);
  EXPECT_EQ(modem.AllWritten(), "ATDT 5551234\r");
  EXPECT_EQ(modem.commandTicks[0], start);
}

TEST_F(Driver, DialForTheHashDialectsWantsConnectOrVcon) {
  Open(Rockwell);
  const std::pair<const char*, int> replies[] = {
      {"CONNECT", 1}, {"VCON", 1}, {"OK", 0}, {"BUSY", 0}, {"NO CARRIER", 0}, {"NO ANSWER", 0}};
  for (auto [reply, result] : replies) {
    modem.On("ATDT 42", reply);
    uint32_t start = Now();
    EXPECT_EQ(driver->Dial("42", 25000), result) << reply;
    EXPECT_LT(Now() - start, 200u) << reply;  // the reply ends the wait at once
  }
  // No reply: the wait is the caller's, 25000 units.
  modem.On("ATDT 42", Reply{{}});
  uint32_t start = Now();
  EXPECT_EQ(driver->Dial("42", 25000), 0);
  EXPECT_GE(Now() - start, 137500u);
  EXPECT_LT(Now() - start, 137600u);
}

TEST_F(Driver, DialForIs101WantsOkThenWaits8250ms) {
  Open(IS_101);
  modem.On("ATDT 42", "OK");
  uint32_t start = Now();
  EXPECT_EQ(driver->Dial("42", 25000), 1);
  EXPECT_GE(Now() - start, 20u + 8250u);
  EXPECT_LT(Now() - start, 20u + 8250u + 110u);
  modem.On("ATDT 42", "CONNECT");
  start = Now();
  EXPECT_EQ(driver->Dial("42", 25000), 0);
  EXPECT_LT(Now() - start, 200u);
  // The first reply must come within 3.3 s, whatever the caller's time-out.
  modem.On("ATDT 42", Reply{{"OK"}, 3400});
  EXPECT_EQ(driver->Dial("42", 25000), 0);
}

TEST_F(Driver, DialRefusesANumberWithALineBreakInside) {
  Open(Rockwell);
  EXPECT_EQ(driver->Dial("123\rATH", 100), 0);
  EXPECT_EQ(driver->Dial("1\n2", 100), 0);
  EXPECT_TRUE(modem.writes.empty());
}

}  // namespace
}  // namespace telvara::test
