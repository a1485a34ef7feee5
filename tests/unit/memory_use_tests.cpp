// The commit charge and its warning, and the programs holding the most
// memory: the decisions with tables, the readings through a played system
// and under Wine.
#include <gtest/gtest.h>

#include <stdint.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

#include "clean/clean.h"
#include "tests/support.h"
#include "tests/support/in_language.h"

namespace {

constexpr uint64_t KiB = 1024ull;
constexpr uint64_t MiB = 1024ull * KiB;
constexpr uint64_t GiB = 1024ull * MiB;

}  // namespace

// ---------------------------------------------------------------------------
// The commit charge.

TEST(CommitCharge, PercentIsRoundedDownAndTheLimitMustBeThere) {
  struct Case {
    uint64_t used, limit;
    bool readable;
    int32_t percent;
  };
  const Case cases[] = {
      {0, 0, false, 0},
      {5 * GiB, 0, false, 0},
      {0, 24 * GiB, true, 0},
      {14 * GiB + 2 * GiB / 10, 24 * GiB, true, 59},
      {60, 100, true, 60},
      {5999, 10000, true, 59},  // 59.99 %: not yet 60
      {7999, 10000, true, 79},
      {80, 100, true, 80},
      {99999, 100000, true, 99},  // nearly full is not full
      {100, 100, true, 100},
      {150, 100, true, 100},  // past the limit reads as full
      {1ull << 62, 1ull << 63, true, 50},
      {UINT64_MAX, UINT64_MAX, true, 100},
      {UINT64_MAX, 1, true, 100},
      {1, UINT64_MAX, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.used) + " of " + std::to_string(c.limit));
    CommitCharge commit = CommitChargeOf(c.used, c.limit);
    EXPECT_EQ(commit.readable, c.readable);
    EXPECT_EQ(commit.percent, c.percent);
    EXPECT_EQ(commit.used_bytes, c.readable ? c.used : 0);
    EXPECT_EQ(commit.limit_bytes, c.readable ? c.limit : 0);
  }
}

TEST(CommitCharge, PagesTimesThePageSize) {
  struct Case {
    SIZE_T total, limit, page;
    bool readable;
    uint64_t used_bytes, limit_bytes;
  };
  const Case cases[] = {
      {331028, 6170930, 4096, true, 331028ull * 4096, 6170930ull * 4096},
      {3, 4, 65536, true, 3 * 65536ull, 4 * 65536ull},
      {3, 4, 0, false, 0, 0},        // no page size: no limit
      {3, 0, 4096, false, 0, 0},     // no limit
      {0, 4, 4096, true, 0, 16384},  // nothing committed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.total) + " of " + std::to_string(c.limit) + " pages of " + std::to_string(c.page));
    PERFORMANCE_INFORMATION info = {};
    info.CommitTotal = c.total;
    info.CommitLimit = c.limit;
    info.PageSize = c.page;
    CommitCharge commit = CommitChargeFromPages(info);
    EXPECT_EQ(commit.readable, c.readable);
    EXPECT_EQ(commit.used_bytes, c.used_bytes);
    EXPECT_EQ(commit.limit_bytes, c.limit_bytes);
  }
  // Figures that overflow 64 bits give none rather than wrapped ones.
  PERFORMANCE_INFORMATION info = {};
  info.PageSize = 4096;
  info.CommitLimit = SIZE_T(1) << 52;  // 2^64 bytes
  info.CommitTotal = 1;
  EXPECT_FALSE(CommitChargeFromPages(info).readable);
  info.CommitLimit = (SIZE_T(1) << 52) - 1;
  info.CommitTotal = SIZE_T(1) << 52;
  EXPECT_FALSE(CommitChargeFromPages(info).readable);
  info.CommitTotal = (SIZE_T(1) << 52) - 1;
  CommitCharge largest = CommitChargeFromPages(info);
  EXPECT_TRUE(largest.readable);
  EXPECT_EQ(largest.limit_bytes, UINT64_MAX - 4095);
}

// The row takes the load's colour bands on the figure it shows.
TEST(CommitCharge, BandFollowsTheShownPercent) {
  struct Case {
    uint64_t used, limit;
    LoadBand band;
  };
  const Case cases[] = {
      {0, 100, LOAD_BAND_LOW},          {5999, 10000, LOAD_BAND_LOW},       {60, 100, LOAD_BAND_HIGH},
      {7999, 10000, LOAD_BAND_HIGH},    {80, 100, LOAD_BAND_CRITICAL},      {150, 100, LOAD_BAND_CRITICAL},
      {100, 0, LOAD_BAND_LOW},  // no figures
  };
  for (const Case& c : cases) {
    CommitCharge commit = CommitChargeOf(c.used, c.limit);
    EXPECT_EQ(CommitLoadBand(commit), c.band) << c.used << " of " << c.limit;
    EXPECT_EQ(CommitLoadBand(commit), LoadBandOf(commit.percent)) << "the load's own bands";
  }
}

