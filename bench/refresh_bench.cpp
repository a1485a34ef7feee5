// The once-a-second refresh against its floor: one RefreshTray (reading,
// drawn icon, tooltip, NIM_MODIFY, load sample) beside one
// GlobalMemoryStatusEx plus one NIM_MODIFY of an unchanged icon, the two
// system calls no refresh can avoid. Rounds alternate so both see the same
// machine; the medians and their ratio are printed.
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "app/app.h"
#include "tray/tray.h"

namespace {

double Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  const int kRounds = 5000;
  HWND window = CreateWindowExW(0, L"STATIC", L"refresh bench", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                nullptr);
  app.main_window = window;
  if (!AddTrayIcon(window)) {
    fprintf(stderr, "the shell refused the tray icon\n");
    return 1;
  }
  RefreshTray();

  // The floor's record: the icon the shell already shows, with its tooltip.
  NOTIFYICONDATAW unchanged = app.tray.data;
  unchanged.uFlags = NIF_ICON | NIF_TIP;

  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> refresh, floor;
  refresh.reserve(kRounds);
  floor.reserve(kRounds);
  for (int round = 0; round < kRounds; ++round) {
    QueryPerformanceCounter(&start);
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    GlobalMemoryStatusEx(&status);
    Shell_NotifyIconW(NIM_MODIFY, &unchanged);
    QueryPerformanceCounter(&end);
    floor.push_back(Microseconds(start, end, frequency));

    QueryPerformanceCounter(&start);
    RefreshTray();
    QueryPerformanceCounter(&end);
    refresh.push_back(Microseconds(start, end, frequency));
    unchanged.hIcon = app.tray.drawn_icon;  // the floor keeps showing the newest icon
  }
  RemoveTrayIcon();
  DestroyWindow(window);

  double refresh_median = Median(refresh);
  double floor_median = Median(floor);
  printf("%d rounds of each, alternating\n", kRounds);
  printf("%-54s %10.1f us\n", "RefreshTray (median)", refresh_median);
  printf("%-54s %10.1f us\n", "floor: GlobalMemoryStatusEx + NIM_MODIFY, same icon", floor_median);
  printf("%-54s %10.3f\n", "ratio", refresh_median / floor_median);
  return 0;
}
