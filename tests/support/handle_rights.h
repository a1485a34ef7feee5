// What Windows checks and Wine lets through: the rights of each handle a
// call is made on, and the privilege each privileged call needs.
//
// Wine records the rights every handle was opened or duplicated with, and
// NtQueryObject(ObjectBasicInformation) reports them, but many of its calls
// never look at them (SetTokenInformation succeeds on a token handle without
// TOKEN_ADJUST_DEFAULT, which Windows refuses). So every test program is
// linked with the program's imports of the calls below wrapped (the linker's
// --wrap of each `__imp_` symbol, listed from handle_rights.cpp by
// tests/CMakeLists.txt): before each call the wrapper reads the handle's
// granted access and holds it against kHandleRules, Microsoft's documented
// requirement for that call, and before each privileged call it asks
// PrivilegeCheck whether the privilege of kPrivilegeRules is enabled in the
// token in effect. A miss fails the running test, naming the call and what
// it lacks. Calls the program makes through platform records go through the
// wrappers too, since each record is filled from the same imports.
#pragma once

#include <windows.h>

#include <string>

enum HandleKind { HANDLE_TOKEN, HANDLE_PROCESS, HANDLE_THREAD, HANDLE_FILE, HANDLE_KEY, HANDLE_ANY };

// A call's documented requirement on its handle: every right of `all_of`
// and, when `one_of` is not 0, at least one of `one_of`.
struct HandleRule {
  const char* call;
  HandleKind kind;
  ACCESS_MASK all_of;
  ACCESS_MASK one_of;
};
extern const HandleRule kHandleRules[];
extern const size_t kHandleRuleCount;

// A call that does its work only with this privilege enabled.
struct PrivilegeRule {
  const char* call;
  const wchar_t* privilege;
};
extern const PrivilegeRule kPrivilegeRules[];
extern const size_t kPrivilegeRuleCount;

// The rights NtQueryObject reports for `handle`; false when it cannot say.
bool GrantedAccess(HANDLE handle, ACCESS_MASK& granted);
// What the rule `call` finds missing on `handle` ("TOKEN_ADJUST_DEFAULT"),
// empty when the handle has what it needs. Pseudo-handles (the current
// process, thread and their tokens) and predefined registry keys have every
// right.
std::string MissingRights(const char* call, HANDLE handle);
// Whether `privilege` is enabled in the token in effect on this thread (its
// impersonation token, else the process's).
bool PrivilegeEnabled(const wchar_t* privilege);
// How many calls the wrappers have checked: the self-check's proof that
// they are linked in.
unsigned long CheckedCallCount();
