// The four exports of the built PELLMORE.DLL, called the way a host calls
// them, and the counters that decide whether the module may be unloaded.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

#include "ansi_text.h"
#include "case_name.h"
#include "class_id.h"
#include "drop_files_data_object.h"
#include "import_patch.h"
#include "pellmore_module.h"
#include "ref_parent_stand_in.h"
#include "temp_files.h"

namespace {

// {11111111-2222-3333-4444-555555555555}: a class no factory has.
const CLSID UnknownClass = {
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

void* const Garbage = reinterpret_cast<void*>(0xDEADBEEF);

class PellmoreExports : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }

  IClassFactory* GetFactory() {
    void* factory = nullptr;
    EXPECT_EQ(Module.DllGetClassObject(CLSID_Tolvane, IID_IClassFactory, &factory), S_OK);
    return static_cast<IClassFactory*>(factory);
  }

  // A new extension object; the factory is let go again.
  IShellExtInit* NewExtension() {
    IClassFactory* factory = GetFactory();
    if (!factory)
      return nullptr;
    IShellExtInit* init = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)),
              S_OK);
    factory->Release();
    return init;
  }

  // LockServer through a factory fetched for the call, as a host does.
  void LockServer(BOOL lock) {
    IClassFactory* factory = GetFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(lock), S_OK);
    factory->Release();
  }

  TPellmoreModule Module;
};

struct TExport {
  WORD Ordinal;
  const char* Name;
};

class ExportOrdinal : public PellmoreExports, public ::testing::WithParamInterface<TExport> {};

TEST_P(ExportOrdinal, NamesTheSameFunctionAsTheName) {
  FARPROC byName = Module.Export(GetParam().Name);
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(Module.Export(MAKEINTRESOURCEA(GetParam().Ordinal)), byName);
}

INSTANTIATE_TEST_SUITE_P(Exports, ExportOrdinal,
                         ::testing::Values(TExport{1, "DllUnregisterServer"},
                                           TExport{2, "DllRegisterServer"},
                                           TExport{3, "DllCanUnloadNow"},
                                           TExport{4, "DllGetClassObject"}),
                         TCaseName());

TEST_F(PellmoreExports, NoFifthExportByOrdinal) {
  EXPECT_EQ(Module.Export(MAKEINTRESOURCEA(5)), nullptr);
  EXPECT_EQ(Module.Export(MAKEINTRESOURCEA(0)), nullptr);
}

// What DllGetClassObject refuses: null through the out pointer, nothing
// counted.
struct TRefusedLookup {
  const char* Name;
  const CLSID* Class;
  const IID* Interface;
  bool OutPointer;
  HRESULT Result;
};

class RefusedLookup : public PellmoreExports,
                      public ::testing::WithParamInterface<TRefusedLookup> {};

