#include "wavinfo.h"

#include "wavfile.h"

#include "test_files.h"

#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

TPath ToPath(const std::string& text) {
#ifdef _WIN32
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), length);
  return wide;
#else
  return text;
#endif
}

struct TRun {
  int Status;
  std::string Out, Err;
};

TRun RunTool(const std::vector<std::string>& arguments) {
  std::vector<TPath> paths;
  for (const std::string& a : arguments)
    paths.push_back(ToPath(a));
  std::ostringstream out, err;
  int status = RunWavinfo(paths, out, err);
  return {status, out.str(), err.str()};
}

// The seven captioned lines of a 44100 Hz 16-bit stereo PCM file.
std::string Block(const std::string& duration) {
  return "  Format:             Windows PCM\n"
         "  Number of channels: 2\n"
         "  Channel mode:       Stereo\n"
         "  Sample rate:        44100 Hz\n"
         "  Bytes per second:   176400\n"
         "  Bits per sample:    16\n"
         "  Duration:           " +
         duration + " seconds\n";
}

class Wavinfo : public ::testing::Test {
protected:
  void SetUp() override {
    SetDecimalSeparator('.');
    Canonical.Write(TWavBuilder());
    Fact.Write(FactBuilder(22050));
    TWavBuilder refused;
    refused.Channels = 3;
    Refused.Write(refused);
  }
  void TearDown() override { SetDecimalSeparator('.'); }

  TTestFile Canonical{"_canonical"}, Fact{"_fact"}, Refused{"_refused"};
  std::string Missing = TestFilePath("_missing");
};

TEST_F(Wavinfo, PrintsPathAndTheSevenAlignedCaptions) {
  TRun run = RunTool({Canonical.Path()});
  EXPECT_EQ(run.Status, ExitAllValid);
  EXPECT_EQ(run.Out, Canonical.Path() + "\n" + Block("1.0"));
  EXPECT_EQ(run.Err, "");
}

TEST_F(Wavinfo, SeparatesFilesByABlankLine) {
  TRun run = RunTool({Canonical.Path(), Fact.Path()});
  EXPECT_EQ(run.Status, ExitAllValid);
  EXPECT_EQ(run.Out,
            Canonical.Path() + "\n" + Block("1.0") + "\n" + Fact.Path() + "\n" + Block(".5"));
}

TEST_F(Wavinfo, UsesTheModuleSeparator) {
  SetDecimalSeparator(',');
  TRun run = RunTool({Fact.Path()});
  EXPECT_EQ(run.Out, Fact.Path() + "\n" + Block(",5"));
}

TEST_F(Wavinfo, NamesUnreadableAndRefusedFilesOnStderrAndGoesOn) {
  TRun run = RunTool({Missing, Refused.Path(), Canonical.Path()});
  EXPECT_EQ(run.Status, ExitSomeNotValid);
  EXPECT_EQ(run.Out, Canonical.Path() + "\n" + Block("1.0"));
  EXPECT_EQ(run.Err, "wavinfo: " + Missing +
                         ": header could not be read (missing, unreadable or too short)\n"
                         "wavinfo: " +
                         Refused.Path() +
                         ": header not accepted (not RIFF/WAVE with a first fmt chunk and 1 or 2 "
                         "channels)\n");
}

TEST_F(Wavinfo, ShowsControlCharactersOfAPathEscaped) {
  TRun run = RunTool({Missing + "\n\t\x01.wav"});
  EXPECT_EQ(run.Err, "wavinfo: " + Missing +
                         "\\n\\t\\u0001.wav: header could not be read (missing, unreadable "
                         "or too short)\n");
}

TEST_F(Wavinfo, JsonLinePerFile) {
  TRun run = RunTool({"--json", Fact.Path(), Missing});
  EXPECT_EQ(run.Status, ExitSomeNotValid);
  EXPECT_EQ(run.Out,
            "{\"file\": " + JsonString(Fact.Path()) +
                ", \"read\": true, \"valid\": true, \"values\": {\"FormatTag\": 1, "
                "\"ChannelCount\": 2, \"SampleRate\": 44100, \"BytesPerSecond\": 176400, "
                "\"BlockAlign\": 4, \"BitsPerSample\": 16, \"SampleCount\": 22050, "
                "\"HeaderSize\": 58, \"FileSize\": 176444}, \"duration\": 0.5, \"texts\": "
                "[\"Windows PCM\", \"2\", \"Stereo\", \"44100 Hz\", \"176400\", \"16\", \".5 "
                "seconds\"]}\n"
                "{\"file\": " +
                JsonString(Missing) +
                ", \"read\": false, \"valid\": false, \"values\": {\"FormatTag\": 0, "
                "\"ChannelCount\": 0, \"SampleRate\": 0, \"BytesPerSecond\": 0, \"BlockAlign\": "
                "0, \"BitsPerSample\": 0, \"SampleCount\": 0, \"HeaderSize\": 0, \"FileSize\": "
                "0}, \"duration\": 0, \"texts\": [\"\", \"0\", \"Unknown\", \"0 Hz\", \"0\", "
                "\"0\", \".0 seconds\"]}\n");
}

