// The module's calls that throw and catch inside it, in a host that holds
// more than 1,024 modules, and while another thread loads and frees modules.
// On i686 exceptions unwind through DWARF tables, and the unwinder has to
// find the module of every frame; it used to list the process's modules into
// an array of 1,024 handles (reading past it in a host with more) and read
// each one's headers while other threads could unload them, which crashed
// the host in both cases. It now asks the loader for the module of an
// address. x64 and ARM64 unwind through the system's tables; the same cases
// run there too.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "case_name.h"
#include "event_log.h"
#include "message_box_capture.h"
#include "pellmore_module.h"
#include "registry_sandbox.h"
#include "temp_files.h"
#include "throwing_calls.h"

namespace {

std::string Hex(HRESULT result) {
  std::ostringstream text;
  text << "0x" << std::hex << static_cast<unsigned long>(result);
  return text.str();
}

// A call of the module that throws inside it, made `times` times in a row;
// what went wrong, or nothing when every call returned E_FAIL as it should.
// BesideTheChurn: how many times while another thread loads and frees
// modules.
struct TThrowingCall {
  const char* Name;
  std::string (*Repeat)(TPellmoreModule& module, int times);
  int BesideTheChurn;
};

std::string FailingRegistrations(TPellmoreModule& module, int times) {
  TRegistrySandbox sandbox;
  TMessageBoxCapture boxes(module.Handle());
  if (!boxes.Active())
    return "the module's boxes are not captured";
  SetWavTypeToANumber();
  for (int call = 1; call <= times; ++call) {
    const HRESULT result = module.DllRegisterServer();
    if (result != E_FAIL)
      return "registration " + std::to_string(call) + " returned " + Hex(result);
  }
  if (!boxes.Boxes().empty())
    return "a failed registration showed a box";
  return "";
}

std::string FailingAddPages(TPellmoreModule& module, int times) {
  TMessageBoxCapture boxes(module.Handle());
  TFailingModuleAllocation failure(module.Handle());
  TExtension extension(module);
  if (!boxes.Active() || !failure.Active() || !extension.Pages)
    return "the module's boxes, its malloc or its extension object are not ready";
  for (int call = 1; call <= times; ++call) {
    failure.Arm();
    int pages = 0;
    const HRESULT result = extension.Pages->AddPages(CountPage, reinterpret_cast<LPARAM>(&pages));
    if (result != E_FAIL || !failure.Fired() || pages != 0)
      return "AddPages " + std::to_string(call) + " returned " + Hex(result) + " with " +
             std::to_string(pages) + " pages" + (failure.Fired() ? "" : ", allocating nothing");
  }
  const TCapturedBoxes shown = boxes.Boxes();
  const TCapturedBox outOfMemory{nullptr, "AddPages Out of memory", "Error", MB_OK};
  if (shown != TCapturedBoxes(size_t(times), outOfMemory))
    return std::to_string(shown.size()) + " boxes for " + std::to_string(times) +
           " failed AddPages, or other boxes";
  return "";
}

// Both throw the same way; a registration's registry calls go through the
// Wine server and cost twenty times an AddPages (1.5 ms on x86), so the
// 10,000 throws are AddPages's, and 2,000 registrations take as long. Under
// the ARM64 platform's emulation the Wine server is emulated too, and a
// registration took 2 to 10 ms: 500 there keep the batch of all
// registration cases far below its time limit.
#if defined(__aarch64__)
constexpr int RegistrationsBesideTheChurn = 500;
#else
constexpr int RegistrationsBesideTheChurn = 2000;
#endif
const TThrowingCall ThrowingCalls[] = {
    {"ARegistrationOfAWavTypeThatIsANumber", FailingRegistrations, RegistrationsBesideTheChurn},
    {"AddPagesWhoseAllocationFails", FailingAddPages, 10000},
};

std::string ExecutableFolder() {
  const std::string module = BuiltModulePath();
  return module.substr(0, module.find_last_of('\\') + 1);
}

// Copies of crowd_member.dll (built beside this program), each under a name
// of its own in a folder of the test's, which goes with them: Wine loads
// hard links of one file as one module.
class TCopies {
public:
  explicit TCopies(int count) {
    std::ifstream file(ExecutableFolder() + "crowd_member.dll", std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>()};
    if (bytes.empty())
      return;
    for (int copy = 1; copy <= count; ++copy) {
      std::wstring path = FFolder.Write(L"member" + std::to_wstring(copy) + L".dll", bytes);
      if (path.empty())
        break;
      FPaths.push_back(path);
    }
  }
  // Empty when crowd_member.dll or a copy could not be written.
  const std::vector<std::wstring>& Paths() const { return FPaths; }

private:
  TTempFolder FFolder;
  std::vector<std::wstring> FPaths;
};

// Loads every copy, and frees them when it goes (before the copies go).
class TLoadedCopies {
public:
  explicit TLoadedCopies(const TCopies& copies) {
    for (const std::wstring& path : copies.Paths())
      if (HMODULE module = LoadLibraryW(path.c_str()))
        FModules.push_back(module);
  }
  ~TLoadedCopies() {
    for (HMODULE module : FModules)
      FreeLibrary(module);
  }
  TLoadedCopies(const TLoadedCopies&) = delete;
  TLoadedCopies& operator=(const TLoadedCopies&) = delete;
  size_t Count() const { return FModules.size(); }

private:
  std::vector<HMODULE> FModules;
};

size_t ModulesOfTheProcess() {
  DWORD bytes = 0;
  if (!EnumProcessModules(GetCurrentProcess(), nullptr, 0, &bytes))
    return 0;
  return bytes / sizeof(HMODULE);
}

// More than the 1,024 handles the unwinder used to list modules into.
constexpr int CrowdSize = 1030;

// Loading a thousand modules takes seconds: one crowd for every call.
TEST(HostOfMoreThan1024Modules, EveryThrowingCallReturnsEFail) {
  TCopies copies(CrowdSize);
  TLoadedCopies crowd(copies);
  ASSERT_EQ(crowd.Count(), size_t(CrowdSize)) << "not every copy of crowd_member.dll loaded";
  // The module comes after the crowd in the loader's list, where the array
  // of 1,024 ended long before.
  TPellmoreModule module;
  ASSERT_GT(ModulesOfTheProcess(), 1024u);
  for (const TThrowingCall& call : ThrowingCalls)
    EXPECT_EQ(call.Repeat(module, 10), "") << call.Name;
}

// A thread that loads and frees copies of crowd_member.dll in a row until it
// is stopped; counts its loads that failed.
class TModuleChurn {
public:
  explicit TModuleChurn(const TCopies& copies) : FThread([this, &copies] { Run(copies); }) {}
  ~TModuleChurn() { Stop(); }
  TModuleChurn(const TModuleChurn&) = delete;
  TModuleChurn& operator=(const TModuleChurn&) = delete;

