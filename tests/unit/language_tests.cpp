// The user's language: which table is chosen, figures with the user's
// decimal separator, and the string tables themselves, every language held
// against English: every string there, the same placeholders, room in the
// buffers that show them, and access keys that stay unique; and the ways of
// each language: its name for the hot key's keys, French no-break spaces,
// Chinese and Japanese access keys.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "clean/memory_use.h"
#include "common/language.h"
#include "status/status.h"
#include "status/status_internal.h"
#include "tests/support.h"

namespace {

int Row(const wchar_t* name) {
  for (int i = 0; i < LANGUAGE_COUNT; ++i)
    if (wcscmp(kLanguages[i].name, name) == 0) return i;
  return -2;  // no row: never a result of the functions under test
}

struct NameCase {
  const wchar_t* name;
  const wchar_t* row;  // nullptr: none
};

TEST(FindLanguage, MatchesByLanguageAndChineseScript) {
  const NameCase cases[] = {
      {L"en-US", L"en-US"},      {L"en-GB", L"en-US"},     {L"en", L"en-US"},
      {L"de-DE", L"de-DE"},      {L"de-AT", L"de-DE"},     {L"de-CH", L"de-DE"},
      {L"de", L"de-DE"},         {L"DE-at", L"de-DE"},     {L"de_DE", L"de-DE"},
      {L"fr-CA", L"fr-FR"},      {L"es-MX", L"es-ES"},     {L"pt-BR", L"pt-BR"},
      {L"pt-PT", L"pt-BR"},      {L"pt", L"pt-BR"},        {L"ru-RU", L"ru-RU"},
      {L"ja-JP", L"ja-JP"},      {L"JA", L"ja-JP"},        {L"zh-CN", L"zh-CN"},
      {L"zh-Hans-CN", L"zh-CN"}, {L"zh-hans", L"zh-CN"},   {L"zh-Hans-HK", L"zh-CN"},
      {L"zh-SG", L"zh-CN"},      {L"zh-cn", L"zh-CN"},     {L"zh", L"zh-CN"},
      {L"zh-TW", nullptr},       {L"zh-Hant", nullptr},    {L"zh-Hant-TW", nullptr},
      {L"zh-HK", nullptr},       {L"zh-MO", nullptr},      {L"zh-Hansx", nullptr},
      {L"", nullptr},            {L"d", nullptr},          {L"deu", nullptr},
      {L"english", nullptr},     {L"x-de", nullptr},       {L"-de", nullptr},
      {L"it-IT", nullptr},       {L"\u00e9\u00e9", nullptr}, {L"de\u00e9", nullptr},
  };
  for (const NameCase& c : cases) {
    int expected = c.row ? Row(c.row) : -1;
    EXPECT_EQ(FindLanguage(c.name), expected) << Narrow(c.name);
  }
  EXPECT_EQ(FindLanguage(nullptr), -1);
}

struct ChoiceCase {
  const wchar_t* setting;
  const wchar_t* preferred;  // names ended each by a terminator, the list by an empty one
  const wchar_t* row;
};

TEST(ChooseLanguage, SettingThenWindowsListInItsOrderThenEnglish) {
  const ChoiceCase cases[] = {
      // The setting wins over Windows' list.
      {L"ja-JP", L"de-DE\0", L"ja-JP"},
      {L"pt-PT", L"ru-RU\0", L"pt-BR"},
      {L"EN-us", L"de-DE\0", L"en-US"},
      // A setting of no language of the table: Windows' list decides.
      {L"", L"de-DE\0", L"de-DE"},
      {nullptr, L"de-DE\0", L"de-DE"},
      {L"zh-TW", L"fr-FR\0", L"fr-FR"},
      {L"garbage", L"ru-RU\0", L"ru-RU"},
      // The first of the list that the table has.
      {L"", L"it-IT\0zh-Hant-TW\0es-ES\0de-DE\0", L"es-ES"},
      {L"", L"ja-JP\0de-DE\0", L"ja-JP"},
      {L"", L"de-DE\0ja-JP\0", L"de-DE"},
      {L"", L"zh-HK\0zh-SG\0", L"zh-CN"},
      // Nothing of the table anywhere: English.
      {L"", L"it-IT\0nl-NL\0", L"en-US"},
      {L"", L"\0", L"en-US"},
      {L"", nullptr, L"en-US"},
      {nullptr, nullptr, L"en-US"},
      {L"xx", L"\0de-DE\0", L"en-US"},  // an empty name ends the list
  };
  for (const ChoiceCase& c : cases) {
    EXPECT_EQ(ChooseLanguage(c.setting, c.preferred), Row(c.row))
        << "setting " << (c.setting ? Narrow(c.setting) : "null") << ", first preferred "
        << (c.preferred ? Narrow(c.preferred) : "null");
  }
}

TEST(UseLanguage, KeepsOnlyARowOfTheTable) {
  const int cases[][2] = {{0, 0}, {LANGUAGE_COUNT - 1, LANGUAGE_COUNT - 1}, {3, 3},
                          {-1, 0}, {LANGUAGE_COUNT, 0}, {1000, 0}};
  for (const auto& c : cases) {
    UseLanguage(c[0]);
    EXPECT_EQ(LanguageInUse(), c[1]) << c[0];
  }
  UseLanguage(0);
}

// Figures are written with the separator in use; each test puts "." back.
class Figures : public ::testing::Test {
 protected:
  void TearDown() override { UseDecimalSeparator(L"."); }
  static std::wstring OneDecimal(double value) {
    wchar_t text[FIGURE_CAPACITY];
    FormatOneDecimal(text, value);
    return text;
  }
  static std::wstring Tenths(uint64_t tenths) {
    wchar_t text[FIGURE_CAPACITY];
    FormatTenths(text, tenths);
    return text;
  }
};

TEST_F(Figures, TakeOneToThreeCharactersWithoutDigitsAsTheSeparator) {
  struct {
    const wchar_t* separator;
    const wchar_t* written;  // 1.5 as then written
  } cases[] = {
      {L",", L"1,5"},   {L".", L"1.5"},       {L" ", L"1 5"},      {L"\u066b", L"1\u066b5"},
      {L"::", L"1::5"}, {L"abc", L"1abc5"},   {L"", L"1.5"},       {L"1", L"1.5"},
      {L"a1", L"1.5"},  {L"abcd", L"1.5"},    {L"\t", L"1.5"},     {L",,,,,,,,,,", L"1.5"},
      {nullptr, L"1.5"},
  };
  for (const auto& c : cases) {
    UseDecimalSeparator(L",");  // something else before each
    UseDecimalSeparator(c.separator);
    EXPECT_EQ(OneDecimal(1.5), c.written) << (c.separator ? Narrow(c.separator) : "null");
  }
}

TEST_F(Figures, OneDecimalRoundsAndKeepsTheSign) {
  UseDecimalSeparator(L",");
  struct {
    double value;
    const wchar_t* written;
  } cases[] = {
      {0, L"0,0"},          {1.5, L"1,5"},           {1.26, L"1,3"},         {1.24, L"1,2"},
      {0.04, L"0,0"},       {0.96, L"1,0"},          {9.99, L"10,0"},        {7.8, L"7,8"},
      {8888.8, L"8888,8"},  {1e15, L"1000000000000000,0"},                   {-1.5, L"-1,5"},
      {-2.26, L"-2,3"},     {-1234.5, L"-1234,5"},
  };
  for (const auto& c : cases) EXPECT_EQ(OneDecimal(c.value), c.written) << c.value;
}

TEST_F(Figures, TenthsAreWholeAndOneDecimal) {
  UseDecimalSeparator(L",");
  struct {
    uint64_t tenths;
    const wchar_t* written;
  } cases[] = {
      {0, L"0,0"}, {5, L"0,5"}, {10, L"1,0"}, {123, L"12,3"}, {88888, L"8888,8"},
      {18446744073709551615ull, L"1844674407370955161,5"},
  };
  for (const auto& c : cases) EXPECT_EQ(Tenths(c.tenths), c.written) << c.tenths;
  UseDecimalSeparator(L"abc");
  EXPECT_EQ(Tenths(18446744073709551615ull), L"1844674407370955161abc5");
}

// ---------------------------------------------------------------------------
// The string tables.

// Each language's own text of a string, with no fallback to English; empty
// when its table lacks it.
std::wstring TextIn(int row, UINT id) {
  wchar_t text[1024] = {};
  size_t length = 0;
  if (!LoadTextIn(kLanguages[row].id, id, text, 1024, &length)) return L"";
  return std::wstring(text, length < 1023 ? length : 1023);
}

std::string Where(int row, UINT id) {
  char where[200];
  snprintf(where, sizeof where, "%s, string %u (English \"%s\")", Narrow(kLanguages[row].name).c_str(), id,
           Narrow(TextIn(0, id)).c_str());
  return where;
}

// Whether the exe holds a string block of that language: FindResourceEx may
// answer another language's block when a language has none.
bool HasBlock(LANGID language, UINT id) {
  struct Search {
    LANGID wanted;
    bool found;
  } search = {language, false};
  EnumResourceLanguagesW(
      GetModuleHandleW(nullptr), MAKEINTRESOURCEW(6), MAKEINTRESOURCEW((id >> 4) + 1),
      [](HMODULE, LPCWSTR, LPCWSTR, WORD found, LONG_PTR param) -> BOOL {
        Search* s = reinterpret_cast<Search*>(param);
        if (found == s->wanted) s->found = true;
        return !s->found;
      },
      reinterpret_cast<LONG_PTR>(&search));
  return search.found;
}

// The length of the printf conversion that starts at `at`
// (%[flags][width][.precision][length]conversion, "%%" among them); 0 for a
// "%" that starts none ("(%):").
size_t ConversionAt(const std::wstring& text, size_t at) {
  size_t j = at + 1;
  while (j < text.size() && wcschr(L"-+ #0", text[j])) ++j;
  while (j < text.size() && (iswdigit(text[j]) || text[j] == L'*')) ++j;
  if (j < text.size() && text[j] == L'.') {
    ++j;
    while (j < text.size() && (iswdigit(text[j]) || text[j] == L'*')) ++j;
  }
  for (const wchar_t* length : {L"I64", L"I32", L"ll", L"hh", L"l", L"h", L"L", L"w", L"z", L"j", L"t", L"I"}) {
    if (text.compare(j, wcslen(length), length) == 0) {
      j += wcslen(length);
      break;
    }
  }
  if (j < text.size() && text[j] && wcschr(L"diouxXeEfFgGaAcCsSpnZ%", text[j])) return j + 1 - at;
  return 0;
}

// The printf conversions of a text in order, each as written, "%%" among
// them; a "%" that starts no conversion stands as "%?".
std::vector<std::wstring> Conversions(const std::wstring& text) {
  std::vector<std::wstring> found;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'%') continue;
    const size_t length = ConversionAt(text, i);
    found.push_back(length ? text.substr(i, length) : L"%?");
    if (length) i += length - 1;
  }
  return found;
}

