#include "message_box_capture.h"

#include <mutex>

namespace {
std::mutex GLock;
std::vector<TCapturedBox> GBoxes;

int WINAPI CaptureBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  std::lock_guard<std::mutex> lock(GLock);
  GBoxes.push_back({owner, text ? text : "", caption ? caption : "", style});
  return IDOK;
}
} // namespace

TMessageBoxCapture::TMessageBoxCapture() {
  {
    std::lock_guard<std::mutex> lock(GLock);
    GBoxes.clear();
  }
  FPrevious = SetMessageBoxFunction(CaptureBox);
}

TMessageBoxCapture::~TMessageBoxCapture() {
  SetMessageBoxFunction(FPrevious);
}

std::vector<TCapturedBox> TMessageBoxCapture::Boxes() const {
  std::lock_guard<std::mutex> lock(GLock);
  return GBoxes;
}
