// Hostile config.ini files: the program starts, shows its icon, saves every
// key readably on the next change, and exits with 0 — whatever the file held.
#include <stdio.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "status/status_internal.h"
#include "tests/e2e/harness.h"
#include "tests/robustness/hostile_config.h"
#include "tests/support.h"

namespace {

struct Key {
  const wchar_t* section;
  const wchar_t* key;
  int default_value;
  bool flag;
};
const Key kIntegerKeys[] = {
    {L"Clean", L"threshold_percent", 80, false}, {L"Clean", L"interval_minutes", 30, false},
    {L"Clean", L"on_idle_minutes", 5, false},    {L"Clean", L"on_boot_delay", 60, false},
    {L"Clean", L"silent_mode", 0, true},         {L"Clean", L"auto_clean", 1, true},
    {L"Clean", L"clean_hour", -1, false},        {L"Clean", L"clean_minute", 0, false},
    {L"Clean", L"notify_min_mb", 10, false},     {L"App", L"start_with_windows", 0, true},
    {L"App", L"show_status_on_clean", 0, true},  {L"Clean", L"free_below_mb", 0, false},
    {L"Clean", L"trim_working_sets", 1, true},   {L"Clean", L"flush_modified", 1, true},
    {L"Clean", L"purge_standby", 1, false},      {L"Clean", L"flush_file_cache", 1, true},
    {L"Clean", L"commit_warn_percent", 90, false}, {L"Clean", L"keep_foreground", 1, true},
    {L"Clean", L"hold_when_busy", 1, true},
};
constexpr int kIntegerKeyCount = sizeof kIntegerKeys / sizeof kIntegerKeys[0];

// What the program will load from the file: the same profile calls it makes.
struct Loaded {
  int values[kIntegerKeyCount];
  wchar_t exclude_list[256];
};

Loaded ReadAsTheProgramDoes(const std::wstring& path) {
  Loaded loaded = {};
  for (int i = 0; i < kIntegerKeyCount; ++i) {
    const Key& k = kIntegerKeys[i];
    int value = static_cast<int>(GetPrivateProfileIntW(k.section, k.key, k.default_value, path.c_str()));
    loaded.values[i] = k.flag ? value != 0 : value;
    // 0 none, 2 the low-priority part, anything else the whole list.
    if (wcscmp(k.key, L"purge_standby") == 0) loaded.values[i] = StandbyPurgeOf(value);
  }
  GetPrivateProfileStringW(L"Clean", L"exclude_list", L"", loaded.exclude_list, 256, path.c_str());
  return loaded;
}

bool IsDecimal(const wchar_t* text) {
  if (*text == L'-') ++text;
  if (!*text) return false;
  for (; *text; ++text)
    if (*text < L'0' || *text > L'9') return false;
  return true;
}

class HostileConfigFile : public QuillmereTest {
 protected:
  std::wstring config_ = AppFile(L"config.ini");

  // Starts on the file, makes one save (the tray's Auto-clean toggle), checks
  // that every key was written back as loaded, and exits.
  void Survive(const std::string& bytes, const std::string& what) {
    SCOPED_TRACE(what);
    DeleteAppFolder();
    ASSERT_TRUE(WriteConfig(bytes));
    Loaded loaded = ReadAsTheProgramDoes(config_);

    ASSERT_TRUE(Start()) << "no tray icon";
    SendMessageW(main_window_, WM_COMMAND, IDM_TOGGLE_AUTO, 0);
    for (int i = 0; i < kIntegerKeyCount; ++i) {
      const Key& k = kIntegerKeys[i];
      wchar_t text[64] = {};
      GetPrivateProfileStringW(k.section, k.key, L"<missing>", text, 64, config_.c_str());
      ASSERT_TRUE(IsDecimal(text)) << Narrow(k.key) << " reads back as '" << Narrow(text) << "'";
      int expected = k.key == std::wstring(L"auto_clean") ? !loaded.values[i] : loaded.values[i];
      ASSERT_EQ(_wtoi(text), expected) << Narrow(k.key);
    }
    wchar_t list[256] = {};
    GetPrivateProfileStringW(L"Clean", L"exclude_list", L"<missing>", list, 256, config_.c_str());
    ASSERT_EQ(std::wstring(list), std::wstring(loaded.exclude_list));
    ASSERT_EQ(Exit(), 0u);
  }
};

}  // namespace

