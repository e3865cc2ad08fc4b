#include "drop_files_data_object.h"

#include <cstring>
#include <utility>

namespace {
bool IsDropFormat(const FORMATETC& format) {
  return format.cfFormat == CF_HDROP && (format.tymed & TYMED_HGLOBAL) &&
         format.dwAspect == DVASPECT_CONTENT;
}
} // namespace

STDMETHODIMP TDataObject::QueryInterface(REFIID iid, void** ppv) {
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IDataObject)) {
    *ppv = static_cast<IDataObject*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TDataObject::AddRef() {
  return InterlockedIncrement(&References);
}
STDMETHODIMP_(ULONG) TDataObject::Release() {
  const LONG left = InterlockedDecrement(&References);
  if (left == 0 && FDeletedByRelease)
    delete this;
  return left;
}

STDMETHODIMP TDataObject::QueryGetData(FORMATETC* format) {
  return format && IsDropFormat(*format) ? S_OK : DV_E_FORMATETC;
}

STDMETHODIMP TDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
  if (out)
    out->ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

TDropDataObject::TDropDataObject(std::vector<std::wstring> paths) : Paths(std::move(paths)) {
  FMedium.Owner = this;
}

TDropDataObject::~TDropDataObject() {
  if (FMedium.Global)
    GlobalFree(FMedium.Global);
}

// A DROPFILES header followed by the wide paths, each NUL-terminated, and a
// closing NUL.
STDMETHODIMP TDropDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
  ++GetDataCalls;
  LastFormat = *format;
  if (!IsDropFormat(*format))
    return DV_E_FORMATETC;
  if (FMedium.Global)
    return E_UNEXPECTED; // the previous medium was never released

  SIZE_T chars = 1; // the empty name that ends the list
  for (const std::wstring& path : Paths)
    chars += path.size() + 1;
  HGLOBAL global = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  if (!global)
    return E_OUTOFMEMORY;
  auto* drop = static_cast<DROPFILES*>(GlobalLock(global));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  auto* text = reinterpret_cast<wchar_t*>(drop + 1);
  for (const std::wstring& path : Paths) {
    std::memcpy(text, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    text += path.size() + 1;
  }
  *text = L'\0';
  GlobalUnlock(global);

  FMedium.Global = global;
  medium->tymed = TYMED_HGLOBAL;
  medium->hGlobal = global;
  medium->pUnkForRelease = &FMedium;
  return S_OK;
}

STDMETHODIMP TDropDataObject::TMediumOwner::QueryInterface(REFIID iid, void** ppv) {
  if (IsEqualGUID(iid, IID_IUnknown)) {
    *ppv = this;
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

// ReleaseStgMedium gives the medium back through here instead of freeing it.
STDMETHODIMP_(ULONG) TDropDataObject::TMediumOwner::Release() {
  ++Owner->MediumReleases;
  if (Global) {
    GlobalFree(Global);
    Global = nullptr;
  }
  return 1;
}

STDMETHODIMP TEmptyDataObject::GetData(FORMATETC* format, STGMEDIUM*) {
  ++GetDataCalls;
  LastFormat = *format;
  return Refusal;
}

TDropDataObject* TDropDataObject::Shared(std::vector<std::wstring> paths) {
  auto* object = new TDropDataObject(std::move(paths));
  object->FDeletedByRelease = true;
  return object;
}