TEST(CommitCharge, RowText) {
  struct Case {
    uint64_t used, limit;
    const wchar_t* text;
  };
  const Case cases[] = {
      {14 * GiB + 2 * GiB / 10, 24 * GiB, L"Commit 14.2 / 24.0 GB (59%)"},
      {14 * GiB + GiB / 4, 24 * GiB, L"Commit 14.3 / 24.0 GB (59%)"},       // 14.25 rounds up
      {14 * GiB + GiB / 4 - 1, 24 * GiB, L"Commit 14.2 / 24.0 GB (59%)"},   // just below it does not
      {24 * GiB - GiB / 100, 24 * GiB, L"Commit 24.0 / 24.0 GB (99%)"},     // rounds to full, but is not
      {GiB / 20 + 1, GiB, L"Commit 0.1 / 1.0 GB (5%)"},  // a byte past 0.05 GB
      {GiB / 20, GiB, L"Commit 0.0 / 1.0 GB (4%)"},      // a fifth of a byte short of it
      {0, 512 * MiB, L"Commit 0.0 / 0.5 GB (0%)"},
      {UINT64_MAX, UINT64_MAX, L"Commit 17179869184.0 / 17179869184.0 GB (100%)"},
      {5 * GiB, 0, L""},  // no limit: no row
  };
  for (const Case& c : cases) {
    wchar_t text[COMMIT_TEXT_CAPACITY];
    wmemset(text, L'?', COMMIT_TEXT_CAPACITY);
    FormatCommitText(text, CommitChargeOf(c.used, c.limit));
    EXPECT_STREQ(text, c.text);
  }
  wchar_t text[COMMIT_TEXT_CAPACITY];
  FormatCommitText(text, CommitCharge{});
  EXPECT_STREQ(text, L"") << "an unreadable charge has no row";
}

TEST(CommitCharge, SnapshotTakesItFromThePageFileFigures) {
  struct Case {
    uint64_t total_page_file, avail_page_file;
    bool readable;
    uint64_t used;
    int32_t percent;
  };
  const Case cases[] = {
      {24 * GiB, 10 * GiB, true, 14 * GiB, 58},
      {24 * GiB, 24 * GiB, true, 0, 0},
      {24 * GiB, 0, true, 24 * GiB, 100},
      {24 * GiB, 25 * GiB, false, 0, 0},  // more left than the limit: no figures
      {0, 0, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.avail_page_file);
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    status.ullTotalPhys = 16 * GiB;
    status.ullAvailPhys = 4 * GiB;
    status.ullTotalPageFile = c.total_page_file;
    status.ullAvailPageFile = c.avail_page_file;
    MemorySnapshot snapshot = {};
    FillMemorySnapshot(snapshot, status);
    EXPECT_EQ(snapshot.commit.readable, c.readable);
    EXPECT_EQ(snapshot.commit.used_bytes, c.used);
    EXPECT_EQ(snapshot.commit.limit_bytes, c.readable ? c.total_page_file : 0);
    EXPECT_EQ(snapshot.commit.percent, c.percent);
    EXPECT_EQ(snapshot.used_bytes, 12 * GiB) << "the physical figures as before";
  }
}

namespace {

PERFORMANCE_INFORMATION played_performance;
BOOL played_performance_result;
DWORD performance_size_asked, performance_cb_seen;

BOOL WINAPI PlayedPerformanceInfo(PPERFORMANCE_INFORMATION info, DWORD size) {
  performance_size_asked = size;
  performance_cb_seen = info->cb;
  if (played_performance_result) *info = played_performance;
  return played_performance_result;
}

MemoryUsePlatform PerformancePlatform() {
  MemoryUsePlatform platform = kSystemMemoryUsePlatform;
  platform.get_performance_info = PlayedPerformanceInfo;
  return platform;
}

}  // namespace

TEST(CommitCharge, ReadingGivesTheFiguresOrNone) {
  const MemoryUsePlatform platform = PerformancePlatform();
  played_performance = {};
  played_performance.CommitTotal = 3000;
  played_performance.CommitLimit = 6000;
  played_performance.PageSize = 4096;
  played_performance_result = TRUE;
  CommitCharge commit = {};
  EXPECT_TRUE(ReadCommitCharge(commit, platform));
  EXPECT_EQ(performance_size_asked, sizeof(PERFORMANCE_INFORMATION));
  EXPECT_EQ(performance_cb_seen, sizeof(PERFORMANCE_INFORMATION));
  EXPECT_TRUE(commit.readable);
  EXPECT_EQ(commit.used_bytes, 3000ull * 4096);
  EXPECT_EQ(commit.limit_bytes, 6000ull * 4096);
  EXPECT_EQ(commit.percent, 50);

  // A failed call leaves nothing of an earlier reading.
  played_performance_result = FALSE;
  EXPECT_FALSE(ReadCommitCharge(commit, platform));
  EXPECT_FALSE(commit.readable);
  EXPECT_EQ(commit.used_bytes, 0u);
  EXPECT_EQ(commit.limit_bytes, 0u);

  // A reading with no limit is no reading.
  played_performance_result = TRUE;
  played_performance.CommitLimit = 0;
  EXPECT_FALSE(ReadCommitCharge(commit, platform));
  EXPECT_FALSE(commit.readable);
}

// Wine answers both calls from the same figures; the snapshot's reading may
// be a second old (Wine keeps it that long), so they agree within a margin.
TEST(CommitCharge, SnapshotAgreesWithGetPerformanceInfo) {
  MemorySnapshot snapshot = {};
  ASSERT_TRUE(TakeMemorySnapshot(snapshot));
  CommitCharge commit = {};
  ASSERT_TRUE(ReadCommitCharge(commit, kSystemMemoryUsePlatform));
  ASSERT_TRUE(snapshot.commit.readable);
  EXPECT_GT(commit.used_bytes, 0u);
  EXPECT_LE(commit.used_bytes, commit.limit_bytes);
  uint64_t margin = commit.limit_bytes / 50;
  EXPECT_NEAR(static_cast<double>(snapshot.commit.limit_bytes), static_cast<double>(commit.limit_bytes),
              static_cast<double>(margin));
  EXPECT_NEAR(static_cast<double>(snapshot.commit.used_bytes), static_cast<double>(commit.used_bytes),
              static_cast<double>(margin));
  EXPECT_NEAR(snapshot.commit.percent, commit.percent, 2);
}

