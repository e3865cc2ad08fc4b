// The first significant digits of a double, worked out exactly from its bits
// with integer arithmetic (no floating-point formatting in the module).
#pragma once

#include <cstdint>

// The value's first 18 significant digits, correctly rounded (as "%.17e" writes
// them), for any non-negative finite value, subnormals included. Returns the
// exponent: digits[0] weighs 10^exponent.
int EighteenDigits(double value, char (&digits)[18]);
