#include "wavfile.h"

#include "test_files.h"

namespace {

// Restores the module-wide separator after each test.
class Texts : public ::testing::Test {
protected:
  void SetUp() override { SetDecimalSeparator('.'); }
  void TearDown() override { SetDecimalSeparator('.'); }
};

TWAVfile Loaded(const TWavBuilder& builder, const TTestFile& file) {
  file.Write(builder);
  TWAVfile wav;
  wav.LoadFromFile(file.c_str());
  return wav;
}

TEST_F(Texts, CanonicalPcmFile) {
  TTestFile file;
  TInformationTexts expected = {"Windows PCM", "2",  "Stereo",     "44100 Hz",
                                "176400",      "16", "1.0 seconds"};
  EXPECT_EQ(InformationTexts(Loaded(TWavBuilder(), file)), expected);
}

TEST_F(Texts, ResetObject) {
  TInformationTexts expected = {"", "0", "Unknown", "0 Hz", "0", "0", ".0 seconds"};
  EXPECT_EQ(InformationTexts(TWAVfile()), expected);
}

TEST_F(Texts, UnknownFormatCodeGivesEmptyFormatAndTheOtherSix) {
  TWavBuilder b;
  b.FormatTag = 3;
  b.Channels = 1;
  b.SampleRate = 8000;
  b.BytesPerSecond = 32000;
  b.BitsPerSample = 272; // stored as its low byte
  b.RiffSize = 32000 * 3 + 36;
  TTestFile file;
  TInformationTexts expected = {"", "1", "Mono", "8000 Hz", "32000", "16", "3.0 seconds"};
  EXPECT_EQ(InformationTexts(Loaded(b, file)), expected);
}

TEST_F(Texts, NumbersAreUnsignedOverTheirWholeRange) {
  TWAVfile wav;
  wav.SampleRate = 4294967295u;
  wav.BytesPerSecond = 4294967295u;
  wav.ChannelCount = 255;
  wav.BitsPerSample = 255;
  TInformationTexts texts = InformationTexts(wav);
  EXPECT_EQ(texts[1], "255");
  EXPECT_EQ(texts[3], "4294967295 Hz");
  EXPECT_EQ(texts[4], "4294967295");
  EXPECT_EQ(texts[5], "255");
}

TEST_F(Texts, DurationUsesTheModuleSeparator) {
  SetDecimalSeparator(';'); // no locale's: the text cannot have asked the locale
  TWAVfile wav;
  wav.Valid = true;
  wav.SampleCount = 5;
  wav.SampleRate = 2;
  EXPECT_EQ(InformationTexts(wav)[6], "2;5 seconds");
}

struct TNameCase {
  const char* Name;
  bool Channels; // names the channel count, else the format code
  unsigned Value;
  const char* Text;
};

class Names : public ::testing::TestWithParam<TNameCase> {};

TEST_P(Names, NameTheFormatCodeAndTheChannelCount) {
  const TNameCase& c = GetParam();
  TWAVfile wav;
  if (c.Channels)
    wav.ChannelCount = uint8_t(c.Value);
  else
    wav.FormatTag = uint16_t(c.Value);
  EXPECT_STREQ(c.Channels ? wav.ChannelModeName() : wav.FormatName(), c.Text);
  EXPECT_EQ(InformationTexts(wav)[c.Channels ? 2 : 0], c.Text);
}

INSTANTIATE_TEST_SUITE_P(Texts, Names,
                         ::testing::Values(TNameCase{"format_1", false, 1, "Windows PCM"},
                                           TNameCase{"format_2", false, 2, "Microsoft ADPCM"},
                                           TNameCase{"format_6", false, 6, "A-LAW"},
                                           TNameCase{"format_7", false, 7, "MU-LAW"},
                                           TNameCase{"format_17", false, 17, "DVI/IMA ADPCM"},
                                           TNameCase{"format_85", false, 85, "MPEG 1.0 Layer III"},
                                           TNameCase{"format_0", false, 0, ""},
                                           TNameCase{"format_3", false, 3, ""},
                                           TNameCase{"format_257", false, 257, ""},
                                           TNameCase{"format_65534", false, 65534, ""},
                                           TNameCase{"channels_0", true, 0, "Unknown"},
                                           TNameCase{"channels_1", true, 1, "Mono"},
                                           TNameCase{"channels_2", true, 2, "Stereo"}),
                         TCaseName());

struct TOneDecimalCase {
  double Value;
  char Separator;
  const char* Text;
};

void PrintTo(const TOneDecimalCase& c, std::ostream* os) {
  *os << c.Value << " with '" << c.Separator << "'";
}

class OneDecimal : public ::testing::TestWithParam<TOneDecimalCase> {};

TEST_P(OneDecimal, RoundsHalfUpOnTheDigitsOfTheDouble) {
  EXPECT_EQ(OneDecimalForm(GetParam().Value, GetParam().Separator), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, OneDecimal,
    ::testing::Values(TOneDecimalCase{0, '.', ".0"}, TOneDecimalCase{0.04, '.', ".0"},
                      TOneDecimalCase{0.05, '.', ".1"}, TOneDecimalCase{0.25, '.', ".3"},
                      TOneDecimalCase{0.5, '.', ".5"}, TOneDecimalCase{1, '.', "1.0"},
                      TOneDecimalCase{1.25, '.', "1.3"}, TOneDecimalCase{12.34, '.', "12.3"},
                      TOneDecimalCase{59.96, '.', "60.0"}, TOneDecimalCase{9.96, '.', "10.0"},
                      TOneDecimalCase{0.96, '.', "1.0"}, TOneDecimalCase{99.95, '.', "100.0"},
                      TOneDecimalCase{1234.56, '.', "1234.6"},
                      TOneDecimalCase{4294967295.0, '.', "4294967295.0"},
                      TOneDecimalCase{3.0 / 20, '.', ".1"}, // 0.1499999999999999944...
                      TOneDecimalCase{0.95, '.', ".9"},     // 0.9499999999999999555...
                      TOneDecimalCase{0.35, '.', ".3"},     // 0.3499999999999999778...
                      TOneDecimalCase{1e-300, '.', ".0"}, TOneDecimalCase{2.5, ',', "2,5"},
                      TOneDecimalCase{0.05, ',', ",1"}));

} // namespace
