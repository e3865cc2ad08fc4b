// The four exports of the built PELLMORE.DLL, called the way a host calls
// them, and the counters that decide whether the module may be unloaded.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "class_id.h"
#include "import_patch.h"
#include "pellmore_module.h"
#include "wav_builder.h"

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
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PellmoreExports, NoFifthExportByOrdinal) {
  EXPECT_EQ(Module.Export(MAKEINTRESOURCEA(5)), nullptr);
  EXPECT_EQ(Module.Export(MAKEINTRESOURCEA(0)), nullptr);
}

TEST_F(PellmoreExports, CanUnloadRightAfterLoading) {
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
}

TEST_F(PellmoreExports, AFactoryReferenceKeepsTheModuleLoaded) {
  IClassFactory* factory = GetFactory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(Module.DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->Release(), 0u);
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
}

TEST_F(PellmoreExports, IUnknownAndIClassFactoryAreTheSameFactoryPointer) {
  void* unknown = Garbage;
  ASSERT_EQ(Module.DllGetClassObject(CLSID_Tolvane, IID_IUnknown, &unknown), S_OK);
  IClassFactory* factory = GetFactory();
  EXPECT_EQ(unknown, static_cast<void*>(factory));
  // Each hand-out counted once in FactoryRefs.
  EXPECT_EQ(factory->Release(), 1u);
  EXPECT_EQ(static_cast<IUnknown*>(unknown)->Release(), 0u);
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
}

TEST_F(PellmoreExports, AnInterfaceTheFactoryLacksGivesNoInterfaceAndCountsNothing) {
  IClassFactory* factory = GetFactory(); // FactoryRefs 1
  ASSERT_NE(factory, nullptr);
  void* dispatch = Garbage;
  EXPECT_EQ(Module.DllGetClassObject(CLSID_Tolvane, IID_IDispatch, &dispatch), E_NOINTERFACE);
  EXPECT_EQ(dispatch, nullptr);
  // AddRef answers the server's FactoryRefs: still 1 before it.
  EXPECT_EQ(factory->AddRef(), 2u);
  EXPECT_EQ(factory->Release(), 1u);
  EXPECT_EQ(factory->Release(), 0u);
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
}

TEST_F(PellmoreExports, AnUnknownClassIsNotAvailable) {
  void* object = Garbage;
  EXPECT_EQ(Module.DllGetClassObject(UnknownClass, IID_IClassFactory, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
}

TEST_F(PellmoreExports, ANullOutPointerIsRefused) {
  EXPECT_EQ(Module.DllGetClassObject(CLSID_Tolvane, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
}

TEST_F(PellmoreExports, ALiveObjectKeepsTheModuleLoaded) {
  IClassFactory* factory = GetFactory();
  ASSERT_NE(factory, nullptr);
  IShellExtInit* init = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)),
            S_OK);
  factory->Release();
  EXPECT_EQ(Module.DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(init->Release(), 0u);
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
}

TEST_F(PellmoreExports, AServerLockKeepsTheModuleLoaded) {
  IClassFactory* factory = GetFactory();
  ASSERT_NE(factory, nullptr);
  factory->LockServer(TRUE);
  factory->LockServer(TRUE);
  factory->Release();
  EXPECT_EQ(Module.DllCanUnloadNow(), S_FALSE);
  factory = GetFactory();
  factory->LockServer(FALSE);
  factory->Release();
  EXPECT_EQ(Module.DllCanUnloadNow(), S_FALSE);
  factory = GetFactory();
  factory->LockServer(FALSE);
  factory->Release();
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
}

// Wine's comctl32 never touches a page's pcRefParent, which Windows raises
// when it creates the page and lowers when it destroys it. The module's import
// of CreatePropertySheetPageA is replaced by this stand-in, which does what
// Windows does: it raises the counter and puts a callback in front of the
// module's one, which lowers the counter on PSPCB_RELEASE (called for every
// destroyed page, through DestroyPropertySheetPage or by the sheet).
namespace RefParent {

using TCreatePage = HPROPSHEETPAGE(WINAPI*)(LPCPROPSHEETPAGEA);
TCreatePage PlatformCreate = nullptr;
LPFNPSPCALLBACKA ModuleCallback = nullptr;
std::vector<PROPSHEETPAGEA> Requested; // as the module filled them in

UINT CALLBACK Callback(HWND window, UINT message, LPPROPSHEETPAGEA page) {
  UINT result = ModuleCallback ? ModuleCallback(window, message, page) : 1;
  if (message == PSPCB_RELEASE && (page->dwFlags & PSP_USEREFPARENT) && page->pcRefParent)
    InterlockedDecrement(reinterpret_cast<volatile LONG*>(page->pcRefParent));
  return result;
}

HPROPSHEETPAGE WINAPI Create(LPCPROPSHEETPAGEA page) {
  PROPSHEETPAGEA copy = {};
  std::memcpy(&copy, page, std::min<std::size_t>(page->dwSize, sizeof copy));
  Requested.push_back(copy);
  ModuleCallback = page->pfnCallback;
  copy.pfnCallback = Callback;
  HPROPSHEETPAGE handle = PlatformCreate(&copy);
  if (handle && (page->dwFlags & PSP_USEREFPARENT) && page->pcRefParent)
    InterlockedIncrement(reinterpret_cast<volatile LONG*>(page->pcRefParent));
  return handle;
}

} // namespace RefParent

// The data object of a one-file selection, offering CF_HDROP only.
class TOneFileSelection : public IDataObject {
public:
  explicit TOneFileSelection(const std::string& path) : FPath(path) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IDataObject)) {
      *ppv = static_cast<IDataObject*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL))
      return DV_E_FORMATETC;
    SIZE_T size = sizeof(DROPFILES) + FPath.size() + 2;
    HGLOBAL global = GlobalAlloc(GHND, size);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(global));
    drop->pFiles = sizeof(DROPFILES);
    std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), FPath.c_str(), FPath.size());
    GlobalUnlock(global);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = global;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
  std::string FPath;
};

