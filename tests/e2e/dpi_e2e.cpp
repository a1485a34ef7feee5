// The real program at one display scale on a screen with a taskbar
// (scripts/dpi-run.sh sets both and names the scale in QUILLMERE_DPI), and
// at the user's text size in QUILLMERE_TEXT_PERCENT (100 unless named): the
// status popup shows its five recent cleans whole inside the work area, and
// every text of the settings window is whole on a window that fits in it,
// OK and Cancel included.
#include "app/app.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/dpi.h"
#include "tests/e2e/harness.h"
#include "settings/settings_internal.h"
#include "status/status_internal.h"
#include "tests/support.h"

namespace {

// Sizes and pixels of the program's windows in real pixels.
const bool dpi_aware = SetProcessDPIAware() != FALSE;

UINT ExpectedDpi() {
  char text[16] = {};
  GetEnvironmentVariableA("QUILLMERE_DPI", text, sizeof text);
  return text[0] ? static_cast<UINT>(atoi(text)) : 96;
}

int TextPercent() {
  char text[16] = {};
  GetEnvironmentVariableA("QUILLMERE_TEXT_PERCENT", text, sizeof text);
  int percent = text[0] ? atoi(text) : 100;
  return percent > 0 ? percent : 100;
}

// The message font's height before the text size was set, at this scale.
LONG base_message_height = 0;

// The user's text size, as Windows' setting enlarges the message font: set
// in the prefix's registry once, before the program starts, which reads it.
bool SetTextSize() {
  static bool done = false;
  if (done) return true;
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return false;
  base_message_height = metrics.lfMessageFont.lfHeight;
  if (TextPercent() != 100) {
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, TextPercent(), 100);
    if (!SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof metrics, &metrics, SPIF_UPDATEINIFILE)) return false;
  }
  done = true;
  return true;
}

// The user's app mode, dark unless QUILLMERE_APP_MODE says "light": in the
// prefix's registry before the program starts.
bool SetAppMode() {
  char mode[16] = {};
  GetEnvironmentVariableA("QUILLMERE_APP_MODE", mode, sizeof mode);
  DWORD light = strcmp(mode, "light") == 0 ? 1 : 0;
  return RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                         L"AppsUseLightTheme", REG_DWORD, &light, sizeof light) == ERROR_SUCCESS;
}

// Keeps a picture of the window (or of its client area only) for the README
// when QUILLMERE_SHOTS names a folder, named after it and the scale.
void KeepWindowPicture(HWND window, const char* name, bool client_only) {
  RECT frame = {};
  GetWindowRect(window, &frame);
  if (client_only) {
    GetClientRect(window, &frame);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&frame), 2);
  }
  char file_name[64];
  char mode[16] = {};
  GetEnvironmentVariableA("QUILLMERE_APP_MODE", mode, sizeof mode);
  const char* light = strcmp(mode, "light") == 0 ? "-light" : "";
  if (TextPercent() == 100) snprintf(file_name, sizeof file_name, "%s-%u%s.bmp", name, ExpectedDpi(), light);
  else snprintf(file_name, sizeof file_name, "%s-%u-text%d%s.bmp", name, ExpectedDpi(), TextPercent(), light);
  KeepPicture(CapturePixels(nullptr, frame), file_name);
}

// Runs of rows with anything but the background in columns [left, right).
std::vector<std::pair<int, int>> TextBands(const PixelImage& c, int top, int bottom, int left, int right,
                                           COLORREF background) {
  std::vector<std::pair<int, int>> bands;
  bool inside = false;
  for (int y = top; y < bottom; ++y) {
    bool ink = false;
    for (int x = left; x < right && !ink; ++x) ink = c.At(x, y) != background;
    if (ink && !inside) bands.push_back({y, y + 1});
    if (ink) bands.back().second = y + 1;
    inside = ink;
  }
  return bands;
}

std::string Describe(const RECT& r) {
  char text[64];
  snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld)", r.left, r.top, r.right, r.bottom);
  return text;
}

