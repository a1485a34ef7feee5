// Who may change the exe: the rule over one descriptor, the bus, the top
// folder's owner, and the walk up the exe's path, played and real.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <knownfolders.h>
#include <sddl.h>

#include <map>
#include <string>
#include <vector>

#include "common/exe_trust.h"
#include "tests/support.h"
#include "tests/support/logon_entries.h"

namespace {

struct TrustCase {
  const char* what;
  std::wstring sddl;
  ACCESS_MASK change_rights;
  bool task;       // judged with the administrators, SYSTEM and TrustedInstaller alone trusted
  bool run_value;  // judged with Ann trusted too
};

}  // namespace

// The decision over one descriptor, for the task and for the Run value.
TEST(TrustDecision, OnlyTheOwnerAndGrantsOfTrustedAccountsPass) {
  const std::wstring ann = kAnn, bob = kBob;
  const TrustCase cases[] = {
      {"Program Files' default, as a folder above", kProgramFilesSddl, FOLDER_CHANGE_RIGHTS, true, true},
      {"Program Files' default, as the exe's folder", kProgramFilesSddl, EXE_FOLDER_CHANGE_RIGHTS, true, true},
      {"an installer's folder", kInstalledFolderSddl, EXE_FOLDER_CHANGE_RIGHTS, true, true},
      {"an installer's exe", kInstalledExeSddl, EXE_CHANGE_RIGHTS, true, true},
      {"the drive's root, as a folder above: making folders is harmless", kDriveRootSddl, FOLDER_CHANGE_RIGHTS,
       true, true},
      {"the drive's root as the exe's folder: anyone adds files", kDriveRootSddl, EXE_FOLDER_CHANGE_RIGHTS, false,
       false},
      {"inherited Authenticated Users: Modify", kSharedToolsSddl, FOLDER_CHANGE_RIGHTS, false, false},
      {"another user as owner", L"O:" + bob + L"D:(A;;FA;;;SY)(A;;FA;;;BA)", EXE_CHANGE_RIGHTS, false, false},
      {"the user herself as owner", L"O:" + ann + L"D:(A;;FA;;;SY)(A;;FA;;;BA)", EXE_CHANGE_RIGHTS, false, true},
      {"her own profile's folder", OwnSddl(kAnn), EXE_FOLDER_CHANGE_RIGHTS, false, true},
      {"another user's profile folder", OwnSddl(kBob), FOLDER_CHANGE_RIGHTS, false, false},
      {"the user with Modify", L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301bf;;;" + ann + L")", EXE_CHANGE_RIGHTS, false,
       true},
      {"an explicit WRITE_DAC for another user", L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;WD;;;" + bob + L")",
       FOLDER_CHANGE_RIGHTS, false, false},
      {"an explicit WRITE_OWNER for another user", L"O:BAD:(A;;FA;;;SY)(A;;WO;;;" + bob + L")", EXE_CHANGE_RIGHTS,
       false, false},
      {"delete for everyone", L"O:BAD:(A;;FA;;;SY)(A;;SD;;;WD)", FOLDER_CHANGE_RIGHTS, false, false},
      {"delete child for users", L"O:BAD:(A;;FA;;;SY)(A;;0x40;;;BU)", FOLDER_CHANGE_RIGHTS, false, false},
      {"a deny ACE alone", L"O:BAD:(D;;FA;;;AU)", EXE_CHANGE_RIGHTS, true, true},
      {"a deny after the grant widens nothing", L"O:BAD:(A;;FA;;;AU)(D;;FA;;;AU)", EXE_CHANGE_RIGHTS, false, false},
      {"a deny before the grant is not credited", L"O:BAD:(D;;FA;;;WD)(A;;FA;;;AU)", EXE_CHANGE_RIGHTS, false,
       false},
      {"an inherit-only grant to CREATOR OWNER", L"O:BAD:(A;;FA;;;SY)(A;OICIIO;GA;;;CO)", EXE_FOLDER_CHANGE_RIGHTS,
       true, true},
      {"an inherit-only grant to users", L"O:BAD:(A;;FA;;;SY)(A;OICIIO;FA;;;BU)", EXE_FOLDER_CHANGE_RIGHTS, true,
       true},
      {"CREATOR OWNER on the object itself", L"O:BAD:(A;;FA;;;SY)(A;OI;GA;;;CO)", EXE_FOLDER_CHANGE_RIGHTS, false,
       false},
      {"generic all for users, mapped", L"O:BAD:(A;;GA;;;BU)", EXE_CHANGE_RIGHTS, false, false},
      {"generic write for users, mapped", L"O:BAD:(A;;GW;;;BU)", EXE_CHANGE_RIGHTS, false, false},
      {"generic read and execute for users", L"O:BAD:(A;;GRGX;;;BU)", EXE_CHANGE_RIGHTS, true, true},
      {"generic all for the administrators", L"O:BAD:(A;;GA;;;BA)", EXE_CHANGE_RIGHTS, true, true},
      // FILE_ADD_SUBDIRECTORY on a folder is FILE_APPEND_DATA on a file.
      {"the root's folder right on a file appends", L"O:BAD:(A;;FA;;;SY)(A;;0x4;;;AU)", EXE_CHANGE_RIGHTS, false,
       false},
      {"reading and running for everyone", L"O:SYD:(A;;FA;;;SY)(A;;0x1200a9;;;WD)", EXE_CHANGE_RIGHTS, true, true},
      // With it another account can make the file a reparse point.
      {"the exe's attributes for another user", L"O:BAD:(A;;FA;;;SY)(A;;0x100;;;" + bob + L")", EXE_CHANGE_RIGHTS,
       false, false},
      {"the exe's attributes for the user herself", L"O:BAD:(A;;FA;;;SY)(A;;0x100;;;" + ann + L")", EXE_CHANGE_RIGHTS,
       false, true},
      {"TrustedInstaller's", std::wstring(L"O:") + kTrustedInstaller + L"D:(A;;FA;;;" + kTrustedInstaller + L")",
       EXE_CHANGE_RIGHTS, true, true},
      {"no DACL: anyone may do anything", L"O:BA", EXE_CHANGE_RIGHTS, false, false},
      {"an empty DACL: nobody may", L"O:BAD:", EXE_CHANGE_RIGHTS, true, true},
      {"no owner", L"D:(A;;FA;;;SY)", EXE_CHANGE_RIGHTS, false, false},
  };
  Sid user(kAnn);
  for (const TrustCase& c : cases) {
    SCOPED_TRACE(c.what);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                     nullptr))
        << Narrow(c.sddl);
    EXPECT_EQ(OnlyTrustedMayChange(descriptor, c.change_rights, nullptr), c.task);
    EXPECT_EQ(OnlyTrustedMayChange(descriptor, c.change_rights, user.get()), c.run_value);
    LocalFree(descriptor);
  }
  // A null DACL (which Wine's SDDL does not write) lets anyone do anything.
  Sid administrators(L"S-1-5-32-544");
  SECURITY_DESCRIPTOR null_dacl;
  InitializeSecurityDescriptor(&null_dacl, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorOwner(&null_dacl, administrators.get(), FALSE);
  SetSecurityDescriptorDacl(&null_dacl, TRUE, nullptr, FALSE);
  EXPECT_FALSE(OnlyTrustedMayChange(&null_dacl, EXE_CHANGE_RIGHTS, nullptr));
  EXPECT_FALSE(OnlyTrustedMayChange(&null_dacl, EXE_CHANGE_RIGHTS, user.get()));
  SetSecurityDescriptorDacl(&null_dacl, FALSE, nullptr, FALSE);
  EXPECT_FALSE(OnlyTrustedMayChange(&null_dacl, EXE_CHANGE_RIGHTS, user.get())) << "no DACL";
  EXPECT_FALSE(OnlyTrustedMayChange(nullptr, EXE_CHANGE_RIGHTS, user.get()));
  alignas(void*) BYTE garbage[64];
  memset(garbage, 0xA5, sizeof garbage);
  EXPECT_FALSE(OnlyTrustedMayChange(garbage, EXE_CHANGE_RIGHTS, user.get())) << "not a descriptor";
}

