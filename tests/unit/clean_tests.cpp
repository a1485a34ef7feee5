// Memory snapshot, the trimmer, the purge and the list reading through a
// played platform, the freed figure, the log and its file, the balloons, and
// real cleans.
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app.h"
#include "clean/clean.h"
#include "status/status_internal.h"
#include "tests/support.h"
#include "tests/support/in_language.h"

TEST(MemorySnapshot, FillsFiguresFromOneReading) {
  struct Case {
    uint64_t total, avail;
    DWORD load;
    uint64_t used;
    double used_gb, total_gb;
  };
  const uint64_t GiB = 1073741824ull;
  const Case cases[] = {
      {16 * GiB, 4 * GiB, 75, 12 * GiB, 12.0, 16.0},
      // The load is the system's own figure, not one computed from the bytes.
      {16 * GiB, 4 * GiB, 99, 12 * GiB, 12.0, 16.0},
      // Not clamped: more available than total wraps in unsigned arithmetic.
      {1 * GiB, 2 * GiB, 0, ~0ull - GiB + 1, 17179869183.0, 1.0},
      // Values of 2^63 and above keep their magnitude as doubles.
      {1ull << 63, 0, 100, 1ull << 63, 8589934592.0, 8589934592.0},
  };
  for (const Case& c : cases) {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    status.ullTotalPhys = c.total;
    status.ullAvailPhys = c.avail;
    status.dwMemoryLoad = c.load;
    MemorySnapshot snapshot = {};
    FillMemorySnapshot(snapshot, status);
    EXPECT_EQ(snapshot.total_bytes, c.total);
    EXPECT_EQ(snapshot.avail_bytes, c.avail);
    EXPECT_EQ(snapshot.used_bytes, c.used);
    EXPECT_EQ(snapshot.load_percent, c.load);
    EXPECT_DOUBLE_EQ(snapshot.used_gb, c.used_gb);
    EXPECT_DOUBLE_EQ(snapshot.total_gb, c.total_gb);
  }
}

TEST(MemorySnapshot, ReadsTheSystem) {
  MemorySnapshot snapshot = {};
  ASSERT_TRUE(TakeMemorySnapshot(snapshot));
  EXPECT_GT(snapshot.total_bytes, 0u);
  EXPECT_LE(snapshot.avail_bytes, snapshot.total_bytes);
  EXPECT_EQ(snapshot.used_bytes, snapshot.total_bytes - snapshot.avail_bytes);
  EXPECT_LE(snapshot.load_percent, 100u);
  EXPECT_DOUBLE_EQ(snapshot.total_gb, static_cast<double>(snapshot.total_bytes) / 1073741824.0);
}

// ---------------------------------------------------------------------------
// The trimmer, the purge and the list reading, through a platform the tests
// play.

namespace {

struct FakeProcess {
  DWORD id;
  const wchar_t* image;  // nullptr: the name cannot be read
  bool opens = true;
  bool empties = true;
};

// What the fake platform holds and what it saw.
struct FakeSystem {
  std::vector<FakeProcess> processes;
  bool enumeration_fails = false;
  DWORD claimed_bytes = 0;  // when set, the byte count the enumeration claims
  bool module_found = true;
  bool entry_found = true;        // NtSetSystemInformation
  bool query_found = true;        // NtQuerySystemInformation
  LONG query_status = 0;
  SystemMemoryListInformation pages = {};
  DWORD page_size = 4096;
  HWND foreground = nullptr;   // the foreground window, none by default
  DWORD foreground_owner = 0;  // its process; 0: GetWindowThreadProcessId fails
  std::vector<std::wstring> withheld;  // privileges the token does not hold
  bool debugging = false;              // "Debug programs" enabled now
  std::vector<bool> opened_debugging;  // as each process was opened

  std::vector<std::string> calls;
  std::vector<DWORD> opened, named, emptied;
  DWORD enumeration_bytes = 0;
  DWORD open_access = 0;
  BOOL open_inherit = TRUE;
  DWORD name_capacity = 0;
  std::vector<HANDLE> open_handles;
  int bad_closes = 0;
  int opens_while_another_is_open = 0;
};

FakeSystem fake;

HANDLE HandleOf(DWORD id) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x10000 + id * 4)); }
DWORD IdOf(HANDLE handle) { return static_cast<DWORD>((reinterpret_cast<uintptr_t>(handle) - 0x10000) / 4); }

const FakeProcess* Find(DWORD id) {
  for (const FakeProcess& process : fake.processes)
    if (process.id == id) return &process;
  return nullptr;
}

BOOL WINAPI FakeEnumProcesses(DWORD* ids, DWORD bytes, DWORD* returned) {
  fake.calls.push_back("enumerate");
  fake.enumeration_bytes = bytes;
  if (fake.enumeration_fails) return FALSE;
  DWORD fit = bytes / sizeof(DWORD);
  DWORD n = 0;
  for (; n < fit && n < fake.processes.size(); ++n) ids[n] = fake.processes[n].id;
  *returned = fake.claimed_bytes ? fake.claimed_bytes : n * static_cast<DWORD>(sizeof(DWORD));
  return TRUE;
}

HANDLE WINAPI FakeOpenProcess(DWORD access, BOOL inherit, DWORD id) {
  fake.open_access = access;
  fake.open_inherit = inherit;
  const FakeProcess* process = Find(id);
  if (!process || !process->opens) return nullptr;
  if (!fake.open_handles.empty()) fake.opens_while_another_is_open += 1;
  fake.opened.push_back(id);
  fake.opened_debugging.push_back(fake.debugging);
  fake.open_handles.push_back(HandleOf(id));
  return HandleOf(id);
}

DWORD WINAPI FakeGetImageName(HANDLE handle, LPWSTR name, DWORD size) {
  fake.name_capacity = size;
  DWORD id = IdOf(handle);
  fake.named.push_back(id);
  const FakeProcess* process = Find(id);
  if (!process || !process->image) return 0;
  DWORD length = static_cast<DWORD>(wcslen(process->image));
  if (length + 1 > size) return 0;
  wmemcpy(name, process->image, length + 1);
  return length;
}

BOOL WINAPI FakeEmptyWorkingSet(HANDLE handle) {
  DWORD id = IdOf(handle);
  fake.emptied.push_back(id);
  const FakeProcess* process = Find(id);
  return process && process->empties;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  for (size_t i = 0; i < fake.open_handles.size(); ++i) {
    if (fake.open_handles[i] == handle) {
      fake.open_handles.erase(fake.open_handles.begin() + static_cast<ptrdiff_t>(i));
      return TRUE;
    }
  }
  fake.bad_closes += 1;
  return FALSE;
}

LONG NTAPI FakeSetSystemInformation(ULONG information_class, PVOID information, ULONG length) {
  fake.calls.push_back("list class=" + std::to_string(information_class) +
                       " command=" + std::to_string(*static_cast<ULONG*>(information)) +
                       " length=" + std::to_string(length));
  return 0;
}

HMODULE WINAPI FakeGetModuleHandle(LPCWSTR name) {
  fake.calls.push_back("module " + Narrow(name));
  return fake.module_found ? reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7000)) : nullptr;
}

// Writes the pages only on success, as the system does.
LONG NTAPI FakeQuerySystemInformation(ULONG information_class, PVOID information, ULONG length, PULONG returned) {
  fake.calls.push_back("query class=" + std::to_string(information_class) + " length=" + std::to_string(length));
  if (fake.query_status < 0) return fake.query_status;
  if (length < sizeof fake.pages) return static_cast<LONG>(0xC0000004);  // STATUS_INFO_LENGTH_MISMATCH
  memcpy(information, &fake.pages, sizeof fake.pages);
  if (returned) *returned = sizeof fake.pages;
  return fake.query_status;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE, LPCSTR name) {
  fake.calls.push_back(std::string("entry ") + name);
  if (strcmp(name, "NtQuerySystemInformation") == 0)
    return fake.query_found ? reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeQuerySystemInformation))
                            : nullptr;
  if (!fake.entry_found) return nullptr;
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeSetSystemInformation));
}