std::string Joined(const std::vector<std::wstring>& parts) {
  std::wstring all;
  for (const std::wstring& part : parts) all += part + L" ";
  return Narrow(all);
}

// The leading blanks, and how many tabs and line breaks: where the code
// puts a string after another, or splits it at the tab.
std::wstring Shape(const std::wstring& text) {
  size_t lead = text.find_first_not_of(L" ");
  std::wstring shape = text.substr(0, lead == std::wstring::npos ? text.size() : lead);
  for (wchar_t c : text)
    if (c == L'\t' || c == L'\n') shape += c == L'\t' ? L"\\t" : L"\\n";
  return shape;
}

bool FormatsLikeEnglish(int row, UINT id) { return Conversions(TextIn(row, id)) == Conversions(TextIn(0, id)); }

template <typename... Args>
std::wstring Formatted(const std::wstring& format, Args... args) {
  wchar_t text[2048] = {};
  _snwprintf_s(text, 2048, _TRUNCATE, format.c_str(), args...);
  return text;
}

// The widest figures the program writes: gigabytes to one decimal below
// 10 TB with the longest separator Windows allows, megabytes in seven
// digits, a percentage of 100, at most 4,096 processes, a time of day.
std::wstring WidestFigure() {
  UseDecimalSeparator(L"abc");
  wchar_t figure[FIGURE_CAPACITY];
  FormatOneDecimal(figure, 8888.8);
  UseDecimalSeparator(L".");
  return figure;
}
const double kWidestMegabytes = 8888888;
const int kWidestProcesses = 8888;
// A file name is at most 255 characters.
const std::wstring kWidestFileName(255, L'W');

