// load_cycles.exe CYCLES
// A shell host that loads PELLMORE.DLL (beside this program), shows a WAV
// file's page and unloads the module again, CYCLES times in one process:
// LoadLibrary, DllGetClassObject, CreateInstance, Initialize, AddPages, the
// page destroyed (every hundredth cycle shown in a property sheet first),
// the object released, DllCanUnloadNow and FreeLibrary. Counts the free
// thread-local storage indexes and the private memory before and after, and
// prints them. Exits with 0 when no index was lost, the private memory did
// not grow with the cycles and every cycle unloaded the module; with 1
// otherwise and 2 when a cycle went wrong.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ansi_text.h"
#include "class_id.h"
#include "drop_files_data_object.h"
#include "wav_builder.h"

namespace {

using TDllGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using TDllCanUnloadNow = HRESULT(STDAPICALLTYPE*)();

// The heap may still grow while the first cycles settle it.
constexpr int WarmUpCycles = 100;
// What the private memory may gain after the warm-up: a loss of 16 bytes a
// cycle still shows over 5,000 cycles.
constexpr SIZE_T AllowedGrowth = 64 * 1024;
// Under Wine a sheet costs about twenty cycles without one.
constexpr int ShowEvery = 100;

int FreeTlsIndexes() {
  std::vector<DWORD> taken;
  for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
    taken.push_back(index);
  for (DWORD index : taken)
    TlsFree(index);
  return static_cast<int>(taken.size());
}

// The committed private memory of the process: heaps, stacks and private
// allocations; images and mapped files are not counted.
SIZE_T PrivateBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (auto address = static_cast<const char*>(nullptr);
       VirtualQuery(address, &region, sizeof region) == sizeof region;
       address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
      total += region.RegionSize;
  }
  return total;
}

std::wstring BesideThisProgram(const wchar_t* name) {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
  return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

template <typename T> T Export(HMODULE module, const char* name) {
  // Through void (*)(), which converts to every function type without a
  // -Wcast-function-type warning.
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

BOOL CALLBACK KeepPage(HPROPSHEETPAGE page, LPARAM pages) {
  reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(pages)->push_back(page);
  return TRUE;
}

// Shows the page in a modeless sheet, lets it initialise and closes it.
bool ShowAndClose(HPROPSHEETPAGE page) {
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_MODELESS | PSH_NOAPPLYNOW;
  header.pszCaption = "Properties";
  header.nPages = 1;
  header.phpage = &page;
  auto sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
  if (!sheet)
    return false;
  const bool shown = PropSheet_GetCurrentPageHwnd(sheet) != nullptr;
  for (MSG message; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);)
    DispatchMessageA(&message);
  DestroyWindow(sheet);
  return shown;
}

// One load, page and unload; false, with a message, when a step failed.
bool Cycle(const std::wstring& dll, TDropDataObject& selection, bool show) {
  HMODULE module = LoadLibraryW(dll.c_str());
  if (!module) {
    std::printf("LoadLibrary failed: %lu\n", GetLastError());
    return false;
  }
  auto getClassObject = Export<TDllGetClassObject>(module, "DllGetClassObject");
  auto canUnloadNow = Export<TDllCanUnloadNow>(module, "DllCanUnloadNow");
  IClassFactory* factory = nullptr;
  IShellExtInit* init = nullptr;
  IShellPropSheetExt* sheetExt = nullptr;
  std::vector<HPROPSHEETPAGE> pages;
  bool ok =
      getClassObject && canUnloadNow &&
      getClassObject(CLSID_Tolvane, IID_IClassFactory, reinterpret_cast<void**>(&factory)) == S_OK &&
      factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)) == S_OK &&
      init->Initialize(nullptr, &selection, nullptr) == S_OK &&
      init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&sheetExt)) == S_OK &&
      sheetExt->AddPages(KeepPage, reinterpret_cast<LPARAM>(&pages)) == S_OK && pages.size() == 1;
  if (ok) {
    ok = show ? ShowAndClose(pages[0]) : DestroyPropertySheetPage(pages[0]);
    pages.clear();
  }
  for (HPROPSHEETPAGE page : pages)
    DestroyPropertySheetPage(page);
  for (IUnknown* object : {static_cast<IUnknown*>(sheetExt), static_cast<IUnknown*>(init),
                           static_cast<IUnknown*>(factory)})
    if (object)
      object->Release();
  if (!ok)
    std::printf("creating, initialising, adding or showing the page failed\n");
  else if (canUnloadNow() != S_OK) {
    std::printf("DllCanUnloadNow did not answer S_OK with nothing alive\n");
    ok = false;
  }
  FreeLibrary(module);
  return ok;
}

bool Loaded(const std::wstring& dll) {
  HMODULE module = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, dll.c_str(), &module);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2)
    return 2;
  const int cycles = _wtoi(argv[1]);
  const std::wstring dll = BesideThisProgram(L"PELLMORE.DLL");
  InitCommonControls();
  // A shell has these loaded for good; without them every cycle would also
  // load and unload what the module imports.
  for (const char* name : {"advapi32.dll", "ole32.dll", "oleaut32.dll", "shell32.dll"})
    LoadLibraryA(name);

  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  const std::string wav =
      std::string(folder) + "tolvane-cycles-" + std::to_string(GetCurrentProcessId()) + ".wav";
  if (!TWavBuilder().WriteTo(wav, 176400))
    return 2;
  TDropDataObject selection({FromAnsi(wav)});

  const int freeBefore = FreeTlsIndexes();
  SIZE_T settled = 0;
  int stillLoaded = 0;
  int failed = 0;
  for (int cycle = 1; cycle <= cycles && !failed; ++cycle) {
    if (!Cycle(dll, selection, cycle % ShowEvery == 0))
      failed = cycle;
    if (Loaded(dll))
      ++stillLoaded;
    if (cycle == WarmUpCycles)
      settled = PrivateBytes();
  }
  const SIZE_T end = PrivateBytes();
  const int freeAfter = FreeTlsIndexes();
  DeleteFileA(wav.c_str());
  if (failed) {
    std::printf("cycle %d failed\n", failed);
    return 2;
  }

  const long long growth = static_cast<long long>(end) - static_cast<long long>(settled);
  std::printf("cycles: %d, module still loaded after %d of them\n", cycles, stillLoaded);
  std::printf("free TLS indexes: %d before, %d after\n", freeBefore, freeAfter);
  std::printf("private memory: %llu bytes after %d cycles, %llu at the end (%+lld)\n",
              static_cast<unsigned long long>(settled), WarmUpCycles,
              static_cast<unsigned long long>(end), growth);
  const bool held = freeAfter == freeBefore && stillLoaded == 0 && cycles > WarmUpCycles &&
                    growth <= static_cast<long long>(AllowedGrowth);
  return held ? 0 : 1;
}
