#include "ansi_text.h"

#include <windows.h>

std::string ToAnsi(const std::wstring& text) {
  int size =
      WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(size_t(size > 0 ? size : 0), '\0');
  if (size > 0)
    WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), result.data(), size, nullptr,
                        nullptr);
  return result;
}

std::wstring FromAnsi(const std::string& text) {
  int size = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring result(size_t(size > 0 ? size : 0), L'\0');
  if (size > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), result.data(), size);
  return result;
}
