// The logon task: its name ("Quillmere <SID>"), its XML definition and
// security descriptor, and the Task Scheduler's COM connection that
// registers or removes it. Whether there may be one is decided elsewhere
// (autostart.cpp, by the trust rule of common/exe_trust.h).
#include "settings/settings_internal.h"

#include <sddl.h>
#include <taskschd.h>
#include <wchar.h>

#include "common/system.h"
#include "common/text.h"

namespace {

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


