// The shell's side of the extension, played by the tests and the page host:
// the server and factory the module's start-up would make, a data object
// holding the selection, add-page functions and a modeless property sheet.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <prsht.h>

#include <string>
#include <vector>

class TComObjectFactory;
class TTolvane;

// ServerInstance and a factory for TTolvane; the real factory differs only in
// its registration.
class TExtensionServer {
public:
  TExtensionServer();
  ~TExtensionServer();
  TExtensionServer(const TExtensionServer&) = delete;
  TExtensionServer& operator=(const TExtensionServer&) = delete;

  TComObjectFactory* Factory;
};

// A data object as the shell passes it to Initialize. Counts what the
// extension does with it; lives on the stack of its test.
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
};

// Offers the selection as a CF_HDROP list of wide paths in an HGLOBAL, as the
// shell does. The medium's pUnkForRelease counts ReleaseStgMedium calls.
class TDropDataObject : public TDataObject {
public:
  explicit TDropDataObject(std::vector<std::wstring> paths);
  ~TDropDataObject() override;

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

// The pages the shell keeps. Fixed capacity: adding a page allocates nothing.
struct TPageList {
  HPROPSHEETPAGE Pages[8] = {};
  UINT Count = 0;
  UINT Offered = 0;
};
// Add-page functions; lParam is a TPageList.
BOOL CALLBACK KeepPage(HPROPSHEETPAGE page, LPARAM lParam);
BOOL CALLBACK RefusePage(HPROPSHEETPAGE page, LPARAM lParam);

// A page of the host's own, without controls, like the sheet's "General" tab.
HPROPSHEETPAGE CreateHostPage(const char* title);

// The shell's way from the class identifier to an initialised extension:
// factory from the class manager, CreateInstance, Initialize. Returns the
// result of Initialize; *init holds the object on S_OK (and on failure, for
// tests that look at the refused object), and the factory is released.
HRESULT CreateExtension(IDataObject* selection, IShellExtInit** init);
// The object behind an interface the factory handed out.
TTolvane* ObjectOf(IShellExtInit* init);

// A modeless property sheet on the calling thread, run by its own message
// loop. Destroys the sheet window, if still there, when it goes.
class TModelessSheet {
public:
  TModelessSheet(const HPROPSHEETPAGE* pages, UINT count, const char* caption);
  ~TModelessSheet();
  TModelessSheet(const TModelessSheet&) = delete;
  TModelessSheet& operator=(const TModelessSheet&) = delete;

  HWND Window() const { return FWindow; }
  HWND Page(int index) const;
  HWND CurrentPage() const;
  // Runs the messages queued for this thread.
  void Pump();
  // PSM_APPLY, then the queue.
  void Apply();
  // Selects page `index` (PSM_SETCURSEL); returns the sheet's answer.
  bool Select(int index);
  // Presses OK and runs the loop until the sheet has closed, then destroys
  // the window (which destroys the pages). False when it did not close.
  bool CloseWithOk();

private:
  HWND FWindow = nullptr;
};

std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
// The seven value texts of an Information page, controls 1000 to 1006.
std::vector<std::string> ValueTexts(HWND page);
// The path in the ANSI code page, as DragQueryFileA gives it.
std::string AnsiOf(const std::wstring& text);
