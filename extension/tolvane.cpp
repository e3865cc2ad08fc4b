#include "tolvane.h"

#include <shellapi.h>

#include <array>
#include <cstddef>
#include <new>
#include <vector>

#include "ansi_text.h"
#include "exceptions.h"
#include "message_box.h"
#include "module.h"
#include "property_page.h"
#include "resource_ids.h"
#include "server.h"
#include "sheet_claims.h"
#include "unique_handle.h"

namespace {

// The size of the page description up to the two header-title fields
// (PROPSHEETPAGEA_V2_SIZE): the platform's own size of that layout.
constexpr DWORD PageDescriptionSize = offsetof(PROPSHEETPAGEA, pszHeaderSubTitle) + sizeof(LPCSTR);
static_assert(PageDescriptionSize == (sizeof(void*) == 8 ? 88 : 48), "the V2 description");

constexpr DWORD PageFlags = PSP_USETITLE | PSP_USEREFPARENT | PSP_USECALLBACK;

// Room for the page title.
constexpr int TitleRoom = 255;

using TStgMedium = TUniqueStruct<STGMEDIUM, ReleaseStgMedium>;

// The extension of a path, lower-cased by the system's rules, is ".wav". The
// extension runs from the last "." to the end; a "\" or ":" after it, or no
// "." at all, leaves none.
bool HasWavExtension(const std::wstring& path) {
  std::size_t last = path.find_last_of(L".\\:");
  if (last == std::wstring::npos || path[last] != L'.')
    return false;
  std::wstring extension = path.substr(last);
  CharLowerBuffW(extension.data(), static_cast<DWORD>(extension.size()));
  return extension == L".wav";
}

const TInterfaceEntry<TComObject> TolvaneInterfaces[] = {
    {&IID_IShellPropSheetExt, &InterfaceOf<TComObject, TTolvane, IShellPropSheetExt>},
    {&IID_IShellExtInit, &InterfaceOf<TComObject, TTolvane, IShellExtInit>},
};

} // namespace

const TComClassInfo<TComObject> TTolvane::ClassInfo = {&TComObject::ClassInfo, TolvaneInterfaces,
                                                       sizeof TolvaneInterfaces /
                                                           sizeof *TolvaneInterfaces};

STDMETHODIMP TTolvane::Initialize(PCIDLIST_ABSOLUTE, IDataObject* pdtobj, HKEY) {
  try {
    if (!pdtobj) {
      ShowMessageBox(nullptr, "DataObject = nil", "Error", MB_OK);
      return E_INVALIDARG;
    }
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    TStgMedium medium;
    HRESULT result = pdtobj->GetData(&format, medium.put());
    if (FAILED(result))
      return result;
    medium.Filled();
    result = TakeSelection(static_cast<HDROP>(medium.get().hGlobal));
    if (result == S_OK) {
      pdtobj->AddRef();
      Selection.reset(pdtobj);
    }
    return result;
  } catch (...) {
    return CurrentExceptionResult(E_UNEXPECTED);
  }
}

HRESULT TTolvane::TakeSelection(HDROP drop) {
  FileCount = static_cast<LONG>(DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0));
  if (FileCount != 1)
    return E_FAIL;

  std::array<char, AnsiPathRoom> path{};
  DragQueryFileA(drop, 0, path.data(), path.size());
  std::vector<wchar_t> widePath(DragQueryFileW(drop, 0, nullptr, 0) + 1);
  DragQueryFileW(drop, 0, widePath.data(), widePath.size());

  FileName = path.data();
  WideFileName = widePath.data();

  // The ANSI name may be cut, or hold "?" for what its code page lacks: the
  // full UTF-16 name decides.
  const bool wav = HasWavExtension(WideFileName.empty() ? FromAnsi(FileName) : WideFileName);
  return wav ? S_OK : E_FAIL;
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
  // The reader comes first: once the shell holds the page, nothing may fail
  // any more, or the sheet would show a tab whose object has no reader. A
  // second page of the same object shares the reader it already has.
  std::unique_ptr<TWAVfile> reader;
  if (!WavFile)
    reader = std::make_unique<TWAVfile>();

  // Another object's page in the same sheet: the shell lists the handler
  // twice there, and the sheet shows one page. Every page made below holds
  // a claim until its release callback.
  if (!ClaimSheet({GetCurrentThreadId(), pfnAddPage, lParam, Selection.get()}, this))
    return S_OK;

  // The platform copies the description, title included, so the title only
  // has to live through this call.
  std::array<char, TitleRoom> title{};
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
  if (!handle) {
    DropSheetClaim(this);
    return E_FAIL;
  }

  AddRef(); // the page's reference, given back by PropExtPageCallback
  if (!pfnAddPage(handle, lParam)) {
    DestroyPropertySheetPage(handle);
    return E_FAIL;
  }
  if (reader)
    WavFile = std::move(reader);
  return S_OK;
}

STDMETHODIMP TTolvane::ReplacePage(EXPPS, LPFNADDPROPSHEETPAGE, LPARAM) {
  return E_NOTIMPL;
}

UINT CALLBACK TTolvane::PropExtPageCallback(HWND, UINT uMsg, LPPROPSHEETPAGEA ppsp) {
  if (uMsg == PSPCB_RELEASE) {
    auto* object = reinterpret_cast<TTolvane*>(ppsp->lParam);
    DropSheetClaim(object);
    object->Release();
  }
  // Non-zero for every message: PSPCB_CREATE lets the page's dialog be
  // created, the others ignore the value.
  return 255;
}

const TWAVfile* TTolvane::LoadWavFile() {
  if (FileCount != 1 || !WavFile)
    return nullptr;
  if (!WideFileName.empty())
    WavFile->LoadFromFile(WideFileName.c_str());
  else
    WavFile->LoadFromFile(FileName.c_str());
  return WavFile.get();
}
