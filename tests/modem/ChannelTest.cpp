// The serial channel: DLE decoding, events, result lines, write bounds, hang-up.
#include <gtest/gtest.h>

#include "SimLine.h"

namespace telvara::testing {
namespace {

using Strings = std::vector<std::string>;
using Ints = std::vector<int>;

struct Channel : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(line.Open()); }
  // Bytes the driver reads next, now or at a tick.
  void Inject(const std::string& bytes) { line.Faults().injected += bytes; }
  void InjectAt(uint32_t tick, const std::string& bytes) {
    line.At(tick, [this, bytes] { Inject(bytes); });
  }
  // n results of ReadByte or TakeEvent; with n < 0, up to the first that reads nothing.
  Ints Next(int n, int (FCOMM::*read)() = &FCOMM::ReadByte) {
    Ints got;
    int none = read == &FCOMM::ReadByte ? kReadNothing : 0;
    while (n-- != 0 && (n >= 0 || got.empty() || got.back() != none)) got.push_back((modem.*read)());
    return got;
  }
  uint32_t Took(uint32_t start) const { return line.Now() - start; }

  SimLine line{Rockwell};
  FMODEM& modem = line.Driver();
};

TEST_F(Channel, DleDleIsDataOtherCodesAreEventsInARingOf256AndADleWaitsForItsPartnerAcrossReads) {
  Inject("A\x10\x10\x10\x35\xC8x\x10");  // A, DLE DLE, DLE 5, 0xC8, x, a DLE alone
  EXPECT_EQ(Next(6), (Ints{'A', 0x10, kReadEvent, int8_t(0xC8), 'x', kReadNothing}));  // high bytes negative
  Inject("#\x10");
  EXPECT_EQ(Next(2), (Ints{kReadEvent, kReadNothing}));
  Inject("\x10y");
  EXPECT_EQ(Next(2), (Ints{0x10, 'y'}));
  EXPECT_EQ(Next(3, &FCOMM::TakeEvent), (Ints{'5', '#', 0}));
  uint8_t buffer[8] = {};  // ReadBlock stops at an event (recording shows the rest of it)
  Inject("ab\x10\x10\x63\x10qd");
  ASSERT_EQ(modem.ReadBlock(8, buffer), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4) + char(modem.TakeEvent()), "ab\x10\x63q");
  std::string events;
  for (int i = 0; i < 255; ++i) events += std::string("\x10") + static_cast<char>('A' + i % 20);
  Inject(events);
  modem.FlushEvents();      // slots 0..254 used and taken
  Inject("\x10*\x10\x62");  // slots 255 and 0
  EXPECT_EQ(modem.PollEvent(), '*');
  EXPECT_EQ(modem.TakeEvent(), 'b');
  modem.UngetEvent();
  modem.UngetEvent();  // 1 -> 0 -> 255
  EXPECT_EQ(Next(3, &FCOMM::TakeEvent), (Ints{'*', 'b', 0}));
  Inject(events);
  Next(-1);
  EXPECT_EQ(Next(-1, &FCOMM::TakeEvent).size(), 256u);  // 255 and the 0 that ends them
  Inject(events + "\x10Z");                             // 256 untaken: the indexes meet
  Next(-1);
  EXPECT_EQ(modem.TakeEvent(), 0);
  modem.UngetEvent();  // the newest overwrote the oldest
  EXPECT_EQ(modem.TakeEvent(), 'Z');
}

TEST_F(Channel, ReadLineWantsAFirstCharacterWithin100msAndALineWithin500msAndIsBounded) {
  std::string text = "stale";
  uint32_t start = line.Now();
  InjectAt(start + 101, "\r\n\x01\xC8OK\r\n");
  EXPECT_EQ(modem.ReadLine(250, text), 0);
  EXPECT_TRUE(text.empty() && Took(start) == 100u);
  EXPECT_EQ(modem.ReadLine(250, text), 2);  // the late line is the next call's, the controls skipped
  start = line.Now();
  InjectAt(start + 100, "CONN");  // a first character at 100 ms still counts
  InjectAt(start + 700, "ECT\x07\r\n");
  EXPECT_EQ(modem.ReadLine(250, text), 4);
  EXPECT_EQ(Took(start), 600u);
  EXPECT_EQ(modem.ReadLine(250, text), 4);
  EXPECT_EQ(text, "ECT\x07");  // control characters inside a line are kept
  Inject(std::string(300, 'x') + "\r\n");
  EXPECT_EQ(modem.ReadLine(250, text), 249);  // size - 1 at most; the rest is the next line
  EXPECT_EQ(modem.ReadLine(250, text), 50);
}

