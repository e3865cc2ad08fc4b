#include "wavfile.h"

#include <atomic>

namespace {
std::atomic<char> Separator{'.'};
}

char DecimalSeparator() {
  return Separator.load(std::memory_order_relaxed);
}

void SetDecimalSeparator(char separator) {
  Separator.store(separator, std::memory_order_relaxed);
}

char SeparatorFromSetting(const char* setting) {
  return setting && setting[0] && !setting[1] ? setting[0] : '.';
}
