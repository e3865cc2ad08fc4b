// The wavinfo tool: the Information page's facts for any number of files, as
// aligned text or as one JSON object per line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// A path as the platform hands it over: UTF-16 on Windows (names outside the
// ANSI code page load too), bytes elsewhere.
#ifdef _WIN32
using TPath = std::wstring;
#else
using TPath = std::string;
#endif

enum TExitStatus { ExitAllValid = 0, ExitSomeNotValid = 1, ExitUsage = 2 };

// Runs the tool on its arguments (the program name excluded).
int RunWavinfo(const std::vector<TPath>& arguments, std::ostream& out, std::ostream& err);

// The path as written to the output: UTF-8 on Windows, its bytes elsewhere.
std::string PathText(const TPath& path);

// A JSON string literal for UTF-8 text. Bytes that are not part of valid UTF-8
// (paths may hold any) become the escapes \udc80 to \udcff, one per byte, so
// a reader can recover them.
std::string JsonString(const std::string& text);
