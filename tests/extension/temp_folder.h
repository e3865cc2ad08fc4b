// A folder of test files under the temporary directory, removed with
// everything in it when it goes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TTempFolder {
public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::wstring& Path() const { return FPath; }
  // The full path of `name` inside the folder; the file need not exist.
  std::wstring PathOf(const std::wstring& name) const;
  // Writes `bytes` to `name` through CreateFileW; returns the full path, or
  // an empty text on failure.
  std::wstring Write(const std::wstring& name, const std::vector<uint8_t>& bytes);

private:
  std::wstring FPath;
  std::vector<std::wstring> FFiles;
};
