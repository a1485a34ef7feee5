// The release's installer and uninstaller, run as a user and Windows run
// them: a silent install, the installed program starting, an upgrade while
// it runs, the removal with what it takes and what it keeps, the wizards
// clicked through, and the refusals.
#include <shlobj.h>
#include <knownfolders.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <stdlib.h>

#include <map>

#include "tests/e2e/harness.h"
#include "tests/support.h"
#include "version.h"

namespace {

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmere";
const wchar_t kUninstallRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// The version of project(), and the one the older installer was built with.
const wchar_t kVersion[] = L"" QUILLMERE_VERSION_TEXT;
const wchar_t kOlderVersion[] = L"0.9.0";
// Other users' logon tasks, and one of another program that only shares
// the start of the name.
const wchar_t kOtherUserTask[] = L"Quillmere S-1-5-21-1111111111-2222222222-3333333333-1001";
const wchar_t kThirdUserTask[] = L"Quillmere S-1-5-21-1111111111-2222222222-3333333333-1002";
const wchar_t kUnrelatedTask[] = L"Quillmere Helper";
const wchar_t kTaskXml[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
    L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
    L"<Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy></Settings>\r\n"
    L"<Actions><Exec><Command>C:\\quillmere.exe</Command></Exec></Actions>\r\n"
    L"</Task>\r\n";
// In the form the program keeps, so that the installed copy, which runs
// meanwhile, has no reason to rewrite it; and with no clean of its own
// (idle, interval) that would add to the log.
const std::string kSettings =
    Utf16File(L"[Clean]\r\nthreshold_percent=77\r\nauto_clean=0\r\n[App]\r\nstart_with_windows=0\r\n");
const char kLog[] = "2026-12-10 14:05:09  Freed 1235 MB  (87 processes)\r\n";

std::wstring EnvPath(const char* name) {
  const char* value = getenv(name);
  return value ? WinePath(value) : std::wstring();
}
std::wstring Installer() { return EnvPath("QUILLMERE_SETUP"); }
std::wstring OlderInstaller() { return EnvPath("QUILLMERE_OLDER_SETUP"); }
// The quillmere.exe that the release ships, and the one of the older setup.
std::string ReleaseExe() { return ReadFileBytes(EnvPath("QUILLMERE_RELEASE_EXE")); }
std::string OlderExe() { return ReadFileBytes(EnvPath("QUILLMERE_OLDER_EXE")); }

std::wstring DefaultFolder() { return KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Quillmere"; }
std::wstring OtherFolder() { return KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Other Place\\Quillmere"; }
std::wstring Shortcut() { return KnownFolderPath(FOLDERID_CommonPrograms) + L"\\Quillmere.lnk"; }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Starts `command_line` as Windows starts an UninstallString, and waits for
// it; answers its exit code, or -1 when it did not end within two minutes.
DWORD RunCommand(std::wstring command_line, DWORD* process_id = nullptr) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return static_cast<DWORD>(-2);
  if (process_id) *process_id = process.dwProcessId;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  // Wine reports a process ended once its last thread has, and closes its
  // handles (its current folder among them, which no one can remove while
  // it is open) a moment later: gone when it can no longer be opened.
  WaitUntil(
      [&] {
        HANDLE left = OpenProcess(SYNCHRONIZE, FALSE, process.dwProcessId);
        if (left) CloseHandle(left);
        return left == nullptr;
      },
      5000);
  return code;
}
DWORD RunSetup(const std::wstring& setup, const std::wstring& arguments = L"/S", DWORD* process_id = nullptr) {
  return RunCommand(Quoted(setup) + L" " + arguments, process_id);
}


HKEY OpenEntry(const wchar_t* key = kUninstallKey) {
  HKEY entry = nullptr;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &entry) == ERROR_SUCCESS ? entry
                                                                                                       : nullptr;
}
bool EntryExists() {
  HKEY entry = OpenEntry();
  if (entry) RegCloseKey(entry);
  return entry != nullptr;
}
// A text value of the Installed-apps entry, "<missing>" when there is none.
std::wstring EntryText(const wchar_t* name) {
  wchar_t text[1024] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  HKEY entry = OpenEntry();
  LONG result = entry ? RegGetValueW(entry, nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size) : ERROR_FILE_NOT_FOUND;
  if (entry) RegCloseKey(entry);
  return result == ERROR_SUCCESS ? std::wstring(text) : std::wstring(L"<missing>");
}
DWORD EntryNumber(const wchar_t* name) {
  DWORD number = 0xDEADBEEF, size = sizeof number;
  HKEY entry = OpenEntry();
  if (entry) RegGetValueW(entry, nullptr, name, RRF_RT_REG_DWORD, nullptr, &number, &size);
  if (entry) RegCloseKey(entry);
  return number;
}
// Entries of Installed apps, under any key, that show the name Quillmere.
int EntriesNamedQuillmere() {
  HKEY root = OpenEntry(kUninstallRoot);
  if (!root) return -1;
  int count = 0;
  wchar_t key[256];
  for (DWORD i = 0, length = 256; RegEnumKeyExW(root, i, key, &length, nullptr, nullptr, nullptr, nullptr) ==
                                  ERROR_SUCCESS;
       ++i, length = 256) {
    wchar_t name[256] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    if (RegGetValueW(root, key, L"DisplayName", RRF_RT_REG_SZ, nullptr, name, &size) == ERROR_SUCCESS)
      count += wcscmp(name, L"Quillmere") == 0;
  }
  RegCloseKey(root);
  return count;
}

// The file a shortcut starts, read through the shell's own link object.
std::wstring ShortcutTarget(const std::wstring& link) {
  std::wstring target = L"<unreadable>";
  IShellLinkW* shell_link = nullptr;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&shell_link))) &&
      SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(link.c_str(), STGM_READ))) {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(shell_link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH))) target = path;
  }
  if (file) file->Release();
  if (shell_link) shell_link->Release();
  return target;
}

// Points the shortcut at `target`, as an installer that put the program
// there made it.
bool WriteShortcut(const std::wstring& link, const std::wstring& target) {
  IShellLinkW* shell_link = nullptr;
  IPersistFile* file = nullptr;
  bool written = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                            reinterpret_cast<void**>(&shell_link))) &&
                 SUCCEEDED(shell_link->SetPath(target.c_str())) &&
                 SUCCEEDED(shell_link->SetIconLocation(target.c_str(), 0)) &&
                 SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                 SUCCEEDED(file->Save(link.c_str(), TRUE));
  if (file) file->Release();
  if (shell_link) shell_link->Release();
  return written;
}

// The folder's Unix path in this prefix, for what only the host can make.
std::string UnixPath(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  ToUnix to_unix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unix_path = to_unix ? to_unix(path.c_str()) : nullptr;
  std::string copy = unix_path ? unix_path : "";
  if (unix_path) HeapFree(GetProcessHeap(), 0, unix_path);
  return copy;
}

// What the installer puts in a folder, gone by hand.
void RemoveInstalledFiles(const std::wstring& folder) {
  for (const wchar_t* name : {L"quillmere.exe", L"quillmere.exe.old", L"uninstall.exe", L"LICENSE.txt"})
    DeleteFileW((folder + L"\\" + name).c_str());
  RemoveDirectoryW(folder.c_str());
}

std::wstring SystemFolder() {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  return system;
}
void DeleteTask(const wchar_t* name) {
  RunCommand(Quoted(SystemFolder() + L"\\schtasks.exe") + L" /delete /tn " + Quoted(name) + L" /f");
}
std::wstring TaskFile(const wchar_t* name) { return SystemFolder() + L"\\Tasks\\" + name; }
// A task as the Task Scheduler keeps it on Windows: its file in
// System32\Tasks, UTF-16 with a byte-order mark, one element a line. (Wine's
// scheduler keeps no command, so the test writes the file itself.)
bool WriteTaskFile(const wchar_t* name, const std::wstring& command) {
  const std::wstring xml = std::wstring(L"\xFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n") +
                           L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
                           L"  <Actions Context=\"Author\">\r\n"
                           L"    <Exec>\r\n"
                           L"      <Command>" +
                           command +
                           L"</Command>\r\n"
                           L"    </Exec>\r\n"
                           L"  </Actions>\r\n"
                           L"</Task>\r\n";
  return WriteFileBytes(TaskFile(name), std::string(reinterpret_cast<const char*>(xml.data()), xml.size() * 2));
}

