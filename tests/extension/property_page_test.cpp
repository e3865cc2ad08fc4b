#include "property_page.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <new>
#include <thread>

#include "event_log.h"
#include "extension_fixture.h"
#include "import_patch.h"
#include "tolvane.h"

namespace {

using TTexts = std::vector<std::string>;

const TTexts CanonicalTexts = {"Windows PCM", "2",  "Stereo",     "44100 Hz",
                               "176400",      "16", "1.0 seconds"};
const TTexts NoTexts = {"", "", "", "", "", "", ""};

// The shell's road to a sheet: create and initialise the extension on
// `path`, collect its pages, release the shell's reference. Returns the first
// failure; *object is the object a page now holds.
HRESULT AddExtensionPages(const std::wstring& path, TPageList& pages, TTolvane** object = nullptr) {
  // The object keeps the data object as long as its page lives.
  TDropDataObject* selection = TDropDataObject::Shared({path});
  IShellExtInit* init = nullptr;
  HRESULT result = CreateExtension(selection, &init);
  selection->Release();
  if (result == S_OK)
    result = ObjectOf(init)->AddPages(KeepPage, reinterpret_cast<LPARAM>(&pages));
  if (result == S_OK && object)
    *object = ObjectOf(init);
  if (init)
    init->Release();
  return result;
}

// The extension's pages for `path`, shown in a sheet.
class TOpenSheet {
public:
  explicit TOpenSheet(const std::wstring& path) {
    Result = AddExtensionPages(path, Pages, &Object);
    Sheet = std::make_unique<TModelessSheet>(Pages.Pages, Pages.Count, "Properties");
  }

  HWND Page() const { return Sheet->Page(0); }

