// Shows the Information page of one file in a property sheet, the way the
// shell would, until told to close; for looking at the page.
//
//   extension_page_host FILE READY STOP [SECONDS]
//
// Creates READY once the sheet is up (its first line: the seven texts), and
// closes the sheet with OK when STOP exists or after SECONDS (default 60).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "shell_host.h"
#include "tolvane.h"

namespace {

bool Exists(const wchar_t* path) {
  return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool WriteReady(const wchar_t* path, const std::string& line) {
  HANDLE file =
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  bool ok = WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr);
  return CloseHandle(file) && ok;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: extension_page_host FILE READY STOP [SECONDS]\n");
    return 2;
  }
  const DWORD seconds = argc > 4 ? DWORD(_wtoi(argv[4])) : 60;

  TExtensionServer server;
  TDropDataObject selection({argv[1]});
  IShellExtInit* init = nullptr;
  HRESULT result = CreateExtension(&selection, &init);
  TPageList pages;
  if (result == S_OK)
    result = ObjectOf(init)->AddPages(KeepPage, reinterpret_cast<LPARAM>(&pages));
  if (init)
    init->Release();
  if (result != S_OK) {
    std::fprintf(stderr, "the extension gave no page: 0x%08lX\n",
                 static_cast<unsigned long>(result));
    return 1;
  }

  std::wstring name = argv[1];
  name = name.substr(name.find_last_of(L"\\/") + 1);
  std::string caption = "Properties for " + ToAnsi(name);
  TModelessSheet sheet(pages.Pages, pages.Count, caption.c_str());
  HWND page = sheet.Page(0);
  if (!page) {
    std::fprintf(stderr, "the sheet did not open\n");
    return 1;
  }
  SetWindowPos(sheet.Window(), HWND_TOP, 16, 16, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  sheet.Pump();

  std::string line;
  for (const std::string& text : ValueTexts(page))
    line += text + "|";
  line += "\n";
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
  if (!WriteReady(argv[2], line))
    return 1;

  const ULONGLONG deadline = GetTickCount64() + seconds * 1000ull;
  while (!Exists(argv[3]) && GetTickCount64() < deadline) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    sheet.Pump();
  }
  return sheet.CloseWithOk() ? 0 : 1;
}

} // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  int code = argv ? Run(argc, argv) : 2;
  LocalFree(argv);
  return code;
}
