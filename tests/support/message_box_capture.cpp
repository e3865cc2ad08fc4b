#include "message_box_capture.h"

#include <mutex>

namespace {
std::mutex GLock;
TCapturedBoxes GBoxes;

int WINAPI CaptureBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  std::lock_guard<std::mutex> lock(GLock);
  GBoxes.push_back({owner, text ? text : "", caption ? caption : "", style});
  return IDOK;
}

void ClearBoxes() {
  std::lock_guard<std::mutex> lock(GLock);
  GBoxes.clear();
}
} // namespace

bool operator==(const TCapturedBox& a, const TCapturedBox& b) {
  return a.Owner == b.Owner && a.Text == b.Text && a.Caption == b.Caption && a.Style == b.Style;
}

std::ostream& operator<<(std::ostream& out, const TCapturedBox& box) {
  return out << "{owner " << box.Owner << ", \"" << box.Text << "\", \"" << box.Caption
             << "\", style 0x" << std::hex << box.Style << std::dec << "}";
}

TMessageBoxCapture::TMessageBoxCapture() {
  ClearBoxes();
  FPrevious = SetMessageBoxFunction(CaptureBox);
}

TMessageBoxCapture::TMessageBoxCapture(HMODULE module) {
  ClearBoxes();
  FPatch.emplace(module, "USER32.dll", "MessageBoxA", reinterpret_cast<void*>(CaptureBox));
}

TMessageBoxCapture::~TMessageBoxCapture() {
  if (!FPatch)
    SetMessageBoxFunction(FPrevious);
}

TCapturedBoxes TMessageBoxCapture::Boxes() const {
  std::lock_guard<std::mutex> lock(GLock);
  return GBoxes;
}
