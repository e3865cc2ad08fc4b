// The shell's side of the extension, played by the tests and the page host:
// the server and factory the module's start-up would make, add-page functions
// and a modeless property sheet. The data objects holding the selection are
// in drop_files_data_object.h.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <prsht.h>

#include <string>
#include <vector>

#include "ansi_text.h"
#include "drop_files_data_object.h"

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
