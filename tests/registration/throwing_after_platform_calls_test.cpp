// The module's paths that throw and catch, entered right after system calls
// that under ARM64 Wine may return with x18 changed or zero (the test sees
// whether one did). Windows on ARM keeps the thread's TEB in x18 at all
// times, and the C++ runtime reaches the thread's exception state through it
// when the module throws. Debian's arm64 Wine builds its DLLs as Linux
// libraries, some of which use x18 freely; a call that reaches the Wine
// server (the registry, say) sets it again. Each case makes the call and
// enters the module at once.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>
#include <winternl.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "case_name.h"
#include "class_id.h"
#include "drop_files_data_object.h"
#include "import_patch.h"
#include "message_box_capture.h"
#include "pellmore_module.h"
#include "property_sheet.h"
#include "registry_sandbox.h"

namespace {

// A system call, and what undoes its effects once the module has returned.
struct TPlatformCall {
  const char* Name;
  void (*Call)();
  void (*Undo)();
};

// What the calls work on, made beforehand.
std::string GModulePath;
HMODULE GModule = nullptr;
std::vector<BYTE> GVersionInfo;
HWND GSheet = nullptr;

void Nothing() {}

void VersionInfoSize() {
  DWORD handle = 0;
  GetFileVersionInfoSizeA(GModulePath.c_str(), &handle);
}

void VersionInfo() {
  GetFileVersionInfoA(GModulePath.c_str(), 0, static_cast<DWORD>(GVersionInfo.size()),
                      GVersionInfo.data());
}

void LossyNameToAnsi() {
  // Cyrillic and CJK letters: no single-byte Western code page holds them.
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_ACP, 0, L"\x0417\x0432\x0443\x043A-\x97F3.wav", -1, nullptr, 0, nullptr,
                      &lossy);
}

void MissingString() {
  char text[64];
  LoadStringA(GModule, 1, text, sizeof text);
}

void ModuleHandle() {
  GetModuleHandleA("USER32.dll");
}

void ModelessSheet() {
  HPROPSHEETPAGE page = CreateHostPage("General");
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_MODELESS;
  header.pszCaption = "Properties";
  header.nPages = 1;
  header.phpage = &page;
  GSheet = reinterpret_cast<HWND>(PropertySheetA(&header));
}

void CloseSheet() {
  if (GSheet)
    DestroyWindow(GSheet);
  GSheet = nullptr;
}

const TPlatformCall PlatformCalls[] = {
    {"GetFileVersionInfoSizeA", VersionInfoSize, Nothing},
    {"GetFileVersionInfoA", VersionInfo, Nothing},
    {"WideCharToMultiByteOfALossyName", LossyNameToAnsi, Nothing},
    {"LoadStringAOfAMissingId", MissingString, Nothing},
    {"GetModuleHandleA", ModuleHandle, Nothing},
    {"PropertySheetA", ModelessSheet, CloseSheet},
};

#if defined(__aarch64__)
// The thread's TEB, asked of the system: x18 itself may be off already.
void* ThreadEnvironmentBlock() {
  struct {
    NTSTATUS ExitStatus;
    void* TebBaseAddress;
    CLIENT_ID ClientId;
    KAFFINITY AffinityMask;
    LONG Priority;
    LONG BasePriority;
  } basic{};
  NtQueryInformationThread(GetCurrentThread(), ThreadBasicInformation, &basic, sizeof basic,
                           nullptr);
  return basic.TebBaseAddress;
}
#endif

// Makes the call with x18 as Windows keeps it, the thread's TEB (only ARM64
// has x18), then at once `enter`; undoes the call's effects after.
template <class TEnter>
auto RightAfter(const TPlatformCall& call, TEnter enter) -> decltype(enter()) {
#if defined(__aarch64__)
  void* teb = ThreadEnvironmentBlock();
  __asm__ volatile("mov x18, %0" : : "r"(teb));
#endif
  call.Call();
  auto result = enter();
  call.Undo();
  return result;
}

// Whether the call returns with x18 other than the TEB. x18 is set again
// after, as Windows keeps it.
bool LeavesX18Changed(const TPlatformCall& call) {
#if defined(__aarch64__)
  void* teb = ThreadEnvironmentBlock();
  bool changed = RightAfter(call, [teb] {
    void* after = nullptr;
    __asm__ volatile("mov %0, x18" : "=r"(after));
    return after != teb;
  });
  __asm__ volatile("mov x18, %0" : : "r"(teb));
  return changed;
#else
  (void)call;
  return false;
#endif
}

class RightAfterAPlatformCall : public ::testing::TestWithParam<TPlatformCall> {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    GModulePath = BuiltModulePath();
    GModule = Module.Handle();
    DWORD handle = 0;
    GVersionInfo.resize(GetFileVersionInfoSizeA(GModulePath.c_str(), &handle));
    ASSERT_FALSE(GVersionInfo.empty());
  }
  void TearDown() override { CoUninitialize(); }

  TPellmoreModule Module;
};

TEST_P(RightAfterAPlatformCall, ARegistrationThatFailsReturnsEFail) {
  TRegistrySandbox sandbox;
  TMessageBoxCapture boxes(Module.Handle());
  ASSERT_TRUE(boxes.Active());
  // A ".wav" default that is no string: the registration throws.
  SetValue(HKEY_CLASSES_ROOT, ".wav", "", REG_DWORD, std::string("\x07\0\0\0", 4));

  const HRESULT result = RightAfter(GetParam(), [&] { return Module.DllRegisterServer(); });

  EXPECT_EQ(result, E_FAIL);
  EXPECT_TRUE(boxes.Boxes().empty());
}

