// Data objects as the shell passes them to IShellExtInit::Initialize: a
// selection offered as CF_HDROP, or nothing at all.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

// A data object as the shell passes it to Initialize. Counts what the
// extension does with it; lives on the stack of its test, which must keep
// it for as long as an extension object it accepted lives (the object holds
// a reference on it), or on the heap (Shared), gone with its last reference.
class TDataObject : public IDataObject {
public:
  virtual ~TDataObject() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* format) override;
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

  LONG References = 1;
  LONG GetDataCalls = 0;
  FORMATETC LastFormat{};

protected:
  bool FDeletedByRelease = false;
};

// Offers the selection as a CF_HDROP list of wide paths in an HGLOBAL, as the
// shell does. The medium's pUnkForRelease counts ReleaseStgMedium calls.
class TDropDataObject : public TDataObject {
public:
  explicit TDropDataObject(std::vector<std::wstring> paths);
  ~TDropDataObject() override;
  // One on the heap, holding the caller's reference.
  static TDropDataObject* Shared(std::vector<std::wstring> paths);

  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;

  std::vector<std::wstring> Paths;
  LONG MediumReleases = 0;
  // A medium handed out and not yet released.
  bool MediumOutstanding() const { return FMedium.Global != nullptr; }

private:
  struct TMediumOwner : public IUnknown {
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override;
    TDropDataObject* Owner = nullptr;
    HGLOBAL Global = nullptr;
  };
  TMediumOwner FMedium;
};

// Offers nothing: GetData fails with Refusal.
class TEmptyDataObject : public TDataObject {
public:
  explicit TEmptyDataObject(HRESULT refusal = DV_E_FORMATETC) : Refusal(refusal) {}
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
  HRESULT Refusal;
};
