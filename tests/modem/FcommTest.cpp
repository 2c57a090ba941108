// The serial channel: port opening, DLE decoding, the event ring, result lines,
// commands, writes with their bounds, and the hang-up stages.
#include <string>

#include "ModemFixture.h"

namespace telvara::test {
namespace {

using Channel = ModemFixture;

TEST(BaudTable, SpeedsInHundredsMapToTheirRatesAndAnythingElseTo19200) {
  const std::pair<int, int> table[] = {{24, 2400},     {48, 4800},     {96, 9600},
                                       {192, 19200},   {384, 38400},   {560, 56000},
                                       {576, 57600},   {1152, 115200}, {1280, 128000},
                                       {2560, 256000}, {1000, 19200},  {0, 19200},
                                       {-96, 19200},   {115200, 19200}};
  for (auto [speed, baud] : table) EXPECT_EQ(BaudForSpeed(speed), baud) << speed;
}

TEST_F(Channel, OpenCommGivesThePortAndBaudToTheOpenerCloseDropsDtrAndFailureSaysWhy) {
  ASSERT_EQ(driver->OpenComm(3, 1000), 1);
  EXPECT_EQ(modem.openedPort, 3);
  EXPECT_EQ(modem.openedBaud, 19200);
  EXPECT_TRUE(driver->IsOpen());
  driver->CloseComm();
  EXPECT_FALSE(driver->IsOpen());
  EXPECT_FALSE(modem.portOpen);
  ASSERT_EQ(modem.dtrChanges.size(), 1u);
  EXPECT_FALSE(modem.dtrChanges[0].second);
  // A closed port sends nothing and hangs up nothing.
  EXPECT_EQ(driver->SendLine("ATZ"), 0);
  EXPECT_EQ(driver->HangUp(), 0);
  EXPECT_TRUE(modem.writes.empty());
  // A failure keeps the opener's reason.
  modem.failOpen = true;
  EXPECT_EQ(driver->OpenComm(2, 1152), 0);
  EXPECT_FALSE(driver->IsOpen());
  EXPECT_EQ(driver->OpenError(), "cannot open /dev/ttyS1: No such file or directory");
}

// ---- decoding ------------------------------------------------------------------------

TEST_F(Channel, ReadByteDecodesDleDleAsDataAndQueuesOtherCodesAsEvents) {
  Open();
  modem.SendAt(Now(), std::string("A\x10\x10") + Dle('5') + "\xC8");
  loop->WaitUntil(Now() + 1, WaitFor::Input);
  EXPECT_EQ(driver->ReadByte(), 'A');
  EXPECT_EQ(driver->ReadByte(), 0x10);
  EXPECT_EQ(driver->ReadByte(), kReadEvent);
  EXPECT_EQ(driver->ReadByte(), static_cast<int8_t>(0xC8));  // high bytes read negative
  EXPECT_EQ(driver->ReadByte(), kReadNothing);
  EXPECT_EQ(driver->TakeEvent(), '5');
  EXPECT_EQ(driver->TakeEvent(), 0);
}

TEST_F(Channel, ADleAtTheEndOfOneReadPairsWithTheFirstByteOfTheNext) {
  Open();
  modem.SendAt(Now(), "x\x10");
  loop->WaitUntil(Now() + 1, WaitFor::Input);
  EXPECT_EQ(driver->ReadByte(), 'x');
  EXPECT_EQ(driver->ReadByte(), kReadNothing);
  modem.SendAfter(5, "#\x10");
  loop->WaitUntil(Now() + 10, WaitFor::Input);
  EXPECT_EQ(driver->ReadByte(), kReadEvent);
  EXPECT_EQ(driver->TakeEvent(), '#');
  EXPECT_EQ(driver->ReadByte(), kReadNothing);
  modem.SendAfter(5, "\x10y");
  loop->WaitUntil(Now() + 10, WaitFor::Input);
  EXPECT_EQ(driver->ReadByte(), 0x10);
  EXPECT_EQ(driver->ReadByte(), 'y');
}

TEST_F(Channel, ReadBlockStoresDataUpToAnEventAndDecodesAcrossReads) {
  Open();
  modem.SendAt(Now(), std::string("ab\x10\x10") + "c" + Dle('q') + "de\x10");
  loop->WaitUntil(Now() + 1, WaitFor::Input);
  uint8_t buffer[8] = {};
  ASSERT_EQ(driver->ReadBlock(8, buffer), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "ab\x10" "c");
  EXPECT_EQ(driver->TakeEvent(), 'q');
  ASSERT_EQ(driver->ReadBlock(8, buffer), 2);  // the trailing DLE waits for its partner
  modem.SendAfter(5, "\x10" "fghijklmn");
  loop->WaitUntil(Now() + 10, WaitFor::Input);
  ASSERT_EQ(driver->ReadBlock(3, buffer), 3);  // stops at the maximum
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "\x10" "fg");
  EXPECT_EQ(driver->ReadBlock(8, buffer), 7);
}

// ---- the event ring ------------------------------------------------------------------

TEST_F(Channel, TheRingHolds255UntakenEventsAnd256ReadAsNone) {
  Open();
  std::string stream;
  for (int i = 0; i < 255; ++i) stream += Dle(static_cast<char>('A' + i % 20));
  modem.SendAt(Now(), stream);
  loop->WaitUntil(Now() + 1, WaitFor::Input);
  driver->FlushEvents();  // empty to start with
  modem.SendAfter(1, stream);
  loop->WaitUntil(Now() + 5, WaitFor::Input);
  while (driver->ReadByte() != kReadNothing) {
  }
  int taken = 0;
  while (driver->TakeEvent() != 0) ++taken;
  EXPECT_EQ(taken, 255);

  // 256 untaken events: the indexes meet and the queue reads empty.
  modem.SendAfter(1, stream + Dle('Z'));
  loop->WaitUntil(Now() + 5, WaitFor::Input);
  EXPECT_EQ(driver->TakeEvent(), 0);  // reads no input
  while (driver->ReadByte() != kReadNothing) {
  }
  EXPECT_EQ(driver->TakeEvent(), 0);
  // Stepping back gives the newest, which overwrote the oldest.
  driver->UngetEvent();
  EXPECT_EQ(driver->TakeEvent(), 'Z');
}

TEST_F(Channel, UngetEventAtIndexZeroWrapsTo255) {
  Open();
  // Fill slots 0..255 so that slot 255 holds a known code, then take them all.
  std::string stream;
  for (int i = 0; i < 255; ++i) stream += Dle('a');
  modem.SendAt(Now(), stream);
  loop->WaitUntil(Now() + 1, WaitFor::Input);
  EXPECT_EQ(driver->PollEvent(), 'a');
  while (driver->TakeEvent() != 0) {
  }
  modem.SendAfter(1, Dle('*') + Dle('b'));  // slots 255 and 0
  loop->WaitUntil(Now() + 5, WaitFor::Input);
  EXPECT_EQ(driver->PollEvent(), '*');
  EXPECT_EQ(driver->TakeEvent(), 'b');  // read index is now 1
  driver->UngetEvent();
  driver->UngetEvent();  // 1 -> 0 -> 255
  EXPECT_EQ(driver->TakeEvent(), '*');
  EXPECT_EQ(driver->TakeEvent(), 'b');
  EXPECT_EQ(driver->TakeEvent(), 0);
}

TEST_F(Channel, PollEventReadsOnlyWhenTheQueueIsEmptyAndFlushDiscardsEverything) {
  Open();
  modem.SendAt(Now(), "data" + Dle('1') + "more" + Dle('2'));
  loop->WaitUntil(Now() + 1, WaitFor::Input);
  EXPECT_EQ(driver->PollEvent(), '1');
  EXPECT_EQ(driver->PollEvent(), '2');
  EXPECT_EQ(driver->PollEvent(), 0);
  modem.SendAfter(1, Dle('3') + "x");
  loop->WaitUntil(Now() + 5, WaitFor::Input);
  EXPECT_EQ(driver->ReadByte(), kReadEvent);  // '3' is queued
  modem.SendAfter(1, Dle('4'));
  loop->WaitUntil(Now() + 5, WaitFor::Input);
  EXPECT_EQ(driver->PollEvent(), '3');  // the queue was not empty: no read
  EXPECT_EQ(driver->PollEvent(), '4');
  modem.SendAfter(1, Dle('5') + Dle('6'));
  loop->WaitUntil(Now() + 5, WaitFor::Input);
  EXPECT_EQ(driver->FlushEvents(), 0);
  EXPECT_EQ(driver->TakeEvent(), 0);
  EXPECT_EQ(driver->PollEvent(), 0);
}

// ---- result lines --------------------------------------------------------------------

TEST_F(Channel, ReadLineSkipsLeadingLineEndsAndControlBytes) {
  Open();
  modem.SendAt(Now() + 10, "\r\n\x01\xC8OK\r\nNEXT\x07\r\n");
  std::string line;
  EXPECT_EQ(driver->ReadLine(250, line), 2);
  EXPECT_EQ(line, "OK");
  EXPECT_EQ(driver->ReadLine(250, line), 5);
  EXPECT_EQ(line, "NEXT\x07");  // control characters inside a line are kept
}

TEST_F(Channel, ReadLineGivesUpWhenNoLineStartsWithin100ms) {
  Open();
  uint32_t start = Now();
  modem.SendAt(start + 101, "OK\r\n");
  std::string line = "stale";
  EXPECT_EQ(driver->ReadLine(250, line), 0);
  EXPECT_EQ(line, "");
  EXPECT_EQ(Now() - start, 100u);
  // The late line is the next call's.
  EXPECT_EQ(driver->ReadLine(250, line), 2);
  // A line whose first character comes at 100 ms is still taken.
  start = Now();
  modem.SendAt(start + 100, "AT\r\n");
  EXPECT_EQ(driver->ReadLine(250, line), 2);
  EXPECT_EQ(line, "AT");
}

TEST_F(Channel, ReadLineEndsAnUnfinishedLine500msAfterItStarted) {
  Open();
  uint32_t start = Now();
  modem.SendAt(start + 40, "CONN");
  modem.SendAt(start + 600, "ECT\r\n");
  std::string line;
  EXPECT_EQ(driver->ReadLine(250, line), 4);
  EXPECT_EQ(line, "CONN");
  EXPECT_EQ(Now() - start, 540u);
  // The rest is a line of its own.
  EXPECT_EQ(driver->ReadLine(250, line), 3);
  EXPECT_EQ(line, "ECT");
}

TEST_F(Channel, ReadLineHoldsAtMostSizeMinusOneCharacters) {
  Open();
  modem.SendAt(Now(), std::string(300, 'x') + "\r\n");
  std::string line;
  EXPECT_EQ(driver->ReadLine(250, line), 249);
  EXPECT_EQ(line, std::string(249, 'x'));
  // The byte that ended the line is consumed; the rest follows as the next line.
  EXPECT_EQ(driver->ReadLine(250, line), 50);
}

TEST_F(Channel, WaitResultClassifiesByTheStartOfTheLine) {
  Open();
  const std::pair<const char*, int> cases[] = {
      {"CONNECT 9600", ResultConnect}, {"RINGING", ResultRing},     {"OKAY", ResultOk},
      {"NO CARRIER", ResultNoCarrier}, {"NO DIALTONE", ResultNoDialtone},
      {"NO ANSWER", ResultNoAnswer},   {"BUSY", ResultBusy},        {"VCON", ResultVcon},
      {"ERROR", ResultError},          {"+FHNG:0", ResultFhng},     {"DCON", ResultDcon},
      {"QQ-stop", ResultStopText},
  };
  for (auto [text, code] : cases) {
    modem.SendAfter(30, std::string("\r\n") + text + "\r\n");
    EXPECT_EQ(driver->WaitResult("QQ", 400), code) << text;
  }
}

TEST_F(Channel, WaitResultDropsLinesThatMatchNothing) {
  Open();
  uint32_t start = Now();
  modem.SendAt(start + 10, "AT#VLS=0\r\r\nok\r\nNMBR = 5551234\r\n\r\nVCON\r\n");
  EXPECT_EQ(driver->WaitResult("QQ", 400), ResultVcon);
  EXPECT_EQ(driver->LastLine(), "VCON");
  // A lower-case ok alone never classifies: the wait runs to its deadline.
  modem.SendAt(Now() + 10, "\r\nok\r\n");
  start = Now();
  EXPECT_EQ(driver->WaitResult("QQ", 400), ResultNone);
  EXPECT_GE(Now() - start, 2200u);
  EXPECT_LT(Now() - start, 2200u + 110u);
}

TEST_F(Channel, WaitResultTestsItsDeadlineOnlyBetweenLines) {
  Open();
  uint32_t start = Now();
  // A line that starts just before a 110 ms deadline and trickles in is still read.
  modem.SendAt(start + 100, "O");
  modem.SendAt(start + 550, "K\r\n");
  EXPECT_EQ(driver->WaitResult("QQ", 20), ResultOk);
  EXPECT_EQ(Now() - start, 550u);
}

TEST_F(Channel, WaitingBlocksInsteadOfPollingAndKeepsDispatchingMessages) {
  Open();
  int handled = 0;
  for (int i = 0; i < 3; ++i) {
    LoopMessage m;
    m.kind = LoopMessage::Kind::Invoke;
    m.invoke = [&] { ++handled; };
    loop->Post(std::move(m));
  }
  long readsBefore = modem.reads;
  EXPECT_EQ(driver->WaitResult("QQ", 400), ResultNone);
  EXPECT_EQ(handled, 3);
  // 2.2 s of silence: one read per 100 ms line attempt and a few more, not thousands.
  EXPECT_LT(modem.reads - readsBefore, 100);
}

// ---- sending -------------------------------------------------------------------------

TEST_F(Channel, SendLineDropsTrailingControlCharactersAndEndsWithOneCr) {
  Open();
  EXPECT_EQ(driver->SendLine("ATH0\r\n"), 1);
  EXPECT_EQ(modem.AllWritten(), "ATH0\r");
  modem.writes.clear();
  EXPECT_EQ(driver->SendLine(""), 1);
  EXPECT_EQ(driver->SendLine("\r\n\x0f"), 1);
  EXPECT_EQ(modem.AllWritten(), "\r\r");
  modem.writes.clear();
  EXPECT_EQ(driver->SendLine("AT\x10\x0e"), 1);  // DLE is 16: kept
  EXPECT_EQ(modem.AllWritten(), "AT\x10\r");
}

TEST_F(Channel, SendCommandPausesSendsAndWaitsForTheResult) {
  Open();
  modem.On("ATE0V1", Reply{{"OK"}, 300});
  uint32_t start = Now();
  EXPECT_EQ(driver->SendCommand("ATE0V1"), ResultOk);
  ASSERT_EQ(modem.commands, std::vector<std::string>{"ATE0V1"});
  EXPECT_EQ(modem.commandTicks[0] - start, 11u);
  EXPECT_EQ(Now() - start, 11u + 300u + 11u);
  modem.On("AT&K3", Reply{{}});
  start = Now();
  EXPECT_EQ(driver->SendCommand("AT&K3"), ResultNone);
  EXPECT_GE(Now() - start, 11u + 2200u + 11u);
}

// ---- write bounds --------------------------------------------------------------------

TEST_F(Channel, APortThatTakesNoByteFailsTheCommandAfterFiveSecondsAndSaysSo) {
  Open();
  modem.acceptsBytes = false;
  uint32_t start = Now();
  EXPECT_EQ(driver->SendCommand("ATZ"), ResultNone);
  uint32_t took = Now() - start;
  EXPECT_GE(took, 5000u);
  EXPECT_LT(took, 5600u);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0], "The modem port took no data for 5 seconds");
  // Known stuck: the next command gives up after one held-up byte, and is not re-told.
  start = Now();
  EXPECT_EQ(driver->SendCancel(), 0);
  EXPECT_EQ(Now() - start, 500u);
  EXPECT_EQ(faults.size(), 1u);
  // Once the port takes bytes again everything works as before.
  modem.acceptsBytes = true;
  EXPECT_EQ(driver->SendCommand("ATZ"), ResultOk);
  modem.acceptsBytes = false;
  start = Now();
  EXPECT_EQ(driver->SendLine("AT"), 0);
  EXPECT_GE(Now() - start, 5000u);
  EXPECT_EQ(faults.size(), 2u);
}