TEST_F(Wavinfo, JsonRefusedFileWasRead) {
  TRun run = RunTool({Refused.Path(), "--json"});
  EXPECT_EQ(run.Status, ExitSomeNotValid);
  EXPECT_NE(run.Out.find("\"read\": true, \"valid\": false"), std::string::npos) << run.Out;
}

TEST_F(Wavinfo, JsonNegativeSampleCount) {
  TTestFile file;
  file.Write(FactBuilder(0xFFFFFFFFu));
  TRun run = RunTool({"--json", file.Path()});
  EXPECT_EQ(run.Status, ExitAllValid);
  EXPECT_NE(run.Out.find("\"SampleCount\": -1,"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("\"duration\": 0,"), std::string::npos) << run.Out;
}

const char Usage[] = "usage: wavinfo [--json] FILE...\n";

struct TUsageCase {
  const char* Name;
  std::vector<std::string> Arguments;
  const char* Error; // the line before the usage line
};

class WavinfoUsage : public ::testing::TestWithParam<TUsageCase> {};

TEST_P(WavinfoUsage, IsAnErrorWithAUsageLine) {
  TRun run = RunTool(GetParam().Arguments);
  EXPECT_EQ(run.Status, ExitUsage);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, GetParam().Error + std::string(Usage));
}

INSTANTIATE_TEST_SUITE_P(
    Wavinfo, WavinfoUsage,
    ::testing::Values(
        TUsageCase{"no_argument", {}, "wavinfo: no file given\n"},
        TUsageCase{"only_json", {"--json"}, "wavinfo: no file given\n"},
        TUsageCase{"unknown_option", {"--jsn", "a.wav"}, "wavinfo: unknown option --jsn\n"},
        TUsageCase{"unknown_short_option", {"a.wav", "-x"}, "wavinfo: unknown option -x\n"}),
    TCaseName());

TEST(WavinfoHelp, PrintsTheUsageLineAndSucceeds) {
  TRun run = RunTool({"--help"});
  EXPECT_EQ(run.Status, ExitAllValid);
  EXPECT_EQ(run.Out, Usage);
}

TEST(WavinfoOptions, DoubleDashEndsTheOptions) {
  TRun run = RunTool({"--", "--json"});
  EXPECT_EQ(run.Status, ExitSomeNotValid);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err.rfind("wavinfo: --json: header could not be read", 0), 0u) << run.Err;
}

struct TJsonCase {
  const char* Name;
  std::string Text;
  std::string Json;
};

class JsonStrings : public ::testing::TestWithParam<TJsonCase> {};

TEST_P(JsonStrings, EscapeAsJsonRequires) {
  EXPECT_EQ(JsonString(GetParam().Text), GetParam().Json);
}

INSTANTIATE_TEST_SUITE_P(
    Wavinfo, JsonStrings,
    ::testing::Values(
        TJsonCase{"plain", "/tmp/a b.wav", "\"/tmp/a b.wav\""}, TJsonCase{"empty", "", "\"\""},
        TJsonCase{"quote_and_backslash", "C:\\x\"y", "\"C:\\\\x\\\"y\""},
        TJsonCase{"line_ends_and_tab", "a\nb\rc\td", "\"a\\nb\\rc\\td\""},
        TJsonCase{"other_controls", std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\x7f\""},
        TJsonCase{"nul_byte", std::string("a\0b", 3), "\"a\\u0000b\""},
        TJsonCase{"utf8_passes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5",
                  "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5\""},
        TJsonCase{"latin1_byte", "caf\xE9.wav", "\"caf\\udce9.wav\""},
        TJsonCase{"lone_continuation", "\x80", "\"\\udc80\""},
        TJsonCase{"overlong_nul", "\xC0\x80", "\"\\udcc0\\udc80\""},
        TJsonCase{"encoded_surrogate", "\xED\xA0\x80", "\"\\udced\\udca0\\udc80\""},
        TJsonCase{"truncated_sequence", "\xE2\x82", "\"\\udce2\\udc82\""},
        TJsonCase{"above_unicode", "\xF4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""},
        TJsonCase{"ff_byte", "\xFF", "\"\\udcff\""}),
    TCaseName());

} // namespace