// A string formatted with the widest arguments the program hands it, in
// language `row`; the string itself when it takes none.
std::wstring Widest(int row, UINT id) {
  const std::wstring text = TextIn(row, id), figure = WidestFigure();
  // Another shape would read the wrong arguments: told by its own test.
  if (!FormatsLikeEnglish(row, id)) return text;
  switch (id) {
    case IDS_TOOLTIP:
    case IDS_COMMIT_LINE:
      return Formatted(text, figure.c_str(), figure.c_str(), 100);
    case IDS_BALLOON_CLEANED:
      return Formatted(text, kWidestMegabytes, kWidestProcesses);
    case IDS_BALLOON_COMMIT:
      return Formatted(text, 100);
    case IDS_NOTICE_OTHER_ACCOUNT:
      // With the words it shows when it cannot name the accounts; real
      // names may be cut, which the text's order allows for.
      return Formatted(text, TextIn(row, IDS_THIS_ACCOUNT).c_str(), TextIn(row, IDS_SIGNED_IN_USER).c_str());
    case IDS_CLEAN_LINE:
      return Formatted(text, 23, 59, kWidestMegabytes, kWidestProcesses);
    case IDS_CLEAN_LINE_STANDBY:
      return Formatted(text, 23, 59, kWidestMegabytes, kWidestProcesses, L"+", kWidestMegabytes);
    case IDS_CLEAN_LINE_KEPT:
      // A kept program's own name is cut where the line runs out.
      return Formatted(text, Widest(row, IDS_CLEAN_LINE_STANDBY).c_str(), TextIn(row, IDS_PROGRAM_IN_FRONT).c_str());
    case IDS_LISTS_LINE:
      return Formatted(text, kWidestMegabytes, kWidestMegabytes, kWidestMegabytes, kWidestMegabytes);
    case IDS_LISTS_LINE_LOW:
      return Formatted(text, kWidestMegabytes, kWidestMegabytes, kWidestMegabytes, kWidestMegabytes,
                       kWidestMegabytes);
    case IDS_MEMORY_LINE:
      return Formatted(text, figure.c_str(), figure.c_str());
    case IDS_HOLDER_MB:
      return Formatted(text, kWidestFileName.c_str(), 8888888ull, 4096u);
    case IDS_HOLDER_GB:
      return Formatted(text, kWidestFileName.c_str(), figure.c_str(), 4096u);
    case IDS_SAY_MEMORY:
      return Formatted(text, 100, figure.c_str(), figure.c_str());
    case IDS_SAY_COMMIT:
      return Formatted(text, Widest(row, IDS_COMMIT_LINE).c_str());
    case IDS_SAY_LAST_CLEAN:
      return Formatted(text, 23, 59, kWidestMegabytes);
    case IDS_SAY_MOST_MEMORY:
      return Formatted(text, Widest(row, IDS_HOLDER_MB).c_str());
    case IDS_SAY_ALL: {
      const std::wstring badge = TextIn(row, IDS_SAY_ADMIN).size() > TextIn(row, IDS_SAY_LIMITED).size()
                                     ? TextIn(row, IDS_SAY_ADMIN)
                                     : TextIn(row, IDS_SAY_LIMITED);
      return Formatted(text, Widest(row, IDS_SAY_MEMORY).c_str(), Widest(row, IDS_SAY_COMMIT).c_str(), badge.c_str(),
                       Widest(row, IDS_SAY_LAST_CLEAN).c_str(), Widest(row, IDS_SAY_MOST_MEMORY).c_str());
    }
    default:
      return text;
  }
}

