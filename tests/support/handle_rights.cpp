// The handle-rights and privilege checks, and the wrappers that make them
// before each call (handle_rights.h). tests/CMakeLists.txt wraps every
// import this file defines a CHECKED_CALL for.
#include "tests/support/handle_rights.h"

#include <gtest/gtest.h>
#include <aclapi.h>
#include <winioctl.h>
#include <psapi.h>
#include <shlobj.h>
#include <winternl.h>

#include <stdio.h>
#include <string.h>

// Each row is what the call's page on learn.microsoft.com asks of the handle.
const HandleRule kHandleRules[] = {
    // Tokens.
    {"GetTokenInformation", HANDLE_TOKEN, TOKEN_QUERY, 0},
    {"GetTokenInformation(TokenSource)", HANDLE_TOKEN, TOKEN_QUERY_SOURCE, 0},
    // "TOKEN_ADJUST_DEFAULT access is required" to set the default DACL,
    // owner, primary group and integrity level (NtSetInformationToken).
    {"SetTokenInformation(TokenIntegrityLevel)", HANDLE_TOKEN, TOKEN_ADJUST_DEFAULT, 0},
    {"SetTokenInformation(TokenDefaultDacl)", HANDLE_TOKEN, TOKEN_ADJUST_DEFAULT, 0},
    {"SetTokenInformation", HANDLE_TOKEN, TOKEN_ADJUST_DEFAULT, 0},
    {"DuplicateTokenEx", HANDLE_TOKEN, TOKEN_DUPLICATE, 0},
    {"CreateRestrictedToken", HANDLE_TOKEN, TOKEN_DUPLICATE, 0},
    {"ImpersonateLoggedOnUser(primary token)", HANDLE_TOKEN, TOKEN_QUERY | TOKEN_DUPLICATE, 0},
    {"ImpersonateLoggedOnUser(impersonation token)", HANDLE_TOKEN, TOKEN_QUERY | TOKEN_IMPERSONATE, 0},
    {"SetThreadToken", HANDLE_TOKEN, TOKEN_IMPERSONATE, 0},
    {"AdjustTokenPrivileges", HANDLE_TOKEN, TOKEN_ADJUST_PRIVILEGES, 0},
    {"AdjustTokenPrivileges(previous state)", HANDLE_TOKEN, TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, 0},
    // The known-folder lookup with a user's token.
    {"SHGetFolderPathW(token)", HANDLE_TOKEN, TOKEN_QUERY | TOKEN_IMPERSONATE, 0},
    // Processes. PROCESS_QUERY_INFORMATION carries
    // PROCESS_QUERY_LIMITED_INFORMATION with it on Windows.
    {"OpenProcessToken", HANDLE_PROCESS, 0, PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION},
    {"EmptyWorkingSet", HANDLE_PROCESS, PROCESS_SET_QUOTA,
     PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION},
    {"GetProcessImageFileNameW", HANDLE_PROCESS, 0, PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION},
    {"QueryFullProcessImageNameW", HANDLE_PROCESS, 0, PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION},
    {"GetProcessMemoryInfo", HANDLE_PROCESS, PROCESS_VM_READ,
     PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION},
    // Any object's owner, group and DACL; its SACL needs
    // ACCESS_SYSTEM_SECURITY.
    {"GetSecurityInfo(owner, group, DACL)", HANDLE_ANY, READ_CONTROL, 0},
    {"GetSecurityInfo(SACL)", HANDLE_ANY, ACCESS_SYSTEM_SECURITY, 0},
    // Files and folders. GetFileInformationByHandle's page names no right;
    // what it reads (FileAllInformation) needs FILE_READ_ATTRIBUTES, as
    // NtQueryInformationFile documents. GetFinalPathNameByHandleW needs none.
    {"GetFileInformationByHandle", HANDLE_FILE, FILE_READ_ATTRIBUTES, 0},
    {"ReadFile", HANDLE_FILE, FILE_READ_DATA, 0},
    {"WriteFile", HANDLE_FILE, 0, FILE_WRITE_DATA | FILE_APPEND_DATA},
    {"FlushFileBuffers", HANDLE_FILE, 0, FILE_WRITE_DATA | FILE_APPEND_DATA},  // GENERIC_WRITE
    {"SetFilePointerEx", HANDLE_FILE, 0, FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA},  // GENERIC_READ or _WRITE
    // A control code carries the access it needs in its bits 14 and 15;
    // IOCTL_STORAGE_QUERY_PROPERTY's is FILE_ANY_ACCESS, which needs none.
    {"DeviceIoControl(FILE_READ_ACCESS code)", HANDLE_FILE, FILE_READ_DATA, 0},
    {"DeviceIoControl(FILE_WRITE_ACCESS code)", HANDLE_FILE, FILE_WRITE_DATA, 0},
    // Registry keys.
    {"RegSetValueExW", HANDLE_KEY, KEY_SET_VALUE, 0},
    {"RegDeleteValueW", HANDLE_KEY, KEY_SET_VALUE, 0},
    {"RegQueryValueExW", HANDLE_KEY, KEY_QUERY_VALUE, 0},
    {"RegGetValueW", HANDLE_KEY, KEY_QUERY_VALUE, 0},
};
const size_t kHandleRuleCount = ARRAYSIZE(kHandleRules);

