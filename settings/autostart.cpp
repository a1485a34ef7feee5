// Start at logon: the "Quillmere" value under the current user's Run key,
// and a Task Scheduler task of this user's own ("Quillmere <SID>") that
// starts the program elevated. With UAC on, Windows skips programs that need
// elevation in the Run key, so only the task starts Quillmere there; with
// UAC off both start it and the single-instance guard ends the second copy.
// Here the pieces are bound in the order a start follows: whose desktop
// this is (desktop_account.cpp), which exe, judged by who may change it
// (common/exe_trust.h), then each entry written or removed (run_value.cpp,
// logon_task.cpp); and what the user is told.
#include "settings/settings.h"

#include "common/language.h"
#include "settings/settings_internal.h"

#include <wchar.h>

const ExeAccessPlatform kSystemExeAccessPlatform = {&kSystemExeTrustPlatform, SystemShellUser};

namespace {

bool RemoveLogonEntries(bool user_known, const wchar_t* sid, const TaskScheduler& scheduler) {
  bool run_value_removed = SetRunValue(false, NULL, 0);
  bool task_removed = user_known && UpdateLogonTask(sid, NULL, scheduler);
  return run_value_removed && task_removed;
}

}  // namespace

AutostartResult SetAutostart(bool enable, const TaskScheduler& scheduler, const ExeAccessPlatform& exe_access,
                             AutostartAccounts& accounts) {
  ZeroMemory(&accounts, sizeof accounts);
  wchar_t sid[SID_TEXT_CAPACITY];
  bool user_known = GetProcessUserSid(sid);
  SidBuffer user_buffer;
  PSID user = ReadProcessUser(user_buffer) ? user_buffer.bytes : NULL;
  SidBuffer shell_user;
  ShellUser shell = exe_access.shell_user(shell_user);
  DesktopAccount desktop = MatchDesktopAccount(shell, shell_user.bytes, user);
  // Run as another account than the desktop's (an administrator's password
  // typed at a standard user's prompt): whatever entries that account has
  // were written and judged on its own desktop, and writing here would start,
  // as that account, a file the desktop's user chose. Nothing is written or
  // removed.
  if (desktop == DESKTOP_OTHER) {
    AccountName(user, accounts.process);
    if (shell == SHELL_USER_READ) AccountName(shell_user.bytes, accounts.signed_in);
    return AUTOSTART_OTHER_ACCOUNT;
  }
  if (!enable) return RemoveLogonEntries(user_known, sid, scheduler) ? AUTOSTART_DONE : AUTOSTART_FAILED;
  // With no shell yet (a start at logon ahead of it), whose desktop this is
  // cannot be told: nothing is written, but an entry the exe may no longer
  // have is removed, which needs no desktop.
  const bool may_write = desktop == DESKTOP_OURS;
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  // GetModuleFileNameW answers MAX_PATH when it had to cut the path.
  if (length == 0 || length >= MAX_PATH) return AUTOSTART_FAILED;
  // Each entry starts the exe as this user, the task elevated without a
  // prompt: the Run value only for an exe that no other account can change,
  // the task only for one that only the administrators can. An entry that
  // may not be is removed, as one of ours left from a start in another
  // place or with other permissions.
  wchar_t judged[MAX_PATH];
  ExeTrust trust;
  wchar_t command[MAX_PATH + 2];
  if (!TrustedExePath(judged, trust, path, user, *exe_access.trust) ||
      !BuildRunCommand(command, judged, static_cast<DWORD>(wcslen(judged)))) {
    if (!RemoveLogonEntries(user_known, sid, scheduler)) return AUTOSTART_FAILED;
    return may_write ? AUTOSTART_NEITHER : AUTOSTART_ACCOUNT_UNKNOWN;
  }
  if (!trust.task) {
    bool run_value_written = !may_write || SetRunValue(true, command, static_cast<DWORD>(wcslen(command)));
    bool task_removed = user_known && UpdateLogonTask(sid, NULL, scheduler);
    if (!run_value_written || !task_removed) return AUTOSTART_FAILED;
    return may_write ? AUTOSTART_RUN_VALUE_ONLY : AUTOSTART_ACCOUNT_UNKNOWN;
  }
  if (!may_write) return AUTOSTART_ACCOUNT_UNKNOWN;
  bool run_value_written = SetRunValue(true, command, static_cast<DWORD>(wcslen(command)));
  wchar_t xml[TASK_XML_CAPACITY];
  bool task_registered = user_known && BuildTaskXml(xml, sid, command) && UpdateLogonTask(sid, xml, scheduler);
  return run_value_written && task_registered ? AUTOSTART_DONE : AUTOSTART_FAILED;
}

AutostartNotice AutostartNoticeFor(bool was_on, bool on, AutostartResult result) {
  switch (result) {
    case AUTOSTART_FAILED:
      return AUTOSTART_NOTICE_FAILED;
    // Whenever start at logon is on, or has just been switched: off all
    // along, there is nothing this run was asked to change.
    case AUTOSTART_OTHER_ACCOUNT:
      return on || was_on ? AUTOSTART_NOTICE_OTHER_ACCOUNT : AUTOSTART_NOTICE_NONE;
    // Whose desktop it is shows once the shell is there, and the setting is
    // applied again then. Started at logon ahead of the shell, nothing to
    // tell.
    case AUTOSTART_ACCOUNT_UNKNOWN:
      return was_on ? AUTOSTART_NOTICE_NONE : AUTOSTART_NOTICE_FAILED;
    case AUTOSTART_NEITHER:
      return was_on ? AUTOSTART_NOTICE_NONE : AUTOSTART_NOTICE_NOT_TRUSTED;
    case AUTOSTART_RUN_VALUE_ONLY:
      return was_on ? AUTOSTART_NOTICE_NONE : AUTOSTART_NOTICE_NOT_ELEVATED;
    case AUTOSTART_DONE:
      break;
  }
  return AUTOSTART_NOTICE_NONE;
}

bool FormatOtherAccountNotice(wchar_t* text, size_t capacity, const AutostartAccounts& accounts) {
  wchar_t this_account[64], signed_in_user[64];
  LoadText(IDS_THIS_ACCOUNT, this_account);
  LoadText(IDS_SIGNED_IN_USER, signed_in_user);
  return FormatText(text, capacity, IDS_NOTICE_OTHER_ACCOUNT, accounts.process[0] ? accounts.process : this_account,
                    accounts.signed_in[0] ? accounts.signed_in : signed_in_user);
}
