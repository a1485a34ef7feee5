#include "tests/support.h"

#include <shlobj.h>

#include "app/app.h"

std::wstring AppFolder() {
  wchar_t folder[MAX_PATH] = {};
  SHGetFolderPathW(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, folder);
  return std::wstring(folder) + L"\\Quillmere";
}

std::wstring AppFile(const wchar_t* name) { return AppFolder() + L"\\" + name; }

void DeleteAppFolder() {
  std::wstring folder = AppFolder();
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryW(path.c_str());
      else
        DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, NULL) && read > 0) bytes.append(chunk, read);
  CloseHandle(file);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL) && written == bytes.size();
  CloseHandle(file);
  return ok;
}

static const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring ReadRunValue(DWORD* type, DWORD* bytes) {
  wchar_t data[1024] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  DWORD value_type = 0;
  LONG result = RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Quillmere", RRF_RT_ANY | RRF_NOEXPAND, &value_type, data,
                             &size);
  if (type) *type = result == ERROR_SUCCESS ? value_type : 0;
  if (bytes) *bytes = result == ERROR_SUCCESS ? size : 0;
  return result == ERROR_SUCCESS ? std::wstring(data) : std::wstring();
}

void DeleteRunValue() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Quillmere"); }

void ResetAppState() { app = AppState{}; }

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}