// The characters each string has where the program puts it: the shell's
// fields (tooltip, balloon title and text) and the buffers the text passes
// on its way there, less the terminator.
constexpr size_t kTooltip = sizeof(NOTIFYICONDATAW::szTip) / sizeof(wchar_t) - 1;
constexpr size_t kBalloonTitle = sizeof(NOTIFYICONDATAW::szInfoTitle) / sizeof(wchar_t) - 1;
constexpr size_t kBalloonText = sizeof(NOTIFYICONDATAW::szInfo) / sizeof(wchar_t) - 1;
struct Room {
  UINT id;
  size_t characters;
};
const Room kRooms[] = {
    {IDS_COMMIT_LINE, COMMIT_TEXT_CAPACITY - 1},
    {IDS_BALLOON_CLEANED_TITLE, kBalloonTitle},
    {IDS_BALLOON_CLEANED, kBalloonText},
    {IDS_BALLOON_HOT_KEY, kBalloonText},
    {IDS_BALLOON_LIMITED_TITLE, kBalloonTitle},
    {IDS_BALLOON_LIMITED, kBalloonText},
    {IDS_BALLOON_COMMIT_TITLE, kBalloonTitle},
    {IDS_BALLOON_COMMIT, kBalloonText},
    {IDS_NOTICE_NOT_SAVED, kBalloonText},
    {IDS_NOTICE_AUTOSTART_ADMINS, kBalloonText},
    {IDS_NOTICE_AUTOSTART_USER, kBalloonText},
    {IDS_NOTICE_AUTOSTART_FAILED, kBalloonText},
    {IDS_NOTICE_OTHER_ACCOUNT, kBalloonText},
    // The popup's lines, in the buffers status_paint.cpp formats them into.
    {IDS_NO_CLEANS, STATUS_CLEAN_LINE_CAPACITY - 1},
    {IDS_CLEAN_LINE, 95},  // the clean's figures
    {IDS_CLEAN_LINE_STANDBY, 95},
    {IDS_CLEAN_LINE_KEPT, STATUS_CLEAN_LINE_CAPACITY - 1},
    {IDS_LISTS_LINE, 127},
    {IDS_LISTS_LINE_LOW, 127},
    {IDS_MEMORY_LINE, 63},
    {IDS_HOLDER_MB, MEMORY_HOLDER_TEXT_CAPACITY - 1},
    {IDS_HOLDER_GB, MEMORY_HOLDER_TEXT_CAPACITY - 1},
    {IDS_SAY_MEMORY, 127},
    {IDS_SAY_COMMIT, COMMIT_TEXT_CAPACITY + 63},
    {IDS_SAY_NO_CLEANS, 127},
    {IDS_SAY_LAST_CLEAN, 127},
    {IDS_SAY_MOST_MEMORY, MEMORY_HOLDER_TEXT_CAPACITY + 63},
    {IDS_SAY_ALL, STATUS_DESCRIPTION_CAPACITY - 1},
};