DWORD ProcessOf(HWND window) {
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  return id;
}
// The process that started process `id`, and that one's exe name.
DWORD ParentOf(DWORD id, std::wstring* parent_exe) {
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (entry.th32ProcessID == id) parent = entry.th32ParentProcessID;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (parent != 0 && entry.th32ProcessID == parent) *parent_exe = entry.szExeFile;
  CloseHandle(snapshot);
  return parent;
}

// The files that Windows deletes or renames at its next start.
const wchar_t kSessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
// Pairs of names, each ended by a NUL (an empty second for a deletion): as
// text, each name followed by "|".
std::wstring PendingFileRenames() {
  wchar_t text[4096] = {};
  DWORD size = sizeof text - 2 * sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                   nullptr, text, &size) != ERROR_SUCCESS)
    return L"";
  std::wstring names(text, size / sizeof(wchar_t));
  for (wchar_t& c : names)
    if (c == L'\0') c = L'|';
  return names;
}

// The wizards of the installer and the uninstaller, driven through their
// controls as a user's clicks would.
std::wstring TextOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}
// By its title, which some pages end with a space.
HWND WaitForWizard(const wchar_t* title) {
  struct Search {
    const wchar_t* title;
    HWND found;
  } search = {title, nullptr};
  WaitUntil(
      [&] {
        search.found = nullptr;
        EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
              Search* search = reinterpret_cast<Search*>(data);
              wchar_t name[16] = {};
              GetClassNameW(window, name, 16);
              std::wstring text = TextOf(window);
              while (!text.empty() && text.back() == L' ') text.pop_back();
              if (wcscmp(name, L"#32770") == 0 && IsWindowVisible(window) && text == search->title)
                search->found = window;
              return search->found == nullptr;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      30000);
  return search.found;
}
// The visible control of the wizard's current page that shows `text`.
HWND FindControl(HWND wizard, const std::wstring& text) {
  struct Search {
    const std::wstring* text;
    HWND found;
  } search = {&text, nullptr};
  EnumChildWindows(
      wizard,
      [](HWND child, LPARAM data) -> BOOL {
        Search* search = reinterpret_cast<Search*>(data);
        if (IsWindowVisible(child) && TextOf(child) == *search->text) search->found = child;
        return search->found == nullptr;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}
// Clicks the wizard's forward button once it reads `label`.
bool ClickForward(HWND wizard, const wchar_t* label) {
  HWND button = GetDlgItem(wizard, IDOK);
  if (!WaitUntil([&] { return TextOf(button) == label && IsWindowEnabled(button); }, 30000)) return false;
  PostMessageW(button, BM_CLICK, 0, 0);
  return true;
}
bool Checked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }
// The whole text of another process's control, however long.
std::wstring LongTextOf(HWND window) {
  wchar_t text[2048] = {};
  SendMessageW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
  return text;
}
// Ends whatever shows a dialog titled with the program's name, so that a
// wizard in another language than expected does not outlive the test (and
// keep ctest waiting on the pipes it inherited).
void EndWizards() {
  EnumWindows(
      [](HWND window, LPARAM) -> BOOL {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (wcscmp(name, L"#32770") == 0 && TextOf(window).find(L"Quillmere") != std::wstring::npos) {
          HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, ProcessOf(window));
          if (process) TerminateProcess(process, 99);
          if (process) CloseHandle(process);
        }
        return TRUE;
      },
      0);
}
// Whether a visible control of the wizard's current page starts with `start`.
bool ShowsTextStartingWith(HWND wizard, const std::wstring& start) {
  struct Search {
    const std::wstring* start;
    bool found;
  } search = {&start, false};
  EnumChildWindows(
      wizard,
      [](HWND child, LPARAM data) -> BOOL {
        Search* search = reinterpret_cast<Search*>(data);
        if (IsWindowVisible(child) && LongTextOf(child).rfind(*search->start, 0) == 0) search->found = true;
        return !search->found;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The folder the wizard's folder page shows, and its field.
std::wstring ShownFolder(HWND wizard, HWND* field) {
  *field = nullptr;
  EnumChildWindows(
      wizard,
      [](HWND child, LPARAM found) -> BOOL {
        wchar_t name[16] = {};
        GetClassNameW(child, name, 16);
        if (IsWindowVisible(child) && _wcsicmp(name, L"Edit") == 0) *reinterpret_cast<HWND*>(found) = child;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(field));
  // Another process's edit control: its text only through WM_GETTEXT.
  return *field ? LongTextOf(*field) : std::wstring();
}

// Starts the installer with its wizard and `arguments`, which it refuses
// at once with a message titled `title`: answers the message's text after
// clicking OK, and the exit code in `code`.
std::wstring RefusalMessage(const std::wstring& arguments, const wchar_t* title, DWORD* code) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION setup = {};
  std::wstring line = Quoted(Installer()) + L" " + arguments;
  *code = 99;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &setup))
    return L"<not started>";
  std::wstring text = L"<no message box titled " + std::wstring(title) + L">";
  if (HWND box = WaitForWizard(title)) {
    // A message box's text is its static control 0xFFFF.
    text = LongTextOf(GetDlgItem(box, 0xFFFF));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  }
  // A setup that did not refuse goes on with its wizard: ended here.
  if (WaitForSingleObject(setup.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(setup.hProcess, code);
  else TerminateProcess(setup.hProcess, 99);
  CloseHandle(setup.hProcess);
  CloseHandle(setup.hThread);
  return text;
}

// Each test starts with nothing installed and no Quillmere running, and
// leaves it so.
class Release : public QuillmereTest {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Installer().empty()) << "run through scripts/test.sh, which builds the release";
    QuillmereTest::SetUp();
    // Wine copies each Start menu shortcut into the Linux desktop's menus:
    // not from this prefix.
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"winemenubuilder.exe", REG_SZ, L"",
                    sizeof(wchar_t));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RemoveInstallation();
  }
  void TearDown() override {
    // A wizard or message left open by a failure would outlive the test.
    if (HasFailure()) EndWizards();
    QuillmereTest::TearDown();
    RemoveInstallation();
    CoUninitialize();
  }
  void RemoveInstallation() {
    RemoveInstalledFiles(DefaultFolder());
    RemoveInstalledFiles(OtherFolder());
    RemoveDirectoryW((KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Other Place").c_str());
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, 0);
    DeleteFileW(Shortcut().c_str());
  }
  // The installed copy's settings and log, as its user left them.
  void WriteSettingsAndLog() {
    ASSERT_TRUE(WriteConfig(kSettings));
    ASSERT_TRUE(WriteFileBytes(AppFile(L"clean.log"), kLog));
  }
  void ExpectSettingsAndLogKept() {
    EXPECT_EQ(ReadFileBytes(AppFile(L"config.ini")), kSettings);
    EXPECT_EQ(ReadFileBytes(AppFile(L"clean.log")), kLog);
  }
  // An installation of the older release in `folder`, as an earlier version
  // of the installer, which took any folder, left it: its files there, and
  // the entry and Start menu shortcut naming them. (The older setup is built
  // from this script, which takes Program Files alone: for a folder
  // elsewhere its files are moved there afterwards.)
  void PlaceEarlierInstallation(const std::wstring& folder) {
    const std::wstring program_files = KnownFolderPath(FOLDERID_ProgramFiles) + L"\\";
    if (_wcsnicmp(folder.c_str(), program_files.c_str(), program_files.size()) == 0) {
      ASSERT_EQ(RunSetup(OlderInstaller(), L"/S /D=" + folder), 0u);
      ASSERT_EQ(EntryText(L"InstallLocation"), folder);
      return;
    }
    ASSERT_EQ(RunSetup(OlderInstaller()), 0u);
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr), ERROR_SUCCESS);
    for (const wchar_t* name : {L"quillmere.exe", L"LICENSE.txt", L"uninstall.exe"})
      ASSERT_TRUE(MoveFileW((DefaultFolder() + L"\\" + name).c_str(), (folder + L"\\" + name).c_str()));
    ASSERT_TRUE(RemoveDirectoryW(DefaultFolder().c_str()));
    for (const auto& [name, text] : {std::pair<const wchar_t*, std::wstring>{L"DisplayIcon", folder + L"\\quillmere.exe"},
                                     {L"InstallLocation", folder},
                                     {L"UninstallString", Quoted(folder + L"\\uninstall.exe")},
                                     {L"QuietUninstallString", Quoted(folder + L"\\uninstall.exe") + L" /S"}})
      ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallKey, name, REG_SZ, text.c_str(),
                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                ERROR_SUCCESS);
    ASSERT_TRUE(WriteShortcut(Shortcut(), folder + L"\\quillmere.exe"));
  }
  // Everything an install puts in place, for a copy in `folder`.
  // `aside` is what else the folder holds, in bytes.
  void ExpectInstalled(const std::wstring& folder, const std::string& exe, const std::wstring& version,
                       size_t aside = 0) {
    const std::wstring installed = folder + L"\\quillmere.exe";
    EXPECT_TRUE(ReadFileBytes(installed) == exe) << "the exe of that release";
    EXPECT_TRUE(Exists(folder + L"\\uninstall.exe"));
    EXPECT_EQ(ReadFileBytes(folder + L"\\LICENSE.txt").rfind("MIT License\r\n", 0), 0u);

    EXPECT_EQ(EntryText(L"DisplayName"), L"Quillmere");
    EXPECT_EQ(EntryText(L"DisplayVersion"), version);
    EXPECT_EQ(EntryText(L"Publisher"), L"The Quillmere developers");
    EXPECT_EQ(EntryText(L"DisplayIcon"), installed);
    EXPECT_EQ(EntryText(L"InstallLocation"), folder);
    EXPECT_EQ(EntryText(L"UninstallString"), Quoted(folder + L"\\uninstall.exe"));
    EXPECT_EQ(EntryText(L"QuietUninstallString"), Quoted(folder + L"\\uninstall.exe") + L" /S");
    EXPECT_EQ(EntryNumber(L"NoModify"), 1u);
    EXPECT_EQ(EntryNumber(L"NoRepair"), 1u);
    // In KB, as Windows shows it: the three files, each rounded.
    size_t bytes = aside + exe.size() + ReadFileBytes(folder + L"\\uninstall.exe").size() +
                   ReadFileBytes(folder + L"\\LICENSE.txt").size();
    EXPECT_NEAR(static_cast<double>(EntryNumber(L"EstimatedSize")), bytes / 1024.0, 3.0);
    EXPECT_EQ(EntriesNamedQuillmere(), 1);

    EXPECT_EQ(ShortcutTarget(Shortcut()), installed);
  }
  // Removes the installation through the uninstaller's wizard, checking that
  // it speaks the language of `title`: the confirmation page's text starts
  // with `text`, the buttons read `uninstall` and `close`.
  void UninstallThroughWizard(const wchar_t* title, const wchar_t* text, const wchar_t* uninstall,
                              const wchar_t* close) {
    ASSERT_EQ(RunCommand(EntryText(L"UninstallString")), 0u) << "the copy in the temporary folder took over";
    HWND wizard = WaitForWizard(title);
    ASSERT_NE(wizard, nullptr) << "a wizard titled " << Narrow(title);
    EXPECT_TRUE(WaitUntil([&] { return ShowsTextStartingWith(wizard, text); }, 10000)) << Narrow(text);
    ASSERT_TRUE(ClickForward(wizard, uninstall));
    ASSERT_TRUE(ClickForward(wizard, close));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(wizard); }, 30000));
    ASSERT_TRUE(WaitForRemoval(DefaultFolder()));
  }
  // Waits for the removal a silent uninstaller carries out from a copy of
  // itself after it has returned: the entry goes last.
  bool WaitForRemoval(const std::wstring& folder) {
    return WaitUntil([&] { return !EntryExists() && !Exists(folder); }, 60000);
  }
};