// The memory-list class (80) is not documented; Windows refuses its query
// and its commands without "Profile single process" enabled.
// SetSystemFileCacheSize's page: "The calling process must enable the
// SE_INCREASE_QUOTA_NAME privilege."
const PrivilegeRule kPrivilegeRules[] = {
    {"NtSetSystemInformation(SystemMemoryListInformation)", SE_PROF_SINGLE_PROCESS_NAME},
    {"NtQuerySystemInformation(SystemMemoryListInformation)", SE_PROF_SINGLE_PROCESS_NAME},
    {"SetSystemFileCacheSize", SE_INCREASE_QUOTA_NAME},
};
const size_t kPrivilegeRuleCount = ARRAYSIZE(kPrivilegeRules);

namespace {

struct RightName {
  ACCESS_MASK right;
  const char* name;
};

const RightName kStandardRights[] = {{DELETE, "DELETE"},
                                     {READ_CONTROL, "READ_CONTROL"},
                                     {WRITE_DAC, "WRITE_DAC"},
                                     {WRITE_OWNER, "WRITE_OWNER"},
                                     {SYNCHRONIZE, "SYNCHRONIZE"},
                                     {ACCESS_SYSTEM_SECURITY, "ACCESS_SYSTEM_SECURITY"}};
const RightName kTokenRights[] = {{TOKEN_ASSIGN_PRIMARY, "TOKEN_ASSIGN_PRIMARY"},
                                  {TOKEN_DUPLICATE, "TOKEN_DUPLICATE"},
                                  {TOKEN_IMPERSONATE, "TOKEN_IMPERSONATE"},
                                  {TOKEN_QUERY, "TOKEN_QUERY"},
                                  {TOKEN_QUERY_SOURCE, "TOKEN_QUERY_SOURCE"},
                                  {TOKEN_ADJUST_PRIVILEGES, "TOKEN_ADJUST_PRIVILEGES"},
                                  {TOKEN_ADJUST_GROUPS, "TOKEN_ADJUST_GROUPS"},
                                  {TOKEN_ADJUST_DEFAULT, "TOKEN_ADJUST_DEFAULT"},
                                  {TOKEN_ADJUST_SESSIONID, "TOKEN_ADJUST_SESSIONID"}};
const RightName kProcessRights[] = {{PROCESS_TERMINATE, "PROCESS_TERMINATE"},
                                    {PROCESS_VM_OPERATION, "PROCESS_VM_OPERATION"},
                                    {PROCESS_VM_READ, "PROCESS_VM_READ"},
                                    {PROCESS_VM_WRITE, "PROCESS_VM_WRITE"},
                                    {PROCESS_DUP_HANDLE, "PROCESS_DUP_HANDLE"},
                                    {PROCESS_SET_QUOTA, "PROCESS_SET_QUOTA"},
                                    {PROCESS_SET_INFORMATION, "PROCESS_SET_INFORMATION"},
                                    {PROCESS_QUERY_INFORMATION, "PROCESS_QUERY_INFORMATION"},
                                    {PROCESS_QUERY_LIMITED_INFORMATION, "PROCESS_QUERY_LIMITED_INFORMATION"}};
const RightName kFileRights[] = {{FILE_READ_DATA, "FILE_READ_DATA"},
                                 {FILE_WRITE_DATA, "FILE_WRITE_DATA"},
                                 {FILE_APPEND_DATA, "FILE_APPEND_DATA"},
                                 {FILE_READ_EA, "FILE_READ_EA"},
                                 {FILE_WRITE_EA, "FILE_WRITE_EA"},
                                 {FILE_EXECUTE, "FILE_EXECUTE"},
                                 {FILE_DELETE_CHILD, "FILE_DELETE_CHILD"},
                                 {FILE_READ_ATTRIBUTES, "FILE_READ_ATTRIBUTES"},
                                 {FILE_WRITE_ATTRIBUTES, "FILE_WRITE_ATTRIBUTES"}};
const RightName kKeyRights[] = {{KEY_QUERY_VALUE, "KEY_QUERY_VALUE"},
                                {KEY_SET_VALUE, "KEY_SET_VALUE"},
                                {KEY_CREATE_SUB_KEY, "KEY_CREATE_SUB_KEY"},
                                {KEY_ENUMERATE_SUB_KEYS, "KEY_ENUMERATE_SUB_KEYS"},
                                {KEY_NOTIFY, "KEY_NOTIFY"}};

template <size_t N>
bool AppendNames(std::string& text, ACCESS_MASK rights, const RightName (&names)[N], const char* joint) {
  bool any = false;
  for (const RightName& entry : names) {
    if (!(rights & entry.right)) continue;
    if (!text.empty()) text += joint;
    text += entry.name;
    any = true;
  }
  return any;
}

// The rights by name for this kind of object, and any bit without a name
// in hex.
std::string RightNames(HandleKind kind, ACCESS_MASK rights, const char* joint) {
  std::string text;
  ACCESS_MASK named = 0;
  auto add = [&](const auto& names) {
    AppendNames(text, rights, names, joint);
    for (const RightName& entry : names) named |= entry.right;
  };
  switch (kind) {
    case HANDLE_TOKEN:
      add(kTokenRights);
      break;
    case HANDLE_PROCESS:
      add(kProcessRights);
      break;
    case HANDLE_FILE:
      add(kFileRights);
      break;
    case HANDLE_KEY:
      add(kKeyRights);
      break;
    default:
      break;
  }
  add(kStandardRights);
  if (rights & ~named) {
    char hex[16];
    snprintf(hex, sizeof hex, "0x%lX", static_cast<unsigned long>(rights & ~named));
    if (!text.empty()) text += joint;
    text += hex;
  }
  return text;
}

const HandleRule* FindRule(const char* call) {
  for (const HandleRule& rule : kHandleRules)
    if (strcmp(rule.call, call) == 0) return &rule;
  return nullptr;
}

// The current process and thread, and their tokens, as Windows' pseudo-
// handles name them: every right.
bool IsPseudoHandle(HANDLE handle) {
  LONG_PTR value = reinterpret_cast<LONG_PTR>(handle);
  return value >= -6 && value <= -1;
}

bool IsPredefinedKey(HANDLE handle) {
  ULONG_PTR value = reinterpret_cast<ULONG_PTR>(handle);
  return (value & 0xFFFFFFFF80000000) == 0xFFFFFFFF80000000 || (value >= 0x80000000 && value <= 0x80000070);
}

unsigned long checked_calls = 0;

// The check before a call: a failure of the running test when the handle
// lacks what the call needs.
void Require(const char* call, HANDLE handle) {
  ++checked_calls;
  std::string missing = MissingRights(call, handle);
  if (!missing.empty()) ADD_FAILURE() << call << " on a handle without " << missing;
}

void RequirePrivilege(const char* call, const wchar_t* privilege) {
  ++checked_calls;
  if (!PrivilegeEnabled(privilege)) {
    char name[64] = {};
    WideCharToMultiByte(CP_UTF8, 0, privilege, -1, name, sizeof name, nullptr, nullptr);
    ADD_FAILURE() << call << " without " << name << " enabled in the token in effect";
  }
}


}  // namespace

