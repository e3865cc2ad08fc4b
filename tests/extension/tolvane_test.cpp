#include "tolvane.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include "allocation_failure.h"
#include "class_factory.h"
#include "extension_fixture.h"
#include "module.h"
#include "property_page.h"

namespace {

// The shell's reference on a new object, straight from the factory.
class TShellReference {
public:
  explicit TShellReference(TComObjectFactory& factory) {
    factory.CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&Init));
  }
  ~TShellReference() {
    if (Init)
      Init->Release();
  }
  TShellReference(const TShellReference&) = delete;
  TShellReference& operator=(const TShellReference&) = delete;

  TTolvane& Object() const { return *ObjectOf(Init); }
  IShellPropSheetExt* PropSheetExt() const { return &Object(); }

  IShellExtInit* Init = nullptr;
};

// A new object initialised with the selection of one .wav file, and the
// shell's page list for it.
class TInitialisedShell : public TShellReference {
public:
  explicit TInitialisedShell(TComObjectFactory& factory) : TShellReference(factory) {
    if (Init)
      InitializeResult = Init->Initialize(nullptr, &Selection, nullptr);
  }
  // The object holds the selection: it goes first.
  ~TInitialisedShell() {
    if (Init)
      std::exchange(Init, nullptr)->Release();
  }

  HRESULT AddPages(LPFNADDPROPSHEETPAGE add = KeepPage) {
    return PropSheetExt()->AddPages(add, reinterpret_cast<LPARAM>(&Pages));
  }

  TDropDataObject Selection{{L"C:\\Sounds\\song.wav"}};
  HRESULT InitializeResult = E_UNEXPECTED;
  TPageList Pages;
};

class TolvaneTest : public ExtensionTest {};

struct TSelectionCase {
  const char* Name;
  std::vector<std::wstring> Paths;
  HRESULT Result;
  std::string FileName;
  LONG FileCount;
};

// A path longer than the 261 characters of FileName: "C:\\", padding, then
// `name`.
std::wstring LongPath(const std::wstring& name) {
  return L"C:\\" + std::wstring(300 - name.size(), L'x') + name;
}

