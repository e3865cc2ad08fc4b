// The shell extension object: takes the selection from the shell and adds the
// "Information" page for a single ".wav" file.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <prsht.h>

#include <memory>
#include <string>

#include "com_object.h"
#include "unique_handle.h"
#include "wavfile.h"

class TTolvane : public TComImplements<TComObject, IShellPropSheetExt, IShellExtInit> {
public:
  using TComImplements::TComImplements;

  static const TComClassInfo<TComObject> ClassInfo;
  const TComClassInfo<TComObject>& ComClass() const override { return ClassInfo; }

  // IShellPropSheetExt
  STDMETHODIMP AddPages(LPFNADDPROPSHEETPAGE pfnAddPage, LPARAM lParam) override;
  STDMETHODIMP ReplacePage(EXPPS uPageID, LPFNADDPROPSHEETPAGE pfnReplaceWith,
                           LPARAM lParam) override;

  // IShellExtInit
  STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pdtobj,
                          HKEY hkeyProgID) override;

  // The page's life-cycle callback: PSPCB_RELEASE gives the page's reference
  // on the object back.
  static UINT CALLBACK PropExtPageCallback(HWND hwnd, UINT uMsg, LPPROPSHEETPAGEA ppsp);

  // Reads the header of the one selected file (by its UTF-16 name where the
  // shell gave one) into WavFile and returns it; null when the selection is
  // not one file or no page has been added.
  const TWAVfile* LoadWavFile();

  // The selected file as the shell names it in the ANSI code page.
  std::string FileName;
  // The same path in UTF-16, which still opens when the name holds characters
  // the ANSI code page lacks.
  std::wstring WideFileName;
  std::unique_ptr<TWAVfile> WavFile;
  LONG FileCount = 0;
  // The data object of an accepted selection: it tells this object's sheet
  // from others (sheet_claims.h).
  TInterfacePtr<IDataObject> Selection;

private:
  HRESULT AddInformationPage(LPFNADDPROPSHEETPAGE pfnAddPage, LPARAM lParam);
  HRESULT TakeSelection(HDROP drop);
};