BOOL WINAPI FakeSetFileCacheSize(SIZE_T minimum, SIZE_T maximum, DWORD flags) {
  fake.calls.push_back(std::string("flush cache") + (minimum == static_cast<SIZE_T>(-1) ? " min=-1" : " min=?") +
                       (maximum == static_cast<SIZE_T>(-1) ? " max=-1" : " max=?") +
                       " flags=" + std::to_string(flags));
  return FALSE;
}

// As AdjustTokenPrivileges does: a privilege the token does not hold stays
// as it was, and the call says so.
bool FakeSetPrivilege(const wchar_t* privilege, bool enable) {
  fake.calls.push_back((enable ? "enable " : "disable ") + Narrow(privilege));
  for (const std::wstring& withheld : fake.withheld)
    if (withheld == privilege) return false;
  if (wcscmp(privilege, SE_DEBUG_NAME) == 0) fake.debugging = enable;
  return true;
}

void WINAPI FakeGetSystemInfo(LPSYSTEM_INFO info) {
  ZeroMemory(info, sizeof *info);
  info->dwPageSize = fake.page_size;
}

HWND WINAPI FakeForegroundWindow() {
  fake.calls.push_back("foreground window");
  return fake.foreground;
}

// As the system: the thread's id, 0 for a window it does not know, and the
// process id written only when it knows it.
DWORD WINAPI FakeWindowThreadProcessId(HWND window, LPDWORD process_id) {
  if (window != fake.foreground || fake.foreground_owner == 0) return 0;
  if (process_id) *process_id = fake.foreground_owner;
  return 0x900;
}

const CleanPlatform kFakePlatform = {
    FakeEnumProcesses,    FakeOpenProcess,          FakeGetImageName,     FakeEmptyWorkingSet,
    FakeCloseHandle,      FakeGetModuleHandle,      FakeGetProcAddress,   FakeSetFileCacheSize,
    FakeSetPrivilege,     FakeGetSystemInfo,        FakeForegroundWindow, FakeWindowThreadProcessId,
};

const CleanSteps kFullClean = {true, true, true, true, false};

// Each test starts from a fresh played system and clean record.
class PlayedSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = FakeSystem{};
    FreshCleanState();
  }
  // The clean's record as a new run has it, on the played system.
  void FreshCleanState() {
    clean = CleanState{};
    clean.platform = &kFakePlatform;
  }
  void TearDown() override {
    // Whatever the path a process took, its handle was closed exactly once
    // and before the next process was opened.
    EXPECT_TRUE(fake.open_handles.empty()) << fake.open_handles.size() << " handles left open";
    EXPECT_EQ(fake.bad_closes, 0) << "closed a handle that was not open";
    EXPECT_EQ(fake.opens_while_another_is_open, 0);
  }
  CleanState clean;
};

// Which processes a clean trims.
class Trimmer : public PlayedSystemTest {};
// The requests to the system that follow the trim.
class SystemListPurge : public PlayedSystemTest {};
// The memory lists read around a clean.
class MemoryListReading : public PlayedSystemTest {};

// Expects these list figures, in MB.
void ExpectListFigures(const MemoryLists& lists, double zeroed_mb, double free_mb, double modified_mb,
                       double standby_mb) {
  EXPECT_DOUBLE_EQ(lists.zeroed_mb, zeroed_mb);
  EXPECT_DOUBLE_EQ(lists.free_mb, free_mb);
  EXPECT_DOUBLE_EQ(lists.modified_mb, modified_mb);
  EXPECT_DOUBLE_EQ(lists.standby_mb, standby_mb);
}

const wchar_t kExplorer[] = L"\\Device\\HarddiskVolume1\\Windows\\explorer.exe";

}  // namespace

TEST_F(Trimmer, WithoutAListEveryOpenableProcessIsTrimmedAndNoNameRead) {
  for (const wchar_t* list : {static_cast<const wchar_t*>(nullptr), L""}) {
    fake = FakeSystem{};
    fake.processes = {{0, kExplorer},          {4, kExplorer},
                      {8, kExplorer, false},   // ended before it could be opened
                      {12, kExplorer, true, false},  // refuses the trim
                      {16, nullptr}};
    EXPECT_EQ(TrimWorkingSets(list, kFakePlatform), 2u) << "only successful trims count";
    EXPECT_EQ(fake.enumeration_bytes, 16384u);
    EXPECT_EQ(fake.open_access, 0x0500u);
    EXPECT_EQ(fake.open_inherit, FALSE);
    EXPECT_EQ(fake.opened, (std::vector<DWORD>{4, 12, 16})) << "id 0 is never opened";
    EXPECT_EQ(fake.emptied, (std::vector<DWORD>{4, 12, 16}));
    EXPECT_TRUE(fake.named.empty()) << "no list, no name queries";
    EXPECT_TRUE(fake.open_handles.empty());
  }
}

TEST_F(Trimmer, ExcludesWholeNamesIgnoringOnlyAsciiCase) {
  const std::wstring long_list_fits = std::wstring(246, L',') + L"sshd.exe,";  // 255 characters
  const std::wstring long_list_cut = std::wstring(248, L',') + L"sshd.exe";    // 256: the last one is lost
  struct Case {
    const wchar_t* list;
    const wchar_t* image;
    bool excluded;
  };
  const Case cases[] = {
      {L"explorer.exe", kExplorer, true},
      {L"EXPLORER.EXE", kExplorer, true},
      {L"eXpLoReR.ExE", kExplorer, true},
      {L"explorer", kExplorer, false},          // the extension is part of the name
      {L"plorer.exe", kExplorer, false},        // a tail of the name
      {L"explorer.exe2", kExplorer, false},     // longer than the name
      {L"explorer.ex", kExplorer, false},
      {L"chrome.exe,explorer.exe", kExplorer, true},
      {L"  ,, chrome.exe ,,explorer.exe , ", kExplorer, true},
      {L"chrome.exe;explorer.exe", kExplorer, false},  // a semicolon is part of a name
      {L"explorer.exe\tchrome.exe", kExplorer, false},  // so is a tab
      {L"explorer.exe", L"explorer.exe", true},      // no backslash: the whole text is the name
      {L"windows", kExplorer, false},                // folders of the path are not the name
      // Only A-Z and a-z fold: other letters must match exactly.
      {L"\u00e4pp.exe", L"\\Device\\x\\\u00e4pp.exe", true},
      {L"\u00c4PP.EXE", L"\\Device\\x\\\u00e4pp.exe", false},
      {L"\u00c4pp.exe", L"\\Device\\x\\\u00e4pp.exe", false},
      // A space splits the name, so such an executable is never excluded.
      {L"my app.exe", L"\\Device\\x\\my app.exe", false},
      {L"my,app.exe", L"\\Device\\x\\my app.exe", false},
      // Only the first 255 characters of the list count.
      {long_list_fits.c_str(), L"\\Device\\x\\sshd.exe", true},
      {long_list_cut.c_str(), L"\\Device\\x\\sshd.exe", false},
  };
  for (const Case& c : cases) {
    fake = FakeSystem{};
    fake.processes = {{40, c.image}};
    uint32_t trimmed = TrimWorkingSets(c.list, kFakePlatform);
    EXPECT_EQ(trimmed, c.excluded ? 0u : 1u) << Narrow(c.list) << " / " << Narrow(c.image);
    EXPECT_EQ(fake.named, std::vector<DWORD>{40});
    EXPECT_EQ(fake.name_capacity, 260u);
    EXPECT_EQ(IsExcluded(ImageBaseName(c.image), c.list), c.excluded) << Narrow(c.list);
    EXPECT_TRUE(fake.open_handles.empty());
  }
  EXPECT_FALSE(IsExcluded(L"explorer.exe", nullptr));
}

TEST_F(Trimmer, ListOfOnlyDelimitersReadsNamesAndTrimsEverything) {
  fake.processes = {{4, kExplorer}, {8, L"\\Device\\x\\, .exe"}, {12, nullptr}};
  EXPECT_EQ(TrimWorkingSets(L" ,, , ,   ,", kFakePlatform), 3u);
  EXPECT_EQ(fake.named, (std::vector<DWORD>{4, 8, 12}));
}

