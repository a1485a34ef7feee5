// Who may change an exe (exe_trust.h): the descriptors of each level of
// its path, read through handles that follow no link, the disk's bus, and
// the rule that judges them.
#include "common/exe_trust.h"

#include <stddef.h>
#include <string.h>
#include <wchar.h>
#include <aclapi.h>

#include "common/text.h"

namespace {

bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
  for (; *prefix; ++text, ++prefix)
    if (*text != *prefix) return false;
  return true;
}

// A drive path as the check walks it, "X:\..." with any "\\?\" prefix
// dropped; `length` ends before a trailing backslash. False for anything
// else: UNC paths (a share's permissions are the server's, beyond what a
// check here can see), relative paths, device and volume names, forward
// slashes, empty, "." and ".." components and stream names (a colon past
// the drive's), so that no spelling of a path can steer the walk.
bool ViewDrivePath(const wchar_t* path, const wchar_t*& rest, size_t& length) {
  if (!path) return false;
  if (StartsWith(path, L"\\\\?\\")) path += 4;
  if (!(IsLetter(path[0]) && path[1] == L':' && path[2] == L'\\')) return false;
  size_t component_start = 3;
  size_t i = component_start;
  for (;; ++i) {
    wchar_t c = path[i];
    if (c == L'/' || c == L':') return false;
    if (c != L'\\' && c != 0) continue;
    size_t component = i - component_start;
    const wchar_t* start = path + component_start;
    if (component == 0) {
      // One trailing backslash, as in "C:\", is allowed.
      if (c == 0) break;
      return false;
    }
    if ((component == 1 && start[0] == L'.') || (component == 2 && start[0] == L'.' && start[1] == L'.'))
      return false;
    if (c == 0) break;
    component_start = i + 1;
  }
  rest = path;
  length = path[i - 1] == L'\\' ? i - 1 : i;
  return true;
}

// The owner and DACL of the file or folder at `path`, read through a handle
// opened on the object itself: a link is never followed, and one found on
// the judged path (which had every link resolved) means the path changed
// since, so nothing is judged.
bool SystemReadSecurity(const wchar_t* path, bool folder, SecurityBuffer& buffer) {
  ZeroMemory(buffer.bytes, sizeof buffer.bytes);
  HANDLE object = CreateFileW(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (object == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  bool read = GetFileInformationByHandle(object, &information) &&
              !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
              ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder &&
              GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, NULL,
                              NULL, NULL, NULL, &descriptor) == ERROR_SUCCESS &&
              descriptor;
  CloseHandle(object);
  // A descriptor too large for the buffer is judged as one that cannot be
  // read.
  DWORD length = read ? GetSecurityDescriptorLength(descriptor) : 0;
  read = read && length > 0 && length <= sizeof buffer.bytes;
  if (read) memcpy(buffer.bytes, descriptor, length);
  if (descriptor) LocalFree(descriptor);
  return read;
}

// The bus of the disk the volume lies on, asked of the volume itself; no
// access right is needed for the question.
bool SystemReadBus(const wchar_t* volume, STORAGE_BUS_TYPE& bus, bool& removable_media) {
  bus = BusTypeUnknown;
  removable_media = 0;
  HANDLE device = CreateFileW(volume, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  if (device == INVALID_HANDLE_VALUE) return false;
  STORAGE_PROPERTY_QUERY query = {};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  alignas(STORAGE_DEVICE_DESCRIPTOR) BYTE answer[1024] = {};
  DWORD returned = 0;
  bool read = DeviceIoControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, answer, sizeof answer,
                              &returned, NULL) &&
              returned >= offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(STORAGE_BUS_TYPE);
  CloseHandle(device);
  if (!read) return false;
  const STORAGE_DEVICE_DESCRIPTOR* device_descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(answer);
  bus = device_descriptor->BusType;
  removable_media = device_descriptor->RemovableMedia != FALSE;
  return true;
}

}  // namespace

const ExeTrustPlatform kSystemExeTrustPlatform = {GetDriveTypeW, SystemReadSecurity, SystemReadBus};

