// The shell's entries of the extension: the handler key below the file type
// that ".wav" names ("WAV.File" when it names none) and, on Windows NT, the
// approval entry.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "registration.h"

// dwPlatformId of GetVersionExA, read once at start-up by ReadPlatformId; 0
// when the call fails. The approval entry is written only on the NT platform
// (2). Tests set it to play other platforms.
extern DWORD PlatformId;

// Sets PlatformId; called once, at start-up.
void ReadPlatformId();

// The file type that registration hooks, as .wav's default value decides.
struct TFileType {
  // The key name (ANSI): .wav's value, or "WAV.File" where the value is
  // blank (nothing but characters up to ' ') or missing.
  std::string Name;
  // The ANSI code page holds .wav's value whole, so that Name is the key it
  // names; where it does not, registration fails before it writes any shell
  // entry.
  bool InAnsiCodePage;
  // Registration sets .wav's default value to Name.
  bool SetsWavDefault;
};

// .wav's default value as stored (TRegKey::ReadString); empty where there is
// no key or value. Raises Exception where the value is not text or cannot be
// read: the registration fails then.
std::wstring WavDefaultValue();

TFileType FileTypeOf(const std::wstring& wavDefault);

// The entries registration writes below HKEY_CLASSES_ROOT for the file type
// and the class (ClassIdToText), in their order: .wav's default value where
// it is set, the type's shellex keys and the handler key.
std::vector<TClassesEntry> ShellEntries(const TFileType& fileType, const std::string& classId);

// The approval's keys below HKEY_LOCAL_MACHINE, each created or opened with
// ApprovalAccess below the one before; the last one holds the approval.
extern const std::array<const char*, 2> ApprovalKeys;
constexpr REGSAM ApprovalAccess = KEY_ALL_ACCESS;

// Writes the shell entries of the class, or (unregistering) removes only the
// handler key of the file type. A failure is reported in a message box; it
// passes on when the hook itself could not be written, not when only the
// approval failed. A file type name that the ANSI code page cannot hold fails
// the registration before any shell entry is written.
void UpdateShellRegistration(REFCLSID classId, bool registering);
