#include "message_box.h"

namespace {
// Null: MessageBoxA, called through the module's import table at the moment
// of the call. A copy of its address taken at start-up would be the import
// table's entry of that moment on compilers that resolve dllimport addresses
// directly (clang), which a host that patches the entry later never sees.
TMessageBoxFunction GMessageBox = nullptr;
} // namespace

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style) {
  if (GMessageBox)
    return GMessageBox(owner, text.c_str(), caption.c_str(), style);
  return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}

TMessageBoxFunction SetMessageBoxFunction(TMessageBoxFunction function) {
  TMessageBoxFunction previous = GMessageBox ? GMessageBox : MessageBoxA;
  GMessageBox = function == MessageBoxA ? nullptr : function;
  return previous;
}

bool BoxesAreSeen() {
  DWORD session = 0;
  if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0)
    return false;
  USEROBJECTFLAGS flags{};
  HWINSTA station = GetProcessWindowStation();
  if (!station ||
      !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr))
    return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}
