// What one clean costs beyond its system calls: the trim and the purge played
// through a platform whose calls do nothing, for 10, 100 and 1,000
// processes, with and without an exclusion list. The time per process should
// stay flat as the count grows.
// Then what each setting does to a machine of 300 processes with a game in
// front: how many working sets are emptied, whether the game's is kept, and
// which standby purge is asked for.
#include <stdio.h>
#include <wchar.h>

#include "clean/clean.h"

namespace {

DWORD process_count = 0;

// A typical device path: the list's tokens are compared with "svchost.exe".
const wchar_t kImage[] = L"\\Device\\HarddiskVolume3\\Windows\\System32\\svchost.exe";
// The program in front, and one the user excludes by name.
const wchar_t kGame[] = L"\\Device\\HarddiskVolume3\\Games\\game.exe";
const wchar_t kBrowser[] = L"\\Device\\HarddiskVolume3\\Apps\\chrome.exe";
constexpr DWORD kGameId = 4 + 150 * 4;
constexpr DWORD kBrowserId = 4 + 20 * 4;
DWORD foreground_id = 0;  // 0: no window in front
ULONG last_command = 0;   // the last memory-list command asked for

BOOL WINAPI EnumProcesses(DWORD* ids, DWORD bytes, DWORD* returned) {
  DWORD n = process_count < bytes / sizeof(DWORD) ? process_count : bytes / sizeof(DWORD);
  for (DWORD i = 0; i < n; ++i) ids[i] = 4 + i * 4;
  *returned = n * static_cast<DWORD>(sizeof(DWORD));
  return TRUE;
}
HANDLE WINAPI OpenProcessCall(DWORD, BOOL, DWORD id) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(id)); }
DWORD WINAPI GetImageName(HANDLE process, LPWSTR name, DWORD) {
  DWORD id = static_cast<DWORD>(reinterpret_cast<uintptr_t>(process));
  const wchar_t* image = id == kGameId ? kGame : id == kBrowserId ? kBrowser : kImage;
  DWORD length = static_cast<DWORD>(wcslen(image));
  wmemcpy(name, image, length + 1);
  return length;
}
BOOL WINAPI EmptyWorkingSet(HANDLE) { return TRUE; }
BOOL WINAPI CloseHandleCall(HANDLE) { return TRUE; }
LONG NTAPI SetSystemInformation(ULONG, PVOID information, ULONG) {
  last_command = *static_cast<ULONG*>(information);
  return 0;
}
HMODULE WINAPI GetModuleHandleCall(LPCWSTR) { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7000)); }
FARPROC WINAPI GetProcAddressCall(HMODULE, LPCSTR) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&SetSystemInformation));
}
BOOL WINAPI SetFileCacheSize(SIZE_T, SIZE_T, DWORD) { return FALSE; }
bool SetPrivilege(const wchar_t*, bool) { return true; }
void WINAPI GetSystemInfoCall(LPSYSTEM_INFO info) { info->dwPageSize = 4096; }
HWND WINAPI ForegroundWindowCall() {
  return foreground_id ? reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5150)) : nullptr;
}
DWORD WINAPI WindowThreadProcessIdCall(HWND, LPDWORD id) {
  *id = foreground_id;
  return 0x900;
}

const CleanPlatform kIdlePlatform = {
    EnumProcesses,    OpenProcessCall,   GetImageName,         EmptyWorkingSet,
    CloseHandleCall,  GetModuleHandleCall, GetProcAddressCall, SetFileCacheSize,
    SetPrivilege,     GetSystemInfoCall, ForegroundWindowCall, WindowThreadProcessIdCall,
};
const CleanSteps kFullClean = {true, true, true, true, false};

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Best of five batches, each about 50 ms long, in seconds per clean.
double SecondsPerClean(const wchar_t* list) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  uint32_t cleans = 1;
  volatile uint32_t sink = 0;
  CleanState state{};  // every entry point unknown yet
  state.platform = &kIdlePlatform;
  for (;;) {  // grow the batch until it is long enough to time
    QueryPerformanceCounter(&start);
    for (uint32_t i = 0; i < cleans; ++i) sink = sink + PurgeSystemLists(state, list, kFullClean);
    QueryPerformanceCounter(&end);
    if (Seconds(start, end, frequency) > 0.05 || cleans >= (1u << 30)) break;
    cleans *= 2;
  }
  double best = 1e300;
  for (int batch = 0; batch < 5; ++batch) {
    QueryPerformanceCounter(&start);
    for (uint32_t i = 0; i < cleans; ++i) sink = sink + PurgeSystemLists(state, list, kFullClean);
    QueryPerformanceCounter(&end);
    double each = Seconds(start, end, frequency) / cleans;
    if (each < best) best = each;
  }
  return best;
}

const char* CommandName(ULONG command) {
  switch (command) {
    case MEMORY_PURGE_STANDBY_LIST:
      return "whole standby list";
    case MEMORY_PURGE_LOW_PRIORITY_STANDBY_LIST:
      return "low-priority only";
    default:
      return "none";
  }
}

// One clean of each setting on 300 processes, the game in front.
void PrintWhatEachSettingKeeps() {
  struct Setting {
    const char* name;
    bool keep_foreground;
    int32_t purge_standby;
    const wchar_t* list;
    bool game_in_front;
  };
  const Setting settings[] = {
      {"defaults", true, 1, nullptr, true},
      {"defaults, low-priority purge", true, 2, nullptr, true},
      {"defaults, chrome.exe excluded", true, 1, L"chrome.exe", true},
      {"keep_foreground=0 (before)", false, 1, nullptr, true},
      {"defaults, nothing in front", true, 1, nullptr, false},
  };
  process_count = 300;
  printf("\nA clean of 300 processes with game.exe in front\n");
  printf("%-32s %8s %6s %-12s %s\n", "setting", "trimmed", "kept", "kept name", "standby purge");
  for (const Setting& setting : settings) {
    foreground_id = setting.game_in_front ? kGameId : 0;
    last_command = 0;
    CleanState state{};
    state.platform = &kIdlePlatform;
    const CleanSteps steps = {true, false, setting.purge_standby, false, setting.keep_foreground};
    KeptProgram kept = {};
    uint32_t trimmed = PurgeSystemLists(state, setting.list, steps, &kept);
    printf("%-32s %8u %6s %-12ls %s\n", setting.name, static_cast<unsigned>(trimmed), kept.kept ? "1" : "0",
           kept.kept ? kept.name : L"-", CommandName(last_command));
  }
}

}  // namespace

int main() {
  struct Scenario {
    const char* name;
    const wchar_t* list;
  };
  const Scenario scenarios[] = {
      {"no exclusion list", nullptr},
      {"5-name list (56 chars)", L"chrome.exe, firefox.exe, Code.exe, Teams.exe, OneDrive.exe"},
  };
  const DWORD kCounts[] = {10, 100, 1000};
  printf("One clean (trim and purge) through a platform whose calls do nothing\n");
  printf("%-24s %10s %16s %18s\n", "exclusion list", "processes", "us per clean", "ns per process");
  for (const Scenario& scenario : scenarios) {
    for (DWORD count : kCounts) {
      process_count = count;
      double seconds = SecondsPerClean(scenario.list);
      printf("%-24s %10lu %16.2f %18.1f\n", scenario.name, static_cast<unsigned long>(count), seconds * 1e6,
             seconds * 1e9 / count);
    }
  }
  PrintWhatEachSettingKeeps();
  return 0;
}
