#include "file_reader.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

TFileReader::~TFileReader() {
  if (FDescriptor >= 0)
    close(FDescriptor);
}

bool TFileReader::Open(const char* fileName) {
  // O_NONBLOCK: a FIFO fails its read instead of blocking the open.
  do
    FDescriptor = open(fileName, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  while (FDescriptor < 0 && errno == EINTR);
  return FDescriptor >= 0;
}

bool TFileReader::ReadExactly(void* buffer, uint32_t count) {
  ssize_t done;
  do
    done = read(FDescriptor, buffer, count);
  while (done < 0 && errno == EINTR);
  return done >= 0 && static_cast<size_t>(done) == count;
}

bool TFileReader::SeekFromStart(int32_t offset) {
  off_t position = lseek(FDescriptor, offset, SEEK_SET); // a negative offset fails here
  return position >= 0 && position == offset;
}

bool TFileReader::Close() {
  int descriptor = FDescriptor;
  FDescriptor = -1;
  // Linux releases the descriptor even when close reports a failure.
  return close(descriptor) == 0;
}
