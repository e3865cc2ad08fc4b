// An owned registry key.
#pragma once

#include <windows.h>

#include "unique_handle.h"

struct TRegCloseKey {
  void operator()(HKEY key) const { RegCloseKey(key); }
};

using TRegKey = TUniqueHandle<HKEY, nullptr, TRegCloseKey>;