using SilentInstall = Release;
using SilentUpgrade = Release;
using SilentUninstall = Release;
using InteractiveUpgrade = Release;
using RepeatedUninstall = Release;
using OlderWindows = Release;
using InteractiveInstall = Release;
using InteractiveUninstall = Release;
using Languages = Release;
// Run as a program of its own with the German locale (Wine takes each
// process's display language from its Unix locale, and gives a child its
// parent's).
using GermanWindows = Release;

const wchar_t kInstallerLanguage[] = L"Installer Language";

// What release_manifests read in the winget manifest that the release wrote,
// one "name=value" a line in UTF-8: the switches winget starts the setup
// with, the Installed-apps values it recognises the program by, and the
// response it shows for each exit code ("ReturnResponse.<code>").
std::map<std::wstring, std::wstring> ManifestFacts() {
  std::map<std::wstring, std::wstring> facts;
  const char* path = getenv("QUILLMERE_MANIFEST_FACTS");
  const std::string text = path ? ReadFileBytes(WinePath(path)) : std::string();
  for (size_t start = 0, end = 0; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    wchar_t wide[2][1024] = {};
    MultiByteToWideChar(CP_UTF8, 0, line.c_str(), static_cast<int>(equals), wide[0], 1023);
    MultiByteToWideChar(CP_UTF8, 0, line.c_str() + equals + 1, static_cast<int>(line.size() - equals - 1), wide[1],
                        1023);
    facts[wide[0]] = wide[1];
  }
  return facts;
}

// The setup started as winget starts it: the install mode's switch, then
// the location switch with the folder given to --location in place of
// <INSTALLPATH>, last (winget's order, which /D= needs).
class Winget : public Release {
 protected:
  void SetUp() override {
    Release::SetUp();
    facts_ = ManifestFacts();
    ASSERT_FALSE(facts_[L"SilentWithProgress"].empty())
        << "no manifest facts: run through ctest, whose release_manifests test reads the manifest first";
  }
  std::wstring Arguments(const wchar_t* mode, const std::wstring& location = L"") {
    std::wstring arguments = facts_[mode];
    if (!location.empty()) {
      std::wstring location_switch = facts_[L"InstallLocation"];
      const size_t token = location_switch.find(L"<INSTALLPATH>");
      if (token != std::wstring::npos) location_switch.replace(token, wcslen(L"<INSTALLPATH>"), location);
      arguments += L" " + location_switch;
    }
    return arguments;
  }
  // The response the manifest declares for exit code `code`.
  std::wstring Response(DWORD code) { return facts_[L"ReturnResponse." + std::to_wstring(code)]; }

  std::map<std::wstring, std::wstring> facts_;
};

}  // namespace

TEST_F(SilentInstall, PutsTheProgramItsEntryAndShortcutInPlaceAndItStarts) {
  WriteSettingsAndLog();
  ASSERT_EQ(RunSetup(Installer()), 0u);
  ExpectInstalled(DefaultFolder(), ReleaseExe(), kVersion);
  ExpectSettingsAndLogKept();
  EXPECT_FALSE(Running()) << "a fresh silent install starts nothing";
  EXPECT_EQ(FindMainWindow(), nullptr);

  ASSERT_TRUE(Start(DefaultFolder() + L"\\quillmere.exe")) << "the installed copy shows its tray icon";
  EXPECT_EQ(Exit(), 0u);
}

