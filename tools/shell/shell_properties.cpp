// shell_properties FILE [--page TITLE] [--stay | --hold-until PATH] [--timeout SECONDS]
//                  [--association-array]
//
// Opens the shell's Properties dialog of FILE through its context menu (verb
// "properties"), selects the page TITLE ("Information"), prints what the
// page's controls 1000..1006 show and closes the dialog: at once, once PATH
// exists (--hold-until), or never (--stay: the user closes it).
//
// With --association-array it plays the Windows shell instead, which Wine's
// is not: it builds the file's association array from the registry as
// Windows documents it ("Application Registration"; the user's chosen ProgID
// in FileExts\.EXT\UserChoice, else the type .EXT names; then
// SystemFileAssociations\.EXT, SystemFileAssociations\<PerceivedType>, *,
// AllFilesystemObjects), asks every property-sheet handler listed in every
// element for its pages (Initialize, AddPages; one sheet, one data object)
// after a "General" page of its own, and shows them in a modal sheet.
//
// Output, one item a line, fields separated by a tab:
//   array  <element>...                       (--association-array)
//   sheet  <caption>
//   rect   <left> <top> <width> <height>      (screen pixels of the sheet)
//   tabs   <title>...
//   <label of the row>  <text of control 1000 + i>   (seven lines)
//   ready
// Exit code 0 when the page was found and read.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct TOptions {
  std::string File;
  std::string Page = "Information";
  bool Stay = false;
  std::string HoldUntil;
  DWORD TimeoutMs = 30000;
  bool AssociationArray = false;
};

struct TComRelease {
  void operator()(IUnknown* p) const {
    if (p)
      p->Release();
  }
};
template <class T> using TComPtr = std::unique_ptr<T, TComRelease>;

struct TFindSheet {
  DWORD Process;
  HWND Sheet;
};

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

BOOL CALLBACK FindSheetProc(HWND window, LPARAM data) {
  auto* find = reinterpret_cast<TFindSheet*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != find->Process || ClassOf(window) != "#32770" ||
      !FindWindowExA(window, nullptr, "SysTabControl32", nullptr))
    return TRUE;
  find->Sheet = window;
  return FALSE;
}

std::string WindowText(HWND window) {
  char text[512] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::vector<std::string> TabTitles(HWND tabs) {
  std::vector<std::string> titles;
  int count = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char text[256] = "";
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
    titles.push_back(text);
  }
  return titles;
}

struct TLabelSearch {
  HWND Page;
  int Top;
  std::string Label;
};

// The caption of a value is the label control (id -1) on the same row.
BOOL CALLBACK FindLabelProc(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<TLabelSearch*>(data);
  if (GetParent(child) != search->Page || (GetDlgCtrlID(child) & 0xFFFF) != 0xFFFF ||
      ClassOf(child) != "Static")
    return TRUE;
  RECT rect;
  GetWindowRect(child, &rect);
  if (rect.top != search->Top)
    return TRUE;
  search->Label = WindowText(child);
  return FALSE;
}

std::string LabelOfRow(HWND page, HWND value) {
  RECT rect;
  GetWindowRect(value, &rect);
  TLabelSearch search = {page, rect.top, std::string()};
  EnumChildWindows(page, FindLabelProc, reinterpret_cast<LPARAM>(&search));
  return search.Label;
}

void Print(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// Runs beside the modal sheet: finds it, shows the page, reads it, closes it.
int Watch(const TOptions& options, const std::atomic<bool>& invokeReturned) {
  TFindSheet find = {GetCurrentProcessId(), nullptr};
  DWORD start = GetTickCount();
  while (!find.Sheet) {
    if (invokeReturned || GetTickCount() - start > options.TimeoutMs) {
      std::fprintf(stderr, "shell_properties: no Properties dialog appeared\n");
      return 2;
    }
    Sleep(50);
    EnumWindows(FindSheetProc, reinterpret_cast<LPARAM>(&find));
  }
  HWND sheet = find.Sheet;
  Print("sheet\t" + WindowText(sheet));

  std::vector<std::string> titles =
      TabTitles(FindWindowExA(sheet, nullptr, "SysTabControl32", nullptr));
  std::string tabsLine = "tabs";
  int index = -1;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    tabsLine += "\t" + titles[i];
    if (titles[i] == options.Page && index < 0)
      index = static_cast<int>(i);
  }
  Print(tabsLine);

  int status = 0;
  if (index < 0) {
    std::fprintf(stderr, "shell_properties: no page \"%s\"\n", options.Page.c_str());
    status = 3;
  } else {
    SendMessageA(sheet, PSM_SETCURSEL, index, 0);
    HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    RECT rect;
    GetWindowRect(sheet, &rect);
    Print("rect\t" + std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
          std::to_string(rect.right - rect.left) + " " + std::to_string(rect.bottom - rect.top));
    for (int id = 1000; id <= 1006; ++id) {
      HWND value = GetDlgItem(page, id);
      if (!value) {
        std::fprintf(stderr, "shell_properties: the page has no control %d\n", id);
        status = 4;
        break;
      }
      Print(LabelOfRow(page, value) + "\t" + WindowText(value));
    }
  }
  Print("ready");

  if (options.Stay)
    return status;
  if (!options.HoldUntil.empty())
    while (GetFileAttributesA(options.HoldUntil.c_str()) == INVALID_FILE_ATTRIBUTES &&
           !invokeReturned)
      Sleep(100);
  PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
  return status;
}