namespace {

// A descriptor owned by the administrators whose DACL holds SYSTEM's full
// control and one ACE built byte by byte (SDDL under Wine writes neither
// callback nor object ACEs), or, with a short `ace_size`, an ACE whose SID
// runs past its end.
struct HandBuiltDescriptor {
  SECURITY_DESCRIPTOR descriptor;
  alignas(DWORD) BYTE acl[512];
  Sid administrators{L"S-1-5-32-544"};
  Sid system{L"S-1-5-18"};
  HandBuiltDescriptor(BYTE type, BYTE flags, ACCESS_MASK mask, const wchar_t* sid, size_t extra,
                      WORD shrink = 0) {
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, administrators.get(), FALSE);
    ACL* list = reinterpret_cast<ACL*>(acl);
    InitializeAcl(list, sizeof acl, ACL_REVISION_DS);
    AddAccessAllowedAce(list, ACL_REVISION_DS, FILE_ALL_ACCESS, system.get());
    Sid grantee(sid);
    // Header and mask, then (object ACEs) flags and one GUID, then the SID,
    // then (callback ACEs) the condition's bytes.
    alignas(DWORD) BYTE ace[256] = {};
    size_t at = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);
    bool object = type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
    if (object) {
      DWORD object_flags = ACE_OBJECT_TYPE_PRESENT;
      memcpy(ace + at, &object_flags, sizeof object_flags);
      at += sizeof object_flags + sizeof(GUID);
    }
    DWORD sid_length = GetLengthSid(grantee.get());
    memcpy(ace + at, grantee.get(), sid_length);
    at += sid_length + extra;
    at = (at + 3) & ~size_t{3};
    ACE_HEADER* header = reinterpret_cast<ACE_HEADER*>(ace);
    header->AceType = type;
    header->AceFlags = flags;
    header->AceSize = static_cast<WORD>(at - shrink);
    memcpy(ace + sizeof(ACE_HEADER), &mask, sizeof mask);
    added = AddAce(list, ACL_REVISION_DS, MAXDWORD, ace, header->AceSize) != FALSE;
    SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE);
  }
  bool added = false;
};

}  // namespace

