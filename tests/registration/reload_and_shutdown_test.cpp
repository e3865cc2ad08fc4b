// The built PELLMORE.DLL loaded again after an unload, and taken down: at an
// unload, and when a process ends while its threads are inside the module.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "class_id.h"
#include "import_patch.h"
#include "pellmore_module.h"
#include "unique_handle.h"

namespace {

TEST(PellmoreReload, StartsWithFreshCountersAfterAnUnload) {
  {
    TPellmoreModule module;
    void* factory = nullptr;
    ASSERT_EQ(module.DllGetClassObject(CLSID_Tolvane, IID_IClassFactory, &factory), S_OK);
    EXPECT_EQ(module.DllCanUnloadNow(), S_FALSE);
    // Unloaded with the reference still out, as a careless host would.
  }
  TPellmoreModule module;
  EXPECT_EQ(module.DllCanUnloadNow(), S_OK);
  void* factory = nullptr;
  ASSERT_EQ(module.DllGetClassObject(CLSID_Tolvane, IID_IClassFactory, &factory), S_OK);
  EXPECT_EQ(static_cast<IClassFactory*>(factory)->Release(), 0u);
}

// The module's imports of FreeLibrary, recorded.
namespace FreeLibraryWatch {
decltype(&FreeLibrary) Platform = nullptr;
std::vector<HMODULE> Freed;
BOOL WINAPI Record(HMODULE module) {
  Freed.push_back(module);
  return Platform(module);
}
} // namespace FreeLibraryWatch

TEST(PellmoreShutDown, AnUnloadTearsTheModuleDownAndLetsGoOfOleAut32) {
  const std::string path = BuiltModulePath();
  ASSERT_EQ(GetModuleHandleA(path.c_str()), nullptr) << "the unload below must be the last";
  HMODULE module = LoadLibraryA(path.c_str());
  ASSERT_NE(module, nullptr);
  // Not restored: the patched table goes with the module.
  FreeLibraryWatch::Platform = reinterpret_cast<decltype(&FreeLibrary)>(PatchImport(
      module, "KERNEL32.dll", "FreeLibrary", reinterpret_cast<void*>(FreeLibraryWatch::Record)));
  ASSERT_NE(FreeLibraryWatch::Platform, nullptr);
  FreeLibraryWatch::Freed.clear();
  const HMODULE oleAut = GetModuleHandleA("OLEAUT32.DLL"); // held since the start-up
  ASSERT_NE(oleAut, nullptr);

  ASSERT_TRUE(FreeLibrary(module));
  EXPECT_EQ(std::count(FreeLibraryWatch::Freed.begin(), FreeLibraryWatch::Freed.end(), oleAut), 1);
}

std::string BesideTheTests(const std::string& name) {
  const std::string module = BuiltModulePath();
  return module.substr(0, module.find_last_of('\\') + 1) + name;
}

// A process that ends kills its other threads first, perhaps inside the
// factory list's lock; the module must not wait for that lock then.
TEST(PellmoreShutDown, AProcessEndingWhileThreadsFetchTheFactoryEndsEveryTime) {
  std::string command =
      "\"" + BesideTheTests("exit_while_busy.exe") + "\" \"" + BuiltModulePath() + "\"";
  for (int run = 1; run <= 20 && !HasFailure(); ++run) {
    SCOPED_TRACE(run);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info));
    TKernelHandle process(info.hProcess), thread(info.hThread);
    const DWORD waited = WaitForSingleObject(process.get(), 10000);
    if (waited == WAIT_TIMEOUT)
      TerminateProcess(process.get(), 99);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the process hung on its way out";
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
  }
}

} // namespace
