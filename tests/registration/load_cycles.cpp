// load_cycles.exe CYCLES [THROWING]
// A shell host that loads PELLMORE.DLL (beside this program), shows a WAV
// file's page and unloads the module again, CYCLES times in one process:
// LoadLibrary, DllGetClassObject, CreateInstance, Initialize, AddPages, the
// page destroyed (every hundredth cycle shown in a property sheet first),
// the object released, DllCanUnloadNow and FreeLibrary. Counts the free
// thread-local storage indexes (TlsAlloc's) and the private memory before and
// after, and prints them. Then THROWING loads in which the module throws and
// catches (DllRegisterServer on a ".wav" default that is no string, in a
// registry sandbox), each unloaded again, counted the same way. The C++
// runtime keeps the exception state in the module's thread_local data, which
// the loader gives a slot of its implicit thread-local storage at each load;
// TlsAlloc's indexes do not show those slots, so every load also reads which
// slot the module got: the same one at every load, or slots are lost. Exits
// with 0 when no index or slot was lost, the private memory did not grow with
// the cycles or with the throwing loads, and every cycle and every throwing
// load unloaded the module; with 1 otherwise and 2 when a cycle went wrong.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "ansi_text.h"
#include "class_id.h"
#include "drop_files_data_object.h"
#include "pellmore_module.h"
#include "property_sheet.h"
#include "registry_sandbox.h"
#include "wav_builder.h"

namespace {

// The heap may still grow while the first cycles settle it.
constexpr int WarmUpCycles = 100;
// What the private memory may gain after the warm-up: a loss of 16 bytes a
// cycle still shows over 5,000 cycles.
constexpr SIZE_T AllowedGrowth = 64 * 1024;
// Under Wine a sheet costs about twenty cycles without one.
constexpr int ShowEvery = 100;

// The slot of the loader's implicit thread-local storage that the module's
// thread_local data got at this load: the index the loader wrote through its
// TLS directory. -1 when the module has no thread_local data.
long ImplicitTlsSlot(HMODULE module) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
  if (directory.VirtualAddress == 0)
    return -1;
  const auto* tls = reinterpret_cast<const IMAGE_TLS_DIRECTORY*>(base + directory.VirtualAddress);
  return static_cast<long>(*reinterpret_cast<const DWORD*>(tls->AddressOfIndex));
}

// The implicit TLS slots the module got, load by load.
struct TSlots {
  long First = -1;
  long Last = -1;
  int Other = 0; // loads that got another slot than the first load
  void Note(HMODULE module) {
    const long slot = ImplicitTlsSlot(module);
    if (First < 0)
      First = slot;
    else if (slot != First)
      ++Other;
    Last = slot;
  }
  bool Kept() const { return First >= 0 && Other == 0; }
};

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

// One load, page and unload; false, with a message, when a step failed.
bool Cycle(TDropDataObject& selection, bool show, TSlots& slots) {
  TPellmoreModule module;
  slots.Note(module.Handle());
  IClassFactory* factory = nullptr;
  IShellExtInit* init = nullptr;
  IShellPropSheetExt* sheetExt = nullptr;
  TPageList pages;
  bool ok =
      module.DllGetClassObject(CLSID_Tolvane, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)) == S_OK &&
      factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)) ==
          S_OK &&
      init->Initialize(nullptr, &selection, nullptr) == S_OK &&
      init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&sheetExt)) == S_OK &&
      sheetExt->AddPages(KeepPage, reinterpret_cast<LPARAM>(&pages)) == S_OK && pages.Count == 1;
  if (ok && show) {
    TModelessSheet sheet(pages.Pages, 1, "Properties");
    ok = sheet.CurrentPage() != nullptr;
  } else if (ok) {
    ok = DestroyPropertySheetPage(pages.Pages[0]);
  } else {
    for (UINT i = 0; i < pages.Count; ++i)
      DestroyPropertySheetPage(pages.Pages[i]);
  }
  for (IUnknown* object : {static_cast<IUnknown*>(sheetExt), static_cast<IUnknown*>(init),
                           static_cast<IUnknown*>(factory)})
    if (object)
      object->Release();
  if (!ok)
    std::printf("creating, initialising, adding or showing the page failed\n");
  else if (module.DllCanUnloadNow() != S_OK) {
    std::printf("DllCanUnloadNow did not answer S_OK with nothing alive\n");
    ok = false;
  }
  return ok;
}