// A language whose table lacks a string English has shows English's,
// string by string: one missing from a block it has, and one whose whole
// block it lacks (tests/unit/fallback_strings.rc).
TEST(LoadText, AStringALanguageLacksIsShownInEnglish) {
  UseLanguage(FindLanguage(L"de-DE"));
  wchar_t text[64];
  EXPECT_STREQ(LoadText(9009, text), L"In beiden");
  EXPECT_STREQ(LoadText(9008, text), L"Only in English");
  EXPECT_STREQ(LoadText(9040, text), L"A block of its own");
  EXPECT_STREQ(LoadText(9010, text), L"") << "neither has it";
  UseLanguage(0);
}

TEST(StringTables, EveryLanguageHasEveryString) {
  for (int row = 0; row < LANGUAGE_COUNT; ++row) {
    for (UINT id = STRING_FIRST; id <= STRING_LAST; ++id) {
      EXPECT_TRUE(HasBlock(kLanguages[row].id, id)) << Where(row, id) << ": no string table of this language";
      EXPECT_FALSE(TextIn(row, id).empty()) << Where(row, id) << ": missing";
    }
  }
}

TEST(StringTables, EveryTranslationHasEnglishsPlaceholdersAndShape) {
  for (int row = 1; row < LANGUAGE_COUNT; ++row) {
    for (UINT id = STRING_FIRST; id <= STRING_LAST; ++id) {
      const std::wstring english = TextIn(0, id), text = TextIn(row, id);
      if (text.empty()) continue;  // told above
      EXPECT_EQ(Joined(Conversions(text)), Joined(Conversions(english))) << Where(row, id) << ": \"" << Narrow(text)
                                                                          << "\"";
      EXPECT_EQ(Narrow(Shape(text)), Narrow(Shape(english)))
          << Where(row, id) << ": leading blanks, tabs or line breaks differ in \"" << Narrow(text) << "\"";
    }
  }
}