// Callback and object ACEs carry conditions and object types this check
// does not read: they count as granting everything, even read alone. A deny
// of any kind only narrows.
TEST(TrustDecision, AceKindsItDoesNotReadCountAsGrantingEverything) {
  struct Case {
    const char* what;
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    const wchar_t* sid;
    size_t extra;
    WORD shrink;
    bool allowed;
  };
  const Case cases[] = {
      {"a callback grant of reading", ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0, FILE_GENERIC_READ, L"S-1-5-11", 8, 0,
       false},
      {"a callback grant to the administrators", ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0, FILE_ALL_ACCESS,
       L"S-1-5-32-544", 8, 0, false},
      {"an object grant of reading", ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, FILE_GENERIC_READ, L"S-1-5-11", 0, 0, false},
      {"a callback object grant", ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, 0, FILE_GENERIC_READ, L"S-1-5-11", 8, 0,
       false},
      {"an inherit-only callback grant", ACCESS_ALLOWED_CALLBACK_ACE_TYPE, INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE,
       FILE_ALL_ACCESS, L"S-1-5-11", 8, 0, false},
      {"an audit ACE where a grant belongs", SYSTEM_AUDIT_ACE_TYPE, 0, FILE_ALL_ACCESS, L"S-1-5-11", 0, 0, false},
      {"a callback deny", ACCESS_DENIED_CALLBACK_ACE_TYPE, 0, FILE_ALL_ACCESS, L"S-1-5-11", 8, 0, true},
      {"an object deny", ACCESS_DENIED_OBJECT_ACE_TYPE, 0, FILE_ALL_ACCESS, L"S-1-5-11", 0, 0, true},
      {"a plain grant of reading, built the same way", ACCESS_ALLOWED_ACE_TYPE, 0, FILE_GENERIC_READ, L"S-1-5-11", 0,
       0, true},
      {"a plain grant whose SID runs past the ACE", ACCESS_ALLOWED_ACE_TYPE, 0, FILE_GENERIC_READ,
       L"S-1-5-21-1111-2222-3333-1001", 0, 8, false},
  };
  Sid user(kAnn);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HandBuiltDescriptor built(c.type, c.flags, c.mask, c.sid, c.extra, c.shrink);
    ASSERT_TRUE(built.added);
    EXPECT_EQ(OnlyTrustedMayChange(&built.descriptor, EXE_CHANGE_RIGHTS, nullptr), c.allowed);
    EXPECT_EQ(OnlyTrustedMayChange(&built.descriptor, EXE_CHANGE_RIGHTS, user.get()), c.allowed);
  }
}

