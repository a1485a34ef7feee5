// The floor of an idle tray program: a message-only window with a one-second
// timer and nothing else. scripts/bench.sh runs it beside quillmere.exe.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  HWND window = CreateWindowExW(0, L"STATIC", L"idle floor", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  SetTimer(window, 1, 1000, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
