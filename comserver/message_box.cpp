#include "message_box.h"

namespace {
TMessageBoxFunction GMessageBox = MessageBoxA;
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style) {
  return GMessageBox(owner, text.c_str(), caption.c_str(), style);
}

TMessageBoxFunction SetMessageBoxFunction(TMessageBoxFunction function) {
  TMessageBoxFunction previous = GMessageBox;
  GMessageBox = function ? function : MessageBoxA;
  return previous;
}

bool WindowStationIsVisible() {
  USEROBJECTFLAGS flags{};
  HWINSTA station = GetProcessWindowStation();
  if (!station ||
      !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr))
    return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}