TEST(StringTables, EveryStringFitsItsBufferWithTheWidestFigures) {
  for (int row = 0; row < LANGUAGE_COUNT; ++row) {
    // The tooltip, with the commit line under it while the charge nears its
    // limit.
    const std::wstring tip = Widest(row, IDS_TOOLTIP) + L"\n" + Widest(row, IDS_COMMIT_LINE);
    EXPECT_LE(tip.size(), kTooltip) << Where(row, IDS_TOOLTIP) << ": the tooltip \"" << Narrow(tip) << "\"";
    for (const Room& room : kRooms) {
      const std::wstring text = Widest(row, room.id);
      EXPECT_LE(text.size(), room.characters) << Where(row, room.id) << ": \"" << Narrow(text) << "\"";
    }
    // Every string is loaded into at most 256 characters, formats too.
    for (UINT id = STRING_FIRST; id <= STRING_LAST; ++id)
      EXPECT_LE(TextIn(row, id).size(), 255u) << Where(row, id);
  }
}

// The access keys of a text: the character after each single "&" ("&&"
// is an ampersand), in upper case.
std::vector<wchar_t> AccessKeys(const std::wstring& text) {
  std::vector<wchar_t> keys;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'&') continue;
    if (i + 1 < text.size() && text[i + 1] == L'&') {
      ++i;
      continue;
    }
    wchar_t key[2] = {i + 1 < text.size() ? text[i + 1] : L'?', 0};
    CharUpperBuffW(key, 1);
    keys.push_back(key[0]);
  }
  return keys;
}

// Where one window's or menu's texts share their keys; `no_key`: texts
// that show an ampersand as itself (a window title, a drop-down's items).
void ExpectUniqueKeys(const char* group, UINT first, UINT last, const std::vector<UINT>& no_key) {
  for (int row = 0; row < LANGUAGE_COUNT; ++row) {
    std::wstring used;
    std::vector<UINT> owner;
    for (UINT id = first; id <= last; ++id) {
      const std::wstring text = TextIn(row, id);
      if (text.empty()) continue;  // told by the test of missing strings
      const std::vector<wchar_t> keys = AccessKeys(text);
      bool plain = false;
      for (UINT none : no_key) plain = plain || none == id;
      EXPECT_LE(keys.size(), plain ? 0u : 1u) << Where(row, id) << ": \"" << Narrow(text) << "\"";
      if (!AccessKeys(TextIn(0, id)).empty()) {
        EXPECT_EQ(keys.size(), 1u) << Where(row, id) << ": has no access key in \"" << Narrow(text) << "\"";
      }
      for (wchar_t key : keys) {
        size_t at = used.find(key);
        if (at != std::wstring::npos)
          ADD_FAILURE() << group << ", " << Where(row, id) << ": key " << Narrow(std::wstring(1, key)) << " of \""
                        << Narrow(text) << "\" is taken by string " << owner[at];
        used += key;
        owner.push_back(id);
      }
    }
  }
}

TEST(StringTables, AccessKeysAreUniqueInTheMenu) {
  ExpectUniqueKeys("the tray menu", IDS_MENU_CLEAN_NOW, IDS_MENU_EXIT, {});
}