TEST_F(Trimmer, EveryPathClosesItsHandleAndOnlyTrimsAreCounted) {
  fake.processes = {
      {4, kExplorer},                                      // excluded
      {8, nullptr},                                        // listed? cannot tell: trimmed
      {12, L"\\Device\\x\\svchost.exe"},                   // trimmed
      {16, L"\\Device\\x\\svchost.exe", true, false},      // trim refused
      {20, kExplorer, false},                              // cannot be opened
      {24, L"\\Device\\x\\Explorer.EXE"},                  // excluded
  };
  EXPECT_EQ(TrimWorkingSets(L"explorer.exe", kFakePlatform), 2u);
  EXPECT_EQ(fake.opened, (std::vector<DWORD>{4, 8, 12, 16, 24}));
  EXPECT_EQ(fake.named, (std::vector<DWORD>{4, 8, 12, 16, 24}));
  EXPECT_EQ(fake.emptied, (std::vector<DWORD>{8, 12, 16}));
}

TEST_F(Trimmer, VisitsOnlyTheFirst4096Processes) {
  for (DWORD i = 1; i <= 5000; ++i) fake.processes.push_back({i * 4, nullptr});
  // As the system does: fills the array and says how many bytes it used.
  EXPECT_EQ(TrimWorkingSets(L"", kFakePlatform), 4096u);
  ASSERT_EQ(fake.opened.size(), 4096u);
  EXPECT_EQ(fake.opened.back(), 4096u * 4);
  EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "enumerate"), 1) << "never enumerated again";

  // A platform that claims more than fits is not read past the array.
  fake = FakeSystem{};
  for (DWORD i = 1; i <= 5000; ++i) fake.processes.push_back({i * 4, nullptr});
  fake.claimed_bytes = 5000 * 4;
  EXPECT_EQ(TrimWorkingSets(L"", kFakePlatform), 4096u);
}

TEST_F(Trimmer, FailedOrEmptyEnumerationTrimsNothing) {
  fake.processes = {{4, kExplorer}};
  fake.enumeration_fails = true;
  EXPECT_EQ(TrimWorkingSets(L"explorer.exe", kFakePlatform), 0u);
  EXPECT_TRUE(fake.opened.empty());

  fake = FakeSystem{};
  EXPECT_EQ(TrimWorkingSets(nullptr, kFakePlatform), 0u);
  EXPECT_TRUE(fake.opened.empty());
}

TEST_F(SystemListPurge, PurgeTrimsThenFlushesModifiedPurgesStandbyAndFlushesTheCache) {
  fake.processes = {{4, kExplorer}, {8, nullptr, false}, {12, nullptr}};
  EXPECT_EQ(PurgeSystemLists(clean, nullptr, kFullClean), 2u);
  const std::vector<std::string> first = {
      "enable SeDebugPrivilege",  // for the trim alone
      "enumerate",
      "disable SeDebugPrivilege",
      "enable SeProfileSingleProcessPrivilege",  // before the first request that needs them
      "enable SeIncreaseQuotaPrivilege",
      "module ntdll.dll",
      "entry NtSetSystemInformation",
      "list class=80 command=3 length=4",
      "list class=80 command=4 length=4",
      "flush cache min=-1 max=-1 flags=0",
  };
  EXPECT_EQ(fake.calls, first);
  EXPECT_EQ(fake.emptied, (std::vector<DWORD>{4, 12})) << "the trim comes first, before any request";

  // Later cleans of the run use the entry found and enable nothing again.
  fake.calls.clear();
  fake.processes = {{4, kExplorer, true, false}};
  EXPECT_EQ(PurgeSystemLists(clean, nullptr, kFullClean), 0u);
  const std::vector<std::string> second = {
      "enable SeDebugPrivilege",
      "enumerate",
      "disable SeDebugPrivilege",
      "list class=80 command=3 length=4",
      "list class=80 command=4 length=4",
      "flush cache min=-1 max=-1 flags=0",
  };
  EXPECT_EQ(fake.calls, second);
}