namespace {

// NT SERVICE\TrustedInstaller, which owns the system's own files.
struct TrustedInstallerSid {
  BYTE revision;
  BYTE count;
  SID_IDENTIFIER_AUTHORITY authority;
  DWORD sub_authority[6];
};
const TrustedInstallerSid kTrustedInstaller = {
    SID_REVISION, 6, SECURITY_NT_AUTHORITY, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}};

bool IsTrusted(PSID sid, PSID user) {
  return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         EqualSid(sid, const_cast<TrustedInstallerSid*>(&kTrustedInstaller)) || (user && EqualSid(sid, user));
}

// The system's own accounts, which own what Windows sets up: SYSTEM and
// TrustedInstaller.
bool IsWindowsOwn(PSID sid) {
  return IsWellKnownSid(sid, WinLocalSystemSid) || EqualSid(sid, const_cast<TrustedInstallerSid*>(&kTrustedInstaller));
}

// The SID of an allow or deny ACE of the plain kind, when the ACE holds it
// whole.
PSID AceSid(ACCESS_ALLOWED_ACE* ace) {
  size_t offset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
  if (ace->Header.AceSize < offset + 8) return NULL;  // a SID's fixed part
  PSID sid = &ace->SidStart;
  size_t room = ace->Header.AceSize - offset;
  if (GetSidLengthRequired(static_cast<SID*>(sid)->SubAuthorityCount) > room || !IsValidSid(sid)) return NULL;
  return sid;
}

}  // namespace

bool OnlyTrustedMayChange(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK change_rights, PSID user) {
  if (!descriptor || !IsValidSecurityDescriptor(descriptor)) return false;
  PSID owner = NULL;
  BOOL defaulted = FALSE;
  // The owner may always change the permissions.
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner || !IsValidSid(owner) ||
      !IsTrusted(owner, user))
    return false;
  BOOL present = FALSE;
  PACL dacl = NULL;
  // No DACL at all lets everyone do anything.
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl || !IsValidAcl(dacl))
    return false;
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = NULL;
    if (!GetAce(dacl, i, &entry)) return false;
    ACE_HEADER* header = static_cast<ACE_HEADER*>(entry);
    switch (header->AceType) {
      // A deny only takes rights away. Skipping it judges as if it were not
      // there, which is never more lenient than Windows.
      case ACCESS_DENIED_ACE_TYPE:
      case ACCESS_DENIED_OBJECT_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        continue;
      case ACCESS_ALLOWED_ACE_TYPE:
        break;
      // Anything else (callback and object grants, whose conditions are not
      // read here, and types not known at all) counts as granting
      // everything to someone untrusted.
      default:
        return false;
    }
    // Only passed on to what is created inside: no right on this object.
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = AceSid(allowed);
    if (!sid) return false;
    ACCESS_MASK mask = allowed->Mask;
    MapGenericMask(&mask, &mapping);
    if ((mask & change_rights) && !IsTrusted(sid, user)) return false;
  }
  return true;
}

bool OwnedByWindows(PSECURITY_DESCRIPTOR descriptor) {
  PSID owner = NULL;
  BOOL defaulted = FALSE;
  return descriptor && IsValidSecurityDescriptor(descriptor) &&
         GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner && IsValidSid(owner) &&
         IsWindowsOwn(owner);
}

bool VolumeStaysPut(bool read, STORAGE_BUS_TYPE bus, bool removable_media) {
  if (!read || removable_media) return false;
  switch (bus) {
    // Disks that are carried away and written elsewhere; a disk on the
    // network, which its target serves to other machines too; and a disk
    // image, a file that can be changed while it is not attached.
    case BusTypeUsb:
    case BusType1394:
    case BusTypeSd:
    case BusTypeMmc:
    case BusTypeiScsi:
    case BusTypeFileBackedVirtual:
      return false;
    default:
      return true;
  }
}