// ---------------------------------------------------------------------------
// The warning.

TEST(CommitWarning, LevelOfAnySettingValue) {
  struct Case {
    int32_t setting, level;
  };
  const Case cases[] = {
      {INT32_MIN, 0}, {-5, 0}, {0, 0},   {1, 50},   {49, 50},        {50, 50},
      {90, 90},       {99, 99}, {100, 99}, {101, 99}, {INT32_MAX, 99},
  };
  for (const Case& c : cases) EXPECT_EQ(CommitWarnLevel(c.setting), c.level) << c.setting;
}

TEST(CommitWarning, AtTheLevelOnlyWhenOnAndReadable) {
  struct Case {
    uint64_t used, limit;  // of 100 000, so the percent is exact
    int32_t setting;
    bool at_level;
  };
  const Case cases[] = {
      {89999, 100000, 90, false}, {90000, 100000, 90, true},  {100000, 100000, 90, true},
      {100000, 100000, 0, false},  // off
      {100000, 100000, -5, false},   {99000, 100000, 100, true},  {98999, 100000, 100, false},
      {99000, 100000, INT32_MAX, true}, {50000, 100000, 1, true},  {49999, 100000, 1, false},
      {95000, 0, 90, false},  // no figures
  };
  for (const Case& c : cases) {
    CommitCharge commit = CommitChargeOf(c.used, c.limit);
    EXPECT_EQ(CommitAtWarnLevel(commit, c.setting), c.at_level) << c.used << " at " << c.setting;
  }
  CommitCharge stale = CommitChargeOf(95, 100);
  stale.readable = false;
  EXPECT_FALSE(CommitAtWarnLevel(stale, 90)) << "figures without readable count for nothing";
}

TEST(CommitWarning, AtMostOnceEveryThirtyMinutes) {
  const uint64_t kInterval = 30ull * 60 * 1000;
  const uint64_t k2To32 = 1ull << 32;
  struct Case {
    const char* what;
    bool shown;
    uint64_t shown_tick, now;
    uint64_t used;  // of 100
    bool due;
  };
  const Case cases[] = {
      {"never shown, at tick 0", false, 0, 0, 95, true},
      {"never shown", false, 0, 123456, 90, true},
      {"never shown, below the level", false, 0, 123456, 89, false},
      {"shown at tick 0, a moment later", true, 0, 1, 95, false},
      {"shown at tick 0, just short of 30 min", true, 0, kInterval - 1, 95, false},
      {"shown at tick 0, 30 min later", true, 0, kInterval, 95, true},
      {"30 min later but below the level", true, 0, kInterval, 89, false},
      {"shown just before 2^32, 30 min later", true, k2To32 - 100, k2To32 - 100 + kInterval, 95, true},
      {"shown just before 2^32, short of 30 min", true, k2To32 - 100, k2To32 - 101 + kInterval, 95, false},
      {"shown past 2^32", true, 5 * k2To32 + 7, 5 * k2To32 + 7 + kInterval, 95, true},
      {"clock behind the showing", true, 5000000, 1000, 95, false},
      {"near the end of the clock", true, UINT64_MAX - kInterval, UINT64_MAX, 95, true},
  };
  for (const Case& c : cases) {
    CommitWarning warning = {c.shown, c.shown_tick};
    EXPECT_EQ(CommitWarningDue(warning, CommitChargeOf(c.used, 100), 90, c.now), c.due) << c.what;
  }
  CommitWarning never = {};
  EXPECT_FALSE(CommitWarningDue(never, CommitChargeOf(100, 100), 0, 1000)) << "off";
  EXPECT_FALSE(CommitWarningDue(never, CommitCharge{}, 90, 1000)) << "no figures";
}

TEST(CommitWarning, BalloonText) {
  wchar_t text[COMMIT_WARNING_CAPACITY];
  wmemset(text, L'?', COMMIT_WARNING_CAPACITY);
  FormatCommitWarning(text, 93);
  EXPECT_STREQ(text, L"Committed memory is at 93% of its limit. Close programs or enlarge the page file; a clean "
                     L"cannot lower it.");
  FormatCommitWarning(text, 100);
  EXPECT_STREQ(text, L"Committed memory is at 100% of its limit. Close programs or enlarge the page file; a clean "
                     L"cannot lower it.");
  wchar_t title[64];
  EXPECT_STREQ(LoadText(IDS_BALLOON_COMMIT_TITLE, title), L"Quillmere \x2014 Memory nearly exhausted");
}

// In every language: the words from its table, the figures with the user's
// separator; the percentage is a whole number and has none.
TEST_F(ShownInLanguage, CommitTextAndWarningInEachLanguage) {
  struct Case {
    uint64_t used, limit;
    const wchar_t* used_text;
    const wchar_t* limit_text;
    int percent;
  };
  const Case cases[] = {
      {14 * GiB + 2 * GiB / 10, 24 * GiB, L"14,2", L"24,0", 59},
      {GiB / 20 + 1, GiB, L"0,1", L"1,0", 5},
      {UINT64_MAX, UINT64_MAX, L"17179869184,0", L"17179869184,0", 100},
  };
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    ShowIn(language, L",");
    for (const Case& c : cases) {
      wchar_t text[COMMIT_TEXT_CAPACITY];
      FormatCommitText(text, CommitChargeOf(c.used, c.limit));
      EXPECT_EQ(std::wstring(text), TableTextIn(language, IDS_COMMIT_LINE, c.used_text, c.limit_text, c.percent))
          << LanguageTag(language);
    }
    wchar_t warning[COMMIT_WARNING_CAPACITY];
    FormatCommitWarning(warning, 93);
    EXPECT_EQ(std::wstring(warning), TableTextIn(language, IDS_BALLOON_COMMIT, 93)) << LanguageTag(language);
    wchar_t text[COMMIT_TEXT_CAPACITY];
    FormatCommitText(text, CommitCharge{});
    EXPECT_STREQ(text, L"") << "an unreadable charge has no row";
  }
  ShowIn(0, L",");
  wchar_t text[COMMIT_TEXT_CAPACITY];
  FormatCommitText(text, CommitChargeOf(14 * GiB + 2 * GiB / 10, 24 * GiB));
  EXPECT_STREQ(text, L"Commit 14,2 / 24,0 GB (59%)");
}

