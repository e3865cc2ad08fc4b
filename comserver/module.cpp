#include "module.h"

// The linker's symbol for the image base of whatever module this code is
// linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

HINSTANCE ModuleInstance() {
  return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

std::string LoadModuleString(UINT id) {
  // A string resource holds at most 65535 characters; the module's own are
  // short messages and captions.
  char buffer[1024];
  int length = LoadStringA(ModuleInstance(), id, buffer, sizeof buffer);
  return length > 0 ? std::string(buffer, length) : std::string();
}
