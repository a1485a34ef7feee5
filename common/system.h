// The system's own libraries, the process's elevation, and the contrast mode.
#pragma once

#include <windows.h>

// Loads a DLL from the System32 folder only, never from the exe's folder.
HMODULE LoadSystemLibrary(const wchar_t* name);
bool IsProcessElevated();
// Whether the user's theme is a high-contrast one.
bool IsHighContrastOn();
