// Helpers shared by the test programs: the program folder in the test
// prefix, whole-file reads, and a clean AppState between tests.
#pragma once

#include <windows.h>

#include <string>

// %APPDATA%\Quillmere and a file in it, as the program builds them.
std::wstring AppFolder();
std::wstring AppFile(const wchar_t* name);
// Removes the program folder and everything in it.
void DeleteAppFolder();
// The file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Text of a registry value under HKCU, or empty when it is missing.
std::wstring ReadRunValue(DWORD* type = nullptr, DWORD* bytes = nullptr);
void DeleteRunValue();
// Starts every test from the state a fresh process has.
void ResetAppState();
std::string Narrow(const std::wstring& text);
