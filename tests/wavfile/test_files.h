// Files the wavfile tests write for themselves, each removed when its test ends.
#pragma once

#include "wav_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define TOLVANE_GETPID _getpid
#else
#include <unistd.h>
#define TOLVANE_GETPID getpid
#endif

// A path in the temporary directory, unique to the running test and process.
inline std::string TestFilePath(const std::string& suffix = "") {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  for (char& c : name)
    if (!isalnum(static_cast<unsigned char>(c)))
      c = '_';
  return ::testing::TempDir() + "tolvane_" + name + "_" + std::to_string(TOLVANE_GETPID()) +
         suffix + ".wav";
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
    FILE* f = std::fopen(FPath.c_str(), "wb");
    ASSERT_NE(f, nullptr) << FPath;
    size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f);
    ASSERT_EQ(std::fclose(f), 0);
    ASSERT_EQ(written, bytes.size());
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
    size_t written = seek == 0 ? std::fwrite(bytes.data(), 1, bytes.size(), f) : 0;
    ASSERT_EQ(std::fclose(f), 0);
    ASSERT_EQ(written, bytes.size());
  }

private:
  std::string FPath;
};

inline std::vector<uint8_t> Le32(uint32_t value) {
  std::vector<uint8_t> b;
  TWavBuilder::Put32(b, value);
  return b;
}

inline std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A fmt chunk of 18 bytes (cbSize 0), then a fact chunk, then "data".
inline TWavBuilder FactBuilder(uint32_t sampleCount) {
  TWavBuilder b;
  b.FmtSize = 18;
  b.Tail = Join(Join({0, 0}, TWavBuilder::Chunk("fact", 4, Le32(sampleCount))),
                TWavBuilder::Chunk("data", 0));
  return b;
}

namespace {
// A row of a test table prints as its Name (in test output and ctest names).
template <typename TCase>
auto operator<<(std::ostream& os, const TCase& c) -> decltype(os << c.Name) {
  return os << c.Name;
}
} // namespace

// Names each instance of a parameterised test after its row.
struct TCaseName {
  template <typename TInfo> std::string operator()(const TInfo& info) const {
    return info.param.Name;
  }
};
