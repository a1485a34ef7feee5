// The real program's status popup, opened and closed as a user does: clicks
// on the tray icon, its menu, Esc, a click on another window, a clean.
#include "app/app.h"

#include <psapi.h>

#include "status/status_internal.h"
#include "tests/e2e/harness.h"
#include "tests/support.h"

namespace {

// Runs this thread's messages while waiting, so that a window of the test
// can take the activation when it is clicked.
bool WaitPumping(const std::function<bool()>& done, DWORD timeout_ms) {
  return WaitUntil(
      [&] {
        PumpMessages();
        return done();
      },
      timeout_ms);
}

// Wine without a window manager takes two seconds to close a window with a
// caption (it hides at once, and is gone two seconds later), so closes are
// given time.
bool WaitUntilGone(HWND popup) {
  return WaitPumping([&] { return !IsWindow(popup); }, 8000);
}

// Whether the process has the DLL loaded.
bool HasModule(HANDLE process, const wchar_t* name) {
  HMODULE modules[512];
  DWORD bytes = 0;
  if (!EnumProcessModules(process, modules, sizeof modules, &bytes)) return false;
  for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; ++i) {
    wchar_t module[MAX_PATH] = {};
    if (GetModuleBaseNameW(process, modules[i], module, MAX_PATH) && _wcsicmp(module, name) == 0) return true;
  }
  return false;
}

const wchar_t kPersonalize[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

// The user's app mode as Windows' settings keep it: dark (0), light (1), or
// with `mode` negative no value at all.
bool SetAppMode(int mode) {
  if (mode < 0) {
    LSTATUS gone = RegDeleteKeyValueW(HKEY_CURRENT_USER, kPersonalize, L"AppsUseLightTheme");
    return gone == ERROR_SUCCESS || gone == ERROR_FILE_NOT_FOUND;
  }
  DWORD value = static_cast<DWORD>(mode);
  return RegSetKeyValueW(HKEY_CURRENT_USER, kPersonalize, L"AppsUseLightTheme", REG_DWORD, &value,
                         sizeof value) == ERROR_SUCCESS;
}

// The program started in dark mode, its tray icon found.
class WithTrayIcon : public QuillmereTest {
 protected:
  void SetUp() override {
    QuillmereTest::SetUp();
    ASSERT_TRUE(SetAppMode(0));
    ASSERT_TRUE(Start());
    ASSERT_TRUE(FindQuillmereIcon(icon_));
  }
  // Far enough apart that two clicks never make a double-click.
  void ClickIcon() {
    Sleep(GetDoubleClickTime() + 100);
    MouseClick(icon_.Center(), 1);
  }
  HWND WaitForPopup() {
    HWND popup = nullptr;
    WaitUntil([&] { return (popup = FindStatusPopup()) != nullptr; }, 5000);
    return popup;
  }
  TrayIconView icon_;
};

using StatusPopupOpens = WithTrayIcon;
using StatusPopupCloses = WithTrayIcon;
using StatusPopupWithoutLists = WithTrayIcon;
using StatusPopupAfterAClean = QuillmereTest;

}  // namespace