TEST_F(TolvaneTest, InitializeAcceptsExactlyOneFileWhoseExtensionIsDotWavInAnyCase) {
  // Its first 261 characters end in ".wav".
  const std::wstring wavTxt = L"C:\\" + std::wstring(253, L'x') + L"f.wav.txt";
  const TSelectionCase cases[] = {
      {"lower case", {L"C:\\Sounds\\song.wav"}, S_OK, "C:\\Sounds\\song.wav", 1},
      {"upper case", {L"C:\\Sounds\\SONG.WAV"}, S_OK, "C:\\Sounds\\SONG.WAV", 1},
      {"mixed case", {L"C:\\Sounds\\Song.Wav"}, S_OK, "C:\\Sounds\\Song.Wav", 1},
      {"two dots", {L"C:\\Sounds\\take.two.wav"}, S_OK, "C:\\Sounds\\take.two.wav", 1},
      {".wave", {L"C:\\Sounds\\song.wave"}, E_FAIL, "C:\\Sounds\\song.wave", 1},
      {".wav.bak", {L"C:\\Sounds\\song.wav.bak"}, E_FAIL, "C:\\Sounds\\song.wav.bak", 1},
      {".wa", {L"C:\\Sounds\\song.wa"}, E_FAIL, "C:\\Sounds\\song.wa", 1},
      {"dot only in a folder", {L"C:\\My.wav\\song"}, E_FAIL, "C:\\My.wav\\song", 1},
      {"no dot at all", {L"C:\\Sounds\\song"}, E_FAIL, "C:\\Sounds\\song", 1},
      {"extension after a drive colon", {L"C:song.wav"}, S_OK, "C:song.wav", 1},
      {"two .wav files", {L"C:\\a.wav", L"C:\\b.wav"}, E_FAIL, "", 2},
      // The extension comes from the whole name, FileName holds what fits.
      {"long .wav name", {LongPath(L"f.wav")}, S_OK, ToAnsi(LongPath(L"f.wav")).substr(0, 261), 1},
      {"long name cut after .wav", {wavTxt}, E_FAIL, ToAnsi(wavTxt).substr(0, 261), 1},
  };
  for (const TSelectionCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TDropDataObject selection(c.Paths);
    TShellReference shell(*Server.Factory);
    ASSERT_NE(shell.Init, nullptr);

    EXPECT_EQ(shell.Init->Initialize(nullptr, &selection, nullptr), c.Result);

    EXPECT_EQ(shell.Object().FileName, c.FileName);
    EXPECT_TRUE(shell.Object().WideFileName == (c.FileCount == 1 ? c.Paths[0] : std::wstring()));
    EXPECT_EQ(shell.Object().FileCount, c.FileCount);
    EXPECT_EQ(shell.Object().WavFile, nullptr);
    EXPECT_EQ(selection.GetDataCalls, 1);
    EXPECT_EQ(selection.MediumReleases, 1);
    EXPECT_FALSE(selection.MediumOutstanding());
    // An accepted selection is kept: it tells the object's sheet from others.
    EXPECT_EQ(selection.References, c.Result == S_OK ? 2 : 1);
  }
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_F(TolvaneTest, InitializeAsksForTheDropListAsContentInAnHglobal) {
  TInitialisedShell shell(*Server.Factory);
  ASSERT_EQ(shell.InitializeResult, S_OK);

  const FORMATETC& format = shell.Selection.LastFormat;
  EXPECT_EQ(format.cfFormat, CF_HDROP);
  EXPECT_EQ(format.ptd, nullptr);
  EXPECT_EQ(format.dwAspect, DWORD(DVASPECT_CONTENT));
  EXPECT_EQ(format.lindex, -1);
  EXPECT_EQ(format.tymed, DWORD(TYMED_HGLOBAL));
}

TEST_F(TolvaneTest, ASelectionOfSeveralFilesKeepsTheEarlierFileName) {
  TInitialisedShell shell(*Server.Factory);
  ASSERT_EQ(shell.InitializeResult, S_OK);

  TDropDataObject two({L"C:\\a.wav", L"C:\\b.wav"});
  EXPECT_EQ(shell.Init->Initialize(nullptr, &two, nullptr), E_FAIL);
  EXPECT_EQ(shell.Object().FileName, "C:\\Sounds\\song.wav");
  EXPECT_EQ(shell.Object().FileCount, 2);
}

TEST_F(TolvaneTest, InitializeWithoutADataObjectShowsDataObjectNilAndReturnsInvalidArg) {
  TShellReference shell(*Server.Factory);

  EXPECT_EQ(shell.Init->Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);

  ExpectOneErrorBox("DataObject = nil", MB_OK);
  EXPECT_EQ(shell.Object().FileName, "");
  EXPECT_EQ(shell.Object().FileCount, 0);
}

TEST_F(TolvaneTest, ADataObjectWithoutADropListPassesItsOwnFailureThrough) {
  for (HRESULT refusal : {DV_E_FORMATETC, DV_E_TYMED, E_ACCESSDENIED}) {
    SCOPED_TRACE(refusal);
    TShellReference shell(*Server.Factory);
    TDropDataObject two({L"C:\\a.wav", L"C:\\b.wav"});
    ASSERT_EQ(shell.Init->Initialize(nullptr, &two, nullptr), E_FAIL);
    TEmptyDataObject nothing(refusal);

    EXPECT_EQ(shell.Init->Initialize(nullptr, &nothing, nullptr), refusal);
    EXPECT_EQ(nothing.GetDataCalls, 1);
    EXPECT_EQ(shell.Object().FileCount, 2) << "the count of the last list obtained stays";
    EXPECT_EQ(shell.Object().FileName, "");
  }
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_F(TolvaneTest, InitializeOutOfMemoryReturnsOutOfMemoryAndStillReleasesTheMedium) {
  TShellReference shell(*Server.Factory);
  TDropDataObject selection({L"C:\\Sounds\\a file name too long for the short string buffer.wav"});
  HRESULT result = E_UNEXPECTED;
  ASSERT_TRUE(FailingOneAllocation([&] {
    result = shell.Init->Initialize(nullptr, &selection, nullptr);
  })) << "Initialize allocated nothing";
  EXPECT_EQ(result, E_OUTOFMEMORY);
  EXPECT_EQ(selection.MediumReleases, 1);
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_F(TolvaneTest, ReplacePageIsNotImplementedForAnyPage) {
  TShellReference shell(*Server.Factory);
  TPageList pages;
  for (EXPPS id : {EXPPS(0), EXPPS(1), EXPPS(0xFFFFFFFF)}) {
    EXPECT_EQ(shell.PropSheetExt()->ReplacePage(id, KeepPage, reinterpret_cast<LPARAM>(&pages)),
              E_NOTIMPL);
  }
  EXPECT_EQ(pages.Offered, 0u);
  EXPECT_EQ(TRefParentStandIn::CreateCalls(), 0);
}

TEST_F(TolvaneTest, QueryInterfaceAnswersForTheShellInterfacesAndItsBase) {
  struct TCase {
    const char* Name;
    const IID* Iid;
    HRESULT Query;
    HRESULT ErrorInfo;
  };
  const TCase cases[] = {
      {"IShellPropSheetExt", &IID_IShellPropSheetExt, S_OK, S_OK},
      {"IShellExtInit", &IID_IShellExtInit, S_OK, S_OK},
      {"ISupportErrorInfo", &IID_ISupportErrorInfo, S_OK, S_OK},
      {"IUnknown", &IID_IUnknown, S_OK, S_OK},
      {"IDispatch", &IID_IDispatch, E_NOINTERFACE, S_FALSE},
      {"IDataObject", &IID_IDataObject, E_NOINTERFACE, S_FALSE},
  };
  TShellReference shell(*Server.Factory);
  ISupportErrorInfo* errorInfo = nullptr;
  ASSERT_EQ(shell.Init->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errorInfo)),
            S_OK);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    void* pointer = reinterpret_cast<void*>(1);
    EXPECT_EQ(shell.Init->QueryInterface(*c.Iid, &pointer), c.Query);
    if (c.Query == S_OK) {
      ASSERT_NE(pointer, nullptr);
      EXPECT_EQ(shell.Object().ReferenceCount, 3);
      static_cast<IUnknown*>(pointer)->Release();
    } else {
      EXPECT_EQ(pointer, nullptr);
    }
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(*c.Iid), c.ErrorInfo);
  }
  errorInfo->Release();
}

