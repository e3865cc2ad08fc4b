// The shell's side of the extension, played by the tests and the page host:
// the server and factory the module's start-up would make. The add-page
// functions and the sheet are in property_sheet.h, the data objects holding
// the selection in drop_files_data_object.h.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "ansi_text.h"
#include "drop_files_data_object.h"
#include "property_sheet.h"

class TComObjectFactory;
class TTolvane;

// ServerInstance and the module's own factory for TTolvane.
class TExtensionServer {
public:
  TExtensionServer();
  ~TExtensionServer();
  TExtensionServer(const TExtensionServer&) = delete;
  TExtensionServer& operator=(const TExtensionServer&) = delete;

  TComObjectFactory* Factory;
};

// The shell's way from the class identifier to an initialised extension:
// factory from the class manager, CreateInstance, Initialize. Returns the
// result of Initialize; *init holds the object on S_OK (and on failure, for
// tests that look at the refused object), and the factory is released.
HRESULT CreateExtension(IDataObject* selection, IShellExtInit** init);
// The object behind an interface the factory handed out.
TTolvane* ObjectOf(IShellExtInit* init);