TEST_F(StatusPopupOpens, OnATrayClickInsideTheWorkAreaAndTheNextClickClosesIt) {
  ClickIcon();
  HWND popup = WaitForPopup();
  ASSERT_NE(popup, nullptr);
  wchar_t title[32] = {};
  GetWindowTextW(popup, title, 32);
  EXPECT_STREQ(title, L"Quillmere");
  RECT work = {}, placed = {}, client = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(popup, &placed);
  GetClientRect(popup, &client);
  EXPECT_TRUE(Inside(placed, work)) << "inside the work area";
  EXPECT_EQ(client.right, 454);
  EXPECT_GE(client.bottom, 262 + 5 * 17) << "room for five clean lines";
  // Owned by the hidden top-level window, never by the message-only one.
  HWND owner = GetWindow(popup, GW_OWNER);
  EXPECT_NE(owner, nullptr);
  EXPECT_NE(owner, main_window_);
  EXPECT_EQ(GetAncestor(owner, GA_PARENT), GetDesktopWindow());
  // On screen in its own colours.
  POINT corner = {0, 0};
  ClientToScreen(popup, &corner);
  EXPECT_TRUE(WaitUntil([&] { return ScreenPixel(corner.x + 3, corner.y + 3) == RGB(20, 20, 28); }, 3000));
  EXPECT_EQ(ScreenPixel(corner.x + 30, corner.y + 150), RGB(32, 32, 44)) << "graph box, under the commit row";

  // The press takes the activation from the popup, which closes; the
  // release that follows must not open it again.
  ClickIcon();
  EXPECT_TRUE(WaitUntilGone(popup));
  EXPECT_FALSE(WaitUntil([&] { return FindStatusPopup() != nullptr; }, 1500)) << "the closing click reopened it";

  ClickIcon();
  EXPECT_NE(WaitForPopup(), nullptr) << "and the next click opens it again";
}

// A click waits for the double-click time, in case a second click comes
// to make it a double-click; only then does the popup open.
TEST_F(StatusPopupOpens, OnATrayClickOnlyOnceTheDoubleClickTimeHasPassed) {
  Sleep(GetDoubleClickTime() + 100);
  const ULONGLONG before_click = GetTickCount64();
  StatusPopupWatch watch;
  MouseClick(icon_.Center(), 1);
  ASSERT_NE(WaitForPopup(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return watch.Seen(); }, 1000));
  EXPECT_GE(watch.SeenTick() - before_click, GetDoubleClickTime()) << "opened before a second click could come";
}

// What Wine answers of the commit charge and the programs holding memory,
// read here as the program reads them.
struct WineMemoryUse {
  CommitCharge commit;
  TopMemoryHolders top;
};
WineMemoryUse ReadWineMemoryUse() {
  WineMemoryUse use = {};
  ReadProgramCommit(use.commit);
  ReadProgramMemoryHolders(use.top);
  return use;
}

// Wine cannot read the memory lists: no lists row, and the popup is laid
// out exactly as without it (with the commit charge and the holders, which
// Wine answers).
TEST_F(StatusPopupWithoutLists, HasNoListsRow) {
  CleanState clean = {};
  MemoryLists lists = {};
  ASSERT_FALSE(ReadMemoryLists(clean, lists)) << "this system reads the lists: the check below means nothing";
  const WineMemoryUse use = ReadWineMemoryUse();
  ASSERT_TRUE(use.commit.readable);
  ASSERT_EQ(use.top.count, TOP_MEMORY_HOLDERS);
  StatusState status;
  CreateStatusFonts(status, 96, false, true, TOP_MEMORY_HOLDERS);
  const StatusLayout expected = status.layout;
  DeleteStatusFonts(status);
  ASSERT_FALSE(expected.lists_row);

  ClickIcon();
  HWND popup = WaitForPopup();
  ASSERT_NE(popup, nullptr);
  RECT client = {};
  GetClientRect(popup, &client);
  EXPECT_EQ(client.bottom, expected.client.cy) << "no room made for the row";
  POINT corner = {0, 0};
  ClientToScreen(popup, &corner);
  ASSERT_TRUE(WaitUntil([&] { return ScreenPixel(corner.x + 3, corner.y + 3) == RGB(20, 20, 28); }, 3000));
  // The graph box right under the memory line, where it always was, and
  // nothing of a bar above it.
  const int x = corner.x + 200;
  EXPECT_EQ(ScreenPixel(x, corner.y + expected.box_top), RGB(55, 55, 75)) << "the box's top edge";
  EXPECT_EQ(ScreenPixel(x, corner.y + expected.box_top - 1), RGB(20, 20, 28));
  EXPECT_EQ(ScreenPixel(corner.x + 30, corner.y + expected.box_top + 5), RGB(32, 32, 44)) << "inside the box";
  EXPECT_EQ(ScreenPixel(x, corner.y + expected.separator_y), RGB(55, 55, 75)) << "the separator";
}

