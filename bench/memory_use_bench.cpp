// What the popup's "who holds the memory" reading costs: through a played
// platform whose calls only copy figures (the grouping and ranking alone),
// at 100, 1,000 and 4,096 processes, with every name distinct and with
// eight processes a name; then the real reading over Wine's own processes.
// And the two commit readings: GetPerformanceInfo, which the popup makes
// when it opens, against GlobalMemoryStatusEx, which the once-a-second
// refresh already makes and whose page-file figures give the same charge.
// Last, the whole opening of the status popup (made, read, laid out and
// painted once) with the holders as the program reads them and with a
// played reading of 4,096 processes.
#include <stdio.h>
#include <wchar.h>

#include <algorithm>
#include <vector>

#include "app/app.h"
#include "clean/clean.h"
#include "status/status.h"

namespace {

DWORD process_count = 0;
DWORD processes_per_name = 1;
wchar_t paths[MEMORY_HOLDER_CAPACITY][64];

BOOL WINAPI EnumProcessesCall(DWORD* ids, DWORD bytes, DWORD* returned) {
  DWORD n = process_count < bytes / sizeof(DWORD) ? process_count : bytes / sizeof(DWORD);
  for (DWORD i = 0; i < n; ++i) ids[i] = 4 + i * 4;
  *returned = n * static_cast<DWORD>(sizeof(DWORD));
  return TRUE;
}
HANDLE WINAPI OpenProcessCall(DWORD, BOOL, DWORD id) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(id)); }
DWORD IndexOf(HANDLE process) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(process) / 4 - 1); }
BOOL WINAPI QueryImageName(HANDLE process, DWORD, LPWSTR name, PDWORD size) {
  const wchar_t* path = paths[IndexOf(process) / processes_per_name];
  DWORD length = static_cast<DWORD>(wcslen(path));
  wmemcpy(name, path, length + 1);
  *size = length;
  return TRUE;
}
BOOL WINAPI GetMemoryInfo(HANDLE process, PPROCESS_MEMORY_COUNTERS counters, DWORD) {
  counters->WorkingSetSize = (IndexOf(process) % 97 + 1) * 1048576ull;
  return TRUE;
}
BOOL WINAPI CloseHandleCall(HANDLE) { return TRUE; }

const MemoryUsePlatform kPlayedPlatform = {
    K32GetPerformanceInfo, EnumProcessesCall, OpenProcessCall, QueryImageName, GetMemoryInfo, CloseHandleCall,
};

MemoryHolderTable table;  // about 200 KB: not on the stack

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Best of five batches, each about 50 ms long, in seconds per call of `run`.
template <typename Run>
double BestSeconds(Run run) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  uint32_t calls = 1;
  for (;;) {  // grow the batch until it is long enough to time
    QueryPerformanceCounter(&start);
    for (uint32_t i = 0; i < calls; ++i) run();
    QueryPerformanceCounter(&end);
    if (Seconds(start, end, frequency) > 0.05 || calls >= (1u << 30)) break;
    calls *= 2;
  }
  double best = 1e300;
  for (int batch = 0; batch < 5; ++batch) {
    QueryPerformanceCounter(&start);
    for (uint32_t i = 0; i < calls; ++i) run();
    QueryPerformanceCounter(&end);
    best = std::min(best, Seconds(start, end, frequency) / calls);
  }
  return best;
}

volatile int32_t sink = 0;

void ReadAndRank(const MemoryUsePlatform& platform) {
  ReadMemoryHolders(table, platform);
  sink = sink + RankMemoryHolders(table).count;
}

bool ReadPlayedHolders(TopMemoryHolders& top) {
  top = ReadMemoryHolders(table, kPlayedPlatform) ? RankMemoryHolders(table) : TopMemoryHolders{};
  return top.count > 0;
}

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// Median of 11 openings, in milliseconds: from the call to the end of the
// first paint.
double OpenPopupMs(const StatusPlatform& platform, HWND owner) {
  StatusState status;
  status.platform = &platform;
  std::vector<double> times;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  for (int i = 0; i < 11; ++i) {
    QueryPerformanceCounter(&start);
    ShowStatusWindow(status, owner, RECT{});
    if (status.window) UpdateWindow(status.window);
    QueryPerformanceCounter(&end);
    times.push_back(Seconds(start, end, frequency) * 1e3);
    CloseStatusWindow(status);
    PumpMessages();
  }
  std::sort(times.begin(), times.end());
  return times[5];
}

}  // namespace

