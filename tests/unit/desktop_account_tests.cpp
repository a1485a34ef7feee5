// Whose desktop this is: the process's own user, and the match with the
// shell's.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>

#include "settings/settings_internal.h"
#include "tests/support.h"
#include "tests/support/logon_entries.h"

TEST(TaskName, IsThisUsers) {
  wchar_t sid[SID_TEXT_CAPACITY];
  ASSERT_TRUE(GetProcessUserSid(sid));
  wchar_t name[TASK_NAME_CAPACITY];
  ASSERT_TRUE(BuildTaskName(name, sid));
  EXPECT_EQ(std::wstring(name), UserTaskName());
  // The SID names this process's account, which the environment it
  // inherited names too.
  PSID parsed = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(sid, &parsed));
  wchar_t account[256] = {}, domain[256] = {};
  DWORD account_length = 256, domain_length = 256;
  SID_NAME_USE use;
  ASSERT_TRUE(LookupAccountSidW(nullptr, parsed, account, &account_length, domain, &domain_length, &use));
  LocalFree(parsed);
  wchar_t env_domain[256] = {}, env_name[256] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"USERDOMAIN", env_domain, 256), 0u);
  ASSERT_GT(GetEnvironmentVariableW(L"USERNAME", env_name, 256), 0u);
  EXPECT_EQ(_wcsicmp(domain, env_domain), 0) << Narrow(domain);
  EXPECT_EQ(_wcsicmp(account, env_name), 0) << Narrow(account);
}

TEST(TrustDecision, TheDesktopMustBeTheProcessUsersOwn) {
  Sid ann(kAnn), bob(kBob), ann_again(kAnn);
  struct Case {
    const char* what;
    ShellUser shell;
    PSID shell_user;
    PSID process_user;
    DesktopAccount account;
  };
  const Case cases[] = {
      {"her own desktop", SHELL_USER_READ, ann_again.get(), ann.get(), DESKTOP_OURS},
      {"Bob's desktop, Ann's password typed at his prompt", SHELL_USER_READ, bob.get(), ann.get(), DESKTOP_OTHER},
      {"a shell whose user cannot be read", SHELL_USER_UNREADABLE, nullptr, ann.get(), DESKTOP_OTHER},
      {"no shell yet, as at logon", SHELL_NONE, nullptr, ann.get(), DESKTOP_UNKNOWN},
      {"the process user unknown", SHELL_USER_READ, ann_again.get(), nullptr, DESKTOP_UNKNOWN},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchDesktopAccount(c.shell, c.shell_user, c.process_user), c.account) << c.what;
}

// This process runs on its own user's desktop (under Wine, the taskbar's
// process is the shell, and runs as the same account).
TEST(TaskExeJudgement, RealShellUserIsThisProcesssUser) {
  ProcessUser user;
  SidBuffer shell_user;
  ShellUser shell = SystemShellUser(shell_user);
  ASSERT_EQ(shell, SHELL_USER_READ);
  EXPECT_EQ(MatchDesktopAccount(shell, shell_user.bytes, user.get()), DESKTOP_OURS);
}