TEST(StringTables, AccessKeysAreUniqueInTheSettingsWindow) {
  ExpectUniqueKeys("the settings window", IDS_SETTINGS_TITLE, IDS_LANGUAGE_WINDOWS,
                   {IDS_SETTINGS_TITLE, IDS_STANDBY_NONE, IDS_STANDBY_WHOLE, IDS_STANDBY_LOW, IDS_LANGUAGE_WINDOWS});
}

// The hot key as Windows writes its keys in each language: on German
// keyboards and in German Windows, Ctrl is Strg.
struct HotKeyName {
  const wchar_t* language;
  const wchar_t* keys;
};
const HotKeyName kHotKeyNames[] = {
    {L"en-US", L"Ctrl+Alt+R"}, {L"de-DE", L"Strg+Alt+R"}, {L"fr-FR", L"Ctrl+Alt+R"}, {L"es-ES", L"Ctrl+Alt+R"},
    {L"pt-BR", L"Ctrl+Alt+R"}, {L"ru-RU", L"Ctrl+Alt+R"}, {L"zh-CN", L"Ctrl+Alt+R"}, {L"ja-JP", L"Ctrl+Alt+R"},
};

TEST(StringTables, TheMenusHotKeyIsWrittenAsWindowsWritesItAndTheBalloonNamesItTheSame) {
  for (int row = 0; row < LANGUAGE_COUNT; ++row) {
    const wchar_t* keys = nullptr;
    for (const HotKeyName& name : kHotKeyNames)
      if (wcscmp(name.language, kLanguages[row].name) == 0) keys = name.keys;
    ASSERT_NE(keys, nullptr) << Narrow(kLanguages[row].name) << " has no row in kHotKeyNames";
    const std::wstring menu = TextIn(row, IDS_MENU_CLEAN_NOW), balloon = TextIn(row, IDS_BALLOON_HOT_KEY);
    const size_t tab = menu.find(L'\t');
    ASSERT_NE(tab, std::wstring::npos) << Where(row, IDS_MENU_CLEAN_NOW);
    const std::wstring in_menu = menu.substr(tab + 1);
    EXPECT_EQ(Narrow(in_menu), Narrow(keys)) << Where(row, IDS_MENU_CLEAN_NOW);
    EXPECT_NE(balloon.find(in_menu), std::wstring::npos)
        << Where(row, IDS_BALLOON_HOT_KEY) << ": \"" << Narrow(balloon) << "\" does not name " << Narrow(in_menu);
  }
}

// Where a French text has a plain space that French typography writes as a
// no-break one (U+00A0), so that nothing wraps away from its word: before
// : ; ! ? and a percent sign ("%%" in a format, or a "%" that starts no
// conversion), after « and before ». A space before a conversion ("%d") is
// no such place.
std::vector<size_t> PlainSpacesFrenchKeepsTogether(const std::wstring& text) {
  std::vector<size_t> found;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L' ') continue;
    const wchar_t next = i + 1 < text.size() ? text[i + 1] : L'\0';
    const bool percent_sign = next == L'%' && (ConversionAt(text, i + 1) == 0 || text[i + 2] == L'%');
    if ((next && wcschr(L":;!?\u00bb", next)) || percent_sign || (i > 0 && text[i - 1] == L'\u00ab'))
      found.push_back(i);
  }
  return found;
}

TEST(StringTables, FrenchKeepsItsPunctuationWithItsWordByNoBreakSpaces) {
  const int french = Row(L"fr-FR");
  ASSERT_GE(french, 0);
  for (UINT id = STRING_FIRST; id <= STRING_LAST; ++id) {
    const std::wstring text = TextIn(french, id);
    for (size_t at : PlainSpacesFrenchKeepsTogether(text))
      ADD_FAILURE() << Where(french, id) << ": a plain space at " << at << " of \"" << Narrow(text) << "\"";
  }
}

