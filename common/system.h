// The system's own libraries, the process's elevation and the contrast theme.
#pragma once

#include <windows.h>

// Loads a DLL from the System32 folder only, never from the exe's folder.
HMODULE LoadSystemLibrary(const wchar_t* name);
bool IsProcessElevated();
// Whether a high-contrast theme is on (SPI_GETHIGHCONTRAST); false when
// the system cannot say.
bool IsHighContrastOn();
