// The real program applies "start with Windows" at each start: the Run value
// always, and the elevated logon task only for an exe in Program Files; and
// the setting switched on in the settings window.
#include <shlobj.h>
#include <knownfolders.h>

#include "tests/e2e/harness.h"
#include "tests/support.h"
#include "settings/settings_internal.h"

namespace {

bool WriteStartWithWindows(bool on) {
  return WriteConfig(on ? "[App]\r\nstart_with_windows=1\r\n" : "[App]\r\nstart_with_windows=0\r\n");
}

// Ticks "Start with Windows" in the settings window opened from the tray
// menu, and presses OK.
bool SwitchStartWithWindowsOn() {
  if (!ClickTrayMenuItem(L"Settings...")) return false;
  HWND settings = WaitForSettingsWindow();
  if (!settings) return false;
  HWND check_box = GetDlgItem(settings, IDC_START_WITH_WINDOWS);
  RECT box = {};
  GetWindowRect(check_box, &box);
  MouseClick({box.left + 8, (box.top + box.bottom) / 2}, 1);
  if (!WaitUntil([&] { return SendMessageW(check_box, BM_GETCHECK, 0, 0) == BST_CHECKED; }, 5000)) return false;
  MouseClick(CentreOf(GetDlgItem(settings, IDC_OK)), 1);
  return WaitUntil([&] { return !IsWindow(settings); }, 5000);
}

bool NoticeShown() {
  std::wstring text;
  return VisibleBalloonText(text) &&
         text.find(L"elevated only when quillmere.exe is in Program Files") != std::wstring::npos;
}

// The built exe copied to where an installer puts it, removed again.
class InstalledCopy : public QuillmereTest {
 protected:
  void SetUp() override {
    QuillmereTest::SetUp();
    const std::wstring program_files = KnownFolderPath(FOLDERID_ProgramFiles);
    ASSERT_FALSE(program_files.empty()) << "the system names no Program Files folder";
    folder_ = program_files + L"\\Quillmere";
    installed_ = folder_ + L"\\quillmere.exe";
    CreateDirectoryW(folder_.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(ExePath().c_str(), installed_.c_str(), FALSE));
  }
  void TearDown() override {
    QuillmereTest::TearDown();
    DeleteFileW(installed_.c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  std::wstring folder_;
  std::wstring installed_;
};

using RunValueAtStart = QuillmereTest;
using LogonTaskAtStart = InstalledCopy;
using SwitchingStartWithWindowsOn = InstalledCopy;

}  // namespace

TEST_F(RunValueAtStart, FollowsStartWithWindows) {
  ASSERT_TRUE(WriteStartWithWindows(true));
  ASSERT_TRUE(Start());
  EXPECT_EQ(ReadRunValue(), Quoted(ExePath()));
  EXPECT_EQ(Exit(), 0u);

  ASSERT_TRUE(WriteStartWithWindows(false));
  ASSERT_TRUE(Start());
  EXPECT_EQ(ReadRunValue(), L"");
}

TEST_F(LogonTaskAtStart, EachStartWritesOrRemovesTheTaskAndTheRunValue) {
  const std::wstring quoted = Quoted(installed_);

  ASSERT_TRUE(WriteStartWithWindows(true));
  ASSERT_TRUE(Start(installed_));
  EXPECT_EQ(ReadRunValue(), quoted);
  TaskView task = ReadAutostartTask();
  ASSERT_TRUE(task.exists);
  ExpectAutostartTaskSettings(task);
  if (task.reported) {  // Windows; Wine 8 keeps no action or principal
    EXPECT_EQ(task.command, quoted);
    EXPECT_EQ(task.run_level, TASK_RUNLEVEL_HIGHEST);
    EXPECT_EQ(task.trigger_type, TASK_TRIGGER_LOGON);
  }
  EXPECT_EQ(Exit(), 0u);

  ASSERT_TRUE(WriteStartWithWindows(false));
  ASSERT_TRUE(Start(installed_));
  EXPECT_EQ(ReadRunValue(), L"");
  EXPECT_FALSE(ReadAutostartTask().exists);
  EXPECT_EQ(ReadAutostartTask().stored, 0);
  EXPECT_EQ(Exit(), 0u);
}

// Started from the build tree, a folder its user can change, the program
// writes the Run value alone, and the task it registered from Program Files
// goes: the next logon must not start elevated what anyone could put there.
TEST_F(LogonTaskAtStart, AnExeAnyoneCanReplaceGetsNone) {
  ASSERT_TRUE(WriteStartWithWindows(true));
  ASSERT_TRUE(Start(installed_));
  ASSERT_TRUE(ReadAutostartTask().exists);
  EXPECT_EQ(Exit(), 0u);

  ASSERT_TRUE(Start());
  EXPECT_EQ(ReadRunValue(), Quoted(ExePath()));
  EXPECT_FALSE(ReadAutostartTask().exists);
  EXPECT_EQ(ReadAutostartTask().stored, 0);
  EXPECT_EQ(Exit(), 0u);
}

// Switched on from a folder its user can change, the program says once why
// it will not start elevated at logon.
TEST_F(SwitchingStartWithWindowsOn, OutsideProgramFilesSaysWhy) {
  ASSERT_TRUE(WriteStartWithWindows(false));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(SwitchStartWithWindowsOn());
  EXPECT_TRUE(WaitUntil(NoticeShown, 8000)) << "no balloon";
  EXPECT_EQ(ReadRunValue(), Quoted(ExePath()));
  EXPECT_FALSE(ReadAutostartTask().exists);
  EXPECT_EQ(Exit(), 0u);
}

TEST_F(SwitchingStartWithWindowsOn, InProgramFilesRegistersTheTaskWithoutANotice) {
  ASSERT_TRUE(WriteStartWithWindows(false));
  ASSERT_TRUE(Start(installed_));
  ASSERT_TRUE(SwitchStartWithWindowsOn());
  EXPECT_TRUE(WaitUntil([] { return ReadAutostartTask().exists; }, 5000));
  EXPECT_EQ(ReadRunValue(), Quoted(installed_));
  EXPECT_FALSE(WaitUntil(NoticeShown, 4000)) << "a notice for an exe in Program Files";
  EXPECT_EQ(Exit(), 0u);
}
