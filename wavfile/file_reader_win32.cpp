#include "file_reader.h"

#include <windows.h>

namespace {
const DWORD ShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;

// CreateFile's failure value as the reader's "closed".
HANDLE HandleOrNull(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}
} // namespace

TFileReader::~TFileReader() {
  if (FHandle)
    CloseHandle(FHandle);
}

bool TFileReader::Open(const char* fileName) {
  FHandle = HandleOrNull(CreateFileA(fileName, GENERIC_READ, ShareMode, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  return IsDiskFile();
}

bool TFileReader::Open(const wchar_t* fileName) {
  FHandle = HandleOrNull(CreateFileW(fileName, GENERIC_READ, ShareMode, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  return IsDiskFile();
}

// A pipe, a console or another device named like a file may never answer a
// read, and the read runs on the window thread of a property sheet.
bool TFileReader::IsDiskFile() const {
  return FHandle && GetFileType(FHandle) == FILE_TYPE_DISK;
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