// Windows lets an administrator open services' and other sessions'
// processes for a trim only with "Debug programs" enabled: the trim alone
// runs with it, and it is off again after. A token without it trims what
// it can; a clean without the trim never asks for it.
TEST_F(SystemListPurge, TheTrimAloneRunsWithDebugProgramsEnabled) {
  struct Case {
    const char* what;
    bool held;
    bool trim;
  };
  const Case cases[] = {{"held", true, true}, {"withheld by a policy", false, true}, {"no trim", true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreshCleanState();
    fake = FakeSystem{};
    fake.processes = {{4, kExplorer}, {8, kExplorer}};
    if (!c.held) fake.withheld = {SE_DEBUG_NAME};
    CleanSteps steps = kFullClean;
    steps.trim_working_sets = c.trim;
    EXPECT_EQ(PurgeSystemLists(clean, nullptr, steps), c.trim ? 2u : 0u);
    EXPECT_EQ(fake.opened_debugging, std::vector<bool>(c.trim ? 2 : 0, c.held)) << "every open, and only those";
    EXPECT_FALSE(fake.debugging) << "off once the trim is done";
    int asked = 0;
    for (const std::string& call : fake.calls) asked += call.find("SeDebugPrivilege") != std::string::npos;
    EXPECT_EQ(asked, c.trim ? (c.held ? 2 : 1) : 0) << "nothing to switch off when it was not switched on";
  }
}

// The purge's privileges are asked for once a run; whether Windows
// enabled both is what a full clean needs, and the program's Limited.
TEST_F(SystemListPurge, ThePurgesPrivilegesAreHeldOnlyWhenWindowsEnablesBoth) {
  const std::vector<std::wstring> cases[] = {
      {}, {SE_PROF_SINGLE_PROCESS_NAME}, {SE_INCREASE_QUOTA_NAME}, {SE_PROF_SINGLE_PROCESS_NAME, SE_INCREASE_QUOTA_NAME}};
  for (const std::vector<std::wstring>& withheld : cases) {
    FreshCleanState();
    fake = FakeSystem{};
    fake.withheld = withheld;
    EXPECT_EQ(EnsurePurgePrivileges(clean), withheld.empty()) << withheld.size();
    fake.calls.clear();
    EXPECT_EQ(EnsurePurgePrivileges(clean), withheld.empty());
    EXPECT_TRUE(fake.calls.empty()) << "asked once a run";
  }
  EXPECT_TRUE(PrivilegesAdjusted(TRUE, ERROR_SUCCESS));
  EXPECT_FALSE(PrivilegesAdjusted(TRUE, ERROR_NOT_ALL_ASSIGNED)) << "succeeds without the privilege";
  EXPECT_FALSE(PrivilegesAdjusted(FALSE, ERROR_SUCCESS));
}

TEST_F(SystemListPurge, MissingEntryPointSkipsBothCommandsAndIsLookedUpAgain) {
  struct Case {
    bool module_found;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {true,
       {"enable SeDebugPrivilege", "enumerate", "disable SeDebugPrivilege", "module ntdll.dll",
        "entry NtSetSystemInformation", "module ntdll.dll", "entry NtSetSystemInformation",
        "flush cache min=-1 max=-1 flags=0"}},
      {false,
       {"enable SeDebugPrivilege", "enumerate", "disable SeDebugPrivilege", "module ntdll.dll", "module ntdll.dll",
        "flush cache min=-1 max=-1 flags=0"}},
  };
  for (const Case& c : cases) {
    FreshCleanState();
    for (int run = 0; run < 2; ++run) {
      fake = FakeSystem{};
      fake.processes = {{4, kExplorer}, {8, kExplorer}};
      fake.module_found = c.module_found;
      fake.entry_found = false;
      EXPECT_EQ(PurgeSystemLists(clean, L"explorer.exe", kFullClean), 0u);
      std::vector<std::string> expected = c.calls;
      if (run == 0)
        expected.insert(expected.begin() + 3, {"enable SeProfileSingleProcessPrivilege", "enable SeIncreaseQuotaPrivilege"});
      EXPECT_EQ(fake.calls, expected) << "module found: " << c.module_found << ", clean " << run;
    }
    EXPECT_EQ(clean.set_system_information_entry, nullptr);
  }
}

TEST_F(SystemListPurge, EachStepSwitchedOffOnItsOwnIsSkippedAndNothingElse) {
  const std::string kTrim = "enumerate";
  const std::string kModified = "list class=80 command=3 length=4";
  const std::string kStandby = "list class=80 command=4 length=4";
  const std::string kLowPriority = "list class=80 command=5 length=4";
  const std::string kCache = "flush cache min=-1 max=-1 flags=0";
  struct Case {
    const char* name;
    CleanSteps steps;
    uint32_t processes;
    std::vector<std::string> requests;  // the calls left once lookups and privileges are set aside
  };
  const Case cases[] = {
      {"all on", {true, true, true, true, false}, 2, {kTrim, kModified, kStandby, kCache}},
      {"no trim", {false, true, true, true, false}, 0, {kModified, kStandby, kCache}},
      {"no modified flush", {true, false, true, true, false}, 2, {kTrim, kStandby, kCache}},
      {"no standby purge", {true, true, false, true, false}, 2, {kTrim, kModified, kCache}},
      {"no cache flush", {true, true, true, false, false}, 2, {kTrim, kModified, kStandby}},
      {"standby purge alone", {false, false, true, false, false}, 0, {kStandby}},
      {"low-priority standby purge", {true, true, 2, true, false}, 2, {kTrim, kModified, kLowPriority, kCache}},
      {"low-priority purge alone", {false, false, 2, false, false}, 0, {kLowPriority}},
      // Values the setting never stores purge the whole list, as "on" did.
      {"standby purge 3", {false, false, 3, false, false}, 0, {kStandby}},
      {"standby purge -1", {false, false, -1, false, false}, 0, {kStandby}},
      {"nothing", {false, false, false, false, false}, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FreshCleanState();
    fake = FakeSystem{};
    fake.processes = {{4, kExplorer}, {8, nullptr}};
    EXPECT_EQ(PurgeSystemLists(clean, nullptr, c.steps), c.processes);
    std::vector<std::string> requests;
    for (const std::string& call : fake.calls)
      if (call.rfind("enable ", 0) != 0 && call.rfind("disable ", 0) != 0 && call.rfind("module ", 0) != 0 &&
          call.rfind("entry ", 0) != 0)
        requests.push_back(call);
    EXPECT_EQ(requests, c.requests);
    if (!c.steps.trim_working_sets) {
      EXPECT_TRUE(fake.opened.empty()) << "no trim opens no process";
    }
  }
}

// The program in front, read once as the clean starts, is the one process
// the trim leaves alone; the exclusion list works as it did.
TEST_F(Trimmer, TheForegroundProgramIsKeptAndOnlyTheOthersAreTrimmed) {
  const HWND kWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5150));
  const wchar_t kGame[] = L"\\Device\\HarddiskVolume1\\Games\\game.exe";
  const wchar_t kChrome[] = L"\\Device\\HarddiskVolume1\\Apps\\chrome.exe";
  struct Case {
    const char* name;
    bool keep_foreground;
    bool trim;
    HWND window;
    DWORD owner;
    const wchar_t* list;
    std::vector<DWORD> emptied;
    bool kept;
    const wchar_t* kept_name;
  };
  const Case cases[] = {
      {"in front: kept", true, true, kWindow, 8, nullptr, {4, 12, 16}, true, L"game.exe"},
      {"in front with a list naming others", true, true, kWindow, 8, L"chrome.exe", {4, 12}, true, L"game.exe"},
      {"no foreground window", true, true, nullptr, 8, nullptr, {4, 8, 12, 16}, false, L""},
      {"its process cannot be told", true, true, kWindow, 0, nullptr, {4, 8, 12, 16}, false, L""},
      {"its process is not in the list of processes", true, true, kWindow, 99, nullptr, {4, 8, 12, 16}, false,
       L""},
      // Excluded by name: excluded as before, not counted as kept.
      {"excluded by name", true, true, kWindow, 16, L"chrome.exe", {4, 8, 12}, false, L""},
      // Its name cannot be read: still kept, without a name.
      {"name unreadable", true, true, kWindow, 12, nullptr, {4, 8, 16}, true, L""},
      {"name unreadable, with a list", true, true, kWindow, 12, L"chrome.exe", {4, 8}, true, L""},
      // It cannot be opened: nothing to trim or keep.
      {"cannot be opened", true, true, kWindow, 20, nullptr, {4, 8, 12, 16}, false, L""},
      {"setting off", false, true, kWindow, 8, nullptr, {4, 8, 12, 16}, false, L""},
      {"no trim", true, false, kWindow, 8, nullptr, {}, false, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FreshCleanState();
    fake = FakeSystem{};
    fake.processes = {{4, kExplorer}, {8, kGame}, {12, nullptr}, {16, kChrome}, {20, kGame, false}};
    fake.foreground = c.window;
    fake.foreground_owner = c.owner;
    KeptProgram kept;
    memset(&kept, 0xAB, sizeof kept);
    const CleanSteps steps = {c.trim, false, 0, false, c.keep_foreground};
    uint32_t trimmed = PurgeSystemLists(clean, c.list, steps, &kept);
    EXPECT_EQ(fake.emptied, c.emptied);
    EXPECT_EQ(trimmed, c.emptied.size()) << "the kept process is not counted as trimmed";
    EXPECT_EQ(kept.kept, c.kept);
    EXPECT_STREQ(kept.name, c.kept_name);
    // Read once, before the first process is opened, and only for a trim
    // that keeps it.
    int reads = static_cast<int>(std::count(fake.calls.begin(), fake.calls.end(), "foreground window"));
    EXPECT_EQ(reads, c.keep_foreground && c.trim ? 1 : 0);
    if (reads == 1) {
      EXPECT_EQ(fake.calls.front(), "foreground window");
    }
  }
}

// A long name is cut to the report's buffer, never past it.
TEST_F(Trimmer, AKeptProgramsLongNameIsCutToFit) {
  std::wstring image = L"\\Device\\HarddiskVolume1\\" + std::wstring(200, L'n') + L".exe";
  fake.processes = {{8, image.c_str()}};
  fake.foreground = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5150));
  fake.foreground_owner = 8;
  KeptProgram kept = {};
  EXPECT_EQ(TrimWorkingSets(nullptr, kFakePlatform, 8, &kept), 0u);
  EXPECT_TRUE(kept.kept);
  EXPECT_EQ(wcslen(kept.name), static_cast<size_t>(KEPT_NAME_CAPACITY - 1));
  EXPECT_EQ(std::wstring(kept.name), std::wstring(KEPT_NAME_CAPACITY - 1, L'n'));
  EXPECT_TRUE(fake.emptied.empty());
}

TEST(MemoryListFigures, RecordHasTheSystemsLayout) {
  // The fields read must sit where 64-bit Windows writes them, and the
  // record must be the size it expects.
  EXPECT_EQ(offsetof(SystemMemoryListInformation, ZeroPageCount), 0u);
  EXPECT_EQ(offsetof(SystemMemoryListInformation, FreePageCount), 8u);
  EXPECT_EQ(offsetof(SystemMemoryListInformation, ModifiedPageCount), 16u);
  EXPECT_EQ(offsetof(SystemMemoryListInformation, PageCountByPriority), 40u);
  EXPECT_EQ(offsetof(SystemMemoryListInformation, ModifiedPageCountPageFile), 168u);
  EXPECT_EQ(sizeof(SystemMemoryListInformation), 176u);
}

