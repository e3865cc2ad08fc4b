// What registering the module would do on this system, found before setup
// changes anything, from the module's own tables of what it writes
// (comserver/class_entries.h, extension/shell_entries.h) and the
// platform's limits on them: the registry states in which its registration
// fails, or the page could never show, are refused.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A registry view the modules write in: its flag for the registry calls and
// its name ("64", "32").
struct TRegistryView {
  REGSAM Flag;
  const wchar_t* Name;
};

// Each architecture's module writes its class in its own registry view: on
// 64-bit Windows both views (the 64-bit one first), whatever this process's
// word size; on 32-bit Windows the one there is.
std::vector<TRegistryView> RegistryViews();

struct TRegistrationPlan {
  // The file type the module hooks (UTF-16 of the key name it writes).
  std::wstring FileType;
  // Registration sets .wav's default value to FileType.
  bool SetsWavDefault = false;
  // Empty when registration can do its work, else one sentence saying why
  // it cannot.
  std::wstring Refusal;
  // The registry views ("64", "32") in which the approval's keys give the
  // access the module asks for: there it writes the approval; elsewhere it
  // goes on without it (where the policy enforces the list, Refusal says
  // so instead).
  std::vector<std::wstring> ApprovalViews;
};

// Where registration's plan is made: the classes it reads (HKEY_CLASSES_ROOT,
// or the machine's for a per-machine package, which Windows does not merge
// with the installing user's) and whether the keys' access lists are asked
// too (not where the caller's rights are not those of what writes them: a
// package's client, which runs with the user's unelevated token).
struct TPlanContext {
  HKEY Classes = HKEY_CLASSES_ROOT;
  bool CheckAccess = true;
};

// Reads the registry only. Where .wav's value is not text, FileType is
// empty; where its name is refused, FileType is the value. Raises
// std::bad_alloc.
//
// Refused: .wav's default value that is not text (or cannot be read); a
// file type whose keys' paths would pass the MAX_PATH characters of the
// ANSI registry calls the module writes through, that the ANSI code page
// cannot hold, or in which a key name would be empty; a key that
// registration creates or opens, in any registry view it writes in, that
// does not open with the module's access (a missing one: its deepest
// existing key does not let keys be made below it). The approval's keys
// count only where the policy EnforceShellExtensionSecurity (machine or
// user) makes the shell consult the approval list: elsewhere a missing
// approval changes nothing, and the module goes on without it. Without
// CheckAccess no key's access refuses, and ApprovalViews is empty.
TRegistrationPlan PlanRegistration(const TPlanContext& context = TPlanContext());

// The shell consults the approval list: the policy EnforceShellExtensionSecurity
// is set, machine's or user's, in a view.
bool ApprovalEnforced();
