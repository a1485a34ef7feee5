// Start at logon: the "Quillmere" value under the current user's Run key,
// and a Task Scheduler task of this user's own ("Quillmere <SID>") that
// starts the program elevated. With UAC on, Windows skips programs that need
// elevation in the Run key, so only the task starts Quillmere there; with
// UAC off both start it and the single-instance guard ends the second copy.
#include "settings/settings.h"

#include "common/system.h"
#include "common/text.h"
#include "settings/settings_internal.h"

#include <sddl.h>
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
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
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
// update: registering again rewrites the task in place.
bool RegisterTaskXml(void* opened, const wchar_t* name, const wchar_t* xml) {
  BSTR task_name = AllocString(opened, name);
  BSTR definition = AllocString(opened, xml);
  VARIANT none = {};
  none.vt = VT_EMPTY;
  IRegisteredTask* task = NULL;
  bool done = task_name && definition &&
              SUCCEEDED(Folder(opened)->RegisterTask(task_name, definition, TASK_CREATE_OR_UPDATE, none, none,
                                                     TASK_LOGON_INTERACTIVE_TOKEN, none, &task));
  if (task) task->Release();
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

// The rights `token` holds on the file or folder at `path`, asked through a
// handle opened on the object itself: a link is never followed, and one
// found on the judged path (which had every link resolved) means the path
// changed since, so nothing is judged.
bool SystemUserAccess(HANDLE token, const wchar_t* path, bool folder, ACCESS_MASK& granted) {
  granted = 0;
  HANDLE object = CreateFileW(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (object == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  // Owner, group and DACL are what AccessCheck needs; the label keeps a
  // raised integrity level in the answer. A descriptor too large for the
  // buffer is judged as one that cannot be read.
  alignas(SECURITY_DESCRIPTOR) BYTE descriptor[16384];
  DWORD needed = 0;
  bool read = GetFileInformationByHandle(object, &information) &&
              !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
              ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder &&
              GetKernelObjectSecurity(object,
                                      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                          DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                                      descriptor, sizeof descriptor, &needed);
  CloseHandle(object);
  return read && TokenAccess(token, descriptor, granted);
}

}  // namespace

const ExeAccessPlatform kSystemExeAccessPlatform = {GetDriveTypeW, SystemUserAccess};

bool TokenAccess(HANDLE token, PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK& granted) {
  granted = 0;
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  alignas(PRIVILEGE_SET) BYTE privileges[sizeof(PRIVILEGE_SET) + 8 * sizeof(LUID_AND_ATTRIBUTES)];
  DWORD privileges_size = sizeof privileges;
  DWORD access = 0;
  BOOL status = FALSE;
  // Everything the token may do, so that any single change right shows (a
  // check for the change rights themselves would answer only all or none).
  if (!token || !AccessCheck(descriptor, token, MAXIMUM_ALLOWED, &mapping,
                             reinterpret_cast<PPRIVILEGE_SET>(privileges), &privileges_size, &access, &status))
    return false;
  granted = status ? access : 0;
  return true;
}

bool ExeBeyondUserReach(const wchar_t* normalized, HANDLE user_token, const ExeAccessPlatform& platform) {
  const wchar_t* rest = NULL;
  size_t length = 0;
  // The exe itself, then each folder on its way up, the drive's root last.
  if (!user_token || !ViewDrivePath(normalized, rest, length) || length <= 3) return false;
  const wchar_t root[] = {rest[0], L':', L'\\', 0};
  // A removable drive can be changed on another machine.
  if (platform.drive_type(root) != DRIVE_FIXED) return false;
  wchar_t path[NORMALIZED_PATH_CAPACITY];
  ACCESS_MASK change_rights = EXE_CHANGE_RIGHTS;
  bool folder = 0;
  for (size_t end = length;;) {
    // The root keeps its backslash: "\\?\C:" would name the volume.
    bool root_level = end <= 3;
    if (4 + end >= NORMALIZED_PATH_CAPACITY) return false;
    wmemcpy(path, L"\\\\?\\", 4);
    wmemcpy(path + 4, rest, end);
    path[4 + end] = 0;
    ACCESS_MASK granted = 0;
    if (!platform.user_access(user_token, path, folder, granted) || (granted & change_rights)) return false;
    if (root_level) return true;
    size_t slash = end - 1;
    while (rest[slash] != L'\\') --slash;  // stops at the root's backslash at the latest
    end = slash == 2 ? 3 : slash;
    change_rights = folder ? FOLDER_CHANGE_RIGHTS : EXE_FOLDER_CHANGE_RIGHTS;
    folder = 1;
  }
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

bool TaskExePath(wchar_t (&plain)[MAX_PATH], const wchar_t* module_path, HANDLE user_token,
                 const ExeAccessPlatform& platform) {
  ZeroMemory(plain, sizeof plain);
  wchar_t normalized[NORMALIZED_PATH_CAPACITY];
  const wchar_t* rest = NULL;
  size_t length = 0;
  if (!NormalizeExistingPath(normalized, module_path) || !ExeBeyondUserReach(normalized, user_token, platform) ||
      !ViewDrivePath(normalized, rest, length))
    return false;
  // The task starts the path that was judged, in the plain form every
  // program reads.
  if (FormatBounded(plain, MAX_PATH, L"%s", rest)) return true;
  ZeroMemory(plain, sizeof plain);
  return false;
}

bool LegacyTaskIsOurs(TaskOwner owner, const wchar_t* owner_sid, const wchar_t* our_sid) {
  return owner == TASK_OWNER_KNOWN && owner_sid && our_sid && our_sid[0] &&
         CompareStringOrdinal(owner_sid, -1, our_sid, -1, TRUE) == CSTR_EQUAL;
}

bool UpdateLogonTask(const wchar_t* sid, const wchar_t* xml, const TaskScheduler& scheduler) {
  wchar_t name[TASK_NAME_CAPACITY];
  if (!BuildTaskName(name, sid)) return false;
  // Nothing to remove: no COM at all, which would stay mapped for the run.
  if (!xml && scheduler.stores_no_task(name) && scheduler.stores_no_task(kLegacyTaskName)) return true;
  void* folder = scheduler.open();
  if (!folder) return false;
  // The task every account shared before tasks were per user: removed when
  // it is provably this user's, left to its owner otherwise.
  wchar_t owner[SID_TEXT_CAPACITY];
  if (LegacyTaskIsOurs(scheduler.read_owner(folder, kLegacyTaskName, owner), owner, sid))
    scheduler.delete_task(folder, kLegacyTaskName);
  bool done = xml ? scheduler.register_task(folder, name, xml) : scheduler.delete_task(folder, name);
  scheduler.close(folder);
  return done;
}

namespace {

// The user's rights without elevation, for the access check: the linked
// token UAC keeps beside an elevated one (an identification token, which
// is enough to check against); where there is none (UAC off, a standard
// user, a process not elevated) `user_token`, the user-rights token made at
// start, which is borrowed. `owned` tells the caller to close what it got.
HANDLE UnelevatedToken(HANDLE user_token, bool& owned) {
  owned = 0;
  HANDLE process = NULL;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process)) {
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    // Only an elevated token's linked token is the unelevated one.
    if (GetTokenInformation(process, TokenElevationType, &type, sizeof type, &size) &&
        type == TokenElevationTypeFull &&
        GetTokenInformation(process, TokenLinkedToken, &linked, sizeof linked, &size) && linked.LinkedToken)
      owned = 1;
    CloseHandle(process);
    if (owned) return linked.LinkedToken;
  }
  return user_token;
}

}  // namespace

AutostartResult SetAutostart(bool enable, const TaskScheduler& scheduler, const ExeAccessPlatform& exe_access,
                             HANDLE user_token) {
  wchar_t sid[SID_TEXT_CAPACITY];
  bool user_known = GetProcessUserSid(sid);
  if (!enable) {
    bool run_value_removed = SetRunValue(false, NULL, 0);
    bool task_removed = user_known && UpdateLogonTask(sid, NULL, scheduler);
    return run_value_removed && task_removed ? AUTOSTART_DONE : AUTOSTART_FAILED;
  }
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  wchar_t command[MAX_PATH + 2];
  if (!BuildRunCommand(command, path, length)) return AUTOSTART_FAILED;
  bool run_value_written = SetRunValue(true, command, length + 2);  // two quotes
  // The task starts the exe elevated with no prompt, so it is registered
  // only for an exe that the user, unelevated, can change in no way.
  // Otherwise a task of ours, left from a start in another place or with
  // other permissions, goes.
  bool owned = 0;
  HANDLE unelevated = UnelevatedToken(user_token, owned);
  wchar_t task_path[MAX_PATH];
  wchar_t task_command[MAX_PATH + 2];
  bool task_allowed = TaskExePath(task_path, path, unelevated, exe_access) &&
                      BuildRunCommand(task_command, task_path, static_cast<DWORD>(wcslen(task_path)));
  if (owned) CloseHandle(unelevated);
  if (!task_allowed) {
    bool task_removed = user_known && UpdateLogonTask(sid, NULL, scheduler);
    return run_value_written && task_removed ? AUTOSTART_RUN_VALUE_ONLY : AUTOSTART_FAILED;
  }
  wchar_t xml[TASK_XML_CAPACITY];
  bool task_registered = user_known && BuildTaskXml(xml, sid, task_command) && UpdateLogonTask(sid, xml, scheduler);
  return run_value_written && task_registered ? AUTOSTART_DONE : AUTOSTART_FAILED;
}

AutostartNotice AutostartNoticeFor(bool was_on, AutostartResult result) {
  if (result == AUTOSTART_FAILED) return AUTOSTART_NOTICE_FAILED;
  if (!was_on && result == AUTOSTART_RUN_VALUE_ONLY) return AUTOSTART_NOTICE_NOT_ELEVATED;
  return AUTOSTART_NOTICE_NONE;
}