// Only a folder inside the 64-bit Program Files, where only administrators
// can change the files that the Start menu and Installed apps run elevated.
// Refused: exit code 4, and nothing made anywhere.
TEST_F(SilentInstall, GoesOnlyIntoAFolderInProgramFiles) {
  const std::wstring program_files = KnownFolderPath(FOLDERID_ProgramFiles);
  const std::wstring drive = program_files.substr(0, 3);
  struct Row {
    std::wstring d;       // what follows /D=
    std::wstring folder;  // where it would have gone
    bool accepted;
  };
  const Row rows[] = {
      {drive + L"Quillmere Tools", drive + L"Quillmere Tools", false},
      {KnownFolderPath(FOLDERID_ProgramData) + L"\\Quillmere", KnownFolderPath(FOLDERID_ProgramData) + L"\\Quillmere",
       false},
      {program_files + L" Evil\\Quillmere", program_files + L" Evil", false},
      {program_files + L"\\..\\Quillmere", drive + L"Quillmere", false},
      {drive + L"PROGRA~1\\Quillmere", DefaultFolder(), false},
      {program_files, program_files + L"\\uninstall.exe", false},
      {program_files + L"\\", program_files + L"\\uninstall.exe", false},
      {KnownFolderPath(FOLDERID_ProgramFilesX86) + L"\\Quillmere", KnownFolderPath(FOLDERID_ProgramFilesX86) +
       L"\\Quillmere", false},
      // Another case, a doubled and a trailing backslash: the canonical
      // name is kept.
      {L"c:\\PROGRAM files\\Other Place\\\\Quillmere\\", OtherFolder(), true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.d);
    if (row.accepted) {
      ASSERT_EQ(RunSetup(Installer(), L"/S /D=" + row.d), 0u);
      ExpectInstalled(row.folder, ReleaseExe(), kVersion);
      EXPECT_FALSE(Exists(DefaultFolder()));
    } else {
      EXPECT_EQ(RunSetup(Installer(), L"/S /D=" + row.d), 4u);
      EXPECT_FALSE(Exists(row.folder));
      EXPECT_FALSE(Exists(DefaultFolder()));
      EXPECT_FALSE(EntryExists());
      EXPECT_FALSE(Exists(Shortcut()));
    }
    RemoveInstalledFiles(row.folder);
    RemoveInstallation();
  }
}

// A folder in Program Files that exists already: another program's (its
// permissions, which Quillmere's files would inherit, unknown to setup) is
// refused as a folder elsewhere is, with exit code 4 and nothing changed in
// it; an empty one, or the registered installation's, is taken.
TEST_F(SilentInstall, TakesAnExistingFolderOnlyWhenItIsTheInstallationsOrEmpty) {
  const std::wstring other_place = KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Other Place";
  std::wstring other_folder_upper = OtherFolder();
  for (wchar_t& c : other_folder_upper) c = towupper(c);
  const std::string their_bytes = "another program's file";
  struct Row {
    const char* what;
    std::wstring made;  // a folder there before, or nothing
    std::wstring file;  // a file in it that setup did not put there, or nothing
    bool earlier;       // `made` holds the registered installation
    std::wstring d;     // what follows /D=, if anything
    std::wstring folder;
    bool accepted;
  };
  const Row rows[] = {
      {"another program's folder", DefaultFolder(), DefaultFolder() + L"\\helper.dll", false, L"", DefaultFolder(),
       false},
      {"another program's folder on the way", other_place, other_place + L"\\tool.exe", false, OtherFolder(),
       OtherFolder(), false},
      {"an empty folder", DefaultFolder(), L"", false, L"", DefaultFolder(), true},
      {"the registered installation's, with a file of its user", OtherFolder(), OtherFolder() + L"\\notes.txt", true,
       L"", OtherFolder(), true},
      {"the registered installation's, named by /D=", OtherFolder(), OtherFolder() + L"\\notes.txt", true,
       other_folder_upper, OtherFolder(), true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.earlier) {
      ASSERT_NO_FATAL_FAILURE(PlaceEarlierInstallation(row.made));
    } else {
      ASSERT_EQ(SHCreateDirectoryExW(nullptr, row.made.c_str(), nullptr), ERROR_SUCCESS);
    }
    if (!row.file.empty()) {
      ASSERT_TRUE(WriteFileBytes(row.file, their_bytes));
    }

    const DWORD code = RunSetup(Installer(), row.d.empty() ? L"/S" : L"/S /D=" + row.d);
    if (row.accepted) {
      EXPECT_EQ(code, 0u);
      ExpectInstalled(row.folder, ReleaseExe(), kVersion, row.file.empty() ? 0 : their_bytes.size());
      if (row.folder != DefaultFolder()) {
        EXPECT_FALSE(Exists(DefaultFolder()));
      }
    } else {
      EXPECT_EQ(code, 4u);
      EXPECT_FALSE(Exists(row.folder + L"\\quillmere.exe"));
      EXPECT_FALSE(EntryExists());
      EXPECT_FALSE(Exists(Shortcut()));
    }
    if (!row.file.empty()) {
      EXPECT_EQ(ReadFileBytes(row.file), their_bytes) << "untouched";
    }
    DeleteFileW(row.file.c_str());
    RemoveInstalledFiles(row.folder);
    RemoveInstallation();
  }
}