bool GrantedAccess(HANDLE handle, ACCESS_MASK& granted) {
  PUBLIC_OBJECT_BASIC_INFORMATION information = {};
  ULONG returned = 0;
  if (NtQueryObject(handle, ObjectBasicInformation, &information, sizeof information, &returned) < 0) return false;
  granted = information.GrantedAccess;
  return true;
}

std::string MissingRights(const char* call, HANDLE handle) {
  const HandleRule* rule = FindRule(call);
  if (!rule) return std::string("a rule (") + call + " is not in kHandleRules)";
  if (IsPseudoHandle(handle) || (rule->kind == HANDLE_KEY && IsPredefinedKey(handle))) return "";
  ACCESS_MASK granted = 0;
  if (!GrantedAccess(handle, granted)) return "rights that can be read (NtQueryObject refused the handle)";
  std::string missing = RightNames(rule->kind, rule->all_of & ~granted, " | ");
  if (rule->one_of && !(granted & rule->one_of)) {
    if (!missing.empty()) missing += " and ";
    missing += "any of " + RightNames(rule->kind, rule->one_of, " or ");
  }
  if (missing.empty()) return "";
  char hex[16];
  snprintf(hex, sizeof hex, "0x%lX", static_cast<unsigned long>(granted));
  return missing + " (granted: " + (granted ? RightNames(rule->kind, granted, " | ") : "none") + ", " + hex + ")";
}