TEST_F(Channel, WriteBlockNeverFillsTheOutputQueueTo4095) {
  Open();
  modem.reportsOutputQueue = true;
  modem.outputCapacity = 4096;
  // Put the modem in voice transmit so that it takes bytes at the line's rate only.
  modem.On("AT#VTX", Reply{{"CONNECT"}, 20, FakeModem::Mode::Transmit});
  ASSERT_EQ(driver->SendCommand("AT#VTX"), ResultConnect);
  std::vector<uint8_t> block(1000, 0x55);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(driver->WriteBlock(1000, block.data()), 1000);
  EXPECT_LE(modem.maxQueued, 4094);
  EXPECT_GT(modem.maxQueued, 3000);  // and it keeps the queue fed
  EXPECT_TRUE(faults.empty());
}

TEST_F(Channel, WriteBlockFailsAndSaysSoWhenTheQueueNeverDrains) {
  Open();
  modem.reportsOutputQueue = true;
  modem.outputCapacity = 4096;
  modem.On("AT#VTX", Reply{{"CONNECT"}, 20, FakeModem::Mode::Transmit});
  ASSERT_EQ(driver->SendCommand("AT#VTX"), ResultConnect);
  modem.lineRate = 0;  // the modem stops taking data (flow control held)
  std::vector<uint8_t> block(1000, 0x55);
  int written = 0;
  uint32_t start = Now();
  for (int i = 0; i < 5; ++i) written += driver->WriteBlock(1000, block.data()) > 0;
  EXPECT_EQ(written, 4);
  EXPECT_GE(Now() - start, 5000u);
  EXPECT_LT(Now() - start, 5200u);
  EXPECT_EQ(faults, std::vector<std::string>{"The modem port took no data for 5 seconds"});
}

