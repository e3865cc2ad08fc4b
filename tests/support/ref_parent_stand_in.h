// Wine's comctl32 never touches the counter a page names in pcRefParent
// (Windows raises it when the page is created and lowers it when the page is
// destroyed). To test how LiveObjects moves with the page, this stands in for
// the platform there: it replaces a module's imports of
// CreatePropertySheetPageA and DestroyPropertySheetPage, through which the
// extension reaches comctl32, with wrappers that do what Windows does and
// record what the extension put in the page description.
#pragma once

#include <windows.h>
#include <prsht.h>

#include "import_patch.h"

// The description the extension last passed to CreatePropertySheetPageA.
struct TRecordedPage {
  PROPSHEETPAGEA Description{};
  char Title[256] = "";
};

// One at a time per process: the counts and the recorded page are shared.
class TRefParentStandIn {
public:
  // `module` is the one whose imports are replaced: by default the test
  // executable, into which the extension is linked.
  explicit TRefParentStandIn(HMODULE module = GetModuleHandleA(nullptr));
  ~TRefParentStandIn();
  TRefParentStandIn(const TRefParentStandIn&) = delete;
  TRefParentStandIn& operator=(const TRefParentStandIn&) = delete;

  // Both imports were found and replaced.
  bool Active() const;

  static TRecordedPage LastPage();
  static LONG CreateCalls();
  static LONG DestroyCalls();

private:
  TImportPatch FCreate;
  TImportPatch FDestroy;
};
