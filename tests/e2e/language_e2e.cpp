// The real program in the user's language: Wine takes the display language
// from the locale it runs in (LANG/LC_ALL), and config.ini's `language`
// overrides it. The tray menu, the settings window and a balloon show the
// strings of that language's table, and not English ones.
// QUILLMERE_LANGUAGE names the language expected on screen;
// QUILLMERE_LANGUAGE_SETTING, when set, is written as `language` first.
#include <stdio.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "common/language.h"
#include "common/system.h"
#include "settings/settings_internal.h"
#include "tests/e2e/harness.h"
#include "tests/support/in_language.h"
#include "tests/support.h"
#include "tray/tray.h"

namespace {

std::string Variable(const char* name) {
  char text[64] = {};
  GetEnvironmentVariableA(name, text, sizeof text);
  return text;
}

int ExpectedRow() {
  const std::string name = Variable("QUILLMERE_LANGUAGE");
  return FindLanguage(std::wstring(name.begin(), name.end()).c_str());
}

// The defaults but for no automatic clean, and silent mode, where the hot
// key says it started a clean and no "RAM Cleaned" balloon follows; with
// the language setting.
std::string LanguageConfig() {
  std::string config =
      "[Clean]\r\nauto_clean=0\r\nsilent_mode=1\r\n"
      "[App]\r\nstart_with_windows=0\r\nshow_status_on_clean=0\r\n";
  if (!Variable("QUILLMERE_LANGUAGE_SETTING").empty())
    config += "language=" + Variable("QUILLMERE_LANGUAGE_SETTING") + "\r\n";
  return config;
}

struct MenuText {
  UINT command;
  UINT id;
};
const MenuText kMenuTexts[] = {{IDM_CLEAN_NOW, IDS_MENU_CLEAN_NOW}, {IDM_STATUS, IDS_MENU_STATUS},
                               {IDM_TOGGLE_AUTO, IDS_MENU_AUTO_CLEAN}, {IDM_SETTINGS, IDS_MENU_SETTINGS},
                               {IDM_RUN_AS_ADMIN, IDS_MENU_RUN_AS_ADMIN}, {IDM_EXIT, IDS_MENU_EXIT}};

// The pointer where no menu or window of a test lies.
void MovePointerAway() {
  const int x = GetSystemMetrics(SM_CXSCREEN) - 2, y = GetSystemMetrics(SM_CYSCREEN) - 2;
  HostRun("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
}

PixelImage shown_menu;

// Takes the picture of the menu a moment after it waits for input, then
// closes it; a second timer closes it should that moment never come.
LRESULT CALLBACK PictureOwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static HWND popup = nullptr;
  if (message == WM_ENTERIDLE && wParam == MSGF_MENU && !popup) {
    popup = reinterpret_cast<HWND>(lParam);
    SetTimer(window, 2, 500, nullptr);
    return 0;
  }
  if (message == WM_TIMER) {
    if (wParam == 2 && popup) {
      RECT frame = {};
      GetWindowRect(popup, &frame);
      shown_menu = CapturePixels(nullptr, frame);
    }
    popup = nullptr;
    KillTimer(window, 2);
    EndMenu();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The tray menu as it looks with the texts of language `row`'s table: the
// program's menu, built in this process, each item's text replaced by the
// table's, shown here for a moment.
PixelImage MenuPictureIn(int row) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = PictureOwnerProc;
  window_class.lpszClassName = L"QuillmereMenuPicture";
  RegisterClassW(&window_class);
  HWND owner = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                               nullptr);
  HMENU menu = BuildTrayMenu(false, !IsProcessElevated());
  shown_menu = {};
  for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
    for (const MenuText& item : kMenuTexts) {
      if (GetMenuItemID(menu, i) != item.command) continue;
      std::wstring text = StringIn(row, item.id);
      MENUITEMINFOW info = {};
      info.cbSize = sizeof info;
      info.fMask = MIIM_STRING;
      info.dwTypeData = text.data();
      SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
    }
  }
  if (owner && menu) {
    SetTimer(owner, 1, 5000, nullptr);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON, 400, 400, 0, owner, nullptr);
    KillTimer(owner, 1);
  }
  if (menu) DestroyMenu(menu);
  if (owner) DestroyWindow(owner);
  return shown_menu;
}

bool SamePicture(const PixelImage& a, const PixelImage& b) {
  return a.width == b.width && a.height == b.height && a.pixels == b.pixels;
}

std::string Size(const PixelImage& image) {
  return std::to_string(image.width) + " x " + std::to_string(image.height);
}

// The texts of the settings window's children.
std::set<std::wstring> ChildTexts(HWND window) {
  std::set<std::wstring> texts;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t text[256] = {};
    GetWindowTextW(child, text, 256);
    texts.insert(text);
  }
  return texts;
}

