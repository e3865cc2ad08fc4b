// Text between the system's ANSI code page and UTF-16.
#pragma once

#include <windows.h>

#include <string>

// Room for an ANSI path: MAX_PATH characters, the terminating zero and one
// more, so that a longer path shows as cut.
constexpr DWORD AnsiPathRoom = MAX_PATH + 2;

// The text in the ANSI code page; what the code page lacks becomes its
// best-fit or default character.
std::string ToAnsi(const std::wstring& text);

// The ANSI text in UTF-16.
std::wstring FromAnsi(const std::string& text);
