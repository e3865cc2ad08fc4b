// The setup program's record of what registering the modules creates among
// the entries that unregistering keeps (shell_entries.h: .wav's default
// value, the keys of the file type and of the lasting hooks, the approval),
// and the removal of exactly that at the uninstall. The record lives in the
// Programs and Features entry's key, in the 64-bit view where there is one.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "registration_checks.h"

// The setup program's Programs and Features entry, below HKEY_LOCAL_MACHINE.
extern const wchar_t* const SetupEntryKey;

// One thing registration creates. Kinds: a key that was missing ("key"), a
// value of a key that existed ("value"), a file type whose handler and
// shell keys are ours ("type", in Path).
struct TRecordItem {
  std::wstring Kind;
  std::wstring View; // "64", "32" or empty for a file type
  std::wstring Root; // "HKCR", "HKLM" or empty
  std::wstring ValueName;
  std::wstring Path;
  bool operator==(const TRecordItem& other) const;
};

// What registration as planned would create now, found by looking at every
// key and value it writes, in each registry view it writes in.
std::vector<TRecordItem> PlannedCreations(const TRegistrationPlan& plan);

// Adds what registration as planned creates to the record, which it makes
// where there is none, before anything is registered: a setup that is killed
// leaves a record that the next setup and the uninstaller use. Where .wav's
// default value is set for the first time, a copy of the value it replaces
// (type and bytes) goes with it. Returns a Win32 error code.
LONG RecordRegistration(const TRegistrationPlan& plan);

// Removes what the record names where nothing else uses it: the handler keys
// of the file types and the lasting hooks, the values registration wrote and
// the keys it created that are left empty, the approval; .wav's default
// value as it was before, while it still names the type set here and that
// type holds nothing of another program. Reads records of earlier setups
// too. Tells the shell that associations changed.
void RemoveRecorded();