TEST(MemoryListFigures, PagesTimesPageSizeInMegabytes) {
  const ULONG_PTR kHuge = ULONG_PTR{1} << 62;
  struct Case {
    ULONG_PTR zeroed, free, modified;
    ULONG_PTR standby[8];
    uint64_t page_size;
    double zeroed_mb, free_mb, modified_mb, standby_mb;
  };
  const Case cases[] = {
      {256, 512, 1024, {256, 0, 0, 0, 0, 0, 0, 0}, 4096, 1.0, 2.0, 4.0, 1.0},
      // Every priority of the standby list counts.
      {0, 0, 0, {1, 2, 4, 8, 16, 32, 64, 128}, 4096, 0.0, 0.0, 0.0, 255.0 / 256.0},
      {16, 32, 1, {0, 0, 0, 0, 0, 0, 0, 16}, 65536, 1.0, 2.0, 1.0 / 16.0, 1.0},
      {1, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}, 4096, 1.0 / 256.0, 0.0, 0.0, 0.0},
      // Counts whose bytes pass 2^64 keep their size.
      {kHuge, kHuge, kHuge, {kHuge, kHuge, kHuge, kHuge, kHuge, kHuge, kHuge, kHuge}, 65536, 0x1p58, 0x1p58, 0x1p58,
       0x1p61},
      {~ULONG_PTR{0}, 0, 0, {~ULONG_PTR{0}, ~ULONG_PTR{0}, 0, 0, 0, 0, 0, 0}, 4096, 0x1p56, 0.0, 0.0, 0x1p57},
  };
  for (const Case& c : cases) {
    SystemMemoryListInformation pages = {};
    pages.ZeroPageCount = c.zeroed;
    pages.FreePageCount = c.free;
    pages.ModifiedPageCount = c.modified;
    for (int i = 0; i < 8; ++i) pages.PageCountByPriority[i] = c.standby[i];
    // Lists the figures leave out.
    pages.ModifiedNoWritePageCount = 999;
    pages.BadPageCount = 999;
    for (ULONG_PTR& repurposed : pages.RepurposedPagesByPriority) repurposed = 999;
    pages.ModifiedPageCountPageFile = 999;
    MemoryLists lists = MemoryListsFromPages(pages, c.page_size);
    SCOPED_TRACE(std::to_string(c.zeroed) + " pages of " + std::to_string(c.page_size));
    EXPECT_TRUE(lists.readable);
    ExpectListFigures(lists, c.zeroed_mb, c.free_mb, c.modified_mb, c.standby_mb);
    // The low-priority part: priority 0's pages alone.
    EXPECT_DOUBLE_EQ(lists.standby_low_priority_mb,
                     static_cast<double>(c.standby[0]) * static_cast<double>(c.page_size) / 1048576.0);
  }
}

TEST(MemoryListFigures, TheLowPriorityPartIsTheStandbyPagesOfPriorityZero) {
  SystemMemoryListInformation pages = {};
  const ULONG_PTR standby[8] = {2560, 256, 256, 256, 256, 25600, 256, 256};  // 10 MB at priority 0
  for (int i = 0; i < 8; ++i) pages.PageCountByPriority[i] = standby[i];
  MemoryLists lists = MemoryListsFromPages(pages, 4096);
  EXPECT_DOUBLE_EQ(lists.standby_low_priority_mb, 10.0);
  EXPECT_DOUBLE_EQ(lists.standby_mb, 116.0);
}

TEST_F(MemoryListReading, ReadsTheListsOnceThePrivilegesAreOn) {
  fake.pages.ZeroPageCount = 2560;  // 10 MB
  fake.pages.FreePageCount = 5120;  // 20 MB
  fake.pages.ModifiedPageCount = 256;
  fake.pages.PageCountByPriority[5] = 512;
  fake.pages.PageCountByPriority[7] = 256;
  MemoryLists lists = {};
  ASSERT_TRUE(ReadMemoryLists(clean, lists));
  EXPECT_TRUE(lists.readable);
  ExpectListFigures(lists, 10.0, 20.0, 1.0, 3.0);
  const std::vector<std::string> first = {"enable SeProfileSingleProcessPrivilege", "enable SeIncreaseQuotaPrivilege",
                                          "module ntdll.dll", "entry NtQuerySystemInformation",
                                          "query class=80 length=176"};
  EXPECT_EQ(fake.calls, first);

  // The entry found is kept, and the privileges stay on for the purge.
  fake.calls.clear();
  ASSERT_TRUE(ReadMemoryLists(clean, lists));
  fake.processes = {{4, kExplorer}};
  PurgeSystemLists(clean, nullptr, kFullClean);
  const std::vector<std::string> later = {"query class=80 length=176",        "enable SeDebugPrivilege",
                                          "enumerate",                        "disable SeDebugPrivilege",
                                          "module ntdll.dll",                 "entry NtSetSystemInformation",
                                          "list class=80 command=3 length=4", "list class=80 command=4 length=4",
                                          "flush cache min=-1 max=-1 flags=0"};
  EXPECT_EQ(fake.calls, later);
}

TEST_F(MemoryListReading, ListsThatCannotBeReadGiveNoFigures) {
  struct Case {
    const char* name;
    bool module_found, query_found;
    LONG status;
    DWORD page_size;
  };
  const Case cases[] = {
      {"Wine: unknown information class", true, true, static_cast<LONG>(0xC0000003), 4096},
      {"not elevated: privilege not held", true, true, static_cast<LONG>(0xC0000061), 4096},
      {"access denied", true, true, static_cast<LONG>(0xC0000022), 4096},
      {"no such entry point", true, false, 0, 4096},
      {"no ntdll", false, true, 0, 4096},
      {"no page size", true, true, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FreshCleanState();
    fake = FakeSystem{};
    fake.module_found = c.module_found;
    fake.query_found = c.query_found;
    fake.query_status = c.status;
    fake.page_size = c.page_size;
    fake.pages.FreePageCount = 1000;
    fake.pages.PageCountByPriority[0] = 1000;
    MemoryLists lists;
    memset(&lists, 0xAB, sizeof lists);
    EXPECT_FALSE(ReadMemoryLists(clean, lists));
    EXPECT_FALSE(lists.readable);
    ExpectListFigures(lists, 0.0, 0.0, 0.0, 0.0);
  }

  // A missing entry point is looked up again at the next reading.
  FreshCleanState();
  fake = FakeSystem{};
  fake.query_found = false;
  MemoryLists lists = {};
  ReadMemoryLists(clean, lists);
  fake.query_found = true;
  fake.calls.clear();
  EXPECT_TRUE(ReadMemoryLists(clean, lists));
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"module ntdll.dll", "entry NtQuerySystemInformation",
                                                  "query class=80 length=176"}));
}

// ---------------------------------------------------------------------------
// Freed memory, the log line and its file, the balloons.

// The clean on its own record: the lists read before and after the trim and
// the purge, the working sets emptied counted, the clean stamped, and all of
// it reported to the caller, who records and tells.
TEST_F(SystemListPurge, TheCleanReadsTheListsAroundThePurgeAndReportsWhatItDid) {
  fake.processes = {{4, kExplorer}, {8, L"\\Device\\x\\notepad.exe"}, {12, kExplorer, false}};
  fake.pages.ModifiedPageCount = 512;  // 2 MB
  fake.pages.PageCountByPriority[0] = 2560;  // 10 MB
  const uint64_t before = GetTickCount64();
  const CleanReport report = CleanMemory(clean, L"notepad.exe", kFullClean);
  EXPECT_EQ(report.processes, 1) << "the excluded process and the one that cannot be opened are not counted";
  EXPECT_EQ(fake.emptied, std::vector<DWORD>{4});
  EXPECT_TRUE(report.lists_before.readable);
  EXPECT_TRUE(report.lists_after.readable);
  ExpectListFigures(report.lists_before, 0.0, 0.0, 2.0, 10.0);
  ExpectListFigures(report.lists_after, 0.0, 0.0, 2.0, 10.0);
  EXPECT_GE(report.freed_mb, 0.0);
  EXPECT_GE(clean.last_clean_tick, before);
  EXPECT_LE(clean.last_clean_tick, GetTickCount64());
  const std::vector<std::string> calls = {
      "enable SeProfileSingleProcessPrivilege", "enable SeIncreaseQuotaPrivilege", "module ntdll.dll",
      "entry NtQuerySystemInformation", "query class=80 length=176", "enable SeDebugPrivilege", "enumerate",
      "disable SeDebugPrivilege", "module ntdll.dll", "entry NtSetSystemInformation", "list class=80 command=3 length=4",
      "list class=80 command=4 length=4", "flush cache min=-1 max=-1 flags=0", "query class=80 length=176"};
  EXPECT_EQ(fake.calls, calls);

  // Lists that cannot be read leave both readings empty; the clean goes on.
  FreshCleanState();
  fake.calls.clear();
  fake.emptied.clear();
  fake.query_found = false;
  const CleanReport unread = CleanMemory(clean, nullptr, kFullClean);
  EXPECT_EQ(unread.processes, 2);
  EXPECT_FALSE(unread.lists_before.readable);
  EXPECT_FALSE(unread.lists_after.readable);
  ExpectListFigures(unread.lists_after, 0.0, 0.0, 0.0, 0.0);
}

