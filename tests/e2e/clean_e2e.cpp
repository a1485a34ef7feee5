// Cleans of the real program from the real hot key, a double-click on its
// tray icon and its menu; the log they leave; automatic cleans and the
// menu's Auto-clean toggle.
#include <stdio.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "clean/clean.h"
#include "tests/e2e/harness.h"
#include "tests/support.h"

namespace {

constexpr int kCleanNow = 0, kAutoClean = 2;  // positions in the menu

std::string Log() { return ReadFileBytes(AppFile(L"clean.log")); }

// Settings as a first run writes them, with automatic cleans off so that
// only the cleans a test asks for reach the log, and no "RAM Cleaned"
// balloon: Wine keeps a balloon over the tray for ten seconds, where it
// would take the next test's clicks.
std::string QuietConfig(bool auto_clean) {
  std::string config =
      "[Clean]\r\nthreshold_percent=80\r\ninterval_minutes=30\r\non_idle_minutes=5\r\non_boot_delay=60\r\n"
      "silent_mode=0\r\nauto_clean=0\r\nclean_hour=-1\r\nclean_minute=0\r\nnotify_min_mb=2147483647\r\nexclude_list=\r\n"
      "[App]\r\nstart_with_windows=0\r\nshow_status_on_clean=0\r\n";
  if (auto_clean) config.replace(config.find("auto_clean=0"), 12, "auto_clean=1");
  return config;
}

// One line in the exact format, rebuilt from the fields read back from it,
// for a clean that trimmed at least one process.
void ExpectCleanLine(const std::string& line) {
  int year, month, day, hour, minute, second, processes;
  double freed;
  ASSERT_EQ(sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d Freed %lf MB (%d processes)", &year, &month, &day, &hour,
                   &minute, &second, &freed, &processes),
            8)
      << line;
  SYSTEMTIME time = {};
  time.wYear = static_cast<WORD>(year);
  time.wMonth = static_cast<WORD>(month);
  time.wDay = static_cast<WORD>(day);
  time.wHour = static_cast<WORD>(hour);
  time.wMinute = static_cast<WORD>(minute);
  time.wSecond = static_cast<WORD>(second);
  wchar_t expected[256];
  FormatCleanLogLine(expected, time, freed, processes);
  EXPECT_EQ(line, Narrow(expected));
  EXPECT_GT(processes, 0);
}

class CleanByHand : public QuillmereTest {
 protected:
  // After the action, exactly one line arrives and no second follows.
  void ExpectOneNewCleanLine(size_t lines_before) {
    ASSERT_TRUE(WaitUntil([&] { return LogLines().size() > lines_before; }, 15000)) << "no clean was logged";
    EXPECT_FALSE(WaitUntil([&] { return LogLines().size() > lines_before + 1; }, 1500)) << "more than one clean";
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), lines_before + 1);
    ExpectCleanLine(lines.back());
  }
};

using CleanLog = QuillmereTest;
using AutoClean = QuillmereTest;
using CommitWarningBalloon = QuillmereTest;

// QuietConfig in silent mode, warning when the commit charge reaches
// `level` percent of its limit.
std::string WarningConfig(int level) {
  std::string config = QuietConfig(false);
  config.replace(config.find("silent_mode=0"), 13, "silent_mode=1");
  config.insert(config.find("[App]"), "commit_warn_percent=" + std::to_string(level) + "\r\n");
  return config;
}

