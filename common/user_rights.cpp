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

}  // namespace

HANDLE MakeUserRightsToken() {
  HANDLE process = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, &process))
    return NULL;
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD administrators_size = sizeof administrators;
  HANDLE restricted = NULL;
  if (CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, administrators, &administrators_size)) {
    SID_AND_ATTRIBUTES deny_only = {administrators, 0};
    if (!CreateRestrictedToken(process, DISABLE_MAX_PRIVILEGE, 1, &deny_only, 0, NULL, 0, NULL, &restricted))
      restricted = NULL;
  }
  CloseHandle(process);
  if (!restricted) return NULL;
  HANDLE impersonation = NULL;
  if (!LowerIntegrityToMedium(restricted) ||
      !DuplicateTokenEx(restricted, TOKEN_IMPERSONATE | TOKEN_QUERY, NULL, SecurityImpersonation, TokenImpersonation,
                        &impersonation))
    impersonation = NULL;
  CloseHandle(restricted);
  return impersonation;
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