class AtTheDisplayScale : public QuillmereTest {
 protected:
  void SetUp() override {
    QuillmereTest::SetUp();
    ASSERT_TRUE(dpi_aware);
    HDC screen = GetDC(nullptr);
    UINT dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(dpi, ExpectedDpi()) << "the prefix did not take the scale";
    // A taskbar of 48 pixels at 100 % along the bottom.
    RECT work = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const RECT expected = {0, 0, GetSystemMetrics(SM_CXSCREEN),
                           GetSystemMetrics(SM_CYSCREEN) - MulDiv(48, static_cast<int>(dpi), 96)};
    ASSERT_TRUE(EqualRect(&work, &expected)) << "work area " << Describe(work) << ", not " << Describe(expected);
    ASSERT_TRUE(SetTextSize());
    ASSERT_TRUE(SetAppMode());
    ASSERT_TRUE(Start());
  }
};

using ScaledStatusPopup = AtTheDisplayScale;
using ScaledSettingsWindow = AtTheDisplayScale;

}  // namespace

TEST_F(ScaledStatusPopup, ShowsFiveCleansWholeInsideTheWorkArea) {
  for (int i = 0; i < 5; ++i) {
    PostMessageW(main_window_, WM_COMMAND, IDM_CLEAN_NOW, 0);
    ASSERT_TRUE(WaitUntil([&] { return LogLines().size() == i + 1u; }, 10000)) << "clean " << i + 1;
  }
  PostMessageW(main_window_, WM_COMMAND, IDM_STATUS, 0);
  HWND popup = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (popup = FindStatusPopup()) != nullptr; }, 10000));
  RECT frame = {}, client = {}, work = {};
  GetWindowRect(popup, &frame);
  GetClientRect(popup, &client);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_TRUE(Inside(frame, work)) << Describe(frame) << " outside the work area " << Describe(work);
  // As wide as the popup's fonts at this scale, made here alike, need; at
  // the least the 454 pixels of 100 %, scaled.
  StatusState fonts;
  CreateStatusFonts(fonts, ExpectedDpi(), false);
  EXPECT_EQ(client.right, fonts.layout.client.cx);
  DeleteStatusFonts(fonts);
  EXPECT_GE(client.right, MulDiv(454, ExpectedDpi(), 96));

  POINT origin = {0, 0};
  ClientToScreen(popup, &origin);
  // In the palette of the prefix's app mode (QUILLMERE_APP_MODE).
  const StatusPalette palette = ChooseStatusPalette(false, {}, ReadAppsUseLightTheme());
  const COLORREF background = palette.background, line = palette.box_line;
  // Painted once the heading of the list is on the screen.
  PixelImage shot;
  ASSERT_TRUE(WaitUntil(
      [&] {
        shot = CapturePixels(nullptr, {origin.x, origin.y, origin.x + client.right, origin.y + client.bottom});
        return shot.width > 0 && shot.At(2, 2) == background && shot.At(2, shot.height - 2) == background;
      },
      5000));
  // Rows drawn right across in the outline colour: the graph box's top and
  // bottom, the separator over the cleans, and the one over the programs
  // holding the most memory (Wine lists enough of its own). At a load of 0
  // or 1 % the graph's line lies on the box's bottom row, so only the top
  // and the separators are sure to be there. A rule thicker than a pixel is
  // one rule: the last row of each run counts, and a text band ends two
  // pixels (scaled) above it, where a thick pen's first row may lie.
  // Looked for in the middle half, whose width is odd at 175 %.
  std::vector<int> ruled;
  const int from = shot.width / 4, to = shot.width * 3 / 4;
  for (int y = 0; y < shot.height; ++y) {
    int count = 0;
    for (int x = from; x < to; ++x) count += shot.At(x, y) == line;
    if (count != to - from) continue;
    if (!ruled.empty() && ruled.back() == y - 1) ruled.back() = y;
    else ruled.push_back(y);
  }
  ASSERT_GE(ruled.size(), 3u);
  const int separator = ruled[ruled.size() - 2], holders_separator = ruled.back();
  const int rule = MulDiv(2, ExpectedDpi(), 96);
  // Heading and five lines, each with background under it.
  auto list = TextBands(shot, separator + 1, holders_separator - rule, 0, shot.width, background);
  EXPECT_EQ(list.size(), 6u) << "the heading and five clean lines";
  // The holders' heading and three programs, the last inside.
  auto holders = TextBands(shot, holders_separator + 1, shot.height, 0, shot.width, background);
  EXPECT_EQ(holders.size(), 4u) << "the holders' heading and three programs";
  if (!holders.empty()) {
    EXPECT_LT(holders.back().second, shot.height - 1) << "the last program ends inside";
  }
  // The load figure, the used line and the commit line apart.
  auto top = TextBands(shot, 0, ruled.front() - rule, 0, shot.width / 2, background);
  EXPECT_EQ(top.size(), 3u) << "the load figure, the used line and the commit line run together";
  // No text runs out at the right edge, as a cut line would: the strip
  // right of the badge is background from top to bottom.
  const int strip = MulDiv(16, ExpectedDpi(), 96);
  int ink = 0;
  for (int y = 0; y < shot.height; ++y)
    for (int x = shot.width - strip; x < shot.width; ++x) ink += shot.At(x, y) != background;
  EXPECT_EQ(ink, 0) << "text at the right edge";
  KeepWindowPicture(popup, "status-popup", false);
}