bool ParseOptions(int argc, char** argv, TOptions& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--page" && hasValue)
      options.Page = argv[++i];
    else if (arg == "--hold-until" && hasValue)
      options.HoldUntil = argv[++i];
    else if (arg == "--timeout" && hasValue)
      options.TimeoutMs = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10) * 1000);
    else if (arg == "--stay")
      options.Stay = true;
    else if (arg == "--association-array")
      options.AssociationArray = true;
    else if (options.File.empty() && arg.rfind("--", 0) != 0)
      options.File = arg;
    else
      return false;
  }
  return !options.File.empty();
}

// The object iid of the file (its context menu, its data object) as its
// folder hands it to a shell; pidl is the file's item list (CoTaskMemFree
// it).
HRESULT FileObject(const std::string& file, REFIID iid, void** object, PIDLIST_ABSOLUTE& pidl) {
  *object = nullptr;
  pidl = nullptr;
  wchar_t path[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, path, MAX_PATH))
    return E_INVALIDARG;
  HRESULT hr = SHParseDisplayName(path, nullptr, &pidl, 0, nullptr);
  if (FAILED(hr))
    return hr;
  IShellFolder* rawFolder = nullptr;
  PCUITEMID_CHILD child = nullptr;
  hr = SHBindToParent(pidl, IID_IShellFolder, reinterpret_cast<void**>(&rawFolder), &child);
  TComPtr<IShellFolder> folder(rawFolder);
  if (SUCCEEDED(hr))
    hr = folder->GetUIObjectOf(nullptr, 1, &child, iid, nullptr, object);
  return hr;
}

// The Properties dialog as the shell's context menu opens it; returns when
// the dialog closes (it is modal on this thread).
HRESULT InvokeProperties(const std::string& file) {
  PIDLIST_ABSOLUTE pidl = nullptr;
  IContextMenu* rawMenu = nullptr;
  HRESULT hr = FileObject(file, IID_IContextMenu, reinterpret_cast<void**>(&rawMenu), pidl);
  TComPtr<IContextMenu> menu(rawMenu);
  if (SUCCEEDED(hr)) {
    HMENU popup = CreatePopupMenu();
    hr = menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL);
    if (SUCCEEDED(hr)) {
      CMINVOKECOMMANDINFO invoke = {};
      invoke.cbSize = sizeof invoke;
      invoke.lpVerb = "properties";
      invoke.nShow = SW_SHOWNORMAL;
      hr = menu->InvokeCommand(&invoke);
    }
    DestroyMenu(popup);
  }
  CoTaskMemFree(pidl);
  return hr;
}

// The registry text of a value; empty where it is missing.
std::string RegText(HKEY root, const std::string& key, const char* name) {
  char text[512] = "";
  DWORD size = sizeof text - 1;
  if (RegGetValueA(root, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                   nullptr, text, &size) != ERROR_SUCCESS)
    return std::string();
  return text;
}

std::vector<std::string> AssociationArray(const std::string& extension) {
  std::vector<std::string> array;
  std::string progId =
      RegText(HKEY_CURRENT_USER,
              "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" + extension +
                  "\\UserChoice",
              "ProgId");
  if (progId.empty())
    progId = RegText(HKEY_CLASSES_ROOT, extension, nullptr);
  if (!progId.empty())
    array.push_back(progId);
  array.push_back("SystemFileAssociations\\" + extension);
  const std::string perceived = RegText(HKEY_CLASSES_ROOT, extension, "PerceivedType");
  if (!perceived.empty())
    array.push_back("SystemFileAssociations\\" + perceived);
  array.push_back("*");
  array.push_back("AllFilesystemObjects");
  return array;
}

BOOL CALLBACK AddArrayPage(HPROPSHEETPAGE page, LPARAM lParam) {
  auto* header = reinterpret_cast<PROPSHEETHEADERA*>(lParam);
  if (header->nPages >= 32)
    return FALSE;
  header->phpage[header->nPages++] = page;
  return TRUE;
}

INT_PTR CALLBACK HostPageProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