// What makes an installation outside Program Files start at logon, set
// before an upgrade moves it: logon tasks of this user and another, and the
// shared one of earlier versions, starting its exe; the Run value; and what
// stays: a portable copy's task, and another program's that only shares the
// start of the name.
void WriteEarlierLogonEntries(const std::wstring& exe) {
  ASSERT_TRUE(WriteTaskFile(UserTaskName().c_str(), Quoted(exe)));
  ASSERT_TRUE(WriteTaskFile(kOtherUserTask, exe));
  ASSERT_TRUE(WriteTaskFile(kLegacyTaskName, exe));
  ASSERT_TRUE(WriteTaskFile(kThirdUserTask, Quoted(KnownFolderPath(FOLDERID_Desktop) + L"\\quillmere.exe")));
  ASSERT_TRUE(WriteTaskFile(kUnrelatedTask, Quoted(exe)));
  const std::wstring run_value = Quoted(exe);
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Quillmere", REG_SZ, run_value.c_str(),
                            static_cast<DWORD>((run_value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}
// The earlier exe's tasks and Run value gone (the program registers them
// again from its new place at its next start, as its own user); the others
// kept, and removed here.
void ExpectEarlierLogonEntriesGone() {
  EXPECT_FALSE(Exists(TaskFile(UserTaskName().c_str())));
  EXPECT_FALSE(Exists(TaskFile(kOtherUserTask)));
  EXPECT_FALSE(Exists(TaskFile(kLegacyTaskName)));
  EXPECT_EQ(ReadRunValue(), L"");
  EXPECT_TRUE(Exists(TaskFile(kThirdUserTask))) << "the portable copy's task stays";
  EXPECT_TRUE(Exists(TaskFile(kUnrelatedTask)));
  for (const wchar_t* task : {kOtherUserTask, kThirdUserTask, kUnrelatedTask}) DeleteTask(task);
}

// An installation that an earlier version made outside Program Files is
// upgraded, not refused: the new one goes into Program Files, the entry and
// the shortcut with it, the earlier installer's files leave the old folder
// (and the folder, unless something else is in it), and nothing starts the
// old exe at logon any more. The same for a move within Program Files that
// /D= asks for.
TEST_F(SilentUpgrade, MovesAnInstallationFromElsewhereIntoProgramFiles) {
  const std::wstring drive = KnownFolderPath(FOLDERID_ProgramFiles).substr(0, 3);
  struct Row {
    const char* what;
    std::wstring earlier;
    std::wstring d;  // what follows /D=, if anything
    bool running;    // its copy runs in this session
    bool users_file;
  };
  const Row rows[] = {
      {"at the drive's root, running", drive + L"Quillmere", L"", true, false},
      {"below another folder, with a file of its user", drive + L"Tools\\Quillmere", L"", false, true},
      {"named by /D=", drive + L"Quillmere", drive + L"Quillmere", false, false},
      {"elsewhere in Program Files, /D= naming the default", OtherFolder(), DefaultFolder(), false, false},
  };
  const std::string notes = "the user's own notes";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_NO_FATAL_FAILURE(PlaceEarlierInstallation(row.earlier));
    const std::wstring earlier_exe = row.earlier + L"\\quillmere.exe";
    ASSERT_TRUE(ReadFileBytes(earlier_exe) == OlderExe());
    ASSERT_EQ(ShortcutTarget(Shortcut()), earlier_exe);
    if (row.users_file) {
      ASSERT_TRUE(WriteFileBytes(row.earlier + L"\\notes.txt", notes));
    }
    WriteSettingsAndLog();
    ASSERT_NO_FATAL_FAILURE(WriteEarlierLogonEntries(earlier_exe));
    DWORD older = 0;
    if (row.running) {
      ASSERT_TRUE(Start(earlier_exe));
      older = process_.dwProcessId;
    }

    EXPECT_EQ(RunSetup(Installer(), row.d.empty() ? L"/S" : L"/S /D=" + row.d), 0u);

    ExpectInstalled(DefaultFolder(), ReleaseExe(), kVersion);
    for (const wchar_t* name : {L"quillmere.exe", L"LICENSE.txt", L"uninstall.exe"})
      EXPECT_FALSE(Exists(row.earlier + L"\\" + name)) << Narrow(name);
    if (row.users_file) {
      EXPECT_EQ(ReadFileBytes(row.earlier + L"\\notes.txt"), notes) << "the folder stays with it";
    } else {
      EXPECT_FALSE(Exists(row.earlier));
    }
    ExpectEarlierLogonEntriesGone();
    ExpectSettingsAndLogKept();
    if (row.running) {
      EXPECT_EQ(WaitForExitCode(0), 0u) << "the earlier copy ended cleanly";
      HWND window = nullptr;
      EXPECT_TRUE(
          WaitUntil([&] { return (window = FindMainWindow()) != nullptr && ProcessOf(window) != older; }, 15000))
          << "started again";
      HANDLE process =
          window ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, ProcessOf(window)) : nullptr;
      wchar_t image[MAX_PATH] = {};
      DWORD length = MAX_PATH;
      if (process) QueryFullProcessImageNameW(process, 0, image, &length);
      EXPECT_EQ(_wcsicmp(image, (DefaultFolder() + L"\\quillmere.exe").c_str()), 0) << Narrow(image);
      // Ended as the installer ends it, before the next row replaces it.
      if (window) PostMessageW(window, WM_CLOSE, 0, 0);
      if (process) {
        EXPECT_EQ(WaitForSingleObject(process, 15000), WAIT_OBJECT_0);
        CloseHandle(process);
      }
    }
    DeleteFileW((row.earlier + L"\\notes.txt").c_str());
    RemoveInstalledFiles(row.earlier);
    RemoveDirectoryW((drive + L"Tools").c_str());
    RemoveInstallation();
  }
}

// The old folder outside Program Files may be anyone's to change: the move
// deletes the earlier installer's files through no link, and an exe in use
// stays, with no deletion there left for the next restart (which would
// follow whatever links are there by then).
TEST_F(SilentUpgrade, MovingDeletesNothingBehindALinkNorAnExeInUse) {
  const std::wstring drive = KnownFolderPath(FOLDERID_ProgramFiles).substr(0, 3);
  const std::wstring earlier = drive + L"Quillmere";
  const std::wstring earlier_exe = earlier + L"\\quillmere.exe";
  {
    SCOPED_TRACE("the exe in use for another user");
    ASSERT_NO_FATAL_FAILURE(PlaceEarlierInstallation(earlier));
    ASSERT_NO_FATAL_FAILURE(WriteEarlierLogonEntries(earlier_exe));
    HMODULE running = LoadLibraryExW(earlier_exe.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(running, nullptr);
    EXPECT_EQ(RunSetup(Installer()), 0u);
    ExpectInstalled(DefaultFolder(), ReleaseExe(), kVersion);
    EXPECT_TRUE(ReadFileBytes(earlier_exe) == OlderExe()) << "left in use";
    EXPECT_FALSE(Exists(earlier + L"\\LICENSE.txt"));
    EXPECT_FALSE(Exists(earlier + L"\\uninstall.exe"));
    const std::wstring pending = PendingFileRenames();
    EXPECT_EQ(pending.find(earlier), std::wstring::npos) << Narrow(pending);
    ExpectEarlierLogonEntriesGone();
    FreeLibrary(running);
    RemoveInstalledFiles(earlier);
    RemoveInstallation();
  }
  {
    SCOPED_TRACE("the folder a link to another program's");
    // Another program's folder in Program Files, with files of the same
    // names; the registered folder becomes a link to it (a Unix link, which
    // Wine follows as Windows follows a junction).
    const std::wstring victim = KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Victim";
    ASSERT_TRUE(CreateDirectoryW(victim.c_str(), nullptr));
    for (const wchar_t* name : {L"quillmere.exe", L"LICENSE.txt", L"uninstall.exe"})
      ASSERT_TRUE(WriteFileBytes(victim + L"\\" + name, "theirs"));
    ASSERT_NO_FATAL_FAILURE(PlaceEarlierInstallation(earlier));
    RemoveInstalledFiles(earlier);
    ASSERT_EQ(HostRun("ln -s '" + UnixPath(victim) + "' '" + UnixPath(drive) + "Quillmere'"), 0);
    ASSERT_EQ(ReadFileBytes(earlier + L"\\LICENSE.txt"), "theirs") << "the link leads there";

    EXPECT_EQ(RunSetup(Installer()), 0u);
    for (const wchar_t* name : {L"quillmere.exe", L"LICENSE.txt", L"uninstall.exe"})
      EXPECT_EQ(ReadFileBytes(victim + L"\\" + name), "theirs") << Narrow(name);
    // Removed before the shortcut is read: under Wine, a shortcut read while
    // its target lay through the link, and the link removed afterwards,
    // left this process's HKEY_LOCAL_MACHINE handle invalid (measured).
    HostRun("rm -f '" + UnixPath(drive) + "Quillmere'");
    ExpectInstalled(DefaultFolder(), ReleaseExe(), kVersion);
    RemoveInstalledFiles(victim);
    RemoveInstallation();
  }
}

TEST_F(SilentUpgrade, ReplacesTheRunningCopyStartsTheNewOneAndKeepsOneEntry) {
  ASSERT_NE(OlderExe(), ReleaseExe()) << "the older setup carries an exe of its own";
  ASSERT_EQ(RunSetup(OlderInstaller()), 0u);
  ExpectInstalled(DefaultFolder(), OlderExe(), kOlderVersion);
  WriteSettingsAndLog();
  ASSERT_TRUE(Start(DefaultFolder() + L"\\quillmere.exe"));
  const DWORD older = process_.dwProcessId;

  DWORD setup = 0;
  ASSERT_EQ(RunSetup(Installer(), L"/S", &setup), 0u);
  EXPECT_EQ(WaitForExitCode(0), 0u) << "the older copy ended cleanly before its exe was replaced";
  ExpectInstalled(DefaultFolder(), ReleaseExe(), kVersion);
  HWND window = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (window = FindMainWindow()) != nullptr && ProcessOf(window) != older; }, 15000))
      << "the new copy runs";
  // Started by the shell for the signed-in user, not by the installer,
  // whose account and token it would otherwise have.
  std::wstring parent_exe;
  const DWORD parent = ParentOf(ProcessOf(window), &parent_exe);
  EXPECT_NE(parent, setup);
  EXPECT_EQ(_wcsicmp(parent_exe.c_str(), L"explorer.exe"), 0) << parent_exe;
  TrayIconView icon;
  EXPECT_TRUE(WaitUntil([&] { return FindQuillmereIcon(icon) && icon.tip.find(L"GB") != std::wstring::npos; }, 15000));
  ExpectSettingsAndLogKept();
}

