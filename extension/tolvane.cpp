#include "tolvane.h"

#include <shellapi.h>

#include <array>
#include <cstddef>
#include <new>
#include <vector>

#include "exceptions.h"
#include "message_box.h"
#include "module.h"
#include "property_page.h"
#include "resource_ids.h"
#include "server.h"

namespace {

// The size of the page description up to the two header-title fields
// (PROPSHEETPAGEA_V2_SIZE): the platform's own size of that layout.
constexpr DWORD PageDescriptionSize = offsetof(PROPSHEETPAGEA, pszHeaderSubTitle) + sizeof(LPCSTR);
static_assert(PageDescriptionSize == (sizeof(void*) == 8 ? 88 : 48), "the V2 description");

constexpr DWORD PageFlags = PSP_USETITLE | PSP_USEREFPARENT | PSP_USECALLBACK;

// Owns the medium GetData hands out.
class TStgMedium {
public:
  TStgMedium() = default;
  ~TStgMedium() {
    if (FFilled)
      ReleaseStgMedium(&FMedium);
  }
  TStgMedium(const TStgMedium&) = delete;
  TStgMedium& operator=(const TStgMedium&) = delete;

  // For the out parameter of GetData; call Filled() once it succeeded.
  STGMEDIUM* Out() { return &FMedium; }
  void Filled() { FFilled = true; }
  HGLOBAL Global() const { return FMedium.hGlobal; }

private:
  STGMEDIUM FMedium{};
  bool FFilled = false;
};

// The extension of a path: from its last "." to the end, or empty when a
// "\" or ":" comes after the last "." (or there is no "." at all). Walks
// characters, not bytes, so a double-byte trail byte is never taken for "\".
std::string ExtensionOf(const std::string& path) {
  const char* last = nullptr;
  for (const char* p = path.c_str(); *p; p = CharNextA(p))
    if (*p == '.' || *p == '\\' || *p == ':')
      last = p;
  if (!last || *last != '.')
    return {};
  return std::string(last);
}

const TInterfaceEntry<TComObject> TolvaneInterfaces[] = {
    {&IID_IShellPropSheetExt, &InterfaceOf<TComObject, TTolvane, IShellPropSheetExt>},
    {&IID_IShellExtInit, &InterfaceOf<TComObject, TTolvane, IShellExtInit>},
};

} // namespace

const TComClassInfo<TComObject> TTolvane::ClassInfo = {&TComObject::ClassInfo, TolvaneInterfaces,
                                                       sizeof TolvaneInterfaces /
                                                           sizeof *TolvaneInterfaces};

// The reader goes first; the base then counts the object out.
TTolvane::~TTolvane() {
  WavFile.reset();
}

STDMETHODIMP TTolvane::Initialize(PCIDLIST_ABSOLUTE, IDataObject* pdtobj, HKEY) {
  try {
    if (!pdtobj) {
      ShowMessageBox(nullptr, "DataObject = nil", "Error", MB_OK);
      return E_INVALIDARG;
    }
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    TStgMedium medium;
    HRESULT result = pdtobj->GetData(&format, medium.Out());
    if (FAILED(result))
      return result;
    medium.Filled();
    return TakeSelection(static_cast<HDROP>(medium.Global()));
  } catch (...) {
    return CurrentExceptionResult(E_UNEXPECTED);
  }
}

HRESULT TTolvane::TakeSelection(HDROP drop) {
  FileCount = static_cast<LONG>(DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0));
  if (FileCount != 1)
    return E_FAIL;

  std::array<char, 262> path{};
  DragQueryFileA(drop, 0, path.data(), path.size());
  std::vector<wchar_t> widePath(DragQueryFileW(drop, 0, nullptr, 0) + 1);
  DragQueryFileW(drop, 0, widePath.data(), widePath.size());

  FileName = path.data();
  WideFileName = widePath.data();

  std::string extension = ExtensionOf(FileName);
  CharLowerBuffA(extension.data(), static_cast<DWORD>(extension.size()));
  return extension == ".wav" ? S_OK : E_FAIL;
}

STDMETHODIMP TTolvane::AddPages(LPFNADDPROPSHEETPAGE pfnAddPage, LPARAM lParam) {
  try {
    return AddInformationPage(pfnAddPage, lParam);
  } catch (...) {
    ShowCurrentException("AddPages", MB_OK);
    return CurrentExceptionResult(E_FAIL, E_FAIL);
  }
}

HRESULT TTolvane::AddInformationPage(LPFNADDPROPSHEETPAGE pfnAddPage, LPARAM lParam) {
  // The platform copies the description, title included, so the title only
  // has to live through this call.
  std::array<char, 255> title{};
  LoadStringA(ModuleInstance(), IDS_INFORMATION_TITLE, title.data(), title.size());

  PROPSHEETPAGEA page{};
  page.dwSize = PageDescriptionSize;
  page.dwFlags = PageFlags;
  page.hInstance = ModuleInstance();
  page.pszTemplate = MAKEINTRESOURCEA(IDD_INFORMATION);
  page.pszTitle = title.data();
  page.pfnDlgProc = PropExtDlgProc;
  page.lParam = reinterpret_cast<LPARAM>(this);
  page.pfnCallback = PropExtPageCallback;
  // The sheet counts its pages in LiveObjects, so the module stays loaded
  // while a page exists even after the shell has released this object.
  page.pcRefParent = reinterpret_cast<UINT*>(const_cast<LONG*>(&ServerInstance->LiveObjects));

  HPROPSHEETPAGE handle = CreatePropertySheetPageA(&page);
  if (!handle)
    return E_FAIL;

  AddRef(); // the page's reference, given back by PropExtPageCallback
  if (!pfnAddPage(handle, lParam)) {
    DestroyPropertySheetPage(handle);
    return E_FAIL;
  }
  // A second page of the same object shares the reader it already has.
  if (!WavFile)
    WavFile = std::make_unique<TWAVfile>();
  return S_OK;
}

STDMETHODIMP TTolvane::ReplacePage(EXPPS, LPFNADDPROPSHEETPAGE, LPARAM) {
  return E_NOTIMPL;
}

UINT CALLBACK TTolvane::PropExtPageCallback(HWND, UINT uMsg, LPPROPSHEETPAGEA ppsp) {
  if (uMsg == PSPCB_RELEASE)
    reinterpret_cast<TTolvane*>(ppsp->lParam)->Release();
  return 255;
}
