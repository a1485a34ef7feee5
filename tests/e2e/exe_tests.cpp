// The shipped exe itself: its icon group, manifest, version, imports and PE
// flags.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "common/language.h"
#include "tests/e2e/harness.h"
#include "tests/support.h"
#include "version.h"

namespace {

std::string Exe() { return ReadFileBytes(ExePath()); }

struct Resource {
  const BYTE* data = nullptr;
  DWORD size = 0;
};

Resource FindResourceIn(HMODULE module, LPCWSTR type, LPCWSTR name) {
  Resource found;
  HRSRC info = FindResourceExW(module, type, name, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (!info) return found;
  found.data = static_cast<const BYTE*>(LockResource(LoadResource(module, info)));
  found.size = SizeofResource(module, info);
  return found;
}

uint32_t BigEndian32(const BYTE* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

#pragma pack(push, 2)
struct GroupEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bit_count;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

class ExeFile : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(ExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override { FreeLibrary(module_); }
  HMODULE module_ = nullptr;
};

}  // namespace

TEST_F(ExeFile, IconGroupHoldsSevenRgbaPngImages) {
  Resource group = FindResourceIn(module_, RT_GROUP_ICON, MAKEINTRESOURCEW(1));
  ASSERT_NE(group.data, nullptr);
  WORD count = reinterpret_cast<const WORD*>(group.data)[2];
  ASSERT_EQ(count, 7);
  const GroupEntry* entries = reinterpret_cast<const GroupEntry*>(group.data + 6);
  const int sizes[] = {16, 24, 32, 48, 64, 128, 256};
  std::set<WORD> ids;
  for (int i = 0; i < 7; ++i) {
    const GroupEntry& entry = entries[i];
    SCOPED_TRACE(sizes[i]);
    EXPECT_EQ(entry.width, sizes[i] & 0xFF) << "256 is written as 0";
    EXPECT_EQ(entry.height, sizes[i] & 0xFF);
    EXPECT_EQ(entry.planes, 1);
    EXPECT_EQ(entry.bit_count, 32);
    ids.insert(entry.id);
    Resource image = FindResourceIn(module_, RT_ICON, MAKEINTRESOURCEW(entry.id));
    ASSERT_NE(image.data, nullptr);
    ASSERT_GT(image.size, 33u);
    EXPECT_EQ(memcmp(image.data, "\x89PNG\r\n\x1a\n", 8), 0);
    EXPECT_EQ(memcmp(image.data + 12, "IHDR", 4), 0);
    EXPECT_EQ(BigEndian32(image.data + 16), static_cast<uint32_t>(sizes[i]));
    EXPECT_EQ(BigEndian32(image.data + 20), static_cast<uint32_t>(sizes[i]));
    EXPECT_EQ(image.data[24], 8) << "8 bits per channel";
    EXPECT_EQ(image.data[25], 6) << "RGBA";
    EXPECT_EQ(image.data[28], 0) << "not interlaced";
  }
  EXPECT_EQ(ids, (std::set<WORD>{1, 2, 3, 4, 5, 6, 7}));
}

// Common Controls 6 draws the standard buttons, check boxes and fields in
// the current style; the dependency alone brings it, no import.
TEST_F(ExeFile, ManifestAsksForAdministratorPerMonitorDpiAndCommonControls6) {
  Resource manifest = FindResourceIn(module_, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
  ASSERT_NE(manifest.data, nullptr);
  std::string text(reinterpret_cast<const char*>(manifest.data), manifest.size);
  // The version the version resource gives, in the manifest's four parts.
  const std::string identity = "<assemblyIdentity version=\"" + std::string(QUILLMERE_VERSION_TEXT) +
                               ".0\" processorArchitecture=\"amd64\" name=\"Quillmere\" type=\"win32\"/>";
  const char* wanted[] = {
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>",
      "manifestVersion=\"1.0\"",
      identity.c_str(),
      "<description>Quillmere \xE2\x80\x94 Lightweight RAM cleaner</description>",
      "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>",
      ">true</dpiAware>",
      ">PerMonitorV2</dpiAwareness>",
      "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
      "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
      "<dependency>\n    <dependentAssembly>\n      <assemblyIdentity type=\"win32\" "
      "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" processorArchitecture=\"amd64\" "
      "publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>\n    </dependentAssembly>\n  </dependency>",
  };
  for (const char* piece : wanted) EXPECT_NE(text.find(piece), std::string::npos) << piece;
}

// What Explorer's properties, Task Manager and the elevation prompt show:
// the version resource, read the way they read it.
BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  reinterpret_cast<std::set<WORD>*>(found)->insert(language);
  return TRUE;
}

// Each string block of the shipped exe in every language the program offers.
TEST_F(ExeFile, CarriesEveryStringBlockInEveryLanguage) {
  for (UINT block = (STRING_FIRST >> 4) + 1; block <= (STRING_LAST >> 4) + 1; ++block) {
    std::set<WORD> found;
    EnumResourceLanguagesW(module_, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(block), AddLanguage,
                           reinterpret_cast<LONG_PTR>(&found));
    for (const Language& language : kLanguages)
      EXPECT_TRUE(found.count(language.id)) << "block " << block << " lacks " << language.name;
  }
}

TEST(ExeVersion, NamesQuillmereWithTheProjectVersion) {
  DWORD ignored = 0;
  DWORD bytes = GetFileVersionInfoSizeW(ExePath().c_str(), &ignored);
  ASSERT_GT(bytes, 0u) << "no version resource";
  std::vector<BYTE> block(bytes);
  ASSERT_TRUE(GetFileVersionInfoW(ExePath().c_str(), 0, bytes, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof *fixed);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD high = MAKELONG(QUILLMERE_VERSION_MINOR, QUILLMERE_VERSION_MAJOR);
  const DWORD low = MAKELONG(0, QUILLMERE_VERSION_PATCH);
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  // The first translation is the one the shell reads the strings of.
  struct Translation {
    WORD language, code_page;
  };
  Translation* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  ASSERT_GE(length, sizeof *translation);
  EXPECT_EQ(translation->language, 0x0409);
  EXPECT_EQ(translation->code_page, 1200);

  const std::wstring version = L"" QUILLMERE_VERSION_TEXT;
  struct Field {
    const wchar_t* name;
    std::wstring value;
  };
  const Field fields[] = {
      {L"FileDescription", L"Quillmere"},
      {L"ProductName", L"Quillmere"},
      {L"FileVersion", version},
      {L"ProductVersion", version},
      {L"LegalCopyright", L"Copyright (C) 2026 The Quillmere developers"},
      {L"InternalName", L"quillmere"},
      {L"OriginalFilename", L"quillmere.exe"},
  };
  for (const Field& field : fields) {
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + field.name;
    wchar_t* value = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
        << Narrow(field.name);
    EXPECT_EQ(std::wstring(value), field.value) << Narrow(field.name);
  }
}

namespace {

struct PeView {
  std::string bytes;
  const IMAGE_NT_HEADERS64* nt = nullptr;

  // File offset of a relative virtual address, or 0 when no section holds it.
  size_t Offset(DWORD rva) const {
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize)
        return rva - section->VirtualAddress + section->PointerToRawData;
    }
    return 0;
  }
};

bool ReadPe(PeView& pe) {
  pe.bytes = Exe();
  if (pe.bytes.size() < sizeof(IMAGE_DOS_HEADER)) return false;
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(pe.bytes.data());
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  pe.nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(pe.bytes.data() + dos->e_lfanew);
  return pe.nt->Signature == IMAGE_NT_SIGNATURE && pe.nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
}

}  // namespace

TEST(ExeImage, SmallHardenedGuiExeImportingSystemDllsOnly) {
  PeView pe;
  ASSERT_TRUE(ReadPe(pe));
  // Eight string tables included.
  EXPECT_LT(pe.bytes.size(), 192u * 1024u);
  EXPECT_EQ(pe.nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(pe.nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  WORD flags = pe.nt->OptionalHeader.DllCharacteristics;
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA);
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);

  // Only DLLs that Windows itself provides, all of them known DLLs that load
  // from System32 whatever lies beside the exe. COM is loaded at run time,
  // for the Task Scheduler alone, and freed after it; Common Controls 6 by
  // the system, through the manifest, with the settings window's controls.
  const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                         "shell32.dll",  "advapi32.dll", "msvcrt.dll"};
  const IMAGE_DATA_DIRECTORY& directory = pe.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  size_t offset = pe.Offset(directory.VirtualAddress);
  ASSERT_NE(offset, 0u);
  std::vector<std::string> imported;
  for (auto entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(pe.bytes.data() + offset); entry->Name; ++entry) {
    std::string name = pe.bytes.data() + pe.Offset(entry->Name);
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    imported.push_back(name);
    EXPECT_TRUE(allowed.count(name)) << "imports " << name;
  }
  EXPECT_GE(imported.size(), 5u);
  EXPECT_EQ(pe.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size, 0u);
}