TEST(CleanFigures, FreedMegabytesFromTheRiseOfAvailableMemory) {
  const uint64_t MiB = 1048576;
  struct Case {
    uint64_t before, after;
    double freed;
  };
  const Case cases[] = {
      {100 * MiB, 612 * MiB, 512.0},
      {100 * MiB, 100 * MiB + MiB / 2, 0.5},
      {100 * MiB, 100 * MiB + 1, 1.0 / 1048576.0},
      {612 * MiB, 100 * MiB, 0.0},  // a fall reports nothing, never a negative amount
      {0, 3072 * MiB, 3072.0},      // failed before snapshot: all available memory counts
      {3072 * MiB, 0, 0.0},         // failed after snapshot
      {0, 0, 0.0},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(FreedMegabytes(c.before, c.after), c.freed) << c.before << "->" << c.after;
}

TEST(CleanFigures, LogLineFormat) {
  struct Case {
    WORD year, month, day, hour, minute, second;
    double freed;
    int32_t processes;
    const wchar_t* line;
  };
  const Case cases[] = {
      {2025, 3, 5, 7, 8, 9, 0.4, 12, L"2025-03-05 07:08:09  Freed 0 MB  (12 processes)\r\n"},
      {2025, 12, 31, 23, 59, 58, 511.6, 7, L"2025-12-31 23:59:58  Freed 512 MB  (7 processes)\r\n"},
      {2025, 1, 1, 0, 0, 0, 0.0, 0, L"2025-01-01 00:00:00  Freed 0 MB  (0 processes)\r\n"},
      {987, 10, 10, 10, 10, 10, 2.5, 4096, L"0987-10-10 10:10:10  Freed 3 MB  (4096 processes)\r\n"},
  };
  for (const Case& c : cases) {
    SYSTEMTIME time = {};
    time.wYear = c.year;
    time.wMonth = c.month;
    time.wDay = c.day;
    time.wHour = c.hour;
    time.wMinute = c.minute;
    time.wSecond = c.second;
    wchar_t line[256];
    FormatCleanLogLine(line, time, c.freed, c.processes);
    EXPECT_STREQ(line, c.line);
  }
}

TEST(CleanBalloon, BalloonChoice) {
  struct Case {
    bool silent, elevated, notice_shown;
    double freed;
    int32_t minimum;
    CleanBalloon balloon;
  };
  const Case cases[] = {
      // Unelevated, first clean: the notice, however much was freed.
      {false, false, false, 5000.0, 10, CLEAN_BALLOON_LIMITED_MODE},
      {false, false, true, 5000.0, 10, CLEAN_BALLOON_CLEANED},
      {false, true, false, 10.0, 10, CLEAN_BALLOON_CLEANED},
      // Compared as doubles: 9.6 would print as 10 but is below it.
      {false, true, false, 9.6, 10, CLEAN_BALLOON_NONE},
      {false, true, false, 9.9999, 10, CLEAN_BALLOON_NONE},
      {false, true, false, 0.0, 0, CLEAN_BALLOON_CLEANED},
      {false, true, false, 0.0, -5, CLEAN_BALLOON_CLEANED},
      {false, true, false, 0.0, INT32_MIN, CLEAN_BALLOON_CLEANED},
      {false, true, false, 1e12, INT32_MAX, CLEAN_BALLOON_CLEANED},
      {false, true, false, 2147483646.0, INT32_MAX, CLEAN_BALLOON_NONE},
      // Silent: nothing at all, not even the notice.
      {true, false, false, 5000.0, 10, CLEAN_BALLOON_NONE},
      {true, true, false, 5000.0, 0, CLEAN_BALLOON_NONE},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ChooseCleanBalloon(c.silent, c.elevated, c.notice_shown, c.freed, c.minimum), c.balloon)
        << c.silent << c.elevated << c.notice_shown << " " << c.freed << " vs " << c.minimum;

  wchar_t text[128];
  FormatCleanBalloon(text, 511.6, 37);
  EXPECT_STREQ(text, L"Freed 512 MB  (37 processes trimmed)");
}

namespace {

// The balloon speaks the user's language; clean.log, which scripts read,
// keeps its English line with a plain figure whatever the language and the
// separator.
TEST_F(ShownInLanguage, TheBalloonIsInTheUsersLanguageAndTheLogLineInEnglish) {
  SYSTEMTIME time = {};
  time.wYear = 2025;
  time.wMonth = 12;
  time.wDay = 31;
  time.wHour = 23;
  time.wMinute = 59;
  time.wSecond = 58;
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    ShowIn(language, L",");
    wchar_t text[128];
    FormatCleanBalloon(text, 511.6, 37);
    EXPECT_EQ(std::wstring(text), TableTextIn(language, IDS_BALLOON_CLEANED, 511.6, 37)) << LanguageTag(language);
    wchar_t line[256];
    FormatCleanLogLine(line, time, 511.6, 7);
    EXPECT_STREQ(line, L"2025-12-31 23:59:58  Freed 512 MB  (7 processes)\r\n") << LanguageTag(language);
  }
}

// A folder of its own under %TEMP%, removed with everything in it.
class CleanLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"quillmere-log-" + std::to_wstring(GetCurrentProcessId());
    path_ = folder_ + L"\\clean.log";
    other_ = folder_ + L"-other.txt";
    RemoveAll();
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
  }
  void TearDown() override { RemoveAll(); }
  void RemoveAll() {
    SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path_.c_str());
    DeleteFileW(other_.c_str());
    RemoveDirectoryW(path_.c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  std::wstring folder_, path_;
  std::wstring other_;  // a file beside the folder
};

// Checks one line against the exact format, taking its time stamp from the
// line itself.
void ExpectLogLine(const std::string& line, double freed_mb, int processes) {
  SYSTEMTIME time = {};
  int fields[6] = {};
  ASSERT_EQ(sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &fields[0], &fields[1], &fields[2], &fields[3],
                   &fields[4], &fields[5]),
            6)
      << line;
  time.wYear = static_cast<WORD>(fields[0]);
  time.wMonth = static_cast<WORD>(fields[1]);
  time.wDay = static_cast<WORD>(fields[2]);
  time.wHour = static_cast<WORD>(fields[3]);
  time.wMinute = static_cast<WORD>(fields[4]);
  time.wSecond = static_cast<WORD>(fields[5]);
  wchar_t expected[256];
  FormatCleanLogLine(expected, time, freed_mb, processes);
  EXPECT_EQ(line, Narrow(expected));
  SYSTEMTIME now;
  GetLocalTime(&now);
  EXPECT_EQ(time.wYear, now.wYear) << "stamped with the local time";
}

}  // namespace