ExeTrust JudgeExe(const wchar_t* normalized, PSID user, const ExeTrustPlatform& platform) {
  ExeTrust trust = {1, 1};
  const wchar_t* rest = NULL;
  size_t length = 0;
  // The exe itself, then each folder on its way up, the drive's root last.
  if (!user || !ViewDrivePath(normalized, rest, length) || length <= 3) return ExeTrust{};
  const wchar_t root[] = {rest[0], L':', L'\\', 0};
  // A drive that is taken away, or a share, can be changed elsewhere.
  if (platform.drive_type(root) != DRIVE_FIXED) return ExeTrust{};
  // So can a disk that calls itself fixed but sits on a bus for carrying.
  const wchar_t volume[] = {L'\\', L'\\', L'.', L'\\', rest[0], L':', 0};
  STORAGE_BUS_TYPE bus = BusTypeUnknown;
  bool removable_media = 0;
  bool bus_read = platform.read_bus(volume, bus, removable_media);
  trust.task = VolumeStaysPut(bus_read, bus, removable_media);
  wchar_t path[NORMALIZED_PATH_CAPACITY];
  ACCESS_MASK change_rights = EXE_CHANGE_RIGHTS;
  bool folder = 0;
  SecurityBuffer descriptor;
  // The task also needs the topmost folder below the root to be Windows'
  // own: one an administrator made there can be deleted and made again by
  // any user, who then chooses what the task starts.
  bool top_folder_seen = 0;
  for (size_t end = length;;) {
    // The root keeps its backslash: "\\?\C:" would name the volume.
    bool root_level = end <= 3;
    if (4 + end >= NORMALIZED_PATH_CAPACITY) return ExeTrust{};
    wmemcpy(path, L"\\\\?\\", 4);
    wmemcpy(path + 4, rest, end);
    path[4 + end] = 0;
    if (!platform.read_security(path, folder, descriptor)) return ExeTrust{};
    trust.run_value = trust.run_value && OnlyTrustedMayChange(descriptor.bytes, change_rights, user);
    trust.task = trust.task && OnlyTrustedMayChange(descriptor.bytes, change_rights, NULL);
    bool top_folder = folder && !root_level && !wmemchr(rest + 3, L'\\', end - 3);
    if (top_folder) {
      top_folder_seen = 1;
      trust.task = trust.task && OwnedByWindows(descriptor.bytes);
    }
    if (root_level || !trust.run_value) break;
    size_t slash = end - 1;
    while (rest[slash] != L'\\') --slash;  // stops at the root's backslash at the latest
    end = slash == 2 ? 3 : slash;
    change_rights = folder ? FOLDER_CHANGE_RIGHTS : EXE_FOLDER_CHANGE_RIGHTS;
    folder = 1;
  }
  // What the administrators alone may change, the user may not either.
  trust.task = trust.task && trust.run_value && top_folder_seen;
  return trust;
}

bool NormalizeExistingPath(wchar_t (&normalized)[NORMALIZED_PATH_CAPACITY], const wchar_t* path) {
  ZeroMemory(normalized, sizeof normalized);
  // The handle's own name: 8.3 names, "..", links and junctions resolved to
  // the place the file really is. Folders open only with backup semantics.
  HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD length =
      GetFinalPathNameByHandleW(file, normalized, NORMALIZED_PATH_CAPACITY, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(file);
  if (length == 0 || length >= NORMALIZED_PATH_CAPACITY) {
    ZeroMemory(normalized, sizeof normalized);
    return false;
  }
  return true;
}

bool TrustedExePath(wchar_t (&plain)[MAX_PATH], ExeTrust& trust, const wchar_t* module_path, PSID user,
                    const ExeTrustPlatform& platform) {
  ZeroMemory(plain, sizeof plain);
  trust = ExeTrust{};
  wchar_t normalized[NORMALIZED_PATH_CAPACITY];
  const wchar_t* rest = NULL;
  size_t length = 0;
  if (!NormalizeExistingPath(normalized, module_path) || !ViewDrivePath(normalized, rest, length)) return false;
  ExeTrust judged = JudgeExe(normalized, user, platform);
  // Both entries start the path that was judged, in the plain form every
  // program reads.
  if (!judged.run_value || !FormatBounded(plain, MAX_PATH, L"%s", rest)) {
    ZeroMemory(plain, sizeof plain);
    return false;
  }
  trust = judged;
  return true;
}

