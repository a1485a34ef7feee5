// The program folder and its checked files: paths, link checks, and the
// folder and files opened through them.
#include <gtest/gtest.h>

#include <string>

#include "common/files.h"
#include "common/user_rights.h"
#include "clean/clean.h"
#include "settings/settings.h"
#include "tests/support.h"

TEST(JoinPath, CutPathsAreRefused) {
  struct Case {
    size_t folder_length;
    bool whole;
  };
  const std::wstring name = L"clean.log";
  // folder, backslash, name and the terminator in 260 characters
  const Case cases[] = {{20, true}, {259 - 1 - 9, true}, {260 - 1 - 9, false}, {259, false}, {300, false}};
  for (const Case& c : cases) {
    std::wstring folder = L"C:\\" + std::wstring(c.folder_length - 3, L'u');
    wchar_t path[MAX_PATH + 1];
    wmemset(path, L'#', MAX_PATH + 1);
    EXPECT_EQ(JoinPath(reinterpret_cast<wchar_t(&)[MAX_PATH]>(path), folder.c_str(), name.c_str()), c.whole)
        << c.folder_length;
    EXPECT_EQ(std::wstring(path), c.whole ? folder + L"\\" + name : L"") << c.folder_length;
    EXPECT_EQ(path[MAX_PATH], L'#') << "wrote past the buffer";
  }
}

