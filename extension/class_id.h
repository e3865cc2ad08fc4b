// The extension's class identifier.
#pragma once

#include <windows.h>

// TOLVANE_CLASS_ID (identity.h): {241173B6-ABDF-4D59-8A15-476F7A327675}
inline constexpr CLSID CLSID_Tolvane = {
    0x241173B6, 0xABDF, 0x4D59, {0x8A, 0x15, 0x47, 0x6F, 0x7A, 0x32, 0x76, 0x75}};
