// The system's own libraries and the process's elevation.
#pragma once

#include <windows.h>

// Loads a DLL from the System32 folder only, never from the exe's folder.
HMODULE LoadSystemLibrary(const wchar_t* name);
bool IsProcessElevated();