// The roaming folder's path comes from the user's registry: only a drive's
// or a share's folder is gone into.
TEST(AppDataFolder, OnlyADrivesOrAShareFolderIsGoneInto) {
  struct Case {
    const wchar_t* path;
    bool taken;
  };
  const Case cases[] = {
      {L"C:\\Users\\ann\\AppData\\Roaming", true},
      {L"z:\\x", true},
      {L"\\\\server\\home\\ann\\AppData\\Roaming", true},
      {L"\\\\server\\home", true},
      // A hidden share cannot be told from an administrative one by its name.
      {L"\\\\fs01.corp.example\\users$\\ann", false},
      {L"\\\\server\\pipes\\ann", true},  // only the namespace's own name is refused
      {nullptr, false},
      {L"", false},
      {L"C:", false},
      {L"C:\\", false},
      {L"C:x", false},
      {L"1:\\x", false},
      {L"Users\\ann", false},
      {L"\\Users\\ann", false},
      {L"C:\\Users\\ann\\", false},
      {L"C:/Users/ann", false},
      {L"C:\\Users/ann", false},
      {L"//server/home/ann", false},
      {L"\\\\?\\C:\\Users\\ann", false},
      {L"\\\\?\\UNC\\server\\home", false},
      {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x", false},
      {L"\\??\\C:\\Users\\ann", false},
      {L"\\\\.\\pipe\\quillmere", false},
      {L"\\\\.\\C:\\Users\\ann", false},
      {L"\\\\server\\pipe\\quillmere", false},
      {L"\\\\server\\PIPE", false},
      {L"\\\\server\\mailslot\\x", false},
      {L"\\\\server", false},
      {L"\\\\server\\", false},
      {L"\\\\\\home\\ann", false},
      {L"\\\\server\\\\ann", false},
      // Administrative shares, and this machine through a share.
      {L"\\\\server\\C$\\Users\\ann", false},
      {L"\\\\server\\ADMIN$\\x", false},
      {L"\\\\server\\home$x\\ann", true},  // only a last "$" marks one
      {L"\\\\localhost\\home\\ann", false},
      {L"\\\\LOCALHOST.\\home\\ann", false},
      {L"\\\\127.0.0.1\\home\\ann", false},
      {L"\\\\127.1\\home\\ann", false},
      {L"\\\\0.0.0.0\\home\\ann", false},
      {L"\\\\10.127.0.1\\home\\ann", true},
      {L"\\\\127.example.org\\home\\ann", true},
      {L"\\\\::1\\home\\ann", false},
      {L"\\\\[::1]\\home\\ann", false},
      {L"\\\\0--1.ipv6-literal.net\\home\\ann", false},
      {L"\\\\WS042\\home\\ann", false},
      {L"\\\\ws042\\home\\ann", false},
      {L"\\\\ws042.corp.example\\home\\ann", false},
      {L"\\\\ws0421\\home\\ann", true},
  };
  MachineNames own = {};
  wcscpy(own.names[0], L"WS042");
  wcscpy(own.names[1], L"ws042");
  wcscpy(own.names[2], L"ws042.corp.example");
  for (const Case& c : cases)
    EXPECT_EQ(IsDriveOrSharePath(c.path, own), c.taken) << (c.path ? Narrow(c.path) : "(null)");
}

TEST(CheckedFiles, FinalPathMustNameWhatWasAskedFor) {
  struct Case {
    const wchar_t* final_path;
    const wchar_t* expected;
    bool same;
  };
  const Case cases[] = {
      {L"\\\\?\\C:\\Users\\ann\\AppData\\Roaming\\Quillmere", L"C:\\Users\\ann\\AppData\\Roaming\\Quillmere", true},
      {L"\\\\?\\C:\\users\\ANN\\appdata\\roaming\\quillmere", L"C:\\Users\\ann\\AppData\\Roaming\\Quillmere", true},
      {L"C:\\q\\config.ini", L"C:\\q\\config.ini", true},
      {L"\\\\?\\UNC\\server\\home\\ann\\Quillmere", L"\\\\server\\home\\ann\\Quillmere", true},
      // A junction or link somewhere on the way.
      {L"\\\\?\\C:\\Windows\\System32\\Quillmere", L"C:\\Users\\ann\\AppData\\Roaming\\Quillmere", false},
      {L"\\\\?\\D:\\Users\\ann\\AppData\\Roaming\\Quillmere", L"C:\\Users\\ann\\AppData\\Roaming\\Quillmere", false},
      {L"\\\\?\\C:\\q\\config.ini.new", L"C:\\q\\config.ini", false},
      {L"\\\\?\\C:\\q\\config.in", L"C:\\q\\config.ini", false},
      {L"\\\\?\\UNC\\server\\home\\ann\\Quillmere", L"C:\\server\\home\\ann\\Quillmere", false},
      {L"\\\\?\\C:\\q", L"", false},
      {L"", L"C:\\q", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FinalPathIs(c.final_path, c.expected), c.same) << Narrow(c.final_path) << " vs " << Narrow(c.expected);
}

TEST(CheckedFiles, OnlyPlainEntriesAreGoneThrough) {
  struct Case {
    DWORD attributes;
    DWORD links;
    bool folder;
    bool plain;
  };
  const Case cases[] = {
      {FILE_ATTRIBUTE_ARCHIVE, 1, false, true},
      {FILE_ATTRIBUTE_NORMAL, 1, false, true},
      {FILE_ATTRIBUTE_ARCHIVE, 2, false, false},  // a hard link to some other file
      {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, 1, false, false},
      {FILE_ATTRIBUTE_DIRECTORY, 1, false, false},
      {FILE_ATTRIBUTE_DIRECTORY, 1, true, true},
      {FILE_ATTRIBUTE_DIRECTORY, 3, true, true},  // a folder's link count says nothing
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 1, true, false},  // a junction
      {FILE_ATTRIBUTE_ARCHIVE, 1, true, false},
  };
  for (const Case& c : cases) {
    BY_HANDLE_FILE_INFORMATION information = {};
    information.dwFileAttributes = c.attributes;
    information.nNumberOfLinks = c.links;
    EXPECT_EQ(IsPlainEntry(information, c.folder), c.plain) << std::hex << c.attributes << " links " << c.links;
  }
}

namespace {

// A folder of its own under the roaming folder, removed with whatever it
// holds before and after each test, so that a test that fails with files
// left in it fails alone.
class OpeningWithoutLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetPlayedFiles();
    wchar_t app_data[MAX_PATH];
    ASSERT_EQ(GetAppDataFolder(app_data, UserToken(), kSystemFilePlatform), APP_FOLDER_FOUND);
    parent_ = app_data;
    folder_ = parent_ + L"\\quillmere-checked";
    DeleteFolder(folder_);
  }
  void TearDown() override {
    EXPECT_TRUE(played.open.empty()) << "every handle closed";
    DeleteFolder(folder_);
  }
  std::wstring parent_, folder_;
};

}  // namespace

