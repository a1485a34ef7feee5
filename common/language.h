// The user's language: which of the program's languages is shown, its
// strings (res/lang/*.rc, ids in res/string_ids.h), and figures written with
// the user's decimal separator. What programs or scripts read (clean.log,
// config.ini's keys, the task's name) stays in invariant English.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "res/string_ids.h"

struct Language {
  const wchar_t* name;         // the locale name config.ini's `language` holds
  LANGID id;                   // the language of its string table
  const wchar_t* native_name;  // as its speakers write it, in every language
};
// English first: the fallback for every string and every other language.
constexpr int LANGUAGE_COUNT = 8;
extern const Language kLanguages[LANGUAGE_COUNT];

// Room for a language's name in config.ini ("pt-BR"); longer text is no
// language of the table anyway.
constexpr size_t LANGUAGE_NAME_CAPACITY = 16;

// The row of kLanguages a locale name ("de-AT", "zh-Hans-CN", "pt") stands
// for, matched without regard to case by its language and, for Chinese, by
// its script: Traditional Chinese has no table. -1 for anything else.
int FindLanguage(const wchar_t* name);
// The language to show: the `language` setting when it names one of the
// table, else the first of the user's preferred display languages
// (`preferred`: names, each ended by a terminator, the list by an empty
// one; null for none) that does, else English (0).
int ChooseLanguage(const wchar_t* setting, const wchar_t* preferred);
// The user's display languages from Windows, as ChooseLanguage takes them;
// an empty list when Windows cannot say.
void ReadPreferredLanguages(wchar_t* list, size_t capacity);

// The language strings are loaded in from now on (a row of kLanguages; any
// other value means English).
void UseLanguage(int language);
int LanguageInUse();

// Loads string `id` of the language in use into `buffer`, cut to fit and
// always terminated; the English one when that language lacks it, empty
// when neither has it. Answers `buffer`.
const wchar_t* LoadText(UINT id, wchar_t* buffer, size_t capacity);
template <size_t N>
const wchar_t* LoadText(UINT id, wchar_t (&buffer)[N]) {
  return LoadText(id, buffer, N);
}
// Whether language `language`'s own table holds string `id`, with no
// fallback; `length` gets its length, and `buffer` (if any) its text.
bool LoadTextIn(LANGID language, UINT id, wchar_t* buffer, size_t capacity, size_t* length);
// FormatBounded with the string `id` of the language in use as format.
bool FormatText(wchar_t* buffer, size_t capacity, UINT id, ...);

// The user's decimal separator from now on ("," for a German user); anything
// but one to three characters, none of them a digit, reads ".".
void UseDecimalSeparator(const wchar_t* separator);
// The separator of the user's regional format, from Windows ("." when it
// cannot say): it follows the formats the user chose, not the display
// language.
void ReadDecimalSeparator(wchar_t (&separator)[4]);
// A figure as the user writes it: `value` with one decimal ("1,5"), or whole
// tenths ("12,3" for 123).
constexpr size_t FIGURE_CAPACITY = 32;
void FormatOneDecimal(wchar_t (&text)[FIGURE_CAPACITY], double value);
void FormatTenths(wchar_t (&text)[FIGURE_CAPACITY], uint64_t tenths);
