// module_load.exe DLL [CYCLES]
// What a shell pays to load the module and let it go again: LoadLibrary,
// DllCanUnloadNow and FreeLibrary, CYCLES times (10,000 by default), with the
// system DLLs the module imports already held, as they are in a shell.
// Prints the time of one cycle in microseconds: the median of five rounds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2)
    return 2;
  const int cycles = argc > 2 ? std::atoi(argv[2]) : 10000;
  for (const char* name : {"advapi32.dll", "comctl32.dll", "ole32.dll", "oleaut32.dll",
                           "shell32.dll", "user32.dll"})
    LoadLibraryA(name);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> rounds;
  for (int round = 0; round < 5; ++round) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int cycle = 0; cycle < cycles; ++cycle) {
      HMODULE module = LoadLibraryA(argv[1]);
      if (!module) {
        std::printf("cannot load %s: %lu\n", argv[1], GetLastError());
        return 1;
      }
      auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
          reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
      if (!canUnload || canUnload() != S_OK)
        return 1;
      FreeLibrary(module);
    }
    QueryPerformanceCounter(&end);
    rounds.push_back(1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
                     static_cast<double>(frequency.QuadPart) / cycles);
  }
  std::sort(rounds.begin(), rounds.end());
  std::printf("%.2f us per load and free (rounds: %.2f to %.2f)\n", rounds[2], rounds.front(),
              rounds.back());
  return 0;
}