// The module's first allocation after Arm() fails, through its import of
// malloc; the others reach the platform.
class TFailingModuleAllocation {
public:
  explicit TFailingModuleAllocation(HMODULE module)
      : FPatch(module, "msvcrt.dll", "malloc", reinterpret_cast<void*>(Allocate), &GPlatform) {}
  ~TFailingModuleAllocation() { GArmed = false; }
  bool Active() const { return FPatch.Original() != nullptr; }
  void Arm() { GArmed = true; }
  bool Fired() const { return !GArmed; }

private:
  static void* Allocate(size_t size) {
    if (GArmed.exchange(false))
      return nullptr;
    return reinterpret_cast<decltype(&std::malloc)>(GPlatform)(size);
  }
  static inline std::atomic<bool> GArmed{false};
  static inline void* GPlatform = nullptr;
  TImportPatch FPatch;
};

BOOL CALLBACK CountPage(HPROPSHEETPAGE, LPARAM lParam) {
  ++*reinterpret_cast<int*>(lParam);
  return TRUE;
}

// The module's extension object for one .wav file, as the shell holds it
// when it asks for pages.
class TExtension {
public:
  explicit TExtension(TPellmoreModule& module) {
    void* factory = nullptr;
    if (module.DllGetClassObject(CLSID_Tolvane, IID_IClassFactory, &factory) != S_OK)
      return;
    static_cast<IClassFactory*>(factory)->CreateInstance(nullptr, IID_IShellExtInit,
                                                         reinterpret_cast<void**>(&FInit));
    static_cast<IClassFactory*>(factory)->Release();
    if (FInit && FInit->Initialize(nullptr, &FSelection, nullptr) == S_OK)
      FInit->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&Pages));
  }
  ~TExtension() {
    if (Pages)
      Pages->Release();
    if (FInit)
      FInit->Release();
  }
  TExtension(const TExtension&) = delete;
  TExtension& operator=(const TExtension&) = delete;

  IShellPropSheetExt* Pages = nullptr;

private:
  TDropDataObject FSelection{{L"C:\\Sounds\\song.wav"}};
  IShellExtInit* FInit = nullptr;
};

// AddPages with the module's first allocation failing, right after `call`.
struct TAddPagesOutcome {
  bool Ready = false; // boxes captured, malloc replaced, the object initialised
  bool Fired = false;
  HRESULT Result = E_UNEXPECTED;
  int Pages = 0;
  TCapturedBoxes Boxes;
};

TAddPagesOutcome AddPagesRightAfter(TPellmoreModule& module, const TPlatformCall& call) {
  TMessageBoxCapture boxes(module.Handle());
  TFailingModuleAllocation failure(module.Handle());
  TExtension extension(module);
  TAddPagesOutcome outcome;
  if (!boxes.Active() || !failure.Active() || !extension.Pages)
    return outcome;
  outcome.Ready = true;
  failure.Arm();
  outcome.Result = RightAfter(call, [&] {
    return extension.Pages->AddPages(CountPage, reinterpret_cast<LPARAM>(&outcome.Pages));
  });
  outcome.Fired = failure.Fired();
  outcome.Boxes = boxes.Boxes();
  return outcome;
}

// Ends the process with the exception's code when the exception was raised
// in the module, with 1 when elsewhere. Wine would otherwise start its
// debugger, which cannot attach, and the death test's parent would wait for
// ever.
LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* exception) {
  const auto* base = reinterpret_cast<const BYTE*>(GModule);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const auto* at = static_cast<const BYTE*>(exception->ExceptionRecord->ExceptionAddress);
  const bool inModule = at >= base && at < base + headers->OptionalHeader.SizeOfImage;
  TerminateProcess(GetCurrentProcess(), inModule ? exception->ExceptionRecord->ExceptionCode : 1);
  return EXCEPTION_EXECUTE_HANDLER;
}

TEST_P(RightAfterAPlatformCall, AnAllocationThatFailsInAddPagesShowsTheBoxWhereX18IsKept) {
  if (LeavesX18Changed(GetParam())) {
    // ARM64 Wine: nothing between the call and the throw reaches the Wine
    // server, and the C++ runtime's first read through x18 faults. The
    // platform's fault, not the module's (README, Windows on ARM64).
    EXPECT_EXIT(
        {
          SetUnhandledExceptionFilter(EndWithExceptionCode);
          AddPagesRightAfter(Module, GetParam());
        },
        ::testing::ExitedWithCode(static_cast<int>(STATUS_ACCESS_VIOLATION)), "");
    return;
  }
  const TAddPagesOutcome outcome = AddPagesRightAfter(Module, GetParam());
  ASSERT_TRUE(outcome.Ready);
  EXPECT_TRUE(outcome.Fired) << "AddPages allocated nothing";
  EXPECT_EQ(outcome.Result, E_FAIL);
  EXPECT_EQ(outcome.Pages, 0);
  EXPECT_EQ(outcome.Boxes, (TCapturedBoxes{{nullptr, "AddPages Out of memory", "Error", MB_OK}}));
}

INSTANTIATE_TEST_SUITE_P(Module, RightAfterAPlatformCall, ::testing::ValuesIn(PlatformCalls),
                         TCaseName());

} // namespace