// Whether every access key of a text is an ASCII letter written "(&X)",
// the way Chinese and Japanese Windows write them: a key on a CJK
// character cannot be typed while an input method is on.
bool KeysAreAsciiLettersInParentheses(const std::wstring& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'&') continue;
    if (i + 1 < text.size() && text[i + 1] == L'&') {
      ++i;
      continue;
    }
    const bool letter = i + 1 < text.size() && text[i + 1] < 0x80 && iswalpha(text[i + 1]);
    if (i == 0 || text[i - 1] != L'(' || !letter || i + 2 >= text.size() || text[i + 2] != L')') return false;
  }
  return true;
}

TEST(StringTables, ChineseAndJapaneseAccessKeysAreAsciiLettersInParentheses) {
  for (const wchar_t* language : {L"zh-CN", L"ja-JP"}) {
    const int row = Row(language);
    ASSERT_GE(row, 0) << Narrow(language);
    for (UINT id = STRING_FIRST; id <= STRING_LAST; ++id) {
      const std::wstring text = TextIn(row, id);
      EXPECT_TRUE(KeysAreAsciiLettersInParentheses(text)) << Where(row, id) << ": \"" << Narrow(text) << "\"";
    }
  }
}

// The checks themselves, on texts made wrong on purpose.
TEST(StringChecks, TellPlaceholdersShapesAndKeysApart) {
  auto joined = [](const wchar_t* text) { return Joined(Conversions(text)); };
  EXPECT_EQ(joined(L"Freed %.0f MB  (%d processes)"), "%.0f %d ");
  EXPECT_NE(joined(L"Freed %d MB  (%.0f processes)"), joined(L"Freed %.0f MB  (%d processes)"));
  EXPECT_NE(joined(L"%s / %s GB (%d%%)"), joined(L"%s / %s GB (%d)"));
  EXPECT_EQ(joined(L"%02d:%02d %llu %-5.2lf %%"), "%02d %02d %llu %-5.2lf %% ");
  EXPECT_EQ(joined(L"&RAM threshold (%):"), "%? ");
  EXPECT_EQ(joined(L"100%"), "%? ");
  EXPECT_EQ(Narrow(Shape(L"  a\tb\nc")), "  \\t\\n");
  EXPECT_NE(Shape(L" Last clean"), Shape(L"Last clean"));
  EXPECT_EQ(AccessKeys(L"Schedule && Notifications").size(), 0u);
  EXPECT_EQ(AccessKeys(L"Start with &Windows"), std::vector<wchar_t>{L'W'});
  EXPECT_EQ(AccessKeys(L"&\u044f\u0437\u044b\u043a"), std::vector<wchar_t>{L'\u042f'});
  EXPECT_EQ(AccessKeys(L"&a &b").size(), 2u);

  EXPECT_EQ(PlainSpacesFrenchKeepsTogether(L"Seuil (%) : %d %% \u00ab a \u00bb ; b ! c ?"),
            (std::vector<size_t>{9, 14, 19, 21, 23, 27, 31}));
  EXPECT_TRUE(PlainSpacesFrenchKeepsTogether(
                  L"Seuil (%)\u00a0: %d\u00a0%% \u00ab\u00a0a\u00a0\u00bb\u00a0; %02d:%02d %s %.0f Mo (%, 0=non)")
                  .empty());

  EXPECT_TRUE(KeysAreAsciiLettersInParentheses(L"\u5185\u5b58(&R):"));
  EXPECT_TRUE(KeysAreAsciiLettersInParentheses(L"A && B"));
  EXPECT_TRUE(KeysAreAsciiLettersInParentheses(L"\u8bbe\u7f6e"));
  EXPECT_FALSE(KeysAreAsciiLettersInParentheses(L"\u5185\u5b58(&\u5185):"));
  EXPECT_FALSE(KeysAreAsciiLettersInParentheses(L"\u5185\u5b58\uff08&R\uff09:"));
  EXPECT_FALSE(KeysAreAsciiLettersInParentheses(L"&R \u5185\u5b58"));
  EXPECT_FALSE(KeysAreAsciiLettersInParentheses(L"\u5185\u5b58(&1):"));
  EXPECT_FALSE(KeysAreAsciiLettersInParentheses(L"\u5185\u5b58(&R"));
}

}  // namespace