// The commit charge and the three programs holding the most memory, from
// the real calls: Wine answers GetPerformanceInfo and lists its own
// processes (services.exe, winedevice.exe, explorer.exe, ...).
TEST_F(StatusPopupWithoutLists, ShowsTheCommitChargeAndTheProgramsHoldingTheMostMemory) {
  const WineMemoryUse use = ReadWineMemoryUse();
  ASSERT_TRUE(use.commit.readable) << "Wine gave no commit charge";
  ASSERT_EQ(use.top.count, TOP_MEMORY_HOLDERS) << "Wine lists fewer than three programs";
  StatusState status;
  CreateStatusFonts(status, 96, false, true, TOP_MEMORY_HOLDERS);
  const StatusLayout layout = status.layout;
  DeleteStatusFonts(status);

  ClickIcon();
  HWND popup = WaitForPopup();
  ASSERT_NE(popup, nullptr);
  RECT client = {};
  GetClientRect(popup, &client);
  EXPECT_EQ(client.bottom, layout.client.cy) << "room for the commit row and three holders";
  POINT corner = {0, 0};
  ClientToScreen(popup, &corner);
  const COLORREF background = RGB(20, 20, 28);
  ASSERT_TRUE(WaitUntil([&] { return ScreenPixel(corner.x + 3, corner.y + 3) == background; }, 3000));
  PixelImage shot = CapturePixels(nullptr, {corner.x, corner.y, corner.x + client.right, corner.y + client.bottom});
  auto count_in_row = [&](int top, int height, COLORREF colour) {
    int count = 0;
    for (int y = top; y < top + height && y < shot.height; ++y)
      for (int x = 0; x < shot.width; ++x) count += shot.At(x, y) == colour;
    return count;
  };
  auto ink_in_row = [&](int top, int height) {
    return shot.width * height - count_in_row(top, height, background);
  };
  // The commit row in its band's colour: green, amber or red as the load.
  const COLORREF bands[] = {RGB(50, 210, 80), RGB(255, 195, 0), RGB(225, 60, 60)};
  EXPECT_GT(count_in_row(layout.commit_y, layout.line_step, bands[CommitLoadBand(use.commit)]), 20)
      << "the commit row at " << use.commit.percent << "%";
  // The heading, and a line of text for each program.
  EXPECT_GT(count_in_row(layout.holders_heading_y, layout.line_step, RGB(230, 230, 240)), 20) << "the heading";
  for (int i = 0; i < TOP_MEMORY_HOLDERS; ++i)
    EXPECT_GT(ink_in_row(layout.first_holder_y + i * layout.line_step, layout.line_step), 20) << "holder " << i;
}

TEST_F(StatusPopupCloses, OnEsc) {
  ClickIcon();
  HWND popup = WaitForPopup();
  ASSERT_NE(popup, nullptr);
  PressKeysInWineWindow("Escape", "^Quillmere$");
  EXPECT_TRUE(WaitUntilGone(popup));
}

