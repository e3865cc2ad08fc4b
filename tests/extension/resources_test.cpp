// The module's resources as the platform reads them: the page's dialog
// template, the string table, the manifest and the version information.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module.h"
#include "resource_ids.h"

namespace {

const WORD EnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const WORD Neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

// The bytes of a resource in exactly this language, or empty.
std::vector<BYTE> ResourceBytes(LPCSTR type, LPCSTR name, WORD language) {
  HRSRC found = FindResourceExA(ModuleInstance(), type, name, language);
  if (!found)
    return {};
  HGLOBAL loaded = LoadResource(ModuleInstance(), found);
  auto* bytes = static_cast<const BYTE*>(LockResource(loaded));
  return std::vector<BYTE>(bytes, bytes + SizeofResource(ModuleInstance(), found));
}

// Reads a classic DLGTEMPLATE and its items.
class TTemplateReader {
public:
  explicit TTemplateReader(const std::vector<BYTE>& bytes) : FBytes(bytes) {}

  WORD Word() {
    WORD w = 0;
    if (FAt + 2 <= FBytes.size())
      w = WORD(FBytes[FAt] | FBytes[FAt + 1] << 8);
    FAt += 2;
    return w;
  }
  DWORD Dword() {
    DWORD low = Word();
    return low | DWORD(Word()) << 16;
  }
  short Short() { return static_cast<short>(Word()); }
  // A UTF-16 string; an ordinal (0xFFFF, n) comes back as "#n".
  std::string Text() {
    WORD first = Word();
    if (first == 0xFFFF)
      return "#" + std::to_string(Word());
    std::string text;
    for (WORD c = first; c != 0; c = Word())
      text += c < 0x80 ? char(c) : '?';
    return text;
  }
  void AlignDword() { FAt = (FAt + 3) & ~size_t(3); }
  bool Overrun() const { return FAt > FBytes.size(); }

private:
  const std::vector<BYTE>& FBytes;
  size_t FAt = 0;
};

struct TItem {
  DWORD Style;
  DWORD ExStyle;
  short X, Y, Cx, Cy;
  WORD Id;
  std::string Class;
  std::string Text;

