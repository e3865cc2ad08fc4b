// The RIFF/WAVE header reader and the seven texts of the Information page.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// One file's header values. A failed or refused load leaves every value 0.
class TWAVfile {
public:
  TWAVfile() = default;

  // Reads the first 40 bytes of the file and, when offset 36 does not hold
  // "data", the 12 bytes at fmt size + 20: the header and first 4 data bytes
  // of the chunk after the fmt chunk.
  // Returns true when the header bytes could be read, also when they were then
  // refused; whether the file was accepted is told by Valid alone. Never throws.
  bool LoadFromFile(const char* fileName);
#ifdef _WIN32
  // The same through a UTF-16 path, for names outside the ANSI code page.
  bool LoadFromFile(const wchar_t* fileName);
#endif

  // Play time in seconds.
  double Duration() const;
  const char* FormatName() const;
  const char* ChannelModeName() const;

  bool Valid = false;
  uint16_t FormatTag = 0;
  uint8_t ChannelCount = 0;
  uint32_t SampleRate = 0;
  uint32_t BytesPerSecond = 0;
  uint16_t BlockAlign = 0;
  uint8_t BitsPerSample = 0;
  int32_t SampleCount = 0;
  uint16_t HeaderSize = 0;
  uint32_t FileSize = 0;

private:
  void Reset();
  template <typename Char> bool Load(const Char* fileName);
};

// Text i goes into the page's control 1000 + i: format, channels, channel
// mode, sample rate, bytes per second, bits per sample, duration.
using TInformationTexts = std::array<std::string, 7>;
TInformationTexts InformationTexts(const TWAVfile& wav);

// The value rounded to one decimal place, written without a leading zero and
// with `separator` before the decimal digit (0.25 -> ".3", 59.96 -> "60.0").
std::string OneDecimalForm(double value, char separator);

// The module-wide decimal separator: '.' until LoadDecimalSeparator has read
// the locale. Written once at start-up, only read afterwards.
char DecimalSeparator();
// Reads the separator of the calling thread's locale (Windows) or of the
// environment's LC_NUMERIC (POSIX); '.' when that is not exactly one byte.
void LoadDecimalSeparator();
// For tests: sets the separator directly.
void SetDecimalSeparator(char separator);
// The separator a locale setting gives: its only byte, or '.' when the
// setting is missing, empty or longer.
char SeparatorFromSetting(const char* setting);