  HRESULT Result = E_UNEXPECTED;
  TTolvane* Object = nullptr;
  TPageList Pages;
  std::unique_ptr<TModelessSheet> Sheet;
};

class InformationPageTest : public ExtensionTest {};

struct TChild {
  std::string Class;
  std::string Text;
  int Id;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM lParam) {
  char className[64] = "";
  GetClassNameA(child, className, sizeof className);
  CharLowerA(className);
  reinterpret_cast<std::vector<TChild>*>(lParam)->push_back(
      {className, WindowText(child), GetDlgCtrlID(child)});
  return TRUE;
}

TEST_F(InformationPageTest, TheSheetShowsTheInformationTabAndThePageItsControlsInOrder) {
  TOpenSheet open(WriteCanonical(L"canonical.wav"));
  ASSERT_NE(open.Page(), nullptr);
  EXPECT_EQ(WindowText(open.Sheet->Window()), "Properties");

  HWND tabs = reinterpret_cast<HWND>(SendMessageA(open.Sheet->Window(), PSM_GETTABCONTROL, 0, 0));
  ASSERT_NE(tabs, nullptr);
  char title[64] = "";
  TCITEMA item{};
  item.mask = TCIF_TEXT;
  item.pszText = title;
  item.cchTextMax = sizeof title;
  ASSERT_TRUE(SendMessageA(tabs, TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  EXPECT_STREQ(title, "Information");

  std::vector<TChild> children;
  EnumChildWindows(open.Page(), CollectChild, reinterpret_cast<LPARAM>(&children));

  const char* labels[] = {
      "Format:",           "Number of channels:", "Channel mode:", "Sample rate:",
      "Bytes per second:", "Bits per sample:",    "Duration:"};
  ASSERT_EQ(children.size(), 15u);
  EXPECT_EQ(children[0].Class, "button");
  EXPECT_EQ(children[0].Text, "Sound");
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(labels[i]);
    EXPECT_EQ(children[1 + i].Class, "static");
    EXPECT_EQ(children[1 + i].Text, labels[i]);
    EXPECT_EQ(children[8 + i].Class, "static");
    EXPECT_EQ(children[8 + i].Id, 1000 + i);
    EXPECT_EQ(children[8 + i].Text, CanonicalTexts[i]);
  }
  EXPECT_TRUE(open.Sheet->CloseWithOk());
}

TEST_F(InformationPageTest, EachFileShowsWhatItsHeaderGivesAndNoMessage) {
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes; // empty with Missing: no file at all
    bool Missing;
    TTexts Texts;
  };
  TWavBuilder fact;
  fact.FmtSize = 18;
  fact.RiffSize = 176450;
  fact.Tail = {0, 0}; // cbSize of the fmt extension
  for (uint8_t b : TWavBuilder::Chunk("fact", 4, {0x88, 0x58, 0x01, 0x00})) // 88200
    fact.Tail.push_back(b);
  for (uint8_t b : TWavBuilder::Chunk("data", 0))
    fact.Tail.push_back(b);
  TWavBuilder floats;
  floats.FormatTag = 3;
  floats.BitsPerSample = 32;
  floats.BytesPerSecond = 352800;
  floats.BlockAlign = 8;
  floats.RiffSize = 352836;
  TWavBuilder mono;
  mono.Channels = 1;
  mono.BytesPerSecond = 88200;
  mono.BlockAlign = 2;
  mono.RiffSize = 44100;
  TWavBuilder notRiff;
  notRiff.RiffId = "RIFX";
  std::vector<uint8_t> shortFile = TWavBuilder().Bytes();
  shortFile.resize(39);

  const TCase cases[] = {
      {"canonical PCM", CanonicalBytes(), false, CanonicalTexts},
      {"fact chunk",
       fact.Bytes(),
       false,
       {"Windows PCM", "2", "Stereo", "44100 Hz", "176400", "16", "2.0 seconds"}},
      {"unsupported format code",
       floats.Bytes(),
       false,
       {"", "2", "Stereo", "44100 Hz", "352800", "32", "1.0 seconds"}},
      {"mono, half a second",
       mono.Bytes(),
       false,
       {"Windows PCM", "1", "Mono", "44100 Hz", "88200", "16", ".5 seconds"}},
      {"not RIFF", notRiff.Bytes(), false, NoTexts},
      {"39 bytes", shortFile, false, NoTexts},
      {"empty", {}, false, NoTexts},
      {"missing", {}, true, NoTexts},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::wstring path = Files.PathOf(L"case.wav");
    if (!c.Missing)
      ASSERT_EQ(Files.Write(L"case.wav", c.Bytes), path);
    else
      DeleteFileW(path.c_str());
    TOpenSheet open(path);
    ASSERT_EQ(open.Result, S_OK);
    ASSERT_NE(open.Page(), nullptr);

    EXPECT_EQ(ValueTexts(open.Page()), c.Texts);
    EXPECT_EQ(ControlText(open.Page(), 0xFFFF), "Sound") << "the labels are there";
    EXPECT_TRUE(open.Sheet->CloseWithOk());
  }
  EXPECT_TRUE(Boxes.Boxes().empty());
  EXPECT_EQ(LiveObjects(), 0);
}

TEST_F(InformationPageTest, ThePageKeepsInDwlUserItsObjectWithTheFileRead) {
  TOpenSheet open(WriteCanonical(L"canonical.wav"));
  ASSERT_NE(open.Page(), nullptr);
  EXPECT_EQ(GetWindowLongPtrA(open.Page(), DWLP_USER), reinterpret_cast<LONG_PTR>(open.Object));
  ASSERT_NE(open.Object->WavFile, nullptr);
  EXPECT_TRUE(open.Object->WavFile->Valid);
  EXPECT_TRUE(open.Sheet->CloseWithOk());
}

TEST_F(InformationPageTest, ApplyTurnsCancelIntoCloseAndOkClosesTheSheet) {
  TOpenSheet open(WriteCanonical(L"canonical.wav"));
  HWND sheet = open.Sheet->Window();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(ControlText(sheet, IDOK), "OK");
  EXPECT_EQ(ControlText(sheet, IDCANCEL), "Cancel");
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(sheet, IDCANCEL)));

  open.Sheet->Apply();

  EXPECT_EQ(ControlText(sheet, IDOK), "Close");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(sheet, IDCANCEL)));
  EXPECT_EQ(ValueTexts(open.Page()), CanonicalTexts) << "applying changes nothing on the page";
  EXPECT_TRUE(open.Sheet->CloseWithOk());
  EXPECT_EQ(LiveObjects(), 0);
}