TEST_F(ScaledSettingsWindow, ShowsEveryTextWholeAndFitsOnTheScreen) {
  PostMessageW(main_window_, WM_COMMAND, IDM_SETTINGS, 0);
  HWND settings = WaitForSettingsWindow(10000);
  ASSERT_NE(settings, nullptr);
  Sleep(500);  // its first paint
  const UINT dpi = ExpectedDpi();
  RECT frame = {}, client = {}, work = {};
  GetWindowRect(settings, &frame);
  GetClientRect(settings, &client);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_TRUE(Inside(frame, work)) << Describe(frame) << " outside the work area " << Describe(work);
  RECT buttons = {};
  GetWindowRect(GetDlgItem(settings, IDC_CANCEL), &buttons);
  EXPECT_TRUE(Inside(buttons, work)) << "Cancel at " << Describe(buttons);

  // The window's font, made here alike: the message font at this scale, as
  // large as the text size makes it; the window holds the whole layout in it.
  LOGFONTW message = {};
  ASSERT_TRUE(MessageFontForDpi(message, dpi));
  // The registry keeps the height at 96 DPI: a pixel there may round to
  // as much as a scaled pixel here.
  EXPECT_NEAR(message.lfHeight, MulDiv(base_message_height, TextPercent(), 100), MulDiv(1, dpi, 96))
      << "the text size";
  LOGFONTW wanted = SettingsLogFont(&message, dpi);
  HFONT font = CreateFontIndirectW(&wanted);
  SettingsLayout layout = LayOutSettings(dpi, MeasureSettingsText(nullptr, font, dpi));
  EXPECT_EQ(client.right, layout.client.cx);
  EXPECT_EQ(client.bottom, layout.client.cy);
  HDC dc = GetDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, font);
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc, &metrics);
  int texts = 0;
  for (HWND child = GetWindow(settings, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[16] = {}, text[128] = {};
    GetClassNameW(child, name, 16);
    GetWindowTextW(child, text, 128);
    RECT at = {};
    GetWindowRect(child, &at);
    MapWindowPoints(nullptr, settings, reinterpret_cast<POINT*>(&at), 2);
    EXPECT_TRUE(Inside(at, client)) << Narrow(text) << " " << Describe(at);
    if (!text[0] || _wcsicmp(name, L"EDIT") == 0) continue;
    ++texts;
    // As drawn: an access key's ampersand takes no room.
    RECT drawn = {};
    DrawTextW(dc, text, -1, &drawn, DT_CALCRECT | DT_SINGLELINE);
    SIZE extent = {drawn.right, drawn.bottom};
    bool check = _wcsicmp(name, L"BUTTON") == 0 &&
                 (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX;
    int glyph = check ? MulDiv(13, dpi, 96) : 0;
    EXPECT_GE(at.right - at.left, extent.cx + glyph) << Narrow(text);
    EXPECT_GE(at.bottom - at.top, metrics.tmHeight) << Narrow(text);
  }
  EXPECT_EQ(texts, 28) << "every label, check box and button";
  SelectObject(dc, previous);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  // Wine leaves this window's frame unpainted on a display without a window
  // manager: its client area only.
  KeepWindowPicture(settings, "settings-window", true);
  PostMessageW(settings, WM_COMMAND, IDC_CANCEL, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 8000));
}
