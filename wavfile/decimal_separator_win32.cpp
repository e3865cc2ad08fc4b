#include "wavfile.h"

#include <windows.h>

void LoadDecimalSeparator() {
  // Room for one character and its terminating zero: a longer setting fails.
  char setting[2] = {};
  if (GetLocaleInfoA(GetThreadLocale(), LOCALE_SDECIMAL, setting, sizeof setting) == 0)
    setting[0] = 0;
  SetDecimalSeparator(SeparatorFromSetting(setting));
}
