// The Run value: the quoted path it starts, and a profile without a Run
// key.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "settings/settings_internal.h"
#include "tests/support.h"

TEST(RunCommand, QuotesWholePathsAndRefusesCutOnes) {
  struct Case {
    std::wstring path;
    bool ok;
  };
  const Case cases[] = {
      {L"C:\\Program Files\\Quillmere\\quillmere.exe", true},
      {L"C:\\q.exe", true},
      {std::wstring(259, L'a'), true},  // the longest path GetModuleFileNameW gives whole
      {std::wstring(260, L'a'), false},  // it answers 260 only when it cut the path
      {L"", false},
  };
  for (const Case& c : cases) {
    wchar_t command[MAX_PATH + 2];
    bool ok = BuildRunCommand(command, c.path.c_str(), static_cast<DWORD>(c.path.size()));
    EXPECT_EQ(ok, c.ok) << c.path.size();
    EXPECT_EQ(std::wstring(command), c.ok ? Quoted(c.path) : L"") << c.path.size();
  }
}

// A profile without a Run key has nothing to remove there; writing still
// needs the key, which the program never makes.
TEST(RunValue, RemovingWithoutARunKeyIsDone) {
  const wchar_t run[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  RegDeleteTreeW(key, L"Run");
  EXPECT_TRUE(SetRunValue(false, nullptr, 0));
  const std::wstring command = Quoted(TestExePath());
  EXPECT_FALSE(SetRunValue(true, command.c_str(), static_cast<DWORD>(command.size())));
  HKEY made = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, run, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(made);
  RegCloseKey(key);
}