TEST_F(TolvaneTest, InterfacesOfTheObjectShareOneReferenceCount) {
  TShellReference shell(*Server.Factory);
  IShellPropSheetExt* ext = nullptr;
  ASSERT_EQ(shell.Init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&ext)),
            S_OK);
  EXPECT_EQ(ext->AddRef(), 3u);
  EXPECT_EQ(shell.Init->Release(), 2u);
  EXPECT_EQ(ext->Release(), 1u);
}

TEST_F(TolvaneTest, AddPagesDescribesTheInformationPage) {
  TInitialisedShell shell(*Server.Factory);
  ASSERT_EQ(shell.InitializeResult, S_OK);

  ASSERT_EQ(shell.AddPages(), S_OK);

  TRecordedPage page = TRefParentStandIn::LastPage();
  const PROPSHEETPAGEA& d = page.Description;
  // The platform's size of the layout up to the two header-title fields.
  EXPECT_EQ(d.dwSize, sizeof(void*) == 8 ? 88u : 48u);
  EXPECT_EQ(d.dwFlags, 0xC8u);
  EXPECT_EQ(d.hInstance, ModuleInstance());
  EXPECT_EQ(d.pszTemplate, MAKEINTRESOURCEA(100));
  EXPECT_STREQ(page.Title, "Information");
  EXPECT_EQ(d.hIcon, nullptr);
  EXPECT_EQ(d.pfnDlgProc, &PropExtDlgProc);
  EXPECT_EQ(d.lParam, reinterpret_cast<LPARAM>(&shell.Object()));
  EXPECT_EQ(d.pfnCallback, &TTolvane::PropExtPageCallback);
  EXPECT_EQ(reinterpret_cast<volatile LONG*>(d.pcRefParent), &ServerInstance->LiveObjects);
  EXPECT_EQ(d.pszHeaderTitle, nullptr);
  EXPECT_EQ(d.pszHeaderSubTitle, nullptr);

  ASSERT_EQ(shell.Pages.Count, 1u);
  DestroyPropertySheetPage(shell.Pages.Pages[0]);
}

