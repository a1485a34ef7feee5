// Which account this process runs as, and whose desktop it is on: the
// user of the process behind the desktop's shell. Start at logon asks it
// before it writes or removes anything (autostart.cpp).
#include "settings/settings_internal.h"

#include <sddl.h>
#include <wchar.h>

#include "common/text.h"

namespace {

// The user of an open token (TOKEN_QUERY), copied out of the TOKEN_USER
// record and the SID that follows it.
bool ReadTokenUser(HANDLE token, SidBuffer& sid) {
  alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  return GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
         CopySid(sizeof sid.bytes, sid.bytes, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
}

// The user of the process that owns `window`.
ShellUser WindowUser(HWND window, SidBuffer& sid) {
  DWORD process_id = 0;
  if (!GetWindowThreadProcessId(window, &process_id) || !process_id) return SHELL_USER_UNREADABLE;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (!process) return SHELL_USER_UNREADABLE;
  HANDLE token = NULL;
  bool read = OpenProcessToken(process, TOKEN_QUERY, &token) != FALSE;
  CloseHandle(process);
  if (!read) return SHELL_USER_UNREADABLE;
  read = ReadTokenUser(token, sid);
  CloseHandle(token);
  return read ? SHELL_USER_READ : SHELL_USER_UNREADABLE;
}

}  // namespace

bool ReadProcessUser(SidBuffer& sid) {
  ZeroMemory(sid.bytes, sizeof sid.bytes);
  // The token, not USERNAME and USERDOMAIN: the environment is whatever the
  // parent process handed on.
  HANDLE token = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  bool read = ReadTokenUser(token, sid);
  CloseHandle(token);
  return read;
}

bool GetProcessUserSid(wchar_t (&sid_text)[SID_TEXT_CAPACITY]) {
  ZeroMemory(sid_text, sizeof sid_text);
  SidBuffer sid;
  wchar_t* text = NULL;
  if (!ReadProcessUser(sid) || !ConvertSidToStringSidW(sid.bytes, &text)) return false;
  bool fits = wcslen(text) < SID_TEXT_CAPACITY;
  if (fits) wcscpy(sid_text, text);
  LocalFree(text);
  return fits;
}

// The desktop's user: the one the shell runs as. Its desktop window, or
// where the shell has set none (Wine's never does), its taskbar, which
// Windows' shell runs in the same process.
ShellUser SystemShellUser(SidBuffer& sid) {
  ZeroMemory(sid.bytes, sizeof sid.bytes);
  HWND shell = GetShellWindow();
  if (!shell) shell = FindWindowW(L"Shell_TrayWnd", NULL);
  return shell ? WindowUser(shell, sid) : SHELL_NONE;
}

DesktopAccount MatchDesktopAccount(ShellUser shell, PSID shell_user, PSID process_user) {
  // No shell yet, as at a start at logon ahead of it: nothing tells whose
  // desktop this is, so nothing is written or removed.
  if (shell == SHELL_NONE || !process_user) return DESKTOP_UNKNOWN;
  // A shell whose user cannot be read is another account's: a process may
  // always read its own user's.
  if (shell != SHELL_USER_READ || !shell_user || !IsValidSid(shell_user)) return DESKTOP_OTHER;
  return EqualSid(shell_user, process_user) ? DESKTOP_OURS : DESKTOP_OTHER;
}

// An account as people read it: "DOMAIN\name", the name alone where it has
// no domain, or its SID's text where it has no name.
void AccountName(PSID sid, wchar_t (&name)[ACCOUNT_NAME_CAPACITY]) {
  ZeroMemory(name, sizeof name);
  if (!sid) return;
  wchar_t account[257] = {};
  wchar_t domain[257] = {};
  DWORD account_length = ARRAYSIZE(account);
  DWORD domain_length = ARRAYSIZE(domain);
  SID_NAME_USE use;
  if (LookupAccountSidW(NULL, sid, account, &account_length, domain, &domain_length, &use) && account[0]) {
    if (domain[0]) FormatBounded(name, ACCOUNT_NAME_CAPACITY, L"%s\\%s", domain, account);
    else FormatBounded(name, ACCOUNT_NAME_CAPACITY, L"%s", account);
    return;
  }
  wchar_t* text = NULL;
  if (!ConvertSidToStringSidW(sid, &text)) return;
  FormatBounded(name, ACCOUNT_NAME_CAPACITY, L"%s", text);
  LocalFree(text);
}

