// Files and folders the tests write for themselves in the temporary
// directory, each removed when its owner goes. Header only: the native
// wavfile tests use it too; TTempFolder, for names outside the ANSI code
// page, is Windows only.
#pragma once

#include "wav_builder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <process.h>

#include "ansi_text.h"
#define TOLVANE_GETPID _getpid
#else
#include <unistd.h>
#define TOLVANE_GETPID getpid
#endif

// A path in the temporary directory, unique to the running test (in
// SetUpTestSuite, to the running suite) and process, without an extension.
inline std::string TestPathStem() {
  const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
  std::string name = unit.current_test_suite()->name();
  if (const ::testing::TestInfo* info = unit.current_test_info())
    name = name + "_" + info->name();
  for (char& c : name)
    if (!isalnum(static_cast<unsigned char>(c)))
      c = '_';
  return ::testing::TempDir() + "tolvane_" + name + "_" + std::to_string(TOLVANE_GETPID());
}

inline std::string TestFilePath(const std::string& suffix = "") {
  return TestPathStem() + suffix + ".wav";
}

class TTestFile {
public:
  explicit TTestFile(const std::string& suffix = "") : FPath(TestFilePath(suffix)) {}
  ~TTestFile() { std::remove(FPath.c_str()); }
  TTestFile(const TTestFile&) = delete;
  TTestFile& operator=(const TTestFile&) = delete;

  const std::string& Path() const { return FPath; }
  const char* c_str() const { return FPath.c_str(); }

  void Write(const std::vector<uint8_t>& bytes) const {
    ASSERT_TRUE(WriteAndClose(std::fopen(FPath.c_str(), "wb"), bytes)) << FPath;
  }
  // The builder's bytes, cut to `size` bytes or padded with zeros up to it;
  // by default exactly the bytes the builder makes.
  void Write(const TWavBuilder& builder, size_t size = size_t(-1)) const {
    std::vector<uint8_t> bytes = builder.Bytes();
    if (size != size_t(-1))
      bytes.resize(size, 0);
    Write(bytes);
  }

  // Writes `bytes` at `offset` of the file written before, leaving a hole in
  // between: a file of several GiB costs a few blocks.
  void WriteAt(uint64_t offset, const std::vector<uint8_t>& bytes) const {
    FILE* f = std::fopen(FPath.c_str(), "r+b");
    ASSERT_NE(f, nullptr) << FPath;
#ifdef _WIN32
    int seek = _fseeki64(f, int64_t(offset), SEEK_SET);
#else
    int seek = fseeko(f, off_t(offset), SEEK_SET);
#endif
    if (seek != 0)
      std::fclose(f);
    ASSERT_EQ(seek, 0) << FPath;
    ASSERT_TRUE(WriteAndClose(f, bytes)) << FPath;
  }

private:
  std::string FPath;
};

#ifdef _WIN32
// A folder of the running test, removed with every file written into it.
class TTempFolder {
public:
  TTempFolder() : FPath(FromAnsi(TestPathStem() + "_" + std::to_string(++Count()))) {
    CreateDirectoryW(FPath.c_str(), nullptr);
  }
  ~TTempFolder() {
    for (const std::wstring& file : FFiles)
      DeleteFileW(file.c_str());
    RemoveDirectoryW(FPath.c_str());
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  // The full path of `name` inside the folder; the file need not exist.
  std::wstring PathOf(const std::wstring& name) const { return FPath + L"\\" + name; }
  // Writes `bytes` to `name`; returns the full path, or an empty text on
  // failure.
  std::wstring Write(const std::wstring& name, const std::vector<uint8_t>& bytes) {
    std::wstring path = PathOf(name);
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file)
      FFiles.push_back(path);
    return WriteAndClose(file, bytes) ? path : std::wstring();
  }

private:
  static int& Count() {
    static int count = 0;
    return count;
  }

  std::wstring FPath;
  std::vector<std::wstring> FFiles;
};
#endif
