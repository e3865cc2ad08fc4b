#include "wavfile.h"

#include "test_files.h"

#include <functional>

#ifdef __linux__
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

struct TValues {
  bool Valid;
  uint16_t FormatTag;
  uint8_t ChannelCount;
  uint32_t SampleRate, BytesPerSecond;
  uint16_t BlockAlign;
  uint8_t BitsPerSample;
  int32_t SampleCount;
  uint16_t HeaderSize;
  uint32_t FileSize;
};

void ExpectValues(const TWAVfile& wav, const TValues& v) {
  EXPECT_EQ(wav.Valid, v.Valid);
  EXPECT_EQ(wav.FormatTag, v.FormatTag);
  EXPECT_EQ(wav.ChannelCount, v.ChannelCount);
  EXPECT_EQ(wav.SampleRate, v.SampleRate);
  EXPECT_EQ(wav.BytesPerSecond, v.BytesPerSecond);
  EXPECT_EQ(wav.BlockAlign, v.BlockAlign);
  EXPECT_EQ(wav.BitsPerSample, v.BitsPerSample);
  EXPECT_EQ(wav.SampleCount, v.SampleCount);
  EXPECT_EQ(wav.HeaderSize, v.HeaderSize);
  EXPECT_EQ(wav.FileSize, v.FileSize);
}

#ifdef __linux__
size_t OpenDescriptorCount() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir))
      ++count;
    closedir(dir);
  }
  return count;
}
#endif