// The installed exe mapped as a running program maps it, by a copy in
// another session that the installer cannot close: renamed aside, replaced,
// and the old one deleted at the next restart.
TEST_F(SilentUpgrade, ReplacesAnExeRunningForAnotherUser) {
  const std::wstring installed = DefaultFolder() + L"\\quillmere.exe";
  const std::wstring aside = installed + L".old";
  ASSERT_EQ(RunSetup(OlderInstaller()), 0u);
  HMODULE running = LoadLibraryExW(installed.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(running, nullptr);

  EXPECT_EQ(RunSetup(Installer()), 0u);
  ExpectInstalled(DefaultFolder(), ReleaseExe(), kVersion, OlderExe().size());
  EXPECT_TRUE(ReadFileBytes(aside) == OlderExe()) << "the running exe moved aside";
  const std::wstring pending = PendingFileRenames();
  EXPECT_NE(pending.find(L"\\??\\" + aside + L"|"), std::wstring::npos) << pending;
  EXPECT_EQ(FindMainWindow(), nullptr) << "no copy of this session was closed: none is started";

  FreeLibrary(running);
  // Nothing left for a restart of this prefix.
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, L"PendingFileRenameOperations");
}

// A copy that does not end, or an exe that something holds without letting
// it be renamed: a silent upgrade stops with exit code 2, replaces nothing,
// and starts again the copy it closed.
TEST_F(SilentUpgrade, StopsWhenTheInstalledExeCannotBeFreed) {
  const std::wstring installed = DefaultFolder() + L"\\quillmere.exe";
  for (bool stubborn_copy : {true, false}) {
    SCOPED_TRACE(stubborn_copy ? "a copy that ignores WM_CLOSE" : "the exe held open");
    ASSERT_EQ(RunSetup(OlderInstaller()), 0u);
    // This process plays the copy, or holds the exe while the installed
    // copy runs and gets closed.
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
      return message == WM_CLOSE ? 0 : DefWindowProcW(window, message, wParam, lParam);
    };
    window_class.lpszClassName = L"QuillmereShell";
    HWND stubborn = nullptr;
    HANDLE held = INVALID_HANDLE_VALUE;
    DWORD closed = 0;
    if (stubborn_copy) {
      ASSERT_NE(RegisterClassW(&window_class), 0);
      stubborn = CreateWindowExW(0, window_class.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                 nullptr);
      ASSERT_NE(stubborn, nullptr);
    } else {
      ASSERT_TRUE(Start(installed));
      closed = process_.dwProcessId;
      held = CreateFileW(installed.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }

    EXPECT_EQ(RunSetup(Installer()), 2u);

    if (stubborn) DestroyWindow(stubborn);
    if (stubborn_copy) UnregisterClassW(window_class.lpszClassName, nullptr);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_TRUE(ReadFileBytes(installed) == OlderExe()) << "the older exe stays";
    EXPECT_FALSE(Exists(installed + L".old"));
    EXPECT_EQ(EntryText(L"DisplayVersion"), kOlderVersion);
    if (!stubborn_copy) {
      EXPECT_EQ(WaitForExitCode(10000), 0u) << "the copy was closed";
      HWND window = nullptr;
      EXPECT_TRUE(WaitUntil([&] { return (window = FindMainWindow()) != nullptr && ProcessOf(window) != closed; },
                            15000))
          << "and started again";
    }
  }
}

