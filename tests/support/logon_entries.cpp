// Start at logon as tests play it (logon_entries.h).
#include "tests/support/logon_entries.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>

#include "tests/support.h"

const wchar_t kAnn[] = L"S-1-5-21-1111-2222-3333-1001";
const wchar_t kBob[] = L"S-1-5-21-1111-2222-3333-1002";
const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

Sid::Sid(const std::wstring& text) {
  PSID parsed = nullptr;
  if (ConvertStringSidToSidW(text.c_str(), &parsed)) {
    CopySid(sizeof buffer.bytes, buffer.bytes, parsed);
    LocalFree(parsed);
  }
}

// Descriptors as Windows 10 gives them. Program Files itself:
// TrustedInstaller's, everyone else reading, CREATOR OWNER only handed on.
const std::wstring kProgramFilesSddl =
    std::wstring(L"O:") + kTrustedInstaller + L"G:" + kTrustedInstaller + L"D:PAI(A;;FA;;;" + kTrustedInstaller +
    L")(A;CIIO;GA;;;" + kTrustedInstaller +
    L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)"
    L"(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;S-1-15-2-1)(A;OICIIO;GXGR;;;S-1-15-2-1)";
// A folder an installer made in it, and the exe it put there.
const std::wstring kInstalledFolderSddl =
    std::wstring(L"O:BAG:SYD:AI(A;ID;FA;;;") + kTrustedInstaller + L")(A;CIIOID;GA;;;" + kTrustedInstaller +
    L")(A;ID;0x1301bf;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;0x1301bf;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;0x1200a9;;;BU)"
    L"(A;OICIIOID;GXGR;;;BU)(A;OICIIOID;GA;;;CO)";
const std::wstring kInstalledExeSddl = L"O:BAG:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";
// The drive's root: Authenticated Users may make folders in it (0x4), and
// are handed Modify on what they make.
const std::wstring kDriveRootSddl =
    L"O:SYG:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;0x4;;;AU)";
// A folder of a user's own profile, and a file in it.
std::wstring OwnSddl(const wchar_t* user) {
  return std::wstring(L"O:") + user + L"D:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;FA;;;" + user + L")";
}
// A folder made in the root by anyone: Authenticated Users' Modify handed on.
const std::wstring kSharedToolsSddl =
    L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)"
    L"(A;OICIIOID;SDGXGWGR;;;AU)";

PlayedExeAccess played_exe_access;

namespace {

UINT WINAPI PlayedDriveType(LPCWSTR root) {
  played_exe_access.drive_asked = root;
  return played_exe_access.drive_type;
}

bool PlayedReadSecurity(const wchar_t* path, bool folder, SecurityBuffer& buffer) {
  played_exe_access.asked.push_back({path, folder});
  ZeroMemory(buffer.bytes, sizeof buffer.bytes);
  if (played_exe_access.unreadable.count(path)) return false;
  auto listed = played_exe_access.sddl.find(path);
  // An installer's below Program Files: "\\?\C:\" the root, one more
  // backslash the topmost folder.
  const std::wstring level = path;
  const size_t depth = std::count(level.begin() + 4, level.end(), L'\\');
  const bool root = level.size() == 7;
  std::wstring sddl = listed != played_exe_access.sddl.end() ? listed->second
                      : !played_exe_access.fallback.empty()  ? played_exe_access.fallback
                      : root                                 ? kDriveRootSddl
                      : folder && depth == 1                 ? kProgramFilesSddl
                      : folder                               ? kInstalledFolderSddl
                                                             : kInstalledExeSddl;
  return SddlIntoBuffer(sddl.c_str(), buffer);
}

bool PlayedReadBus(const wchar_t* volume, STORAGE_BUS_TYPE& bus, bool& removable_media) {
  played_exe_access.volume_asked = volume;
  bus = played_exe_access.bus;
  removable_media = played_exe_access.removable_media;
  return played_exe_access.bus_read;
}

ShellUser PlayedShellUser(SidBuffer& sid) {
  ZeroMemory(sid.bytes, sizeof sid.bytes);
  std::wstring text = played_exe_access.shell_sid;
  if (text.empty()) {
    wchar_t own[SID_TEXT_CAPACITY];
    if (GetProcessUserSid(own)) text = own;
  }
  Sid shell_user(text);
  CopySid(sizeof sid.bytes, sid.bytes, shell_user.get());
  return played_exe_access.shell;
}

}  // namespace

const ExeTrustPlatform kPlayedExeTrust = {PlayedDriveType, PlayedReadSecurity, PlayedReadBus};
const ExeAccessPlatform kPlayedExeAccess = {&kPlayedExeTrust, PlayedShellUser};

FakeScheduler fake_scheduler;

namespace {

void* FakeOpen() {
  if (!fake_scheduler.reachable) return nullptr;
  ++fake_scheduler.opened;
  return &fake_scheduler;
}

bool FakeRegister(void* folder, const wchar_t* name, const wchar_t* xml, const wchar_t* sddl) {
  EXPECT_EQ(folder, &fake_scheduler);
  fake_scheduler.tasks[name] = {xml, fake_scheduler.registering_user, sddl};
  return true;
}

bool FakeDelete(void* folder, const wchar_t* name) {
  EXPECT_EQ(folder, &fake_scheduler);
  fake_scheduler.deleted.push_back(name);
  fake_scheduler.tasks.erase(name);
  return true;
}

TaskOwner FakeReadOwner(void* folder, const wchar_t* name, wchar_t (&sid)[SID_TEXT_CAPACITY]) {
  EXPECT_EQ(folder, &fake_scheduler);
  ZeroMemory(sid, sizeof sid);
  auto task = fake_scheduler.tasks.find(name);
  if (task == fake_scheduler.tasks.end()) return TASK_MISSING;
  if (task->second.owner.empty()) return TASK_OWNER_UNKNOWN;
  wcscpy(sid, task->second.owner.c_str());
  return TASK_OWNER_KNOWN;
}

void FakeClose(void* folder) {
  EXPECT_EQ(folder, &fake_scheduler);
  ++fake_scheduler.closed;
}

// A store that cannot be looked into: every change goes to the scheduler.
bool FakeStoreUnreadable(const wchar_t*) { return false; }
// A store that tells what it holds, as System32\Tasks does for an elevated
// process.
bool FakeStoresNoTask(const wchar_t* name) { return fake_scheduler.tasks.count(name) == 0; }

}  // namespace

const TaskScheduler kFakeScheduler = {FakeOpen, FakeRegister, FakeDelete, FakeReadOwner, FakeClose, FakeStoreUnreadable};
const TaskScheduler kFakeSchedulerWithStore = {FakeOpen,      FakeRegister, FakeDelete,
                                               FakeReadOwner, FakeClose,    FakeStoresNoTask};


const wchar_t kInstalledCommand[] = L"\"C:\\Program Files\\Quillmere\\quillmere.exe\"";
const wchar_t kRunMarker[] = L"a Run value left from before";

void WriteRunMarker() {
  RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Quillmere", REG_SZ,
                  kRunMarker, sizeof kRunMarker);
}

void LogonEntries::SetUp() {
  DeleteRunValue();
  DeleteAutostartTask();
  ASSERT_FALSE(ReadAutostartTask().exists);
  ASSERT_TRUE(GetProcessUserSid(sid_));
  ASSERT_TRUE(BuildTaskXml(xml_, sid_, kInstalledCommand));
  played_exe_access = PlayedExeAccess{};
  played_exe_access.fallback = OwnSddl(sid_);
}

void LogonEntries::TearDown() {
  DeleteRunValue();
  DeleteAutostartTask();
}