// A call is reached two ways: through its import slot (`__imp_<call>`,
// as a call names it) and through the import library's stub (`<call>`, as
// the address a platform record holds). The linker sends both to the
// checking `__wrap_<call>`, which calls the real one through the slot's
// own name, `__real___imp_<call>`.
#define CHECKED_CALL(name)                          \
  extern "C" decltype(&::name) __real___imp_##name; \
  extern "C" decltype(&::name) __wrap___imp_##name; \
  extern "C" decltype(::name) __wrap_##name;

CHECKED_CALL(OpenProcessToken)
CHECKED_CALL(GetTokenInformation)
CHECKED_CALL(SetTokenInformation)
CHECKED_CALL(DuplicateTokenEx)
CHECKED_CALL(CreateRestrictedToken)
CHECKED_CALL(ImpersonateLoggedOnUser)
CHECKED_CALL(SetThreadToken)
CHECKED_CALL(AdjustTokenPrivileges)
CHECKED_CALL(SHGetFolderPathW)
CHECKED_CALL(K32EmptyWorkingSet)
CHECKED_CALL(K32GetProcessImageFileNameW)
CHECKED_CALL(QueryFullProcessImageNameW)
CHECKED_CALL(K32GetProcessMemoryInfo)
CHECKED_CALL(GetSecurityInfo)
CHECKED_CALL(GetFileInformationByHandle)
CHECKED_CALL(ReadFile)
CHECKED_CALL(WriteFile)
CHECKED_CALL(FlushFileBuffers)
CHECKED_CALL(SetFilePointerEx)
CHECKED_CALL(DeviceIoControl)
CHECKED_CALL(RegSetValueExW)
CHECKED_CALL(RegDeleteValueW)
CHECKED_CALL(RegQueryValueExW)
CHECKED_CALL(RegGetValueW)
CHECKED_CALL(SetSystemFileCacheSize)
CHECKED_CALL(GetProcAddress)

