#include "property_sheet.h"

// ---------------------------------------------------------------------------
// Pages

BOOL CALLBACK KeepPage(HPROPSHEETPAGE page, LPARAM lParam) {
  auto& list = *reinterpret_cast<TPageList*>(lParam);
  ++list.Offered;
  if (list.Count == sizeof list.Pages / sizeof *list.Pages)
    return FALSE;
  list.Pages[list.Count++] = page;
  return TRUE;
}

BOOL CALLBACK RefusePage(HPROPSHEETPAGE, LPARAM lParam) {
  ++reinterpret_cast<TPageList*>(lParam)->Offered;
  return FALSE;
}

namespace {
// An empty dialog: header, then no menu, the default class and no title.
struct alignas(4) TEmptyDialog {
  DLGTEMPLATE Header;
  WORD Menu, Class, Title;
};
const TEmptyDialog HostDialog = {{WS_CHILD, 0, 0, 0, 0, 228, 88}, 0, 0, 0};

INT_PTR CALLBACK HostPageProc(HWND, UINT uMsg, WPARAM, LPARAM) {
  return uMsg == WM_INITDIALOG;
}
} // namespace

HPROPSHEETPAGE CreateHostPage(const char* title) {
  PROPSHEETPAGEA page{};
  page.dwSize = sizeof page;
  page.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
  page.pResource = &HostDialog.Header;
  page.pszTitle = title;
  page.pfnDlgProc = HostPageProc;
  return CreatePropertySheetPageA(&page);
}

// ---------------------------------------------------------------------------
// The sheet

TModelessSheet::TModelessSheet(const HPROPSHEETPAGE* pages, UINT count, const char* caption) {
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_MODELESS;
  header.pszCaption = caption;
  header.nPages = count;
  header.phpage = const_cast<HPROPSHEETPAGE*>(pages);
  INT_PTR result = PropertySheetA(&header);
  FWindow = result > 0 ? reinterpret_cast<HWND>(result) : nullptr;
  Pump();
}

TModelessSheet::~TModelessSheet() {
  if (FWindow && IsWindow(FWindow))
    DestroyWindow(FWindow);
  Pump();
}

HWND TModelessSheet::Page(int index) const {
  return reinterpret_cast<HWND>(SendMessageA(FWindow, PSM_INDEXTOHWND, index, 0));
}

HWND TModelessSheet::CurrentPage() const {
  return reinterpret_cast<HWND>(SendMessageA(FWindow, PSM_GETCURRENTPAGEHWND, 0, 0));
}

void TModelessSheet::Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (FWindow && IsWindow(FWindow) &&
        SendMessageA(FWindow, PSM_ISDIALOGMESSAGE, 0, reinterpret_cast<LPARAM>(&msg)))
      continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void TModelessSheet::Apply() {
  SendMessageA(FWindow, PSM_APPLY, 0, 0);
  Pump();
}

bool TModelessSheet::Select(int index) {
  bool selected = SendMessageA(FWindow, PSM_SETCURSEL, index, 0) != 0;
  Pump();
  return selected;
}

bool TModelessSheet::CloseWithOk() {
  SendMessageA(FWindow, PSM_PRESSBUTTON, PSBTN_OK, 0);
  // A modeless sheet reports that it is done by having no current page; the
  // owner then destroys it. Bounded, so a sheet that never closes fails the
  // test instead of hanging it.
  bool closed = false;
  for (int round = 0; round < 500 && !closed; ++round) {
    Pump();
    closed = CurrentPage() == nullptr;
    if (!closed)
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  DestroyWindow(FWindow);
  FWindow = nullptr;
  Pump();
  return closed;
}

// ---------------------------------------------------------------------------
// Reading what the page shows

std::string WindowText(HWND window) {
  char text[256] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ControlText(HWND dialog, int id) {
  char text[256] = "";
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

std::vector<std::string> ValueTexts(HWND page) {
  std::vector<std::string> texts;
  for (int id = 1000; id <= 1006; ++id)
    texts.push_back(ControlText(page, id));
  return texts;
}
