// Start at logon: the "Quillmere" value under the current user's Run key,
// and a Task Scheduler task of this user's own ("Quillmere <SID>") that
// starts the program elevated. With UAC on, Windows skips programs that need
// elevation in the Run key, so only the task starts Quillmere there; with
// UAC off both start it and the single-instance guard ends the second copy.
// Each is written only for an exe that no account it does not trust can
// change, judged by the owners and permissions of its files and by its disk,
// and only from the desktop of the account it runs as.
#include "settings/settings.h"

#include "common/language.h"
#include "common/system.h"
#include "common/text.h"
#include "settings/settings_internal.h"

#include <aclapi.h>
#include <sddl.h>
#include <stddef.h>
#include <taskschd.h>
#include <wchar.h>

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"Quillmere";
// The one task of earlier versions, shared by every account of the machine.
const wchar_t kLegacyTaskName[] = L"Quillmere";

// Appends to a fixed buffer; `fits` drops to 0 at the first character that
// has no room.
struct TextWriter {
  wchar_t* text;
  size_t capacity;
  size_t length;
  bool fits;
};

void Put(TextWriter& writer, wchar_t c) {
  if (writer.length + 1 < writer.capacity) writer.text[writer.length++] = c;
  else writer.fits = 0;
}

void Put(TextWriter& writer, const wchar_t* text) {
  for (; *text; ++text) Put(writer, *text);
}

// Element text: the three characters markup would take as its own are
// escaped; control characters have no place in a SID or a path, and most
// are not allowed in XML at all.
void PutEscaped(TextWriter& writer, const wchar_t* text) {
  for (; *text; ++text) {
    switch (*text) {
      case L'&':
        Put(writer, L"&amp;");
        break;
      case L'<':
        Put(writer, L"&lt;");
        break;
      case L'>':
        Put(writer, L"&gt;");
        break;
      default:
        if (*text < 0x20) writer.fits = 0;
        else Put(writer, *text);
        break;
    }
  }
}

bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool Finish(TextWriter& writer) {
  if (!writer.fits) {
    ZeroMemory(writer.text, writer.capacity * sizeof(wchar_t));
    return false;
  }
  writer.text[writer.length] = 0;
  return true;
}

