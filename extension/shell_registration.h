// The shell's entries of the extension: the handler key below the file type
// that ".wav" names and, on Windows NT, the approval entry.
#pragma once

#include <windows.h>

#include <string>

// dwPlatformId of GetVersionExA, read once at start-up; 0 when the call
// fails. The approval entry is written only on the NT platform (2). Tests set
// it to play other platforms.
extern DWORD PlatformId;

// The file type that ".wav" names below HKEY_CLASSES_ROOT, "WAV.File" when it
// names none. Raises when the default value of ".wav" cannot be read or is not
// a string.
std::string WavFileType();

// Writes the shell entries of the class, or (unregistering) removes only the
// handler key of the file type. A failure is reported in a message box; it
// passes on when the hook itself could not be written, not when only the
// approval failed.
void UpdateShellRegistration(REFCLSID classId, bool registering);
