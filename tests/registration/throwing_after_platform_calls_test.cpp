// The module's paths that throw and catch, entered right after system calls
// that under ARM64 Wine may return with x18 changed or zero (the test sees
// whether one did). Windows on ARM keeps the thread's TEB in x18 at all
// times, and the C++ runtime reaches the thread's exception state through it
// when the module throws. Debian's arm64 Wine builds its DLLs as Linux
// libraries, some of which use x18 freely; a call that reaches the Wine
// server (the registry, say) sets it again. Each case makes the call and
// enters the module at once; x86 and x64, without x18, need one case.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>
#include <winternl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "case_name.h"
#include "message_box_capture.h"
#include "pellmore_module.h"
#include "property_sheet.h"
#include "registry_sandbox.h"
#include "throwing_calls.h"

namespace {

// A system call, and what undoes its effects once the module has returned.
struct TPlatformCall {
  const char* Name;
  void (*Call)();
  void (*Undo)();
};

void Nothing() {}

void ModuleHandle() {
  GetModuleHandleA("USER32.dll");
}

#if defined(__aarch64__)
// What the calls work on, made beforehand.
std::string GModulePath;
HMODULE GModule = nullptr;
std::vector<BYTE> GVersionInfo;
HWND GSheet = nullptr;

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
#else
// x86 and x64 have no x18: whatever the call, the module is entered in the
// same state, and one row stands for them all.
const TPlatformCall PlatformCalls[] = {
    {"GetModuleHandleA", ModuleHandle, Nothing},
};
#endif

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

#if defined(__aarch64__)
// Whether the call returns with x18 other than the TEB. x18 is set again
// after, as Windows keeps it.
bool LeavesX18Changed(const TPlatformCall& call) {
  void* teb = ThreadEnvironmentBlock();
  bool changed = RightAfter(call, [teb] {
    void* after = nullptr;
    __asm__ volatile("mov %0, x18" : "=r"(after));
    return after != teb;
  });
  __asm__ volatile("mov x18, %0" : : "r"(teb));
  return changed;
}
#endif

class RightAfterAPlatformCall : public ::testing::TestWithParam<TPlatformCall> {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
#if defined(__aarch64__)
    GModulePath = BuiltModulePath();
    GModule = Module.Handle();
    DWORD handle = 0;
    GVersionInfo.resize(GetFileVersionInfoSizeA(GModulePath.c_str(), &handle));
    ASSERT_FALSE(GVersionInfo.empty());
#endif
  }
  void TearDown() override {
    CoUninitialize();
  }

  TPellmoreModule Module;
};

TEST_P(RightAfterAPlatformCall, ARegistrationThatFailsReturnsEFail) {
  TRegistrySandbox sandbox;
  TMessageBoxCapture boxes(Module.Handle());
  ASSERT_TRUE(boxes.Active());
  SetWavTypeToANumber();

  const HRESULT result = RightAfter(GetParam(), [&] { return Module.DllRegisterServer(); });

  EXPECT_EQ(result, E_FAIL);
  EXPECT_TRUE(boxes.Boxes().empty());
}

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

#if defined(__aarch64__)
// The thread's TEB, taken before the call: at the fault x18 holds whatever
// the call left there.
void* GTeb = nullptr;

bool InModule(const void* address) {
  const auto* base = reinterpret_cast<const BYTE*>(GModule);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const auto* at = static_cast<const BYTE*>(address);
  return at >= base && at < base + headers->OptionalHeader.SizeOfImage;
}

// Ends the process with STATUS_ACCESS_VIOLATION when the exception is the
// fault the platform causes: the module reading the TEB's thread-local
// storage pointer (at offset 0x58) through an x18 that is not the TEB, zero
// (a read at 0x58) or a small number. Any other exception, a fault of the
// module's own among them, ends it with 1. Both say on stderr what they saw.
// Wine would otherwise start its debugger, which cannot attach, and the death
// test's parent would wait for ever.
LONG WINAPI EndOnThePlatformsFault(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
  const auto x18 = static_cast<unsigned long long>(exception->ContextRecord->X[18]);
  const auto teb = static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(GTeb));
  const bool violation =
      record.ExceptionCode == STATUS_ACCESS_VIOLATION && record.NumberParameters >= 2;
  const unsigned long long address = violation ? record.ExceptionInformation[1] : 0;
  const bool platforms =
      violation && InModule(record.ExceptionAddress) && x18 != teb && address == x18 + 0x58;
  char text[200];
  const int length = std::snprintf(
      text, sizeof text, "%s: exception 0x%08lx at %p, x18 0x%llx, TEB 0x%llx, address 0x%llx\n",
      platforms ? "the platform's fault" : "not the platform's fault",
      static_cast<unsigned long>(record.ExceptionCode), record.ExceptionAddress, x18, teb, address);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
  TerminateProcess(GetCurrentProcess(), platforms ? STATUS_ACCESS_VIOLATION : 1);
  return EXCEPTION_EXECUTE_HANDLER;
}
#endif

TEST_P(RightAfterAPlatformCall, AnAllocationThatFailsInAddPagesShowsTheBoxWhereX18IsKept) {
#if defined(__aarch64__)
  if (LeavesX18Changed(GetParam())) {
    // ARM64 Wine: nothing between the call and the throw reaches the Wine
    // server, and the C++ runtime's first read through x18 faults. The
    // platform's fault, not the module's (README, Windows on ARM64); any
    // other end fails.
    EXPECT_EXIT(
        {
          GTeb = ThreadEnvironmentBlock();
          SetUnhandledExceptionFilter(EndOnThePlatformsFault);
          AddPagesRightAfter(Module, GetParam());
        },
        ::testing::ExitedWithCode(static_cast<int>(STATUS_ACCESS_VIOLATION)),
        "the platform's fault: ");
    return;
  }
#endif
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
