#include "wavfile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#ifdef _WIN32
#include "import_patch.h"
#include <windows.h>
#endif

namespace {

struct TSettingCase {
  const char* Name;
  const char* Setting;
  char Separator;
};

void PrintTo(const TSettingCase& c, std::ostream* os) {
  *os << c.Name;
}

class SeparatorSetting : public ::testing::TestWithParam<TSettingCase> {};

TEST_P(SeparatorSetting, OnlyASingleByteIsTaken) {
  EXPECT_EQ(SeparatorFromSetting(GetParam().Setting), GetParam().Separator);
}

INSTANTIATE_TEST_SUITE_P(
    DecimalSeparator, SeparatorSetting,
    ::testing::Values(TSettingCase{"comma", ",", ','}, TSettingCase{"point", ".", '.'},
                      TSettingCase{"apostrophe", "'", '\''}, TSettingCase{"missing", nullptr, '.'},
                      TSettingCase{"empty", "", '.'}, TSettingCase{"two_bytes", ",,", '.'},
                      TSettingCase{"utf8_arabic_decimal_separator", "\xD9\xAB", '.'}),
    [](const auto& info) { return std::string(info.param.Name); });

// Restores the module-wide separator after each test.
class LoadSeparator : public ::testing::Test {
protected:
  void TearDown() override { SetDecimalSeparator('.'); }
};

TEST_F(LoadSeparator, TextsUseTheLoadedSeparator) {
  SetDecimalSeparator(';');
  EXPECT_EQ(DecimalSeparator(), ';');
  TWAVfile wav;
  wav.Valid = true;
  wav.SampleCount = 1;
  wav.SampleRate = 4;
  EXPECT_EQ(InformationTexts(wav)[6], ";3 seconds");
}

#ifdef _WIN32

const LCID German = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
const LCID English = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);

// Sets the calling thread's locale for the test's length.
class TThreadLocale {
public:
  explicit TThreadLocale(LCID locale) : FPrevious(GetThreadLocale()) { SetThreadLocale(locale); }
  ~TThreadLocale() { SetThreadLocale(FPrevious); }

private:
  LCID FPrevious;
};

TEST_F(LoadSeparator, ThreadLocaleWithCommaGivesComma) {
  TThreadLocale locale(German);
  LoadDecimalSeparator();
  EXPECT_EQ(DecimalSeparator(), ',');
}

TEST_F(LoadSeparator, ThreadLocaleWithPointGivesPoint) {
  SetDecimalSeparator(',');
  TThreadLocale locale(English);
  LoadDecimalSeparator();
  EXPECT_EQ(DecimalSeparator(), '.');
}

TEST_F(LoadSeparator, LocaleChangeAfterLoadingDoesNotChangeTheSeparator) {
  {
    TThreadLocale locale(German);
    LoadDecimalSeparator();
  }
  TThreadLocale locale(English);
  EXPECT_EQ(DecimalSeparator(), ',');
  TWAVfile wav;
  wav.Valid = true;
  wav.SampleCount = 5;
  wav.SampleRate = 2;
  EXPECT_EQ(InformationTexts(wav)[6], "2,5 seconds");
}

// Stands in for a locale whose decimal separator has two characters ("<>"),
// answering the way GetLocaleInfoA does.
LCID AskedLocale;
LCTYPE AskedType;
int AskedRoom;
int WINAPI GetLocaleInfoTwoCharacters(LCID locale, LCTYPE type, LPSTR data, int room) {
  AskedLocale = locale;
  AskedType = type;
  AskedRoom = room;
  if (room < 3) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  lstrcpyA(data, "<>");
  return 3;
}

TEST_F(LoadSeparator, LongerSettingGivesPointAndIsAskedWithRoomForOne) {
  SetDecimalSeparator(',');
  TThreadLocale locale(German);
  TImportPatch patch(GetModuleHandleA(nullptr), "kernel32.dll", "GetLocaleInfoA",
                     reinterpret_cast<void*>(&GetLocaleInfoTwoCharacters));
  ASSERT_NE(patch.Original(), nullptr);
  LoadDecimalSeparator();
  EXPECT_EQ(DecimalSeparator(), '.');
  EXPECT_EQ(AskedLocale, German);
  EXPECT_EQ(AskedType, LCTYPE(LOCALE_SDECIMAL));
  EXPECT_EQ(AskedRoom, 2);
}