TEST_F(SilentUninstall, RemovesTheProgramItsTasksAndRunValueAndKeepsTheSettings) {
  ASSERT_EQ(RunSetup(Installer()), 0u);
  const std::wstring folder = DefaultFolder();
  const std::wstring installed = folder + L"\\quillmere.exe";
  WriteSettingsAndLog();
  ASSERT_TRUE(Start(installed));
  // What "Start with Windows" leaves: for this user and another, starting
  // this copy (quoted, and as earlier versions wrote it); for a third user,
  // a portable copy elsewhere; one whose command cannot be read (Wine's
  // scheduler keeps none); and a task of another program.
  ASSERT_TRUE(WriteTaskFile(UserTaskName().c_str(), Quoted(installed)));
  ASSERT_TRUE(WriteTaskFile(kOtherUserTask, L"C:\\PROGRAM FILES\\Quillmere\\Quillmere.exe"));
  ASSERT_TRUE(WriteTaskFile(kLegacyTaskName, installed));
  const std::wstring portable = KnownFolderPath(FOLDERID_Desktop) + L"\\quillmere.exe";
  ASSERT_TRUE(WriteTaskFile(kThirdUserTask, Quoted(portable)));
  ASSERT_TRUE(RegisterAutostartTask(L"Quillmere S-1-5-21-1111111111-2222222222-3333333333-1003", kTaskXml));
  ASSERT_TRUE(WriteTaskFile(kUnrelatedTask, Quoted(installed)));
  const std::wstring run_value = Quoted(installed);
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Quillmere", REG_SZ, run_value.c_str(),
                            static_cast<DWORD>((run_value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);

  ASSERT_EQ(RunCommand(EntryText(L"QuietUninstallString")), 0u);
  ASSERT_TRUE(WaitForRemoval(folder));
  EXPECT_EQ(WaitForExitCode(0), 0u) << "the running copy ended cleanly";
  EXPECT_FALSE(Exists(folder));
  EXPECT_FALSE(Exists(Shortcut()));
  EXPECT_EQ(EntriesNamedQuillmere(), 0);
  EXPECT_FALSE(Exists(TaskFile(UserTaskName().c_str())));
  EXPECT_FALSE(Exists(TaskFile(kOtherUserTask)));
  EXPECT_FALSE(Exists(TaskFile(kLegacyTaskName)));
  EXPECT_TRUE(Exists(TaskFile(kThirdUserTask))) << "the portable copy's task stays";
  EXPECT_TRUE(Exists(TaskFile(L"Quillmere S-1-5-21-1111111111-2222222222-3333333333-1003")))
      << "a task whose command cannot be read stays";
  EXPECT_TRUE(Exists(TaskFile(kUnrelatedTask)));
  EXPECT_EQ(ReadRunValue(), L"");
  ExpectSettingsAndLogKept();
  EXPECT_EQ(FindMainWindow(), nullptr) << "nothing started again";
  DeleteTask(kThirdUserTask);
  DeleteTask(L"Quillmere S-1-5-21-1111111111-2222222222-3333333333-1003");
  DeleteTask(kUnrelatedTask);
}

TEST_F(SilentUninstall, LeavesTheRunValueOfAnotherCopy) {
  ASSERT_EQ(RunSetup(Installer()), 0u);
  const std::wstring elsewhere = Quoted(KnownFolderPath(FOLDERID_Desktop) + L"\\quillmere.exe");
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Quillmere", REG_SZ, elsewhere.c_str(),
                            static_cast<DWORD>((elsewhere.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  ASSERT_EQ(RunCommand(EntryText(L"QuietUninstallString")), 0u);
  ASSERT_TRUE(WaitForRemoval(DefaultFolder()));
  EXPECT_EQ(ReadRunValue(), elsewhere);
}

// The uninstaller run from a copy of itself, as Windows runs one from its
// temporary folder: once after the exe was deleted by hand, and once more.
TEST_F(RepeatedUninstall, EndsCleanlyAfterFilesWereDeletedByHand) {
  ASSERT_EQ(RunSetup(Installer()), 0u);
  const std::wstring folder = DefaultFolder();
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring copy = std::wstring(temp) + L"quillmere-uninstall-copy.exe";
  ASSERT_TRUE(CopyFileW((folder + L"\\uninstall.exe").c_str(), copy.c_str(), FALSE));
  ASSERT_TRUE(DeleteFileW((folder + L"\\quillmere.exe").c_str()));

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(RunCommand(Quoted(copy) + L" /S _?=" + folder), 0u);
    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(EntryExists());
    EXPECT_FALSE(Exists(Shortcut()));
  }
  DeleteFileW(copy.c_str());
}

TEST_F(OlderWindows, AreRefused) {
  // Wine answers as Windows Vista to this one program.
  const std::wstring setup = Installer();
  const wchar_t* name = wcsrchr(setup.c_str(), L'\\');
  ASSERT_NE(name, nullptr);
  const std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + (name + 1);
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Version", REG_SZ, L"vista", 6 * sizeof(wchar_t)),
            ERROR_SUCCESS);
  EXPECT_EQ(RunSetup(Installer()), 3u);
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  EXPECT_FALSE(Exists(DefaultFolder()));
  EXPECT_FALSE(EntryExists());
}

TEST_F(InteractiveInstall, EndsWithAStartQuillmereBoxTickedThatStartsIt) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION setup = {};
  std::wstring line = Quoted(Installer());
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &setup));
  HWND wizard = WaitForWizard(L"Quillmere Setup");
  ASSERT_NE(wizard, nullptr);
  ASSERT_TRUE(ClickForward(wizard, L"&Next >")) << "the welcome page";
  // The folder page takes only a folder in Program Files: Install stays
  // disabled for any other, and comes back for one there.
  HWND install = GetDlgItem(wizard, IDOK);
  ASSERT_TRUE(WaitUntil([&] { return TextOf(install) == L"&Install"; }, 30000));
  HWND folder = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return ShownFolder(wizard, &folder) == DefaultFolder(); }, 10000))
      << "the default folder shown";
  const std::wstring program_files = KnownFolderPath(FOLDERID_ProgramFiles);
  for (const std::wstring& refused : {program_files.substr(0, 3) + L"Quillmere", program_files + L" Evil\\Quillmere"}) {
    SendMessageW(folder, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(refused.c_str()));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(install); }, 5000)) << refused;
  }
  SendMessageW(folder, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(DefaultFolder().c_str()));
  ASSERT_TRUE(ClickForward(wizard, L"&Install")) << "the folder page";
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (box = FindControl(wizard, L"Start Quillmere")) != nullptr; }, 30000));
  EXPECT_TRUE(Checked(box)) << "on by default";
  EXPECT_EQ(FindMainWindow(), nullptr) << "nothing started before Finish";
  ASSERT_TRUE(ClickForward(wizard, L"&Finish"));
  EXPECT_EQ(WaitForSingleObject(setup.hProcess, 30000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(setup.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(setup.hProcess);
  CloseHandle(setup.hThread);
  ExpectInstalled(DefaultFolder(), ReleaseExe(), kVersion);
  TrayIconView icon;
  EXPECT_TRUE(WaitUntil([&] { return FindQuillmereIcon(icon) && icon.tip.find(L"GB") != std::wstring::npos; }, 15000))
      << "Finish started the installed copy";
}

// An installation outside Program Files: the folder page proposes Program
// Files, says where the earlier one is and that it moves, and Install moves
// it there.
TEST_F(InteractiveUpgrade, ProposesProgramFilesForAnInstallationOutsideIt) {
  const std::wstring earlier = KnownFolderPath(FOLDERID_ProgramFiles).substr(0, 3) + L"Quillmere";
  ASSERT_NO_FATAL_FAILURE(PlaceEarlierInstallation(earlier));
  WriteSettingsAndLog();
  ASSERT_NO_FATAL_FAILURE(WriteEarlierLogonEntries(earlier + L"\\quillmere.exe"));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION setup = {};
  std::wstring line = Quoted(Installer());
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &setup));
  HWND wizard = WaitForWizard(L"Quillmere Setup");
  ASSERT_NE(wizard, nullptr);
  ASSERT_TRUE(ClickForward(wizard, L"&Next >")) << "the welcome page";
  HWND folder = nullptr;
  EXPECT_TRUE(WaitUntil([&] { return ShownFolder(wizard, &folder) == DefaultFolder(); }, 30000))
      << Narrow(ShownFolder(wizard, &folder));
  EXPECT_TRUE(ShowsTextStartingWith(wizard, L"The earlier Quillmere in " + earlier + L" moves"));
  ASSERT_TRUE(ClickForward(wizard, L"&Install")) << "the folder page";
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (box = FindControl(wizard, L"Start Quillmere")) != nullptr; }, 30000));
  PostMessageW(box, BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !Checked(box); }, 5000));
  ASSERT_TRUE(ClickForward(wizard, L"&Finish"));
  EXPECT_EQ(WaitForSingleObject(setup.hProcess, 30000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(setup.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(setup.hProcess);
  CloseHandle(setup.hThread);
  ExpectInstalled(DefaultFolder(), ReleaseExe(), kVersion);
  EXPECT_FALSE(Exists(earlier));
  ExpectEarlierLogonEntriesGone();
  ExpectSettingsAndLogKept();
}

// Another program's folder in Program Files gets the message a folder
// elsewhere gets, and exit code 4.
TEST_F(InteractiveInstall, RefusesAnotherProgramsFolderWithTheSameMessage) {
  const std::wstring program_files = KnownFolderPath(FOLDERID_ProgramFiles);
  ASSERT_EQ(SHCreateDirectoryExW(nullptr, DefaultFolder().c_str(), nullptr), ERROR_SUCCESS);
  ASSERT_TRUE(WriteFileBytes(DefaultFolder() + L"\\helper.dll", "theirs"));
  DWORD code = 0;
  EXPECT_EQ(RefusalMessage(L"", L"Quillmere Setup", &code),
            L"Quillmere can be installed only in a folder in " + program_files +
                L", where only administrators can change it; " + DefaultFolder() +
                L" is not one.\r\n\r\nChoose a new or empty folder there. A copy of Quillmere you put in a folder "
                L"yourself is not taken over: delete it first.");
  EXPECT_EQ(code, 4u);
  EXPECT_EQ(ReadFileBytes(DefaultFolder() + L"\\helper.dll"), "theirs");
  EXPECT_FALSE(EntryExists());
  DeleteFileW((DefaultFolder() + L"\\helper.dll").c_str());
}

// The settings and clean log stay, with no box that would remove them: the
// elevated uninstaller deletes nothing in the user's own folder, which the
// user's programs can turn into a link to anywhere.
TEST_F(InteractiveUninstall, KeepsTheSettingsAndOffersNothingToRemoveThem) {
  ASSERT_EQ(RunSetup(Installer()), 0u);
  WriteSettingsAndLog();
  ASSERT_EQ(RunCommand(EntryText(L"UninstallString")), 0u);
  HWND wizard = WaitForWizard(L"Quillmere Uninstall");
  ASSERT_NE(wizard, nullptr);
  HWND forward = GetDlgItem(wizard, IDOK);
  ASSERT_TRUE(WaitUntil([&] { return TextOf(forward) == L"&Uninstall" && IsWindowEnabled(forward); }, 30000));
  EXPECT_EQ(FindControl(wizard, L"Also remove my settings and clean log"), nullptr);
  HWND box = nullptr;
  EnumChildWindows(
      wizard,
      [](HWND child, LPARAM found) -> BOOL {
        wchar_t name[32] = {};
        GetClassNameW(child, name, 32);
        const LONG style = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
        if (IsWindowVisible(child) && _wcsicmp(name, L"Button") == 0 &&
            (style == BS_CHECKBOX || style == BS_AUTOCHECKBOX))
          *reinterpret_cast<HWND*>(found) = child;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&box));
  EXPECT_EQ(box, nullptr) << "no tick box on the way";
  ASSERT_TRUE(ClickForward(wizard, L"&Uninstall"));
  ASSERT_TRUE(ClickForward(wizard, L"&Close"));
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(wizard); }, 30000));
  ASSERT_TRUE(WaitForRemoval(DefaultFolder()));
  ExpectSettingsAndLogKept();
}