std::vector<HPROPSHEETPAGE> AddedPages;

BOOL CALLBACK KeepPage(HPROPSHEETPAGE page, LPARAM) {
  AddedPages.push_back(page);
  return TRUE;
}

std::string TempWavPath() {
  char directory[MAX_PATH];
  GetTempPathA(MAX_PATH, directory);
  return std::string(directory) + "tolvane-exports-" + std::to_string(GetCurrentProcessId()) +
         ".wav";
}

TEST_F(PellmoreExports, AnOpenPageKeepsTheModuleLoadedUntilItIsDestroyed) {
  TImportPatch patch(Module.Handle(), "COMCTL32.dll", "CreatePropertySheetPageA",
                     reinterpret_cast<void*>(RefParent::Create));
  ASSERT_NE(patch.Original(), nullptr) << "the module imports CreatePropertySheetPageA";
  RefParent::PlatformCreate = reinterpret_cast<RefParent::TCreatePage>(patch.Original());
  RefParent::Requested.clear();
  AddedPages.clear();

  const std::string wav = TempWavPath();
  ASSERT_TRUE(TWavBuilder().WriteTo(wav, 176400));
  TOneFileSelection selection(wav);

  IClassFactory* factory = GetFactory();
  ASSERT_NE(factory, nullptr);
  IShellExtInit* init = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)),
            S_OK);
  factory->Release();
  ASSERT_EQ(init->Initialize(nullptr, &selection, nullptr), S_OK);
  IShellPropSheetExt* pages = nullptr;
  ASSERT_EQ(init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&pages)), S_OK);
  ASSERT_EQ(pages->AddPages(KeepPage, 0), S_OK);
  ASSERT_EQ(AddedPages.size(), 1u);
  ASSERT_EQ(RefParent::Requested.size(), 1u);
  const PROPSHEETPAGEA& requested = RefParent::Requested[0];
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
  EXPECT_EQ(Module.DllCanUnloadNow(), S_OK);
  DeleteFileA(wav.c_str());
}

TEST(PellmoreReload, StartsWithFreshCountersAfterAnUnload) {
  {
    TPellmoreModule module;
    void* factory = nullptr;
    ASSERT_EQ(module.DllGetClassObject(CLSID_Tolvane, IID_IClassFactory, &factory), S_OK);
    EXPECT_EQ(module.DllCanUnloadNow(), S_FALSE);
    // Unloaded with the reference still out, as a careless host would.
  }
  TPellmoreModule module;
  EXPECT_EQ(module.DllCanUnloadNow(), S_OK);
  void* factory = nullptr;
  ASSERT_EQ(module.DllGetClassObject(CLSID_Tolvane, IID_IClassFactory, &factory), S_OK);
  EXPECT_EQ(static_cast<IClassFactory*>(factory)->Release(), 0u);
}

} // namespace
