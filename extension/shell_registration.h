// The shell's entries of the extension: the handler key below the file type
// that ".wav" names ("WAV.File" when it names none) and, on Windows NT, the
// approval entry.
#pragma once

#include <windows.h>

// dwPlatformId of GetVersionExA, read once at start-up by ReadPlatformId; 0
// when the call fails. The approval entry is written only on the NT platform
// (2). Tests set it to play other platforms.
extern DWORD PlatformId;

// Sets PlatformId; called once, at start-up.
void ReadPlatformId();

// Writes the shell entries of the class, or (unregistering) removes only the
// handler key of the file type. A failure is reported in a message box; it
// passes on when the hook itself could not be written, not when only the
// approval failed. A file type name that the ANSI code page cannot hold fails
// the registration before any shell entry is written.
void UpdateShellRegistration(REFCLSID classId, bool registering);
