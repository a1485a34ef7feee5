// The program folder and its files, opened so that nothing a standard user
// planted there (a junction, a symbolic link, a hard link) can steer where the
// elevated program writes.
#include "common/files.h"

#include <shlobj.h>
#include <wchar.h>

#include "common/text.h"

const FilePlatform kSystemFilePlatform = {
    ImpersonateLoggedOnUser,    RevertToSelf,              CreateFileW,
    GetFileInformationByHandle, GetFinalPathNameByHandleW, CreateDirectoryW,
    ReadFile,                   SetFilePointerEx,          WriteFile,
    FlushFileBuffers,           GetPrivateProfileIntW,     GetPrivateProfileStringW,
    WritePrivateProfileStringW, MoveFileExW,               DeleteFileW,
    CloseHandle,                GetACP,
};

bool ImpersonateUser(HANDLE user_token, const FilePlatform& platform) {
  return user_token != NULL && platform.impersonate(user_token);
}

void StopImpersonating(const FilePlatform& platform) { platform.revert_to_self(); }

bool JoinPath(wchar_t (&path)[MAX_PATH], const wchar_t* folder, const wchar_t* name) {
  ZeroMemory(path, sizeof path);
  if (!FormatBounded(path, MAX_PATH, L"%s\\%s", folder, name)) {
    ZeroMemory(path, sizeof path);
    return false;
  }
  return true;
}

bool GetAppDataFolder(wchar_t (&folder)[MAX_PATH]) {
  ZeroMemory(folder, sizeof folder);
  // A failed lookup can still leave a path in the buffer; trusting it, or
  // falling back to the drive root, would let another user choose where an
  // elevated program reads its settings and writes its log.
  HRESULT result = SHGetFolderPathW(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, folder);
  if (result != S_OK || folder[0] == 0) {
    ZeroMemory(folder, sizeof folder);
    return false;
  }
  return true;
}

bool BuildAppFolderPath(wchar_t (&path)[MAX_PATH]) {
  wchar_t app_data[MAX_PATH];
  if (!GetAppDataFolder(app_data)) {
    ZeroMemory(path, sizeof path);
    return false;
  }
  return JoinPath(path, app_data, L"Quillmere");
}

bool IsPlainEntry(const BY_HANDLE_FILE_INFORMATION& information, bool folder) {
  DWORD attributes = information.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
  if (folder) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // A second name would make a write here land in some other file too.
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && information.nNumberOfLinks == 1;
}

bool FinalPathIs(const wchar_t* final_path, const wchar_t* expected) {
  if (!final_path || !expected || !expected[0]) return false;
  if (wcsncmp(final_path, L"\\\\?\\UNC\\", 8) == 0) {
    if (wcsncmp(expected, L"\\\\", 2) != 0) return false;
    final_path += 8;
    expected += 2;
  } else if (wcsncmp(final_path, L"\\\\?\\", 4) == 0) {
    final_path += 4;
  }
  return CompareStringOrdinal(final_path, -1, expected, -1, TRUE) == CSTR_EQUAL;
}

bool IsSameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

namespace {

bool IsMissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Whether the open handle is a plain entry at exactly `path`.
bool HandleIsPlainAt(HANDLE handle, const wchar_t* path, bool folder, BY_HANDLE_FILE_INFORMATION& information,
                     const FilePlatform& platform) {
  ZeroMemory(&information, sizeof information);
  if (!platform.get_file_information(handle, &information) || !IsPlainEntry(information, folder)) return false;
  wchar_t final_path[MAX_PATH + 8] = {};
  DWORD length = platform.get_final_path(handle, final_path, ARRAYSIZE(final_path),
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  return length > 0 && length < ARRAYSIZE(final_path) && FinalPathIs(final_path, path);
}

FolderOpen OpenFolderHandle(CheckedFolder& folder, const wchar_t* path, const FilePlatform& platform) {
  // Listing access without delete sharing: while the handle is open the
  // folder cannot be renamed away or removed and replaced by a link.
  HANDLE handle = platform.create_file(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return IsMissingError(GetLastError()) ? CHECKED_FOLDER_MISSING : CHECKED_FOLDER_REFUSED;
  BY_HANDLE_FILE_INFORMATION information;
  if (!HandleIsPlainAt(handle, path, true, information, platform)) {
    platform.close_handle(handle);
    return CHECKED_FOLDER_REFUSED;
  }
  folder.handle = handle;
  CopyBounded(folder.path, MAX_PATH, path);
  return CHECKED_FOLDER_OPEN;
}

}  // namespace

FolderOpen OpenCheckedFolder(CheckedFolder& folder, const wchar_t* path, bool create, const FilePlatform& platform) {
  ZeroMemory(&folder, sizeof folder);
  folder.handle = INVALID_HANDLE_VALUE;
  if (!path || !path[0] || wcslen(path) >= MAX_PATH) return CHECKED_FOLDER_REFUSED;
  if (!create) return OpenFolderHandle(folder, path, platform);

  // The parent is held, checked, while the last level is made in it, so the
  // new folder cannot be steered elsewhere by a link further up.
  wchar_t parent_path[MAX_PATH];
  CopyBounded(parent_path, MAX_PATH, path);
  wchar_t* last = wcsrchr(parent_path, L'\\');
  if (!last || last == parent_path || last[-1] == L':' || last[-1] == L'\\') return CHECKED_FOLDER_REFUSED;
  *last = 0;
  CheckedFolder parent = {};
  parent.handle = INVALID_HANDLE_VALUE;
  FolderOpen parent_open = OpenFolderHandle(parent, parent_path, platform);
  if (parent_open != CHECKED_FOLDER_OPEN) return parent_open;
  platform.create_directory(path, nullptr);  // one that is there already is checked below
  FolderOpen opened = OpenFolderHandle(folder, path, platform);
  CloseCheckedFolder(parent, platform);
  return opened;
}

void CloseCheckedFolder(CheckedFolder& folder, const FilePlatform& platform) {
  if (folder.handle != INVALID_HANDLE_VALUE && folder.handle != nullptr) platform.close_handle(folder.handle);
  folder.handle = INVALID_HANDLE_VALUE;
}

HANDLE OpenCheckedFile(const CheckedFolder& folder, const wchar_t* name, DWORD access, DWORD share,
                       DWORD disposition, BY_HANDLE_FILE_INFORMATION& information, bool& missing,
                       const FilePlatform& platform) {
  missing = false;
  ZeroMemory(&information, sizeof information);
  wchar_t path[MAX_PATH];
  if (folder.handle == INVALID_HANDLE_VALUE || folder.handle == nullptr || !JoinPath(path, folder.path, name))
    return INVALID_HANDLE_VALUE;
  HANDLE file = platform.create_file(path, access | FILE_READ_ATTRIBUTES, share, nullptr, disposition,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    missing = IsMissingError(GetLastError());
    return INVALID_HANDLE_VALUE;
  }
  if (!HandleIsPlainAt(file, path, false, information, platform)) {
    platform.close_handle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}