TEST_F(InformationPageTest, ThePageAnswersTheSheetsNotifications) {
  struct TCase {
    const char* Name;
    UINT Code;
    INT_PTR Returns;
    LONG_PTR MessageResult;
  };
  const LONG_PTR untouched = 0x5A5A;
  const TCase cases[] = {
      {"PSN_APPLY", UINT(PSN_APPLY), TRUE, PSNRET_NOERROR},
      {"PSN_KILLACTIVE", UINT(PSN_KILLACTIVE), TRUE, FALSE},
      {"PSN_SETACTIVE", UINT(PSN_SETACTIVE), FALSE, untouched},
      {"PSN_QUERYCANCEL", UINT(PSN_QUERYCANCEL), FALSE, untouched},
      {"PSN_RESET", UINT(PSN_RESET), FALSE, untouched},
  };
  TOpenSheet open(WriteCanonical(L"canonical.wav"));
  HWND page = open.Page();
  ASSERT_NE(page, nullptr);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    SetWindowLongPtrA(page, DWLP_MSGRESULT, untouched);
    PSHNOTIFY notify{};
    notify.hdr.hwndFrom = open.Sheet->Window();
    notify.hdr.code = c.Code;

    EXPECT_EQ(PropExtDlgProc(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notify)), c.Returns);
    EXPECT_EQ(GetWindowLongPtrA(page, DWLP_MSGRESULT), c.MessageResult);
  }
  for (UINT message : {UINT(WM_COMMAND), UINT(WM_TIMER), UINT(WM_USER)})
    EXPECT_EQ(PropExtDlgProc(page, message, 0, 0), FALSE) << message;
  EXPECT_TRUE(open.Sheet->CloseWithOk());
}

TEST_F(InformationPageTest, AnotherPageOfTheSheetCanAlwaysBeSelected) {
  TPageList pages;
  ASSERT_EQ(AddExtensionPages(WriteCanonical(L"canonical.wav"), pages), S_OK);
  KeepPage(CreateHostPage("Details"), reinterpret_cast<LPARAM>(&pages));
  TModelessSheet sheet(pages.Pages, pages.Count, "Properties");
  ASSERT_EQ(sheet.CurrentPage(), sheet.Page(0));

  EXPECT_TRUE(sheet.Select(1));
  EXPECT_EQ(sheet.CurrentPage(), sheet.Page(1));
  EXPECT_TRUE(sheet.Select(0));
  EXPECT_EQ(sheet.CurrentPage(), sheet.Page(0));
  EXPECT_EQ(ValueTexts(sheet.Page(0)), CanonicalTexts);
  EXPECT_TRUE(sheet.CloseWithOk());
}

TEST_F(InformationPageTest, ThePageReadsTheFileOnlyWhenItsDialogIsCreated) {
  TPageList pages;
  KeepPage(CreateHostPage("General"), reinterpret_cast<LPARAM>(&pages));
  ASSERT_EQ(AddExtensionPages(WriteCanonical(L"canonical.wav"), pages), S_OK);
  TModelessSheet sheet(pages.Pages, pages.Count, "Properties");

  ASSERT_TRUE(sheet.Select(1));
  TWavBuilder mono;
  mono.Channels = 1;
  ASSERT_FALSE(Files.Write(L"canonical.wav", mono.Bytes()).empty());
  ASSERT_TRUE(sheet.Select(0));
  ASSERT_TRUE(sheet.Select(1));

  EXPECT_EQ(ValueTexts(sheet.Page(1)), CanonicalTexts);
  EXPECT_TRUE(sheet.CloseWithOk());
}