TEST_F(CleanLogFile, FirstLineCreatesTheFileWithoutBomAndLaterLinesAppend) {
  ASSERT_TRUE(AppendCleanLog(folder_.c_str(), 511.6, 9, kSystemFilePlatform, UserToken()));
  std::string first = ReadFileBytes(path_);
  ASSERT_GE(first.size(), 3u);
  EXPECT_NE(first.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
  EXPECT_EQ(first.find("\r\n"), first.size() - 2) << "exactly one line, ended by CR LF";
  ExpectLogLine(first, 511.6, 9);

  // Whatever is there stays, and the new line follows it.
  const std::string existing = "hand-written\r\nno line end";
  ASSERT_TRUE(WriteFileBytes(path_, existing));
  ASSERT_TRUE(AppendCleanLog(folder_.c_str(), 0.4, 3, kSystemFilePlatform, UserToken()));
  std::string after = ReadFileBytes(path_);
  ASSERT_EQ(after.compare(0, existing.size(), existing), 0);
  ExpectLogLine(after.substr(existing.size()), 0.4, 3);
}

TEST_F(CleanLogFile, UnopenableLogIsLeftAsItWas) {
  const std::string content = "2025-01-01 00:00:00  Freed 1 MB  (1 processes)\r\n";
  ASSERT_TRUE(WriteFileBytes(path_, content));

  // Held open for writing by another handle (another process shares alike).
  for (DWORD share : {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
    HANDLE holder = CreateFileW(path_.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(AppendCleanLog(folder_.c_str(), 12.0, 5, kSystemFilePlatform, UserToken())) << "share " << share;
    CloseHandle(holder);
    EXPECT_EQ(ReadFileBytes(path_), content);
  }

  // A folder where the file should be.
  DeleteFileW(path_.c_str());
  ASSERT_TRUE(CreateDirectoryW(path_.c_str(), nullptr));
  EXPECT_FALSE(AppendCleanLog(folder_.c_str(), 12.0, 5, kSystemFilePlatform, UserToken()));
}

TEST_F(CleanLogFile, MissingFolderCreatesNothing) {
  std::wstring missing = folder_ + L"\\missing";
  std::wstring path = missing + L"\\clean.log";
  EXPECT_FALSE(AppendCleanLog(missing.c_str(), 12.0, 5, kSystemFilePlatform, UserToken()));
  EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A second name of another file, planted as clean.log, would make the
// elevated program append to that file.
TEST_F(CleanLogFile, HardLinkedLogIsRefused) {
  const std::string content = "not a log\r\n";
  ASSERT_TRUE(WriteFileBytes(other_, content));
  ASSERT_TRUE(CreateHardLinkW(path_.c_str(), other_.c_str(), nullptr));
  EXPECT_FALSE(AppendCleanLog(folder_.c_str(), 12.0, 5, kSystemFilePlatform, UserToken()));
  EXPECT_EQ(ReadFileBytes(other_), content);
  EXPECT_EQ(ReadFileBytes(path_), content);
}

// Links planted in the folder, played through the file calls.
TEST_F(CleanLogFile, LinksAreRefusedAndNothingIsWritten) {
  const std::string content = "2025-01-01 00:00:00  Freed 1 MB  (1 processes)\r\n";
  for (const PlantedLink& link : LinksPlantedAt(folder_, path_)) {
    SCOPED_TRACE(link.what);
    ASSERT_TRUE(WriteFileBytes(path_, content));
    PlantLink(link);
    EXPECT_FALSE(AppendCleanLog(folder_.c_str(), 12.0, 5, kPlayedFilePlatform, UserToken()));
    EXPECT_EQ(ReadFileBytes(path_), content);
    EXPECT_TRUE(played.open.empty()) << "every handle closed";
  }
  // Played without a link, the same calls append.
  ResetPlayedFiles();
  EXPECT_TRUE(AppendCleanLog(folder_.c_str(), 12.0, 5, kPlayedFilePlatform, UserToken()));
  std::string after = ReadFileBytes(path_);
  ASSERT_EQ(after.compare(0, content.size(), content), 0);
  ExpectLogLine(after.substr(content.size()), 12.0, 5);
  EXPECT_TRUE(played.open.empty());
}

// ---------------------------------------------------------------------------
// RunClean on the real system (under Wine: the prefix's own processes).

namespace {

class CleanOnThisSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    Fresh();
    DeleteAppFolder();
  }
  void TearDown() override { DeleteAppFolder(); }
  // A fresh process's state on the default settings.
  static void Fresh() {
    ResetAppState();
    InitDefaultSettings(app.settings);
  }
};

// Sets the two purge privileges of this process's token on or off; answers
// false when the token cannot be changed.
bool SetPurgePrivileges(bool enabled) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  bool ok = true;
  for (const wchar_t* name : {SE_PROF_SINGLE_PROCESS_NAME, SE_INCREASE_QUOTA_NAME}) {
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = enabled ? SE_PRIVILEGE_ENABLED : 0;
    ok = ok && LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) &&
         AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr) &&
         GetLastError() == ERROR_SUCCESS;
  }
  CloseHandle(token);
  return ok;
}

// Whether the token lists the privilege as enabled; -1 when it is absent.
int PrivilegeEnabled(const wchar_t* name) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return -1;
  alignas(TOKEN_PRIVILEGES) BYTE buffer[4096] = {};
  DWORD size = 0;
  LUID luid = {};
  int state = -1;
  if (GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &size) &&
      LookupPrivilegeValueW(nullptr, name, &luid)) {
    const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
      if (entry.Luid.LowPart == luid.LowPart && entry.Luid.HighPart == luid.HighPart)
        state = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  CloseHandle(token);
  return state;
}

}  // namespace

TEST_F(CleanOnThisSystem, EnablesBothPurgePrivilegesInTheToken) {
  ASSERT_TRUE(SetPurgePrivileges(false));
  ASSERT_EQ(PrivilegeEnabled(SE_PROF_SINGLE_PROCESS_NAME), 0);
  ASSERT_EQ(PrivilegeEnabled(SE_INCREASE_QUOTA_NAME), 0);
  RunClean(nullptr);
  EXPECT_EQ(PrivilegeEnabled(SE_PROF_SINGLE_PROCESS_NAME), 1);
  EXPECT_EQ(PrivilegeEnabled(SE_INCREASE_QUOTA_NAME), 1);
}

TEST_F(CleanOnThisSystem, RecordsLogsAndStampsOneClean) {
  // No folder: the clean runs and goes unlogged, creating nothing.
  RunClean(nullptr);
  EXPECT_EQ(app.status.clean_history.count, 1);
  EXPECT_EQ(GetFileAttributesW(AppFolder().c_str()), INVALID_FILE_ATTRIBUTES);

  ASSERT_TRUE(CreateDirectoryW(AppFolder().c_str(), nullptr));
  uint64_t before = GetTickCount64();
  RunClean(nullptr);
  EXPECT_GE(app.clean.last_clean_tick, before);
  EXPECT_LE(app.clean.last_clean_tick, GetTickCount64());
  ASSERT_EQ(app.status.clean_history.count, 2);
  const CleanRecord& record = app.status.clean_history.entries[1];
  EXPECT_GT(record.processes, 0) << "the prefix's own processes, this one included";
  EXPECT_GE(record.freed_mb, 0.0);
  std::string log = ReadFileBytes(AppFile(L"clean.log"));
  EXPECT_EQ(log.find("\r\n"), log.size() - 2) << "one line: " << log;
  ExpectLogLine(log, record.freed_mb, record.processes);
}

TEST_F(CleanOnThisSystem, LimitedModeNoticeOnlyOnceAndNeverWhileSilent) {
  struct Case {
    bool silent, elevated, shown_before, shown_after;
  };
  const Case cases[] = {
      {false, false, false, true},
      {true, false, false, false},  // stays unshown for the first unsilenced clean
      {false, true, false, false},
      {false, false, true, true},
  };
  for (const Case& c : cases) {
    Fresh();
    app.settings.silent_mode = c.silent;
    app.is_elevated = c.elevated;
    app.full_rights = c.elevated;
    app.clean.limited_notice_shown = c.shown_before;
    RunClean(nullptr);
    EXPECT_EQ(app.clean.limited_notice_shown, c.shown_after) << c.silent << c.elevated << c.shown_before;
  }
}

// What the user reads after a clean, through the tray: the limited-mode
// notice or "RAM Cleaned" with the clean's own figures, word for word, and
// at most one balloon.
TEST_F(CleanOnThisSystem, ShowsTheLimitedNoticeOrTheCleanedBalloonWordForWord) {
  struct Case {
    bool elevated, notice_shown;
    int32_t notify_min_mb;
    CleanBalloon balloon;
  };
  const Case cases[] = {
      {false, false, INT32_MIN, CLEAN_BALLOON_LIMITED_MODE},  // even when "RAM Cleaned" was due
      {false, true, 0, CLEAN_BALLOON_CLEANED},
      {true, false, 0, CLEAN_BALLOON_CLEANED},
      {true, false, INT32_MAX, CLEAN_BALLOON_NONE},
  };
  for (const Case& c : cases) {
    Fresh();
    RecordTray();
    app.is_elevated = c.elevated;
    app.full_rights = c.elevated;
    app.clean.limited_notice_shown = c.notice_shown;
    app.settings.notify_min_mb = c.notify_min_mb;
    RunClean(nullptr);
    std::vector<TrayRequest> balloons = recording_tray.Balloons();
    ASSERT_EQ(balloons.size(), c.balloon == CLEAN_BALLOON_NONE ? 0u : 1u) << c.elevated << c.notice_shown;
    if (c.balloon == CLEAN_BALLOON_NONE) continue;
    if (c.balloon == CLEAN_BALLOON_LIMITED_MODE)
      ExpectBalloon(balloons[0], kLimitedModeTitle, kLimitedModeText);
    else
      ExpectBalloon(balloons[0], L"RAM Cleaned", CleanedBalloonText(app.status.clean_history.entries[0]), true);
  }
}

