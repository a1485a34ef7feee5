// Opens quillmere.exe's status popup once, as "Status Window..." in its tray
// menu does, and closes it again; scripts/bench.sh then reads what the
// program keeps resident after its first popup. Exit code 1 when the
// program or its popup cannot be found.
#include <windows.h>

#include "tray/tray.h"

namespace {

// Polls every 50 ms for up to ten seconds.
template <typename Condition>
bool WaitFor(Condition done) {
  for (int i = 0; i < 200; ++i) {
    if (done()) return true;
    Sleep(50);
  }
  return false;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  HWND main_window = FindWindowExW(HWND_MESSAGE, nullptr, L"Quillmere", nullptr);
  if (!main_window) return 1;
  PostMessageW(main_window, WM_COMMAND, IDM_STATUS, 0);
  HWND popup = nullptr;
  if (!WaitFor([&] { return (popup = FindWindowW(L"QuillmereStatus", nullptr)) != nullptr; })) return 1;
  Sleep(2000);  // a few of its once-a-second repaints
  PostMessageW(popup, WM_CLOSE, 0, 0);
  return WaitFor([&] { return !IsWindow(popup); }) ? 0 : 1;
}
