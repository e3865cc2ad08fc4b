// Every message box of the module goes through here, so tests can capture
// them instead of blocking on a modal window.
#pragma once

#include <windows.h>

#include <string>

using TMessageBoxFunction = int(WINAPI*)(HWND owner, LPCSTR text, LPCSTR caption, UINT style);

// Calls MessageBoxA (or the function installed for tests).
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style);

// Installs another function in place of MessageBoxA; returns the previous one.
// Passing nullptr restores MessageBoxA.
TMessageBoxFunction SetMessageBoxFunction(TMessageBoxFunction function);

// Whether a person can see a box the process shows: not in session 0 (where
// services and deployment agents run, since Vista no one looks), and only on
// a window station a person sees; a box shown anywhere else is never
// answered. Each question that cannot be asked counts as seen.
bool BoxesAreSeen();
