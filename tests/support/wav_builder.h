// Builds RIFF/WAVE header bytes for tests: a canonical 44-byte PCM header by
// default, every field adjustable, extra chunks appended as raw bytes; and
// writes bytes to files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Writes the bytes into a file just opened, and closes it; false when the
// file could not be opened or written.
inline bool WriteAndClose(FILE* file, const std::vector<uint8_t>& bytes) {
  if (!file)
    return false;
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

struct TWavBuilder {
  std::string RiffId = "RIFF";
  uint32_t RiffSize = 176436; // a one-second canonical file: 176444 bytes
  std::string FormType = "WAVE";
  std::string FmtId = "fmt ";
  uint32_t FmtSize = 16;
  uint16_t FormatTag = 1;
  uint16_t Channels = 2;
  uint32_t SampleRate = 44100;
  uint32_t BytesPerSecond = 176400;
  uint16_t BlockAlign = 4;
  uint16_t BitsPerSample = 16;
  // Bytes after the 16 fixed fmt fields (fmt extension, further chunks).
  std::vector<uint8_t> Tail = Chunk("data", 0);

  static void Put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
  }
  static void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      b.push_back(uint8_t(v >> (8 * i)));
  }
  static void PutId(std::vector<uint8_t>& b, const std::string& id) {
    for (size_t i = 0; i < 4; ++i)
      b.push_back(i < id.size() ? uint8_t(id[i]) : uint8_t(' '));
  }
  // A chunk header (id, size) followed by its data bytes.
  static std::vector<uint8_t> Chunk(const std::string& id, uint32_t size,
                                    const std::vector<uint8_t>& data = {}) {
    std::vector<uint8_t> b;
    PutId(b, id);
    Put32(b, size);
    b.insert(b.end(), data.begin(), data.end());
    return b;
  }

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> b;
    PutId(b, RiffId);
    Put32(b, RiffSize);
    PutId(b, FormType);
    PutId(b, FmtId);
    Put32(b, FmtSize);
    Put16(b, FormatTag);
    Put16(b, Channels);
    Put32(b, SampleRate);
    Put32(b, BytesPerSecond);
    Put16(b, BlockAlign);
    Put16(b, BitsPerSample);
    b.insert(b.end(), Tail.begin(), Tail.end());
    return b;
  }

  // Writes the bytes, followed by `padding` zero bytes, to path.
  bool WriteTo(const std::string& path, size_t padding = 0) const {
    std::vector<uint8_t> b = Bytes();
    b.resize(b.size() + padding, 0);
    return WriteAndClose(std::fopen(path.c_str(), "wb"), b);
  }
};