static TOKEN_TYPE TypeOfToken(HANDLE token) {
  TOKEN_TYPE type = TokenPrimary;
  DWORD size = 0;
  __real___imp_GetTokenInformation(token, TokenType, &type, sizeof type, &size);
  return type;
}

extern "C" BOOL WINAPI __wrap_OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  Require("OpenProcessToken", process);
  return __real___imp_OpenProcessToken(process, access, token);
}

extern "C" BOOL WINAPI __wrap_GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS type, LPVOID information, DWORD length,
                                       PDWORD returned) {
  Require(type == TokenSource ? "GetTokenInformation(TokenSource)" : "GetTokenInformation", token);
  return __real___imp_GetTokenInformation(token, type, information, length, returned);
}

extern "C" BOOL WINAPI __wrap_SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS type, LPVOID information, DWORD length) {
  Require(type == TokenIntegrityLevel ? "SetTokenInformation(TokenIntegrityLevel)"
          : type == TokenDefaultDacl  ? "SetTokenInformation(TokenDefaultDacl)"
                                      : "SetTokenInformation",
          token);
  return __real___imp_SetTokenInformation(token, type, information, length);
}

extern "C" BOOL WINAPI __wrap_DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                                    SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE copy) {
  Require("DuplicateTokenEx", token);
  return __real___imp_DuplicateTokenEx(token, access, attributes, level, type, copy);
}

extern "C" BOOL WINAPI __wrap_CreateRestrictedToken(HANDLE token, DWORD flags, DWORD disable_count, PSID_AND_ATTRIBUTES disable,
                                         DWORD delete_count, PLUID_AND_ATTRIBUTES to_delete, DWORD restrict_count,
                                         PSID_AND_ATTRIBUTES restrict, PHANDLE restricted) {
  Require("CreateRestrictedToken", token);
  return __real___imp_CreateRestrictedToken(token, flags, disable_count, disable, delete_count, to_delete,
                                            restrict_count, restrict, restricted);
}

extern "C" BOOL WINAPI __wrap_ImpersonateLoggedOnUser(HANDLE token) {
  Require(TypeOfToken(token) == TokenImpersonation ? "ImpersonateLoggedOnUser(impersonation token)"
                                                   : "ImpersonateLoggedOnUser(primary token)",
          token);
  return __real___imp_ImpersonateLoggedOnUser(token);
}

extern "C" BOOL WINAPI __wrap_SetThreadToken(PHANDLE thread, HANDLE token) {
  if (token) Require("SetThreadToken", token);
  return __real___imp_SetThreadToken(thread, token);
}

extern "C" BOOL WINAPI __wrap_AdjustTokenPrivileges(HANDLE token, BOOL disable_all, PTOKEN_PRIVILEGES state, DWORD length,
                                         PTOKEN_PRIVILEGES previous, PDWORD returned) {
  Require(previous ? "AdjustTokenPrivileges(previous state)" : "AdjustTokenPrivileges", token);
  return __real___imp_AdjustTokenPrivileges(token, disable_all, state, length, previous, returned);
}

extern "C" HRESULT WINAPI __wrap_SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path) {
  // -1 names the default user, no token.
  if (token && token != reinterpret_cast<HANDLE>(-1)) Require("SHGetFolderPathW(token)", token);
  return __real___imp_SHGetFolderPathW(owner, folder, token, flags, path);
}

extern "C" BOOL WINAPI __wrap_K32EmptyWorkingSet(HANDLE process) {
  Require("EmptyWorkingSet", process);
  return __real___imp_K32EmptyWorkingSet(process);
}

extern "C" DWORD WINAPI __wrap_K32GetProcessImageFileNameW(HANDLE process, LPWSTR name, DWORD size) {
  Require("GetProcessImageFileNameW", process);
  return __real___imp_K32GetProcessImageFileNameW(process, name, size);
}

extern "C" BOOL WINAPI __wrap_QueryFullProcessImageNameW(HANDLE process, DWORD flags, LPWSTR name, PDWORD size) {
  Require("QueryFullProcessImageNameW", process);
  return __real___imp_QueryFullProcessImageNameW(process, flags, name, size);
}

