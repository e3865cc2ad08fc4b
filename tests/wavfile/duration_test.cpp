#include "wavfile.h"

#include "test_files.h"

namespace {

struct TDurationCase {
  const char* Name;
  bool Valid;
  int32_t SampleCount;
  uint32_t SampleRate, BytesPerSecond, FileSize;
  uint16_t HeaderSize;
  double Expected;
};

class DurationRule : public ::testing::TestWithParam<TDurationCase> {};

TEST_P(DurationRule, FirstMatchingRowGivesThePlayTime) {
  const TDurationCase& c = GetParam();
  TWAVfile wav;
  wav.Valid = c.Valid;
  wav.ChannelCount = 2;
  wav.SampleCount = c.SampleCount;
  wav.SampleRate = c.SampleRate;
  wav.BytesPerSecond = c.BytesPerSecond;
  wav.FileSize = c.FileSize;
  wav.HeaderSize = c.HeaderSize;
  EXPECT_DOUBLE_EQ(wav.Duration(), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Duration, DurationRule,
    ::testing::Values(
        TDurationCase{"not_valid_is_0_whatever_the_values", false, 88200, 44100, 176400, 176444, 44,
                      0},
        TDurationCase{"size_rule", true, 0, 44100, 176400, 176444, 44, 1.0},
        TDurationCase{"size_rule_ignores_the_sample_rate", true, 0, 0, 100, 1044, 44, 10.0},
        TDurationCase{"size_rule_with_equal_sizes", true, 0, 44100, 176400, 44, 44, 0},
        TDurationCase{"size_rule_unsigned_over_the_whole_range", true, 0, 0, 1, 0xFFFFFFFFu, 0,
                      4294967295.0},
        TDurationCase{"size_rule_unsigned_bytes_per_second", true, 0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu,
                      0, 1.0},
        TDurationCase{"no_sample_count_and_no_bytes_per_second", true, 0, 44100, 0, 176444, 44, 0},
        TDurationCase{"sample_rule", true, 88200, 44100, 176400, 176444, 58, 2.0},
        TDurationCase{"sample_rule_without_bytes_per_second", true, 22050, 44100, 0, 0, 0, 0.5},
        TDurationCase{"sample_rule_unsigned_sample_rate", true, 0x7FFFFFFF, 0xFFFFFFFFu, 0, 0, 0,
                      2147483647.0 / 4294967295.0},
        TDurationCase{"negative_sample_count", true, -1, 44100, 176400, 176444, 44, 0},
        TDurationCase{"most_negative_sample_count", true, INT32_MIN, 44100, 176400, 176444, 44, 0},
        TDurationCase{"sample_count_without_rate_does_not_fall_back", true, 1000, 0, 176400, 176444,
                      44, 0}),
    TCaseName());

} // namespace
