// module_load.exe ROUNDS CYCLES DLL...
// What a shell pays to load a module and let it go again: LoadLibrary,
// DllCanUnloadNow and FreeLibrary, with the system DLLs the module imports
// already held, as they are in a shell. The DLLs take turns cycle by cycle
// in one process (each turn starting one DLL further on), so that a busy
// machine's changing load reaches all of them alike and cancels out of
// their ratios. A round is CYCLES cycles of each DLL; the ratios are taken
// round by round.
// Prints, over the ROUNDS rounds, the median and quartiles of each DLL's time
// of one cycle in microseconds, and of the last DLL's time divided by each
// other DLL's time of the same round:
//   NAME MEDIAN Q1 Q3 us
//   LASTNAME/NAME MEDIAN Q1 Q3
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Function = HRESULT(STDAPICALLTYPE*)();

// Microseconds for one load-and-free cycle of PATH, or a negative number
// when the DLL cannot be loaded or would not be unloaded.
double timeCycle(const char* path, const LARGE_INTEGER& frequency) {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  HMODULE module = LoadLibraryA(path);
  if (!module) {
    std::printf("cannot load %s: %lu\n", path, GetLastError());
    return -1;
  }
  auto canUnload = reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  if (!canUnload || canUnload() != S_OK) {
    std::printf("%s does not agree to be unloaded\n", path);
    return -1;
  }
  FreeLibrary(module);
  QueryPerformanceCounter(&end);
  return 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

// The value below which a fraction `at` of the sorted values lie,
// interpolated between neighbours.
double quantile(const std::vector<double>& sorted, double at) {
  const double position = at * static_cast<double>(sorted.size() - 1);
  const auto below = static_cast<size_t>(position);
  if (below + 1 >= sorted.size())
    return sorted.back();
  const double part = position - static_cast<double>(below);
  return sorted[below] + part * (sorted[below + 1] - sorted[below]);
}

void printSpread(const std::string& name, std::vector<double> values, int decimals,
                 const char* unit) {
  std::sort(values.begin(), values.end());
  std::printf("%s %.*f %.*f %.*f%s\n", name.c_str(), decimals, quantile(values, 0.5), decimals,
              quantile(values, 0.25), decimals, quantile(values, 0.75), unit);
}

std::string fileName(const char* path) {
  const char* name = path;
  for (const char* c = path; *c; ++c)
    if (*c == '\\' || *c == '/')
      name = c + 1;
  return name;
}

} // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 0;
  const int cycles = argc > 2 ? std::atoi(argv[2]) : 0;
  if (argc < 4 || rounds < 1 || cycles < 1) {
    std::printf("usage: module_load.exe ROUNDS CYCLES DLL...\n");
    return 2;
  }
  const std::vector<const char*> dlls(argv + 3, argv + argc);
  const size_t count = dlls.size();
  for (const char* name :
       {"advapi32.dll", "comctl32.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "user32.dll"})
    LoadLibraryA(name);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  // Untimed turns first: the first loads of a file cost more (file cache,
  // Wine's first mapping of it).
  for (int cycle = 0; cycle < 1 + cycles / 10; ++cycle)
    for (const char* dll : dlls)
      if (timeCycle(dll, frequency) < 0)
        return 1;
  std::vector<std::vector<double>> times(count); // [dll][round], microseconds per cycle
  for (int round = 0; round < rounds; ++round) {
    std::vector<double> sums(count);
    for (int cycle = 0; cycle < cycles; ++cycle) {
      for (size_t turn = 0; turn < count; ++turn) {
        const size_t dll = (static_cast<size_t>(cycle) + turn) % count;
        const double us = timeCycle(dlls[dll], frequency);
        if (us < 0)
          return 1;
        sums[dll] += us;
      }
    }
    for (size_t dll = 0; dll < count; ++dll)
      times[dll].push_back(sums[dll] / cycles);
  }
  for (size_t dll = 0; dll < count; ++dll)
    printSpread(fileName(dlls[dll]), times[dll], 1, " us");
  const std::string last = fileName(dlls.back());
  for (size_t dll = 0; dll + 1 < count; ++dll) {
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round)
      ratios.push_back(times.back()[round] / times[dll][round]);
    printSpread(last + "/" + fileName(dlls[dll]), ratios, 3, "");
  }
  return 0;
}
