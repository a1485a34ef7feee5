// What one clean costs beyond its system calls: the trim and the purge played
// through a platform whose calls do nothing, for 10, 100 and 1,000
// processes, with and without an exclusion list. The time per process should
// stay flat as the count grows.
#include <stdio.h>
#include <wchar.h>

#include "clean/clean.h"

namespace {

DWORD process_count = 0;

// A typical device path: the list's tokens are compared with "svchost.exe".
const wchar_t kImage[] = L"\\Device\\HarddiskVolume3\\Windows\\System32\\svchost.exe";
constexpr DWORD kImageLength = ARRAYSIZE(kImage) - 1;

BOOL WINAPI EnumProcesses(DWORD* ids, DWORD bytes, DWORD* returned) {
  DWORD n = process_count < bytes / sizeof(DWORD) ? process_count : bytes / sizeof(DWORD);
  for (DWORD i = 0; i < n; ++i) ids[i] = 4 + i * 4;
  *returned = n * static_cast<DWORD>(sizeof(DWORD));
  return TRUE;
}
HANDLE WINAPI OpenProcessCall(DWORD, BOOL, DWORD id) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(id)); }
DWORD WINAPI GetImageName(HANDLE, LPWSTR name, DWORD) {
  wmemcpy(name, kImage, kImageLength + 1);
  return kImageLength;
}
BOOL WINAPI EmptyWorkingSet(HANDLE) { return TRUE; }
BOOL WINAPI CloseHandleCall(HANDLE) { return TRUE; }
LONG NTAPI SetSystemInformation(ULONG, PVOID, ULONG) { return 0; }
HMODULE WINAPI GetModuleHandleCall(LPCWSTR) { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7000)); }
FARPROC WINAPI GetProcAddressCall(HMODULE, LPCSTR) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&SetSystemInformation));
}
BOOL WINAPI SetFileCacheSize(SIZE_T, SIZE_T, DWORD) { return FALSE; }
void EnablePrivileges() {}
void WINAPI GetSystemInfoCall(LPSYSTEM_INFO info) { info->dwPageSize = 4096; }

const CleanPlatform kIdlePlatform = {
    EnumProcesses,       OpenProcessCall,    GetImageName,     EmptyWorkingSet,  CloseHandleCall,
    GetModuleHandleCall, GetProcAddressCall, SetFileCacheSize, EnablePrivileges, GetSystemInfoCall,
};
const CleanSteps kFullClean = {true, true, true, true};

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Best of five batches, each about 50 ms long, in seconds per clean.
double SecondsPerClean(const wchar_t* list) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  uint32_t cleans = 1;
  volatile uint32_t sink = 0;
  CleanState state;
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
  return 0;
}