// ---------------------------------------------------------------------------
// Who holds the memory: grouping, ranking and the line.

namespace {

// About 200 KB: one for all the tests, cleared by each.
MemoryHolderTable& FreshTable() {
  static MemoryHolderTable table;
  ClearMemoryHolders(table);
  return table;
}

const MemoryHolderGroup* FindGroup(const MemoryHolderTable& table, const wchar_t* name) {
  for (int32_t i = 0; i < table.count; ++i)
    if (wcscmp(MemoryHolderName(table, i), name) == 0) return &table.groups[i];
  return nullptr;
}

std::wstring NumberedName(int i) { return L"program" + std::to_wstring(i) + L".exe"; }

}  // namespace

TEST(MemoryHolders, GroupsByNameAsWindowsComparesFileNames) {
  MemoryHolderTable& table = FreshTable();
  struct Add {
    const wchar_t* name;
    uint64_t bytes;
    bool added;
  };
  const Add adds[] = {
      {L"msedge.exe", 100 * MiB, true},
      {L"MSEdge.EXE", 200 * MiB, true},
      {L"svchost.exe", 10 * MiB, true},
      {L"msedge.exe", 1 * GiB, true},
      {L"\x00C4pfel.exe", 1 * MiB, true},  // Äpfel.exe
      {L"\x00E4PFEL.EXE", 2 * MiB, true},  // äPFEL.EXE: beyond ASCII too
      {L"msedge.ex", 5 * MiB, true},       // another name
      {L"", 7 * MiB, false},
      {nullptr, 7 * MiB, false},
  };
  for (const Add& a : adds) EXPECT_EQ(AddMemoryHolder(table, a.name, a.bytes), a.added);
  EXPECT_EQ(table.count, 4);
  EXPECT_EQ(table.unnamed, 2u) << "the nameless processes";
  EXPECT_EQ(table.hidden, 0u);
  EXPECT_FALSE(RankMemoryHolders(table).some_hidden) << "no copy could name them";
  const MemoryHolderGroup* edge = FindGroup(table, L"msedge.exe");
  ASSERT_NE(edge, nullptr) << "spelt as its first process";
  EXPECT_EQ(edge->working_set_bytes, 1 * GiB + 300 * MiB);
  EXPECT_EQ(edge->processes, 3u);
  EXPECT_EQ(FindGroup(table, L"MSEdge.EXE"), nullptr);
  const MemoryHolderGroup* apples = FindGroup(table, L"\x00C4pfel.exe");
  ASSERT_NE(apples, nullptr);
  EXPECT_EQ(apples->processes, 2u);
  EXPECT_EQ(apples->working_set_bytes, 3 * MiB);
  ASSERT_NE(FindGroup(table, L"msedge.ex"), nullptr);
  EXPECT_EQ(FindGroup(table, L"msedge.ex")->processes, 1u);
}

TEST(MemoryHolders, LongNamesCountAsTheirFirst255Characters) {
  MemoryHolderTable& table = FreshTable();
  std::wstring first(300, L'a'), second(300, L'a');
  second[280] = L'b';  // differs past what is kept
  std::wstring third(300, L'a');
  third[100] = L'b';
  EXPECT_TRUE(AddMemoryHolder(table, first.c_str(), 1));
  EXPECT_TRUE(AddMemoryHolder(table, second.c_str(), 2));
  EXPECT_TRUE(AddMemoryHolder(table, third.c_str(), 4));
  ASSERT_EQ(table.count, 2);
  EXPECT_EQ(wcslen(MemoryHolderName(table, 0)), 255u);
  EXPECT_EQ(table.groups[0].working_set_bytes, 3u);
  EXPECT_EQ(table.groups[1].working_set_bytes, 4u);
}

// The names share one pool: long names fill it before the groups run out,
// and what finds no room is counted hidden, never cut or overwritten.
TEST(MemoryHolders, FullNamePoolCountsNewNamesHidden) {
  MemoryHolderTable& table = FreshTable();
  constexpr int kFit = MEMORY_HOLDER_NAMES_CAPACITY / 256;  // 255 characters and the end each
  for (int i = 0; i < kFit; ++i) {
    std::wstring name = NumberedName(i);
    name.resize(255, L'x');
    ASSERT_TRUE(AddMemoryHolder(table, name.c_str(), 1)) << i;
  }
  EXPECT_EQ(table.names_used, MEMORY_HOLDER_NAMES_CAPACITY);
  EXPECT_FALSE(AddMemoryHolder(table, L"a.exe", 5 * GiB)) << "no room for even a short name";
  EXPECT_EQ(table.hidden, 1u);
  std::wstring known = NumberedName(3);
  known.resize(255, L'X');
  EXPECT_TRUE(AddMemoryHolder(table, known.c_str(), 2)) << "a known name still adds";
  ASSERT_EQ(table.count, kFit);
  for (int i = 0; i < kFit; ++i) {
    std::wstring name = NumberedName(i);
    name.resize(255, L'x');
    ASSERT_EQ(std::wstring(MemoryHolderName(table, i)), name) << i;
  }
  EXPECT_EQ(FindGroup(table, MemoryHolderName(table, 3))->processes, 2u);
  EXPECT_TRUE(RankMemoryHolders(table).some_hidden);
}

