// The real program applies "start with Windows" at each start: the Run value
// for an exe that no other account can change, the elevated logon task only
// for one that only administrators can; and the setting switched on in the
// settings window. Wine reports every file and folder as its user's, so
// there no copy gets the task, not even one in Program Files: these tests
// show that answer, and that a task of ours left from before goes. Wine
// does show another account's rights where Unix gives them: /tmp, which
// everyone may write, is Everyone's to change, and a copy below it gets
// neither entry. (On Windows, a copy an administrator installed in Program
// Files gets the task; the unit tests show that decision with owners and
// permissions played.)
#include <aclapi.h>
#include <sddl.h>
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

bool BalloonShown(const wchar_t* part) {
  std::wstring text;
  return VisibleBalloonText(text) && text.find(part) != std::wstring::npos;
}

bool NoticeShown() {
  return BalloonShown(L"elevated only when quillmere.exe and its folders can be changed by administrators alone");
}

bool NotTrustedNoticeShown() {
  return BalloonShown(L"Start with Windows starts Quillmere only when quillmere.exe and its folders can be changed "
                      L"by you and administrators alone");
}

// Whether Everyone may delete what is in the folder, as Wine shows a Unix
// folder that every user may write.
bool EveryoneMayEmpty(const std::wstring& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  bool may = false;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        IsWellKnownSid(&ace->SidStart, WinWorldSid) && (ace->Mask & FILE_DELETE_CHILD))
      may = true;
  }
  LocalFree(descriptor);
  return may;
}

// Whether this process's user owns the file, as Wine makes them own every
// file: their unelevated token may then change its permissions.
bool UserOwns(const std::wstring& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  wchar_t sid[SID_TEXT_CAPACITY];
  PSID user = nullptr;
  bool owns = GetProcessUserSid(sid) && ConvertStringSidToSidW(sid, &user) && EqualSid(owner, user);
  if (user) LocalFree(user);
  LocalFree(descriptor);
  return owns;
}

// A logon task of this user's for `exe`, as a start from another place or
// with other permissions would have left it.
bool LeaveTaskFor(const std::wstring& exe) {
  wchar_t sid[SID_TEXT_CAPACITY];
  wchar_t xml[TASK_XML_CAPACITY];
  return GetProcessUserSid(sid) && BuildTaskXml(xml, sid, Quoted(exe).c_str()) &&
         RegisterAutostartTask(UserTaskName(), xml) && ReadAutostartTask().exists;
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

// The built exe also copied below /tmp (Z:\tmp), which every account may
// change, removed again.
class CopyEveryoneCanReplace : public InstalledCopy {
 protected:
  void SetUp() override {
    InstalledCopy::SetUp();
    ASSERT_TRUE(EveryoneMayEmpty(L"Z:\\tmp")) << "Wine shows /tmp as Everyone's to change";
    shared_folder_ = L"Z:\\tmp\\quillmere-e2e-" + std::to_wstring(GetCurrentProcessId());
    shared_ = shared_folder_ + L"\\quillmere.exe";
    CreateDirectoryW(shared_folder_.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(ExePath().c_str(), shared_.c_str(), FALSE));
  }
  void TearDown() override {
    InstalledCopy::TearDown();
    DeleteFileW(shared_.c_str());
    RemoveDirectoryW(shared_folder_.c_str());
  }
  std::wstring shared_folder_;
  std::wstring shared_;
};

using RunValueAtStart = InstalledCopy;
using LogonTaskAtStart = CopyEveryoneCanReplace;
using SwitchingStartWithWindowsOn = CopyEveryoneCanReplace;

}  // namespace

TEST_F(RunValueAtStart, FollowsStartWithWindows) {
  ASSERT_TRUE(WriteStartWithWindows(true));
  ASSERT_TRUE(Start(installed_));
  EXPECT_EQ(ReadRunValue(), Quoted(installed_));
  EXPECT_EQ(Exit(), 0u);

  ASSERT_TRUE(WriteStartWithWindows(false));
  ASSERT_TRUE(Start(installed_));
  EXPECT_EQ(ReadRunValue(), L"");
}

