// The tooltip's commit line: below the load, only while the charge is at or
// above the warning level.
#include <gtest/gtest.h>

#include <wchar.h>

#include <string>

#include "tray/tray.h"

TEST(CommitTooltip, SecondLineOnlyAtTheWarningLevel) {
  const uint64_t GiB = 1073741824ull;
  struct Case {
    const char* what;
    CommitCharge commit;
    int32_t setting;
    const wchar_t* tip;
  };
  const Case cases[] = {
      {"below the level", CommitChargeOf(8 * GiB, 10 * GiB), 90, L"Quillmere\n11.7 / 31.9 GB  (37%)"},
      {"at the level", CommitChargeOf(9 * GiB, 10 * GiB), 90,
       L"Quillmere\n11.7 / 31.9 GB  (37%)\nCommit 9.0 / 10.0 GB (90%)"},
      {"above it", CommitChargeOf(23 * GiB, 24 * GiB), 90,
       L"Quillmere\n11.7 / 31.9 GB  (37%)\nCommit 23.0 / 24.0 GB (95%)"},
      {"warning off", CommitChargeOf(24 * GiB, 24 * GiB), 0, L"Quillmere\n11.7 / 31.9 GB  (37%)"},
      {"a file's 1 means 50", CommitChargeOf(12 * GiB, 24 * GiB), 1,
       L"Quillmere\n11.7 / 31.9 GB  (37%)\nCommit 12.0 / 24.0 GB (50%)"},
      {"no figures", CommitCharge{}, 90, L"Quillmere\n11.7 / 31.9 GB  (37%)"},
  };
  for (const Case& c : cases) {
    wchar_t tip[128];
    wmemset(tip, L'?', 128);
    FormatTooltipWithCommit(tip, 11.74, 31.9, 37, c.commit, c.setting);
    EXPECT_STREQ(tip, c.tip) << c.what;
    // The first lines are the plain tooltip's, whatever follows.
    wchar_t plain[128];
    FormatTooltip(plain, 11.74, 31.9, 37);
    EXPECT_EQ(wcsncmp(tip, plain, wcslen(plain)), 0) << c.what;
  }
}

TEST(CommitTooltip, StaysWithinTheField) {
  // Figures as long as doubles print (each kept to a figure's room) and the
  // longest commit line pass the field's end: the line is cut there, and the
  // field ends with its terminator all the same.
  for (double figure : {1e300, 1e40}) {
    wchar_t tip[128];
    wmemset(tip, L'?', 128);
    FormatTooltipWithCommit(tip, figure, figure, 100, CommitChargeOf(UINT64_MAX, UINT64_MAX), 90);
    EXPECT_EQ(tip[127], L'\0') << figure;
    EXPECT_EQ(wcslen(tip), 127u) << "the line is cut at the field's end";
    wchar_t plain[128];
    FormatTooltip(plain, figure, figure, 100);
    EXPECT_EQ(std::wstring(tip).substr(0, wcslen(plain) + 8), std::wstring(plain) + L"\nCommit ") << figure;
  }
}