TEST(MemoryHolders, RanksTheLargestThreeAndBreaksTiesByName) {
  struct Group {
    const wchar_t* name;
    uint64_t bytes;
  };
  struct Case {
    const char* what;
    std::vector<Group> groups;  // one process each, in this order
    std::vector<const wchar_t*> top;
  };
  const Case cases[] = {
      {"none", {}, {}},
      {"one", {{L"a.exe", 5}}, {L"a.exe"}},
      {"two, smaller first", {{L"a.exe", 5}, {L"b.exe", 9}}, {L"b.exe", L"a.exe"}},
      {"five", {{L"a.exe", 5}, {L"b.exe", 9}, {L"c.exe", 1}, {L"d.exe", 7}, {L"e.exe", 3}},
       {L"b.exe", L"d.exe", L"a.exe"}},
      {"a tie, the later name first in", {{L"zeta.exe", 9}, {L"alpha.exe", 9}, {L"mid.exe", 1}},
       {L"alpha.exe", L"zeta.exe", L"mid.exe"}},
      {"ties by name, case ignored", {{L"c.exe", 4}, {L"B.exe", 4}, {L"a.exe", 4}, {L"D.exe", 4}},
       {L"a.exe", L"B.exe", L"c.exe"}},
      {"a tie for third place", {{L"big.exe", 50}, {L"y.exe", 3}, {L"x.exe", 3}, {L"small.exe", 2}},
       {L"big.exe", L"x.exe", L"y.exe"}},
      {"nothing held", {{L"b.exe", 0}, {L"a.exe", 0}}, {L"a.exe", L"b.exe"}},
      {"the largest last", {{L"a.exe", 1}, {L"b.exe", 2}, {L"c.exe", 3}, {L"d.exe", UINT64_MAX}},
       {L"d.exe", L"c.exe", L"b.exe"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryHolderTable& table = FreshTable();
    for (const Group& g : c.groups) ASSERT_TRUE(AddMemoryHolder(table, g.name, g.bytes));
    TopMemoryHolders top = RankMemoryHolders(table);
    ASSERT_EQ(top.count, static_cast<int32_t>(c.top.size()));
    for (int32_t i = 0; i < top.count; ++i) EXPECT_STREQ(top.holders[i].name, c.top[i]) << i;
    EXPECT_FALSE(top.some_hidden);
  }
}

TEST(MemoryHolders, RankingSumsEveryProcessOfAName) {
  MemoryHolderTable& table = FreshTable();
  // Twenty small processes of one name outweigh one large one.
  for (int i = 0; i < 20; ++i) AddMemoryHolder(table, i % 2 ? L"msedge.exe" : L"MSEDGE.exe", 160 * MiB);
  AddMemoryHolder(table, L"game.exe", 3 * GiB);
  AddMemoryHolder(table, L"explorer.exe", 90 * MiB);
  AddMemoryHolder(table, L"svchost.exe", 20 * MiB);
  AddMemoryHolder(table, L"svchost.exe", 80 * MiB);
  TopMemoryHolders top = RankMemoryHolders(table);
  ASSERT_EQ(top.count, 3);
  EXPECT_STREQ(top.holders[0].name, L"MSEDGE.exe");
  EXPECT_EQ(top.holders[0].working_set_bytes, 3200 * MiB);
  EXPECT_EQ(top.holders[0].processes, 20u);
  EXPECT_STREQ(top.holders[1].name, L"game.exe");
  EXPECT_STREQ(top.holders[2].name, L"svchost.exe");
  EXPECT_EQ(top.holders[2].processes, 2u);
}

TEST(MemoryHolders, FullTableStaysBoundedAndDefined) {
  MemoryHolderTable& table = FreshTable();
  for (int i = 0; i < MEMORY_HOLDER_CAPACITY; ++i)
    ASSERT_TRUE(AddMemoryHolder(table, NumberedName(i).c_str(), static_cast<uint64_t>(i) * MiB)) << i;
  EXPECT_EQ(table.count, MEMORY_HOLDER_CAPACITY);
  EXPECT_EQ(table.hidden, 0u);
  // A new name finds no room and is counted; a known one still adds.
  EXPECT_FALSE(AddMemoryHolder(table, L"latecomer.exe", 100 * GiB));
  EXPECT_EQ(table.hidden, 1u);
  EXPECT_TRUE(AddMemoryHolder(table, L"PROGRAM7.EXE", 10 * GiB));
  EXPECT_EQ(table.count, MEMORY_HOLDER_CAPACITY);
  EXPECT_EQ(table.hidden, 1u);
  // Every name is still found once, in name order.
  for (int32_t i = 1; i < table.count; ++i)
    ASSERT_LT(CompareStringOrdinal(MemoryHolderName(table, table.by_name[i - 1]), -1,
                                   MemoryHolderName(table, table.by_name[i]), -1, TRUE),
              CSTR_EQUAL)
        << i;
  TopMemoryHolders top = RankMemoryHolders(table);
  ASSERT_EQ(top.count, 3);
  EXPECT_STREQ(top.holders[0].name, L"program7.exe");
  EXPECT_EQ(top.holders[0].processes, 2u);
  EXPECT_STREQ(top.holders[1].name, L"program4095.exe");
  EXPECT_STREQ(top.holders[2].name, L"program4094.exe");
  EXPECT_TRUE(top.some_hidden) << "the latecomer";
}

TEST(MemoryHolders, LineText) {
  struct Case {
    const wchar_t* name;
    uint64_t bytes;
    uint32_t processes;
    const wchar_t* text;
  };
  const Case cases[] = {
      {L"msedge.exe", 3 * GiB + GiB / 10, 24, L"msedge.exe  3.1 GB  (24)"},
      {L"game.exe", 5 * GiB / 4, 1, L"game.exe  1.3 GB  (1)"},  // 1.25 rounds up
      {L"game.exe", 5 * GiB / 4 - 1, 1, L"game.exe  1.2 GB  (1)"},
      {L"services.exe", 21078016, 1, L"services.exe  20 MB  (1)"},
      {L"tiny.exe", 0, 3, L"tiny.exe  0 MB  (3)"},
      {L"tiny.exe", MiB / 2, 1, L"tiny.exe  1 MB  (1)"},
      {L"tiny.exe", MiB / 2 - 1, 1, L"tiny.exe  0 MB  (1)"},
      {L"near.exe", 1023 * MiB + MiB / 2 - 1, 2, L"near.exe  1023 MB  (2)"},
      {L"near.exe", 1023 * MiB + MiB / 2, 2, L"near.exe  1.0 GB  (2)"},  // no "1024 MB"
      {L"all.exe", UINT64_MAX, 4096, L"all.exe  17179869184.0 GB  (4096)"},
  };
  for (const Case& c : cases) {
    MemoryHolder holder = {};
    wcscpy(holder.name, c.name);
    holder.working_set_bytes = c.bytes;
    holder.processes = c.processes;
    wchar_t text[MEMORY_HOLDER_TEXT_CAPACITY];
    wmemset(text, L'?', MEMORY_HOLDER_TEXT_CAPACITY);
    FormatMemoryHolder(text, holder);
    EXPECT_STREQ(text, c.text);
  }
  // The longest name and figures fit whole.
  MemoryHolder longest = {};
  wmemset(longest.name, L'n', MEMORY_HOLDER_NAME_CAPACITY - 1);
  longest.working_set_bytes = UINT64_MAX;
  longest.processes = UINT32_MAX;
  wchar_t text[MEMORY_HOLDER_TEXT_CAPACITY];
  FormatMemoryHolder(text, longest);
  EXPECT_EQ(std::wstring(text), std::wstring(255, L'n') + L"  17179869184.0 GB  (4294967295)");
}

// In every language: GB with the user's separator, whole MB with none.
TEST_F(ShownInLanguage, HolderLineInEachLanguage) {
  struct Case {
    uint64_t bytes;
    UINT id;
    const wchar_t* figure;  // null: whole megabytes
    unsigned long long megabytes;
  };
  const Case cases[] = {
      {3 * GiB + GiB / 10, IDS_HOLDER_GB, L"3,1", 0},
      {5 * GiB / 4, IDS_HOLDER_GB, L"1,3", 0},
      {1023 * MiB + MiB / 2, IDS_HOLDER_GB, L"1,0", 0},
      {UINT64_MAX, IDS_HOLDER_GB, L"17179869184,0", 0},
      {21078016, IDS_HOLDER_MB, nullptr, 20},
      {1023 * MiB + MiB / 2 - 1, IDS_HOLDER_MB, nullptr, 1023},
  };
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    ShowIn(language, L",");
    for (const Case& c : cases) {
      MemoryHolder holder = {};
      wcscpy(holder.name, L"msedge.exe");
      holder.working_set_bytes = c.bytes;
      holder.processes = 24;
      wchar_t text[MEMORY_HOLDER_TEXT_CAPACITY];
      FormatMemoryHolder(text, holder);
      std::wstring expected = c.figure ? TableTextIn(language, c.id, L"msedge.exe", c.figure, 24u)
                                       : TableTextIn(language, c.id, L"msedge.exe", c.megabytes, 24u);
      EXPECT_EQ(std::wstring(text), expected) << LanguageTag(language);
    }
  }
  ShowIn(0, L",");
  MemoryHolder holder = {};
  wcscpy(holder.name, L"msedge.exe");
  holder.working_set_bytes = 3 * GiB + GiB / 10;
  holder.processes = 24;
  wchar_t text[MEMORY_HOLDER_TEXT_CAPACITY];
  FormatMemoryHolder(text, holder);
  EXPECT_STREQ(text, L"msedge.exe  3,1 GB  (24)");
}

// ---------------------------------------------------------------------------
// Who holds the memory: the reading through a played fake_system.

namespace {

struct PlayedProcess {
  DWORD id;
  const wchar_t* image;  // nullptr: the name cannot be read
  uint64_t working_set;
  bool opens = true;
  bool measured = true;
};

struct PlayedSystem {
  std::vector<PlayedProcess> processes;
  std::vector<std::wstring> names;  // backs generated images
  bool enumeration_fails = false;
  DWORD claimed_bytes = 0;  // when set, the byte count the enumeration claims
  std::vector<DWORD> opened;
  std::vector<DWORD> access_asked;
  int open_handles = 0;
  int bad_closes = 0;
  int most_open = 0;
  DWORD name_capacity = 0;
};

PlayedSystem fake_system;

HANDLE HandleOf(DWORD id) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x10000 + id * 4)); }
DWORD IdOf(HANDLE handle) { return static_cast<DWORD>((reinterpret_cast<uintptr_t>(handle) - 0x10000) / 4); }