// ---- hang-up -------------------------------------------------------------------------

TEST_F(Channel, HangUpStopsAtTheFirstOkWithoutTouchingDtr) {
  Open();
  EXPECT_EQ(driver->HangUp(), 1);
  EXPECT_EQ(modem.commands, std::vector<std::string>{"ATH0"});
  EXPECT_TRUE(modem.dtrChanges.empty());
  EXPECT_TRUE(modem.strays.empty());
}

TEST_F(Channel, HangUpDropsDtrWhenTheFirstAth0IsNotAnswered) {
  Open();
  modem.Queue("ATH0", Reply{{}});
  modem.Queue("ATH0", Reply{{"OK"}});
  uint32_t start = Now();
  EXPECT_EQ(driver->HangUp(), 1);
  EXPECT_EQ(modem.commands, (std::vector<std::string>{"ATH0", "ATH0"}));
  ASSERT_EQ(modem.dtrChanges.size(), 2u);
  EXPECT_FALSE(modem.dtrChanges[0].second);
  EXPECT_TRUE(modem.dtrChanges[1].second);
  EXPECT_EQ(modem.dtrChanges[1].first - modem.dtrChanges[0].first, 550u);
  // 27 ms, then 1650 ms (and the line attempt under way) for the first answer.
  EXPECT_GE(modem.dtrChanges[0].first - start, 27u + 1650u);
  EXPECT_LE(modem.dtrChanges[0].first - start, 27u + 1650u + 100u);
  EXPECT_TRUE(modem.strays.empty());
}