TEST_F(TolvaneTest, AnAcceptedPageHoldsAReferenceAndTheObjectGetsItsReader) {
  TInitialisedShell shell(*Server.Factory);
  ASSERT_EQ(shell.InitializeResult, S_OK);

  EXPECT_EQ(shell.AddPages(), S_OK);

  ASSERT_EQ(shell.Pages.Count, 1u);
  EXPECT_EQ(shell.Object().ReferenceCount, 2);
  ASSERT_NE(shell.Object().WavFile, nullptr);
  EXPECT_FALSE(shell.Object().WavFile->Valid) << "the page reads the file, not AddPages";
  EXPECT_EQ(LiveObjects(), 2) << "the object and the page";

  EXPECT_TRUE(DestroyPropertySheetPage(shell.Pages.Pages[0]));
  EXPECT_EQ(shell.Object().ReferenceCount, 1) << "the release callback gave the page's back";
  EXPECT_EQ(LiveObjects(), 1);
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_F(TolvaneTest, ARefusedPageLeavesTheReferenceCountAsItWasAndNoReader) {
  TInitialisedShell shell(*Server.Factory);
  ASSERT_EQ(shell.InitializeResult, S_OK);

  EXPECT_EQ(shell.AddPages(RefusePage), E_FAIL);

  EXPECT_EQ(shell.Pages.Offered, 1u);
  EXPECT_EQ(shell.Object().ReferenceCount, 1);
  EXPECT_EQ(shell.Object().WavFile, nullptr);
  EXPECT_EQ(TRefParentStandIn::DestroyCalls(), 1) << "the refused page is destroyed";
  EXPECT_EQ(LiveObjects(), 1) << "the page is gone from the count again";
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_F(TolvaneTest, ASecondPageOfTheSameObjectSharesItsReader) {
  TInitialisedShell shell(*Server.Factory);
  ASSERT_EQ(shell.InitializeResult, S_OK);
  ASSERT_EQ(shell.AddPages(), S_OK);
  const TWAVfile* first = shell.Object().WavFile.get();

  ASSERT_EQ(shell.AddPages(), S_OK);

  EXPECT_EQ(shell.Object().WavFile.get(), first);
  EXPECT_EQ(shell.Object().ReferenceCount, 3);
  ASSERT_EQ(shell.Pages.Count, 2u);
  DestroyPropertySheetPage(shell.Pages.Pages[0]);
  DestroyPropertySheetPage(shell.Pages.Pages[1]);
  EXPECT_EQ(shell.Object().ReferenceCount, 1);
}

// Another add-page function of the same kind, for a second sheet.
BOOL CALLBACK KeepPageToo(HPROPSHEETPAGE page, LPARAM lParam) {
  return KeepPage(page, lParam);
}

// A shell that lists the handler under two elements of a file's association
// array asks a second object for pages of the same sheet: it adds none. Any
// other sheet (another add-page argument or function, selection or thread,
// or the same ones once the first sheet's page is gone) gets its page.
TEST_F(TolvaneTest, ASecondObjectAddsNoPageToASheetThatHoldsTheFirstOnesOnly) {
  struct TCase {
    const char* Name;
    bool OtherSheet, OtherFunction, OtherSelection, OtherThread, FirstPageGone, NoSelection;
    UINT SecondPages;
  };
  const TCase cases[] = {
      {"the same sheet", false, false, false, false, false, false, 0},
      {"another sheet's argument", true, false, false, false, false, false, 1},
      {"another add-page function", false, true, false, false, false, false, 1},
      {"another selection", false, false, true, false, false, false, 1},
      {"another thread", false, false, false, true, false, false, 1},
      {"the first sheet closed", false, false, false, false, true, false, 1},
      {"no selection given", false, false, false, false, false, true, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TDropDataObject selection({L"C:\\Sounds\\song.wav"});
    TDropDataObject other({L"C:\\Sounds\\song.wav"});
    TPageList sheet;
    TPageList otherSheet;
    TShellReference first(*Server.Factory);
    TShellReference second(*Server.Factory);
    if (!c.NoSelection) {
      ASSERT_EQ(first.Init->Initialize(nullptr, &selection, nullptr), S_OK);
      ASSERT_EQ(second.Init->Initialize(nullptr, c.OtherSelection ? &other : &selection, nullptr),
                S_OK);
    }
    ASSERT_EQ(first.PropSheetExt()->AddPages(KeepPage, reinterpret_cast<LPARAM>(&sheet)), S_OK);
    if (c.FirstPageGone)
      DestroyPropertySheetPage(sheet.Pages[--sheet.Count]);
    TPageList& target = c.OtherSheet ? otherSheet : sheet;
    const UINT before = target.Count;
    HRESULT result = E_UNEXPECTED;
    const auto addSecond = [&] {
      result = second.PropSheetExt()->AddPages(c.OtherFunction ? KeepPageToo : KeepPage,
                                               reinterpret_cast<LPARAM>(&target));
    };
    if (c.OtherThread)
      std::thread(addSecond).join();
    else
      addSecond();

    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(target.Count - before, c.SecondPages);
    EXPECT_EQ(second.Object().ReferenceCount, LONG(1 + c.SecondPages));
    EXPECT_EQ(second.Object().WavFile != nullptr, c.SecondPages == 1);
    for (TPageList* list : {&sheet, &otherSheet})
      while (list->Count > 0)
        DestroyPropertySheetPage(list->Pages[--list->Count]);
  }
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_F(TolvaneTest, AddPagesOutOfMemoryShowsTheFailureInABoxAndGivesTheShellNoPage) {
  TInitialisedShell shell(*Server.Factory);
  ASSERT_EQ(shell.InitializeResult, S_OK);
  HRESULT result = E_UNEXPECTED;
  ASSERT_TRUE(FailingOneAllocation([&] { result = shell.AddPages(); }))
      << "AddPages allocated nothing";
  EXPECT_EQ(result, E_FAIL);
  EXPECT_EQ(shell.Object().WavFile, nullptr);
  ExpectOneErrorBox("AddPages Out of memory", MB_OK);
  // Nothing reached the shell: no empty tab, no reference held for a page.
  EXPECT_EQ(shell.Pages.Offered, 0u);
  EXPECT_EQ(TRefParentStandIn::CreateCalls(), 0);
  EXPECT_EQ(shell.Object().ReferenceCount, 1);
}

TEST_F(TolvaneTest, ThePageCallbackReleasesTheObjectOnlyForPspcbRelease) {
  struct TCase {
    UINT Message;
    LONG CountAfter;
  };
  const TCase cases[] = {{PSPCB_ADDREF, 2}, {PSPCB_CREATE, 2}, {PSPCB_RELEASE, 1}, {7, 2}};
  TShellReference shell(*Server.Factory);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Message);
    shell.Object().AddRef();
    PROPSHEETPAGEA page{};
    page.lParam = reinterpret_cast<LPARAM>(&shell.Object());

    EXPECT_EQ(TTolvane::PropExtPageCallback(nullptr, c.Message, &page), 255u);
    EXPECT_EQ(shell.Object().ReferenceCount, c.CountAfter);
    if (c.CountAfter == 2)
      shell.Object().Release();
  }
}

TEST_F(TolvaneTest, TheLastReleaseDestroysTheObjectAndCountsItOut) {
  {
    TInitialisedShell shell(*Server.Factory);
    ASSERT_EQ(shell.InitializeResult, S_OK);
    EXPECT_EQ(LiveObjects(), 1);
  }
  EXPECT_EQ(LiveObjects(), 0);
  EXPECT_EQ(FactoryRefs(), 0);
}

} // namespace
