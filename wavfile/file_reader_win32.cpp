#include "file_reader.h"

#include <windows.h>

namespace {
const DWORD ShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE Adopt(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}
} // namespace

TFileReader::~TFileReader() {
  if (FHandle)
    CloseHandle(FHandle);
}

bool TFileReader::Open(const char* fileName) {
  FHandle = Adopt(CreateFileA(fileName, GENERIC_READ, ShareMode, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  return FHandle != nullptr;
}

bool TFileReader::Open(const wchar_t* fileName) {
  FHandle = Adopt(CreateFileW(fileName, GENERIC_READ, ShareMode, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  return FHandle != nullptr;
}

bool TFileReader::ReadExactly(void* buffer, uint32_t count) {
  DWORD done = 0;
  return ReadFile(FHandle, buffer, count, &done, nullptr) && done == count;
}

bool TFileReader::SeekFromStart(int32_t offset) {
  // Positions below 2^31 never yield INVALID_SET_FILE_POINTER as a result.
  return SetFilePointer(FHandle, offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

bool TFileReader::Close() {
  HANDLE handle = FHandle;
  FHandle = nullptr;
  return CloseHandle(handle) != FALSE;
}