bool Loaded(const std::string& dll) {
  HMODULE module = nullptr;
  return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, dll.c_str(), &module);
}

struct TThrowingLoads {
  int Failed = 0;      // the first load whose calls went wrong, or 0
  int StillLoaded = 0; // loads after which the module stayed in the process
  SIZE_T Settled = 0;  // private memory after the warm-up
  TSlots Slots;
};

TThrowingLoads ThrowingLoads(const std::string& dll, int loads) {
  TThrowingLoads result;
  TRegistrySandbox sandbox;
  SetValue(HKEY_CLASSES_ROOT, ".wav", "", REG_DWORD, std::string("\x07\0\0\0", 4));
  for (int load = 1; load <= loads && !result.Failed; ++load) {
    {
      TPellmoreModule module;
      result.Slots.Note(module.Handle());
      if (module.DllRegisterServer() != E_FAIL || module.DllCanUnloadNow() != S_OK)
        result.Failed = load;
    }
    if (Loaded(dll))
      ++result.StillLoaded;
    if (load == WarmUpCycles)
      result.Settled = PrivateBytes();
  }
  return result;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3)
    return 2;
  const int cycles = std::atoi(argv[1]);
  const int throwing = argc == 3 ? std::atoi(argv[2]) : 0;
  const std::string dll = BuiltModulePath();
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
  TSlots slots;
  for (int cycle = 1; cycle <= cycles && !failed; ++cycle) {
    try {
      if (!Cycle(selection, cycle % ShowEvery == 0, slots))
        failed = cycle;
    } catch (const std::runtime_error& e) {
      std::printf("%s\n", e.what());
      failed = cycle;
    }
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
  std::printf("implicit TLS slot: %ld at the first load, %ld at the last, another at %d loads\n",
              slots.First, slots.Last, slots.Other);
  std::printf("private memory: %llu bytes after %d cycles, %llu at the end (%+lld)\n",
              static_cast<unsigned long long>(settled), WarmUpCycles,
              static_cast<unsigned long long>(end), growth);
  bool held = freeAfter == freeBefore && slots.Kept() && stillLoaded == 0 &&
              cycles > WarmUpCycles && growth <= static_cast<long long>(AllowedGrowth);

  if (throwing > 0) {
    TThrowingLoads loads;
    try {
      loads = ThrowingLoads(dll, throwing);
    } catch (const std::runtime_error& e) {
      std::printf("%s\n", e.what());
      loads.Failed = -1;
    }
    if (loads.Failed) {
      std::printf("throwing load %d failed\n", loads.Failed);
      return 2;
    }
    const SIZE_T atEnd = PrivateBytes();
    const int freeAtEnd = FreeTlsIndexes();
    const long long throwingGrowth =
        static_cast<long long>(atEnd) - static_cast<long long>(loads.Settled);
    std::printf("loads that throw: %d, module still loaded after %d of them\n", throwing,
                loads.StillLoaded);
    std::printf("free TLS indexes after them: %d\n", freeAtEnd);
    std::printf("implicit TLS slot: %ld at the first of them, %ld at the last, another at %d\n",
                loads.Slots.First, loads.Slots.Last, loads.Slots.Other);
    std::printf("private memory: %llu bytes after %d of them, %llu at the end (%+lld)\n",
                static_cast<unsigned long long>(loads.Settled), WarmUpCycles,
                static_cast<unsigned long long>(atEnd), throwingGrowth);
    held = held && freeAtEnd == freeAfter && loads.Slots.Kept() && loads.StillLoaded == 0 &&
           throwing > WarmUpCycles && throwingGrowth <= static_cast<long long>(AllowedGrowth);
  }
  return held ? 0 : 1;
}
