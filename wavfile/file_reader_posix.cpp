#include "file_reader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TFileReader::~TFileReader() {
  if (FDescriptor >= 0)
    close(FDescriptor);
}

bool TFileReader::Open(const char* fileName) {
  // O_NONBLOCK: opening a FIFO does not wait for a writer.
  do
    FDescriptor = open(fileName, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  while (FDescriptor < 0 && errno == EINTR);
  return IsDiskFile();
}

// Only a regular file holds a header: a FIFO or a device gives whatever its
// other end writes, or nothing, ever.
bool TFileReader::IsDiskFile() const {
  struct stat status;
  return FDescriptor >= 0 && fstat(FDescriptor, &status) == 0 && S_ISREG(status.st_mode);
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
