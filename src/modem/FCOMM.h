#pragma once
// FCOMM: the serial channel of the modem driver. Reads the modem's byte stream without
// blocking, separates DLE-shielded event codes from data, assembles and classifies
// result lines, sends AT commands and carries the escalating hang-up. Every wait blocks
// in the engine's loop, which it is given, until input, a message or its time limit.
// Engine thread only.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "modem/LinePacer.h"
#include "modem/VoiceProtocol.h"
#include "platform/ByteStream.h"
#include "platform/EventLoop.h"

namespace telvara {

// Classifies a result line; 0 when no line classified before the deadline.
enum ModemResult : int {
  ResultNone = 0,
  ResultOk = 1,
  ResultConnect = 2,
  ResultError = 3,
  ResultNoCarrier = 4,
  ResultNoDialtone = 5,
  ResultBusy = 6,
  ResultRing = 7,
  ResultNoAnswer = 8,
  ResultVcon = 9,
  ResultFcon = 10,
  ResultDcon = 11,
  ResultFdis = 12,
  ResultFcsi = 13,
  ResultFnsf = 14,
  ResultFhng = 15,
  ResultStopText = 16,  // the caller's own stop text
};

// ReadByte's results beside a data byte.
constexpr int kReadEvent = 256;    // the byte was an event code, now queued
constexpr int kReadNothing = 512;  // no byte available

// The baud rate for a speed in hundreds of bit/s; 19200 for a speed not in the table.
int BaudForSpeed(int speed);

class FCOMM {
 public:
  using FaultReporter = std::function<void(const std::string&)>;

  FCOMM(EventLoop& loop, PortOpener opener);
  virtual ~FCOMM();
  FCOMM(const FCOMM&) = delete;
  FCOMM& operator=(const FCOMM&) = delete;

  // Where bounded failures (a port that takes no byte, a recording cut off) are told.
  void SetFaultReporter(FaultReporter reporter) { faultReporter_ = std::move(reporter); }

  // Port: "COM<port>" at the speed in hundreds of bit/s. 1 opened, 0 failed.
  int OpenComm(int port, int speed);
  const std::string& OpenError() const { return openError_; }
  // After an open: what the port went without (a lock file, say); empty when nothing.
  const std::string& OpenNotice() const { return openNotice_; }
  bool IsOpen() const { return open_; }
  void CloseComm();
  // The port hung up or failed (a USB modem unplugged, the device gone): every wait on
  // it ends at once, and the reason is kept for the status until the next open.
  bool Lost() const { return lost_; }
  const std::string& LostReason() const { return lostReason_; }
  // Waits end at once: the port is lost, or the program is closing and a line
  // operation must not hold it up.
  bool Aborted();
  // Bytes read from the port that no caller has taken yet, line ends aside (a second
  // result line that arrived with the first).
  bool HasBufferedInput() const;

  // Reading and the event queue.
  int ReadByte();
  int ReadBlock(int max, uint8_t* buffer);
  int TakeEvent();
  void UngetEvent();
  int PollEvent();
  int FlushEvents();

  // Result lines and commands.
  int ReadLine(int size, std::string& line);
  ModemResult WaitResult(const std::string& stop, int units);
  const std::string& LastLine() const { return lineBuffer_; }
  // Told every line a wait for a result reads that is no result (caller ID, say), before
  // the wait goes on; engine thread, inside the wait.
  void SetOtherLineSink(std::function<void(const std::string&)> sink) { otherLineSink_ = std::move(sink); }
  int SendLine(const std::string& text);
  ModemResult SendCommand(const std::string& command);

  // Writing.
  int WriteByte(uint8_t byte);
  int WriteBlock(int count, const uint8_t* bytes);
  int SendCancel();
  int HangUp();

  // Limits of the writes that the modem may hold up; plain milliseconds.
  static constexpr uint32_t kWriteByteMs = 500;
  static constexpr uint32_t kWriteBlockMs = 3500;
  static constexpr uint32_t kStuckPortMs = 5000;  // no byte taken: the operation fails
  static constexpr int kOutputQueueLimit = 4095;

  // Samples per second the modem plays and delivers voice at (the voice format's rate).
  int LineRate() const { return lineRate_; }

 protected:
  void ReportFault(const std::string& text);
  void MarkLost(const std::string& reason);
  // Writes one byte, retrying until the port takes it; false after the stuck-port bound.
  bool WriteByteRetrying(uint8_t byte);
  void SetLineRate(int samplesPerSecond) { lineRate_ = samplesPerSecond > 0 ? samplesPerSecond : 7200; }
  // Voice transmit: WriteBlock also keeps the samples written within a bound of what
  // the line has played at the line's rate, since some transports hide their output queue.
  void BeginLinePacing(uint32_t aheadMs);
  void EndLinePacing() { pacer_.Stop(); }
  ByteStream* Stream() { return stream_.get(); }
  EventLoop& Loop() { return loop_; }
  uint32_t Ticks() const { return loop_.Ticks(); }

 private:
  bool Refill();
  // The next byte of input, decoded; false when none is waiting.
  bool NextDecoded(uint8_t& byte, DleDecoder::Kind& kind);
  void QueueEvent(uint8_t code);
  ModemResult Classify(const std::string& line) const;

  EventLoop& loop_;
  PortOpener opener_;
  std::unique_ptr<ByteStream> stream_;
  std::string openError_;
  std::string openNotice_;
  FaultReporter faultReporter_;
  bool open_ = false;
  bool lost_ = false;
  std::string lostReason_;
  bool portStuck_ = false;  // the last bounded write failed; retries are cut short

  std::array<uint8_t, 2048> input_{};
  int inputCount_ = 0;
  int inputPos_ = 0;
  DleDecoder decoder_;

  std::array<uint8_t, 256> events_{};
  int eventWrite_ = 0;
  int eventRead_ = 0;

  std::string lineBuffer_;
  std::string stopText_;
  std::function<void(const std::string&)> otherLineSink_;
  LinePacer pacer_;
  int lineRate_ = 7200;
};

}  // namespace telvara
