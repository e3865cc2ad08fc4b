#include "significant_digits.h"

#include <cstring>

namespace {

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

} // namespace

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
