// The shell's entries of the extension, as tables: the handler keys below the
// file type that ".wav" names ("WAV.File" when it names none) and below the
// keys that every .wav file's association array holds, and the approval
// entry. Registration writes them, the installers' checks and records walk
// them, the Windows Installer packages' rows are made from them. Portable.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "class_entries.h"

// The file type registration hooks and names in .wav where .wav names none.
inline constexpr char DefaultWavFileType[] = "WAV.File";

// The file type that registration hooks, as .wav's default value decides.
struct TFileType {
  // The key name (ANSI): .wav's value, or DefaultWavFileType where the
  // value is blank (nothing but characters up to ' ') or missing.
  std::string Name;
  // The ANSI code page holds .wav's value whole, so that Name is the key it
  // names; where it does not, registration fails before it writes any shell
  // entry.
  bool InAnsiCodePage;
  // Registration sets .wav's default value to Name.
  bool SetsWavDefault;
};

// Elements of a .wav file's association array that stay whatever program
// the user picks to open .wav files with (that program's type takes the
// place of the one .wav names, and a handler listed only there is gone): the
// element is Anchor + Below, its handler key HandlerKeyOf it. Anchor is a
// key of the system that registration never deletes; the keys between it
// and the handler key unregistration removes where they are left empty.
struct TLastingHook {
  const char* Anchor;
  const char* Below;
};
extern const std::array<TLastingHook, 2> LastingHooks;

// The entries registration writes below HKEY_CLASSES_ROOT for the file type
// and the class (its identifier's text), in their order: .wav's default
// value where it is set, the type's shellex keys and its handler key, then
// the handler key of each lasting hook.
std::vector<TClassesEntry> ShellEntries(const TFileType& fileType, const std::string& classId);

// The handler key below a file type or another element of the array.
std::string HandlerKeyOf(const std::string& element);
std::string HandlerKeyOf(const TLastingHook& hook);

// The approval's keys below HKEY_LOCAL_MACHINE, each created or opened below
// the one before; the last one holds the approval, a value named by the
// class identifier's text with the data ApprovedName.
extern const std::array<const char*, 2> ApprovalKeys;
extern const char* const ApprovedName;

// The last of ApprovalKeys by its whole path.
std::string ApprovedKeyPath();