// The uninstaller speaks the language the installation used (kept beside
// the entry), not the display language of whoever removes it: here an
// English user removes what a German one installed, as GermanWindows shows
// such an installation recorded.
TEST_F(Languages, UninstallerSpeaksTheLanguageTheInstallationUsed) {
  ASSERT_EQ(RunSetup(Installer()), 0u);
  EXPECT_EQ(EntryText(kInstallerLanguage), L"1033") << "English here";
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallKey, kInstallerLanguage, REG_SZ, L"1031",
                            5 * sizeof(wchar_t)),
            ERROR_SUCCESS);
  UninstallThroughWizard(L"Deinstallation von Quillmere", L"Quillmere wird aus dem unten angegebenen Ordner entfernt",
                         L"&Deinstallieren", L"&Beenden");
}

// On a German Windows the installer's own message is German, with the
// folders in it; the refusal stays the same (exit code 4, nothing made).
TEST_F(GermanWindows, RefusesAnotherFolderInGerman) {
  const std::wstring program_files = KnownFolderPath(FOLDERID_ProgramFiles);
  const std::wstring refused = program_files.substr(0, 3) + L"Quillmere Tools";
  DWORD code = 0;
  // Without the de_DE.UTF-8 locale, which locale-gen makes, Wine falls back
  // to English, and no box has the German setup's title.
  EXPECT_EQ(RefusalMessage(L"/D=" + refused, L"Installation von Quillmere", &code),
            L"Quillmere kann nur in einem Ordner in " + program_files +
                L" installiert werden, in dem nur Administratoren es ändern können; " + refused +
                L" ist kein solcher Ordner.\r\n\r\nWählen Sie dort einen neuen oder leeren Ordner. Eine Kopie von "
                L"Quillmere, die Sie selbst in einen Ordner gelegt haben, wird nicht übernommen: Löschen Sie sie zuerst.");
  EXPECT_EQ(code, 4u);
  EXPECT_FALSE(Exists(refused));
  EXPECT_FALSE(EntryExists());
}

// A German installation: the Installed-apps values as in every language,
// its language recorded, and the uninstaller's wizard in German.
TEST_F(GermanWindows, InstallsWithTheSameEntryAndUninstallsInGerman) {
  ASSERT_EQ(RunSetup(Installer()), 0u);
  ExpectInstalled(DefaultFolder(), ReleaseExe(), kVersion);
  EXPECT_EQ(EntryText(kInstallerLanguage), L"1031");
  UninstallThroughWizard(L"Deinstallation von Quillmere", L"Quillmere wird aus dem unten angegebenen Ordner entfernt",
                         L"&Deinstallieren", L"&Beenden");
}

// winget's default mode (silent with progress) and --silent each install,
// and the Installed-apps entry is the one the manifest tells winget to
// recognise the program by, as for an installation made by hand.
TEST_F(Winget, InstallsInEachModeWithTheEntryTheManifestNames) {
  for (const wchar_t* mode : {L"SilentWithProgress", L"Silent"}) {
    SCOPED_TRACE(Narrow(mode));
    ASSERT_FALSE(facts_[mode].empty());
    ASSERT_EQ(RunSetup(Installer(), Arguments(mode)), 0u);
    ExpectInstalled(DefaultFolder(), ReleaseExe(), kVersion);
    EXPECT_EQ(EntryText(L"DisplayName"), facts_[L"DisplayName"]);
    EXPECT_EQ(EntryText(L"Publisher"), facts_[L"Publisher"]);
    EXPECT_EQ(EntryText(L"DisplayVersion"), facts_[L"DisplayVersion"]);
    EXPECT_EQ(facts_[L"DisplayVersion"], facts_[L"PackageVersion"]);
    // An NSIS setup's product code is the name of its Uninstall key.
    EXPECT_EQ(std::wstring(wcsrchr(kUninstallKey, L'\\') + 1), facts_[L"ProductCode"]);
    EXPECT_EQ(FindMainWindow(), nullptr) << "a fresh silent install starts nothing";
    RemoveInstallation();
  }
}

// --location: a folder in Program Files is taken, as typed (spaces and
// all); any other is refused with the exit code for which the manifest
// declares an invalid parameter, and nothing is made.
TEST_F(Winget, InstallsWhereLocationSaysInProgramFilesAndRefusesElsewhereWithTheDeclaredCode) {
  ASSERT_NE(facts_[L"InstallLocation"].find(L"<INSTALLPATH>"), std::wstring::npos);
  ASSERT_EQ(RunSetup(Installer(), Arguments(L"SilentWithProgress", OtherFolder())), 0u);
  ExpectInstalled(OtherFolder(), ReleaseExe(), kVersion);
  EXPECT_FALSE(Exists(DefaultFolder()));
  RemoveInstallation();

  const std::wstring program_files = KnownFolderPath(FOLDERID_ProgramFiles);
  for (const std::wstring& refused : {program_files.substr(0, 3) + L"Tools\\Quillmere",
                                      KnownFolderPath(FOLDERID_ProgramFilesX86) + L"\\Quillmere"}) {
    SCOPED_TRACE(Narrow(refused));
    const DWORD code = RunSetup(Installer(), Arguments(L"Silent", refused));
    EXPECT_NE(code, 0u);
    EXPECT_EQ(Response(code), L"invalidParameter") << "exit code " << code;
    EXPECT_FALSE(Exists(refused));
    EXPECT_FALSE(EntryExists());
    EXPECT_FALSE(Exists(Shortcut()));
  }
}

// winget --interactive shows the wizard (the manifest has no switch for it);
// leaving it through Cancel ends with the code the manifest declares as
// cancelled by the user.
TEST_F(Winget, CancelInTheWizardEndsWithTheCodeDeclaredForIt) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION setup = {};
  std::wstring line = Quoted(Installer());
  if (!facts_[L"Interactive"].empty()) line += L" " + facts_[L"Interactive"];
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &setup));
  HWND wizard = WaitForWizard(L"Quillmere Setup");
  ASSERT_NE(wizard, nullptr);
  HWND cancel = GetDlgItem(wizard, IDCANCEL);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(cancel) && IsWindowVisible(cancel); }, 30000));
  PostMessageW(cancel, BM_CLICK, 0, 0);
  // The setup asks whether to quit, in a box of its own: Yes.
  struct Search {
    HWND wizard;
    DWORD process;
    HWND box;
  } search = {wizard, setup.dwProcessId, nullptr};
  ASSERT_TRUE(WaitUntil(
      [&] {
        EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
              Search* search = reinterpret_cast<Search*>(data);
              if (window != search->wizard && ProcessOf(window) == search->process && IsWindowVisible(window) &&
                  GetDlgItem(window, IDYES))
                search->box = window;
              return search->box == nullptr;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.box != nullptr;
      },
      30000))
      << "no question whether to quit";
  PostMessageW(search.box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(search.box, IDYES)));
  DWORD code = 0;
  if (WaitForSingleObject(setup.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(setup.hProcess, &code);
  CloseHandle(setup.hProcess);
  CloseHandle(setup.hThread);
  EXPECT_NE(code, 0u);
  EXPECT_EQ(Response(code), L"cancelledByUser") << "exit code " << code;
  EXPECT_FALSE(Exists(DefaultFolder()));
  EXPECT_FALSE(EntryExists());
}