// A picture for the README when QUILLMERE_SHOTS names a folder.
void KeepSettingsPicture(HWND settings) {
  RECT area = {};
  GetClientRect(settings, &area);
  MapWindowPoints(settings, nullptr, reinterpret_cast<POINT*>(&area), 2);
  std::string name = "settings-window-" + Variable("QUILLMERE_LANGUAGE");
  if (!Variable("QUILLMERE_LANGUAGE_SETTING").empty()) name += "-setting";
  EXPECT_TRUE(KeepPicture(CapturePixels(nullptr, area), name + ".bmp")) << "the picture was not kept";
}

class InTheUsersLanguage : public QuillmereTest {
 protected:
  void SetUp() override {
    QuillmereTest::SetUp();
    row_ = ExpectedRow();
    ASSERT_GT(row_, 0) << "QUILLMERE_LANGUAGE names no language but English: " << Variable("QUILLMERE_LANGUAGE");
    // Windows' own choice: the language itself, or, where the setting
    // decides, another.
    wchar_t preferred[256];
    ReadPreferredLanguages(preferred, 256);
    const int windows = ChooseLanguage(nullptr, preferred);
    if (Variable("QUILLMERE_LANGUAGE_SETTING").empty()) {
      ASSERT_EQ(windows, row_) << "Wine's display language is " << Narrow(preferred)
                               << ": is the locale in LANG generated (scripts/install-deps.sh)?";
    } else {
      ASSERT_NE(windows, row_) << "Windows' language already is " << Narrow(preferred);
    }
    ASSERT_TRUE(WriteConfig(LanguageConfig()));
    ASSERT_TRUE(Start());
  }
  int row_ = -1;
};

}  // namespace

TEST_F(InTheUsersLanguage, TrayMenuShowsTheLanguagesTexts) {
  MovePointerAway();
  const PixelImage wanted = MenuPictureIn(row_), english = MenuPictureIn(0);
  ASSERT_GT(wanted.width, 0) << "the menu made here did not show";
  ASSERT_FALSE(SamePicture(wanted, english)) << "the language's menu looks like the English one";
  HWND menu = OpenTrayMenu();
  ASSERT_NE(menu, nullptr);
  MovePointerAway();
  PixelImage seen;
  bool same = WaitUntil(
      [&] {
        RECT frame = {};
        GetWindowRect(menu, &frame);
        seen = CapturePixels(nullptr, frame);
        return SamePicture(seen, wanted);
      },
      5000);
  EXPECT_TRUE(same) << "the program's menu (" << Size(seen) << ") is not the one with the texts of "
                    << Narrow(kLanguages[row_].name) << " (" << Size(wanted) << "; English " << Size(english) << ")";
  // Exit, the last item, ends the program from its own menu.
  HMENU copy = BuildTrayMenu(false, !IsProcessElevated());
  const int exit = GetMenuItemCount(copy) - 1;
  DestroyMenu(copy);
  ClickMenuItem(menu, exit);
  EXPECT_EQ(WaitForExitCode(10000), 0u);
}

TEST_F(InTheUsersLanguage, SettingsWindowShowsTheLanguagesTexts) {
  PostMessageW(main_window_, WM_COMMAND, IDM_SETTINGS, 0);
  HWND settings = WaitForSettingsWindow(10000);
  ASSERT_NE(settings, nullptr);
  wchar_t title[256] = {};
  GetWindowTextW(settings, title, 256);
  EXPECT_EQ(Narrow(title), Narrow(StringIn(row_, IDS_SETTINGS_TITLE)));
  EXPECT_NE(Narrow(title), Narrow(StringIn(0, IDS_SETTINGS_TITLE)));
  const std::set<std::wstring> texts = ChildTexts(settings);
  for (UINT id : {IDS_TRIGGERS, IDS_THRESHOLD, IDS_AUTO_CLEAN, IDS_START_WITH_WINDOWS, IDS_CLEAN_STEPS,
                  IDS_EXCLUDE_LIST, IDS_LANGUAGE, IDS_OK, IDS_CANCEL}) {
    const std::wstring text = StringIn(row_, id), english = StringIn(0, id);
    EXPECT_TRUE(texts.count(text)) << "no \"" << Narrow(text) << "\" (string " << id << ")";
    if (text != english) {
      EXPECT_FALSE(texts.count(english)) << "English \"" << Narrow(english) << "\" (string " << id << ")";
    }
  }
  Sleep(500);  // its first paint
  KeepSettingsPicture(settings);
  PostMessageW(settings, WM_COMMAND, IDC_CANCEL, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 8000));
  EXPECT_EQ(Exit(), 0u);
}

TEST_F(InTheUsersLanguage, HotKeyBalloonIsInTheLanguage) {
  const std::wstring wanted = StringIn(row_, IDS_BALLOON_HOT_KEY);
  ASSERT_NE(wanted, StringIn(0, IDS_BALLOON_HOT_KEY));
  PressKeysInWineWindow("ctrl+alt+r");
  std::wstring text;
  EXPECT_TRUE(WaitUntil([&] { return VisibleBalloonText(text) && text == wanted; }, 15000))
      << "the balloon says \"" << Narrow(text) << "\", not \"" << Narrow(wanted) << "\"";
  EXPECT_EQ(Exit(), 0u);
}
