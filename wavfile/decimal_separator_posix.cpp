#include "wavfile.h"

#include <langinfo.h>
#include <locale.h>

void LoadDecimalSeparator() {
  // A locale of its own: the process's global locale stays as it is.
  locale_t locale = newlocale(LC_NUMERIC_MASK, "", locale_t(0));
  SetDecimalSeparator(SeparatorFromSetting(locale ? nl_langinfo_l(RADIXCHAR, locale) : nullptr));
  if (locale)
    freelocale(locale);
}