// An installed copy gets the Run value; under Wine, where its user owns it,
// no task, and one of ours left from before goes; switched off, both go.
TEST_F(LogonTaskAtStart, EachStartWritesTheRunValueAndRemovesATaskTheUserCouldSteer) {
  const std::wstring quoted = Quoted(installed_);
  ASSERT_TRUE(UserOwns(installed_)) << "Wine makes every file its user's";

  ASSERT_TRUE(LeaveTaskFor(installed_));
  ASSERT_TRUE(WriteStartWithWindows(true));
  ASSERT_TRUE(Start(installed_));
  EXPECT_EQ(ReadRunValue(), quoted);
  EXPECT_FALSE(ReadAutostartTask().exists);
  EXPECT_EQ(ReadAutostartTask().stored, 0);
  EXPECT_EQ(Exit(), 0u);

  ASSERT_TRUE(LeaveTaskFor(installed_));
  ASSERT_TRUE(WriteStartWithWindows(false));
  ASSERT_TRUE(Start(installed_));
  EXPECT_EQ(ReadRunValue(), L"");
  EXPECT_FALSE(ReadAutostartTask().exists);
  EXPECT_EQ(ReadAutostartTask().stored, 0);
  EXPECT_EQ(Exit(), 0u);
}

// Started from below a folder every account may change, the program writes
// neither entry, and the Run value and the task left from the installed
// copy go: the next logon must not start, as this user, what anyone could
// put there.
TEST_F(LogonTaskAtStart, AnExeAnyoneCanReplaceGetsNone) {
  ASSERT_TRUE(WriteStartWithWindows(true));
  ASSERT_TRUE(Start(installed_));
  ASSERT_EQ(ReadRunValue(), Quoted(installed_));
  EXPECT_EQ(Exit(), 0u);
  ASSERT_TRUE(LeaveTaskFor(installed_));

  ASSERT_TRUE(Start(shared_));
  EXPECT_EQ(ReadRunValue(), L"");
  EXPECT_FALSE(ReadAutostartTask().exists);
  EXPECT_EQ(ReadAutostartTask().stored, 0);
  EXPECT_EQ(Exit(), 0u);
}

// Switched on for a copy that every account may change, the program says
// once why it will not start at logon at all.
TEST_F(SwitchingStartWithWindowsOn, BelowAFolderEveryoneMayChangeSaysWhy) {
  ASSERT_TRUE(WriteStartWithWindows(false));
  ASSERT_TRUE(Start(shared_));
  ASSERT_TRUE(SwitchStartWithWindowsOn());
  EXPECT_TRUE(WaitUntil(NotTrustedNoticeShown, 8000)) << "no balloon";
  EXPECT_EQ(ReadRunValue(), L"");
  EXPECT_FALSE(ReadAutostartTask().exists);
  EXPECT_EQ(Exit(), 0u);
}

// Under Wine even the copy in Program Files is its user's: it gets the Run
// value, and the notice that says why there is no task.
TEST_F(SwitchingStartWithWindowsOn, InProgramFilesUnderWineSaysWhyToo) {
  ASSERT_TRUE(UserOwns(installed_)) << "Wine makes every file its user's";
  ASSERT_TRUE(WriteStartWithWindows(false));
  ASSERT_TRUE(Start(installed_));
  ASSERT_TRUE(SwitchStartWithWindowsOn());
  EXPECT_TRUE(WaitUntil(NoticeShown, 8000)) << "no balloon";
  EXPECT_EQ(ReadRunValue(), Quoted(installed_));
  EXPECT_FALSE(ReadAutostartTask().exists);
  EXPECT_EQ(Exit(), 0u);
}