bool IsCommitWarning(const std::wstring& text) {
  const std::wstring head = L"Committed memory is at ";
  const std::wstring tail = L"% of its limit. Close programs or enlarge the page file; a clean cannot lower it.";
  return text.size() > head.size() + tail.size() && text.compare(0, head.size(), head) == 0 &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A window of this process, shown and pumped on a thread of its own so that
// it can take the keyboard focus and the foreground while the test waits.
struct ForegroundWindow {
  HANDLE thread = nullptr;
  DWORD thread_id = 0;
  volatile HWND window = nullptr;
  HANDLE ready = nullptr;
};

constexpr wchar_t kForegroundTitle[] = L"Quillmere keep-foreground probe";

DWORD WINAPI RunForegroundWindow(void* context) {
  ForegroundWindow* probe = static_cast<ForegroundWindow*>(context);
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.lpszClassName = L"QuillmereForegroundProbe";
  RegisterClassW(&window_class);
  HWND window = CreateWindowExW(0, window_class.lpszClassName, kForegroundTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                300, 300, 300, 200, nullptr, nullptr, nullptr, nullptr);
  probe->window = window;
  SetEvent(probe->ready);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (window) DestroyWindow(window);
  UnregisterClassW(window_class.lpszClassName, nullptr);
  return 0;
}

bool ShowForegroundWindow(ForegroundWindow& probe) {
  probe.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!probe.ready) return false;
  probe.thread = CreateThread(nullptr, 0, RunForegroundWindow, &probe, 0, &probe.thread_id);
  return probe.thread && WaitForSingleObject(probe.ready, 10000) == WAIT_OBJECT_0 && probe.window;
}

void CloseForegroundWindow(ForegroundWindow& probe) {
  if (probe.thread) {
    PostThreadMessageW(probe.thread_id, WM_QUIT, 0, 0);
    WaitForSingleObject(probe.thread, 15000);
    CloseHandle(probe.thread);
  }
  if (probe.ready) CloseHandle(probe.ready);
  probe = {};
}

// The relay trace limited to the two calls a trim makes per process; the
// value is read when a process starts.
constexpr wchar_t kWineDebugKey[] = L"Software\\Wine\\Debug";

bool SetRelayInclude(const wchar_t* functions) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kWineDebugKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LSTATUS status = RegSetValueExW(key, L"RelayInclude", 0, REG_SZ, reinterpret_cast<const BYTE*>(functions),
                                  static_cast<DWORD>((wcslen(functions) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

void DeleteRelayInclude() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kWineDebugKey, L"RelayInclude"); }

// The process ids whose handles K32EmptyWorkingSet received, from lines such
// as "0024:Call KERNEL32.OpenProcess(00000500,00000000,00000020) ret=..."
// and "0024:Ret  KERNEL32.OpenProcess() retval=000000d8 ret=...", each
// thread followed on its own.
std::set<DWORD> EmptiedProcesses(const std::string& trace) {
  std::map<std::string, DWORD> opening;  // thread -> process id asked for
  std::map<unsigned long long, DWORD> handles;
  std::set<DWORD> emptied;
  size_t start = 0;
  while (start < trace.size()) {
    size_t end = trace.find('\n', start);
    if (end == std::string::npos) end = trace.size();
    std::string line = trace.substr(start, end - start);
    start = end + 1;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string thread = line.substr(0, colon);
    size_t at = 0;
    unsigned long long a = 0, b = 0, c = 0;
    if ((at = line.find(".OpenProcess(")) != std::string::npos && line.find(":Call ") != std::string::npos) {
      if (sscanf(line.c_str() + at, ".OpenProcess(%llx,%llx,%llx)", &a, &b, &c) == 3)
        opening[thread] = static_cast<DWORD>(c);
    } else if ((at = line.find(".OpenProcess() retval=")) != std::string::npos && opening.count(thread)) {
      if (sscanf(line.c_str() + at, ".OpenProcess() retval=%llx", &a) == 1 && a != 0) handles[a] = opening[thread];
      opening.erase(thread);
    } else if ((at = line.find(".K32EmptyWorkingSet(")) != std::string::npos &&
               line.find(":Call ") != std::string::npos) {
      if (sscanf(line.c_str() + at, ".K32EmptyWorkingSet(%llx)", &a) == 1 && handles.count(a))
        emptied.insert(handles[a]);
    }
  }
  return emptied;
}

// Wine's tray lives in its explorer process, which every clean may trim.
DWORD TrayProcessId() {
  DWORD id = 0;
  HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
  if (tray) GetWindowThreadProcessId(tray, &id);
  return id;
}

class KeepForeground : public QuillmereTest {
 protected:
  // With this process's window in front, a clean by the real hot key, traced
  // from outside; answers the processes whose working sets it emptied.
  void CleanWithThisWindowInFront(bool keep_foreground, std::set<DWORD>& emptied);
};

void KeepForeground::CleanWithThisWindowInFront(bool keep_foreground, std::set<DWORD>& emptied) {
  std::string config = QuietConfig(false);
  config.insert(config.find("[App]"), std::string("keep_foreground=") + (keep_foreground ? "1" : "0") + "\r\n");
  ASSERT_TRUE(WriteConfig(config));
  ASSERT_TRUE(SetRelayInclude(L"OpenProcess;K32EmptyWorkingSet"));
  char trace_file[128];
  snprintf(trace_file, sizeof trace_file, "/tmp/quillmere-e2e-relay-%lu-%llx.txt", GetCurrentProcessId(),
           static_cast<unsigned long long>(GetTickCount64()));
  bool started = StartThroughHost("WINEDEBUG=+relay", trace_file);
  DeleteRelayInclude();
  ASSERT_TRUE(started);
  ForegroundWindow probe;
  bool shown = ShowForegroundWindow(probe);
  if (shown) FocusWineWindow(Narrow(kForegroundTitle));
  bool in_front = shown && WaitUntil([&] { return GetForegroundWindow() == probe.window; }, 10000);
  if (in_front) PressKeys("ctrl+alt+r");
  bool cleaned = in_front && WaitUntil([] { return !LogLines().empty(); }, 15000);
  // The log line comes after the trim, so the trace is whole by then.
  std::wstring trace_path = WinePath(trace_file);
  emptied = EmptiedProcesses(ReadFileBytes(trace_path));
  CloseForegroundWindow(probe);
  DeleteFileW(trace_path.c_str());
  ASSERT_TRUE(shown) << "the test's window did not show";
  ASSERT_TRUE(in_front) << "the test's window did not come to the front";
  ASSERT_TRUE(cleaned) << "no clean was logged";
}

}  // namespace

