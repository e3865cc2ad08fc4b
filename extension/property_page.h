// The dialog procedure of the "Information" page.
#pragma once

#include <windows.h>

// WM_INITDIALOG stores the extension object (the page description's lParam)
// in DWLP_USER and fills the value controls from its file; WM_NOTIFY lets the
// sheet apply and leave the page.
INT_PTR CALLBACK PropExtDlgProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