TEST_F(StatusPopupCloses, OnAClickOnAnotherWindow) {
  ClickIcon();
  HWND popup = WaitForPopup();
  ASSERT_NE(popup, nullptr);
  HWND other = CreateWindowExW(0, L"STATIC", L"elsewhere", WS_POPUP | WS_VISIBLE | WS_BORDER, 200, 300, 200, 150,
                               nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  WaitPumping([] { return false; }, 300);
  MouseClick({300, 375}, 1);
  EXPECT_TRUE(WaitUntilGone(popup));
  DestroyWindow(other);
}

// The popup's name for screen readers comes through COM, which the program
// loads when the popup first opens and not before.
TEST_F(StatusPopupOpens, LoadsTheComOfItsAccessibleNameAtItsFirstOpeningNotAtStart) {
  ASSERT_TRUE(HasModule(process_.hProcess, L"user32.dll")) << "the program's modules cannot be read";
  EXPECT_FALSE(HasModule(process_.hProcess, L"ole32.dll"));
  EXPECT_FALSE(HasModule(process_.hProcess, L"oleacc.dll"));
  ClickIcon();
  HWND popup = WaitForPopup();
  ASSERT_NE(popup, nullptr);
  // The service's own DLL, loaded by COM for it (Wine has the service, and
  // refuses the name itself).
  EXPECT_TRUE(WaitUntil([&] { return HasModule(process_.hProcess, L"oleacc.dll"); }, 5000));
  EXPECT_TRUE(HasModule(process_.hProcess, L"ole32.dll"));
  wchar_t title[32] = {};
  GetWindowTextW(popup, title, 32);
  EXPECT_STREQ(title, L"Quillmere") << "the title bar keeps its name";
}

// Wine's tray gives its icons no keyboard focus: the test sends the
// program what a Windows notification area sends for Enter on the icon,
// sometimes twice for one press. Enter opens the popup and never closes
// it, however late the next one comes; Esc does.
TEST_F(StatusPopupOpens, FromTheKeyboardAndEnterNeverClosesIt) {
  auto enter = [&] {
    PostMessageW(main_window_, WM_TRAYICON, MAKEWPARAM(icon_.Center().x, icon_.Center().y),
                 MAKELPARAM(NIN_KEYSELECT, TRAY_ICON_ID));
  };
  enter();
  enter();
  HWND popup = WaitForPopup();
  ASSERT_NE(popup, nullptr);
  for (int press = 0; press < 2; ++press) {
    Sleep(GetDoubleClickTime() + 100);
    enter();
    EXPECT_FALSE(WaitUntil([&] { return !IsWindowVisible(popup); }, 1500)) << "Enter " << press << " closed it";
  }
  PressKeysInWineWindow("Escape", "^Quillmere$");
  EXPECT_TRUE(WaitUntilGone(popup));
}

TEST_F(StatusPopupOpens, FromTheStatusWindowMenuItem) {
  ASSERT_TRUE(ClickTrayMenuItem(L"Status Window..."));
  EXPECT_NE(WaitForPopup(), nullptr);
}

// Without an app mode set, light, as Windows starts; switched in the
// registry and announced as Windows' settings do, the open popup follows.
TEST_F(StatusPopupOpens, InLightModeUnlessTheUserChoseDarkAndSwitchesLive) {
  ASSERT_TRUE(SetAppMode(-1));
  ClickIcon();
  HWND popup = WaitForPopup();
  ASSERT_NE(popup, nullptr);
  const StatusPalette light = ChooseStatusPalette(false, {}, true), dark = ChooseStatusPalette(false, {}, false);
  POINT corner = {0, 0};
  ClientToScreen(popup, &corner);
  EXPECT_TRUE(WaitUntil([&] { return ScreenPixel(corner.x + 3, corner.y + 3) == light.background; }, 3000));
  struct Step {
    int mode;
    COLORREF background;
  };
  for (const Step& step : {Step{0, dark.background}, Step{1, light.background}}) {
    ASSERT_TRUE(SetAppMode(step.mode));
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"ImmersiveColorSet"),
                        SMTO_ABORTIFHUNG, 5000, &result);
    EXPECT_TRUE(WaitUntil([&] { return ScreenPixel(corner.x + 3, corner.y + 3) == step.background; }, 3000))
        << "mode " << step.mode;
  }
  EXPECT_EQ(FindStatusPopup(), popup) << "open throughout";
  ASSERT_TRUE(SetAppMode(0));
}

TEST_F(StatusPopupAfterAClean, OpensWhenTheSettingsAsk) {
  ASSERT_TRUE(WriteConfig("[App]\r\nshow_status_on_clean=1\r\n"));
  ASSERT_TRUE(Start());
  EXPECT_EQ(FindStatusPopup(), nullptr);
  PressKeysInWineWindow("ctrl+alt+r");
  EXPECT_TRUE(WaitUntil([] { return FindStatusPopup() != nullptr; }, 10000));
  EXPECT_FALSE(LogLines().empty()) << "opened by the clean";
}
