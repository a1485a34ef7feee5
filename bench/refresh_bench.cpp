// The once-a-second refresh against its floor, for three loads: steady, one
// percent up or down every round (the tooltip changes each round, the bar
// now and then), and a bar of another height and colour every round (the
// worst case). One round of the refresh is one RefreshTray: the real
// GlobalMemoryStatusEx reading with the played load put in its place, then
// the icon, the tooltip and the load sample. One round of the floor is one
// GlobalMemoryStatusEx plus one NIM_MODIFY of an unchanged icon, what a tray
// program that shows memory cannot avoid. Rounds alternate so both see the
// same machine. Medians and their ratio are printed, and the ratio of the
// means too: with a drifting load most rounds send only the tooltip, so the
// median hides the rounds that draw.
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "app/app.h"
#include "common/dpi.h"
#include "common/system.h"
#include "common/text.h"
#include "tray/tray.h"

namespace {

int played_load = 0;

bool PlayedSnapshot(MemorySnapshot& snapshot) {
  if (!TakeMemorySnapshot(snapshot)) return false;
  snapshot.load_percent = static_cast<uint32_t>(played_load);
  snapshot.used_gb = snapshot.total_gb * played_load / 100;
  return true;
}

const TrayPlatform kPlayedTray = {Shell_NotifyIconW, GetTickCount64, PlayedSnapshot, TaskbarDpi, IsHighContrastOn};

int SteadyLoad(int) { return 37; }
// 30 up to 90 and back down, one percent a round.
int DriftingLoad(int round) {
  int step = round % 120;
  return step < 60 ? 30 + step : 150 - step;
}
int JumpingLoad(int round) { return round % 2 ? 40 : 85; }

double Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Mean(const std::vector<double>& values) {
  double sum = 0;
  for (double value : values) sum += value;
  return sum / static_cast<double>(values.size());
}

}  // namespace

int main() {
  const int kRounds = 5000;
  HWND window = CreateWindowExW(0, L"STATIC", L"refresh bench", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                nullptr);
  app.main_window = window;
  app.tray.platform = &kPlayedTray;
  if (!AddTrayIcon(app.tray, window)) {
    fprintf(stderr, "the shell refused the tray icon\n");
    return 1;
  }

  struct Scenario {
    const char* name;
    int (*load)(int round);
  };
  const Scenario scenarios[] = {
      {"steady load (37 %)", SteadyLoad},
      {"load 1 % up or down each round", DriftingLoad},
      {"new bar height and colour each round", JumpingLoad},
  };
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  printf("%d rounds of each, refresh and floor alternating\n", kRounds);
  printf("%-38s %11s %11s %7s %11s %11s %7s %6s\n", "load", "refresh", "floor", "ratio", "refresh", "floor",
         "ratio", "icons");
  printf("%-38s %11s %11s %7s %11s %11s %7s %6s\n", "", "median us", "median us", "", "mean us", "mean us", "",
         "drawn");
  for (const Scenario& scenario : scenarios) {
    played_load = scenario.load(0);
    RefreshTray();
    // The floor's record: the icon the shell already shows, with its tooltip.
    NOTIFYICONDATAW unchanged = app.tray.data;
    unchanged.uFlags = NIF_ICON | NIF_TIP | NIF_SHOWTIP;

    std::vector<double> refresh, floor;
    refresh.reserve(kRounds);
    floor.reserve(kRounds);
    int icons = 0;
    for (int round = 1; round <= kRounds; ++round) {
      QueryPerformanceCounter(&start);
      MEMORYSTATUSEX status = {};
      status.dwLength = sizeof status;
      GlobalMemoryStatusEx(&status);
      Shell_NotifyIconW(NIM_MODIFY, &unchanged);
      QueryPerformanceCounter(&end);
      floor.push_back(Microseconds(start, end, frequency));

      played_load = scenario.load(round);
      HICON before = app.tray.drawn_icon;
      QueryPerformanceCounter(&start);
      RefreshTray();
      QueryPerformanceCounter(&end);
      refresh.push_back(Microseconds(start, end, frequency));
      icons += app.tray.drawn_icon != before;
      unchanged.hIcon = app.tray.drawn_icon;  // the floor keeps showing the newest icon
      CopyBounded(unchanged.szTip, ARRAYSIZE(unchanged.szTip), app.tray.data.szTip);
    }
    double refresh_median = Median(refresh), floor_median = Median(floor);
    double refresh_mean = Mean(refresh), floor_mean = Mean(floor);
    printf("%-38s %11.1f %11.1f %7.3f %11.1f %11.1f %7.3f %6d\n", scenario.name, refresh_median, floor_median,
           refresh_median / floor_median, refresh_mean, floor_mean, refresh_mean / floor_mean, icons);
  }
  RemoveTrayIcon(app.tray);
  DestroyWindow(window);
  return 0;
}