// The clean reads the foreground window's process once and leaves its
// working set alone, while the others are trimmed as before.
TEST_F(KeepForeground, TheProcessInFrontIsNotTrimmedWhileTheOthersAre) {
  std::set<DWORD> emptied;
  CleanWithThisWindowInFront(true, emptied);
  if (HasFatalFailure()) return;
  ASSERT_NE(TrayProcessId(), 0u);
  EXPECT_TRUE(emptied.count(TrayProcessId())) << "the tray's process was not trimmed";
  EXPECT_FALSE(emptied.count(GetCurrentProcessId())) << "the process in front was trimmed";
  EXPECT_EQ(Exit(), 0u);
}

// The contrast: with keep_foreground=0 the same clean trims it too.
TEST_F(KeepForeground, WithTheKeyOffTheProcessInFrontIsTrimmed) {
  std::set<DWORD> emptied;
  CleanWithThisWindowInFront(false, emptied);
  if (HasFatalFailure()) return;
  ASSERT_NE(TrayProcessId(), 0u);
  EXPECT_TRUE(emptied.count(TrayProcessId())) << "the tray's process was not trimmed";
  EXPECT_TRUE(emptied.count(GetCurrentProcessId())) << "the process in front was not trimmed";
  EXPECT_EQ(Exit(), 0u);
}

TEST_F(CleanByHand, HotKeyCleansOnceAndTheFirstLineCreatesTheLogWithoutBom) {
  ASSERT_TRUE(WriteConfig(QuietConfig(false)));
  ASSERT_TRUE(Start());
  ASSERT_EQ(GetFileAttributesW(AppFile(L"clean.log").c_str()), INVALID_FILE_ATTRIBUTES);
  PressKeysInWineWindow("ctrl+alt+r");
  ExpectOneNewCleanLine(0);
  EXPECT_NE(Log().compare(0, 3, "\xEF\xBB\xBF"), 0) << "no byte-order mark";
  EXPECT_EQ(Log(), LogLines().front()) << "nothing before or after the line";
}