// The topmost folder below a drive's root must be one Windows made: only
// SYSTEM and TrustedInstaller own those.
TEST(TrustDecision, OnlyWindowsOwnTheTopmostFolder) {
  const struct {
    std::wstring sddl;
    bool windows;
  } cases[] = {
      {kProgramFilesSddl, true},
      {L"O:SYD:(A;;FA;;;SY)", true},
      {L"O:BAD:(A;;FA;;;SY)", false},  // an administrator made it
      {OwnSddl(kAnn), false},
      {L"D:(A;;FA;;;SY)", false},  // no owner
  };
  for (const auto& c : cases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                     nullptr));
    EXPECT_EQ(OwnedByWindows(descriptor), c.windows) << Narrow(c.sddl);
    LocalFree(descriptor);
  }
  EXPECT_FALSE(OwnedByWindows(nullptr));
}

TEST(TrustDecision, OnlyDisksThatStayInTheMachineKeepTheTask) {
  struct Case {
    bool read;
    STORAGE_BUS_TYPE bus;
    bool removable_media;
    bool stays;
  };
  const Case cases[] = {
      {true, BusTypeSata, false, true},   {true, BusTypeNvme, false, true},
      {true, BusTypeSas, false, true},    {true, BusTypeScsi, false, true},
      {true, BusTypeRAID, false, true},   {true, BusTypeSpaces, false, true},
      {true, BusTypeUsb, false, false},   {true, BusType1394, false, false},
      {true, BusTypeSd, false, false},    {true, BusTypeMmc, false, false},
      {true, BusTypeiScsi, false, false},  // a disk its target serves on the network
      {true, BusTypeFileBackedVirtual, false, false},
      {true, BusTypeSata, true, false},  // a drive with removable media, fixed or not
      {false, BusTypeSata, false, false},  // the query failed
  };
  for (const Case& c : cases)
    EXPECT_EQ(VolumeStaysPut(c.read, c.bus, c.removable_media), c.stays)
        << c.read << " bus " << c.bus << " removable " << c.removable_media;
}

namespace {


const wchar_t kInstalledExe[] = L"\\\\?\\C:\\Program Files\\Quillmere\\quillmere.exe";
const wchar_t kInstallFolder[] = L"\\\\?\\C:\\Program Files\\Quillmere";
const wchar_t kProgramFiles[] = L"\\\\?\\C:\\Program Files";
const wchar_t kDriveRoot[] = L"\\\\?\\C:\\";
const wchar_t kBobsExe[] = L"\\\\?\\C:\\Users\\Bob\\Downloads\\quillmere.exe";
const wchar_t kAnnsExe[] = L"\\\\?\\C:\\Users\\Ann\\Downloads\\quillmere.exe";
const wchar_t kToolsExe[] = L"\\\\?\\C:\\Tools\\quillmere.exe";

// Windows' own descriptors along the way: the root's, Program Files', the
// Users folder's (everyone reads) and each profile's.
std::map<std::wstring, std::wstring> WindowsDescriptors() {
  std::map<std::wstring, std::wstring> sddl = {
      {kDriveRoot, kDriveRootSddl},
      {kProgramFiles, kProgramFilesSddl},
      {L"\\\\?\\C:\\Users", L"O:SYG:SYD:PAI(A;OICIIO;GA;;;SY)(A;;FA;;;SY)(A;OICIIO;GA;;;BA)(A;;FA;;;BA)"
                            L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;;0x1200a9;;;WD)(A;OICIIO;GXGR;;;WD)"},
      {L"\\\\?\\C:\\Tools", kSharedToolsSddl},
      {kToolsExe, L"O:" + std::wstring(kAnn) + L"D:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)"
                                               L"(A;ID;0x1301bf;;;AU)"},
  };
  for (const wchar_t* user : {kAnn, kBob}) {
    const wchar_t* name = user == kAnn ? L"Ann" : L"Bob";
    std::wstring home = std::wstring(L"\\\\?\\C:\\Users\\") + name;
    sddl[home] = OwnSddl(user);
    sddl[home + L"\\Downloads"] = OwnSddl(user);
    sddl[home + L"\\Downloads\\quillmere.exe"] = OwnSddl(user);
  }
  return sddl;
}

}  // namespace

