#include "wavfile.h"

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

// Unsigned integers as 32-bit limbs, least significant first, so every step
// fits 64-bit arithmetic. 34 limbs hold the integer part of any double (below
// 2^1024) and its fraction part (at most 1074 bits below the point).
constexpr int MaxLimbs = 34;

// Sets x[0, count) to value * 2^shift, which must fit.
void SetShifted(uint32_t* x, int count, uint64_t value, int shift) {
  std::memset(x, 0, size_t(count) * sizeof *x);
  int limb = shift / 32, bit = shift % 32;
  const uint32_t parts[3] = {uint32_t(value << bit), uint32_t(value << bit >> 32),
                             bit == 0 ? 0 : uint32_t(value >> (64 - bit))};
  for (int i = 0; i < 3 && limb + i < count; ++i)
    x[limb + i] = parts[i];
}

bool IsZero(const uint32_t* x, int count) {
  for (int i = 0; i < count; ++i)
    if (x[i] != 0)
      return false;
  return true;
}

// Divides the integer x[0, count) by 10^9 and drops the quotient's leading
// zero limbs. Returns the remainder: the integer's last nine digits.
uint32_t DivideByBillion(uint32_t* x, int& count) {
  uint64_t remainder = 0;
  for (int i = count; i-- > 0;) {
    uint64_t part = remainder << 32 | x[i];
    x[i] = uint32_t(part / 1000000000);
    remainder = part % 1000000000;
  }
  while (count > 0 && x[count - 1] == 0)
    --count;
  return uint32_t(remainder);
}

// Multiplies the fraction x[0, count) / 2^(32 count) by 10^9 and keeps the
// fraction. Returns what crossed the point: the fraction's next nine digits.
uint32_t MultiplyByBillion(uint32_t* x, int count) {
  uint32_t carry = 0;
  for (int i = 0; i < count; ++i) {
    uint64_t product = uint64_t(x[i]) * 1000000000 + carry;
    x[i] = uint32_t(product);
    carry = uint32_t(product >> 32);
  }
  return carry;
}

constexpr uint32_t PowersOfTen[10] = {1,      10,      100,      1000,      10000,
                                      100000, 1000000, 10000000, 100000000, 1000000000};

// The first 19 significant digits of a number fed nine digits at a time, the
// most significant first, and whether a nonzero digit follows them: enough to
// round to 18 digits.
struct TLeadingDigits {
  explicit TLeadingDigits(int firstWeight) : Weight(firstWeight) {}

  void Add(uint32_t nineDigits) {
    if (Count == 0) {
      if (nineDigits != 0) { // leading zeros are not significant
        int width = 1;
        while (width < 9 && nineDigits >= PowersOfTen[width])
          ++width;
        Digits = nineDigits;
        Count = width;
        Exponent = Weight - 9 + width;
      }
    } else {
      int taken = 19 - Count < 9 ? 19 - Count : 9;
      uint32_t left = PowersOfTen[9 - taken];
      Digits = Digits * PowersOfTen[taken] + nineDigits / left;
      NonzeroAfter |= nineDigits % left != 0;
      Count += taken;
    }
    Weight -= 9;
  }

  uint64_t Digits = 0; // below 10^19, so it fits
  int Count = 0;
  int Exponent = 0; // the first digit weighs 10^Exponent
  bool NonzeroAfter = false;

private:
  int Weight; // of the next group's first digit
};

// The value's first 18 significant digits, correctly rounded (as "%.17e" writes
// them), worked out exactly from the double's bits for any value, subnormals
// included. Returns the exponent: digits[0] weighs 10^exponent.
int EighteenDigits(double value, char (&digits)[18]) {
  uint64_t bits;
  static_assert(sizeof bits == sizeof value, "64-bit double");
  std::memcpy(&bits, &value, sizeof bits);
  int biasedExponent = int(bits >> 52 & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
  if (biasedExponent != 0)
    mantissa |= uint64_t(1) << 52;
  // value = mantissa * 2^exponent (sign, infinity and NaN are not expected)
  int exponent = (biasedExponent != 0 ? biasedExponent : 1) - 1075;

  uint32_t x[MaxLimbs];
  // The integer part's digits come from its low end, so they are gathered
  // before they are fed.
  uint32_t integerGroups[35]; // 309 digits at most
  int groupCount = 0;
  int count = exponent >= 0 ? exponent / 32 + 3 : 2;
  if (exponent >= 0)
    SetShifted(x, count, mantissa, exponent);
  else
    SetShifted(x, count, -exponent < 64 ? mantissa >> -exponent : 0, 0);
  while (count > 0 && x[count - 1] == 0)
    --count;
  while (count > 0)
    integerGroups[groupCount++] = DivideByBillion(x, count);
  TLeadingDigits leading(9 * groupCount - 1);
  while (groupCount > 0)
    leading.Add(integerGroups[--groupCount]);

  if (exponent < 0) {
    // The fraction's bits, placed so the point sits above the top limb.
    int fractionBits = -exponent;
    count = (fractionBits + 31) / 32;
    uint64_t fraction =
        fractionBits < 64 ? mantissa & ((uint64_t(1) << fractionBits) - 1) : mantissa;
    SetShifted(x, count, fraction, 32 * count - fractionBits);
    while (leading.Count < 19 && !IsZero(x, count))
      leading.Add(MultiplyByBillion(x, count));
    leading.NonzeroAfter |= !IsZero(x, count);
  }

  // Rounds the 19 digits to 18, a tie to even as "%.17e" does; a value with
  // fewer digits has zeros after them.
  uint64_t rounded = leading.Digits;
  for (int i = leading.Count; i < 19; ++i)
    rounded *= 10;
  uint64_t last = rounded % 10;
  rounded /= 10;
  if (last > 5 || (last == 5 && (leading.NonzeroAfter || rounded % 2 != 0)))
    ++rounded;
  int decimalExponent = leading.Exponent;
  if (rounded == 1000000000000000000) { // nines carried into a 19th digit
    rounded /= 10;
    ++decimalExponent;
  }
  for (int i = 17; i >= 0; --i) {
    digits[i] = char('0' + rounded % 10);
    rounded /= 10;
  }
  return decimalExponent;
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
