#include "modem/FMODEM.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "modem/RateConverter.h"

namespace telvara {
namespace {

// One command per dialect, in ModemType order; nullptr where the dialect has none.
using DialectRow = std::array<const char*, kModemTypes>;

const DialectRow kVoiceMode = {"AT#CLS=8", "AT+FCLASS=8", "AT#CLS=8", "AT#VCL=1", "AT+FCLASS=8", "AT#CLS=8"};
const DialectRow kFlowControl = {"AT&K3", "AT+FLO=2", "AT&H1&R2&I0", "AT\\Q3", "AT&K3", "AT\\Q3"};
const DialectRow kSilence = {"AT#VSD=1#VSS=2#VSP=30", "AT+VSD=128,30", "AT#VSD=1#VSS=2#VSP=30", nullptr, nullptr,
                             "AT#VSD=1#VSS=2#VSP=30"};
// SelectLine, by kind 0 to 4.
const std::array<DialectRow, 5> kSelectLine = {{
    {"AT#VLS=0", "AT+VLS=1", "AT#VLS=0", "AT#VLN=1", "AT#VLS=4", "AT#VLS=4"},
    {"AT#VLS=1", "AT+VLS=2", "AT#VLS=1", "AT#VLN=2", "AT#VLS=1", "AT#VLS=1"},
    {"AT#VLS=3", "AT+VLS=3", "AT#VLS=3", "AT#VLN=32", "AT#VLS=1", "AT#VLS=1"},
    {"AT#VLS=1", "AT#VLS=1", "AT#VLS=1", nullptr, nullptr, nullptr},
    {"AT#VLS=2", "AT#VLS=2", "AT#VLS=2", "AT#VLS=2", "AT#VLS=2", "AT#VLS=2"},
}};
const DialectRow kCallerId = {"AT#CID=1", "AT+VCID=1", "AT#CID=1", nullptr, nullptr, nullptr};
const DialectRow kAnswer = {"ATA", "AT+VLS=1", "ATA", "AT#VIP=1", "ATA", "ATA"};
const DialectRow kBeep = {"AT#VTS={5,1}", "AT+VTS=5", "AT#VTS={5,1}", "AT#VBP", "AT+VTS=5", "AT#VTS=[900,0,1]"};
const DialectRow kTransmit = {"AT#VTX", "AT+VTX", "AT#VTX", "AT#VPY", "AT#VSV", "AT#VTX"};
const DialectRow kReceive = {"AT#VRX", "AT+VRX", "AT#VRX", "AT#VRD", "AT#VD1", "AT#VRX"};

const VoiceFormat kVoiceFormats[] = {
    {Rockwell, 2, 7200, "AT#BDR=8#VBS=2#VSR=7200"},
    {Rockwell, 2, 11025, "AT#BDR=16#VBS=2#VSR=11025"},
    {Rockwell, 4, 7200, "AT#BDR=16#VBS=4#VSR=7200"},
    {Rockwell, 4, 11025, "AT#BDR=24#VBS=4#VSR=11025"},
    {Rockwell, 8, 7200, "AT#BDR=48#VBS=8#VSR=7200"},
    {Rockwell, 8, 11025, "AT#BDR=48#VBS=8#VSR=11025"},
    {IS_101, 3, 4800, "AT+VSM=141,4800"},
    {IS_101, 3, 7200, "AT+VSM=141,7200"},
    {IS_101, 3, 8000, "AT+VSM=141,8000"},
    {IS_101, 3, 9600, "AT+VSM=141,9600"},
    {IS_101, 3, 11025, "AT+VSM=141,11025"},
    {IS_101, 4, 4800, "AT+VSM=2,4800"},
    {IS_101, 4, 7200, "AT+VSM=2,7200"},
    {IS_101, 4, 8000, "AT+VSM=2,8000"},
    {IS_101, 4, 9600, "AT+VSM=2,9600"},
    {IS_101, 4, 11025, "AT+VSM=2,11025"},
    {IS_101, 8, 4800, "AT+VSM=0,4800"},
    {IS_101, 8, 7200, "AT+VSM=0,7200"},
    {IS_101, 8, 8000, "AT+VSM=0,8000"},
    {IS_101, 8, 9600, "AT+VSM=0,9600"},
    {IS_101, 8, 11025, "AT+VSM=0,11025"},
    {IS_101, 16, 4800, "AT+VSM=1,4800"},
    {IS_101, 16, 7200, "AT+VSM=1,7200"},
    {IS_101, 16, 8000, "AT+VSM=1,8000"},
    {IS_101, 16, 9600, "AT+VSM=1,9600"},
    {IS_101, 16, 11025, "AT+VSM=1,11025"},
    {USRobotics, 2, 8000, "AT#VSM=129,8000#VBS=2"},
    {USRobotics, 3, 8000, "AT#VSM=129,8000#VBS=3"},
    {USRobotics, 4, 8000, "AT#VSM=129,8000#VBS=4"},
    {USRobotics, 8, 8000, "AT#VSM=128,8000"},
    {Cirrus, 3, 9600, "AT#VSR=9600#VSM=AD3"},
    {Cirrus, 4, 9600, "AT#VSR=9600#VSM=AD4"},
    {Cirrus, 5, 9600, "AT#VSR=9600#VSM=CL1"},
    {UMC, 2, 7200, "AT#VBS=2"},
    {UMC, 3, 7200, "AT#VBS=3"},
    {UMC, 4, 7200, "AT#VBS=4"},
    {Sierra, 8, 9600, "AT#VSM=2"},
    {Rockwell, 0, 0, nullptr},  // end of the table
};

// The rate a modem of the type runs voice at with the driver's format: the rate of the
// row SetVoiceFormat sends, else the type's own rate in the table (a Cirrus or Sierra
// modem, for which the format has no row, runs at 9600). US Robotics runs at 8000 only.
int DialectRate(ModemType type, int bits, int rate) {
  if (type == USRobotics) rate = 8000;
  if (const VoiceFormat* row = FindVoiceFormat(type, bits, rate)) return row->sampleRate;
  for (const VoiceFormat& row : kVoiceFormats) {
    if (row.bitsPerSample == 0) break;
    if (row.type == type) return row.sampleRate;
  }
  return rate;
}

bool IsKey(int code) { return (code >= '0' && code <= '9') || code == '*' || code == '#'; }

bool StopsRecording(int code) { return (code >= '1' && code <= '9') || code == '*' || code == '#' || code == 'q'; }

bool Answered(ModemResult r) { return r == ResultOk || r == ResultVcon; }

}  // namespace

const VoiceFormat* FindVoiceFormat(ModemType type, int bits, int rate) {
  for (const VoiceFormat& row : kVoiceFormats) {
    if (row.bitsPerSample == 0) break;
    if (row.type == type && row.bitsPerSample == bits && row.sampleRate == rate) return &row;
  }
  return nullptr;
}

FMODEM::FMODEM(EventLoop& loop, PortOpener opener) : FCOMM(loop, std::move(opener)), wave_(std::make_unique<FWAVE>()) {
  wave_->InitHeader(bitsPerSample_, sampleRate_);
  SetLineRate(DialectRate(type_, bitsPerSample_, sampleRate_));
}

FMODEM::~FMODEM() { ReleaseWave(); }

void FMODEM::ReleaseWave() {
  if (wave_) wave_->Close();
  wave_.reset();
}

ModemResult FMODEM::SendAndMap(const char* command) {
  if (command == nullptr) return ResultNone;
  return SendCommand(command);
}

// ---- type, voice mode, flow control --------------------------------------------------

int FMODEM::SetModemType(uint32_t type) {
  if (type >= kModemTypes) return 0;
  type_ = static_cast<ModemType>(type);
  SetLineRate(DialectRate(type_, bitsPerSample_, sampleRate_));
  return 1;
}

ModemResult FMODEM::SetVoiceMode() { return SendAndMap(kVoiceMode[type_]); }

int FMODEM::SetFlowControl() { return SendAndMap(kFlowControl[type_]) == ResultOk ? 1 : 0; }

const char* FMODEM::CallerIdCommand() const { return kCallerId[type_]; }

// ---- line control --------------------------------------------------------------------

ModemResult FMODEM::SetVoiceFormat(int bits, int rate) {
  if (type_ == USRobotics) rate = 8000;
  const VoiceFormat* row = FindVoiceFormat(type_, bits, rate);
  if (row == nullptr) return ResultNone;  // the modem keeps the rate it has
  SetLineRate(row->sampleRate);
  return SendAndMap(row->command);
}

int FMODEM::SelectLine(int kind) {
  if (kind < 0 || kind >= static_cast<int>(kSelectLine.size())) return 0;
  const char* command = kSelectLine[kind][type_];
  if (command == nullptr) return 0;
  return Answered(SendAndMap(command)) ? 1 : 0;
}

int FMODEM::SetSilenceDetection() {
  // Cirrus and Sierra have no silence-report command: reporting is not on, so 0.
  const char* command = kSilence[type_];
  if (command == nullptr) return 0;
  return SendAndMap(command) == ResultOk ? 1 : 0;
}

int FMODEM::Answer() {
  SetVoiceMode();
  SetVoiceFormat(bitsPerSample_, sampleRate_);
  if (type_ == Rockwell) SelectLine(LineTelephone);
  if (type_ == Cirrus) SendAndMap("AT#VLN=1");
  return Answered(SendAndMap(kAnswer[type_])) ? 1 : 0;
}

int FMODEM::Dial(const std::string& number, int units) {
  // The number ends the command line; one with a line break inside would let a
  // second command reach the modem.
  std::size_t end = number.size();
  while (end > 0 && static_cast<uint8_t>(number[end - 1]) < 16) --end;
  for (std::size_t i = 0; i < end; ++i)
    if (static_cast<uint8_t>(number[i]) < 32) return 0;
  static const uint8_t kDialPrefix[] = {'A', 'T', 'D', 'T', ' '};
  if (WriteBlock(5, kDialPrefix) != 5) return 0;
  if (!SendLine(number)) return 0;
  if (type_ == IS_101) {
    if (WaitResult(kNoStopText, 600) != ResultOk) return 0;
    WaitResult(kNoStopText, 1500);
    return 1;
  }
  ModemResult r = WaitResult(kNoStopText, units);
  return r == ResultConnect || r == ResultVcon ? 1 : 0;
}

ModemResult FMODEM::Beep() { return SendAndMap(kBeep[type_]); }

// ---- play ----------------------------------------------------------------------------

int FMODEM::BeginPlay() {
  Loop().Delay(5);
  SetVoiceFormat(bitsPerSample_, sampleRate_);
  ModemResult r = SendAndMap(kTransmit[type_]);
  Loop().Delay(5);
  transmitting_ = r == ResultConnect;
  if (transmitting_) BeginLinePacing(kPacingAheadMs);
  return transmitting_ ? 1 : 0;
}

int FMODEM::StreamFile(const std::string& path) {
  if (!wave_) return 0;
  // Samples sent to a modem that is not in voice transmit would be read as commands.
  if (!transmitting_) return 0;
  if (!wave_->OpenRead(path)) return 0;
  // A file at another rate than the line's is converted, so it keeps its pitch.
  // Blocks stay a block's worth of line samples, so a key ends a play as soon.
  std::optional<RateConverter> converter;
  int readMax = kPlayBlock;
  if (int rate = wave_->SampleRate(); rate > 0 && rate != LineRate()) {
    converter.emplace(rate, LineRate());
    readMax = std::clamp(kPlayBlock * rate / LineRate(), 1, kPlayBlock);
  }
  std::array<uint8_t, kPlayBlock> block;
  std::vector<uint8_t> samples, escaped;
  for (;;) {
    if (Aborted()) break;
    int n = wave_->Read(block.data(), readMax);
    if (n <= 0) break;
    const uint8_t* data = block.data();
    size_t size = static_cast<size_t>(n);
    if (converter) {
      samples.clear();
      converter->Convert(data, size, samples);
      data = samples.data();
      size = samples.size();
    }
    escaped.clear();
    AppendShielded(data, size, escaped);
    int count = static_cast<int>(escaped.size());
    // A port that does not take the block ends the play (WriteBlock has said why).
    if (count > 0 && WriteBlock(count, escaped.data()) != count) break;
    int event = PollEvent();
    if (IsKey(event)) {
      UngetEvent();  // the key is the caller's
      break;
    }
    Loop().PumpOne();
  }
  if (!wave_->Error().empty()) ReportFault("Cannot read " + path + ": " + wave_->Error());
  wave_->Close();
  return 1;
}

bool FMODEM::WriteEndOfVoice() { return WriteByteRetrying(kDLE) && WriteByteRetrying(kETX); }

void FMODEM::DrainOutput() {
  ByteStream* stream = Stream();
  if (stream == nullptr) return;
  uint32_t start = Ticks();
  for (;;) {
    int queued = stream->OutputQueued();
    if (queued == 0 || Aborted()) return;
    uint32_t now = Ticks();
    if (TickReached(now, start + kDrainMs)) {
      ReportFault("The modem did not take the end of the sound within 3 seconds");
      return;
    }
    // Look again when the queue should have played out at the line's rate.
    uint32_t ms = queued > 0 ? static_cast<uint32_t>(queued) * 1000u / LineRate() : 10u;
    ms = std::clamp<uint32_t>(ms, 1, 100);
    Loop().BlockUntil(std::min(now + ms, start + kDrainMs), WaitFor::Messages);
  }
}

int FMODEM::EndPlay() {
  EndLinePacing();
  transmitting_ = false;
  WriteEndOfVoice();
  DrainOutput();
  ModemResult r = WaitResult(kNoStopText, 500);
  if (!Answered(r)) {
    Loop().Delay(10);
    WriteEndOfVoice();
    r = WaitResult(kNoStopText, 500);
  }
  Loop().Delay(5);
  return Answered(r) ? 1 : 0;
}

int FMODEM::PlayFile(const std::string& path) {
  if (!BeginPlay()) return 0;
  StreamFile(path);
  EndPlay();
  return 1;
}

// ---- record --------------------------------------------------------------------------

int FMODEM::RecordFile(const std::string& path, uint32_t maxSeconds) {
  if (!wave_) return 0;
  SetVoiceFormat(bitsPerSample_, sampleRate_);
  wave_->InitHeader(bitsPerSample_, LineRate());  // the rate the samples come at
  if (!wave_->OpenWrite(path)) {
    ReportFault("Cannot record: " + wave_->Error());
    return 0;
  }
  if (SendAndMap(kReceive[type_]) != ResultConnect) {
    wave_->Discard();
    return 0;
  }
  // Skip to the first plain byte after the result line (the LF after CONNECT); events
  // on the way are queued for the loop below.
  uint32_t skipStart = Ticks();
  for (int reads = 0; reads < 1002; ++reads) {
    int c = ReadByte();
    if (c != kReadEvent && c != kReadNothing) break;
    if (c == kReadNothing) {
      if (TickReached(Ticks(), skipStart + 100) || Aborted()) break;
      Loop().BlockUntil(skipStart + 100, WaitFor::Input);
    }
  }
  return ReceiveVoice(maxSeconds);
}

// The receive loop: stores what arrives until the modem's DLE ETX, asking the modem to
// stop (CAN) on a key, quiet, the fifth silence, the caller's limit or a bound. It
// dispatches no messages.
int FMODEM::ReceiveVoice(uint32_t maxSeconds) {
  std::array<uint8_t, kRecordBlock> block;
  const uint64_t maxBytes = static_cast<uint64_t>(kRecordMaxSeconds) * LineRate();
  const uint64_t limitBytes =
      maxSeconds > 0 && maxSeconds < kRecordMaxSeconds ? static_cast<uint64_t>(maxSeconds) * LineRate() : maxBytes + 1;
  uint32_t lastData = Ticks();
  int silenceCount = 0;
  bool storing = true;
  bool cancelled = false;
  uint32_t cancelTick = 0;
  auto cancel = [&] {
    SendCancel();
    if (!cancelled) cancelTick = Ticks();
    cancelled = true;
  };
  for (;;) {
    int n = ReadBlock(kRecordBlock, block.data());
    if (n > 0) {
      lastData = Ticks();
      if (storing) {
        if (wave_->Append(block.data(), n) < n) {
          storing = false;
          ReportFault("Cannot write " + wave_->GetPath() + ": " + wave_->Error() + "; the recording was stopped");
          cancel();
        } else if (!cancelled && static_cast<uint64_t>(wave_->GetDataLength()) > maxBytes) {
          ReportFault("The recording reached its limit of 10 minutes and was stopped");
          cancel();
        } else if (!cancelled && static_cast<uint64_t>(wave_->GetDataLength()) >= limitBytes) {
          cancel();  // the longest message set: ended as by the caller's key
        }
      }
    }
    int event = TakeEvent();
    if (event == kETX) break;
    // The port is gone or the program is stopping: what came so far is kept; a modem
    // still there is asked to stop, without waiting for its end mark.
    if (Aborted()) {
      if (!cancelled && !Lost()) SendCancel();
      break;
    }
    if (StopsRecording(event)) {
      cancel();
    } else if (event == 's') {
      if (++silenceCount > 4) cancel();
    }
    uint32_t now = Ticks();
    if (!cancelled && TickReached(now, lastData + kRecordNoDataMs)) {
      ReportFault("The modem sent no sound for 10 seconds; the recording was stopped");
      cancel();
    }
    if (cancelled && TickReached(now, cancelTick + kEndMarkMs)) {
      ReportFault("The modem did not close the recording; it was ended without its end mark");
      break;
    }
    if (n > 0 || event != 0) continue;
    Loop().BlockUntil(cancelled ? cancelTick + kEndMarkMs : lastData + kRecordNoDataMs, WaitFor::Input);
  }
  wave_->Finish();
  if (storing && !wave_->Error().empty()) ReportFault("Cannot complete " + wave_->GetPath() + ": " + wave_->Error());
  wave_->Close();
  return Answered(WaitResult(kNoStopText, 500)) ? 1 : 0;
}

}  // namespace telvara