  // Waits (bounded) until the thread has loaded and freed every copy once.
  bool Running() { return FLog.WaitFor("every copy loaded and freed"); }
  // Stops the thread and waits for it.
  void Stop() {
    FStop = true;
    if (FThread.joinable())
      FThread.join();
  }
  int FailedLoads() const { return FFailed; }
  long long Cycles() const { return FCycles; }

private:
  void Run(const TCopies& copies) {
    const std::vector<std::wstring>& paths = copies.Paths();
    for (size_t next = 0; !FStop && !paths.empty(); next = (next + 1) % paths.size()) {
      if (HMODULE module = LoadLibraryW(paths[next].c_str()))
        FreeLibrary(module);
      else
        ++FFailed;
      if (++FCycles == static_cast<long long>(paths.size()))
        FLog.Add("every copy loaded and freed");
    }
  }

  std::atomic<bool> FStop{false};
  std::atomic<int> FFailed{0};
  std::atomic<long long> FCycles{0};
  TEventLog FLog;
  std::thread FThread;
};

class WhileAnotherThreadLoadsAndFreesModules : public ::testing::TestWithParam<TThrowingCall> {};

TEST_P(WhileAnotherThreadLoadsAndFreesModules, EveryCallReturnsEFail) {
  TPellmoreModule module;
  TCopies copies(16);
  ASSERT_EQ(copies.Paths().size(), 16u);
  TModuleChurn churn(copies);
  ASSERT_TRUE(churn.Running());
  // The churn goes on until every call has returned.
  const std::string problem = GetParam().Repeat(module, GetParam().BesideTheChurn);
  churn.Stop();
  EXPECT_EQ(problem, "");
  EXPECT_EQ(churn.FailedLoads(), 0);
  std::printf("%d calls beside %lld loads and frees\n", GetParam().BesideTheChurn, churn.Cycles());
}

INSTANTIATE_TEST_SUITE_P(Module, WhileAnotherThreadLoadsAndFreesModules,
                         ::testing::ValuesIn(ThrowingCalls), TCaseName());

} // namespace