TEST_F(InformationPageTest, WhileTheSheetIsOpenTheObjectAndThePageAreCountedAsLive) {
  std::wstring path = WriteCanonical(L"canonical.wav");
  {
    TOpenSheet open(path);
    ASSERT_NE(open.Page(), nullptr);
    EXPECT_EQ(LiveObjects(), 2) << "the object, held by the page, and the page itself";
    EXPECT_EQ(FactoryRefs(), 0) << "the shell released the factory";
    EXPECT_EQ(open.Object->ReferenceCount, 1) << "only the page's reference is left";

    EXPECT_TRUE(open.Sheet->CloseWithOk());
    EXPECT_EQ(LiveObjects(), 0) << "both gone once the sheet is";
  }
  EXPECT_EQ(TRefParentStandIn::CreateCalls(), 1);
}

TEST_F(InformationPageTest, ANameOutsideTheAnsiCodePageStillShowsItsValues) {
  // Cyrillic and CJK letters: no single-byte Western code page holds them.
  const std::wstring name = L"\x0417\x0432\x0443\x043A-\x97F3.wav";
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, nullptr, 0, nullptr, &lossy);
  if (!lossy)
    GTEST_SKIP() << "the ANSI code page " << GetACP() << " holds the name";
  std::wstring path = WriteCanonical(name);
  ASSERT_FALSE(path.empty());

  TOpenSheet open(path);
  ASSERT_EQ(open.Result, S_OK);
  ASSERT_NE(open.Page(), nullptr);

  EXPECT_EQ(open.Object->FileName, ToAnsi(path)) << "FileName stays as the selection gives it";
  EXPECT_EQ(GetFileAttributesA(open.Object->FileName.c_str()), INVALID_FILE_ATTRIBUTES)
      << "the ANSI name does not reach the file";
  EXPECT_EQ(ValueTexts(open.Page()), CanonicalTexts);
  EXPECT_TRUE(open.Sheet->CloseWithOk());
  EXPECT_TRUE(Boxes.Boxes().empty());
}

// The page's first SetDlgItemTextA (this executable's import) fails as an
// allocation would; later calls reach the platform. An allocation of the
// page's own cannot be made to fail on every runtime: its longest text has 20
// characters, which libstdc++ puts in a heap block and libc++ keeps inside
// the string (up to 22), so with libc++ creating the page allocates nothing.
class TFailingFirstValue {
public:
  TFailingFirstValue() { GArmed = true; }
  ~TFailingFirstValue() { GArmed = false; }
  bool Active() const { return FPatch.Original() != nullptr; }
  bool Fired() const { return !GArmed; }

private:
  static BOOL WINAPI Write(HWND dialog, int id, LPCSTR text) {
    if (GArmed.exchange(false))
      throw std::bad_alloc();
    return reinterpret_cast<decltype(&SetDlgItemTextA)>(GPlatform)(dialog, id, text);
  }
  static inline std::atomic<bool> GArmed{false};
  static inline void* GPlatform = nullptr;
  TImportPatch FPatch{GetModuleHandleA(nullptr), "USER32.dll", "SetDlgItemTextA",
                      reinterpret_cast<void*>(Write), &GPlatform};
};

TEST_F(InformationPageTest, AFailureWhileTheDialogIsCreatedIsShownAndLeavesTheValuesEmpty) {
  TPageList pages;
  ASSERT_EQ(AddExtensionPages(WriteCanonical(L"canonical.wav"), pages), S_OK);
  TFailingFirstValue failure;
  ASSERT_TRUE(failure.Active()) << "SetDlgItemTextA not imported";

  // The sheet creates the page's dialog at once.
  TModelessSheet sheet(pages.Pages, pages.Count, "Properties");
  ASSERT_TRUE(failure.Fired()) << "the page wrote no value while it was created";
  ASSERT_NE(sheet.Page(0), nullptr);

  EXPECT_EQ(ValueTexts(sheet.Page(0)), NoTexts);
  ExpectOneErrorBox("PropExtDlgProc Out of memory", MB_ICONERROR);
  EXPECT_TRUE(sheet.CloseWithOk());
  EXPECT_EQ(LiveObjects(), 0);
}

