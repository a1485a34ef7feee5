// A token with the user's own rights, and the redirection-trust mitigation.
#include "common/user_rights.h"

namespace {

// Medium at most: a process already below keeps its own level, since a
// token's integrity can only be lowered.
bool LowerIntegrityToMedium(HANDLE token) {
  BYTE current[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE] = {};
  DWORD size = 0;
  if (GetTokenInformation(token, TokenIntegrityLevel, current, sizeof current, &size)) {
    PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(current)->Label.Sid;
    PUCHAR count = GetSidSubAuthorityCount(sid);
    if (count && *count > 0 && *GetSidSubAuthority(sid, *count - 1) <= SECURITY_MANDATORY_MEDIUM_RID) return true;
  }
  BYTE medium[SECURITY_MAX_SID_SIZE];
  DWORD medium_size = sizeof medium;
  if (!CreateWellKnownSid(WinMediumLabelSid, NULL, medium, &medium_size)) return false;
  TOKEN_MANDATORY_LABEL label = {};
  label.Label.Sid = medium;
  label.Label.Attributes = SE_GROUP_INTEGRITY;
  return SetTokenInformation(token, TokenIntegrityLevel, &label, sizeof label + GetLengthSid(medium)) != FALSE;
}

// The groups of the token UAC filtered for an elevated process token (its
// linked token), read into a fixed buffer: a token holds at most 64 KB.
alignas(TOKEN_GROUPS) BYTE filtered_groups_buffer[65536];

// `groups` null when the process has no filtered token (UAC off, a standard
// user's token, a process not elevated); false when it has one whose groups
// cannot be read.
bool ReadFilteredGroups(HANDLE process, const TOKEN_GROUPS*& groups) {
  groups = nullptr;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  if (!GetTokenInformation(process, TokenElevationType, &type, sizeof type, &size)) return false;
  // Only an elevated token's linked token is the filtered one.
  if (type != TokenElevationTypeFull) return true;
  TOKEN_LINKED_TOKEN linked = {};
  if (!GetTokenInformation(process, TokenLinkedToken, &linked, sizeof linked, &size) || !linked.LinkedToken)
    return false;
  bool read = GetTokenInformation(linked.LinkedToken, TokenGroups, filtered_groups_buffer,
                                  sizeof filtered_groups_buffer, &size) != FALSE;
  CloseHandle(linked.LinkedToken);
  if (read) groups = reinterpret_cast<const TOKEN_GROUPS*>(filtered_groups_buffer);
  return read;
}

}  // namespace

bool ChooseDenyOnlySids(PSID administrators, const SID_AND_ATTRIBUTES* filtered_groups, DWORD filtered_count,
                        SID_AND_ATTRIBUTES (&chosen)[USER_RIGHTS_DENY_ONLY_CAPACITY], DWORD& chosen_count) {
  chosen_count = 0;
  if (!administrators || !IsValidSid(administrators) || (filtered_count > 0 && !filtered_groups)) return false;
  chosen[chosen_count++] = {administrators, 0};
  for (DWORD i = 0; i < filtered_count; ++i) {
    const SID_AND_ATTRIBUTES& group = filtered_groups[i];
    if (!(group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY)) continue;
    if (!group.Sid || !IsValidSid(group.Sid)) {
      chosen_count = 0;
      return false;
    }
    bool listed = false;
    for (DWORD j = 0; j < chosen_count && !listed; ++j) listed = EqualSid(chosen[j].Sid, group.Sid) != FALSE;
    if (listed) continue;
    if (chosen_count == USER_RIGHTS_DENY_ONLY_CAPACITY) {
      chosen_count = 0;
      return false;
    }
    chosen[chosen_count++] = {group.Sid, 0};
  }
  return true;
}

// The chain of handles, each opened with what the calls on it need, as
// Microsoft documents them; the handle CreateRestrictedToken returns has
// the rights of the one it was made from, so its copy is the first that
// can carry others:
// - the process token: TOKEN_QUERY for GetTokenInformation (its elevation
//   type and linked token), TOKEN_DUPLICATE for CreateRestrictedToken;
// - the restricted token: TOKEN_DUPLICATE for DuplicateTokenEx, which is
//   all that is done with it;
// - its impersonation copy, which the program keeps: TOKEN_QUERY and
//   TOKEN_ADJUST_DEFAULT for reading and lowering its integrity
//   (GetTokenInformation, SetTokenInformation(TokenIntegrityLevel)),
//   TOKEN_QUERY and TOKEN_IMPERSONATE for ImpersonateLoggedOnUser with an
//   impersonation token, and TOKEN_DUPLICATE too for the known-folder
//   lookup (SHGetFolderPathW), which in some cases needs it.
constexpr DWORD kProcessTokenAccess = TOKEN_QUERY | TOKEN_DUPLICATE;
constexpr DWORD kUserTokenAccess = TOKEN_QUERY | TOKEN_ADJUST_DEFAULT | TOKEN_IMPERSONATE | TOKEN_DUPLICATE;

HANDLE RestrictToUserRights(HANDLE process, const SID_AND_ATTRIBUTES* filtered_groups, DWORD filtered_count) {
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD administrators_size = sizeof administrators;
  SID_AND_ATTRIBUTES deny_only[USER_RIGHTS_DENY_ONLY_CAPACITY];
  DWORD deny_only_count = 0;
  HANDLE restricted = NULL;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, administrators, &administrators_size) ||
      !ChooseDenyOnlySids(administrators, filtered_groups, filtered_count, deny_only, deny_only_count) ||
      !CreateRestrictedToken(process, DISABLE_MAX_PRIVILEGE, deny_only_count, deny_only, 0, NULL, 0, NULL,
                             &restricted))
    return NULL;
  HANDLE user = NULL;
  if (!DuplicateTokenEx(restricted, kUserTokenAccess, NULL, SecurityImpersonation, TokenImpersonation, &user))
    user = NULL;
  CloseHandle(restricted);
  if (user && !LowerIntegrityToMedium(user)) {
    CloseHandle(user);
    user = NULL;
  }
  return user;
}

HANDLE MakeUserRightsToken() {
  HANDLE process = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), kProcessTokenAccess, &process)) return NULL;
  const TOKEN_GROUPS* filtered = nullptr;
  HANDLE token = NULL;
  if (ReadFilteredGroups(process, filtered))
    token = RestrictToUserRights(process, filtered ? filtered->Groups : nullptr, filtered ? filtered->GroupCount : 0);
  CloseHandle(process);
  return token;
}

bool EnforceRedirectionTrust() {
  using SetPolicyFunction = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY policy, PVOID buffer, SIZE_T length);
  static_assert(ProcessRedirectionTrustPolicy == 16, "the policy's number in Windows");
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return false;
  auto set_policy =
      reinterpret_cast<SetPolicyFunction>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessMitigationPolicy")));
  if (!set_policy) return false;
  PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
  policy.EnforceRedirectionTrust = 1;
  return set_policy(ProcessRedirectionTrustPolicy, &policy, sizeof policy) != FALSE;
}
