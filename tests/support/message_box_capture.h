// Captures message boxes instead of showing them: those of this executable
// through the module's seam (message_box.h), or those of a loaded module
// through its import of MessageBoxA.
#pragma once

#include <windows.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "import_patch.h"
#include "message_box.h"

struct TCapturedBox {
  HWND Owner;
  std::string Text;
  std::string Caption;
  UINT Style;
};
bool operator==(const TCapturedBox& a, const TCapturedBox& b);
std::ostream& operator<<(std::ostream& out, const TCapturedBox& box);
using TCapturedBoxes = std::vector<TCapturedBox>;

// Captures for its lifetime, starting with none; the boxes of every thread
// are collected.
class TMessageBoxCapture {
public:
  TMessageBoxCapture();
  explicit TMessageBoxCapture(HMODULE module);
  ~TMessageBoxCapture();
  TMessageBoxCapture(const TMessageBoxCapture&) = delete;
  TMessageBoxCapture& operator=(const TMessageBoxCapture&) = delete;

  // False when the module does not import MessageBoxA.
  bool Active() const { return !FPatch || FPatch->Original(); }
  TCapturedBoxes Boxes() const;

private:
  TMessageBoxFunction FPrevious = nullptr;
  std::optional<TImportPatch> FPatch;
};
