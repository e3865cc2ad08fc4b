// OneDecimalForm against a plain digit-by-digit reference: the straightforward
// form of the rounding rule, kept here so the faster production code can be
// checked on a large table of values.
#include "wavfile.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// The double a decimal text stands for. libc++ has no floating-point
// from_chars; strtod reads the same text in the "C" locale, which
// nothing in these tests changes.
double ParseDouble(const std::string& text) {
#if defined(_LIBCPP_VERSION)
  return std::strtod(text.c_str(), nullptr);
#else
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
#endif
}

std::string ReferenceOneDecimalForm(double value, char separator) {
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

// Compares every value with both separators; reports the first few
// differences only, so a broken rule does not flood the output.
class TComparison {
public:
  void Check(double value) {
    for (char separator : {'.', ','}) {
      std::string expected = ReferenceOneDecimalForm(value, separator);
      std::string actual = OneDecimalForm(value, separator);
      if (actual != expected && ++FFailures <= 10) {
        char shown[40];
        std::snprintf(shown, sizeof shown, "%.17e", value);
        ADD_FAILURE() << shown << " with '" << separator << "': got \"" << actual
                      << "\", expected \"" << expected << "\"";
      }
    }
  }
  // A value and its neighbours a few steps of the double grid away.
  void CheckAround(double value, int steps) {
    Check(value);
    double below = value, above = value;
    for (int i = 0; i < steps; ++i) {
      below = std::nextafter(below, 0.0);
      above = std::nextafter(above, INFINITY);
      Check(below);
      Check(above);
    }
  }

private:
  int FFailures = 0;
};

TEST(OneDecimalReference, AgreesOnPlayTimesOfWholeSamplesAndBytes) {
  TComparison c;
  for (uint32_t b = 1; b <= 400; ++b)
    for (uint32_t a = 0; a <= 400; ++a)
      c.Check(double(a) / double(b));
  // Byte and sample counts over the rates files commonly use, up to the full 32-bit range.
  const uint32_t rates[] = {1,     3,     7,      8000,   11025,  22050,      44100,
                            48000, 88200, 176400, 192000, 384000, 4294967295u};
  std::mt19937 random(20240601);
  for (uint32_t rate : rates)
    for (int i = 0; i < 4000; ++i) {
      uint32_t size = i < 2000 ? uint32_t(i) * 997u : uint32_t(random());
      c.Check(double(size) / double(rate));
    }
}

TEST(OneDecimalReference, AgreesJustAroundHalfwayHundredths) {
  TComparison c;
  // k/20 for odd k is x.x5, the value where rounding turns; taken over every
  // magnitude up to the largest play time, with the doubles next to it.
  for (uint64_t k = 1; k < 20000; k += 2)
    c.CheckAround(double(k) / 20, 3);
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    uint64_t k = (random() % (uint64_t(1) << 36)) | 1; // up to 2^32 * 20
    c.CheckAround(double(k) / 20, 2);
  }
  // Twentieths and two-hundredths from 1e8 to 1e18, where the 18 digits end
  // ever closer to the tenths and the double grid grows coarser than them.
  for (double scale = 1e8; scale <= 1e17; scale *= 10)
    for (int parts : {20, 200})
      for (int i = 0; i < 1000; ++i) {
        uint64_t whole = uint64_t(scale) + random() % uint64_t(scale * 9);
        c.CheckAround(double(whole) + double(random() % uint64_t(parts)) / parts, 3);
      }
}

TEST(OneDecimalReference, AgreesOnNinesThatTheEighteenDigitsRoundUpOrNot) {
  TComparison c;
  // "w.d4999...9" with a varying number of nines: whether the 18 significant
  // digits carry into a 5 depends on the integer part's length.
  std::mt19937_64 random(11);
  for (int i = 0; i < 8000; ++i) {
    uint64_t whole = i < 4000 ? uint64_t(i) : random() % 4294967296u;
    for (int nines = 8; nines <= 22; ++nines) {
      std::string text = std::to_string(whole) + "." + char('0' + i % 10) + "4";
      text.append(size_t(nines), '9');
      c.Check(ParseDouble(text));
    }
  }
}

TEST(OneDecimalReference, AgreesOnRandomValuesAndEdges) {
  TComparison c;
  std::mt19937_64 random(3);
  std::uniform_real_distribution<double> playTime(0, 4294967296.0);
  std::uniform_real_distribution<double> shortTime(0, 100);
  auto fromBits = [](uint64_t bits) {
    double value;
    static_assert(sizeof value == sizeof bits, "64-bit double");
    std::memcpy(&value, &bits, sizeof value);
    return value;
  };
  for (int i = 0; i < 40000; ++i) {
    c.Check(playTime(random));
    c.Check(shortTime(random));
    // Any bit pattern: tiny, huge, negative, infinite and NaN values alike.
    c.Check(fromBits(random()));
  }
  // Any positive finite value, subnormals to the largest, evenly over the
  // exponents: the most work for the digits of the huge and the tiny.
  const uint64_t infinityBits = 0x7FF0000000000000u;
  for (int i = 0; i < 300000; ++i)
    c.Check(fromBits(random() % infinityBits));
  // The powers of ten, where the number of integer digits changes.
  for (int exponent = -20; exponent <= 300; ++exponent) {
    std::string text = "1e" + std::to_string(exponent);
    c.CheckAround(ParseDouble(text), 3);
  }
  const double edges[] = {0.0,  -0.0,   1e-300, 5e-324,  1e10, 9999999999.95, 1e15,      1e17,
                          1e18, 0x1p53, 1e300,  DBL_MAX, -1.0, INFINITY,      -INFINITY, NAN};
  for (double value : edges)
    c.CheckAround(value, 2);
}

} // namespace
