#include "wavfile.h"

#include "test_files.h"

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
    TCaseName());

// Restores the module-wide separator after each test.
class LoadSeparator : public ::testing::Test {
protected:
  void TearDown() override { SetDecimalSeparator('.'); }
};

// Loads the separator with the other one set before, so a load that changes
// nothing is seen.
char LoadedSeparator(char expected) {
  SetDecimalSeparator(expected == '.' ? ',' : '.');
  LoadDecimalSeparator();
  return DecimalSeparator();
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

struct TLocaleCase {
  const char* Name;
  LCID Locale;
  char Separator;
};

class ThreadLocale : public LoadSeparator, public ::testing::WithParamInterface<TLocaleCase> {};

TEST_P(ThreadLocale, GivesItsSeparator) {
  TThreadLocale locale(GetParam().Locale);
  EXPECT_EQ(LoadedSeparator(GetParam().Separator), GetParam().Separator);
}

INSTANTIATE_TEST_SUITE_P(DecimalSeparator, ThreadLocale,
                         ::testing::Values(TLocaleCase{"german_comma", German, ','},
                                           TLocaleCase{"english_point", English, '.'}),
                         TCaseName());

TEST_F(LoadSeparator, LocaleChangeAfterLoadingDoesNotChangeTheSeparator) {
  {
    TThreadLocale locale(German);
    LoadDecimalSeparator();
  }
  TThreadLocale locale(English);
  EXPECT_EQ(DecimalSeparator(), ',');
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
  TThreadLocale locale(German);
  TImportPatch patch(GetModuleHandleA(nullptr), "kernel32.dll", "GetLocaleInfoA",
                     reinterpret_cast<void*>(&GetLocaleInfoTwoCharacters));
  ASSERT_NE(patch.Original(), nullptr);
  EXPECT_EQ(LoadedSeparator('.'), '.');
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
    Directory = TestPathStem();
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

struct TEnvironmentCase {
  const char* Name;
  const char* LcAll;
  const char* LcNumeric;
  char Separator;
};

class EnvironmentSetting : public EnvironmentLocale,
                           public ::testing::WithParamInterface<TEnvironmentCase> {};

TEST_P(EnvironmentSetting, GivesTheLocalesSeparator) {
  Environment.Set("LC_ALL", GetParam().LcAll);
  Environment.Set("LANG", "C");
  Environment.Set("LC_NUMERIC", GetParam().LcNumeric);
  EXPECT_EQ(LoadedSeparator(GetParam().Separator), GetParam().Separator);
}

INSTANTIATE_TEST_SUITE_P(
    DecimalSeparator, EnvironmentSetting,
    ::testing::Values(TEnvironmentCase{"lc_all_with_comma", "comma", nullptr, ','},
                      TEnvironmentCase{"lc_numeric_with_comma", nullptr, "comma", ','},
                      TEnvironmentCase{"multi_byte_decimal_point", "arabic", nullptr, '.'},
                      TEnvironmentCase{"unknown_locale", "no_such_locale", nullptr, '.'},
                      TEnvironmentCase{"c_locale", "C", nullptr, '.'}),
    TCaseName());

TEST_F(EnvironmentLocale, EnvironmentChangeAfterLoadingDoesNotChangeTheSeparator) {
  Environment.Set("LC_ALL", "comma");
  LoadDecimalSeparator();
  Environment.Set("LC_ALL", "C");
  EXPECT_EQ(DecimalSeparator(), ',');
}

#endif

} // namespace
