#pragma once
// FMODEM: the voice-modem driver the call engine owns. Knows the six voice-command
// dialects (voice mode, flow control, voice format, line selection, silence reports,
// answer, dial, beep) and streams WAV files to and from the line through its one
// FWAVE. Engine thread only.
#include <cstdint>
#include <memory>
#include <string>

#include "modem/FCOMM.h"
#include "modem/FWAVE.h"

namespace telvara {

// The argument of SelectLine; 2 and 3 exist in the dialects but are not used.
enum LineKind : int {
  LineTelephone = 0,
  LineHandset = 1,
  LineKind2 = 2,
  LineKind3 = 3,
  LineSpeaker = 4,
};

// One row of the voice-format command table.
struct VoiceFormat {
  ModemType type;
  int bitsPerSample;
  int sampleRate;
  const char* command;
};

// The first row for the type, bits and rate; nullptr when there is none.
const VoiceFormat* FindVoiceFormat(ModemType type, int bits, int rate);

class FMODEM : public FCOMM {
 public:
  FMODEM(EventLoop& loop, PortOpener opener);
  ~FMODEM() override;

  int SetModemType(uint32_t type);
  ModemType GetModemType() const { return type_; }
  ModemResult SetVoiceMode();
  int SetFlowControl();
  // The dialect's command that turns formatted caller ID on; nullptr where it has none.
  const char* CallerIdCommand() const;

  int GetSampleRate() const { return sampleRate_; }
  ModemResult SetVoiceFormat(int bits, int rate);
  int SelectLine(int kind);
  int SetSilenceDetection();
  int Answer();
  int Dial(const std::string& number, int units);
  ModemResult Beep();

  int BeginPlay();
  int StreamFile(const std::string& path);
  int EndPlay();
  int PlayFile(const std::string& path);
  // A recording longer than maxSeconds (1 to kRecordMaxSeconds; 0: no limit of its own)
  // is stopped as a key would stop it, keeping what came.
  int RecordFile(const std::string& path, uint32_t maxSeconds = 0);

  // The one WAV object; nullptr once released.
  FWAVE* GetWave() { return wave_.get(); }
  // Closes the WAV object's file and deletes it (the view does this at shutdown).
  void ReleaseWave();

  static constexpr int kPlayBlock = 512;
  static constexpr int kRecordBlock = 1000;
  // Bounds of what the modem may leave unended; plain milliseconds.
  static constexpr uint32_t kPacingAheadMs = 500;
  static constexpr uint32_t kDrainMs = 3000;
  static constexpr uint32_t kRecordNoDataMs = 10000;
  static constexpr uint32_t kRecordMaxSeconds = 600;
  static constexpr uint32_t kEndMarkMs = 3000;  // after CAN, for the DLE ETX

 private:
  ModemResult SendAndMap(const char* command);
  void DrainOutput();
  bool WriteEndOfVoice();
  int ReceiveVoice(uint32_t maxSeconds);

  ModemType type_ = Rockwell;
  int bitsPerSample_ = 8;
  int sampleRate_ = 7200;
  bool transmitting_ = false;  // between a successful BeginPlay and EndPlay
  std::unique_ptr<FWAVE> wave_;
};

}  // namespace telvara