TEST_F(Channel, WaitResultClassifiesByTheStartOfTheLineDropsTheRestAndBlocksEvenOnAHungUpLine) {
  const std::pair<const char*, int> cases[] = {
      {"CONNECT 9600", ResultConnect}, {"RINGING", ResultRing},    {"OKAY", ResultOk},
      {"NO CARRIER", ResultNoCarrier}, {"BUSY", ResultBusy},       {"VCON", ResultVcon},
      {"ERROR", ResultError},          {"QQ-stop", ResultStopText}};
  for (auto [text, code] : cases) {
    Inject(std::string("\r\nAT#VLS=0\r\r\nok\r\nNMBR = 5551234\r\n") + text + "\r\n");
    EXPECT_EQ(modem.WaitResult("QQ", 400), code) << text;
    EXPECT_EQ(modem.LastLine(), text);
  }
  Inject("\r\nok\r\n");  // lower case never classifies: the wait runs to its deadline
  uint32_t start = line.Now();
  EXPECT_EQ(modem.WaitResult("QQ", 400), ResultNone);
  EXPECT_TRUE(Took(start) >= 2200 && Took(start) < 2200 + 110) << Took(start);
  start = line.Now();
  InjectAt(start + 100, "O");      // the deadline is tested between lines only: a line
  InjectAt(start + 550, "K\r\n");  // begun before 110 ms trickles in and is still read
  EXPECT_EQ(modem.WaitResult("QQ", 20), ResultOk);
  EXPECT_EQ(Took(start), 550u);
  int handled = 0;  // waits block, and dispatch messages, even on a hung-up line
  for (int i = 0; i < 3; ++i) line.Loop().Post(LoopMessage{LoopMessage::Kind::Invoke, 0, {}, [&] { ++handled; }, {}});
  for (bool hungUp : {false, true}) {
    line.Faults().hungUp = hungUp;
    long calls = line.Port().calls;
    uint32_t start = line.Now();
    EXPECT_EQ(modem.WaitResult("QQ", 400), ResultNone);
    EXPECT_LT(Took(start), 2200u + 110u);
    EXPECT_LT(line.Port().calls - calls, 100) << hungUp;  // a read per 100 ms line attempt, not thousands
  }
  EXPECT_EQ(handled, 3);
}

TEST_F(Channel, WritesThatThePortHoldsUpFailAfterFiveSecondsAndTheQueueStaysBelow4095) {
  line.Faults().takesNoBytes = true;
  uint32_t start = line.Now();
  EXPECT_EQ(modem.SendCommand("ATZ"), ResultNone);
  EXPECT_TRUE(Took(start) >= 5000 && Took(start) < 5600) << Took(start);
  EXPECT_EQ(line.Reported(), Strings{"The modem port took no data for 5 seconds"});
  start = line.Now();  // known stuck: one held-up byte, and not told again
  EXPECT_EQ(modem.SendCancel(), 0);
  EXPECT_EQ(Took(start), 500u);
  EXPECT_EQ(line.Reported().size(), 1u);
  line.Faults().takesNoBytes = false;  // taking bytes again, it works as before
  EXPECT_EQ(modem.SendCommand("ATZ"), ResultOk);
  line.Reported().clear();
  line.Faults().portBuffer = 8192;  // WriteBlock keeps the queue below 4095 and fails when it never drains
  ASSERT_EQ(modem.SendCommand("AT#CLS=8"), ResultOk);
  ASSERT_EQ(modem.SendCommand("AT#VTX"), ResultConnect);
  std::vector<uint8_t> block(1000, 0x55);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(modem.WriteBlock(1000, block.data()), 1000);
  EXPECT_LE(line.Port().mostQueued, 4094u);
  EXPECT_GT(line.Port().mostQueued, 3000u);  // and it keeps the queue fed
  line.Faults().takesNoBytes = true;         // the modem holds flow control: the queue stays
  do start = line.Now();
  while (modem.WriteBlock(1000, block.data()) > 0);
  EXPECT_TRUE(Took(start) >= 5000 && Took(start) < 5200) << Took(start);
  EXPECT_EQ(line.Reported(), Strings{"The modem port took no data for 5 seconds"});
}

TEST_F(Channel, HangUpStopsAtTheFirstOkDropsDtrFor550msThenEscalatesThroughDleEtxAndCan) {
  EXPECT_EQ(modem.HangUp(), 1);
  EXPECT_EQ(line.Commands(), Strings{"ATH0"});
  EXPECT_TRUE(line.Times("dtr").empty());
  line.Modem().SetReply("ATH0", "");
  uint32_t start = line.Now();
  line.At(start + 1000, [&] { line.Modem().SetReply("ATH0", std::nullopt); });
  EXPECT_EQ(modem.HangUp(), 1);
  EXPECT_EQ(line.Commands(1), (Strings{"ATH0", "ATH0"}));
  uint32_t dropped = line.Times("dtr", "dropped").at(0);
  EXPECT_EQ(line.Times("dtr", "raised"), std::vector<uint32_t>{dropped + 550});
  // After 27 ms and the first answer's 1650 ms (and the line attempt under way).
  EXPECT_TRUE(dropped - start >= 27 + 1650 && dropped - start <= 27 + 1650 + 100) << dropped - start;
  // Set to ignore DTR, a modem in voice transmit reads no command: DLE ETX ends it
  // (stage 3); in voice receive only CAN does (stage 4); one that never says OK fails.
  ASSERT_EQ(modem.SendCommand("AT&D0#CLS=8"), ResultOk);
  for (std::size_t stage : {3u, 4u}) {
    ASSERT_EQ(modem.SendCommand(stage == 3 ? "AT#VTX" : "AT#VRX"), ResultConnect);
    std::size_t commands = line.Commands().size();
    EXPECT_EQ(modem.HangUp(), 1);
    EXPECT_EQ(line.Commands(commands), Strings{"ATH0"}) << stage;  // the others were not read
    EXPECT_EQ(line.Times("dtr", "raised").size(), stage - 1);      // one more each hang-up
    EXPECT_EQ(line.Port().TimesOf("\x10").size(), stage - 2);      // DLE ETX, once a hang-up
    EXPECT_EQ(line.Port().TimesOf("\x18").size(), stage - 3);      // CAN
  }
  EXPECT_EQ(line.Times("voice-tx-end").size() + line.Times("voice-rx-end").size(), 2u);
  line.Modem().SetReply("ATH0", "ERROR");
  std::size_t commands = line.Commands().size();
  EXPECT_EQ(modem.HangUp(), 0);
  EXPECT_EQ(line.Commands(commands), Strings(4, "ATH0"));
  EXPECT_EQ(line.Port().TimesOf("\x18").size(), 2u);
}

}  // namespace
}  // namespace telvara::testing
