// How the reader opens files on Windows: sharing with other handles, names
// outside the ANSI code page, and names that are no files on disk.
#include "wavfile.h"

#include "test_files.h"

#include <windows.h>

#include <atomic>
#include <thread>

namespace {

// A handle of the test's own on the file, closed when the test ends.
class THeldFile {
public:
  THeldFile(const char* name, DWORD access, DWORD share)
      : FHandle(CreateFileA(name, access, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~THeldFile() {
    if (FHandle != INVALID_HANDLE_VALUE)
      CloseHandle(FHandle);
  }
  THeldFile(const THeldFile&) = delete;
  THeldFile& operator=(const THeldFile&) = delete;
  bool IsOpen() const { return FHandle != INVALID_HANDLE_VALUE; }

private:
  HANDLE FHandle;
};

struct TSharingCase {
  const char* Name;
  DWORD Access, Share;
  bool Read;
};

class Sharing : public ::testing::TestWithParam<TSharingCase> {};

TEST_P(Sharing, DecidesWhetherAHeldFileCanBeRead) {
  TTestFile file;
  file.Write(TWavBuilder());
  THeldFile held(file.c_str(), GetParam().Access, GetParam().Share);
  ASSERT_TRUE(held.IsOpen());
  TWAVfile wav;
  EXPECT_EQ(wav.LoadFromFile(file.c_str()), GetParam().Read);
  EXPECT_EQ(wav.Valid, GetParam().Read);
}

INSTANTIATE_TEST_SUITE_P(
    WindowsFiles, Sharing,
    ::testing::Values(
        TSharingCase{"writer_sharing_read_and_write", GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        TSharingCase{"reader_sharing_read", GENERIC_READ, FILE_SHARE_READ, true},
        TSharingCase{"writer_sharing_only_read", GENERIC_WRITE, FILE_SHARE_READ, true},
        TSharingCase{"holder_sharing_only_write", GENERIC_READ, FILE_SHARE_WRITE, false},
        TSharingCase{"exclusive_reader", GENERIC_READ, 0, false}),
    TCaseName());

TEST(WindowsFiles, WidePathOutsideTheAnsiCodePageLoads) {
  // Greek, Cyrillic and CJK letters: no single-byte code page holds them all.
  TTempFolder folder;
  std::wstring name = folder.Write(L"\x03A9\x0416\x4E2D.wav", FactBuilder(22050).Bytes());
  ASSERT_FALSE(name.empty());
  TWAVfile wav;
  EXPECT_TRUE(wav.LoadFromFile(name.c_str()));
  EXPECT_TRUE(wav.Valid);
  EXPECT_EQ(wav.SampleCount, 22050);
  EXPECT_TRUE(DeleteFileW(name.c_str())) << "no handle may stay open";
}

TEST(WindowsFiles, ANamedPipeThatNeverWritesIsRefusedAtOnce) {
  const std::string name = "\\\\.\\pipe\\tolvane-" + std::to_string(GetCurrentProcessId()) + ".wav";
  HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  HANDLE connected = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> gaveUp{false};
  // The server takes the reader's connection and writes nothing. Every wait
  // is bounded: after 10 s it lets go, which also ends a read that would
  // otherwise wait forever.
  std::thread server([&] {
    OVERLAPPED connecting = {};
    connecting.hEvent = connected;
    if (!ConnectNamedPipe(pipe, &connecting) && GetLastError() == ERROR_IO_PENDING &&
        WaitForSingleObject(connected, 10000) == WAIT_TIMEOUT)
      CancelIo(pipe);
    gaveUp = WaitForSingleObject(done, 10000) == WAIT_TIMEOUT;
    DisconnectNamedPipe(pipe);
  });

  TWAVfile wav;
  EXPECT_FALSE(wav.LoadFromFile(name.c_str()));
  SetEvent(done);
  server.join();
  EXPECT_FALSE(gaveUp) << "the read waited for the pipe";
  EXPECT_FALSE(wav.Valid);
  CloseHandle(done);
  CloseHandle(connected);
  CloseHandle(pipe);
}

TEST(WindowsFiles, MissingWidePathIsNotRead) {
  TTempFolder folder;
  TWAVfile wav;
  EXPECT_FALSE(wav.LoadFromFile(folder.PathOf(L"\x03A9_missing.wav").c_str()));
  EXPECT_FALSE(wav.Valid);
}

} // namespace
