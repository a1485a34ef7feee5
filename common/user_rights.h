// The user's own rights for what the elevated program does in places the
// user controls: a token that reaches no further than their standard one.
#pragma once

#include <windows.h>

// A copy of the process token cut down to a standard user's rights: every
// privilege but traverse checking dropped, for deny only every group that
// UAC's own filtered token denies (Administrators always), and integrity no
// higher than medium; an impersonation token (TOKEN_IMPERSONATE |
// TOKEN_QUERY | TOKEN_DUPLICATE, and TOKEN_ADJUST_DEFAULT, with which its
// integrity was lowered) for impersonating the user or looking up their
// folders. NULL when any step fails. The caller closes it.
HANDLE MakeUserRightsToken();
// The same from the open process token (TOKEN_QUERY | TOKEN_DUPLICATE) and
// the groups of the token UAC filtered for it, which MakeUserRightsToken
// reads from the linked token of an elevated one (none without one).
HANDLE RestrictToUserRights(HANDLE process, const SID_AND_ATTRIBUTES* filtered_groups, DWORD filtered_count);

// The most groups the token makes deny-only: far more than UAC filters,
// even for a domain account.
constexpr DWORD USER_RIGHTS_DENY_ONLY_CAPACITY = 64;
// The groups the user-rights token makes deny-only: `administrators`
// first, then each SID that is deny-only among `filtered_groups`, each
// once; the chosen entries point at the caller's SIDs. False, with none
// chosen, when a deny-only entry has no valid SID or they do not all fit: a
// token that kept one of them enabled would reach further than the user's
// own.
bool ChooseDenyOnlySids(PSID administrators, const SID_AND_ATTRIBUTES* filtered_groups, DWORD filtered_count,
                        SID_AND_ATTRIBUTES (&chosen)[USER_RIGHTS_DENY_ONLY_CAPACITY], DWORD& chosen_count);

// Has Windows refuse to follow junctions and links that non-administrators
// made, for the whole process (Windows 10 22H2 and later). False where the
// system lacks the mitigation (Windows 7 to 10 21H2, Wine): nothing changes.
bool EnforceRedirectionTrust();
