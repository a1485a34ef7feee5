// Start at logon as tests play it: the accounts, the descriptors Windows
// gives the exe's files and folders, the system the trust judgement asks
// (ExeAccessPlatform) and a Task Scheduler in memory.
#pragma once

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_internal.h"

// Ann runs Quillmere; Bob is another account of the machine.
extern const wchar_t kAnn[];
extern const wchar_t kBob[];
extern const wchar_t kTrustedInstaller[];

// A SID from its text, kept for the test.
struct Sid {
  SidBuffer buffer = {};
  explicit Sid(const std::wstring& text);
  PSID get() { return buffer.bytes; }
};

// Descriptors as Windows 10 gives them: Program Files itself
// (TrustedInstaller's), a folder an installer made in it and the exe it put
// there, the drive's root, a folder of a user's own profile (and a file in
// it), and a folder made in the root by anyone.
extern const std::wstring kProgramFilesSddl;
extern const std::wstring kInstalledFolderSddl;
extern const std::wstring kInstalledExeSddl;
extern const std::wstring kDriveRootSddl;
std::wstring OwnSddl(const wchar_t* user);
extern const std::wstring kSharedToolsSddl;

// The system as a test plays it: each path's descriptor as SDDL (for any
// path not listed, an installer's below Program Files: the root's, Program
// Files' for the topmost folder, an installed folder's, an installed exe's), paths that cannot be read, the
// kind of drive, the disk's bus, the desktop's user, and every question.
struct PlayedExeAccess {
  std::map<std::wstring, std::wstring> sddl;
  std::wstring fallback;  // for the paths not listed; empty: an installer's
  std::set<std::wstring> unreadable;
  UINT drive_type = DRIVE_FIXED;
  std::wstring drive_asked;
  bool bus_read = true;
  STORAGE_BUS_TYPE bus = BusTypeSata;
  bool removable_media = false;
  std::wstring volume_asked;
  ShellUser shell = SHELL_USER_READ;
  std::wstring shell_sid;  // empty: this process's user
  struct Question {
    std::wstring path;
    bool folder;
  };
  std::vector<Question> asked;
};
extern PlayedExeAccess played_exe_access;
// The trust rule's questions alone, and with the desktop's user.
extern const ExeTrustPlatform kPlayedExeTrust;
extern const ExeAccessPlatform kPlayedExeAccess;

// A Task Scheduler in memory: the tasks by name with the SID of their
// principal ("" when the scheduler keeps none, as Wine's) and the security
// descriptor they were registered with, and every call.
struct FakeScheduler {
  struct Task {
    std::wstring xml;
    std::wstring owner;
    std::wstring sddl;
  };
  std::map<std::wstring, Task> tasks;
  std::wstring registering_user;  // the SID the next registration runs as
  bool reachable = true;
  int opened = 0;
  int closed = 0;
  std::vector<std::wstring> deleted;  // names asked for, present or not
  bool Has(const std::wstring& name) const { return tasks.count(name) != 0; }
};
extern FakeScheduler fake_scheduler;
// Its store cannot be looked into: every change goes to the scheduler.
extern const TaskScheduler kFakeScheduler;
// Its store tells what it holds, as System32\Tasks does for an elevated
// process.
extern const TaskScheduler kFakeSchedulerWithStore;

// This process's user as a SID.
struct ProcessUser : Sid {
  ProcessUser() : Sid(L"") {
    wchar_t text[SID_TEXT_CAPACITY];
    if (GetProcessUserSid(text)) *static_cast<Sid*>(this) = Sid(text);
  }
};

// The quoted command of an installed copy, and a Run value that stands for
// one left from before.
extern const wchar_t kInstalledCommand[];
extern const wchar_t kRunMarker[];
void WriteRunMarker();

// Each test starts and ends with neither the Run value nor a logon task of
// this user's, and has this user's SID and the XML of a task that starts an
// installed copy. The system is played as on Windows for a copy in a folder
// of the user's own, on a SATA disk, on their own desktop.
class LogonEntries : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // SetAutostart through the seams below.
  AutostartResult Autostart(bool enable) { return SetAutostart(enable, *task_scheduler_, *exe_access_, accounts_); }
  const TaskScheduler* task_scheduler_ = &kSystemTaskScheduler;
  const ExeAccessPlatform* exe_access_ = &kPlayedExeAccess;
  AutostartAccounts accounts_ = {};
  wchar_t sid_[SID_TEXT_CAPACITY] = {};
  wchar_t xml_[TASK_XML_CAPACITY] = {};
};
