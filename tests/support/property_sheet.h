// The sheet's side of a page, as a shell hosts it: add-page functions, a page
// of the host's own, a modeless property sheet and what its pages show.
#pragma once

#include <windows.h>
#include <prsht.h>

#include <string>
#include <vector>

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