  bool operator==(const TItem& o) const {
    return Style == o.Style && ExStyle == o.ExStyle && X == o.X && Y == o.Y && Cx == o.Cx &&
           Cy == o.Cy && Id == o.Id && Class == o.Class && Text == o.Text;
  }
};

std::ostream& operator<<(std::ostream& out, const TItem& i) {
  return out << "{" << std::hex << i.Style << ", " << i.ExStyle << std::dec << ", " << i.X << ","
             << i.Y << "," << i.Cx << "," << i.Cy << ", id " << i.Id << ", " << i.Class << ", \""
             << i.Text << "\"}";
}

TEST(ModuleResourcesTest, DialogTemplate100IsTheInformationPageInEnglishUs) {
  std::vector<BYTE> bytes = ResourceBytes(RT_DIALOG, MAKEINTRESOURCEA(IDD_INFORMATION), EnglishUs);
  ASSERT_FALSE(bytes.empty());
  TTemplateReader r(bytes);

  EXPECT_EQ(r.Dword(), 0x50000040u) << "WS_CHILD | WS_VISIBLE | DS_SETFONT";
  EXPECT_EQ(r.Dword(), 0u) << "extended style";
  WORD count = r.Word();
  EXPECT_EQ(r.Short(), 0);
  EXPECT_EQ(r.Short(), 0);
  EXPECT_EQ(r.Short(), 228);
  EXPECT_EQ(r.Short(), 88);
  EXPECT_EQ(r.Text(), "") << "menu";
  EXPECT_EQ(r.Text(), "") << "class";
  EXPECT_EQ(r.Text(), "") << "caption";
  EXPECT_EQ(r.Word(), 8) << "point size";
  EXPECT_EQ(r.Text(), "MS Sans Serif");
  ASSERT_EQ(count, 15);

  // Class ordinals: 0x80 button, 0x82 static. No style has SS_NOTIFY or
  // BS_NOTIFY (0x100): no control sends notifications.
  const DWORD group = 0x50000007, label = 0x50020002, value = 0x50020000;
  const TItem expected[] = {
      {group, 0, 4, 2, 220, 84, 0xFFFF, "#128", "Sound"},
      {label, 0, 10, 11, 65, 8, 0xFFFF, "#130", "Format:"},
      {label, 0, 10, 21, 65, 8, 0xFFFF, "#130", "Number of channels:"},
      {label, 0, 10, 31, 65, 8, 0xFFFF, "#130", "Channel mode:"},
      {label, 0, 10, 41, 65, 8, 0xFFFF, "#130", "Sample rate:"},
      {label, 0, 10, 51, 65, 8, 0xFFFF, "#130", "Bytes per second:"},
      {label, 0, 10, 61, 65, 8, 0xFFFF, "#130", "Bits per sample:"},
      {label, 0, 10, 71, 65, 8, 0xFFFF, "#130", "Duration:"},
      {value, 0, 80, 11, 65, 8, 1000, "#130", ""},
      {value, 0, 80, 21, 65, 8, 1001, "#130", ""},
      {value, 0, 80, 31, 65, 8, 1002, "#130", ""},
      {value, 0, 80, 41, 65, 8, 1003, "#130", ""},
      {value, 0, 80, 51, 65, 8, 1004, "#130", ""},
      {value, 0, 80, 61, 65, 8, 1005, "#130", ""},
      {value, 0, 80, 71, 65, 8, 1006, "#130", ""},
  };
  for (const TItem& want : expected) {
    r.AlignDword();
    TItem item;
    item.Style = r.Dword();
    item.ExStyle = r.Dword();
    item.X = r.Short();
    item.Y = r.Short();
    item.Cx = r.Short();
    item.Cy = r.Short();
    item.Id = r.Word();
    item.Class = r.Text();
    item.Text = r.Text();
    EXPECT_EQ(r.Word(), 0) << "creation data of " << want.Text;
    EXPECT_EQ(item, want);
  }
  EXPECT_FALSE(r.Overrun());
}

TEST(ModuleResourcesTest, TheStringTableHoldsThePageTitleAndTheFramesStrings) {
  struct TCase {
    UINT Id;
    const char* Text;
  };
  const TCase cases[] = {
      {101, "Information"},
      {65441, "Error creating system registry entry"},
      {65445, "Brasket Error"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Id);
    EXPECT_EQ(LoadModuleString(c.Id), c.Text);
    EXPECT_FALSE(ResourceBytes(RT_STRING, MAKEINTRESOURCEA(c.Id / 16 + 1), EnglishUs).empty())
        << "English (United States)";
  }
}

TEST(ModuleResourcesTest, ThePageTitleIsTheOnlyStringInItsBlock) {
  std::vector<BYTE> bytes = ResourceBytes(RT_STRING, MAKEINTRESOURCEA(101 / 16 + 1), EnglishUs);
  ASSERT_FALSE(bytes.empty());
  TTemplateReader r(bytes);
  for (int slot = 0; slot < 16; ++slot) {
    WORD length = r.Word();
    std::string text;
    for (WORD i = 0; i < length; ++i)
      text += char(r.Word());
    EXPECT_EQ(text, slot == 101 % 16 ? "Information" : "") << "slot " << slot;
  }
  EXPECT_FALSE(r.Overrun());
}

TEST(ModuleResourcesTest, TheManifestNamesTheAssemblyAndTheCommonControlsDependency) {
  std::vector<BYTE> bytes = ResourceBytes(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1), Neutral);
  ASSERT_FALSE(bytes.empty()) << "type 24, id 1, language neutral";
  std::string manifest(bytes.begin(), bytes.end());
  // The module's own architecture: a process refuses common controls of
  // another one.
#if defined(__aarch64__)
  const std::string arch = "arm64";
#elif defined(__x86_64__)
  const std::string arch = "amd64";
#else
  const std::string arch = "X86";
#endif
  const std::string expected[] = {
      R"(<assemblyIdentity name="Quorrin.Tolvane" version="1.0.0.0" processorArchitecture=")" +
          arch + R"(" type="win32"/>)",
      R"(<description>Tolvane Shell Extension</description>)",
      R"(<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture=")" +
          arch + R"(" language="*" publicKeyToken="6595b64144ccf1df"/>)",
  };
  for (const std::string& part : expected)
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
}

TEST(ModuleResourcesTest, TheVersionInformationNamesTheProductInBlock040904E4) {
  ASSERT_FALSE(ResourceBytes(RT_VERSION, MAKEINTRESOURCEA(1), Neutral).empty())
      << "language neutral";
  char path[MAX_PATH];
  GetModuleFileNameA(ModuleInstance(), path, MAX_PATH);
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));

  struct TCase {
    const char* Name;
    const char* Value;
  };
  const TCase cases[] = {
      {"FileVersion", "1.1.0.0"},
      {"FileDescription", "Displaying information about Wave audio files"},
      {"InternalName", "PELLMORE"},
      {"OriginalFilename", "PELLMORE.DLL"},
      {"ProductName", "Tolvane"},
      {"CompanyName", "Quorrin"},
      {"ProductVersion", "1.1.0.0"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string key = std::string("\\StringFileInfo\\040904E4\\") + c.Name;
    char* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(
        VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length));
    EXPECT_STREQ(value, c.Value);
  }

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
}

} // namespace
