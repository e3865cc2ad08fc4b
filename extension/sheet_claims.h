// Which property sheets, while the shell fills them, already hold an
// Information page: a shell that lists the handler under two elements of a
// file's association array (the type .wav names and "*", say) asks two
// extension objects for pages of one sheet, and the sheet gets one page.
#pragma once

#include <windows.h>
#include <shlobj.h>

// What tells one sheet from another while its pages are collected: the shell
// asks every handler of a sheet for its pages on one thread, with one
// add-page function and one argument for it, after initialising each with
// the same data object of the selection.
struct TSheetKey {
  DWORD Thread;
  LPFNADDPROPSHEETPAGE AddPage;
  LPARAM Sheet;
  // Null where the object was never given a selection: then no other
  // object's page is looked for.
  const IDataObject* Selection;
};

// Claims the sheet for one page of owner: false where a page of another
// owner holds a claim on it. The page's owner holds a reference on the
// selection for as long as the claim lasts, and the claim goes
// (DropSheetClaim) when the page is destroyed. Raises nothing.
bool ClaimSheet(const TSheetKey& key, const void* owner);

// One claim of owner goes: a page of its is destroyed, or was never made.
void DropSheetClaim(const void* owner) noexcept;