// One thread's sheet in the two-sheet test.
struct TThreadSheet {
  std::wstring Path;
  bool Opened = false;
  TTexts Texts;
  TTolvane* Object = nullptr;
  LONG_PTR DwlUser = 0;
  bool Closed = false;
};

void ShowOnOwnThread(TThreadSheet& result, TEventLog& log) {
  TOpenSheet sheet(result.Path);
  result.Object = sheet.Object;
  HWND page = sheet.Result == S_OK ? sheet.Page() : nullptr;
  result.Opened = page != nullptr;
  if (page) {
    result.Texts = ValueTexts(page);
    result.DwlUser = GetWindowLongPtrA(page, DWLP_USER);
  }
  log.Add("open");
  log.WaitFor("close");
  result.Closed = sheet.Sheet->CloseWithOk();
}

TEST_F(InformationPageTest, TwoSheetsOnTwoThreadsAtOnceEachShowTheirOwnFile) {
  TWavBuilder mono;
  mono.Channels = 1;
  mono.SampleRate = 22050;
  mono.BytesPerSecond = 44100;
  mono.BlockAlign = 2;
  mono.RiffSize = 88236; // two seconds
  TThreadSheet stereo, monoSheet;
  stereo.Path = WriteCanonical(L"stereo.wav");
  monoSheet.Path = Files.Write(L"mono.wav", mono.Bytes());
  ASSERT_FALSE(stereo.Path.empty());
  ASSERT_FALSE(monoSheet.Path.empty());
  // Wine registers its common-controls "Button" and "Static" classes at their
  // first use in a process. When two threads do that at once, the second
  // registration is refused as a duplicate before the first one's class can
  // be found, and that thread's sheet or page fails to be created. A shell has
  // shown buttons and texts long before an extension's page; so does this
  // process, on one thread.
  {
    TOpenSheet before(stereo.Path);
    ASSERT_NE(before.Page(), nullptr);
    ASSERT_TRUE(before.Sheet->CloseWithOk());
  }
  TEventLog log;
  std::thread first(ShowOnOwnThread, std::ref(stereo), std::ref(log));
  std::thread second(ShowOnOwnThread, std::ref(monoSheet), std::ref(log));
  bool bothOpen = log.WaitFor("open", 2);
  LONG liveWhileOpen = LiveObjects();
  log.Add("close");
  first.join();
  second.join();

  ASSERT_TRUE(bothOpen);
  EXPECT_EQ(liveWhileOpen, 4) << "two objects and two pages";
  EXPECT_TRUE(stereo.Opened);
  EXPECT_TRUE(monoSheet.Opened);
  EXPECT_EQ(stereo.Texts, CanonicalTexts);
  EXPECT_EQ(monoSheet.Texts,
            (TTexts{"Windows PCM", "1", "Mono", "22050 Hz", "44100", "16", "2.0 seconds"}));
  EXPECT_NE(stereo.Object, monoSheet.Object);
  EXPECT_EQ(stereo.DwlUser, reinterpret_cast<LONG_PTR>(stereo.Object));
  EXPECT_EQ(monoSheet.DwlUser, reinterpret_cast<LONG_PTR>(monoSheet.Object));
  EXPECT_TRUE(stereo.Closed);
  EXPECT_TRUE(monoSheet.Closed);
  EXPECT_EQ(LiveObjects(), 0);
  EXPECT_TRUE(Boxes.Boxes().empty());
}

} // namespace
