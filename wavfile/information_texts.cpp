#include "wavfile.h"

#include <charconv>
#include <cmath>

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

std::string OneDecimalForm(double value, char separator) {
  if (!(value > 0) || !std::isfinite(value))
    value = 0;
  // The rounding digit is taken from the value's first 18 significant digits
  // (as "%.17e" writes them), so 0.15 (stored as 0.1499...) cuts while 0.25
  // goes up. to_chars writes them without regard to the C locale.
  char text[40];
  char* end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 17).ptr;
  std::string digits;
  const char* p = text;
  for (; p != end && *p != 'e'; ++p)
    if (*p != '.')
      digits += *p;
  int exponent = 0;
  if (p != end && ++p != end && *p == '+')
    ++p;
  std::from_chars(p, end, exponent);

  // Digit k of `digits` weighs 10^(exponent - k).
  auto digitAt = [&](int k) { return k >= 0 && k < int(digits.size()) ? digits[k] : '0'; };
  // The integer digits and the tenths digit, before rounding.
  std::string kept;
  for (int k = exponent < 0 ? exponent + 1 : 0; k <= exponent + 1; ++k)
    kept += digitAt(k);
  if (digitAt(exponent + 2) >= '5') {
    size_t i = kept.size();
    while (i > 0 && kept[i - 1] == '9')
      kept[--i] = '0';
    if (i == 0)
      kept.insert(kept.begin(), '1');
    else
      ++kept[i - 1];
  }

  std::string integer = kept.substr(0, kept.size() - 1);
  integer.erase(0, integer.find_first_not_of('0')); // 0 has no integer digits
  return integer + separator + kept.back();
}

TInformationTexts InformationTexts(const TWAVfile& wav) {
  return {
      wav.FormatName(),
      std::to_string(unsigned(wav.ChannelCount)),
      wav.ChannelModeName(),
      std::to_string(wav.SampleRate) + " Hz",
      std::to_string(wav.BytesPerSecond),
      std::to_string(unsigned(wav.BitsPerSample)),
      OneDecimalForm(wav.Duration(), DecimalSeparator()) + " seconds",
  };
}