bool SetRunValue(bool enable, const wchar_t* command, DWORD length) {
  HKEY key = NULL;
  // KEY_SET_VALUE is what RegSetValueExW and RegDeleteValueW need.
  LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key);
  // A profile without a Run key has no value in it to remove.
  if (!enable && opened == ERROR_FILE_NOT_FOUND) return true;
  if (opened != ERROR_SUCCESS) return false;
  LONG result = ERROR_SUCCESS;
  if (enable) {
    DWORD bytes = (length + 1) * sizeof(wchar_t);
    result = RegSetValueExW(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command), bytes);
  } else {
    result = RegDeleteValueW(key, kRunValue);
    if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;  // already gone
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

// The COM and BSTR calls, from ole32 and oleaut32 loaded out of System32
// for one update and freed after it: the resident program holds no COM.
struct ComLibrary {
  HMODULE ole32;
  HMODULE oleaut32;
  HRESULT(WINAPI* initialize)(LPVOID reserved, DWORD model);
  HRESULT(WINAPI* create_instance)(REFCLSID type, LPUNKNOWN outer, DWORD context, REFIID interface_id, LPVOID* object);
  void(WINAPI* uninitialize)();
  BSTR(WINAPI* alloc_string)(const OLECHAR* text);
  void(WINAPI* free_string)(BSTR text);
};

template <typename Function>
bool FindEntry(HMODULE module, const char* name, Function& entry) {
  entry = module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : NULL;
  return entry != NULL;
}

void FreeCom(ComLibrary& library) {
  if (library.oleaut32) FreeLibrary(library.oleaut32);
  if (library.ole32) FreeLibrary(library.ole32);
  library = ComLibrary{};
}

bool LoadCom(ComLibrary& library) {
  library = ComLibrary{};
  library.ole32 = LoadSystemLibrary(L"ole32.dll");
  library.oleaut32 = LoadSystemLibrary(L"oleaut32.dll");
  bool found = FindEntry(library.ole32, "CoInitializeEx", library.initialize) &&
               FindEntry(library.ole32, "CoCreateInstance", library.create_instance) &&
               FindEntry(library.ole32, "CoUninitialize", library.uninitialize) &&
               FindEntry(library.oleaut32, "SysAllocString", library.alloc_string) &&
               FindEntry(library.oleaut32, "SysFreeString", library.free_string);
  if (!found) FreeCom(library);
  return found;
}

// The Task Scheduler's class and interface, spelled out here so that no
// GUID library is linked.
const CLSID kTaskSchedulerClass = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
const IID kTaskServiceInterface = {0x2faba4c7, 0x4da9, 0x4013, {0x96, 0x97, 0x20, 0xcc, 0x3f, 0xd4, 0x0f, 0x85}};

// The root folder of the Task Scheduler, open from OpenRootFolder to
// CloseRootFolder within one UpdateLogonTask.
struct SchedulerConnection {
  ComLibrary library;
  HRESULT com;
  ITaskService* service;
  ITaskFolder* folder;
};
SchedulerConnection connection;

void CloseRootFolder(void* opened) {
  SchedulerConnection& open = *static_cast<SchedulerConnection*>(opened);
  if (open.folder) open.folder->Release();
  if (open.service) open.service->Release();
  // Uninitialised before the libraries go, which frees the scheduler's too.
  if (SUCCEEDED(open.com)) open.library.uninitialize();
  FreeCom(open.library);
  open = SchedulerConnection{};
}

void* OpenRootFolder() {
  connection = SchedulerConnection{};
  if (!LoadCom(connection.library)) return NULL;
  // COM only while the folder is open. A thread already in the other
  // apartment model keeps it: the scheduler's objects live in either.
  connection.com = connection.library.initialize(NULL, COINIT_APARTMENTTHREADED);
  if (FAILED(connection.com) && connection.com != RPC_E_CHANGED_MODE) {
    CloseRootFolder(&connection);
    return NULL;
  }
  VARIANT none = {};  // VT_EMPTY: owns nothing
  none.vt = VT_EMPTY;
  BSTR root = connection.library.alloc_string(L"\\");
  bool open = root &&
              SUCCEEDED(connection.library.create_instance(kTaskSchedulerClass, NULL, CLSCTX_INPROC_SERVER,
                                                           kTaskServiceInterface,
                                                           reinterpret_cast<void**>(&connection.service))) &&
              SUCCEEDED(connection.service->Connect(none, none, none, none)) &&
              SUCCEEDED(connection.service->GetFolder(root, &connection.folder));
  connection.library.free_string(root);
  if (open) return &connection;
  CloseRootFolder(&connection);
  return NULL;
}

ITaskFolder* Folder(void* opened) { return static_cast<SchedulerConnection*>(opened)->folder; }
BSTR AllocString(void* opened, const wchar_t* text) {
  return static_cast<SchedulerConnection*>(opened)->library.alloc_string(text);
}
void FreeString(void* opened, BSTR text) { static_cast<SchedulerConnection*>(opened)->library.free_string(text); }

bool IsMissing(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

// The whole definition goes in as XML because Wine 8 implements none of the
// trigger and principal setters; Windows takes the same XML. Create or
// update: registering again rewrites the task in place, and its security
// descriptor with it (Windows documents the `sddl` argument as "the security
// descriptor that is associated with the registered task", superseding any
// other), so a task of this name that another account registered first
// keeps none of its author's rights. The principal gets no ACE of the
// scheduler's own beside the descriptor's.
bool RegisterTaskXml(void* opened, const wchar_t* name, const wchar_t* xml, const wchar_t* sddl) {
  BSTR task_name = AllocString(opened, name);
  BSTR definition = AllocString(opened, xml);
  VARIANT none = {};
  none.vt = VT_EMPTY;
  VARIANT descriptor = {};
  descriptor.vt = VT_BSTR;
  descriptor.bstrVal = AllocString(opened, sddl);
  IRegisteredTask* task = NULL;
  bool done = task_name && definition && descriptor.bstrVal &&
              SUCCEEDED(Folder(opened)->RegisterTask(task_name, definition,
                                                     TASK_CREATE_OR_UPDATE | TASK_DONT_ADD_PRINCIPAL_ACE, none, none,
                                                     TASK_LOGON_INTERACTIVE_TOKEN, descriptor, &task));
  if (task) task->Release();
  FreeString(opened, descriptor.bstrVal);
  FreeString(opened, definition);
  FreeString(opened, task_name);
  return done;
}

bool DeleteTaskNamed(void* opened, const wchar_t* name) {
  BSTR task_name = AllocString(opened, name);
  if (!task_name) return false;
  HRESULT deleted = Folder(opened)->DeleteTask(task_name, 0);
  FreeString(opened, task_name);
  return SUCCEEDED(deleted) || IsMissing(deleted);
}

// The SID of an account given by name ("DOMAIN\user") or already as a SID,
// in the canonical text ConvertSidToStringSidW writes.
bool AccountSidText(const wchar_t* account, wchar_t (&sid_text)[SID_TEXT_CAPACITY]) {
  ZeroMemory(sid_text, sizeof sid_text);
  alignas(SID) BYTE sid[SECURITY_MAX_SID_SIZE];
  PSID parsed = NULL;
  bool found = false;
  if (ConvertStringSidToSidW(account, &parsed)) {
    found = CopySid(sizeof sid, sid, parsed) != FALSE;
    LocalFree(parsed);
  } else {
    DWORD sid_size = sizeof sid;
    wchar_t domain[257] = {};
    DWORD domain_length = ARRAYSIZE(domain);
    SID_NAME_USE use;
    found = LookupAccountNameW(NULL, account, sid, &sid_size, domain, &domain_length, &use) != FALSE;
  }
  wchar_t* text = NULL;
  if (!found || !ConvertSidToStringSidW(sid, &text)) return false;
  bool fits = wcslen(text) < SID_TEXT_CAPACITY;
  if (fits) wcscpy(sid_text, text);
  LocalFree(text);
  return fits;
}

TaskOwner ReadTaskOwner(void* opened, const wchar_t* name, wchar_t (&sid)[SID_TEXT_CAPACITY]) {
  ZeroMemory(sid, sizeof sid);
  BSTR task_name = AllocString(opened, name);
  if (!task_name) return TASK_OWNER_UNKNOWN;
  IRegisteredTask* task = NULL;
  HRESULT found = Folder(opened)->GetTask(task_name, &task);
  FreeString(opened, task_name);
  if (IsMissing(found)) return TASK_MISSING;
  ITaskDefinition* definition = NULL;
  IPrincipal* principal = NULL;
  BSTR user = NULL;
  // Wine keeps no principal (E_NOTIMPL), and a group principal has no user:
  // the owner stays unknown then.
  bool read = SUCCEEDED(found) && SUCCEEDED(task->get_Definition(&definition)) &&
              SUCCEEDED(definition->get_Principal(&principal)) && SUCCEEDED(principal->get_UserId(&user)) && user &&
              user[0] && AccountSidText(user, sid);
  FreeString(opened, user);
  if (principal) principal->Release();
  if (definition) definition->Release();
  if (task) task->Release();
  return read ? TASK_OWNER_KNOWN : TASK_OWNER_UNKNOWN;
}

}  // namespace

namespace {

// The scheduler keeps every task of its root folder as a file of that name
// in System32\Tasks. Only a plain "not found" counts: a folder this token may
// not read (unelevated) leaves the answer to the scheduler itself.
bool StoresNoTask(const wchar_t* name) {
  wchar_t system[MAX_PATH] = {};
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  wchar_t path[MAX_PATH];
  if (length == 0 || length >= MAX_PATH || !FormatBounded(path, MAX_PATH, L"%s\\Tasks\\%s", system, name))
    return false;
  return GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

const TaskScheduler kSystemTaskScheduler = {OpenRootFolder, RegisterTaskXml, DeleteTaskNamed, ReadTaskOwner,
                                            CloseRootFolder, StoresNoTask};

bool BuildRunCommand(wchar_t (&command)[MAX_PATH + 2], const wchar_t* module_path, DWORD length) {
  ZeroMemory(command, sizeof command);
  // GetModuleFileNameW answers MAX_PATH when it had to cut the path: a cut
  // path would start some other file, so nothing is registered.
  if (length == 0 || length >= MAX_PATH) return false;
  // Quoted, so that a path with spaces cannot start C:\Program.exe.
  command[0] = L'"';
  for (DWORD i = 0; i < length; ++i) {
    if (module_path[i] == 0) return false;
    command[1 + i] = module_path[i];
  }
  command[1 + length] = L'"';
  command[2 + length] = 0;
  return true;
}

namespace {

// TOKEN_USER and the SID it points to, which follows it.
struct TokenUserBuffer {
  alignas(TOKEN_USER) BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

// The process token's user. The token, not USERNAME and USERDOMAIN: the
// environment is whatever the parent process handed on.
PSID ReadTokenUser(TokenUserBuffer& buffer) {
  HANDLE token = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return NULL;
  DWORD size = 0;
  bool read = GetTokenInformation(token, TokenUser, buffer.bytes, sizeof buffer.bytes, &size) != FALSE;
  CloseHandle(token);
  return read ? reinterpret_cast<TOKEN_USER*>(buffer.bytes)->User.Sid : NULL;
}

}  // namespace

bool GetProcessUserSid(wchar_t (&sid_text)[SID_TEXT_CAPACITY]) {
  ZeroMemory(sid_text, sizeof sid_text);
  TokenUserBuffer buffer;
  PSID sid = ReadTokenUser(buffer);
  wchar_t* text = NULL;
  if (!sid || !ConvertSidToStringSidW(sid, &text)) return false;
  bool fits = wcslen(text) < SID_TEXT_CAPACITY;
  if (fits) wcscpy(sid_text, text);
  LocalFree(text);
  return fits;
}

bool BuildTaskName(wchar_t (&name)[TASK_NAME_CAPACITY], const wchar_t* sid) {
  TextWriter writer = {name, TASK_NAME_CAPACITY, 0, 1};
  // Letters, digits and dashes only: nothing that could name a folder of
  // the library or be refused in a task name.
  if (!sid || sid[0] != L'S' || sid[1] != L'-' || !sid[2]) writer.fits = 0;
  for (const wchar_t* c = sid; writer.fits && *c; ++c)
    if (!(IsLetter(*c) || (*c >= L'0' && *c <= L'9') || *c == L'-')) writer.fits = 0;
  if (writer.fits) {
    Put(writer, L"Quillmere ");
    Put(writer, sid);
  }
  return Finish(writer);
}

bool BuildTaskXml(wchar_t (&xml)[TASK_XML_CAPACITY], const wchar_t* sid, const wchar_t* command) {
  TextWriter writer = {xml, TASK_XML_CAPACITY, 0, 1};
  if (!sid || !sid[0] || !command || !command[0]) {
    writer.fits = 0;
    return Finish(writer);
  }
  // Version 1.2 is what Windows 7 reads. Priority 5 is the normal priority
  // class a start by hand gets; the scheduler's default, 7, is below normal.
  Put(writer,
      L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
      L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
      L"  <Triggers>\r\n"
      L"    <LogonTrigger>\r\n"
      L"      <Enabled>true</Enabled>\r\n"
      L"      <UserId>");
  PutEscaped(writer, sid);
  Put(writer,
      L"</UserId>\r\n"
      L"    </LogonTrigger>\r\n"
      L"  </Triggers>\r\n"
      L"  <Principals>\r\n"
      L"    <Principal id=\"Author\">\r\n"
      L"      <UserId>");
  PutEscaped(writer, sid);
  Put(writer,
      L"</UserId>\r\n"
      L"      <LogonType>InteractiveToken</LogonType>\r\n"
      L"      <RunLevel>HighestAvailable</RunLevel>\r\n"
      L"    </Principal>\r\n"
      L"  </Principals>\r\n"
      L"  <Settings>\r\n"
      L"    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\r\n"
      L"    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\r\n"
      L"    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\r\n"
      L"    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\r\n"
      L"    <Priority>5</Priority>\r\n"
      L"  </Settings>\r\n"
      L"  <Actions Context=\"Author\">\r\n"
      L"    <Exec>\r\n"
      L"      <Command>");
  PutEscaped(writer, command);
  Put(writer,
      L"</Command>\r\n"
      L"    </Exec>\r\n"
      L"  </Actions>\r\n"
      L"</Task>\r\n");
  return Finish(writer);
}

namespace {

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
  for (; *prefix; ++text, ++prefix)
    if (*text != *prefix) return false;
  return true;
}

// A drive path as the check walks it, "X:\..." with any "\\?\" prefix
// dropped; `length` ends before a trailing backslash. False for anything
// else: UNC paths (a share's permissions are the server's, beyond what a
// check here can see), relative paths, device and volume names, forward
// slashes, empty, "." and ".." components and stream names (a colon past
// the drive's), so that no spelling of a path can steer the walk.
bool ViewDrivePath(const wchar_t* path, const wchar_t*& rest, size_t& length) {
  if (!path) return false;
  if (StartsWith(path, L"\\\\?\\")) path += 4;
  if (!(IsLetter(path[0]) && path[1] == L':' && path[2] == L'\\')) return false;
  size_t component_start = 3;
  size_t i = component_start;
  for (;; ++i) {
    wchar_t c = path[i];
    if (c == L'/' || c == L':') return false;
    if (c != L'\\' && c != 0) continue;
    size_t component = i - component_start;
    const wchar_t* start = path + component_start;
    if (component == 0) {
      // One trailing backslash, as in "C:\", is allowed.
      if (c == 0) break;
      return false;
    }
    if ((component == 1 && start[0] == L'.') || (component == 2 && start[0] == L'.' && start[1] == L'.'))
      return false;
    if (c == 0) break;
    component_start = i + 1;
  }
  rest = path;
  length = path[i - 1] == L'\\' ? i - 1 : i;
  return true;
}

// The owner and DACL of the file or folder at `path`, read through a handle
// opened on the object itself: a link is never followed, and one found on
// the judged path (which had every link resolved) means the path changed
// since, so nothing is judged.
bool SystemReadSecurity(const wchar_t* path, bool folder, SecurityBuffer& buffer) {
  ZeroMemory(buffer.bytes, sizeof buffer.bytes);
  HANDLE object = CreateFileW(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (object == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  bool read = GetFileInformationByHandle(object, &information) &&
              !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
              ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder &&
              GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, NULL,
                              NULL, NULL, NULL, &descriptor) == ERROR_SUCCESS &&
              descriptor;
  CloseHandle(object);
  // A descriptor too large for the buffer is judged as one that cannot be
  // read.
  DWORD length = read ? GetSecurityDescriptorLength(descriptor) : 0;
  read = read && length > 0 && length <= sizeof buffer.bytes;
  if (read) memcpy(buffer.bytes, descriptor, length);
  if (descriptor) LocalFree(descriptor);
  return read;
}

// The bus of the disk the volume lies on, asked of the volume itself; no
// access right is needed for the question.
bool SystemReadBus(const wchar_t* volume, STORAGE_BUS_TYPE& bus, bool& removable_media) {
  bus = BusTypeUnknown;
  removable_media = 0;
  HANDLE device = CreateFileW(volume, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  if (device == INVALID_HANDLE_VALUE) return false;
  STORAGE_PROPERTY_QUERY query = {};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  alignas(STORAGE_DEVICE_DESCRIPTOR) BYTE answer[1024] = {};
  DWORD returned = 0;
  bool read = DeviceIoControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, answer, sizeof answer,
                              &returned, NULL) &&
              returned >= offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(STORAGE_BUS_TYPE);
  CloseHandle(device);
  if (!read) return false;
  const STORAGE_DEVICE_DESCRIPTOR* device_descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(answer);
  bus = device_descriptor->BusType;
  removable_media = device_descriptor->RemovableMedia != FALSE;
  return true;
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
  TokenUserBuffer user;
  DWORD size = 0;
  read = GetTokenInformation(token, TokenUser, user.bytes, sizeof user.bytes, &size) &&
         CopySid(sizeof sid.bytes, sid.bytes, reinterpret_cast<TOKEN_USER*>(user.bytes)->User.Sid);
  CloseHandle(token);
  return read ? SHELL_USER_READ : SHELL_USER_UNREADABLE;
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

}  // namespace

const ExeAccessPlatform kSystemExeAccessPlatform = {GetDriveTypeW, SystemReadSecurity, SystemReadBus,
                                                    SystemShellUser};

namespace {

// NT SERVICE\TrustedInstaller, which owns the system's own files.
struct TrustedInstallerSid {
  BYTE revision;
  BYTE count;
  SID_IDENTIFIER_AUTHORITY authority;
  DWORD sub_authority[6];
};
const TrustedInstallerSid kTrustedInstaller = {
    SID_REVISION, 6, SECURITY_NT_AUTHORITY, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}};

bool IsTrusted(PSID sid, PSID user) {
  return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         EqualSid(sid, const_cast<TrustedInstallerSid*>(&kTrustedInstaller)) || (user && EqualSid(sid, user));
}

// The system's own accounts, which own what Windows sets up: SYSTEM and
// TrustedInstaller.
bool IsWindowsOwn(PSID sid) {
  return IsWellKnownSid(sid, WinLocalSystemSid) || EqualSid(sid, const_cast<TrustedInstallerSid*>(&kTrustedInstaller));
}

// The SID of an allow or deny ACE of the plain kind, when the ACE holds it
// whole.
PSID AceSid(ACCESS_ALLOWED_ACE* ace) {
  size_t offset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
  if (ace->Header.AceSize < offset + 8) return NULL;  // a SID's fixed part
  PSID sid = &ace->SidStart;
  size_t room = ace->Header.AceSize - offset;
  if (GetSidLengthRequired(static_cast<SID*>(sid)->SubAuthorityCount) > room || !IsValidSid(sid)) return NULL;
  return sid;
}

}  // namespace

bool OnlyTrustedMayChange(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK change_rights, PSID user) {
  if (!descriptor || !IsValidSecurityDescriptor(descriptor)) return false;
  PSID owner = NULL;
  BOOL defaulted = FALSE;
  // The owner may always change the permissions.
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner || !IsValidSid(owner) ||
      !IsTrusted(owner, user))
    return false;
  BOOL present = FALSE;
  PACL dacl = NULL;
  // No DACL at all lets everyone do anything.
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl || !IsValidAcl(dacl))
    return false;
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = NULL;
    if (!GetAce(dacl, i, &entry)) return false;
    ACE_HEADER* header = static_cast<ACE_HEADER*>(entry);
    switch (header->AceType) {
      // A deny only takes rights away. Skipping it judges as if it were not
      // there, which is never more lenient than Windows.
      case ACCESS_DENIED_ACE_TYPE:
      case ACCESS_DENIED_OBJECT_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        continue;
      case ACCESS_ALLOWED_ACE_TYPE:
        break;
      // Anything else (callback and object grants, whose conditions are not
      // read here, and types not known at all) counts as granting
      // everything to someone untrusted.
      default:
        return false;
    }
    // Only passed on to what is created inside: no right on this object.
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = AceSid(allowed);
    if (!sid) return false;
    ACCESS_MASK mask = allowed->Mask;
    MapGenericMask(&mask, &mapping);
    if ((mask & change_rights) && !IsTrusted(sid, user)) return false;
  }
  return true;
}

bool OwnedByWindows(PSECURITY_DESCRIPTOR descriptor) {
  PSID owner = NULL;
  BOOL defaulted = FALSE;
  return descriptor && IsValidSecurityDescriptor(descriptor) &&
         GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner && IsValidSid(owner) &&
         IsWindowsOwn(owner);
}

bool VolumeStaysPut(bool read, STORAGE_BUS_TYPE bus, bool removable_media) {
  if (!read || removable_media) return false;
  switch (bus) {
    // Disks that are carried away and written elsewhere; a disk on the
    // network, which its target serves to other machines too; and a disk
    // image, a file that can be changed while it is not attached.
    case BusTypeUsb:
    case BusType1394:
    case BusTypeSd:
    case BusTypeMmc:
    case BusTypeiScsi:
    case BusTypeFileBackedVirtual:
      return false;
    default:
      return true;
  }
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

ExeTrust JudgeExe(const wchar_t* normalized, PSID user, const ExeAccessPlatform& platform) {
  ExeTrust trust = {1, 1};
  const wchar_t* rest = NULL;
  size_t length = 0;
  // The exe itself, then each folder on its way up, the drive's root last.
  if (!user || !ViewDrivePath(normalized, rest, length) || length <= 3) return ExeTrust{};
  const wchar_t root[] = {rest[0], L':', L'\\', 0};
  // A drive that is taken away, or a share, can be changed elsewhere.
  if (platform.drive_type(root) != DRIVE_FIXED) return ExeTrust{};
  // So can a disk that calls itself fixed but sits on a bus for carrying.
  const wchar_t volume[] = {L'\\', L'\\', L'.', L'\\', rest[0], L':', 0};
  STORAGE_BUS_TYPE bus = BusTypeUnknown;
  bool removable_media = 0;
  bool bus_read = platform.read_bus(volume, bus, removable_media);
  trust.task = VolumeStaysPut(bus_read, bus, removable_media);
  wchar_t path[NORMALIZED_PATH_CAPACITY];
  ACCESS_MASK change_rights = EXE_CHANGE_RIGHTS;
  bool folder = 0;
  SecurityBuffer descriptor;
  // The task also needs the topmost folder below the root to be Windows'
  // own: one an administrator made there can be deleted and made again by
  // any user, who then chooses what the task starts.
  bool top_folder_seen = 0;
  for (size_t end = length;;) {
    // The root keeps its backslash: "\\?\C:" would name the volume.
    bool root_level = end <= 3;
    if (4 + end >= NORMALIZED_PATH_CAPACITY) return ExeTrust{};
    wmemcpy(path, L"\\\\?\\", 4);
    wmemcpy(path + 4, rest, end);
    path[4 + end] = 0;
    if (!platform.read_security(path, folder, descriptor)) return ExeTrust{};
    trust.run_value = trust.run_value && OnlyTrustedMayChange(descriptor.bytes, change_rights, user);
    trust.task = trust.task && OnlyTrustedMayChange(descriptor.bytes, change_rights, NULL);
    bool top_folder = folder && !root_level && !wmemchr(rest + 3, L'\\', end - 3);
    if (top_folder) {
      top_folder_seen = 1;
      trust.task = trust.task && OwnedByWindows(descriptor.bytes);
    }
    if (root_level || !trust.run_value) break;
    size_t slash = end - 1;
    while (rest[slash] != L'\\') --slash;  // stops at the root's backslash at the latest
    end = slash == 2 ? 3 : slash;
    change_rights = folder ? FOLDER_CHANGE_RIGHTS : EXE_FOLDER_CHANGE_RIGHTS;
    folder = 1;
  }
  // What the administrators alone may change, the user may not either.
  trust.task = trust.task && trust.run_value && top_folder_seen;
  return trust;
}

bool NormalizeExistingPath(wchar_t (&normalized)[NORMALIZED_PATH_CAPACITY], const wchar_t* path) {
  ZeroMemory(normalized, sizeof normalized);
  // The handle's own name: 8.3 names, "..", links and junctions resolved to
  // the place the file really is. Folders open only with backup semantics.
  HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD length =
      GetFinalPathNameByHandleW(file, normalized, NORMALIZED_PATH_CAPACITY, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(file);
  if (length == 0 || length >= NORMALIZED_PATH_CAPACITY) {
    ZeroMemory(normalized, sizeof normalized);
    return false;
  }
  return true;
}


bool TrustedExePath(wchar_t (&plain)[MAX_PATH], ExeTrust& trust, const wchar_t* module_path, PSID user,
                    const ExeAccessPlatform& platform) {
  ZeroMemory(plain, sizeof plain);
  trust = ExeTrust{};
  wchar_t normalized[NORMALIZED_PATH_CAPACITY];
  const wchar_t* rest = NULL;
  size_t length = 0;
  if (!NormalizeExistingPath(normalized, module_path) || !ViewDrivePath(normalized, rest, length)) return false;
  ExeTrust judged = JudgeExe(normalized, user, platform);
  // Both entries start the path that was judged, in the plain form every
  // program reads.
  if (!judged.run_value || !FormatBounded(plain, MAX_PATH, L"%s", rest)) {
    ZeroMemory(plain, sizeof plain);
    return false;
  }
  trust = judged;
  return true;
}

bool LegacyTaskIsOurs(TaskOwner owner, const wchar_t* owner_sid, const wchar_t* our_sid) {
  return owner == TASK_OWNER_KNOWN && owner_sid && our_sid && our_sid[0] &&
         CompareStringOrdinal(owner_sid, -1, our_sid, -1, TRUE) == CSTR_EQUAL;
}

bool BuildTaskSddl(wchar_t (&sddl)[TASK_SDDL_CAPACITY], const wchar_t* sid) {
  TextWriter writer = {sddl, TASK_SDDL_CAPACITY, 0, 1};
  wchar_t name[TASK_NAME_CAPACITY];
  // A SID's text and nothing else, as the task's name takes it.
  if (!BuildTaskName(name, sid)) writer.fits = 0;
  if (writer.fits) {
    // Protected: nothing inherited from the store's folder joins them.
    Put(writer, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;");
    Put(writer, sid);
    Put(writer, L")");
  }
  return Finish(writer);
}

bool UpdateLogonTask(const wchar_t* sid, const wchar_t* xml, const TaskScheduler& scheduler) {
  wchar_t name[TASK_NAME_CAPACITY];
  wchar_t sddl[TASK_SDDL_CAPACITY];
  if (!BuildTaskName(name, sid) || !BuildTaskSddl(sddl, sid)) return false;
  // Nothing to remove: no COM at all, which would stay mapped for the run.
  if (!xml && scheduler.stores_no_task(name) && scheduler.stores_no_task(kLegacyTaskName)) return true;
  void* folder = scheduler.open();
  if (!folder) return false;
  // The task every account shared before tasks were per user: removed when
  // it is provably this user's, left to its owner otherwise.
  wchar_t owner[SID_TEXT_CAPACITY];
  if (LegacyTaskIsOurs(scheduler.read_owner(folder, kLegacyTaskName, owner), owner, sid))
    scheduler.delete_task(folder, kLegacyTaskName);
  bool done = xml ? scheduler.register_task(folder, name, xml, sddl) : scheduler.delete_task(folder, name);
  scheduler.close(folder);
  return done;
}


namespace {

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
  TokenUserBuffer user_buffer;
  PSID user = ReadTokenUser(user_buffer);
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
  if (!TrustedExePath(judged, trust, path, user, exe_access) ||
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