// The popup that a clean opens must already show the load after it.
TEST_F(CleanOnThisSystem, RefreshesTheTrayBeforeItOpensThePopup) {
  RecordTray();
  app.is_elevated = true;
  app.full_rights = true;
  app.settings.show_status_on_clean = 1;
  RunClean(nullptr);
  int refreshes = 0;
  for (const TrayRequest& request : recording_tray.requests) {
    if (request.message != NIM_MODIFY || (request.flags & (NIF_ICON | NIF_TIP)) != (NIF_ICON | NIF_TIP)) continue;
    ++refreshes;
    EXPECT_FALSE(request.popup_open) << "the popup opened before the tray was refreshed";
  }
  EXPECT_EQ(refreshes, 1);
  EXPECT_TRUE(IsStatusWindowOpen(app.status));
  CloseStatusWindow(app.status);
  EXPECT_FALSE(IsStatusWindowOpen(app.status));
}

TEST_F(CleanOnThisSystem, ListsUnreadHereLeaveTheRecordAsBefore) {
  // Wine answers the list query with STATUS_INVALID_INFO_CLASS.
  MemoryLists lists = {};
  ASSERT_FALSE(ReadProgramMemoryLists(lists)) << "this system reads the lists: the check below means nothing";
  RunClean(nullptr);
  ASSERT_EQ(app.status.clean_history.count, 1);
  const CleanRecord& record = app.status.clean_history.entries[0];
  EXPECT_FALSE(record.lists_read);
  EXPECT_EQ(record.standby_before_mb, 0.0);
  EXPECT_EQ(record.standby_after_mb, 0.0);
  EXPECT_EQ(record.modified_before_mb, 0.0);
  EXPECT_EQ(record.modified_after_mb, 0.0);
}

TEST_F(CleanOnThisSystem, WithoutTheTrimNoProcessIsCountedInTheRecordOrTheLog) {
  ASSERT_TRUE(CreateDirectoryW(AppFolder().c_str(), nullptr));
  app.settings.trim_working_sets = false;
  RunClean(nullptr);
  ASSERT_EQ(app.status.clean_history.count, 1);
  EXPECT_EQ(app.status.clean_history.entries[0].processes, 0);
  std::string log = ReadFileBytes(AppFile(L"clean.log"));
  ExpectLogLine(log, app.status.clean_history.entries[0].freed_mb, 0);

  // Switched back on, the same machine trims again.
  app.settings.trim_working_sets = true;
  RunClean(nullptr);
  EXPECT_GT(app.status.clean_history.entries[1].processes, 0);
}

// ---------------------------------------------------------------------------
// A clean with the program's windows made, as in the program.

namespace {

// The popup a clean opens, owned by the hidden shell window.
class PopupAfterClean : public ProgramWindowTest {
 protected:
  PopupAfterClean() : ProgramWindowTest(true) {}
};

}  // namespace

TEST_F(PopupAfterClean, CleanOpensItOnlyWhenAsked) {
  app.settings.silent_mode = 1;
  RunClean(app.main_window);
  EXPECT_FALSE(IsStatusWindowOpen(app.status));

  app.settings.show_status_on_clean = 1;
  RunClean(app.main_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  EXPECT_EQ(GetWindow(app.status.window, GW_OWNER), app.shell_window);
  EXPECT_EQ(app.status.clean_history.count, 2);
  EXPECT_EQ(app.status.usage_history.count, 2) << "the tray was refreshed first";
}

// After a clean, how the popup shows: the user's own clean brings it to the
// front; an automatic one never takes the focus, and while the user is busy
// shows nothing.
TEST(ShowAfterCleanDecision, AutomaticCleansShowWithoutTheFocusAndNothingWhileBusy) {
  struct Case {
    bool show, automatic, quiet;
    ShowAfterClean expected;
  };
  const Case cases[] = {
      {false, false, false, SHOW_AFTER_CLEAN_NONE},     {false, true, false, SHOW_AFTER_CLEAN_NONE},
      {true, false, false, SHOW_AFTER_CLEAN_ACTIVATED}, {true, true, false, SHOW_AFTER_CLEAN_INACTIVE},
      {true, true, true, SHOW_AFTER_CLEAN_NONE},
      // Only an automatic clean is ever quiet; the user's own shows as asked.
      {true, false, true, SHOW_AFTER_CLEAN_ACTIVATED},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ShowAfterCleanFor(c.show, {c.automatic, c.quiet}), c.expected)
        << c.show << c.automatic << c.quiet;
}

namespace {

// A window of the test's own in front, with the focus in its text field, as
// the program the user is typing in.
struct UserWindow {
  HWND window = nullptr;
  HWND field = nullptr;
  UserWindow() {
    window = CreateWindowExW(0, L"STATIC", L"The user's program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600, 100, 300,
                             200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    field = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 10, 10, 200, 24, window, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(window);
    SetFocus(field);
  }
  ~UserWindow() { DestroyWindow(window); }
};

}  // namespace

TEST_F(PopupAfterClean, AnAutomaticCleanNeverTakesTheFocusFromTheUser) {
  app.settings.show_status_on_clean = 1;
  app.settings.silent_mode = 0;
  app.is_elevated = true;
  app.full_rights = true;
  UserWindow user;
  ASSERT_EQ(GetForegroundWindow(), user.window);
  ASSERT_EQ(GetFocus(), user.field);

  RunClean(app.main_window, {true, false});
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  EXPECT_EQ(GetForegroundWindow(), user.window) << "the user's program stays in front";
  EXPECT_EQ(GetFocus(), user.field) << "typing goes on into the user's field";
  EXPECT_TRUE(GetWindowLongW(app.status.window, GWL_EXSTYLE) & WS_EX_NOACTIVATE);
  EXPECT_TRUE(KillTimer(app.status.window, TIMER_STATUS_AUTOCLOSE)) << "it closes on its timer";

  // Another automatic clean with the popup still open leaves the front too.
  RunClean(app.main_window, {true, false});
  EXPECT_EQ(GetForegroundWindow(), user.window);
  CloseStatusWindow(app.status);

  // The user's own clean brings the popup to the front, as it always did.
  RunClean(app.main_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  EXPECT_EQ(GetForegroundWindow(), app.status.window);
  CloseStatusWindow(app.status);
}

TEST_F(PopupAfterClean, WhileTheUserIsBusyAnAutomaticCleanShowsNoPopupAndNoBalloon) {
  app.settings.show_status_on_clean = 1;
  app.settings.silent_mode = 0;
  app.settings.notify_min_mb = 0;
  struct Case {
    bool elevated;
    CleanStart start;
    bool popup;
    bool balloon;
  };
  const Case cases[] = {
      {true, {true, true}, false, false},
      {false, {true, true}, false, false},  // the limited-mode notice waits too
      {true, {true, false}, true, true},
      {true, {false, false}, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.elevated) + std::to_string(c.start.automatic) + std::to_string(c.start.quiet));
    RecordTray();
    app.is_elevated = c.elevated;
    app.full_rights = c.elevated;
    app.clean.limited_notice_shown = false;
    UserWindow user;
    RunClean(app.main_window, c.start);
    EXPECT_EQ(IsStatusWindowOpen(app.status), c.popup);
    std::vector<TrayRequest> balloons = recording_tray.Balloons();
    ASSERT_EQ(balloons.size(), c.balloon ? 1u : 0u);
    EXPECT_EQ(app.clean.limited_notice_shown, !c.elevated && c.balloon) << "shown only once it was";
    if (c.balloon) {
      // The report of a clean respects the quiet time; Windows keeps it back then.
      EXPECT_EQ(balloons[0].info_flags, static_cast<DWORD>(NIIF_INFO | NIIF_NOSOUND | NIIF_RESPECT_QUIET_TIME));
    }
    CloseStatusWindow(app.status);
  }
}
