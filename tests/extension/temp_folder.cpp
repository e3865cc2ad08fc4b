#include "temp_folder.h"

#include <windows.h>

namespace {
volatile LONG GFolderNumber = 0;
}

TTempFolder::TTempFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  FPath = std::wstring(temp) + L"tolvane-extension-" + std::to_wstring(GetCurrentProcessId()) +
          L"-" + std::to_wstring(InterlockedIncrement(&GFolderNumber));
  CreateDirectoryW(FPath.c_str(), nullptr);
}

TTempFolder::~TTempFolder() {
  for (const std::wstring& file : FFiles)
    DeleteFileW(file.c_str());
  RemoveDirectoryW(FPath.c_str());
}

std::wstring TTempFolder::PathOf(const std::wstring& name) const {
  return FPath + L"\\" + name;
}

std::wstring TTempFolder::Write(const std::wstring& name, const std::vector<uint8_t>& bytes) {
  std::wstring path = PathOf(name);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return {};
  FFiles.push_back(path);
  DWORD written = 0;
  bool ok = bytes.empty() ||
            (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
             written == bytes.size());
  ok = CloseHandle(file) && ok;
  return ok ? path : std::wstring();
}
