// Counts the platform's file calls during one load: at most one open, two
// reads, one positioning and one close, and every opened file closed.
#include "wavfile.h"

#include "test_files.h"

#include <functional>

#ifdef _WIN32
#include "import_patch.h"
#include <windows.h>
#else
#include <cstdarg>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

struct TCalls {
  int Opens = 0;  // attempts
  int Opened = 0; // successes
  int Reads = 0;
  int Seeks = 0;
  int Closes = 0;
};

bool Counting = false;
TCalls Calls;

} // namespace

#ifdef _WIN32

namespace {
decltype(&CreateFileA) RealCreateFileA;
decltype(&CreateFileW) RealCreateFileW;
decltype(&ReadFile) RealReadFile;
decltype(&SetFilePointer) RealSetFilePointer;
decltype(&CloseHandle) RealCloseHandle;
DWORD AskedAccess, AskedShare, AskedDisposition, AskedAttributes;

HANDLE CountOpen(HANDLE handle, DWORD access, DWORD share, DWORD disposition, DWORD attributes) {
  ++Calls.Opens;
  Calls.Opened += handle != INVALID_HANDLE_VALUE;
  AskedAccess = access;
  AskedShare = share;
  AskedDisposition = disposition;
  AskedAttributes = attributes;
  return handle;
}
HANDLE WINAPI CountingCreateFileA(LPCSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                  DWORD attributes, HANDLE templ) {
  return CountOpen(RealCreateFileA(name, access, share, security, disposition, attributes, templ),
                   access, share, disposition, attributes);
}
HANDLE WINAPI CountingCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                  DWORD attributes, HANDLE templ) {
  return CountOpen(RealCreateFileW(name, access, share, security, disposition, attributes, templ),
                   access, share, disposition, attributes);
}
BOOL WINAPI CountingReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done,
                             LPOVERLAPPED overlapped) {
  ++Calls.Reads;
  return RealReadFile(file, buffer, count, done, overlapped);
}
DWORD WINAPI CountingSetFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method) {
  ++Calls.Seeks;
  return RealSetFilePointer(file, distance, high, method);
}
BOOL WINAPI CountingCloseHandle(HANDLE handle) {
  ++Calls.Closes;
  return RealCloseHandle(handle);
}

// Routes the test executable's file calls through the counters.
class TCountingScope {
public:
  TCountingScope()
      : FCreateA(Module(), "kernel32.dll", "CreateFileA", (void*)&CountingCreateFileA),
        FCreateW(Module(), "kernel32.dll", "CreateFileW", (void*)&CountingCreateFileW),
        FRead(Module(), "kernel32.dll", "ReadFile", (void*)&CountingReadFile),
        FSeek(Module(), "kernel32.dll", "SetFilePointer", (void*)&CountingSetFilePointer),
        FClose(Module(), "kernel32.dll", "CloseHandle", (void*)&CountingCloseHandle) {
    RealCreateFileA = reinterpret_cast<decltype(RealCreateFileA)>(FCreateA.Original());
    RealCreateFileW = reinterpret_cast<decltype(RealCreateFileW)>(FCreateW.Original());
    RealReadFile = reinterpret_cast<decltype(RealReadFile)>(FRead.Original());
    RealSetFilePointer = reinterpret_cast<decltype(RealSetFilePointer)>(FSeek.Original());
    RealCloseHandle = reinterpret_cast<decltype(RealCloseHandle)>(FClose.Original());
    EXPECT_TRUE(RealCreateFileA && RealCreateFileW && RealReadFile && RealSetFilePointer &&
                RealCloseHandle)
        << "the test executable does not import the file calls";
    Calls = TCalls();
  }

private:
  static HMODULE Module() { return GetModuleHandleA(nullptr); }
  TImportPatch FCreateA, FCreateW, FRead, FSeek, FClose;
};
} // namespace

#else