extern "C" BOOL WINAPI __wrap_K32GetProcessMemoryInfo(HANDLE process, PPROCESS_MEMORY_COUNTERS counters, DWORD size) {
  Require("GetProcessMemoryInfo", process);
  return __real___imp_K32GetProcessMemoryInfo(process, counters, size);
}

extern "C" DWORD WINAPI __wrap_GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID* owner,
                                    PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  if (information & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION))
    Require("GetSecurityInfo(owner, group, DACL)", object);
  if (information & SACL_SECURITY_INFORMATION) Require("GetSecurityInfo(SACL)", object);
  return __real___imp_GetSecurityInfo(object, type, information, owner, group, dacl, sacl, descriptor);
}

extern "C" BOOL WINAPI __wrap_GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  Require("GetFileInformationByHandle", file);
  return __real___imp_GetFileInformationByHandle(file, information);
}

// The C runtime's console and pipe writes are its own; the checks are for
// files and devices the code opened.
static bool IsFileObject(HANDLE handle) { return GetFileType(handle) == FILE_TYPE_DISK; }

extern "C" BOOL WINAPI __wrap_ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped) {
  if (IsFileObject(file)) Require("ReadFile", file);
  return __real___imp_ReadFile(file, buffer, bytes, read, overlapped);
}

extern "C" BOOL WINAPI __wrap_WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped) {
  if (IsFileObject(file)) Require("WriteFile", file);
  return __real___imp_WriteFile(file, buffer, bytes, written, overlapped);
}

extern "C" BOOL WINAPI __wrap_FlushFileBuffers(HANDLE file) {
  if (IsFileObject(file)) Require("FlushFileBuffers", file);
  return __real___imp_FlushFileBuffers(file);
}

extern "C" BOOL WINAPI __wrap_SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method) {
  if (IsFileObject(file)) Require("SetFilePointerEx", file);
  return __real___imp_SetFilePointerEx(file, distance, position, method);
}

extern "C" BOOL WINAPI __wrap_DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                                   LPDWORD returned, LPOVERLAPPED overlapped) {
  DWORD access = (code >> 14) & 3;
  if (access & FILE_READ_ACCESS) Require("DeviceIoControl(FILE_READ_ACCESS code)", device);
  if (access & FILE_WRITE_ACCESS) Require("DeviceIoControl(FILE_WRITE_ACCESS code)", device);
  return __real___imp_DeviceIoControl(device, code, in, in_size, out, out_size, returned, overlapped);
}

extern "C" LSTATUS WINAPI __wrap_RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                     DWORD size) {
  Require("RegSetValueExW", key);
  return __real___imp_RegSetValueExW(key, name, reserved, type, data, size);
}

extern "C" LSTATUS WINAPI __wrap_RegDeleteValueW(HKEY key, LPCWSTR name) {
  Require("RegDeleteValueW", key);
  return __real___imp_RegDeleteValueW(key, name);
}

extern "C" LSTATUS WINAPI __wrap_RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                       LPDWORD size) {
  Require("RegQueryValueExW", key);
  return __real___imp_RegQueryValueExW(key, name, reserved, type, data, size);
}

extern "C" LSTATUS WINAPI __wrap_RegGetValueW(HKEY key, LPCWSTR subkey, LPCWSTR name, DWORD flags, LPDWORD type, PVOID data,
                                   LPDWORD size) {
  // With a subkey the call opens it for itself; the rights are its own.
  if (!subkey || !subkey[0]) Require("RegGetValueW", key);
  return __real___imp_RegGetValueW(key, subkey, name, flags, type, data, size);
}

extern "C" BOOL WINAPI __wrap_SetSystemFileCacheSize(SIZE_T minimum, SIZE_T maximum, DWORD flags) {
  RequirePrivilege("SetSystemFileCacheSize", SE_INCREASE_QUOTA_NAME);
  return __real___imp_SetSystemFileCacheSize(minimum, maximum, flags);
}

