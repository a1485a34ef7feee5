// The user's own rights for what the elevated program does in places the
// user controls: a token that reaches no further than their standard one.
#pragma once

#include <windows.h>

// A copy of the process token cut down to a standard user's rights: every
// privilege but traverse checking dropped, Administrators for deny only,
// and integrity no higher than medium; an impersonation token (TOKEN_IMPERSONATE | TOKEN_QUERY) for
// impersonating the user or checking access as them. NULL when any step
// fails. The caller closes it.
HANDLE MakeUserRightsToken();

// Has Windows refuse to follow junctions and links that non-administrators
// made, for the whole process (Windows 10 22H2 and later). False where the
// system lacks the mitigation (Windows 7 to 10 21H2, Wine): nothing changes.
bool EnforceRedirectionTrust();