// The first click of the two must not open the popup, not even for a moment.
TEST_F(CleanByHand, DoubleClickOnTheTrayIconCleansOnceAndNeverShowsThePopup) {
  ASSERT_TRUE(WriteConfig(QuietConfig(false)));
  ASSERT_TRUE(Start());
  TrayIconView icon;
  ASSERT_TRUE(FindQuillmereIcon(icon));
  StatusPopupWatch watch;
  MouseClick(icon.Center(), 1, 2);
  ExpectOneNewCleanLine(0);
  // Long past the double-click time that a click waits for.
  Sleep(GetDoubleClickTime() + 1000);
  EXPECT_FALSE(watch.Seen()) << "the popup showed during or after the double-click";
}

TEST_F(CleanByHand, CleanNowFromTheMenuCleansOnce) {
  ASSERT_TRUE(WriteConfig(QuietConfig(false)));
  ASSERT_TRUE(Start());
  HWND menu = OpenTrayMenu();
  ASSERT_NE(menu, nullptr);
  ClickMenuItem(menu, kCleanNow);
  ExpectOneNewCleanLine(0);
}

TEST_F(CleanLog, WhileAnotherProcessWritesItACleanLeavesItAndTheProgramRunsOn) {
  ASSERT_TRUE(WriteConfig(QuietConfig(false)));
  const std::string earlier = "2025-01-01 00:00:00  Freed 1 MB  (1 processes)\r\n";
  ASSERT_TRUE(WriteFileBytes(AppFile(L"clean.log"), earlier));
  ASSERT_TRUE(Start());
  HANDLE holder = CreateFileW(AppFile(L"clean.log").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  // Sent, not posted: it returns once the clean has run to its end.
  DWORD_PTR result = 0;
  EXPECT_TRUE(SendMessageTimeoutW(main_window_, WM_COMMAND, IDM_CLEAN_NOW, 0, SMTO_ABORTIFHUNG, 15000, &result));
  CloseHandle(holder);
  EXPECT_EQ(Log(), earlier);
  EXPECT_TRUE(Running());
  EXPECT_EQ(FindMainWindow(), main_window_);

  // Once the file is free again the next clean is logged after it.
  EXPECT_TRUE(SendMessageTimeoutW(main_window_, WM_COMMAND, IDM_CLEAN_NOW, 0, SMTO_ABORTIFHUNG, 15000, &result));
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], earlier);
  ExpectCleanLine(lines[1]);
}

TEST_F(AutoClean, MenuCheckMarkFollowsTheToggleAndTheSettingIsSavedAtOnce) {
  ASSERT_TRUE(WriteConfig(QuietConfig(true)));
  ASSERT_TRUE(Start());
  for (bool on : {true, false, true}) {
    HWND menu = OpenTrayMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MenuItemChecked(menu, kAutoClean), on);
    EXPECT_FALSE(MenuItemChecked(menu, kCleanNow)) << "only Auto-clean carries a mark";
    ClickMenuItem(menu, kAutoClean);
    const int saved = on ? 0 : 1;
    EXPECT_TRUE(WaitUntil([&] { return ConfigNumber(L"auto_clean") == saved; }, 5000)) << saved;
    ASSERT_TRUE(WaitUntil([&] { return FindMenuWindow(process_.dwProcessId) == nullptr; }, 5000));
  }
}