// The exe, its folder and every folder up to the drive's root are read, in
// that order, and each judged with its level's change rights: the task
// takes an exe only the administrators can change, the Run value one that
// the user can change too.
TEST(TaskExeJudgement, EachEntryGetsOnlyAnExeItsTrustedAccountsAloneCanChange) {
  struct Case {
    const char* what;
    const wchar_t* exe;
    std::map<std::wstring, std::wstring> changed;  // descriptors that differ from Windows' own
    bool run_value;
    bool task;
  };
  const std::wstring bob = kBob;
  const Case cases[] = {
      {"installed in Program Files", kInstalledExe, {}, true, true},
      {"in Bob's Downloads, Ann's the process: Bob can replace it", kBobsExe, {}, false, false},
      {"in her own Downloads", kAnnsExe, {}, true, false},
      {"in a folder Authenticated Users may change", kToolsExe, {}, false, false},
      {"moved into Program Files with her own permissions", kInstalledExe, {{kInstalledExe, OwnSddl(kAnn)}}, true,
       false},
      {"moved into Program Files from Bob's folder", kInstalledExe, {{kInstalledExe, OwnSddl(kBob)}}, false, false},
      {"the install folder lets Bob add files", kInstalledExe,
       {{kInstallFolder, kInstalledFolderSddl + L"(A;;0x2;;;" + bob + L")"}}, false, false},
      {"Program Files lets Bob change its permissions", kInstalledExe,
       {{kProgramFiles, kProgramFilesSddl + L"(A;;WD;;;" + bob + L")"}}, false, false},
      {"the root lets users delete what is in it", kInstalledExe,
       {{kDriveRoot, kDriveRootSddl + L"(A;;0x40;;;BU)"}}, false, false},
      {"the exe in the root, where users make folders", L"\\\\?\\C:\\quillmere.exe", {}, false, false},
      // A folder an administrator made in the root can be deleted and made
      // again by any user: the Run value keeps it, the task does not.
      {"installed in a folder of the administrators' in the root", L"\\\\?\\C:\\Apps\\Quillmere\\quillmere.exe",
       {{L"\\\\?\\C:\\Apps", kInstalledFolderSddl}, {L"\\\\?\\C:\\Apps\\Quillmere", kInstalledFolderSddl}}, true, false},
      {"installed in a folder SYSTEM owns in the root", L"\\\\?\\C:\\Apps\\Quillmere\\quillmere.exe",
       {{L"\\\\?\\C:\\Apps", L"O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)"},
        {L"\\\\?\\C:\\Apps\\Quillmere", kInstalledFolderSddl}},
       true, true},
      {"Program Files made over by the administrators", kInstalledExe,
       {{kProgramFiles, L"O:BA" + kProgramFilesSddl.substr(kProgramFilesSddl.find(L"G:"))}}, true, false},
      {"a path without the prefix is judged the same", L"C:\\Program Files\\Quillmere\\quillmere.exe", {}, true,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    played_exe_access = PlayedExeAccess{};
    played_exe_access.sddl = WindowsDescriptors();
    for (const auto& [path, sddl] : c.changed) played_exe_access.sddl[path] = sddl;
    Sid user(kAnn);
    ExeTrust trust = JudgeExe(c.exe, user.get(), kPlayedExeTrust);
    EXPECT_EQ(trust.run_value, c.run_value);
    EXPECT_EQ(trust.task, c.task);
    ASSERT_FALSE(played_exe_access.asked.empty());
    if (!c.run_value) continue;
    // Every level was read, bottom up.
    std::vector<std::wstring> levels;
    std::wstring level = c.exe;
    if (level.rfind(L"\\\\?\\", 0) != 0) level = L"\\\\?\\" + level;
    for (;;) {
      levels.push_back(level);
      if (level.size() <= 7) break;
      size_t slash = level.rfind(L'\\');
      level = slash == 6 ? level.substr(0, 7) : level.substr(0, slash);
    }
    ASSERT_EQ(played_exe_access.asked.size(), levels.size());
    for (size_t i = 0; i < levels.size(); ++i) {
      EXPECT_EQ(played_exe_access.asked[i].path, levels[i]);
      EXPECT_EQ(played_exe_access.asked[i].folder, i > 0) << Narrow(levels[i]);
    }
    EXPECT_EQ(played_exe_access.drive_asked, std::wstring(1, levels[0][4]) + L":\\");
    EXPECT_EQ(played_exe_access.volume_asked, std::wstring(L"\\\\.\\") + levels[0][4] + L":");
  }
}

// A disk on a bus for carrying, or one whose bus cannot be told, keeps the
// task away and leaves the Run value to the permissions.
TEST(TaskExeJudgement, ADiskThatLeavesTheMachineGetsNoTask) {
  struct Case {
    const char* what;
    bool read;
    STORAGE_BUS_TYPE bus;
    bool removable_media;
    bool task;
  };
  const Case cases[] = {
      {"SATA", true, BusTypeSata, false, true},        {"NVMe", true, BusTypeNvme, false, true},
      {"a USB hard disk", true, BusTypeUsb, false, false}, {"FireWire", true, BusType1394, false, false},
      {"an SD card", true, BusTypeSd, false, false},   {"an MMC card", true, BusTypeMmc, false, false},
      {"an iSCSI disk", true, BusTypeiScsi, false, false},
      {"removable media", true, BusTypeSata, true, false}, {"not told", false, BusTypeSata, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    played_exe_access = PlayedExeAccess{};
    played_exe_access.sddl = WindowsDescriptors();
    played_exe_access.bus_read = c.read;
    played_exe_access.bus = c.bus;
    played_exe_access.removable_media = c.removable_media;
    Sid user(kAnn);
    ExeTrust trust = JudgeExe(kInstalledExe, user.get(), kPlayedExeTrust);
    EXPECT_TRUE(trust.run_value);
    EXPECT_EQ(trust.task, c.task);
  }
}

TEST(TaskExeJudgement, WhatCannotBeToldKeepsBothAway) {
  struct Case {
    const char* what;
    std::wstring exe;
    UINT drive_type;
    const wchar_t* unreadable;
    bool user;
  };
  const Case cases[] = {
      {"a descriptor further up cannot be read", kInstalledExe, DRIVE_FIXED, kProgramFiles, true},
      {"the exe's descriptor cannot be read (or it is a link)", kInstalledExe, DRIVE_FIXED, kInstalledExe, true},
      {"the root's descriptor cannot be read", kInstalledExe, DRIVE_FIXED, kDriveRoot, true},
      {"the process user is unknown", kInstalledExe, DRIVE_FIXED, nullptr, false},
      // Taken away, such a drive can be changed on any machine.
      {"a removable drive", kInstalledExe, DRIVE_REMOVABLE, nullptr, true},
      {"a network drive", kInstalledExe, DRIVE_REMOTE, nullptr, true},
      {"a RAM disk", kInstalledExe, DRIVE_RAMDISK, nullptr, true},
      {"a drive the system does not know", kInstalledExe, DRIVE_NO_ROOT_DIR, nullptr, true},
      // A share's permissions are the server's.
      {"a share", L"\\\\?\\UNC\\server\\share\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a share without the prefix", L"\\\\server\\share\\Quillmere\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a device path", L"\\\\.\\C:\\Program Files\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a volume path", L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume2\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a relative path", L"Program Files\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a drive-relative path", L"C:Program Files\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a climb out", L"\\\\?\\C:\\Program Files\\..\\Users\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a dot", L"\\\\?\\C:\\Program Files\\.\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"forward slashes", L"\\\\?\\C:\\Program Files/../Users/quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"an empty component", L"\\\\?\\C:\\Program Files\\\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a stream", L"\\\\?\\C:\\Program Files\\quillmere.exe:stream", DRIVE_FIXED, nullptr, true},
      {"the root itself", L"\\\\?\\C:\\", DRIVE_FIXED, nullptr, true},
      {"no path", L"", DRIVE_FIXED, nullptr, true},
      {"longer than a normalised path can be", L"\\\\?\\C:\\" + std::wstring(300, L'a') + L"\\quillmere.exe",
       DRIVE_FIXED, nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    played_exe_access = PlayedExeAccess{};
    played_exe_access.sddl = WindowsDescriptors();
    played_exe_access.drive_type = c.drive_type;
    if (c.unreadable) played_exe_access.unreadable.insert(c.unreadable);
    Sid user(kAnn);
    ExeTrust trust = JudgeExe(c.exe.c_str(), c.user ? user.get() : nullptr, kPlayedExeTrust);
    EXPECT_FALSE(trust.run_value);
    EXPECT_FALSE(trust.task);
  }
  played_exe_access = PlayedExeAccess{};
  Sid user(kAnn);
  ExeTrust trust = JudgeExe(nullptr, user.get(), kPlayedExeTrust);
  EXPECT_FALSE(trust.run_value || trust.task);
  EXPECT_TRUE(played_exe_access.asked.empty());
}

namespace {

// A file made for the test, and its folder, removed again.
struct ScratchFile {
  std::wstring folder;
  std::wstring path;
  ScratchFile(const std::wstring& folder_path, const wchar_t* name) : folder(folder_path), path(folder_path + name) {
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteFileBytes(path, "MZ");
  }
  ~ScratchFile() {
    DeleteFileW(path.c_str());
    RemoveDirectoryW(folder.c_str());
  }
};

bool OwnerIs(PSECURITY_DESCRIPTOR descriptor, PSID sid) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner && EqualSid(owner, sid);
}

}  // namespace

// The real calls under Wine, which reports every file and folder as its
// user's: an installed copy in Program Files gets the Run value and no
// task there. (On Windows a copy an administrator installed is the
// administrators' and gets both; the tables above show that decision.)
TEST(TaskExeJudgement, RealChecksReadTheOwnerAndFindAnInstalledCopyTheUsersUnderWine) {
  ProcessUser user;
  ASSERT_TRUE(IsValidSid(user.get()));
  ScratchFile file(KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Quillmere Test Folder", L"\\quillmere.exe");
  wchar_t normalized[NORMALIZED_PATH_CAPACITY];
  ASSERT_TRUE(NormalizeExistingPath(normalized, file.path.c_str()));
  const std::wstring folder = L"\\\\?\\" + file.folder;

  SecurityBuffer descriptor;
  ASSERT_TRUE(kSystemExeTrustPlatform.read_security(normalized, false, descriptor));
  EXPECT_TRUE(OwnerIs(descriptor.bytes, user.get())) << "Wine makes every file its user's";
  ASSERT_TRUE(kSystemExeTrustPlatform.read_security(folder.c_str(), true, descriptor));
  EXPECT_TRUE(OwnerIs(descriptor.bytes, user.get()));
  EXPECT_TRUE(kSystemExeTrustPlatform.read_security(L"\\\\?\\C:\\", true, descriptor));
  EXPECT_EQ(kSystemExeTrustPlatform.drive_type(L"C:\\"), static_cast<UINT>(DRIVE_FIXED));
  STORAGE_BUS_TYPE bus = BusTypeUnknown;
  bool removable_media = true;
  ASSERT_TRUE(kSystemExeTrustPlatform.read_bus(L"\\\\.\\C:", bus, removable_media)) << "the system disk's bus";
  EXPECT_TRUE(VolumeStaysPut(true, bus, removable_media)) << "bus " << bus;
  ExeTrust trust = JudgeExe(normalized, user.get(), kSystemExeTrustPlatform);
  EXPECT_TRUE(trust.run_value);
  EXPECT_FALSE(trust.task);

  // Asked as the wrong kind of object, or for one that is not there, nothing
  // is read.
  EXPECT_FALSE(kSystemExeTrustPlatform.read_security(normalized, true, descriptor));
  EXPECT_FALSE(kSystemExeTrustPlatform.read_security(folder.c_str(), false, descriptor));
  EXPECT_FALSE(kSystemExeTrustPlatform.read_security((folder + L"\\missing.exe").c_str(), false, descriptor));
  EXPECT_FALSE(kSystemExeTrustPlatform.read_bus(L"\\\\.\\Quillmere Missing", bus, removable_media));
}

// Both entries start the long, normalised path that was judged.
TEST(TaskExeJudgement, ShortNamesAreJudgedAndStartedAsTheirLongForm) {
  ScratchFile file(KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Quillmere Test Folder", L"\\quillmere.exe");
  wchar_t short_path[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameW(file.path.c_str(), short_path, MAX_PATH), 0u);
  ASSERT_EQ(std::wstring(short_path).find(L"Quillmere Test Folder"), std::wstring::npos)
      << "the system gave no 8.3 name: " << Narrow(short_path);

  wchar_t from_long[NORMALIZED_PATH_CAPACITY], from_short[NORMALIZED_PATH_CAPACITY];
  ASSERT_TRUE(NormalizeExistingPath(from_long, file.path.c_str()));
  ASSERT_TRUE(NormalizeExistingPath(from_short, short_path));
  EXPECT_STREQ(from_short, from_long);
  EXPECT_EQ(std::wstring(from_long), L"\\\\?\\" + file.path);

  Sid user(kAnn);
  for (const wchar_t* path : {file.path.c_str(), static_cast<const wchar_t*>(short_path)}) {
    played_exe_access = PlayedExeAccess{};
    wchar_t plain[MAX_PATH];
    ExeTrust trust = {};
    ASSERT_TRUE(TrustedExePath(plain, trust, path, user.get(), kPlayedExeTrust)) << Narrow(path);
    EXPECT_TRUE(trust.run_value && trust.task);
    EXPECT_EQ(std::wstring(plain), file.path) << "the entries start the long name";
    ASSERT_FALSE(played_exe_access.asked.empty());
    EXPECT_EQ(played_exe_access.asked[0].path, L"\\\\?\\" + file.path) << "the long name was judged";
  }
  // Refused: nothing to start.
  played_exe_access = PlayedExeAccess{};
  played_exe_access.sddl[L"\\\\?\\" + file.path] = OwnSddl(kBob);
  wchar_t plain[MAX_PATH];
  wmemset(plain, L'#', MAX_PATH);
  ExeTrust trust = {1, 1};
  EXPECT_FALSE(TrustedExePath(plain, trust, file.path.c_str(), user.get(), kPlayedExeTrust));
  EXPECT_STREQ(plain, L"");
  EXPECT_FALSE(trust.run_value || trust.task);
}

TEST(TaskExeJudgement, AnExeThatIsNotThereIsRefused) {
  std::wstring program_files = KnownFolderPath(FOLDERID_ProgramFiles);
  Sid user(kAnn);
  for (const std::wstring& path : {program_files + L"\\Quillmere Missing\\quillmere.exe",
                                   program_files + L"\\..\\Quillmere Test\\quillmere.exe", std::wstring()}) {
    played_exe_access = PlayedExeAccess{};
    wchar_t plain[MAX_PATH];
    wmemset(plain, L'#', MAX_PATH);
    ExeTrust trust = {1, 1};
    EXPECT_FALSE(TrustedExePath(plain, trust, path.c_str(), user.get(), kPlayedExeTrust)) << Narrow(path);
    EXPECT_STREQ(plain, L"");
    EXPECT_TRUE(played_exe_access.asked.empty());
  }
}