TEST_F(Channel, HangUpEscalatesThroughDleEtxAndCanAndFailsWithoutOk) {
  Open();
  modem.SetDefault(Reply{{"ERROR"}});
  EXPECT_EQ(driver->HangUp(), 0);
  EXPECT_EQ(modem.commands, (std::vector<std::string>{"ATH0", "ATH0", "ATH0", "ATH0"}));
  ASSERT_EQ(modem.strays.size(), 3u);
  EXPECT_EQ(modem.strays[0].byte, kDLE);
  EXPECT_EQ(modem.strays[1].byte, kETX);
  EXPECT_EQ(modem.strays[2].byte, kCAN);
  // DLE ETX after the second ATH0, CAN after the third.
  EXPECT_GT(modem.strays[0].tick, modem.commandTicks[1]);
  EXPECT_LT(modem.strays[1].tick, modem.commandTicks[2]);
  EXPECT_GT(modem.strays[2].tick, modem.commandTicks[2]);
  EXPECT_LT(modem.strays[2].tick, modem.commandTicks[3]);
}

TEST_F(Channel, HangUpStopsAtStageThreeWhenTheModemWasTransmitting) {
  Open();
  modem.On("AT#VTX", Reply{{"CONNECT"}, 20, FakeModem::Mode::Transmit});
  modem.transmitEndLines = {"VCON"};
  ASSERT_EQ(driver->SendCommand("AT#VTX"), ResultConnect);
  // In voice transmit the modem does not read commands; only DLE ETX ends it.
  EXPECT_EQ(driver->HangUp(), 1);
  ASSERT_EQ(modem.transmitEndTicks.size(), 1u);
  EXPECT_EQ(modem.commands.back(), "ATH0");
  EXPECT_TRUE(modem.cancelTicks.empty());
}

}  // namespace
}  // namespace telvara::test