const PlayedProcess* Find(DWORD id) {
  // The tests number their processes 4, 8, 12, ... in list order.
  size_t at = id / 4 - 1;
  if (id % 4 == 0 && id > 0 && at < fake_system.processes.size() && fake_system.processes[at].id == id)
    return &fake_system.processes[at];
  for (const PlayedProcess& process : fake_system.processes)
    if (process.id == id) return &process;
  return nullptr;
}

BOOL WINAPI PlayedEnumProcesses(DWORD* ids, DWORD bytes, DWORD* returned) {
  if (fake_system.enumeration_fails) return FALSE;
  DWORD fit = bytes / sizeof(DWORD);
  DWORD n = 0;
  for (; n < fit && n < fake_system.processes.size(); ++n) ids[n] = fake_system.processes[n].id;
  *returned = fake_system.claimed_bytes ? fake_system.claimed_bytes : n * static_cast<DWORD>(sizeof(DWORD));
  return TRUE;
}

HANDLE WINAPI PlayedOpenProcess(DWORD access, BOOL, DWORD id) {
  fake_system.access_asked.push_back(access);
  const PlayedProcess* process = Find(id);
  if (!process || !process->opens) return nullptr;
  fake_system.opened.push_back(id);
  fake_system.open_handles += 1;
  if (fake_system.open_handles > fake_system.most_open) fake_system.most_open = fake_system.open_handles;
  return HandleOf(id);
}