const TValues AllZero = {false, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// ---- acceptance: what LoadFromFile returns and whether the file is valid

struct TAcceptanceCase {
  const char* Name;
  std::function<void(TWavBuilder&)> Change;
  size_t Size; // bytes written; size_t(-1): the builder's bytes as they are
  bool Read;
  bool Valid;
};

const size_t AsBuilt = size_t(-1);

class Acceptance : public ::testing::TestWithParam<TAcceptanceCase> {};

TEST_P(Acceptance, ReadResultAndValidFollowTheHeader) {
  const TAcceptanceCase& c = GetParam();
  TWavBuilder builder;
  c.Change(builder);
  TTestFile file;
  file.Write(builder, c.Size);

  TWAVfile wav;
  EXPECT_EQ(wav.LoadFromFile(file.c_str()), c.Read);
  EXPECT_EQ(wav.Valid, c.Valid);
  if (!c.Valid)
    ExpectValues(wav, AllZero);
}

const auto Keep = [](TWavBuilder&) {};
const auto NoDataAt36 = [](TWavBuilder& b) { b.Tail = TWavBuilder::Chunk("LIST", 4, Le32(0)); };

INSTANTIATE_TEST_SUITE_P(
    WavHeader, Acceptance,
    ::testing::Values(
        TAcceptanceCase{"canonical_pcm", Keep, AsBuilt, true, true},
        TAcceptanceCase{"mono", [](TWavBuilder& b) { b.Channels = 1; }, AsBuilt, true, true},
        TAcceptanceCase{"zero_channels", [](TWavBuilder& b) { b.Channels = 0; }, AsBuilt, true,
                        false},
        TAcceptanceCase{"three_channels", [](TWavBuilder& b) { b.Channels = 3; }, AsBuilt, true,
                        false},
        TAcceptanceCase{"channel_count_257_whose_low_byte_is_1",
                        [](TWavBuilder& b) { b.Channels = 257; }, AsBuilt, true, false},
        TAcceptanceCase{"lower_case_riff", [](TWavBuilder& b) { b.RiffId = "riff"; }, AsBuilt, true,
                        false},
        TAcceptanceCase{"rifx_byte_order", [](TWavBuilder& b) { b.RiffId = "RIFX"; }, AsBuilt, true,
                        false},
        TAcceptanceCase{"avi_form_type", [](TWavBuilder& b) { b.FormType = "AVI "; }, AsBuilt, true,
                        false},
        TAcceptanceCase{"fmt_without_trailing_blank", [](TWavBuilder& b) { b.FmtId = "fmt_"; },
                        AsBuilt, true, false},
        TAcceptanceCase{"upper_case_fmt", [](TWavBuilder& b) { b.FmtId = "FMT "; }, AsBuilt, true,
                        false},
        TAcceptanceCase{"any_format_code", [](TWavBuilder& b) { b.FormatTag = 65534; }, AsBuilt,
                        true, true},
        TAcceptanceCase{"zero_rates_and_sizes",
                        [](TWavBuilder& b) {
                          b.SampleRate = b.BytesPerSecond = b.RiffSize = 0;
                          b.BlockAlign = b.BitsPerSample = 0;
                        },
                        AsBuilt, true, true},
        TAcceptanceCase{"empty_file", Keep, 0, false, false},
        TAcceptanceCase{"39_bytes", Keep, 39, false, false},
        TAcceptanceCase{"40_bytes_with_data_at_36", Keep, 40, true, true},
        TAcceptanceCase{"40_bytes_without_data_at_36", NoDataAt36, 40, false, false},
        TAcceptanceCase{"next_chunk_one_byte_short", NoDataAt36, 47, false, false},
        TAcceptanceCase{"next_chunk_complete", NoDataAt36, 48, true, true},
        TAcceptanceCase{"refused_header_with_failing_extra_read",
                        [](TWavBuilder& b) {
                          b.Channels = 3;
                          b.Tail = TWavBuilder::Chunk("LIST", 4);
                        },
                        40, false, false}),
    TCaseName());

TEST(WavHeader, ANextChunkAtTwoGibibytesOrMoreIsNotRead) {
  // The position of the chunk after fmt is fmt size + 20, kept to 32 bits and
  // taken as a signed distance: from 2^31 on it is negative and fails, even
  // where a large file does hold a fact chunk there.
  TWavBuilder b;
  b.FmtSize = 0x80000000u - 20;
  b.Tail = TWavBuilder::Chunk("LIST", 4, Le32(0));
  TTestFile file;
  file.Write(b);
  file.WriteAt(0x80000000u, TWavBuilder::Chunk("fact", 4, Le32(88200)));

  TWAVfile wav;
  EXPECT_FALSE(wav.LoadFromFile(file.c_str()));
  ExpectValues(wav, AllZero);
}

#ifdef __linux__
TEST(WavHeader, AFifoIsNotReadEvenWhenAWriterHasPutAValidHeaderInIt) {
  const std::string path = TestFilePath();
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  // Our own end holds the FIFO open for writing, so the reader's open and
  // reads would not block even without the rule.
  int writer = open(path.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  const std::vector<uint8_t> header = TWavBuilder().Bytes();
  ASSERT_EQ(write(writer, header.data(), header.size()), ssize_t(header.size()));

  TWAVfile wav;
  EXPECT_FALSE(wav.LoadFromFile(path.c_str()));
  ExpectValues(wav, AllZero);
  close(writer);
  unlink(path.c_str());
}
#endif

TEST(WavHeader, NullPathIsNotRead) {
  TWAVfile wav;
  EXPECT_FALSE(wav.LoadFromFile(static_cast<const char*>(nullptr)));
  ExpectValues(wav, AllZero);
}

// ---- values taken over from an accepted header

struct TValuesCase {
  const char* Name;
  std::function<void(TWavBuilder&)> Change;
  TValues Expected;
};

class HeaderValues : public ::testing::TestWithParam<TValuesCase> {};

TEST_P(HeaderValues, AreTakenOverAsTheReaderDefinesThem) {
  const TValuesCase& c = GetParam();
  TWavBuilder builder;
  c.Change(builder);
  TTestFile file;
  file.Write(builder);

  TWAVfile wav;
  ASSERT_TRUE(wav.LoadFromFile(file.c_str()));
  ExpectValues(wav, c.Expected);
}

const TValuesCase ValuesCases[] = {
    {"canonical_pcm", Keep, {true, 1, 2, 44100, 176400, 4, 16, 0, 44, 176444}},
    {"fmt_18_then_fact",
     [](TWavBuilder& b) { b = FactBuilder(88200); },
     {true, 1, 2, 44100, 176400, 4, 16, 88200, 58, 176444}},
    {"fact_value_ff_ff_ff_ff_is_minus_one",
     [](TWavBuilder& b) { b = FactBuilder(0xFFFFFFFFu); },
     {true, 1, 2, 44100, 176400, 4, 16, -1, 58, 176444}},
    {"fmt_16_then_fact",
     [](TWavBuilder& b) { b.Tail = TWavBuilder::Chunk("fact", 4, Le32(1234)); },
     {true, 1, 2, 44100, 176400, 4, 16, 1234, 56, 176444}},
    {"list_chunk_after_fmt_does_not_become_the_sample_count",
     [](TWavBuilder& b) {
       // What common writers put between fmt and data: an INFO list with tags.
       const char tags[] = "INFOISFT\x0e\0\0\0Lavf59.27.100";
       b.RiffSize = 176436 + 34;
       b.Tail = Join(TWavBuilder::Chunk("LIST", 26, {tags, tags + sizeof tags}),
                     TWavBuilder::Chunk("data", 176400));
     },
     {true, 1, 2, 44100, 176400, 4, 16, 0, 56, 176478}},
    {"lower_case_fact_id_is_not_a_fact_chunk",
     [](TWavBuilder& b) { b.Tail = TWavBuilder::Chunk("FACT", 4, Le32(1234)); },
     {true, 1, 2, 44100, 176400, 4, 16, 0, 56, 176444}},
    {"only_low_byte_of_bits_per_sample",
     [](TWavBuilder& b) { b.BitsPerSample = 272; },
     {true, 1, 2, 44100, 176400, 4, 16, 0, 44, 176444}},
    {"all_of_the_unsigned_ranges",
     [](TWavBuilder& b) {
       b.FormatTag = 0xFFFF;
       b.SampleRate = b.BytesPerSecond = 0xFFFFFFFFu;
       b.BlockAlign = 0xFFFF;
       b.BitsPerSample = 0xFF;
       b.RiffSize = 0xFFFFFFF7u;
     },
     {true, 0xFFFF, 2, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFF, 0xFF, 0, 44, 0xFFFFFFFFu}},
    {"riff_size_20_clamps_header_size",
     [](TWavBuilder& b) { b.RiffSize = 20; },
     {true, 1, 2, 44100, 176400, 4, 16, 0, 28, 28}},
    // 44 bytes: the clamp is not needed.
    {"riff_size_36_equals_header_size",
     [](TWavBuilder& b) { b.RiffSize = 36; },
     {true, 1, 2, 44100, 176400, 4, 16, 0, 44, 44}},
    {"riff_size_2_pow_32_minus_8_wraps_file_size_to_0",
     [](TWavBuilder& b) { b.RiffSize = 0xFFFFFFF8u; },
     {true, 1, 2, 44100, 176400, 4, 16, 0, 0, 0}},
    {"fmt_65500_header_size_wraps_to_4",
     [](TWavBuilder& b) {
       b.FmtSize = 65500;
       b.Tail = Join(std::vector<uint8_t>(65500 - 16, 0), TWavBuilder::Chunk("fact", 4, Le32(7)));
     },
     {true, 1, 2, 44100, 176400, 4, 16, 7, 4, 176444}},
    {"next_chunk_position_wraps_to_the_file_start",
     [](TWavBuilder& b) {
       b.FmtSize = 0xFFFFFFECu; // + 20 is 2^32: the 12 bytes at 0
       b.Tail = TWavBuilder::Chunk("LIST", 4);
     },
     {true, 1, 2, 44100, 176400, 4, 16, 0, 20, 176444}},
    {"wrapped_position_finds_a_fact_id_in_the_riff_size",
     [](TWavBuilder& b) {
       b.RiffSize = 0x74636166u; // the bytes "fact"
       b.FmtSize = 0xFFFFFFF0u;  // + 20 wraps to 4
       b.Tail = TWavBuilder::Chunk("LIST", 4);
     },
     {true, 1, 2, 44100, 176400, 4, 16, 0x20746D66, 24, 0x7463616Eu}},
};

INSTANTIATE_TEST_SUITE_P(WavHeader, HeaderValues, ::testing::ValuesIn(ValuesCases), TCaseName());

// ---- state: every load starts from reset

struct TFailedLoadCase {
  const char* Name;
  bool Read;
  std::function<void(const TTestFile&)> Prepare;
};

class FailedLoad : public ::testing::TestWithParam<TFailedLoadCase> {};

TEST_P(FailedLoad, AfterAValidLoadResetsEveryValue) {
  TTestFile good("_good");
  good.Write(FactBuilder(88200));
  TTestFile bad;
  GetParam().Prepare(bad);

  TWAVfile wav;
  ASSERT_TRUE(wav.LoadFromFile(good.c_str()));
  ASSERT_TRUE(wav.Valid);
  EXPECT_EQ(wav.LoadFromFile(bad.c_str()), GetParam().Read);
  ExpectValues(wav, AllZero);
  EXPECT_EQ(wav.Duration(), 0.0);
}

TEST_P(FailedLoad, LeavesNothingOpen) {
  TTestFile bad;
  GetParam().Prepare(bad);
#ifdef __linux__
  size_t before = OpenDescriptorCount();
#endif
  TWAVfile wav;
  EXPECT_EQ(wav.LoadFromFile(bad.c_str()), GetParam().Read);
#ifdef __linux__
  EXPECT_EQ(OpenDescriptorCount(), before);
#else
  // Windows refuses to delete a file that is still open without delete sharing.
  EXPECT_EQ(std::remove(bad.c_str()), 0);
#endif
}

TEST(WavHeader, LoadOfAMissingFileAfterAValidLoadResetsEveryValue) {
  TTestFile good;
  good.Write(TWavBuilder());
  TWAVfile wav;
  ASSERT_TRUE(wav.LoadFromFile(good.c_str()));
  ASSERT_TRUE(wav.Valid);
  EXPECT_FALSE(wav.LoadFromFile(TestFilePath("_never_written").c_str()));
  ExpectValues(wav, AllZero);
}

INSTANTIATE_TEST_SUITE_P(
    WavHeader, FailedLoad,
    ::testing::Values(TFailedLoadCase{"short_file", false,
                                      [](const TTestFile& f) { f.Write(TWavBuilder(), 39); }},
                      TFailedLoadCase{"extra_read_past_the_end", false,
                                      [](const TTestFile& f) { f.Write(FactBuilder(1), 40); }},
                      TFailedLoadCase{"refused_header", true,
                                      [](const TTestFile& f) {
                                        TWavBuilder b;
                                        b.FormType = "wave";
                                        f.Write(b);
                                      }}),
    TCaseName());

} // namespace
