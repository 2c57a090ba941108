#pragma once
// FWAVE: the one WAV file the driver plays from or records into. A fixed 44-byte RIFF
// header (PCM, mono) followed by the modem's sample bytes unchanged; a recording's
// sizes are patched by Finish, with a pad byte after an odd data length.
// A file error ends the operation with what was written kept, and is kept as text
// for the driver to report. Engine thread only.
#include <array>
#include <cstdint>
#include <string>

#include "platform/FileDescriptor.h"

namespace telvara {

class FWAVE {
 public:
  static constexpr int kHeaderSize = 44;

  FWAVE();
  ~FWAVE();
  FWAVE(const FWAVE&) = delete;
  FWAVE& operator=(const FWAVE&) = delete;

  void InitHeader(int bitsPerSample, int sampleRate);
  int OpenWrite(const std::string& path);
  int OpenRead(const std::string& path);
  // Returns the bytes actually stored; fewer than count after a file error.
  int Append(const uint8_t* bytes, int count);
  // The next sample bytes; 0 at the end of the file or after a read error.
  int Read(uint8_t* buffer, int max);
  void Finish();
  int Close();
  int Discard();
  int GetDataLength() const;

  bool IsOpen() const { return file_.IsValid(); }
  const std::string& GetPath() const { return path_; }
  // The last file error since the file was opened; empty when none.
  const std::string& Error() const { return error_; }
  // The sample rate of a file read, when its header is that of 8-bit mono PCM at a
  // rate a modem could run at (4000 to 48000); else 0 (the bytes play as they are).
  int SampleRate() const;
  // The header image as it stands (the provisional or finished header, or as read).
  const std::array<uint8_t, kHeaderSize>& Header() const { return header_; }

 private:
  bool OpenRegular(const std::string& path, int flags);
  uint32_t Field32(int offset) const;
  void SetField32(int offset, uint32_t value);
  void SetField16(int offset, uint16_t value);
  bool WriteAll(const uint8_t* bytes, int count, int& written);
  void NoteError(const std::string& what);

  std::array<uint8_t, kHeaderSize> header_{};
  std::string path_;
  std::string error_;
  UniqueFileDescriptor file_;
  bool created_ = false;  // path_ was opened by OpenWrite
};

}  // namespace telvara
