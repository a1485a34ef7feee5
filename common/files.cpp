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
    CloseHandle,                GetACP,                    SHGetFolderPathW,
    GetComputerNameExW,
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

namespace {

bool IsPathLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// The length of the path's name up to the next backslash or its end.
size_t NameLength(const wchar_t* name) {
  size_t length = 0;
  while (name[length] && name[length] != L'\\') ++length;
  return length;
}

bool NameIs(const wchar_t* name, size_t length, const wchar_t* other) {
  return CompareStringOrdinal(name, static_cast<int>(length), other, -1, TRUE) == CSTR_EQUAL;
}

// IPv4 in dotted digits whose first part is 127 (loopback) or 0 (this
// host), in any of the short forms Windows reads.
bool IsLocalIpv4(const wchar_t* name, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (!(name[i] == L'.' || (name[i] >= L'0' && name[i] <= L'9'))) return false;
  size_t first = 0;
  while (first < length && name[first] != L'.') ++first;
  return NameIs(name, first, L"127") || NameIs(name, first, L"0");
}

// A server name that reaches this machine.
bool IsThisMachine(const wchar_t* server, size_t length, const MachineNames& own) {
  // "localhost." is "localhost".
  if (length > 1 && server[length - 1] == L'.') --length;
  if (NameIs(server, length, L"localhost") || IsLocalIpv4(server, length)) return true;
  // IPv6 literals ("[::1]", "0--1.ipv6-literal.net") are refused whole:
  // telling this machine's own addresses among them takes more than a name.
  if (wmemchr(server, L':', length) || wmemchr(server, L'[', length)) return true;
  const wchar_t literal[] = L".ipv6-literal.net";
  const size_t literal_length = ARRAYSIZE(literal) - 1;
  if (length > literal_length && NameIs(server + length - literal_length, literal_length, literal)) return true;
  for (const wchar_t* name : own.names)
    if (name[0] && NameIs(server, length, name)) return true;
  return false;
}

}  // namespace

void ReadMachineNames(MachineNames& own, const FilePlatform& platform) {
  ZeroMemory(&own, sizeof own);
  const COMPUTER_NAME_FORMAT formats[] = {ComputerNameNetBIOS, ComputerNameDnsHostname,
                                          ComputerNameDnsFullyQualified};
  for (size_t i = 0; i < ARRAYSIZE(formats); ++i) {
    DWORD size = ARRAYSIZE(own.names[i]);
    if (!platform.get_computer_name(formats[i], own.names[i], &size) || size >= ARRAYSIZE(own.names[i]))
      ZeroMemory(own.names[i], sizeof own.names[i]);
  }
}

bool IsDriveOrSharePath(const wchar_t* path, const MachineNames& own) {
  if (!path || !path[0] || wcschr(path, L'/')) return false;
  size_t length = wcslen(path);
  if (path[length - 1] == L'\\') return false;
  if (IsPathLetter(path[0]) && path[1] == L':' && path[2] == L'\\') return length > 3;
  if (path[0] != L'\\' || path[1] != L'\\') return false;
  const wchar_t* server = path + 2;
  size_t server_length = NameLength(server);
  // "\\?\" and "\\.\" are the device and long-path forms, not a server.
  if (server_length == 0 || NameIs(server, server_length, L"?") || NameIs(server, server_length, L".") ||
      server[server_length] != L'\\' || IsThisMachine(server, server_length, own))
    return false;
  const wchar_t* share = server + server_length + 1;
  size_t share_length = NameLength(share);
  // A server's named pipes and mailslots are reached as these two shares;
  // "C$", "ADMIN$" and the like are for administrators' remote work only.
  return share_length > 0 && !NameIs(share, share_length, L"pipe") && !NameIs(share, share_length, L"mailslot") &&
         share[share_length - 1] != L'$';
}

AppFolderLookup GetAppDataFolder(wchar_t (&folder)[MAX_PATH], HANDLE user_token, const FilePlatform& platform) {
  ZeroMemory(folder, sizeof folder);
  if (!ImpersonateUser(user_token, platform)) return APP_FOLDER_REFUSED;
  HRESULT result = platform.get_folder_path(NULL, CSIDL_APPDATA, user_token, SHGFP_TYPE_CURRENT, folder);
  StopImpersonating(platform);
  // A failed lookup can still leave a path in the buffer; trusting it, or
  // falling back to the drive root, would let another user choose where an
  // elevated program reads its settings and writes its log.
  AppFolderLookup lookup = APP_FOLDER_FOUND;
  if (result != S_OK || folder[0] == 0) {
    lookup = APP_FOLDER_NONE;
  } else if (!wmemchr(folder, 0, MAX_PATH)) {
    lookup = APP_FOLDER_REFUSED;
  } else {
    MachineNames own = {};
    // Only a share path names a machine.
    if (folder[0] == L'\\') ReadMachineNames(own, platform);
    if (!IsDriveOrSharePath(folder, own)) lookup = APP_FOLDER_REFUSED;
  }
  if (lookup != APP_FOLDER_FOUND) ZeroMemory(folder, sizeof folder);
  return lookup;
}

AppFolderLookup BuildAppFolderPath(wchar_t (&path)[MAX_PATH], HANDLE user_token, const FilePlatform& platform) {
  wchar_t app_data[MAX_PATH];
  AppFolderLookup lookup = GetAppDataFolder(app_data, user_token, platform);
  if (lookup != APP_FOLDER_FOUND) {
    ZeroMemory(path, sizeof path);
    return lookup;
  }
  return JoinPath(path, app_data, L"Quillmere") ? APP_FOLDER_FOUND : APP_FOLDER_NONE;
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
