// The module this code is linked into: the DLL in the product, the test
// executable in the tests.
#pragma once

#include <windows.h>

#include <string>

HINSTANCE ModuleInstance();

// A string resource of the module; empty when it does not exist.
std::string LoadModuleString(UINT id);

// String resources the frame loads from the module.
constexpr UINT SCreateRegKeyError = 65441; // "Error creating system registry entry"
constexpr UINT SDAXError = 65445;          // "Brasket Error"
