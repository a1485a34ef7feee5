// The handle-rights checks themselves, and the chain of token handles the
// program makes, held against them.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>
#include <windows.h>

#include <string>

#include "common/user_rights.h"
#include "tests/support.h"
#include "tests/support/handle_rights.h"

namespace {

// A handle of the rule's kind with exactly `access`: a copy of one opened
// for everything, since CreateFileW always adds FILE_READ_ATTRIBUTES.
HANDLE OpenWith(HandleKind kind, ACCESS_MASK access, const std::wstring& file) {
  HANDLE source = nullptr;
  switch (kind) {
    case HANDLE_TOKEN:
      if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &source)) source = nullptr;
      break;
    case HANDLE_PROCESS:
      source = OpenProcess(PROCESS_ALL_ACCESS, FALSE, GetCurrentProcessId());
      break;
    case HANDLE_KEY: {
      HKEY key = nullptr;
      if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) source = key;
      break;
    }
    default:
      source = CreateFileW(file.c_str(), GENERIC_ALL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, 0, nullptr);
      if (source == INVALID_HANDLE_VALUE) source = nullptr;
      break;
  }
  HANDLE copy = nullptr;
  if (source && !DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, access, FALSE, 0))
    copy = nullptr;
  if (source) CloseHandle(source);
  return copy;
}

ACCESS_MASK LowestBit(ACCESS_MASK mask) { return mask & (~mask + 1); }

}  // namespace

// Every rule passes a handle with exactly what it asks and refuses one
// that lacks any single right of it, or has none of its alternatives: the
// checks can fail, right by right.
TEST(HandleRights, EachRuleRefusesAHandleThatLacksOneOfItsRights) {
  wchar_t folder[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  const std::wstring file = std::wstring(folder) + L"quillmere-handle-rights.tmp";
  for (size_t i = 0; i < kHandleRuleCount; ++i) {
    const HandleRule& rule = kHandleRules[i];
    SCOPED_TRACE(rule.call);
    // SACL access needs a privilege to open; the other rows show the same.
    if (rule.all_of & ACCESS_SYSTEM_SECURITY) continue;
    const ACCESS_MASK enough = rule.all_of | LowestBit(rule.one_of);
    HANDLE handle = OpenWith(rule.kind, enough, file);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(MissingRights(rule.call, handle), "");
    CloseHandle(handle);
    for (ACCESS_MASK right = 1; right; right <<= 1) {
      if (!(enough & right)) continue;
      // A handle that keeps another of the alternatives still passes.
      if ((rule.one_of & right) && !(rule.all_of & right) && (rule.one_of & ~right)) {
        handle = OpenWith(rule.kind, (enough & ~right) | LowestBit(rule.one_of & ~right), file);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(MissingRights(rule.call, handle), "") << std::hex << right;
        CloseHandle(handle);
        handle = OpenWith(rule.kind, enough & ~rule.one_of, file);
      } else {
        handle = OpenWith(rule.kind, enough & ~right, file);
      }
      ASSERT_NE(handle, nullptr);
      EXPECT_NE(MissingRights(rule.call, handle), "") << "without 0x" << std::hex << right;
      CloseHandle(handle);
    }
  }
  DeleteFileW(file.c_str());
}

// A check fails the test that made the call: here the call today's start
// made on a token handle opened for duplicating and querying only.
HANDLE query_only_token = nullptr;
TEST(HandleRights, ACallOnAHandleWithoutItsRightFailsTheTestNamingBoth) {
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &query_only_token));
  EXPECT_NONFATAL_FAILURE(
      {
        TOKEN_MANDATORY_LABEL label = {};
        SetTokenInformation(query_only_token, TokenIntegrityLevel, &label, sizeof label);
      },
      "SetTokenInformation(TokenIntegrityLevel) on a handle without TOKEN_ADJUST_DEFAULT");
  CloseHandle(query_only_token);
}

// The privilege of a privileged call is looked for in the token in effect,
// enabled, not merely held.
TEST(HandleRights, APrivilegeCountsOnlyWhileEnabled) {
  HANDLE process = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &process));
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_PROF_SINGLE_PROCESS_NAME, &privileges.Privileges[0].Luid));
  TOKEN_PRIVILEGES before = {};
  DWORD size = 0;
  ASSERT_TRUE(AdjustTokenPrivileges(process, FALSE, &privileges, sizeof privileges, &before, &size));
  EXPECT_FALSE(PrivilegeEnabled(SE_PROF_SINGLE_PROCESS_NAME));
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  ASSERT_TRUE(AdjustTokenPrivileges(process, FALSE, &privileges, sizeof privileges, nullptr, nullptr));
  EXPECT_TRUE(PrivilegeEnabled(SE_PROF_SINGLE_PROCESS_NAME));
  if (before.PrivilegeCount == 1) AdjustTokenPrivileges(process, FALSE, &before, sizeof before, nullptr, nullptr);
  CloseHandle(process);
}

// The chain the program makes at start, every call on every handle held
// against its rule by the wrappers; the token it keeps has what later calls
// on it need. (Its integrity, lowered to medium, shows on Windows only:
// Wine keeps none.)
TEST(UserRightsToken, EachHandleOfTheChainHasTheRightsItsCallsNeed) {
  unsigned long before = CheckedCallCount();
  HANDLE token = MakeUserRightsToken();
  ASSERT_NE(token, nullptr);
  EXPECT_GT(CheckedCallCount(), before + 3) << "the chain's calls went through the checks";
  EXPECT_EQ(MissingRights("ImpersonateLoggedOnUser(impersonation token)", token), "");
  EXPECT_EQ(MissingRights("SHGetFolderPathW(token)", token), "");
  ASSERT_TRUE(ImpersonateLoggedOnUser(token));
  EXPECT_TRUE(ThreadImpersonates());
  RevertToSelf();
  CloseHandle(token);
}