// As the system: the length without the terminator, FALSE when it does not fit.
BOOL WINAPI PlayedQueryImageName(HANDLE handle, DWORD, LPWSTR name, PDWORD size) {
  fake_system.name_capacity = *size;
  const PlayedProcess* process = Find(IdOf(handle));
  if (!process || !process->image) return FALSE;
  DWORD length = static_cast<DWORD>(wcslen(process->image));
  if (length + 1 > *size) return FALSE;
  wmemcpy(name, process->image, length + 1);
  *size = length;
  return TRUE;
}

BOOL WINAPI PlayedMemoryInfo(HANDLE handle, PPROCESS_MEMORY_COUNTERS counters, DWORD size) {
  const PlayedProcess* process = Find(IdOf(handle));
  if (!process || !process->measured || size < sizeof *counters) return FALSE;
  ZeroMemory(counters, size);
  counters->cb = size;
  counters->WorkingSetSize = static_cast<SIZE_T>(process->working_set);
  return TRUE;
}

BOOL WINAPI PlayedCloseHandle(HANDLE handle) {
  if (!Find(IdOf(handle)) || fake_system.open_handles == 0) {
    fake_system.bad_closes += 1;
    return FALSE;
  }
  fake_system.open_handles -= 1;
  return TRUE;
}

const MemoryUsePlatform kPlayedSystem = {
    PlayedPerformanceInfo, PlayedEnumProcesses, PlayedOpenProcess, PlayedQueryImageName, PlayedMemoryInfo,
    PlayedCloseHandle,
};

}  // namespace

TEST(MemoryHoldersReading, GroupsWhatItCanReadAndCountsTheRest) {
  fake_system = {};
  fake_system.processes = {
      {0, L"idle", 999 * GiB},  // the idle process: not a program, never opened
      {4, L"C:\\Program Files\\Microsoft\\Edge\\msedge.exe", 900 * MiB},
      {8, L"C:\\Program Files\\Microsoft\\Edge\\MSEDGE.EXE", 100 * MiB},
      {12, L"C:\\Windows\\System32\\svchost.exe", 50 * MiB},
      {16, L"C:\\Windows\\explorer.exe", 2 * GiB, false},         // cannot be opened
      {20, nullptr, 3 * GiB},                                      // no name
      {24, L"C:\\Games\\game.exe", 4 * GiB, true, false},          // no memory figures
      {28, L"C:\\Windows\\System32\\svchost.exe", 70 * MiB},
      {32, L"C:\\odd\\", 5 * GiB},  // a path with no file name
      {36, L"notepad.exe", 10 * MiB},  // no folder at all
  };
  MemoryHolderTable& table = FreshTable();
  ASSERT_TRUE(ReadMemoryHolders(table, kPlayedSystem));
  EXPECT_EQ(table.count, 3);
  EXPECT_EQ(table.hidden, 1u) << "the one that could not be opened";
  EXPECT_EQ(table.unnamed, 3u) << "no name, no figures, no file name";
  EXPECT_FALSE(table.more_processes);
  EXPECT_EQ(std::count(fake_system.opened.begin(), fake_system.opened.end(), 0u), 0);
  for (DWORD access : fake_system.access_asked)
    EXPECT_EQ(access, static_cast<DWORD>(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ));
  EXPECT_EQ(fake_system.open_handles, 0) << "every handle closed";
  EXPECT_EQ(fake_system.bad_closes, 0);
  EXPECT_EQ(fake_system.most_open, 1) << "one at a time";
  EXPECT_GE(fake_system.name_capacity, static_cast<DWORD>(MAX_PATH)) << "room for long paths";

  TopMemoryHolders top = RankMemoryHolders(table);
  ASSERT_EQ(top.count, 3);
  EXPECT_STREQ(top.holders[0].name, L"msedge.exe");
  EXPECT_EQ(top.holders[0].working_set_bytes, 1000 * MiB);
  EXPECT_EQ(top.holders[0].processes, 2u);
  EXPECT_STREQ(top.holders[1].name, L"svchost.exe");
  EXPECT_EQ(top.holders[1].working_set_bytes, 120 * MiB);
  EXPECT_STREQ(top.holders[2].name, L"notepad.exe");
  EXPECT_TRUE(top.some_hidden);

  // Nothing hidden when every process could be opened, even with the
  // system's own nameless ones among them.
  fake_system.processes = {{4, nullptr, 300 * MiB}, {8, L"C:\\a.exe", 1}, {12, L"C:\\b.exe", 2}};
  ASSERT_TRUE(ReadMemoryHolders(table, kPlayedSystem));
  EXPECT_FALSE(RankMemoryHolders(table).some_hidden);
  EXPECT_EQ(table.count, 2) << "the earlier reading is gone";
  EXPECT_EQ(table.hidden, 0u);
  EXPECT_EQ(table.unnamed, 1u);
}