TEST_F(OpeningWithoutLinks, MadeInAPlainParentAndHeldAgainstRenaming) {
  CheckedFolder folder;
  EXPECT_EQ(OpenCheckedFolder(folder, folder_.c_str(), false, kPlayedFilePlatform), CHECKED_FOLDER_MISSING);
  EXPECT_EQ(folder.handle, INVALID_HANDLE_VALUE);
  ASSERT_EQ(OpenCheckedFolder(folder, folder_.c_str(), true, kPlayedFilePlatform), CHECKED_FOLDER_OPEN);
  EXPECT_EQ(std::wstring(folder.path), folder_);
  // While held it cannot be moved away and a link put in its place.
  std::wstring moved = folder_ + L"-moved";
  EXPECT_FALSE(MoveFileExW(folder_.c_str(), moved.c_str(), 0));
  EXPECT_FALSE(RemoveDirectoryW(folder_.c_str()));
  CloseCheckedFolder(folder, kPlayedFilePlatform);
  // An existing folder opens again, with or without making it.
  for (bool create : {false, true}) {
    ASSERT_EQ(OpenCheckedFolder(folder, folder_.c_str(), create, kPlayedFilePlatform), CHECKED_FOLDER_OPEN) << create;
    CloseCheckedFolder(folder, kPlayedFilePlatform);
  }
}

TEST_F(OpeningWithoutLinks, LinksOnTheWayAreRefused) {
  struct Case {
    PlantedLink link;
    bool made;  // the folder is made before the check refuses it
  };
  const Case cases[] = {
      {{"the folder is a junction", folder_, L"", L""}, true},
      {{"the parent is a junction", parent_, L"", L""}, false},
      {{"the folder resolves elsewhere", L"", folder_, L"C:\\windows"}, true},
      {{"the parent resolves elsewhere", L"", parent_, L"C:\\windows"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link.what);
    RemoveDirectoryW(folder_.c_str());
    PlantLink(c.link);
    CheckedFolder folder;
    EXPECT_EQ(OpenCheckedFolder(folder, folder_.c_str(), true, kPlayedFilePlatform), CHECKED_FOLDER_REFUSED);
    EXPECT_EQ(folder.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileAttributesW(folder_.c_str()) != INVALID_FILE_ATTRIBUTES, c.made);
    EXPECT_TRUE(played.open.empty());
  }
}

TEST_F(OpeningWithoutLinks, FilesAreOpenedOnlyWhenPlainAndWhereAskedFor) {
  CheckedFolder folder;
  ASSERT_EQ(OpenCheckedFolder(folder, folder_.c_str(), true, kPlayedFilePlatform), CHECKED_FOLDER_OPEN);
  std::wstring file = folder_ + L"\\a.txt";
  std::wstring other = folder_ + L"\\b.txt";
  ASSERT_TRUE(WriteFileBytes(file, "a"));
  BY_HANDLE_FILE_INFORMATION information;
  bool missing = true;
  HANDLE handle = OpenCheckedFile(folder, L"a.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, information, missing,
                                  kPlayedFilePlatform);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(missing);
  EXPECT_EQ(information.nNumberOfLinks, 1u);
  if (handle != INVALID_HANDLE_VALUE) kPlayedFilePlatform.close_handle(handle);

  handle = OpenCheckedFile(folder, L"none.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, information, missing,
                           kPlayedFilePlatform);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(missing) << "a file that is not there is told from a refused one";

  played.reparse_point = file;
  handle = OpenCheckedFile(folder, L"a.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, information, missing,
                           kPlayedFilePlatform);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(missing);
  played.reparse_point.clear();

  played.moved = file;
  played.moved_to = other;
  handle = OpenCheckedFile(folder, L"a.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, information, missing,
                           kPlayedFilePlatform);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  played.moved.clear();

  ASSERT_TRUE(CreateHardLinkW(other.c_str(), file.c_str(), nullptr));
  handle = OpenCheckedFile(folder, L"a.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, information, missing,
                           kPlayedFilePlatform);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE) << "a file with a second name";
  EXPECT_FALSE(missing);

  CloseCheckedFolder(folder, kPlayedFilePlatform);
  DeleteFileW(file.c_str());
  DeleteFileW(other.c_str());
}