// The linker routes the calls here (--wrap=open,read,lseek,close).
extern "C" {
int __real_open(const char* name, int flags, ...);
ssize_t __real_read(int fd, void* buffer, size_t count);
off_t __real_lseek(int fd, off_t offset, int whence);
int __real_close(int fd);

int __wrap_open(const char* name, int flags, ...) {
  mode_t mode = 0;
  if (flags & O_CREAT) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  int fd = __real_open(name, flags, mode);
  if (Counting) {
    ++Calls.Opens;
    Calls.Opened += fd >= 0;
  }
  return fd;
}
ssize_t __wrap_read(int fd, void* buffer, size_t count) {
  Calls.Reads += Counting;
  return __real_read(fd, buffer, count);
}
off_t __wrap_lseek(int fd, off_t offset, int whence) {
  Calls.Seeks += Counting;
  return __real_lseek(fd, offset, whence);
}
int __wrap_close(int fd) {
  Calls.Closes += Counting;
  return __real_close(fd);
}
}

namespace {
class TCountingScope {
public:
  TCountingScope() { Calls = TCalls(); }
};
} // namespace

#endif

namespace {

struct TCallsCase {
  const char* Name;
  std::function<void(const TTestFile&)> Prepare;
  bool Read;
  TCalls Expected;
};

class FileCalls : public ::testing::TestWithParam<TCallsCase> {};

TEST_P(FileCalls, StayWithinOneOpenTwoReadsOnePositioningOneClose) {
  const TCallsCase& c = GetParam();
  TTestFile file;
  c.Prepare(file);
  TWAVfile wav;
  bool read;
  TCalls calls;
  {
    TCountingScope scope;
    Counting = true;
    read = wav.LoadFromFile(file.c_str());
    Counting = false;
    calls = Calls;
  }
  EXPECT_EQ(read, c.Read);
  EXPECT_EQ(calls.Opens, c.Expected.Opens);
  EXPECT_EQ(calls.Opened, c.Expected.Opened);
  EXPECT_EQ(calls.Reads, c.Expected.Reads);
  EXPECT_EQ(calls.Seeks, c.Expected.Seeks);
  EXPECT_EQ(calls.Closes, c.Expected.Closes);
  EXPECT_EQ(calls.Closes, calls.Opened) << "every opened file is closed";
}

void WriteListAfterFmt(const TTestFile& f, size_t size, uint32_t fmtSize = 16) {
  TWavBuilder b;
  b.FmtSize = fmtSize;
  b.Tail = TWavBuilder::Chunk("LIST", 4, Le32(0));
  f.Write(b, size);
}

INSTANTIATE_TEST_SUITE_P(
    WavHeader, FileCalls,
    ::testing::Values(
        TCallsCase{"data_at_36", [](const TTestFile& f) { f.Write(TWavBuilder()); }, true,
                   TCalls{1, 1, 1, 0, 1}},
        TCallsCase{"fact_chunk", [](const TTestFile& f) { f.Write(FactBuilder(88200)); }, true,
                   TCalls{1, 1, 2, 1, 1}},
        TCallsCase{"refused_header",
                   [](const TTestFile& f) {
                     TWavBuilder b;
                     b.Channels = 6;
                     f.Write(b);
                   },
                   true, TCalls{1, 1, 1, 0, 1}},
        TCallsCase{"missing_file", [](const TTestFile&) {}, false, TCalls{1, 0, 0, 0, 0}},
        TCallsCase{"short_file", [](const TTestFile& f) { f.Write(TWavBuilder(), 39); }, false,
                   TCalls{1, 1, 1, 0, 1}},
        TCallsCase{"extra_read_past_the_end", [](const TTestFile& f) { WriteListAfterFmt(f, 40); },
                   false, TCalls{1, 1, 2, 1, 1}},
        TCallsCase{"negative_position",
                   [](const TTestFile& f) { WriteListAfterFmt(f, 48, 0x80000000u); }, false,
                   TCalls{1, 1, 1, 1, 1}}),
    TCaseName());

#ifdef _WIN32
TEST(FileCalls, OpensForReadingAndLetsOthersReadAndWrite) {
  TTestFile file;
  file.Write(TWavBuilder());
  TWAVfile wav;
  {
    TCountingScope scope;
    ASSERT_TRUE(wav.LoadFromFile(file.c_str()));
  }
  EXPECT_EQ(AskedAccess, DWORD(GENERIC_READ));
  EXPECT_EQ(AskedShare, DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_EQ(AskedDisposition, DWORD(OPEN_EXISTING));
  EXPECT_EQ(AskedAttributes, DWORD(FILE_ATTRIBUTE_NORMAL));
}
#endif

} // namespace