int main() {
  for (int i = 0; i < MEMORY_HOLDER_CAPACITY; ++i)
    swprintf(paths[i], 64, L"C:\\Program Files\\Vendor %d\\program%d.exe", i % 7, i);

  printf("Who holds the memory (read, group, rank) through a platform whose calls only copy figures\n");
  printf("%-22s %10s %8s %16s %18s\n", "names", "processes", "groups", "us per reading", "ns per process");
  const DWORD kPerName[] = {1, 8};
  const DWORD kCounts[] = {100, 1000, 4096};
  for (DWORD per_name : kPerName) {
    for (DWORD count : kCounts) {
      processes_per_name = per_name;
      process_count = count;
      double seconds = BestSeconds([] { ReadAndRank(kPlayedPlatform); });
      printf("%-22s %10lu %8d %16.1f %18.1f\n", per_name == 1 ? "every one distinct" : "8 processes a name",
             static_cast<unsigned long>(count), table.count, seconds * 1e6, seconds * 1e9 / count);
    }
  }

  ReadMemoryHolders(table, kSystemMemoryUsePlatform);
  uint32_t processes = table.hidden + table.unnamed;
  for (int32_t i = 0; i < table.count; ++i) processes += table.groups[i].processes;
  double real = BestSeconds([] { ReadAndRank(kSystemMemoryUsePlatform); });
  printf("\nThe real calls over Wine's own processes\n");
  printf("%10s %8s %16s %18s\n", "processes", "groups", "us per reading", "us per process");
  printf("%10lu %8d %16.1f %18.1f\n", static_cast<unsigned long>(processes), table.count, real * 1e6,
         processes ? real * 1e6 / processes : 0.0);
  TopMemoryHolders top = RankMemoryHolders(table);
  for (int32_t i = 0; i < top.count; ++i) {
    wchar_t line[MEMORY_HOLDER_TEXT_CAPACITY];
    FormatMemoryHolder(line, top.holders[i]);
    printf("  %ls\n", line);
  }

  printf("\nThe commit charge\n");
  CommitCharge commit = {};
  double performance = BestSeconds([&] { ReadCommitCharge(commit, kSystemMemoryUsePlatform); });
  MemorySnapshot snapshot = {};
  double status = BestSeconds([&] { TakeMemorySnapshot(snapshot); });
  printf("%-52s %10.2f us\n", "GetPerformanceInfo (ReadCommitCharge)", performance * 1e6);
  printf("%-52s %10.2f us\n", "GlobalMemoryStatusEx (TakeMemorySnapshot), back to back", status * 1e6);
  // Wine answers GlobalMemoryStatusEx from a copy for up to a second; one
  // call a second, as the refresh makes, finds the copy stale.
  std::vector<double> spaced;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  for (int i = 0; i < 5; ++i) {
    Sleep(1100);
    QueryPerformanceCounter(&start);
    TakeMemorySnapshot(snapshot);
    QueryPerformanceCounter(&end);
    spaced.push_back(Seconds(start, end, frequency));
  }
  std::sort(spaced.begin(), spaced.end());
  printf("%-52s %10.2f us\n", "GlobalMemoryStatusEx, one call a second (median of 5)", spaced[2] * 1e6);
  wchar_t text[COMMIT_TEXT_CAPACITY];
  FormatCommitText(text, commit);
  printf("  GetPerformanceInfo:   %ls\n", text);
  FormatCommitText(text, snapshot.commit);
  printf("  GlobalMemoryStatusEx: %ls\n", text);

  HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  printf("\nThe status popup's opening, to the end of its first paint (median of 11)\n");
  printf("%-52s %10.2f ms\n", "holders as the program reads them (Wine's processes)",
         OpenPopupMs(kSystemStatusPlatform, owner));
  StatusPlatform played = kSystemStatusPlatform;
  played.read_memory_holders = ReadPlayedHolders;
  processes_per_name = 1;
  process_count = MEMORY_HOLDER_CAPACITY;
  printf("%-52s %10.2f ms\n", "holders from 4,096 played processes", OpenPopupMs(played, owner));
  played.read_memory_holders = [](TopMemoryHolders& top) {
    top = {};
    return false;
  };
  printf("%-52s %10.2f ms\n", "no holders read", OpenPopupMs(played, owner));
  DestroyWindow(owner);
  return 0;
}