// ntdll's two entries are looked up at run time: the lookup hands out
// checked ones.
static constexpr ULONG kMemoryListClass = 80;
using SetSystemInformation = LONG(NTAPI*)(ULONG type, PVOID information, ULONG length);
using QuerySystemInformation = LONG(NTAPI*)(ULONG type, PVOID information, ULONG length, PULONG returned);
static SetSystemInformation real_set_system_information = nullptr;
static QuerySystemInformation real_query_system_information = nullptr;

static LONG NTAPI CheckedNtSetSystemInformation(ULONG type, PVOID information, ULONG length) {
  if (type == kMemoryListClass)
    RequirePrivilege("NtSetSystemInformation(SystemMemoryListInformation)", SE_PROF_SINGLE_PROCESS_NAME);
  return real_set_system_information(type, information, length);
}

static LONG NTAPI CheckedNtQuerySystemInformation(ULONG type, PVOID information, ULONG length, PULONG returned) {
  if (type == kMemoryListClass)
    RequirePrivilege("NtQuerySystemInformation(SystemMemoryListInformation)", SE_PROF_SINGLE_PROCESS_NAME);
  return real_query_system_information(type, information, length, returned);
}

extern "C" FARPROC WINAPI __wrap_GetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC entry = __real___imp_GetProcAddress(module, name);
  // An ordinal is no name.
  if (!entry || reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF || module != GetModuleHandleW(L"ntdll.dll")) return entry;
  if (strcmp(name, "NtSetSystemInformation") == 0) {
    real_set_system_information = reinterpret_cast<SetSystemInformation>(reinterpret_cast<void*>(entry));
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(CheckedNtSetSystemInformation));
  }
  if (strcmp(name, "NtQuerySystemInformation") == 0) {
    real_query_system_information = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(entry));
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(CheckedNtQuerySystemInformation));
  }
  return entry;
}

decltype(&::OpenProcessToken) __wrap___imp_OpenProcessToken = __wrap_OpenProcessToken;
decltype(&::GetTokenInformation) __wrap___imp_GetTokenInformation = __wrap_GetTokenInformation;
decltype(&::SetTokenInformation) __wrap___imp_SetTokenInformation = __wrap_SetTokenInformation;
decltype(&::DuplicateTokenEx) __wrap___imp_DuplicateTokenEx = __wrap_DuplicateTokenEx;
decltype(&::CreateRestrictedToken) __wrap___imp_CreateRestrictedToken = __wrap_CreateRestrictedToken;
decltype(&::ImpersonateLoggedOnUser) __wrap___imp_ImpersonateLoggedOnUser = __wrap_ImpersonateLoggedOnUser;
decltype(&::SetThreadToken) __wrap___imp_SetThreadToken = __wrap_SetThreadToken;
decltype(&::AdjustTokenPrivileges) __wrap___imp_AdjustTokenPrivileges = __wrap_AdjustTokenPrivileges;
decltype(&::SHGetFolderPathW) __wrap___imp_SHGetFolderPathW = __wrap_SHGetFolderPathW;
decltype(&::K32EmptyWorkingSet) __wrap___imp_K32EmptyWorkingSet = __wrap_K32EmptyWorkingSet;
decltype(&::K32GetProcessImageFileNameW) __wrap___imp_K32GetProcessImageFileNameW = __wrap_K32GetProcessImageFileNameW;
decltype(&::QueryFullProcessImageNameW) __wrap___imp_QueryFullProcessImageNameW = __wrap_QueryFullProcessImageNameW;
decltype(&::K32GetProcessMemoryInfo) __wrap___imp_K32GetProcessMemoryInfo = __wrap_K32GetProcessMemoryInfo;
decltype(&::GetSecurityInfo) __wrap___imp_GetSecurityInfo = __wrap_GetSecurityInfo;
decltype(&::GetFileInformationByHandle) __wrap___imp_GetFileInformationByHandle = __wrap_GetFileInformationByHandle;
decltype(&::ReadFile) __wrap___imp_ReadFile = __wrap_ReadFile;
decltype(&::WriteFile) __wrap___imp_WriteFile = __wrap_WriteFile;
decltype(&::FlushFileBuffers) __wrap___imp_FlushFileBuffers = __wrap_FlushFileBuffers;
decltype(&::SetFilePointerEx) __wrap___imp_SetFilePointerEx = __wrap_SetFilePointerEx;
decltype(&::DeviceIoControl) __wrap___imp_DeviceIoControl = __wrap_DeviceIoControl;
decltype(&::RegSetValueExW) __wrap___imp_RegSetValueExW = __wrap_RegSetValueExW;
decltype(&::RegDeleteValueW) __wrap___imp_RegDeleteValueW = __wrap_RegDeleteValueW;
decltype(&::RegQueryValueExW) __wrap___imp_RegQueryValueExW = __wrap_RegQueryValueExW;
decltype(&::RegGetValueW) __wrap___imp_RegGetValueW = __wrap_RegGetValueW;
decltype(&::SetSystemFileCacheSize) __wrap___imp_SetSystemFileCacheSize = __wrap_SetSystemFileCacheSize;
decltype(&::GetProcAddress) __wrap___imp_GetProcAddress = __wrap_GetProcAddress;

