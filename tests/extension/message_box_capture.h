// Captures the module's message boxes instead of showing them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "message_box.h"

struct TCapturedBox {
  HWND Owner;
  std::string Text;
  std::string Caption;
  UINT Style;
};

// Installs the capturing function for its lifetime; the boxes of every
// thread are collected.
class TMessageBoxCapture {
public:
  TMessageBoxCapture();
  ~TMessageBoxCapture();
  TMessageBoxCapture(const TMessageBoxCapture&) = delete;
  TMessageBoxCapture& operator=(const TMessageBoxCapture&) = delete;

  std::vector<TCapturedBox> Boxes() const;

private:
  TMessageBoxFunction FPrevious;
};