#else

// Sets environment variables for the test's length.
class TEnvironment {
public:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    FSaved.push_back({name, old ? old : "", old != nullptr});
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~TEnvironment() {
    for (auto it = FSaved.rbegin(); it != FSaved.rend(); ++it)
      if (it->Had)
        setenv(it->Name.c_str(), it->Value.c_str(), 1);
      else
        unsetenv(it->Name.c_str());
  }

private:
  struct TSaved {
    std::string Name, Value;
    bool Had;
  };
  std::vector<TSaved> FSaved;
};

// Compiles a locale whose only category is LC_NUMERIC into `directory`.
void MakeLocale(const std::string& directory, const std::string& name,
                const std::string& decimalPoint) {
  std::string source = directory + "/" + name + ".src";
  std::ofstream(source) << "LC_NUMERIC\ndecimal_point \"" << decimalPoint
                        << "\"\nthousands_sep \"\"\ngrouping -1\nEND LC_NUMERIC\n";
  std::string command =
      "localedef -c -i '" + source + "' -f UTF-8 '" + directory + "/" + name + "' >/dev/null 2>&1";
  std::system(command.c_str()); // -c: warns about the missing categories, exits 1
  ASSERT_TRUE(std::ifstream(directory + "/" + name + "/LC_NUMERIC").good())
      << "localedef did not make " << name;
}

class EnvironmentLocale : public LoadSeparator {
protected:
  static void SetUpTestSuite() {
    Directory = ::testing::TempDir() + "tolvane_locales_" + std::to_string(getpid());
    std::system(("mkdir -p '" + Directory + "'").c_str());
    MakeLocale(Directory, "comma", "<U002C>");
    MakeLocale(Directory, "arabic", "<U066B>"); // two bytes in UTF-8
  }
  static void TearDownTestSuite() { std::system(("rm -rf '" + Directory + "'").c_str()); }
  void SetUp() override { Environment.Set("LOCPATH", Directory.c_str()); }

  static std::string Directory;
  TEnvironment Environment;
};
std::string EnvironmentLocale::Directory;

TEST_F(EnvironmentLocale, LcAllWithCommaGivesComma) {
  Environment.Set("LC_ALL", "comma");
  LoadDecimalSeparator();
  EXPECT_EQ(DecimalSeparator(), ',');
}

TEST_F(EnvironmentLocale, LcNumericWithCommaGivesComma) {
  Environment.Set("LC_ALL", nullptr);
  Environment.Set("LANG", "C");
  Environment.Set("LC_NUMERIC", "comma");
  LoadDecimalSeparator();
  EXPECT_EQ(DecimalSeparator(), ',');
}

TEST_F(EnvironmentLocale, MultiByteDecimalPointGivesPoint) {
  SetDecimalSeparator(',');
  Environment.Set("LC_ALL", "arabic");
  LoadDecimalSeparator();
  EXPECT_EQ(DecimalSeparator(), '.');
}

TEST_F(EnvironmentLocale, UnknownLocaleGivesPoint) {
  SetDecimalSeparator(',');
  Environment.Set("LC_ALL", "no_such_locale");
  LoadDecimalSeparator();
  EXPECT_EQ(DecimalSeparator(), '.');
}

TEST_F(EnvironmentLocale, CLocaleGivesPoint) {
  SetDecimalSeparator(',');
  Environment.Set("LC_ALL", "C");
  LoadDecimalSeparator();
  EXPECT_EQ(DecimalSeparator(), '.');
}

TEST_F(EnvironmentLocale, EnvironmentChangeAfterLoadingDoesNotChangeTheSeparator) {
  Environment.Set("LC_ALL", "comma");
  LoadDecimalSeparator();
  Environment.Set("LC_ALL", "C");
  EXPECT_EQ(DecimalSeparator(), ',');
}

#endif

} // namespace