TEST_F(AutoClean, BootDelayAloneCleansOnceAfterItsSeconds) {
  ASSERT_TRUE(WriteConfig(
      "[Clean]\r\nthreshold_percent=0\r\ninterval_minutes=0\r\non_idle_minutes=0\r\non_boot_delay=2\r\n"
      "auto_clean=1\r\nclean_hour=-1\r\nsilent_mode=1\r\n[App]\r\nstart_with_windows=0\r\n"));
  ASSERT_TRUE(Start());
  EXPECT_TRUE(WaitUntil([] { return LogLines().size() >= 1; }, 10000)) << "no boot-delay clean";
  EXPECT_FALSE(WaitUntil([] { return LogLines().size() > 1; }, 4000)) << "a second automatic clean";
  EXPECT_EQ(LogLines().size(), 1u);
  EXPECT_EQ(Exit(), 0u);
}

// At the level, in silent mode: one warning balloon, the commit figure on
// the tooltip's second line, no clean and no clean.log; and no second
// balloon once the first has gone (the next may come 30 minutes later).
TEST_F(CommitWarningBalloon, AtTheLevelOneBalloonInSilentModeTheTooltipLineAndNoClean) {
  // What the program reads each second.
  MemorySnapshot now = {};
  ASSERT_TRUE(TakeMemorySnapshot(now));
  ASSERT_TRUE(now.commit.readable);
  // The lowest level there is, 50 %, with a point of margin for a charge on
  // the move. Under Wine the charge is the memory Linux has in use against
  // RAM plus swap: on a machine mostly idle it stays far below, and raising
  // it would take filling half of the machine's memory. The test run
  // therefore runs this once more with nearly all of it in use
  // (scripts/meminfo-run.sh).
  if (now.commit.percent < 51)
    GTEST_SKIP() << "the commit charge here is " << now.commit.percent << "% of its limit ("
                 << now.commit.used_bytes / 1048576 << " of " << now.commit.limit_bytes / 1048576
                 << " MB), below the lowest warning level, 50%";
  ASSERT_TRUE(WriteConfig(WarningConfig(50)));
  ASSERT_TRUE(Start());
  std::wstring text;
  EXPECT_TRUE(WaitUntil([&] { return VisibleBalloonText(text) && IsCommitWarning(text); }, 8000))
      << "no warning: " << Narrow(text);
  TrayIconView icon;
  EXPECT_TRUE(WaitUntil([&] { return FindQuillmereIcon(icon) && icon.tip.find(L"\nCommit ") != std::wstring::npos; },
                        5000))
      << Narrow(icon.tip);
  // Wine keeps a balloon ten seconds; none follows it.
  EXPECT_TRUE(WaitUntil([&] { return !VisibleBalloonText(text); }, 15000));
  EXPECT_FALSE(WaitUntil([&] { return VisibleBalloonText(text); }, 5000)) << "a second balloon: " << Narrow(text);
  EXPECT_EQ(Log(), "") << "a warning is no clean";
  EXPECT_EQ(Exit(), 0u);
}

// Below the level nothing warns: no balloon, and the tooltip keeps its two
// lines.
TEST_F(CommitWarningBalloon, BelowTheLevelNoBalloonAndNoTooltipLine) {
  MemorySnapshot now = {};
  ASSERT_TRUE(TakeMemorySnapshot(now));
  ASSERT_TRUE(now.commit.readable);
  if (now.commit.percent > 97)
    GTEST_SKIP() << "the commit charge here is " << now.commit.percent << "% of its limit, at the highest level";
  ASSERT_TRUE(WriteConfig(WarningConfig(99)));
  ASSERT_TRUE(Start());
  std::wstring text;
  EXPECT_FALSE(WaitUntil([&] { return VisibleBalloonText(text); }, 4000)) << Narrow(text);
  TrayIconView icon;
  ASSERT_TRUE(FindQuillmereIcon(icon));
  EXPECT_EQ(icon.tip.find(L"\nCommit "), std::wstring::npos) << Narrow(icon.tip);
  EXPECT_EQ(std::count(icon.tip.begin(), icon.tip.end(), L'\n'), 1) << Narrow(icon.tip);
  EXPECT_EQ(Exit(), 0u);
}
