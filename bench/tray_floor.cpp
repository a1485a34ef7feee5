// The floor of a tray program that shows memory: one icon added to the
// notification area and a one-second timer that reads GlobalMemoryStatusEx
// and sends the same icon again. scripts/bench.sh runs it beside
// quillmere.exe.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  HWND window = CreateWindowExW(0, L"STATIC", L"tray floor", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  NOTIFYICONDATAW tray = {};
  tray.cbSize = sizeof tray;
  tray.hWnd = window;
  tray.uID = 1;
  tray.uFlags = NIF_ICON | NIF_TIP;
  tray.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  lstrcpynW(tray.szTip, L"tray floor", ARRAYSIZE(tray.szTip));
  if (!Shell_NotifyIconW(NIM_ADD, &tray)) return 1;
  SetTimer(window, 1, 1000, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER) {
      MEMORYSTATUSEX status = {};
      status.dwLength = sizeof status;
      GlobalMemoryStatusEx(&status);
      Shell_NotifyIconW(NIM_MODIFY, &tray);
    }
    DispatchMessageW(&message);
  }
  Shell_NotifyIconW(NIM_DELETE, &tray);
  return 0;
}
