// The program folder, %APPDATA%\Quillmere, and its files opened through
// checked handles.
#pragma once

#include <windows.h>

// folder + "\" + name; false (and empty) when it does not fit whole, since a
// cut path names some other file.
bool JoinPath(wchar_t (&path)[MAX_PATH], const wchar_t* folder, const wchar_t* name);

// Files in the program folder. The program runs elevated in a folder that
// any program of the user may change, so every file is opened without
// following a link and checked through its handle before anything is written
// or read: no link (reparse point), no folder where a file belongs, no file
// with a second name (a hard link), and the handle names exactly the path
// that was asked for, so no link further up steered the open either. A check
// that fails behaves like a missing folder: nothing written, the program goes
// on. Each operation there runs whole under the user's own rights
// (ImpersonateUser below). The calls, gathered so that a test can play links
// and see whose rights each ran with; the program always hands over
// kSystemFilePlatform.
struct FilePlatform {
  BOOL(WINAPI* impersonate)(HANDLE token);
  BOOL(WINAPI* revert_to_self)();
  HANDLE(WINAPI* create_file)(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE template_file);
  BOOL(WINAPI* get_file_information)(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
  DWORD(WINAPI* get_final_path)(HANDLE file, LPWSTR path, DWORD capacity, DWORD flags);
  BOOL(WINAPI* create_directory)(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
  BOOL(WINAPI* read_file)(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped);
  BOOL(WINAPI* set_file_pointer)(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method);
  BOOL(WINAPI* write_file)(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped);
  BOOL(WINAPI* flush_file)(HANDLE file);
  UINT(WINAPI* get_profile_int)(LPCWSTR section, LPCWSTR key, INT fallback, LPCWSTR path);
  DWORD(WINAPI* get_profile_string)(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR value, DWORD capacity,
                                    LPCWSTR path);
  BOOL(WINAPI* write_profile_string)(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR path);
  BOOL(WINAPI* move_file)(LPCWSTR from, LPCWSTR to, DWORD flags);
  BOOL(WINAPI* delete_file)(LPCWSTR path);
  BOOL(WINAPI* close_handle)(HANDLE handle);
  UINT(WINAPI* get_code_page)();  // the system's ANSI code page, which text without a mark is read in
  HRESULT(WINAPI* get_folder_path)(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path);
  BOOL(WINAPI* get_computer_name)(COMPUTER_NAME_FORMAT format, LPWSTR name, LPDWORD size);
};
extern const FilePlatform kSystemFilePlatform;

// The program folder is the user's: a program of theirs can turn it into a
// junction after any check, and every call that names a path then follows
// it. So each operation in it runs while the thread impersonates the user's
// own token (MakeUserRightsToken), and wherever a link points, the program
// reaches only what the user already could. ImpersonateUser before the
// operation's first file call, StopImpersonating right after its last, with
// no message handled in between. False, with nothing to undo, without a
// token or when the thread cannot take it: the operation then touches no file.
bool ImpersonateUser(HANDLE user_token, const FilePlatform& platform);
void StopImpersonating(const FilePlatform& platform);

// This machine's own names (NetBIOS, DNS host, fully qualified DNS), each
// empty where the system gives none.
struct MachineNames {
  wchar_t names[3][256];
};
void ReadMachineNames(MachineNames& own, const FilePlatform& platform);
// Whether a folder path the user's registry gave is one the program may go
// into: a drive's ("C:\x") or a share's ("\\server\share\x"), with no
// trailing backslash and no forward slash. Device and long-path forms
// ("\\?\", "\\.\"), the pipe and mailslot namespaces of a server,
// administrative shares (any share name ending in "$", as "C$"), a server
// that is this machine (localhost, a loopback address, an IPv6 literal, or
// one of `own`), relative and empty paths are not: through a share on this
// machine, files would be reached with the rights of the session's network
// logon rather than the user's token.
bool IsDriveOrSharePath(const wchar_t* path, const MachineNames& own);
enum AppFolderLookup {
  APP_FOLDER_FOUND,
  APP_FOLDER_NONE,     // the system names no roaming folder, or the path would not fit: nothing is kept on disk
  APP_FOLDER_REFUSED,  // no way to look as the user, or the folder named is no drive or share path
};
// The user's roaming application-data folder, looked up while the thread
// impersonates `user_token` and with that token (the path comes from the
// user's registry, and the lookup may touch what it names). Empty unless
// APP_FOLDER_FOUND.
AppFolderLookup GetAppDataFolder(wchar_t (&folder)[MAX_PATH], HANDLE user_token, const FilePlatform& platform);
// %APPDATA%\Quillmere, looked up as GetAppDataFolder does.
AppFolderLookup BuildAppFolderPath(wchar_t (&path)[MAX_PATH], HANDLE user_token, const FilePlatform& platform);

// Whether a handle's information shows what the program may go through: a
// plain folder when `folder`, otherwise a plain file with one name.
bool IsPlainEntry(const BY_HANDLE_FILE_INFORMATION& information, bool folder);
// Whether the path GetFinalPathNameByHandleW gave ("\\?\C:\x",
// "\\?\UNC\server\share\x") is `expected` ("C:\x", "\\server\share\x"),
// ignoring letter case as the file system does.
bool FinalPathIs(const wchar_t* final_path, const wchar_t* expected);
// Both handles' information names the same file.
bool IsSameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b);

// A folder held open while files in it are written or read: it cannot be
// renamed, removed or swapped for a link meanwhile.
struct CheckedFolder {
  HANDLE handle;
  wchar_t path[MAX_PATH];
};
enum FolderOpen { CHECKED_FOLDER_OPEN, CHECKED_FOLDER_MISSING, CHECKED_FOLDER_REFUSED };
// Opens the folder at `path` checked; with `create`, a missing last level is
// made first (inside its checked parent). On anything but CHECKED_FOLDER_OPEN the
// record holds no handle.
FolderOpen OpenCheckedFolder(CheckedFolder& folder, const wchar_t* path, bool create,
                             const FilePlatform& platform);
void CloseCheckedFolder(CheckedFolder& folder, const FilePlatform& platform);
// Opens `name` in the held folder without following a link, and keeps the
// handle only if it is a plain file with one name at exactly that path.
// FILE_READ_ATTRIBUTES is added to `access`. INVALID_HANDLE_VALUE otherwise;
// `missing` tells a file that is not there from one that was refused.
HANDLE OpenCheckedFile(const CheckedFolder& folder, const wchar_t* name, DWORD access, DWORD share,
                       DWORD disposition, BY_HANDLE_FILE_INFORMATION& information, bool& missing,
                       const FilePlatform& platform);