// A page of the host's own, as the shell's "General" page comes first.
HPROPSHEETPAGE HostPage() {
  static const struct {
    DLGTEMPLATE Template;
    WORD Menu, Class, Title;
  } dialog = {{WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, 200, 100}, 0, 0, 0};
  PROPSHEETPAGEA page = {};
  page.dwSize = sizeof page;
  page.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
  page.pResource = &dialog.Template;
  page.pszTitle = "General";
  page.pfnDlgProc = HostPageProc;
  return CreatePropertySheetPageA(&page);
}

// Every handler listed under the element adds its pages, as the shell asks
// them: created by class, initialised with the selection and the element's
// key, asked once, released.
void AddHandlerPages(const std::string& element, PCIDLIST_ABSOLUTE folder, IDataObject* selection,
                     PROPSHEETHEADERA& header) {
  HKEY elementKey = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, element.c_str(), 0, KEY_READ, &elementKey) != ERROR_SUCCESS)
    return;
  HKEY handlers = nullptr;
  if (RegOpenKeyExA(elementKey, "shellex\\PropertySheetHandlers", 0, KEY_READ, &handlers) ==
      ERROR_SUCCESS) {
    char name[256];
    for (DWORD index = 0; RegEnumKeyA(handlers, index, name, sizeof name) == ERROR_SUCCESS;
         ++index) {
      std::string classText = RegText(handlers, name, nullptr);
      if (classText.empty())
        classText = name;
      wchar_t wide[64];
      CLSID classId;
      if (!MultiByteToWideChar(CP_ACP, 0, classText.c_str(), -1, wide, 64) ||
          FAILED(CLSIDFromString(wide, &classId)))
        continue;
      IShellExtInit* rawInit = nullptr;
      if (FAILED(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                  reinterpret_cast<void**>(&rawInit))))
        continue;
      TComPtr<IShellExtInit> init(rawInit);
      IShellPropSheetExt* rawPages = nullptr;
      if (SUCCEEDED(init->Initialize(folder, selection, elementKey)) &&
          SUCCEEDED(
              init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&rawPages)))) {
        TComPtr<IShellPropSheetExt> pages(rawPages);
        pages->AddPages(AddArrayPage, reinterpret_cast<LPARAM>(&header));
      }
    }
    RegCloseKey(handlers);
  }
  RegCloseKey(elementKey);
}

// The Properties dialog as a Windows shell builds it from the association
// array; returns when the dialog closes.
HRESULT ShowArrayProperties(const std::string& file) {
  PIDLIST_ABSOLUTE pidl = nullptr;
  IDataObject* rawSelection = nullptr;
  HRESULT hr = FileObject(file, IID_IDataObject, reinterpret_cast<void**>(&rawSelection), pidl);
  TComPtr<IDataObject> selection(rawSelection);
  if (SUCCEEDED(hr)) {
    PIDLIST_ABSOLUTE parent = ILClone(pidl);
    ILRemoveLastID(parent);
    const std::string name = file.substr(file.find_last_of("\\/") + 1);
    const size_t dot = name.rfind('.');
    const std::vector<std::string> array =
        AssociationArray(dot == std::string::npos ? std::string() : name.substr(dot));
    std::string line = "array";
    for (const std::string& element : array)
      line += "\t" + element;
    Print(line);
    HPROPSHEETPAGE pages[32] = {};
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPTITLE | PSH_NOAPPLYNOW;
    header.pszCaption = name.c_str();
    header.phpage = pages;
    AddArrayPage(HostPage(), reinterpret_cast<LPARAM>(&header));
    for (const std::string& element : array)
      AddHandlerPages(element, parent, selection.get(), header);
    if (PropertySheetA(&header) < 0)
      hr = E_FAIL;
    ILFree(parent);
  }
  CoTaskMemFree(pidl);
  return hr;
}

} // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  TOptions options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: shell_properties FILE [--page TITLE] [--stay | --hold-until "
                         "PATH] [--timeout SECONDS] [--association-array]\n");
    return 1;
  }
  if (FAILED(OleInitialize(nullptr))) {
    std::fprintf(stderr, "shell_properties: OleInitialize failed\n");
    return 1;
  }
  std::atomic<bool> invokeReturned{false};
  int status = 0;
  std::thread watcher([&] { status = Watch(options, invokeReturned); });
  HRESULT hr =
      options.AssociationArray ? ShowArrayProperties(options.File) : InvokeProperties(options.File);
  invokeReturned = true;
  watcher.join();
  OleUninitialize();
  if (FAILED(hr)) {
    std::fprintf(stderr, "shell_properties: the \"properties\" verb failed: 0x%08lX\n",
                 static_cast<unsigned long>(hr));
    return status ? status : 1;
  }
  return status;
}