TEST_P(RefusedLookup, StoresNullAndCountsNothing) {
  void* object = Garbage;
  EXPECT_EQ(Module.DllGetClassObject(*GetParam().Class, *GetParam().Interface,
                                     GetParam().OutPointer ? &object : nullptr),
            GetParam().Result);
  if (GetParam().OutPointer) {
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(
    DllGetClassObject, RefusedLookup,
    ::testing::Values(TRefusedLookup{"InterfaceTheFactoryLacks", &CLSID_Tolvane, &IID_IDispatch,
                                     true, E_NOINTERFACE},
                      TRefusedLookup{"UnknownClass", &UnknownClass, &IID_IClassFactory, true,
                                     CLASS_E_CLASSNOTAVAILABLE},
                      TRefusedLookup{"NullOutPointer", &CLSID_Tolvane, &IID_IClassFactory, false,
                                     E_POINTER}),
    TCaseName());

TEST_F(PellmoreExports, IUnknownAndIClassFactoryAreTheSameFactoryPointer) {
  void* unknown = Garbage;
  ASSERT_EQ(Module.DllGetClassObject(CLSID_Tolvane, IID_IUnknown, &unknown), S_OK);
  IClassFactory* factory = GetFactory();
  EXPECT_EQ(unknown, static_cast<void*>(factory));
  // Each hand-out counted once in FactoryRefs: AddRef answers its new value.
  EXPECT_EQ(factory->AddRef(), 3u);
  EXPECT_EQ(factory->Release(), 2u);
  EXPECT_EQ(factory->Release(), 1u);
  EXPECT_EQ(static_cast<IUnknown*>(unknown)->Release(), 0u);
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
}

// COM's own lock on the factory stands aside, so that only the module's count
// of the lock can keep it loaded.
HRESULT STDAPICALLTYPE NoExternalLock(IUnknown*, BOOL, BOOL) {
  return S_OK;
}

// What keeps the module loaded, from the moment it is taken until it is
// given back: right after loading, and after each, it may unload.
class KeepsTheModuleLoaded;
struct TKeepLoaded {
  const char* Name;
  // Takes it and returns how to give it back.
  std::function<std::function<void()>(KeepsTheModuleLoaded&)> Take;
};

class KeepsTheModuleLoaded : public PellmoreExports,
                             public ::testing::WithParamInterface<TKeepLoaded> {
public:
  using PellmoreExports::GetFactory;
  using PellmoreExports::LockServer;
  using PellmoreExports::NewExtension;

  // Gives back the only reference on `held`; nothing when none was taken.
  static std::function<void()> ReleaseOf(IUnknown* held) {
    if (!held)
      return nullptr;
    return [held] { EXPECT_EQ(held->Release(), 0u); };
  }
};

TEST_P(KeepsTheModuleLoaded, UntilItIsGivenBack) {
  TImportPatch noExternalLock(Module.Handle(), "ole32.dll", "CoLockObjectExternal",
                              reinterpret_cast<void*>(NoExternalLock));
  ASSERT_NE(noExternalLock.Original(), nullptr);
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
  std::function<void()> giveBack = GetParam().Take(*this);
  ASSERT_TRUE(giveBack);
  EXPECT_EQ(Module.DllCanUnloadNow(), S_FALSE);
  giveBack();
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(
    DllCanUnloadNow, KeepsTheModuleLoaded,
    ::testing::Values(TKeepLoaded{"FactoryReference",
                                  [](KeepsTheModuleLoaded& test) {
                                    return KeepsTheModuleLoaded::ReleaseOf(test.GetFactory());
                                  }},
                      TKeepLoaded{"LiveObject",
                                  [](KeepsTheModuleLoaded& test) {
                                    return KeepsTheModuleLoaded::ReleaseOf(test.NewExtension());
                                  }},
                      TKeepLoaded{"ServerLock",
                                  [](KeepsTheModuleLoaded& test) -> std::function<void()> {
                                    test.LockServer(TRUE);
                                    return [&test] { test.LockServer(FALSE); };
                                  }}),
    TCaseName());

std::vector<HPROPSHEETPAGE> AddedPages;

BOOL CALLBACK KeepPage(HPROPSHEETPAGE page, LPARAM) {
  AddedPages.push_back(page);
  return TRUE;
}

TEST_F(PellmoreExports, AnOpenPageKeepsTheModuleLoadedUntilItIsDestroyed) {
  TRefParentStandIn standIn(Module.Handle());
  ASSERT_TRUE(standIn.Active()) << "the module imports the two comctl32 page functions";
  AddedPages.clear();

  TTestFile wav;
  wav.Write(TWavBuilder(), 176444); // one second
  TDropDataObject selection({FromAnsi(wav.Path())});

  IShellExtInit* init = NewExtension();
  ASSERT_NE(init, nullptr);
  ASSERT_EQ(init->Initialize(nullptr, &selection, nullptr), S_OK);
  IShellPropSheetExt* pages = nullptr;
  ASSERT_EQ(init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&pages)), S_OK);
  ASSERT_EQ(pages->AddPages(KeepPage, 0), S_OK);
  ASSERT_EQ(AddedPages.size(), 1u);
  ASSERT_EQ(TRefParentStandIn::CreateCalls(), 1);
  const PROPSHEETPAGEA requested = TRefParentStandIn::LastPage().Description;
  EXPECT_EQ(requested.dwFlags & PSP_USEREFPARENT, static_cast<DWORD>(PSP_USEREFPARENT));
  ASSERT_NE(requested.pcRefParent, nullptr);
  auto* liveObjects = reinterpret_cast<volatile LONG*>(requested.pcRefParent);
  pages->Release();
  init->Release(); // the shell lets go; the page holds the object
  EXPECT_EQ(*liveObjects, 2) << "the object and the page";

  // The page shown in a sheet, as the shell shows it.
  PROPSHEETHEADERA header = {};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_MODELESS;
  header.pszCaption = "Properties";
  header.nPages = 1;
  header.phpage = AddedPages.data();
  HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
  ASSERT_NE(sheet, nullptr);
  HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
  char format[64] = "";
  GetDlgItemTextA(page, 1000, format, sizeof format);
  EXPECT_STREQ(format, "Windows PCM");
  EXPECT_EQ(Module.DllCanUnloadNow(), S_FALSE);

  DestroyWindow(sheet); // destroys the page: PSPCB_RELEASE
  EXPECT_EQ(*liveObjects, 0);
  EXPECT_EQ(TRefParentStandIn::DestroyCalls(), 0) << "the sheet destroys the page it was given";
  EXPECT_EQ(selection.MediumReleases, 1);
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
}

} // namespace