TEST_F(HostileConfigFile, FiveHundredGeneratedFiles) {
  const uint32_t seed = 20261210;
  for (int index = 0; index < 506; ++index) {
    char what[96];
    snprintf(what, sizeof what, "generated file %d (%s, seed %u)", index, HostileConfigKind(index), seed);
    Survive(HostileConfig(index, seed), what);
    if (HasFatalFailure()) return;
  }
}

TEST_F(HostileConfigFile, FixedSample) {
  char dir[1024] = {};
  GetEnvironmentVariableA("QUILLMERE_SAMPLES", dir, sizeof dir);
  std::wstring samples = L"Z:";
  for (const char* p = dir; *p; ++p) samples += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((samples + L"\\*.ini").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE) << "no sample files in " << dir;
  int files = 0;
  do {
    Survive(ReadFileBytes(samples + L"\\" + found.cFileName), Narrow(found.cFileName));
    ++files;
  } while (!HasFatalFailure() && FindNextFileW(search, &found));
  FindClose(search);
  EXPECT_GT(files, 0);
}

TEST_F(HostileConfigFile, FiveMegabyteFile) { Survive(LargeConfig(5u * 1024u * 1024u, 7), "5 MB file"); }

TEST_F(HostileConfigFile, DirectoryNamedConfigIni) {
  CreateDirectoryW(AppFolder().c_str(), nullptr);
  ASSERT_TRUE(CreateDirectoryW(config_.c_str(), nullptr));
  ASSERT_TRUE(Start());
  SendMessageW(main_window_, WM_COMMAND, IDM_TOGGLE_AUTO, 0);
  EXPECT_TRUE(GetFileAttributesW(config_.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Exit(), 0u);
}

// Windows refuses writes to a read-only file; Wine running as root does not.
// Either way the file is left whole: as it was, or with every key saved.
TEST_F(HostileConfigFile, ReadOnlyFileIsLeftWhole) {
  const std::string text = "[Clean]\r\nthreshold_percent=55\r\n";
  ASSERT_TRUE(WriteConfig(text));
  SetFileAttributesW(config_.c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(Start());
  SendMessageW(main_window_, WM_COMMAND, IDM_TOGGLE_AUTO, 0);
  std::string after = ReadFileBytes(config_);
  if (after != text) {
    EXPECT_EQ(GetPrivateProfileIntW(L"Clean", L"threshold_percent", 0, config_.c_str()), 55u);
    EXPECT_EQ(GetPrivateProfileIntW(L"Clean", L"auto_clean", 9, config_.c_str()), 0u);
    EXPECT_EQ(GetPrivateProfileIntW(L"App", L"show_status_on_clean", 9, config_.c_str()), 0u);
  }
  EXPECT_EQ(Exit(), 0u);
  SetFileAttributesW(config_.c_str(), FILE_ATTRIBUTE_NORMAL);
}

namespace {

// clean.log in trouble: read-only, held open for writing by another program,
// replaced by a folder, or with the whole program folder gone.
enum LogTrouble { LOG_READ_ONLY, LOG_LOCKED, LOG_IS_A_FOLDER, FOLDER_MISSING };

class CleanLogTrouble : public QuillmereTest, public ::testing::WithParamInterface<LogTrouble> {
 protected:
  void TearDown() override {
    if (locked_ != INVALID_HANDLE_VALUE) CloseHandle(locked_);
    SetFileAttributesW(log_.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(log_.c_str());
    QuillmereTest::TearDown();
  }

  // The popup's list of recent cleans as it stands on the screen: opened,
  // read and closed again through the program's own command.
  std::vector<COLORREF> RecentCleansOnScreen() {
    PostMessageW(main_window_, WM_COMMAND, IDM_STATUS, 0);
    HWND popup = nullptr;
    if (!WaitUntil([&] { return (popup = FindStatusPopup()) != nullptr; }, 5000)) return {};
    Sleep(300);  // painted
    POINT origin = {0, 0};
    ClientToScreen(popup, &origin);
    // Where the first clean line goes: under the commit row Wine answers.
    StatusState fonts;
    CreateStatusFonts(fonts, 96, false, true);
    const int first = fonts.layout.first_clean_y, step = fonts.layout.line_step;
    DeleteStatusFonts(fonts);
    PixelImage list =
        CapturePixels(nullptr, {origin.x + 20, origin.y + first, origin.x + 300, origin.y + first + step + 1});
    std::vector<COLORREF> pixels;
    for (int y = 0; y < list.height; y += 2)
      for (int x = 0; x < list.width; x += 2) pixels.push_back(list.At(x, y));
    PostMessageW(main_window_, WM_COMMAND, IDM_STATUS, 0);
    WaitUntil([&] { return !IsWindow(popup); }, 8000);
    return pixels;
  }

  std::wstring log_ = AppFile(L"clean.log");
  HANDLE locked_ = INVALID_HANDLE_VALUE;
};

}  // namespace

TEST_P(CleanLogTrouble, CleanCompletesWithItsBalloonAndHistoryAndTheProgramRunsOn) {
  // No automatic cleans; a balloon for every clean.
  ASSERT_TRUE(WriteConfig("[Clean]\r\nauto_clean=0\r\nnotify_min_mb=0\r\n"));
  const std::string old_log = "2026-01-01 00:00:00  Freed 1 MB  (1 processes)\r\n";
  switch (GetParam()) {
    case LOG_READ_ONLY:
      ASSERT_TRUE(WriteFileBytes(log_, old_log));
      SetFileAttributesW(log_.c_str(), FILE_ATTRIBUTE_READONLY);
      break;
    case LOG_LOCKED:
      ASSERT_TRUE(WriteFileBytes(log_, old_log));
      locked_ = CreateFileW(log_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(locked_, INVALID_HANDLE_VALUE);
      break;
    case LOG_IS_A_FOLDER:
      ASSERT_TRUE(CreateDirectoryW(log_.c_str(), nullptr));
      break;
    case FOLDER_MISSING:
      break;  // removed once the program has read its settings
  }
  ASSERT_TRUE(Start());
  if (GetParam() == FOLDER_MISSING) DeleteAppFolder();
  std::vector<COLORREF> before = RecentCleansOnScreen();
  ASSERT_FALSE(before.empty());

  PostMessageW(main_window_, WM_COMMAND, IDM_CLEAN_NOW, 0);
  std::wstring text;
  EXPECT_TRUE(WaitUntil([&] { return VisibleBalloonText(text); }, 8000)) << "the RAM Cleaned balloon";
  EXPECT_EQ(text.rfind(L"Freed ", 0), 0u) << Narrow(text);
  EXPECT_NE(text.find(L" processes trimmed)"), std::wstring::npos) << Narrow(text);
  EXPECT_TRUE(Running());
  EXPECT_NE(RecentCleansOnScreen(), before) << "the clean is listed among the recent cleans";

  switch (GetParam()) {
    case LOG_READ_ONLY:  // Wine lets root write a read-only file; Windows does not
      EXPECT_EQ(ReadFileBytes(log_).rfind(old_log, 0), 0u) << "the old lines stay";
      break;
    case LOG_LOCKED:
      EXPECT_EQ(ReadFileBytes(log_), old_log);
      break;
    case LOG_IS_A_FOLDER:
      EXPECT_TRUE(GetFileAttributesW(log_.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
      break;
    case FOLDER_MISSING:
      EXPECT_EQ(GetFileAttributesW(AppFolder().c_str()), INVALID_FILE_ATTRIBUTES) << "no folder made for the log";
      break;
  }
  EXPECT_EQ(Exit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Log, CleanLogTrouble,
                         ::testing::Values(LOG_READ_ONLY, LOG_LOCKED, LOG_IS_A_FOLDER, FOLDER_MISSING));
