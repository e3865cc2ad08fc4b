#include "wavfile.h"

#include "significant_digits.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

const char* TWAVfile::FormatName() const {
  switch (FormatTag) {
  case 1:
    return "Windows PCM";
  case 2:
    return "Microsoft ADPCM";
  case 6:
    return "A-LAW";
  case 7:
    return "MU-LAW";
  case 17:
    return "DVI/IMA ADPCM";
  case 85:
    return "MPEG 1.0 Layer III";
  default:
    return "";
  }
}

const char* TWAVfile::ChannelModeName() const {
  switch (ChannelCount) {
  case 1:
    return "Mono";
  case 2:
    return "Stereo";
  default:
    return "Unknown";
  }
}

namespace {
// Room for the integer digits of the largest double (309), the separator, the
// tenths digit and a suffix.
constexpr size_t OneDecimalRoom = 330;

// Writes the integer digits (none for 0), the separator and the tenths digit.
char* WriteTenths(char* out, const char* integer, size_t integerLength, char separator,
                  char tenths) {
  while (integerLength > 0 && *integer == '0') { // 0 has no integer digits
    ++integer;
    --integerLength;
  }
  std::memcpy(out, integer, integerLength);
  out += integerLength;
  *out++ = separator;
  *out++ = tenths;
  return out;
}

// The rule worked on the digits themselves: exact for any double. The rounding
// digit is taken from the value's first 18 significant digits (as "%.17e"
// writes them), so 0.15 (stored as 0.1499...) cuts while 0.25 goes up.
char* WriteOneDecimalFromDigits(char* out, double value, char separator) {
  char digits[18];
  int exponent = EighteenDigits(value, digits);

  // Digit k of `digits` weighs 10^(exponent - k).
  auto digitAt = [&](int k) { return k >= 0 && k < 18 ? digits[k] : '0'; };
  // The integer digits and the tenths digit, before rounding; kept[0] stays
  // free for a carry out of the first digit.
  char kept[OneDecimalRoom];
  size_t integerLength = exponent < 0 ? 0 : size_t(exponent) + 1;
  for (size_t k = 0; k < integerLength; ++k)
    kept[1 + k] = digitAt(int(k));
  kept[1 + integerLength] = digitAt(exponent + 1);
  size_t length = integerLength + 2;
  size_t first = 1;
  if (digitAt(exponent + 2) >= '5') {
    size_t i = length;
    while (i > 1 && kept[i - 1] == '9')
      kept[--i] = '0';
    if (i == 1)
      kept[first = 0] = '1';
    else
      ++kept[i - 1];
  }
  return WriteTenths(out, kept + first, length - 1 - first, separator, kept[length - 1]);
}

// Play times stay below 2^32 s. Below 1e10 the 18 significant digits reach
// down to 1e-8 at least, so they differ from the double by at most 5e-9 s:
// plain arithmetic decides every value that is not within that of a turning
// point x.x5. Returns nullptr, having written nothing, for values it leaves to
// the digits.
char* WriteOneDecimalFast(char* out, double value, char separator) {
  if (!(value < 1e10))
    return nullptr;
  uint64_t whole = uint64_t(value);
  double fraction = value - double(whole); // exact
  // The turning points are the odd twentieths. The product is off by at most
  // 2e-15; the 18-digit form by 1e-7 twentieths; keep well clear of both.
  double twentieths = fraction * 20;
  double nearestOdd = 2 * std::floor(twentieths / 2) + 1;
  // .25 and .75 are the only fractions exactly on a turning point; they have
  // few enough digits to be their own 18-digit form, so they go up.
  if (std::fabs(twentieths - nearestOdd) < 1e-6 && fraction != 0.25 && fraction != 0.75)
    return nullptr;
  // Rounded tenths, 10 when the rounding carries into the integer part.
  uint64_t tenths = whole * 10 + uint64_t((twentieths + 1) / 2);
  char integer[24];
  char* integerEnd = std::to_chars(integer, integer + sizeof integer, tenths / 10).ptr;
  return WriteTenths(out, integer, size_t(integerEnd - integer), separator,
                     char('0' + tenths % 10));
}

// Writes the one-decimal form at `out` (which has OneDecimalRoom bytes) and
// returns its end.
char* WriteOneDecimal(char* out, double value, char separator) {
  if (!(value > 0) || !std::isfinite(value))
    value = 0;
  if (char* end = WriteOneDecimalFast(out, value, separator))
    return end;
  return WriteOneDecimalFromDigits(out, value, separator);
}

// A number's decimal digits followed by `suffix`, composed in place so the
// text is allocated once (not at all when it fits the string's own buffer).
template <size_t SuffixSize>
std::string DecimalText(uint32_t value, const char (&suffix)[SuffixSize]) {
  char text[10 + SuffixSize];
  char* end = std::to_chars(text, text + 10, value).ptr;
  std::memcpy(end, suffix, SuffixSize - 1);
  return std::string(text, size_t(end - text) + SuffixSize - 1);
}
} // namespace

std::string OneDecimalForm(double value, char separator) {
  char text[OneDecimalRoom];
  return std::string(text, WriteOneDecimal(text, value, separator));
}

TInformationTexts InformationTexts(const TWAVfile& wav) {
  static const char seconds[] = " seconds";
  char duration[OneDecimalRoom + sizeof seconds];
  char* durationEnd = WriteOneDecimal(duration, wav.Duration(), DecimalSeparator());
  std::memcpy(durationEnd, seconds, sizeof seconds - 1);
  durationEnd += sizeof seconds - 1;
  return {
      wav.FormatName(),
      DecimalText(wav.ChannelCount, ""),
      wav.ChannelModeName(),
      DecimalText(wav.SampleRate, " Hz"),
      DecimalText(wav.BytesPerSecond, ""),
      DecimalText(wav.BitsPerSample, ""),
      std::string(duration, durationEnd),
  };
}
