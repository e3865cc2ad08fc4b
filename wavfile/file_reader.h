// The few file operations the header reader needs, over the platform's own
// calls: one open for reading, exact reads, positioning from the start, close.
#pragma once

#include <cstdint>

class TFileReader {
public:
  TFileReader() = default;
  // Closes a file that is still open (the failure paths).
  ~TFileReader();
  TFileReader(const TFileReader&) = delete;
  TFileReader& operator=(const TFileReader&) = delete;

  // Opens an existing file for reading; others may keep reading and writing it.
  // False when it cannot be opened or is no regular file on disk (a pipe, a
  // FIFO, a device): the destructor then closes what was opened.
  bool Open(const char* fileName);
#ifdef _WIN32
  bool Open(const wchar_t* fileName);
#endif
  // One read of `count` bytes at the current position; fewer bytes fail.
  bool ReadExactly(void* buffer, uint32_t count);
  // Moves to `offset` from the start of the file; a negative offset fails.
  bool SeekFromStart(int32_t offset);
  // Closes the file; false when the platform reports a failure.
  bool Close();

private:
  bool IsDiskFile() const;

#ifdef _WIN32
  void* FHandle = nullptr; // a HANDLE; nullptr while closed
#else
  int FDescriptor = -1;
#endif
};
