#include "ref_parent_stand_in.h"

#include <cstring>
#include <mutex>

namespace {
using TCreatePage = HPROPSHEETPAGE(WINAPI*)(LPCPROPSHEETPAGEA);
using TDestroyPage = BOOL(WINAPI*)(HPROPSHEETPAGE);

TCreatePage GCreate = nullptr;
TDestroyPage GDestroy = nullptr;
// The extension's own callback, called by the stand-in's callback. Every page
// of the extension names the same one.
LPFNPSPCALLBACKA GCallback = nullptr;

std::mutex GLock;
TRecordedPage GLastPage;
volatile LONG GCreateCalls = 0;
volatile LONG GDestroyCalls = 0;

// The platform calls this with its copy of the description when it destroys
// the page (by DestroyPropertySheetPage or with the sheet); like Windows, the
// parent's count goes down after the page's own callback has run.
UINT CALLBACK StandInCallback(HWND hwnd, UINT uMsg, LPPROPSHEETPAGEA ppsp) {
  UINT result = GCallback ? GCallback(hwnd, uMsg, ppsp) : 1;
  if (uMsg == PSPCB_RELEASE && (ppsp->dwFlags & PSP_USEREFPARENT) && ppsp->pcRefParent)
    InterlockedDecrement(reinterpret_cast<volatile LONG*>(ppsp->pcRefParent));
  return result;
}

HPROPSHEETPAGE WINAPI StandInCreate(LPCPROPSHEETPAGEA description) {
  InterlockedIncrement(&GCreateCalls);
  {
    std::lock_guard<std::mutex> lock(GLock);
    GLastPage = TRecordedPage{};
    std::memcpy(&GLastPage.Description, description,
                description->dwSize < sizeof(PROPSHEETPAGEA) ? description->dwSize
                                                             : sizeof(PROPSHEETPAGEA));
    if ((description->dwFlags & PSP_USETITLE) && description->pszTitle &&
        !IS_INTRESOURCE(description->pszTitle))
      lstrcpynA(GLastPage.Title, description->pszTitle, sizeof GLastPage.Title);
  }
  if (!(description->dwFlags & PSP_USEREFPARENT) || !description->pcRefParent)
    return GCreate(description);

  PROPSHEETPAGEA copy{};
  std::memcpy(&copy, description,
              description->dwSize < sizeof copy ? description->dwSize : sizeof copy);
  if (copy.dwFlags & PSP_USECALLBACK)
    GCallback = copy.pfnCallback;
  copy.dwFlags |= PSP_USECALLBACK;
  copy.pfnCallback = StandInCallback;
  HPROPSHEETPAGE page = GCreate(&copy);
  if (page)
    InterlockedIncrement(reinterpret_cast<volatile LONG*>(description->pcRefParent));
  return page;
}

BOOL WINAPI StandInDestroy(HPROPSHEETPAGE page) {
  InterlockedIncrement(&GDestroyCalls);
  return GDestroy(page);
}
} // namespace

TRefParentStandIn::TRefParentStandIn(HMODULE module)
    : FCreate(module, "comctl32.dll", "CreatePropertySheetPageA",
              reinterpret_cast<void*>(StandInCreate)),
      FDestroy(module, "comctl32.dll", "DestroyPropertySheetPage",
               reinterpret_cast<void*>(StandInDestroy)) {
  GCreate = reinterpret_cast<TCreatePage>(FCreate.Original());
  GDestroy = reinterpret_cast<TDestroyPage>(FDestroy.Original());
  GCreateCalls = 0;
  GDestroyCalls = 0;
  std::lock_guard<std::mutex> lock(GLock);
  GLastPage = TRecordedPage{};
}

// Pages still alive keep calling StandInCallback, which stays valid; only the
// imports go back.
TRefParentStandIn::~TRefParentStandIn() = default;

bool TRefParentStandIn::Active() const {
  return FCreate.Original() && FDestroy.Original();
}

TRecordedPage TRefParentStandIn::LastPage() {
  std::lock_guard<std::mutex> lock(GLock);
  return GLastPage;
}

LONG TRefParentStandIn::CreateCalls() {
  return GCreateCalls;
}
LONG TRefParentStandIn::DestroyCalls() {
  return GDestroyCalls;
}
