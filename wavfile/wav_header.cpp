#include "wavfile.h"

#include "file_reader.h"

#include <cstring>

namespace {
// The file's first 40 bytes as stored, then the 12 bytes at fmt size + 20
// (next chunk's id, its size, its first 4 data bytes) when offset 36 is not
// "data". All zero where nothing was read.
struct THeaderRecord {
  uint8_t Head[40];
  uint8_t Next[12];
};

uint16_t Get16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
bool IsId(const uint8_t* p, const char* id) {
  return std::memcmp(p, id, 4) == 0;
}

bool DataFollowsFmt(const THeaderRecord& r) {
  return IsId(r.Head + 36, "data");
}
uint32_t FmtSize(const THeaderRecord& r) {
  return Get32(r.Head + 16);
}

template <typename Char> bool ReadHeader(const Char* fileName, THeaderRecord& record) {
  TFileReader file;
  if (!fileName || !file.Open(fileName) || !file.ReadExactly(record.Head, sizeof record.Head))
    return false;
  if (!DataFollowsFmt(record)) {
    // The position wraps modulo 2^32; from 2^31 on it is negative and fails.
    int32_t next = static_cast<int32_t>(FmtSize(record) + 20u);
    if (!file.SeekFromStart(next) || !file.ReadExactly(record.Next, sizeof record.Next))
      return false;
  }
  return file.Close();
}

bool Accepted(const THeaderRecord& r) {
  uint16_t channels = Get16(r.Head + 22);
  return IsId(r.Head, "RIFF") && IsId(r.Head + 8, "WAVE") && IsId(r.Head + 12, "fmt ") &&
         (channels == 1 || channels == 2);
}
} // namespace

void TWAVfile::Reset() {
  *this = TWAVfile();
}

template <typename Char> bool TWAVfile::Load(const Char* fileName) {
  Reset();
  THeaderRecord record = {};
  if (!ReadHeader(fileName, record))
    return false;
  if (!Accepted(record))
    return true;

  const uint8_t* h = record.Head;
  Valid = true;
  FormatTag = Get16(h + 20);
  ChannelCount = h[22];
  SampleRate = Get32(h + 24);
  BytesPerSecond = Get32(h + 28);
  BlockAlign = Get16(h + 32);
  BitsPerSample = h[34];
  // Only a fact chunk holds a sample count; other chunks (LIST, ...) do not.
  if (IsId(record.Next, "fact"))
    SampleCount = static_cast<int32_t>(Get32(record.Next + 8));
  // Without "data" at 36, the audio starts after a 12-byte fact chunk and the
  // data chunk header.
  HeaderSize = DataFollowsFmt(record) ? 44 : uint16_t(FmtSize(record) + 40u);
  FileSize = Get32(h + 4) + 8u;
  if (FileSize < HeaderSize)
    HeaderSize = uint16_t(FileSize);
  return true;
}

bool TWAVfile::LoadFromFile(const char* fileName) {
  return Load(fileName);
}

#ifdef _WIN32
bool TWAVfile::LoadFromFile(const wchar_t* fileName) {
  return Load(fileName);
}
#endif

double TWAVfile::Duration() const {
  if (!Valid)
    return 0;
  if (SampleCount == 0 && BytesPerSecond != 0)
    return double(FileSize - HeaderSize) / double(BytesPerSecond);
  if (SampleCount > 0 && SampleRate != 0)
    return double(SampleCount) / double(SampleRate);
  return 0;
}
