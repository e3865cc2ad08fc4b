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

// Whether the process's window station is one a person sees: a box shown on
// any other (a service's, a deployment agent's) is never answered. True when
// the station cannot be asked.
bool WindowStationIsVisible();