bool PrivilegeEnabled(const wchar_t* privilege) {
  LUID luid = {};
  if (!LookupPrivilegeValueW(nullptr, privilege, &luid)) return false;
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, TRUE, &token) &&
      !__real___imp_OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &token))
    return false;
  // PrivilegeCheck asks an impersonation token.
  HANDLE identification = nullptr;
  bool copied = DuplicateToken(token, SecurityIdentification, &identification) != FALSE;
  CloseHandle(token);
  if (!copied) return false;
  PRIVILEGE_SET set = {};
  set.PrivilegeCount = 1;
  set.Control = PRIVILEGE_SET_ALL_NECESSARY;
  set.Privilege[0].Luid = luid;
  BOOL enabled = FALSE;
  bool asked = PrivilegeCheck(identification, &set, &enabled) != FALSE;
  CloseHandle(identification);
  return asked && enabled;
}

unsigned long CheckedCallCount() { return checked_calls; }

namespace {

// Before any test: proof that the wrappers are in, and that this Wine
// reports granted access as it was measured here. Without either, every
// check above would pass silently.
class HandleRightsSelfCheck : public ::testing::Environment {
 public:
  void SetUp() override {
    HANDLE process = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process));
    unsigned long before = CheckedCallCount();
    TOKEN_TYPE type = TokenImpersonation;
    DWORD size = 0;
    GetTokenInformation(process, TokenType, &type, sizeof type, &size);
    EXPECT_EQ(before + 1, CheckedCallCount())
        << "the handle-rights wrappers are not linked in: no call is checked (see tests/CMakeLists.txt)";
    ACCESS_MASK granted = 0;
    EXPECT_TRUE(GrantedAccess(process, granted) && granted == (TOKEN_DUPLICATE | TOKEN_QUERY))
        << "this Wine reports 0x" << std::hex << granted
        << " for a token opened with TOKEN_DUPLICATE | TOKEN_QUERY, not 0xA: the handle-rights checks cannot be trusted";
    HANDLE restricted = nullptr;
    ASSERT_TRUE(CreateRestrictedToken(process, DISABLE_MAX_PRIVILEGE, 0, nullptr, 0, nullptr, 0, nullptr, &restricted));
    granted = 0;
    EXPECT_TRUE(GrantedAccess(restricted, granted) && granted == (TOKEN_DUPLICATE | TOKEN_QUERY))
        << "this Wine reports 0x" << std::hex << granted
        << " for the restricted copy of a 0xA token, not 0xA as Windows documents: the checks cannot be trusted";
    CloseHandle(restricted);
    CloseHandle(process);
  }
};

::testing::Environment* const kSelfCheck = ::testing::AddGlobalTestEnvironment(new HandleRightsSelfCheck);

}  // namespace