TEST(MemoryHoldersReading, NoProcessesOrNoListGiveAnEmptyTable) {
  MemoryHolderTable& table = FreshTable();
  fake_system = {};
  fake_system.processes = {{4, L"C:\\a.exe", 1}};
  ASSERT_TRUE(ReadMemoryHolders(table, kPlayedSystem));
  ASSERT_EQ(table.count, 1);

  fake_system.processes.clear();
  EXPECT_FALSE(ReadMemoryHolders(table, kPlayedSystem));
  EXPECT_EQ(table.count, 0);
  TopMemoryHolders top = RankMemoryHolders(table);
  EXPECT_EQ(top.count, 0);
  EXPECT_FALSE(top.some_hidden);

  fake_system.processes = {{4, L"C:\\a.exe", 1}};
  ASSERT_TRUE(ReadMemoryHolders(table, kPlayedSystem));
  fake_system.enumeration_fails = true;
  EXPECT_FALSE(ReadMemoryHolders(table, kPlayedSystem));
  EXPECT_EQ(table.count, 0);
  EXPECT_EQ(table.hidden + table.unnamed, 0u);
  EXPECT_EQ(fake_system.opened.size(), 2u) << "nothing opened when nothing is listed";
}

TEST(MemoryHoldersReading, At4096ProcessesOfDistinctNamesEveryOneIsGrouped) {
  fake_system = {};
  fake_system.names.reserve(5000);
  for (DWORD i = 0; i < 5000; ++i) fake_system.names.push_back(L"C:\\p\\" + NumberedName(static_cast<int>(i)));
  for (DWORD i = 0; i < 5000; ++i)
    fake_system.processes.push_back({4 * (i + 1), fake_system.names[i].c_str(), (static_cast<uint64_t>(i) + 1) * MiB});
  MemoryHolderTable& table = FreshTable();
  ASSERT_TRUE(ReadMemoryHolders(table, kPlayedSystem));
  EXPECT_EQ(table.count, MEMORY_HOLDER_CAPACITY);
  EXPECT_EQ(table.hidden + table.unnamed, 0u);
  EXPECT_TRUE(table.more_processes) << "the list came back full: there may be more";
  EXPECT_EQ(fake_system.opened.size(), 4096u) << "no more than the list holds";
  EXPECT_EQ(fake_system.open_handles, 0);
  TopMemoryHolders top = RankMemoryHolders(table);
  ASSERT_EQ(top.count, 3);
  EXPECT_STREQ(top.holders[0].name, L"program4095.exe");
  EXPECT_STREQ(top.holders[2].name, L"program4093.exe");
  EXPECT_TRUE(top.some_hidden);

  // An enumeration claiming more than the buffer holds reads no further.
  fake_system.processes.resize(10);
  fake_system.claimed_bytes = 5000 * sizeof(DWORD);
  fake_system.opened.clear();
  ASSERT_TRUE(ReadMemoryHolders(table, kPlayedSystem));
  EXPECT_TRUE(table.more_processes);
  EXPECT_EQ(table.count, 10);
  EXPECT_EQ(table.hidden + table.unnamed, 0u) << "ids the played list never filled in are 0, the idle process";
}

// Wine lists its own processes (services.exe, winedevice.exe, ...) and
// answers their real working sets.
TEST(MemoryHoldersReading, ReadsWinesProcesses) {
  MemoryHolderTable& table = FreshTable();
  ASSERT_TRUE(ReadMemoryHolders(table, kSystemMemoryUsePlatform));
  EXPECT_EQ(table.hidden, 0u) << "Wine opens every process for every copy";
  EXPECT_EQ(table.unnamed, 0u) << "and names it";
  EXPECT_FALSE(table.more_processes);
  wchar_t own_path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, own_path, MAX_PATH), 0u);
  const wchar_t* own_name = ImageBaseName(own_path);
  const MemoryHolderGroup* own = nullptr;
  uint32_t processes = 0;
  for (int32_t i = 0; i < table.count; ++i) {
    const MemoryHolderGroup& group = table.groups[i];
    const wchar_t* name = MemoryHolderName(table, i);
    processes += group.processes;
    EXPECT_GT(group.working_set_bytes, 0u) << Narrow(name);
    EXPECT_EQ(wcschr(name, L'\\'), nullptr) << "the file name alone";
    if (_wcsicmp(name, own_name) == 0) own = &group;
  }
  ASSERT_NE(own, nullptr) << Narrow(own_name) << " among " << table.count << " names";
  PROCESS_MEMORY_COUNTERS counters = {};
  ASSERT_TRUE(K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters));
  EXPECT_GE(own->working_set_bytes, counters.WorkingSetSize / 2) << "this process's own working set";
  EXPECT_GE(processes, 3u) << "Wine's own services beside this one";
  TopMemoryHolders top = RankMemoryHolders(table);
  ASSERT_EQ(top.count, table.count < 3 ? table.count : 3);
  for (int32_t i = 1; i < top.count; ++i)
    EXPECT_GE(top.holders[i - 1].working_set_bytes, top.holders[i].working_set_bytes);
  EXPECT_FALSE(top.some_hidden);
}
