// Registering the shell's entries of the extension (shell_entries.h): the
// handler keys and, on Windows NT, the approval entry.
#pragma once

#include <windows.h>

#include <string>

#include "registration.h"
#include "shell_entries.h"

// dwPlatformId of GetVersionExA, read once at start-up by ReadPlatformId; 0
// when the call fails. The approval entry is written only on the NT platform
// (2). Tests set it to play other platforms.
extern DWORD PlatformId;

// Sets PlatformId; called once, at start-up.
void ReadPlatformId();

// .wav's default value as stored (TRegKey::ReadString) below classes (the
// installers read the machine's classes); empty where there is no key or
// value. Raises Exception where the value is not text or cannot be read: the
// registration fails then.
std::wstring WavDefaultValue(HKEY classes = HKEY_CLASSES_ROOT);

TFileType FileTypeOf(const std::wstring& wavDefault);

// The access with which registration creates or opens the approval's keys.
constexpr REGSAM ApprovalAccess = KEY_ALL_ACCESS;

// Windows NT lists the shell extensions the administrator allows: the
// approval of the class (its identifier's text), its keys made or opened
// with ApprovalAccess in the registry view (0: the caller's). Raises
// Exception "Failed to set data for '<class>'" where a key or the value
// cannot be had.
void WriteApproval(const std::string& classId, REGSAM view = 0);

// Writes the shell entries of the class, or (unregistering) removes its
// handler keys: the one below the file type .wav names and those of the
// lasting hooks with their parents that are left empty. A failure is
// reported in a message box; it passes on when a handler key could not be
// written, not when only the approval failed. A file type name that the
// ANSI code page cannot hold fails the registration before any shell entry
// is written. Either way the shell is told that associations changed.
void UpdateShellRegistration(REFCLSID classId, bool registering);