namespace {

// The program folder, and a decoy beside it that plays a folder only
// administrators may change (Wine enforces no permissions: the played calls
// refuse it to the user's token).
class FilesUnderTheUsersRights : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override {
    EXPECT_TRUE(played.open.empty()) << "every handle closed";
    EXPECT_FALSE(ThreadImpersonates());
    DeleteAppFolder();
    DeleteFolder(decoy_);
  }
  void Fresh() {
    ResetPlayedFiles();
    DeleteAppFolder();
    DeleteFolder(decoy_);
    ASSERT_TRUE(CreateDirectoryW(decoy_.c_str(), nullptr));
  }
  // Every call ran while the thread impersonated `token`.
  static void ExpectAllUnder(HANDLE token) {
    ASSERT_FALSE(played.calls.empty());
    for (const PlayedFileCall& call : played.calls) {
      EXPECT_EQ(call.acting_as, token) << call.call << " " << Narrow(call.path);
      EXPECT_TRUE(call.impersonating) << call.call << " " << Narrow(call.path);
    }
  }
  bool DecoyIsEmpty() const {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((decoy_ + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do empty = empty && (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return empty;
  }
  std::wstring folder_ = AppFolder();
  std::wstring decoy_ = AppFolder() + L"-decoy";
  std::wstring config_ = AppFile(L"config.ini");
  std::wstring log_ = AppFile(L"clean.log");
};

Settings Defaults() {
  Settings settings;
  InitDefaultSettings(settings);
  return settings;
}

}  // namespace

// A program of the user empties the folder and makes it a junction right
// after the program checked it, so that every call naming a path in it
// leads into the decoy. Under the user's own token none of them gets there.
TEST_F(FilesUnderTheUsersRights, AFolderTurnedIntoAJunctionAfterItsCheckLeadsNowhere) {
  enum Moment { FIRST_RUN_SAVE, SAVE, LOG_LINE, CONVERTING_LOAD };
  const struct {
    const char* what;
    Moment moment;
  } cases[] = {{"the first run's save", FIRST_RUN_SAVE},
               {"a save", SAVE},
               {"a log line", LOG_LINE},
               {"a load that would convert config.ini", CONVERTING_LOAD}};
  const std::string utf16 = "\xFF\xFE[\0C\0l\0e\0a\0n\0]\0\r\0\n\0";  // "[Clean]\r\n"
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    const std::string old = c.moment == CONVERTING_LOAD ? "[Clean]\r\n" : utf16;
    if (c.moment != FIRST_RUN_SAVE) {
      ASSERT_TRUE(WriteConfig(old));
    }
    played.junction_after_check = folder_;
    played.decoy = decoy_;
    Settings settings = Defaults();
    switch (c.moment) {
      case FIRST_RUN_SAVE:
        EXPECT_FALSE(LoadSettings(settings, kPlayedFilePlatform, UserToken())) << "the first run's save failed";
        break;
      case SAVE:
        EXPECT_FALSE(SaveSettings(settings, kPlayedFilePlatform, UserToken()));
        break;
      case LOG_LINE:
        EXPECT_FALSE(AppendCleanLog(folder_.c_str(), 12.0, 5, kPlayedFilePlatform, UserToken()));
        break;
      case CONVERTING_LOAD:
        EXPECT_TRUE(LoadSettings(settings, kPlayedFilePlatform, UserToken()));
        EXPECT_TRUE(settings.keep_file) << "config.ini refused: no save of this run replaces it";
        EXPECT_TRUE(settings.unread);
        break;
    }
    EXPECT_TRUE(played.junction_made) << "the folder turned after its check";
    ExpectAllUnder(UserToken());
    EXPECT_TRUE(played.decoy_reached.empty()) << played.decoy_reached.front();
    EXPECT_TRUE(DecoyIsEmpty());
    EXPECT_FALSE(ThreadImpersonates()) << "back to its own rights right after";
    if (c.moment != FIRST_RUN_SAVE) {
      EXPECT_EQ(ReadFileBytes(config_), old);
    }
    EXPECT_EQ(GetFileAttributesW(log_.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

// Only values read from config.ini, or the defaults of a first run (no file
// yet), are the user's: whatever stood in for a file that was there but
// could not be read says so, and start at logon is then left alone.
TEST_F(FilesUnderTheUsersRights, TheValuesAreTheUsersOnlyWhenReadOrOnAFirstRun) {
  const std::string utf16 = Utf16File(L"[Clean]\r\nthreshold_percent=70\r\n");
  const std::vector<PlantedLink> links = LinksPlantedAt(folder_, config_);
  struct Case {
    std::string what;
    bool folder;
    std::string config;  // empty: no file
    const PlantedLink* link;
    bool unread;
  };
  std::vector<Case> cases = {
      {"the first run, no folder yet", false, "", nullptr, false},
      {"the first run, an empty folder", true, "", nullptr, false},
      {"a file in UTF-16", true, utf16, nullptr, false},
      {"a file in ANSI, converted", true, "[Clean]\r\nthreshold_percent=70\r\n", nullptr, false},
  };
  for (const PlantedLink& link : links) cases.push_back({"refused: " + link.what, true, utf16, &link, true});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    if (c.folder) {
      ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    }
    if (!c.config.empty()) {
      ASSERT_TRUE(WriteFileBytes(config_, c.config));
    }
    if (c.link) PlantLink(*c.link);
    Settings settings;
    LoadSettings(settings, kPlayedFilePlatform, UserToken());
    EXPECT_EQ(settings.unread, c.unread);
  }
}

// No token could be made, or the thread could not take it: nothing in the
// folder is touched, the load keeps the defaults, and the load (nothing can
// be kept, which the program then tells), saves and log lines answer false.
TEST_F(FilesUnderTheUsersRights, WithoutTheUsersTokenNoFileIsTouched) {
  const struct {
    const char* what;
    HANDLE token;
    bool refused;
    bool config;
  } cases[] = {
      {"no token, no folder yet", nullptr, false, false},
      {"no token, a config.ini", nullptr, false, true},
      {"impersonation refused, no folder yet", UserToken(), true, false},
      {"impersonation refused, a config.ini", UserToken(), true, true},
  };
  const std::string old = "[Clean]\r\nthreshold_percent=90\r\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    if (c.config) {
      ASSERT_TRUE(WriteConfig(old));
    }
    played.refuse_impersonation = c.refused;
    Settings settings;
    memset(&settings, 0xAB, sizeof settings);
    EXPECT_FALSE(LoadSettings(settings, kPlayedFilePlatform, c.token));
    Settings defaults = Defaults();
    defaults.unread = 1;
    EXPECT_EQ(memcmp(&settings, &defaults, sizeof settings), 0) << "the defaults, the file unread";
    settings.threshold_percent = 42;
    EXPECT_FALSE(SaveSettings(settings, kPlayedFilePlatform, c.token));
    EXPECT_FALSE(AppendCleanLog(folder_.c_str(), 12.0, 5, kPlayedFilePlatform, c.token));
    EXPECT_TRUE(played.calls.empty()) << played.calls.front().call;
    if (c.config) {
      EXPECT_EQ(ReadFileBytes(config_), old);
    } else {
      EXPECT_EQ(GetFileAttributesW(folder_.c_str()), INVALID_FILE_ATTRIBUTES) << "no folder made";
    }
    EXPECT_EQ(GetFileAttributesW(log_.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

// The roaming folder is looked up while the thread impersonates the user,
// with the user's token; a path that is no drive's or share's folder (one
// the user's registry may name) means no file work at all, and a load
// that says nothing can be kept.
TEST_F(FilesUnderTheUsersRights, TheRoamingFolderIsLookedUpAsTheUserAndOnlyADriveOrShareIsGoneInto) {
  const struct {
    const char* what;
    std::wstring app_data;
    AppFolderLookup lookup;
  } cases[] = {
      {"the system's answer", L"", APP_FOLDER_FOUND},
      {"a share", L"\\\\server\\home\\ann", APP_FOLDER_FOUND},
      {"a local pipe", L"\\\\.\\pipe\\quillmere", APP_FOLDER_REFUSED},
      {"a server's pipe", L"\\\\localhost\\pipe\\quillmere", APP_FOLDER_REFUSED},
      {"a device path", L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\Users\\ann", APP_FOLDER_REFUSED},
      {"a relative path", L"AppData\\Roaming", APP_FOLDER_REFUSED},
      {"an administrative share", L"\\\\server\\C$\\Users\\ann", APP_FOLDER_REFUSED},
      {"a share on this machine by its name", L"\\\\ws042\\home\\ann", APP_FOLDER_REFUSED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    played.app_data = c.app_data;
    played.machine_name = L"WS042";
    wchar_t path[MAX_PATH];
    wmemset(path, L'#', MAX_PATH);
    EXPECT_EQ(BuildAppFolderPath(path, UserToken(), kPlayedFilePlatform), c.lookup);
    EXPECT_FALSE(ThreadImpersonates());
    ASSERT_EQ(played.calls.size(), 1u);
    EXPECT_EQ(played.calls[0].call, "get_folder_path");
    ExpectAllUnder(UserToken());
    if (c.lookup == APP_FOLDER_FOUND) {
      EXPECT_EQ(std::wstring(path), (c.app_data.empty() ? folder_.substr(0, folder_.rfind(L'\\')) : c.app_data) +
                                        L"\\Quillmere");
      continue;
    }
    EXPECT_EQ(path[0], 0) << "no path to go into";
    ResetPlayedFiles();
    played.app_data = c.app_data;
    played.machine_name = L"WS042";
    Settings settings;
    EXPECT_FALSE(LoadSettings(settings, kPlayedFilePlatform, UserToken())) << "nothing can be kept";
    EXPECT_TRUE(settings.unread) << "the defaults only stand in";
    Settings defaults = Defaults();
    defaults.unread = 1;
    EXPECT_EQ(memcmp(&settings, &defaults, sizeof settings), 0);
    EXPECT_FALSE(SaveSettings(settings, kPlayedFilePlatform, UserToken()));
    for (const PlayedFileCall& call : played.calls) EXPECT_EQ(call.call, "get_folder_path") << "no file work";
    ExpectAllUnder(UserToken());
    EXPECT_EQ(GetFileAttributesW(folder_.c_str()), INVALID_FILE_ATTRIBUTES);
  }
  // Without the user's token nothing is looked up.
  ResetPlayedFiles();
  wchar_t path[MAX_PATH];
  EXPECT_EQ(BuildAppFolderPath(path, nullptr, kPlayedFilePlatform), APP_FOLDER_REFUSED);
  played.refuse_impersonation = true;
  EXPECT_EQ(BuildAppFolderPath(path, UserToken(), kPlayedFilePlatform), APP_FOLDER_REFUSED);
  EXPECT_TRUE(played.calls.empty());
  EXPECT_EQ(path[0], 0);
}

// The token as the program makes it at start: under Wine the program's
// load, save and log line work while the thread impersonates it, and the
// thread has its own rights back after each.
TEST_F(FilesUnderTheUsersRights, LoadSaveAndLogWorkUnderTheRealToken) {
  HANDLE token = MakeUserRightsToken();
  ASSERT_NE(token, nullptr);
  Settings settings;
  EXPECT_TRUE(LoadSettings(settings, kPlayedFilePlatform, token));
  EXPECT_FALSE(ThreadImpersonates());
  EXPECT_EQ(GetPrivateProfileIntW(L"Clean", L"threshold_percent", 0, config_.c_str()), 80u) << "first run wrote";
  settings.threshold_percent = 42;
  EXPECT_TRUE(SaveSettings(settings, kPlayedFilePlatform, token));
  EXPECT_FALSE(ThreadImpersonates());
  Settings loaded;
  EXPECT_TRUE(LoadSettings(loaded, kPlayedFilePlatform, token));
  EXPECT_EQ(loaded.threshold_percent, 42);
  EXPECT_TRUE(AppendCleanLog(folder_.c_str(), 12.0, 5, kPlayedFilePlatform, token));
  EXPECT_FALSE(ThreadImpersonates());
  EXPECT_EQ(LogLines().size(), 1u);
  ExpectAllUnder(token);
  CloseHandle(token);
}
