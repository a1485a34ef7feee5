// Who may change an exe: the rule that decides whether a program may be
// started from a path without a prompt, by the owners and permissions of
// the exe, its folder and every folder above it, and by the disk it is on.
// It reads descriptors and disks through ExeTrustPlatform and decides with
// plain functions; what is then started, and how, is its callers'.
#pragma once

#include <windows.h>
#include <winioctl.h>

// Room for a path of MAX_PATH characters with its "\\?\UNC\" prefix.
constexpr size_t NORMALIZED_PATH_CAPACITY = MAX_PATH + 8;
// The name the file system keeps for an existing file or folder (8.3 names,
// "..", links and junctions resolved), as "\\?\C:\..." or "\\?\UNC\...".
// False (and empty) when it cannot be opened or the name does not fit.
bool NormalizeExistingPath(wchar_t (&normalized)[NORMALIZED_PATH_CAPACITY], const wchar_t* path);

// An exe started at logon runs as its user, elevated without a prompt for
// a task, so it may be started only when no account but trusted ones can
// change it. These are the rights that would let one: on the exe, writing
// it or changing its permissions or owner, deleting (or renaming) it, or
// setting a reparse point on it, which the file system allows a holder of
// write-data or write-attributes...
constexpr ACCESS_MASK EXE_CHANGE_RIGHTS =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | WRITE_DAC | WRITE_OWNER | DELETE;
// ...in its folder, adding files or folders beside it (a DLL the loader
// would take), deleting what is in it, and the folder's own permissions,
// owner and name...
constexpr ACCESS_MASK EXE_FOLDER_CHANGE_RIGHTS =
    FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | DELETE;
// ...and in every folder above it up to the drive's root, whatever lets a
// folder on the way be renamed or removed, or its permissions or owner be
// changed. Adding new entries there cannot change the exe's path: the drive
// root lets every user make folders in it on a standard Windows.
constexpr ACCESS_MASK FOLDER_CHANGE_RIGHTS = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | DELETE;

// Whether nobody but SYSTEM, BUILTIN\Administrators, TrustedInstaller and
// `user` (null: nobody else) can do any of `change_rights` to the object
// with this descriptor: the owner is one of them (an owner may always change
// the permissions), and no allow ACE that applies to the object itself (not
// inherit-only) grants any of them, generic rights mapped as for files, to
// anyone else. Deny ACEs are passed over (they only take rights away); any
// other kind of ACE, a callback or object one included, counts as granting
// everything to someone else. False too for no DACL (everyone may do
// anything) or a descriptor, ACL or SID that is not well formed.
bool OnlyTrustedMayChange(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK change_rights, PSID user);

// Whether a volume on this bus keeps its files where only this machine's
// accounts reach them: not when the query failed (`read` false), the media
// is removable, or the disk sits on a bus for disks that are carried away
// (USB, FireWire, SD, MMC), is served over the network (iSCSI) or is a disk
// image.
bool VolumeStaysPut(bool read, STORAGE_BUS_TYPE bus, bool removable_media);
// Whether the descriptor's owner is SYSTEM or TrustedInstaller, as for the
// folders Windows makes below a drive's root (Program Files, Windows); false
// for any other owner and for a descriptor that is not well formed.
bool OwnedByWindows(PSECURITY_DESCRIPTOR descriptor);

// Room for any security descriptor the judgement reads; a larger one counts
// as unreadable.
struct SecurityBuffer {
  alignas(void*) BYTE bytes[16384];
};

// What the judgement asks of the system, so that tests can play
// permissions and disks. The program always hands over
// kSystemExeTrustPlatform.
struct ExeTrustPlatform {
  UINT(WINAPI* drive_type)(LPCWSTR root);
  // The owner and DACL of the file (or, with `folder`, the folder) at
  // `path` ("\\?\C:\..."), through a handle opened on the object itself,
  // never through a link, as a self-relative descriptor in `buffer`. False
  // when it cannot be opened as that kind of object or its descriptor
  // cannot be read or does not fit.
  bool (*read_security)(const wchar_t* path, bool folder, SecurityBuffer& buffer);
  // The bus of the disk behind `volume` ("\\.\C:") and whether its media
  // is removable (IOCTL_STORAGE_QUERY_PROPERTY); false when not told.
  bool (*read_bus)(const wchar_t* volume, STORAGE_BUS_TYPE& bus, bool& removable_media);
};
extern const ExeTrustPlatform kSystemExeTrustPlatform;

// Which entries may start the exe at the normalised path `normalized`
// ("\\?\C:\..."), for the process user `user`. Both need a fixed drive
// (one that cannot be taken away and changed elsewhere; no network share)
// and each level (the exe, its folder, each folder up to and including the
// drive's root) judged by OnlyTrustedMayChange with that level's change
// rights: the Run value with `user` trusted, the task without, and the task
// also needs a volume that stays put (VolumeStaysPut) and the topmost folder
// below the root owned by Windows (OwnedByWindows; none, for an exe at the
// root, is refused). Neither when anything of it cannot be told.
struct ExeTrust {
  bool run_value;
  bool task;
};
ExeTrust JudgeExe(const wchar_t* normalized, PSID user, const ExeTrustPlatform& platform);
// The exe's normalised path in plain form ("C:\...") and what it may get,
// when it may get the Run value at least; false (empty, neither) otherwise.
bool TrustedExePath(wchar_t (&plain)[MAX_PATH], ExeTrust& trust, const wchar_t* module_path, PSID user,
                    const ExeTrustPlatform& platform);
